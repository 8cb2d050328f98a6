#pragma once

#include <cstdint>
#include <string>

namespace corva::rmff {

// The largest RealMedia file we write. The offsets in the headers and the index are 32 bits,
// and players read them signed, so a file must end below 2 GiB.
inline constexpr std::uint64_t kMaxFileBytes = (std::uint64_t{1} << 31) - 1;

// The limit as users read it in a refusal.
inline std::string MaxFileBytesText()
{
    return "2 GB（" + std::to_string(kMaxFileBytes) + " 字节）";
}

} // namespace corva::rmff
