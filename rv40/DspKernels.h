#pragma once

#include <cstddef>
#include <cstdint>

// The analysis kernels the search and the decisions call at every point, twice over: the plain
// C++ every build has and, where the processor has them, SSE2 versions that must give exactly the
// same sums (the tests compare the two on random input). dsp:: calls the fastest one built.
namespace corva::rv40::dsp {

namespace plain {
int Sad16(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs);
int Satd4x4(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs);
int Satd(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs, int w, int h);
std::uint64_t Sse(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs, int w, int h);
} // namespace plain

#if defined(__SSE2__)
#define CORVA_RV40_SSE2 1
namespace sse2 {
int Sad16(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs);
int Satd4x4(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs);
// w and h multiples of 4
int Satd(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs, int w, int h);
std::uint64_t Sse(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs, int w, int h);
} // namespace sse2
namespace fast = sse2;
#else
namespace fast = plain;
#endif

} // namespace corva::rv40::dsp
