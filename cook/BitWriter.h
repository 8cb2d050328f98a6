#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corva::cook {

// Most-significant-bit-first writer. A counting writer keeps no bytes: the coder runs the same
// syntax through one to price a choice before it writes it.
class BitWriter final {
public:
    static BitWriter Counting() { return BitWriter(true); }
    BitWriter() = default;

    void Put(std::uint32_t value, int bits);
    std::size_t BitCount() const { return m_count; }
    // The bits written, zero-padded to exactly `size` bytes (never fewer than were written).
    std::vector<std::uint8_t> Bytes(std::size_t size) const;

private:
    explicit BitWriter(bool counting) : m_counting(counting) {}
    bool m_counting = false;
    std::size_t m_count = 0;
    std::vector<std::uint8_t> m_bytes;
};

} // namespace corva::cook
