#include "rv40/DspKernels.h"

#if defined(CORVA_RV40_SSE2)

#include <emmintrin.h>

#include <cstring>

namespace corva::rv40::dsp::sse2 {

namespace {

__m128i Load4(const std::uint8_t *p)
{
    std::int32_t v;
    std::memcpy(&v, p, 4);
    return _mm_cvtsi32_si128(v);
}

// Two rows of four differences, a's minus b's, as eight 16-bit lanes.
__m128i RowPairDiff(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i ra = _mm_unpacklo_epi8(_mm_unpacklo_epi32(Load4(a), Load4(a + as)), zero);
    const __m128i rb = _mm_unpacklo_epi8(_mm_unpacklo_epi32(Load4(b), Load4(b + bs)), zero);
    return _mm_sub_epi16(ra, rb);
}

// The 4-point Hadamard butterflies down the rows held as [r0|r1] and [r2|r3]; the results come
// back as [h0|h2] and [h1|h3]. Which row lands where does not matter: only magnitudes are summed.
void Butterfly(__m128i &lo, __m128i &hi)
{
    const __m128i s = _mm_add_epi16(lo, hi); // r0+r2 | r1+r3
    const __m128i t = _mm_sub_epi16(lo, hi); // r0-r2 | r1-r3
    const __m128i x = _mm_unpacklo_epi64(s, t);
    const __m128i y = _mm_unpackhi_epi64(s, t);
    lo = _mm_add_epi16(x, y);
    hi = _mm_sub_epi16(x, y);
}

__m128i AbsSum(__m128i v, __m128i acc)
{
    const __m128i a = _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
    return _mm_add_epi32(acc, _mm_madd_epi16(a, _mm_set1_epi16(1)));
}

int HorizontalSum(__m128i v)
{
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtsi128_si32(v);
}

// The sum of the magnitudes of one 4x4 block's Hadamard transform, into acc (32-bit lanes).
__m128i Satd4x4Into(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs, __m128i acc)
{
    __m128i lo = RowPairDiff(a, as, b, bs);
    __m128i hi = RowPairDiff(a + 2 * as, as, b + 2 * bs, bs);
    Butterfly(lo, hi);
    // transpose the four rows so that the same butterflies run along them
    const __m128i p = _mm_unpacklo_epi16(lo, hi);
    const __m128i q = _mm_unpackhi_epi16(lo, hi);
    __m128i c = _mm_unpacklo_epi32(p, q);
    __m128i d = _mm_unpackhi_epi32(p, q);
    Butterfly(c, d);
    return AbsSum(d, AbsSum(c, acc));
}

// Two side-by-side 4x4 blocks at once: the butterflies down the rows run on eight lanes, then
// each block's four columns are turned into rows for the butterflies along them. Each block's
// sum is halved on its own, as the plain blocks are.
int Satd8x4(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs)
{
    const __m128i zero = _mm_setzero_si128();
    __m128i r[4];
    for (int y = 0; y < 4; ++y) {
        const __m128i ra = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(a + y * as));
        const __m128i rb = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(b + y * bs));
        r[y] = _mm_sub_epi16(_mm_unpacklo_epi8(ra, zero), _mm_unpacklo_epi8(rb, zero));
    }
    const __m128i s02 = _mm_add_epi16(r[0], r[2]), d02 = _mm_sub_epi16(r[0], r[2]);
    const __m128i s13 = _mm_add_epi16(r[1], r[3]), d13 = _mm_sub_epi16(r[1], r[3]);
    const __m128i v0 = _mm_add_epi16(s02, s13), v1 = _mm_sub_epi16(s02, s13);
    const __m128i v2 = _mm_add_epi16(d02, d13), v3 = _mm_sub_epi16(d02, d13);
    const __m128i t0 = _mm_unpacklo_epi16(v0, v1), t1 = _mm_unpackhi_epi16(v0, v1);
    const __m128i t2 = _mm_unpacklo_epi16(v2, v3), t3 = _mm_unpackhi_epi16(v2, v3);
    __m128i left0 = _mm_unpacklo_epi32(t0, t2), left1 = _mm_unpackhi_epi32(t0, t2);
    __m128i right0 = _mm_unpacklo_epi32(t1, t3), right1 = _mm_unpackhi_epi32(t1, t3);
    Butterfly(left0, left1);
    Butterfly(right0, right1);
    return (HorizontalSum(AbsSum(left1, AbsSum(left0, zero))) >> 1) +
           (HorizontalSum(AbsSum(right1, AbsSum(right0, zero))) >> 1);
}

} // namespace

int Sad16(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs)
{
    __m128i acc = _mm_setzero_si128();
    for (int y = 0; y < 16; ++y, a += as, b += bs) {
        const __m128i ra = _mm_loadu_si128(reinterpret_cast<const __m128i *>(a));
        const __m128i rb = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b));
        acc = _mm_add_epi64(acc, _mm_sad_epu8(ra, rb));
    }
    return _mm_cvtsi128_si32(acc) + _mm_cvtsi128_si32(_mm_unpackhi_epi64(acc, acc));
}

int Satd4x4(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs)
{
    return HorizontalSum(Satd4x4Into(a, as, b, bs, _mm_setzero_si128())) >> 1;
}

int Satd(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs, int w, int h)
{
    int s = 0;
    for (int y = 0; y < h; y += 4) {
        int x = 0;
        for (; x + 8 <= w; x += 8)
            s += Satd8x4(a + y * as + x, as, b + y * bs + x, bs);
        for (; x < w; x += 4)
            s += HorizontalSum(Satd4x4Into(a + y * as + x, as, b + y * bs + x, bs, _mm_setzero_si128())) >> 1;
    }
    return s;
}

std::uint64_t Sse(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs, int w, int h)
{
    const __m128i zero = _mm_setzero_si128();
    std::uint64_t s = 0;
    for (int y = 0; y < h; ++y, a += as, b += bs) {
        // a row's squares in 32-bit lanes: at most 16 x 2 x 65025 per lane before they are added up
        __m128i acc = zero;
        int x = 0;
        for (; x + 16 <= w; x += 16) {
            const __m128i ra = _mm_loadu_si128(reinterpret_cast<const __m128i *>(a + x));
            const __m128i rb = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + x));
            const __m128i dl = _mm_sub_epi16(_mm_unpacklo_epi8(ra, zero), _mm_unpacklo_epi8(rb, zero));
            const __m128i dh = _mm_sub_epi16(_mm_unpackhi_epi8(ra, zero), _mm_unpackhi_epi8(rb, zero));
            acc = _mm_add_epi32(acc, _mm_add_epi32(_mm_madd_epi16(dl, dl), _mm_madd_epi16(dh, dh)));
            if ((x & 255) == 240) {
                s += static_cast<std::uint32_t>(HorizontalSum(acc));
                acc = zero;
            }
        }
        for (; x + 8 <= w; x += 8) {
            const __m128i ra = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(a + x));
            const __m128i rb = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(b + x));
            const __m128i d = _mm_sub_epi16(_mm_unpacklo_epi8(ra, zero), _mm_unpacklo_epi8(rb, zero));
            acc = _mm_add_epi32(acc, _mm_madd_epi16(d, d));
        }
        s += static_cast<std::uint32_t>(HorizontalSum(acc));
        for (; x < w; ++x) {
            const int d = a[x] - b[x];
            s += static_cast<std::uint64_t>(d * d);
        }
    }
    return s;
}

} // namespace corva::rv40::dsp::sse2

#endif
