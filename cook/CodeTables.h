#pragma once

#include <cstdint>
#include <vector>

namespace corva::cook {

struct Code {
    std::uint32_t bits = 0;
    int length = 0; // 0: the symbol has no code
};

inline constexpr int kBandSize = 20;
inline constexpr int kMaxBands = 50;
inline constexpr int kCategories = 8; // 0 finest .. 7 no bits (noise only)

// The decoder's tables: its Huffman codes rebuilt from their per-length counts, and the numbers
// it dequantises with. Built once, read-only afterwards.
class CodeTables final {
public:
    static const CodeTables &Get();

    // Envelope delta code: table 0..12, symbol = delta + 12 (0..23).
    const Code &Envelope(int table, int symbol) const { return m_envelope[table][symbol]; }
    // Band vector code of a category 0..6; length 0 where the decoder has no such vector.
    const Code &Vector(int category, int symbol) const { return m_vector[category][symbol]; }
    int VectorSymbols(int category) const { return static_cast<int>(m_vector[category].size()); }
    // Coupling value code for a width of 2..6 bits.
    const Code &Coupling(int bits, int value) const { return m_coupling[bits - 2][value]; }

    static int ExpBits(int category);
    static float Centroid(int category, int index);
    static float Dither(int category);
    static int Kmax(int category);
    static int VectorDim(int category);
    static int VectorsPerBand(int category);
    static int InvRadix(int category);
    static int CouplingBand(int band);
    // The coupling gain table of a width as the decoder indexes it (2^bits + 1 entries).
    static float CouplingScale(int bits, int index);

private:
    CodeTables();
    std::vector<std::vector<Code>> m_envelope;
    std::vector<std::vector<Code>> m_vector;
    std::vector<std::vector<Code>> m_coupling;
};

} // namespace corva::cook
