#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace corva::rv40 {

// Most-significant-bit-first writer with the interleaved Exp-Golomb codes of the format. A
// counter (Counter()) takes the same calls and only counts, so that the decisions measure a
// macroblock with the very code that writes it.
class BitWriter final {
public:
    static BitWriter Counter()
    {
        BitWriter w;
        w.m_counting = true;
        return w;
    }
    void Put(std::uint32_t value, int bits)
    {
        if (m_counting)
            m_counted += static_cast<std::size_t>(bits);
        else
            Write(value, bits);
    }
    void PutBit(bool bit) { Put(bit ? 1u : 0u, 1); }
    void Ue(std::uint32_t v);
    void Se(int v);
    std::size_t BitCount() const
    {
        return m_counting ? m_counted : m_bytes.size() * 8 + static_cast<std::size_t>(m_held);
    }
    // The whole bytes written so far.
    std::span<const std::uint8_t> Bytes() const { return m_bytes; }
    // Pads with zero bits to a byte boundary and hands the bytes over; the writer is then empty.
    std::vector<std::uint8_t> Take();
    void Clear();

    struct Mark {
        std::size_t bytes = 0;
        std::uint64_t acc = 0;
        int held = 0;
    };
    Mark Position() const { return {m_bytes.size(), m_acc, m_held}; }
    // Drops everything written after the mark (a macroblock that did not fit its slice).
    void Rewind(const Mark &m);

    static int UeBits(std::uint32_t v);
    static int SeBits(int v);

private:
    void Write(std::uint32_t value, int bits);

    std::vector<std::uint8_t> m_bytes;
    std::uint64_t m_acc = 0; // low m_held bits are pending
    int m_held = 0;
    bool m_counting = false;
    std::size_t m_counted = 0;
};

} // namespace corva::rv40
