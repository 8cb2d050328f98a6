#pragma once

#include <cstddef>
#include <cstdint>

// The kernels the search, the decisions and the reconstruction call at every point, twice over:
// the plain C++ every build has and, where the processor has them, SSE2 versions that must give
// exactly the same sums and pixels (the tests compare the two on random and extreme input).
// dsp:: calls the fastest one built.
namespace corva::rv40::dsp {

namespace plain {
int Sad16(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs);
int Sad(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs, int w, int h);
int Satd4x4(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs);
// One 4x4 block against two predictions (a stride of ps each): the two SATDs, as the intra modes want.
void Satd4x4Pair(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *p0, const std::uint8_t *p1,
                 std::ptrdiff_t ps, int out[2]);
int Satd(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs, int w, int h);
std::uint64_t Sse(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs, int w, int h);
// The unscaled 4x4 forward transform (see Dsp.h); entries of up to 3000 in magnitude.
void ForwardTransform(const int x[16], int out[16]);
// trunc(|C| * norm / step + round) of each of the 16, as that double arithmetic gives it; false
// where all are 0.
bool QuantiseMagnitudes(const int C[16], const int steps[16], double norm, double round, int m[16]);
// Quarter-pel luma prediction of a w x h block (w 4, 8 or 16; h up to 16) at phase fx, fy (0..3);
// src is the block's whole-pixel position in a plane whose border covers what the filters read.
void LumaMc(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *src, std::ptrdiff_t stride, int fx, int fy, int w,
            int h);
// Eighth-pel chroma prediction (fx, fy 0..7, with its rounding bias) of a w x h block, w 4 or 8.
void ChromaMc(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *src, std::ptrdiff_t stride, int fx, int fy,
              int bias, int w, int h);
} // namespace plain

#if defined(__SSE2__)
#define CORVA_RV40_SSE2 1
namespace sse2 {
// the plain ones' results, exactly
int Sad16(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs);
int Sad(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs, int w, int h);
int Satd4x4(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs);
void Satd4x4Pair(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *p0, const std::uint8_t *p1,
                 std::ptrdiff_t ps, int out[2]);
// w and h multiples of 4
int Satd(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs, int w, int h);
std::uint64_t Sse(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs, int w, int h);
void ForwardTransform(const int x[16], int out[16]);
bool QuantiseMagnitudes(const int C[16], const int steps[16], double norm, double round, int m[16]);
void LumaMc(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *src, std::ptrdiff_t stride, int fx, int fy, int w,
            int h);
void ChromaMc(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *src, std::ptrdiff_t stride, int fx, int fy,
              int bias, int w, int h);
} // namespace sse2
namespace fast = sse2;
#else
namespace fast = plain;
#endif

} // namespace corva::rv40::dsp
