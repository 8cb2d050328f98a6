#include "rmff/MemorySource.h"

#include <algorithm>
#include <cstring>

namespace corva::rmff {

std::size_t MemorySource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out)
{
    if (offset >= m_bytes.size())
        return 0;
    const std::size_t n = static_cast<std::size_t>(
        std::min<std::uint64_t>(out.size(), m_bytes.size() - offset));
    if (n != 0)
        std::memcpy(out.data(), m_bytes.data() + offset, n);
    return n;
}

} // namespace corva::rmff
