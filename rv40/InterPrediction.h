#pragma once

#include "rv40/Macroblock.h"
#include "rv40/Picture.h"

#include <cstddef>
#include <cstdint>

namespace corva::rv40 {

class Bitstream;

// Where a macroblock's prediction goes: the reconstruction itself, or a buffer.
struct MbTarget {
    std::uint8_t *y, *u, *v;
    std::ptrdiff_t ys, cs;
    static MbTarget Into(Picture &pic, int mbx, int mby);
    static MbTarget Into(MbPixels &px);
};

// Direct-mode vector scales and blend weights of a B-picture, as the decoder derives them from
// the three pictures' 13-bit times.
struct DirectWeights {
    int mvWeight1 = 8192, mvWeight2 = 8192, weight1 = 8192, weight2 = 8192;
    bool scaled = false;
    // Direct MBs only for a picture timed between its references (either end included):
    // outside, the scales pass one and overflow the blend; with equal reference times decoders
    // have differed on the vectors.
    bool allowed = false;
    static DirectWeights For(std::uint32_t ts, std::uint32_t refTs, std::uint32_t prevTs);
    static int Scale(int v, int w) { return (v * w + 0x2000) >> 14; }
};

// Motion compensation: a macroblock predicted from a reference by one vector, or one per 8x8
// block; and a B-picture's two directions blended.
class InterPrediction final {
public:
    explicit InterPrediction(const Bitstream &bitstream) : m_bitstream(bitstream) {}
    // Per 8x8 block unless all four vectors agree.
    void Predict(const Picture &from, int mbx, int mby, const MotionVector v[4], const MbTarget &out) const;
    void Predict(const Picture &from, int mbx, int mby, const MotionVector &v, const MbTarget &out) const;
    // A B MB of the given type from prev (forward) and ref (backward): one direction, or both
    // blended (direct MBs with the distance weights, bidirectional ones as the plain average).
    void PredictB(const Picture &prev, const Picture &ref, const DirectWeights &dw, int mbx, int mby, int type,
                  const MotionVector &fwd, const MotionVector &bwd, const MotionVector df[4], const MotionVector db[4],
                  MbPixels &out) const;

private:
    const Bitstream &m_bitstream;
};

} // namespace corva::rv40
