#pragma once

#include "rv40/DspKernels.h"

#include <cstddef>
#include <cstdint>

// The reconstruction arithmetic a decoder applies (it must be copied exactly, since later
// pictures predict from it) plus the encoder's own analysis helpers.
namespace corva::rv40::dsp {

inline std::uint8_t Clip8(int v) { return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// Unscaled forward transform B*X*B^T of a 4x4 residual (raster), result raster [row freq][col freq].
inline void ForwardTransform(const int residual[16], int out[16])
{
    fast::ForwardTransform(residual, out);
}
// Adds the inverse transform of 16 dequantised coefficients to a 4x4 block of pixels.
void InverseTransformAdd(const int coeffs[16], std::uint8_t *dst, std::ptrdiff_t stride);
// Inverse of the 16x16 DC block: element (j, i) is the first coefficient of luma block 4j+i.
void InverseDcBlock(const int coeffs[16], int out[16]);

// The quantiser's magnitudes of an unscaled transform: trunc(|C| * norm / step + round) for each of
// the 16, exactly as that double arithmetic gives them, with no division where it can be spared;
// false where all are 0.
inline bool QuantiseMagnitudes(const int C[16], const int steps[16], double norm, double round, int m[16])
{
    return fast::QuantiseMagnitudes(C, steps, norm, round, m);
}

enum Intra4Mode { kDc = 0, kVert, kHor, kDiagDownRight, kDiagDownLeft, kVertRight, kVertLeft, kHorUp, kHorDown };
enum Intra16Mode { k16Dc = 0, k16Vert, k16Hor, k16Plane };

struct Avail4 {
    bool up = false, left = false, downLeft = false, upRight = false;
};
// What a 4x4 block's prediction reads around it: the row above and its continuation, the column
// to the left and its continuation, the corner; gathered once for all the modes tried.
struct Edges4 {
    int t[8] = {}, l[8] = {}, lt = 0;
    Avail4 a;
};
Edges4 Gather4(const std::uint8_t *at, std::ptrdiff_t stride, Avail4 a);
void Predict4x4(std::uint8_t pred[16], const Edges4 &e, int mode);
// 4x4 prediction into pred (stride 4) from the reconstructed plane around block at src.
inline void Predict4x4(std::uint8_t pred[16], const std::uint8_t *at, std::ptrdiff_t stride, int mode, Avail4 a)
{
    Predict4x4(pred, Gather4(at, stride, a), mode);
}
// 16x16 luma (size 16) or 8x8 chroma (size 8, plane must already be DC) prediction, stride = size.
void PredictBlock(std::uint8_t *pred, int size, const std::uint8_t *at, std::ptrdiff_t stride, int mode,
                  bool up, bool left);

// Quarter-pel luma prediction of a w x h block; ref points at the block's own position in a plane
// whose border covers every pixel the filters read.
void LumaMc(std::uint8_t *dst, std::ptrdiff_t dstStride, const std::uint8_t *ref, std::ptrdiff_t stride,
            int mvx, int mvy, int w, int h);
// Chroma prediction with the chroma vector derived from the luma vector.
void ChromaMc(std::uint8_t *dst, std::ptrdiff_t dstStride, const std::uint8_t *ref, std::ptrdiff_t stride,
              int mvx, int mvy, int w, int h);
// Chroma offset and eighth-pel fraction from a luma vector component (both components needed for
// the rule that turns the 6/6 phase into 4/4).
void ChromaVector(int mvx, int mvy, int &ix, int &fx, int &iy, int &fy);

inline int Sad16(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs)
{
    return fast::Sad16(a, as, b, bs);
}
inline int Sad(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs, int w, int h)
{
    return fast::Sad(a, as, b, bs, w, h);
}
inline int Satd4x4(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs)
{
    return fast::Satd4x4(a, as, b, bs);
}
inline void Satd4x4Pair(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *p0, const std::uint8_t *p1,
                        std::ptrdiff_t ps, int out[2])
{
    fast::Satd4x4Pair(a, as, p0, p1, ps, out);
}
// w and h multiples of 4
inline int Satd(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs, int w, int h)
{
    return fast::Satd(a, as, b, bs, w, h);
}
inline std::uint64_t Sse(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs, int w,
                         int h)
{
    return fast::Sse(a, as, b, bs, w, h);
}

} // namespace corva::rv40::dsp
