#pragma once

#include "rv40/Macroblock.h"

#include <cstddef>
#include <cstdint>

namespace corva::rv40 {

struct Picture;
struct Plane;
struct QuantSet;

// Which levels a picture that must keep within a size may still code. A coefficient at row r,
// column c of its block is kept only where r + c < band, so the low frequencies go last and a
// picture coarsened this way keeps its shapes and colours as a mosaic rather than losing them.
struct LevelLimit {
    static constexpr int kAll = 7;
    int floor = 0;      // levels this small or smaller are dropped
    int band = kAll;    // of every 4x4 block
    int dcBand = kAll;  // of a 16x16 intra MB's DC block
    // Intra MBs as 16x16 only: one mode instead of sixteen, where a picture's syntax alone
    // would outweigh what few levels are left.
    bool whole = false;
};

// Transform, quantisation and reconstruction of the residual, as the decoder rebuilds it. A
// prediction is in the reconstruction already; the levels go into the record and the
// reconstruction takes them in.
class ResidualCoder final {
public:
    // limit: none normally; where a picture must keep within a size, which levels it keeps.
    ResidualCoder(const Picture &src, const QuantSet &qs, const LevelLimit &limit) : m_src(src), m_qs(qs), m_limit(limit) {}

    // One 4x4 block whose prediction is in dst; true when it has levels. With rd (inter
    // blocks only), levels are rounded to the nearest, each made smaller where that saves more
    // bits than the error is worth, and the block dropped where its levels remove less error
    // than their bits are worth: at coarse quantisers a lone level often costs more than the
    // picture gains from it. Without, round is the dead zone's rounding.
    bool CodeBlock(const std::uint8_t *s, std::ptrdiff_t ss, std::uint8_t *dst, std::ptrdiff_t ds, const int steps[16],
                   double round, std::int16_t lv[16], bool rd, bool chroma) const;
    // The luma of a 16x16 MB with its DC block, pred (stride 16) its prediction: an intra MB's,
    // or (inter) a P-mix MB's, with the inter DC steps and dead zone.
    void CodeLuma16(int mbx, int mby, Plane &Y, const std::uint8_t pred[256], MbRecord &mb, bool inter = false) const;
    // The first level of an inter MB's DC block over a prediction (py, stride ys): how far the
    // whole MB's brightness is off, in the steps that block would take; 0 where it has none.
    int InterDcLevel(int mbx, int mby, const std::uint8_t *py, std::ptrdiff_t ys) const;
    // One chroma 4x4 block (plane c at x, y) whose prediction is in dst.
    void CodeChromaBlock(int c, int x, int y, std::uint8_t *dst, std::ptrdiff_t ds, MbRecord &mb, int idx) const;
    // The residual of an inter MB whose prediction is in cur; reconstructs in place.
    void CodeInter(int mbx, int mby, Picture &cur, MbRecord &mb, bool rd) const;
    // Its chroma alone (cbp bits 16 and up).
    void CodeInterChroma(int mbx, int mby, Picture &cur, MbRecord &mb, bool rd) const;
    // Whether a prediction of the MB leaves nothing the quantiser would code.
    bool IsClean(int mbx, int mby, const std::uint8_t *py, std::ptrdiff_t ys, const std::uint8_t *pu,
                 const std::uint8_t *pv, std::ptrdiff_t pcs) const;
    void LumaSteps(int steps[16]) const;

private:
    void ChromaSteps(int steps[16]) const;

    const Picture &m_src;
    const QuantSet &m_qs;
    LevelLimit m_limit;
};

} // namespace corva::rv40
