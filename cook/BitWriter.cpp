#include "cook/BitWriter.h"

#include <stdexcept>

namespace corva::cook {

void BitWriter::Put(std::uint32_t value, int bits)
{
    if (m_counting) {
        m_count += static_cast<std::size_t>(bits);
        return;
    }
    for (int i = bits - 1; i >= 0; --i) {
        if (m_count % 8 == 0)
            m_bytes.push_back(0);
        if ((value >> i) & 1u)
            m_bytes.back() |= static_cast<std::uint8_t>(0x80u >> (m_count % 8));
        ++m_count;
    }
}

std::vector<std::uint8_t> BitWriter::Bytes(std::size_t size) const
{
    if (m_counting || m_bytes.size() > size)
        throw std::logic_error("cook frame overflows its size");
    std::vector<std::uint8_t> out = m_bytes;
    out.resize(size, 0);
    return out;
}

} // namespace corva::cook
