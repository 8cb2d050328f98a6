#pragma once

#include "rv40/BitWriter.h"
#include "rv40/Macroblock.h"

#include <cstddef>
#include <cstdint>

namespace corva::rv40 {

struct QuantSet;
struct Vlc;

// The coded block pattern and the coefficient blocks of a macroblock, with the code tables the
// slice's quantiser selects. Given a counter, it counts what it would write.
class CoefficientWriter final {
public:
    explicit CoefficientWriter(const QuantSet &qs) : m_qs(qs) {}
    void WriteResidual(BitWriter &w, const MbRecord &mb) const;
    // Bits of one inter 4x4 block's levels (luma or chroma tables).
    std::size_t InterBlockBits(const std::int16_t lv[16], bool chroma) const;
    // An inter block's bits with what changes as its levels come down one at a time: the levels'
    // trim counts the block for every level it tries.
    struct InterCount {
        int codes[4] = {}; // each group's code
        std::size_t bits = 0;
    };
    InterCount CountInter(const std::int16_t lv[16], bool chroma) const;
    // The count once the level at raster position `i`, of magnitude `m` (at least 1) in `count`,
    // comes down to m - 1: only its group's codes and its own bits change.
    InterCount LessInter(const InterCount &count, int i, int m, bool chroma) const;

private:
    // cbp: bits 0..15 luma, 16..19 U, 20..23 V. intraTable: 0 (4x4 MB) or 1 (16x16); -1 inter.
    void WriteCbp(BitWriter &w, std::uint32_t cbp, int intraTable) const;
    static void WriteBlock(BitWriter &w, const std::int16_t lv[16], const Vlc *first, const Vlc *second,
                           const Vlc *third, const Vlc *coeff);

    const QuantSet &m_qs;
};

} // namespace corva::rv40
