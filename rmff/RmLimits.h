#pragma once

#include <cstdint>

namespace corva::rmff {

// Players read the 32-bit offsets of a RealMedia file as signed numbers, so a file we write
// stays below 2 GB.
inline constexpr std::uint64_t kMaxFileBytes = (std::uint64_t{1} << 31) - 1;

} // namespace corva::rmff
