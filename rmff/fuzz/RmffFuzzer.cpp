#include "rmff/fuzz/FuzzOneInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    corva::rmff::FuzzOneInput(data, size);
    return 0;
}
