#include "cook/CodeTables.h"

#include "cook/RawTables.h"

#include <stdexcept>

namespace corva::cook {
namespace {

// Canonical codes in listing order: each symbol takes the next code of its length.
std::vector<Code> Canonical(const std::int32_t *counts, const std::int32_t *symbols, std::size_t symbolCount,
                            std::size_t tableSize)
{
    std::vector<Code> codes(tableSize);
    std::uint32_t next = 0; // left-aligned in 32 bits
    std::size_t k = 0;
    for (int length = 1; length <= 16; ++length) {
        for (int i = 0; i < counts[length - 1]; ++i) {
            if (k >= symbolCount)
                throw std::logic_error("cook code table: more counts than symbols");
            const auto symbol = static_cast<std::size_t>(symbols[k++]);
            if (symbol >= tableSize)
                throw std::logic_error("cook code table: symbol out of range");
            codes[symbol] = Code{next >> (32 - length), length};
            next += 1u << (32 - length);
        }
    }
    if (k != symbolCount)
        throw std::logic_error("cook code table: counts and symbols disagree");
    return codes;
}

int Power(int base, int exponent)
{
    int r = 1;
    for (int i = 0; i < exponent; ++i)
        r *= base;
    return r;
}

} // namespace

const CodeTables &CodeTables::Get()
{
    static const CodeTables tables;
    return tables;
}

CodeTables::CodeTables()
{
    for (int t = 0; t < 13; ++t)
        m_envelope.push_back(Canonical(raw::envelope_counts + 16 * t, raw::envelope_symbols + 24 * t, 24, 24));
    const std::int32_t *vqSymbols[7] = {raw::vq_symbols_0, raw::vq_symbols_1, raw::vq_symbols_2, raw::vq_symbols_3,
                                        raw::vq_symbols_4, raw::vq_symbols_5, raw::vq_symbols_6};
    const std::size_t vqCounts[7] = {raw::vq_symbols_0_count, raw::vq_symbols_1_count, raw::vq_symbols_2_count,
                                     raw::vq_symbols_3_count, raw::vq_symbols_4_count, raw::vq_symbols_5_count,
                                     raw::vq_symbols_6_count};
    for (int c = 0; c < 7; ++c) {
        const int size = Power(Kmax(c) + 1, VectorDim(c));
        m_vector.push_back(Canonical(raw::vq_counts + 16 * c, vqSymbols[c], vqCounts[c], static_cast<std::size_t>(size)));
    }
    const std::int32_t *cplSymbols[5] = {raw::coupling_symbols_2, raw::coupling_symbols_3, raw::coupling_symbols_4,
                                         raw::coupling_symbols_5, raw::coupling_symbols_6};
    const std::size_t cplCounts[5] = {raw::coupling_symbols_2_count, raw::coupling_symbols_3_count,
                                      raw::coupling_symbols_4_count, raw::coupling_symbols_5_count,
                                      raw::coupling_symbols_6_count};
    for (int b = 2; b <= 6; ++b)
        m_coupling.push_back(Canonical(raw::coupling_counts + 16 * (b - 2), cplSymbols[b - 2], cplCounts[b - 2],
                                       static_cast<std::size_t>((1 << b) - 1)));
}

int CodeTables::ExpBits(int category) { return raw::expbits[category]; }
float CodeTables::Centroid(int category, int index) { return raw::centroids[14 * category + index]; }
float CodeTables::Dither(int category) { return raw::dither[category]; }
int CodeTables::Kmax(int category) { return raw::kmax[category]; }
int CodeTables::VectorDim(int category) { return raw::vd[category]; }
int CodeTables::VectorsPerBand(int category) { return raw::vpr[category]; }
int CodeTables::InvRadix(int category) { return raw::invradix[category]; }
int CodeTables::CouplingBand(int band) { return raw::coupling_band[band]; }

float CodeTables::CouplingScale(int bits, int index)
{
    static const float *const scales[5] = {raw::coupling_scale_2, raw::coupling_scale_3, raw::coupling_scale_4,
                                           raw::coupling_scale_5, raw::coupling_scale_6};
    return scales[bits - 2][index];
}

} // namespace corva::cook
