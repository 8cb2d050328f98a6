#include "rv40/BitWriter.h"

#include <bit>

namespace corva::rv40 {

void BitWriter::Write(std::uint32_t value, int bits)
{
    if (bits <= 0)
        return;
    m_acc = (m_acc << bits) | (value & ((bits == 32) ? 0xFFFFFFFFu : ((1u << bits) - 1)));
    m_held += bits;
    while (m_held >= 8) {
        m_held -= 8;
        m_bytes.push_back(static_cast<std::uint8_t>(m_acc >> m_held));
    }
    m_acc &= (std::uint64_t{1} << m_held) - 1;
}

void BitWriter::Ue(std::uint32_t v)
{
    // Each bit of v+1 after its leading one goes out behind a 0; a final 1 ends the code.
    const std::uint64_t x = std::uint64_t{v} + 1;
    const int n = std::bit_width(x) - 1;
    std::uint32_t code = 0;
    for (int i = n - 1; i >= 0; --i)
        code = (code << 2) | static_cast<std::uint32_t>((x >> i) & 1);
    if (2 * n + 1 <= 32) {
        Put((code << 1) | 1u, 2 * n + 1);
    } else {
        for (int i = n - 1; i >= 0; --i)
            Put(static_cast<std::uint32_t>((x >> i) & 1), 2);
        Put(1, 1);
    }
}

void BitWriter::Se(int v)
{
    Ue(v > 0 ? static_cast<std::uint32_t>(2 * v - 1) : static_cast<std::uint32_t>(-2 * static_cast<long long>(v)));
}

int BitWriter::UeBits(std::uint32_t v)
{
    return 2 * (std::bit_width(std::uint64_t{v} + 1) - 1) + 1;
}

int BitWriter::SeBits(int v)
{
    return UeBits(v > 0 ? static_cast<std::uint32_t>(2 * v - 1) : static_cast<std::uint32_t>(-2 * static_cast<long long>(v)));
}

std::vector<std::uint8_t> BitWriter::Take()
{
    if (m_held)
        Put(0, 8 - m_held);
    std::vector<std::uint8_t> out;
    out.swap(m_bytes);
    Clear();
    return out;
}

void BitWriter::Rewind(const Mark &m)
{
    m_bytes.resize(m.bytes);
    m_acc = m.acc;
    m_held = m.held;
}

void BitWriter::Clear()
{
    m_bytes.clear();
    m_acc = 0;
    m_held = 0;
    m_counted = 0;
}

} // namespace corva::rv40
