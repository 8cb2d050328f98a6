#include "rv40/Rv40Types.h"

namespace corva::rv40 {

std::size_t EncodedPicture::Bytes() const
{
    std::size_t total = 0;
    for (const auto &s : slices)
        total += s.size();
    return total;
}

} // namespace corva::rv40
