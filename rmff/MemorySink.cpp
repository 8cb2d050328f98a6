#include "rmff/MemorySink.h"

#include "rmff/RmError.h"

#include <algorithm>

namespace corva::rmff {

void MemorySink::Write(std::span<const std::uint8_t> bytes)
{
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
}

void MemorySink::WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes)
{
    if (offset > m_bytes.size() || bytes.size() > m_bytes.size() - offset)
        throw RmError(ErrorKind::Output, "改写位置超出已写内容", offset);
    std::copy(bytes.begin(), bytes.end(), m_bytes.begin() + static_cast<std::ptrdiff_t>(offset));
}

} // namespace corva::rmff
