#include "rv40/DspKernels.h"

#if defined(CORVA_RV40_SSE2)

#include <emmintrin.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace corva::rv40::dsp::sse2 {

namespace {

__m128i Load4x32(const int *p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

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

// Two side-by-side 4x4 blocks of differences at once, a row of eight in each of r: the
// butterflies down the rows run on eight lanes, then each block's four columns are turned into
// rows for the butterflies along them; each block's magnitudes are added into its own sum.
void Satd8x4Sums(const __m128i r[4], __m128i &left, __m128i &right)
{
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
    left = AbsSum(left1, AbsSum(left0, left));
    right = AbsSum(right1, AbsSum(right0, right));
}

__m128i Satd8x4Into(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs, __m128i acc)
{
    const __m128i zero = _mm_setzero_si128();
    __m128i r[4];
    for (int y = 0; y < 4; ++y) {
        const __m128i ra = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(a + y * as));
        const __m128i rb = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(b + y * bs));
        r[y] = _mm_sub_epi16(_mm_unpacklo_epi8(ra, zero), _mm_unpacklo_epi8(rb, zero));
    }
    __m128i right = zero;
    Satd8x4Sums(r, acc, right);
    return _mm_add_epi32(acc, right);
}

// The 6-tap filter of one phase on eight 16-bit lanes, from the pixels two before to three after:
// (a + f - 5 (b + e) + c1 c + c2 d + round) >> shift. At most 18870 and at least -2550, so 16 bits
// hold it; the shift rounds toward minus infinity as the plain one's does.
template <int F>
inline __m128i Tap8(__m128i a, __m128i b, __m128i c, __m128i d, __m128i e, __m128i f)
{
    constexpr int shift = F == 2 ? 5 : 6;
    __m128i v = _mm_sub_epi16(_mm_add_epi16(a, f), _mm_mullo_epi16(_mm_add_epi16(b, e), _mm_set1_epi16(5)));
    if constexpr (F == 2) {
        v = _mm_add_epi16(v, _mm_mullo_epi16(_mm_add_epi16(c, d), _mm_set1_epi16(20)));
    } else {
        v = _mm_add_epi16(v, _mm_mullo_epi16(c, _mm_set1_epi16(F == 1 ? 52 : 20)));
        v = _mm_add_epi16(v, _mm_mullo_epi16(d, _mm_set1_epi16(F == 3 ? 52 : 20)));
    }
    return _mm_srai_epi16(_mm_add_epi16(v, _mm_set1_epi16(1 << (shift - 1))), shift);
}

__m128i Load8(const std::uint8_t *p) { return _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p)); }
__m128i Load16(const std::uint8_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }
void Store8(std::uint8_t *p, __m128i v) { _mm_storel_epi64(reinterpret_cast<__m128i *>(p), v); }
void Store16(std::uint8_t *p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v); }

// One row of W (8 or 16) filtered pixels from the six taps step apart around src (1: along the
// row, a stride: down the column), clipped to 8 bits.
template <int F, int W>
inline void FilterRow(std::uint8_t *dst, const std::uint8_t *src, std::ptrdiff_t step)
{
    const __m128i zero = _mm_setzero_si128();
    if constexpr (W == 16) {
        const __m128i a = Load16(src - 2 * step), b = Load16(src - step), c = Load16(src), d = Load16(src + step),
                      e = Load16(src + 2 * step), f = Load16(src + 3 * step);
        const __m128i l = Tap8<F>(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero), _mm_unpacklo_epi8(c, zero),
                                  _mm_unpacklo_epi8(d, zero), _mm_unpacklo_epi8(e, zero), _mm_unpacklo_epi8(f, zero));
        const __m128i h = Tap8<F>(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero), _mm_unpackhi_epi8(c, zero),
                                  _mm_unpackhi_epi8(d, zero), _mm_unpackhi_epi8(e, zero), _mm_unpackhi_epi8(f, zero));
        Store16(dst, _mm_packus_epi16(l, h));
    } else {
        auto at = [&](std::ptrdiff_t k) { return _mm_unpacklo_epi8(Load8(src + k * step), zero); };
        const __m128i v = Tap8<F>(at(-2), at(-1), at(0), at(1), at(2), at(3));
        Store8(dst, _mm_packus_epi16(v, v));
    }
}

template <int FX, int FY, int W>
void McPhase(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *src, std::ptrdiff_t stride, int h)
{
    if constexpr (FX == 0 && FY == 0) {
        for (int y = 0; y < h; ++y) {
            if constexpr (W == 16)
                Store16(dst + y * ds, Load16(src + y * stride));
            else
                Store8(dst + y * ds, Load8(src + y * stride));
        }
    } else if constexpr (FX == 3 && FY == 3) { // bilinear at this phase
        const __m128i zero = _mm_setzero_si128(), two = _mm_set1_epi16(2);
        auto four = [&](__m128i a, __m128i b, __m128i c, __m128i d) {
            return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(a, b), _mm_add_epi16(_mm_add_epi16(c, d), two)), 2);
        };
        for (int y = 0; y < h; ++y) {
            const std::uint8_t *p = src + y * stride;
            if constexpr (W == 16) {
                const __m128i a = Load16(p), b = Load16(p + 1), c = Load16(p + stride), d = Load16(p + stride + 1);
                const __m128i l = four(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero), _mm_unpacklo_epi8(c, zero),
                                       _mm_unpacklo_epi8(d, zero));
                const __m128i r = four(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero), _mm_unpackhi_epi8(c, zero),
                                       _mm_unpackhi_epi8(d, zero));
                Store16(dst + y * ds, _mm_packus_epi16(l, r));
            } else {
                const __m128i v = four(_mm_unpacklo_epi8(Load8(p), zero), _mm_unpacklo_epi8(Load8(p + 1), zero),
                                       _mm_unpacklo_epi8(Load8(p + stride), zero),
                                       _mm_unpacklo_epi8(Load8(p + stride + 1), zero));
                Store8(dst + y * ds, _mm_packus_epi16(v, v));
            }
        }
    } else if constexpr (FY == 0) {
        for (int y = 0; y < h; ++y)
            FilterRow<FX, W>(dst + y * ds, src + y * stride, 1);
    } else if constexpr (FX == 0) {
        for (int y = 0; y < h; ++y)
            FilterRow<FY, W>(dst + y * ds, src + y * stride, stride);
    } else {
        // horizontal pass on rows -2..h+2, clipped to 8 bits, then vertical
        alignas(16) std::uint8_t tmp[21 * W];
        for (int y = 0; y < h + 5; ++y)
            FilterRow<FX, W>(tmp + y * W, src + (y - 2) * stride, 1);
        for (int y = 0; y < h; ++y)
            FilterRow<FY, W>(dst + y * ds, tmp + (y + 2) * W, W);
    }
}

__m128i Times13(__m128i v) { return _mm_add_epi32(_mm_add_epi32(_mm_slli_epi32(v, 3), _mm_slli_epi32(v, 2)), v); }
__m128i Times17(__m128i v) { return _mm_add_epi32(_mm_slli_epi32(v, 4), v); }
__m128i Times7(__m128i v) { return _mm_sub_epi32(_mm_slli_epi32(v, 3), v); }

// The transform's four outputs from four rows (or columns) held in 32-bit lanes.
void TransformPass(__m128i &r0, __m128i &r1, __m128i &r2, __m128i &r3)
{
    const __m128i s03 = _mm_add_epi32(r0, r3), d03 = _mm_sub_epi32(r0, r3);
    const __m128i s12 = _mm_add_epi32(r1, r2), d12 = _mm_sub_epi32(r1, r2);
    r0 = Times13(_mm_add_epi32(s03, s12));
    r1 = _mm_add_epi32(Times17(d03), Times7(d12));
    r2 = Times13(_mm_sub_epi32(s03, s12));
    r3 = _mm_sub_epi32(Times7(d03), Times17(d12));
}

void Transpose(__m128i &r0, __m128i &r1, __m128i &r2, __m128i &r3)
{
    const __m128i a = _mm_unpacklo_epi32(r0, r1), b = _mm_unpackhi_epi32(r0, r1);
    const __m128i c = _mm_unpacklo_epi32(r2, r3), d = _mm_unpackhi_epi32(r2, r3);
    r0 = _mm_unpacklo_epi64(a, c);
    r1 = _mm_unpackhi_epi64(a, c);
    r2 = _mm_unpacklo_epi64(b, d);
    r3 = _mm_unpackhi_epi64(b, d);
}

using McFn = void (*)(std::uint8_t *, std::ptrdiff_t, const std::uint8_t *, std::ptrdiff_t, int);

template <int W, int... P>
constexpr std::array<McFn, 16> MakeMcTable(std::integer_sequence<int, P...>)
{
    return {&McPhase<P % 4, P / 4, W>...};
}

constexpr std::array<McFn, 16> kMc16 = MakeMcTable<16>(std::make_integer_sequence<int, 16>{});
constexpr std::array<McFn, 16> kMc8 = MakeMcTable<8>(std::make_integer_sequence<int, 16>{});

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

// The source block beside itself, against the two predictions side by side.
void Satd4x4Pair(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *p0, const std::uint8_t *p1,
                 std::ptrdiff_t ps, int out[2])
{
    const __m128i zero = _mm_setzero_si128();
    __m128i r[4];
    for (int y = 0; y < 4; ++y) {
        const __m128i ra = Load4(a + y * as);
        const __m128i rb = _mm_unpacklo_epi32(Load4(p0 + y * ps), Load4(p1 + y * ps));
        r[y] = _mm_sub_epi16(_mm_unpacklo_epi8(_mm_unpacklo_epi32(ra, ra), zero), _mm_unpacklo_epi8(rb, zero));
    }
    __m128i left = zero, right = zero;
    Satd8x4Sums(r, left, right);
    out[0] = HorizontalSum(left) >> 1;
    out[1] = HorizontalSum(right) >> 1;
}

// Each 4x4 block's magnitudes add up to an even number (its sixteen coefficients share one
// parity), so halving the whole sum once gives the plain sum of halves.
int Satd(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs, int w, int h)
{
    __m128i acc = _mm_setzero_si128();
    for (int y = 0; y < h; y += 4) {
        int x = 0;
        for (; x + 8 <= w; x += 8)
            acc = Satd8x4Into(a + y * as + x, as, b + y * bs + x, bs, acc);
        for (; x < w; x += 4)
            acc = Satd4x4Into(a + y * as + x, as, b + y * bs + x, bs, acc);
    }
    return HorizontalSum(acc) >> 1;
}

// Down the columns first, then along the rows: in whole numbers the order gives the same sums.
void ForwardTransform(const int x[16], int out[16])
{
    __m128i r0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(x));
    __m128i r1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(x + 4));
    __m128i r2 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(x + 8));
    __m128i r3 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(x + 12));
    TransformPass(r0, r1, r2, r3);
    Transpose(r0, r1, r2, r3);
    TransformPass(r0, r1, r2, r3);
    Transpose(r0, r1, r2, r3);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), r0);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 4), r1);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 8), r2);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 12), r3);
}

// Two lanes of doubles at a time, the same multiplications and additions as the plain one (so the
// same roundings), for the steps the coder passes: one for all 16, or one for the first and one for
// the rest. Any other set, or a magnitude that lands too near a whole number to trust, takes the
// plain path.
bool QuantiseMagnitudes(const int C[16], const int steps[16], double norm, double round, int m[16])
{
    const __m128i rest = _mm_set1_epi32(steps[1]);
    __m128i same = _mm_and_si128(_mm_cmpeq_epi32(Load4x32(steps), _mm_set_epi32(steps[1], steps[1], steps[1], steps[0])),
                                 _mm_cmpeq_epi32(Load4x32(steps + 4), rest));
    same = _mm_and_si128(same, _mm_and_si128(_mm_cmpeq_epi32(Load4x32(steps + 8), rest),
                                             _mm_cmpeq_epi32(Load4x32(steps + 12), rest)));
    if (_mm_movemask_epi8(same) != 0xffff)
        return plain::QuantiseMagnitudes(C, steps, norm, round, m);

    __m128i mag[4], top = _mm_setzero_si128();
    for (int k = 0; k < 4; ++k) {
        const __m128i v = Load4x32(C + 4 * k);
        const __m128i sign = _mm_srai_epi32(v, 31);
        mag[k] = _mm_sub_epi32(_mm_xor_si128(v, sign), sign);
        const __m128i gt = _mm_cmpgt_epi32(mag[k], top);
        top = _mm_or_si128(_mm_and_si128(gt, mag[k]), _mm_andnot_si128(gt, top));
    }
    const double invFirst = norm / steps[0];
    const double invRest = steps[1] == steps[0] ? invFirst : norm / steps[1];
    constexpr double kDoubt = 1e-6;
    // most blocks the decisions try quantise to nothing: the largest magnitude at the finer of the
    // two steps says so at once (with room for the doubt's own rounding)
    int largest[4];
    _mm_storeu_si128(reinterpret_cast<__m128i *>(largest), top);
    const int most = std::max(std::max(largest[0], largest[1]), std::max(largest[2], largest[3]));
    if (most * std::max(invFirst, invRest) + round < 1 - 2 * kDoubt) {
        std::memset(m, 0, 16 * sizeof(int));
        return false;
    }
    const __m128d add = _mm_set1_pd(round), doubt = _mm_set1_pd(kDoubt);
    const __m128d invs = _mm_set1_pd(invRest);
    __m128i mismatch = _mm_setzero_si128(), any = _mm_setzero_si128();
    for (int k = 0; k < 4; ++k) {
        const __m128d inv01 = k == 0 ? _mm_set_pd(invRest, invFirst) : invs;
        const __m128d a01 = _mm_add_pd(_mm_mul_pd(_mm_cvtepi32_pd(mag[k]), inv01), add);
        const __m128d a23 = _mm_add_pd(_mm_mul_pd(_mm_cvtepi32_pd(_mm_unpackhi_epi64(mag[k], mag[k])), invs), add);
        const __m128i lo = _mm_unpacklo_epi64(_mm_cvttpd_epi32(_mm_sub_pd(a01, doubt)),
                                              _mm_cvttpd_epi32(_mm_sub_pd(a23, doubt)));
        const __m128i hi = _mm_unpacklo_epi64(_mm_cvttpd_epi32(_mm_add_pd(a01, doubt)),
                                              _mm_cvttpd_epi32(_mm_add_pd(a23, doubt)));
        mismatch = _mm_or_si128(mismatch, _mm_xor_si128(lo, hi));
        any = _mm_or_si128(any, lo);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(m + 4 * k), lo);
    }
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(mismatch, _mm_setzero_si128())) != 0xffff)
        return plain::QuantiseMagnitudes(C, steps, norm, round, m);
    return _mm_movemask_epi8(_mm_cmpeq_epi32(any, _mm_setzero_si128())) != 0xffff;
}

int Sad(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs, int w, int h)
{
    if (w != 16 && w != 8)
        return plain::Sad(a, as, b, bs, w, h);
    __m128i acc = _mm_setzero_si128();
    for (int y = 0; y < h; ++y, a += as, b += bs)
        acc = _mm_add_epi64(acc, w == 16 ? _mm_sad_epu8(Load16(a), Load16(b)) : _mm_sad_epu8(Load8(a), Load8(b)));
    return _mm_cvtsi128_si32(acc) + _mm_cvtsi128_si32(_mm_unpackhi_epi64(acc, acc));
}

void LumaMc(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *src, std::ptrdiff_t stride, int fx, int fy, int w,
            int h)
{
    if (w != 16 && w != 8)
        return plain::LumaMc(dst, ds, src, stride, fx, fy, w, h);
    (w == 16 ? kMc16 : kMc8)[static_cast<std::size_t>(fx + 4 * fy)](dst, ds, src, stride, h);
}

// (A p + B right + C below + D below right + bias) >> 6 with A..D summing to 64: at most 16320
// plus the bias, within 16 bits.
void ChromaMc(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *src, std::ptrdiff_t stride, int fx, int fy,
              int bias, int w, int h)
{
    if (w != 8 && w != 4)
        return plain::ChromaMc(dst, ds, src, stride, fx, fy, bias, w, h);
    const __m128i zero = _mm_setzero_si128();
    auto load = [&](const std::uint8_t *p) { return _mm_unpacklo_epi8(w == 8 ? Load8(p) : Load4(p), zero); };
    auto store = [&](std::uint8_t *p, __m128i v) {
        v = _mm_packus_epi16(v, v);
        if (w == 8) {
            Store8(p, v);
        } else {
            const std::int32_t x = _mm_cvtsi128_si32(v);
            std::memcpy(p, &x, 4);
        }
    };
    if (!fx && !fy) {
        for (int y = 0; y < h; ++y)
            std::memcpy(dst + y * ds, src + y * stride, static_cast<std::size_t>(w));
        return;
    }
    const __m128i A = _mm_set1_epi16(static_cast<std::int16_t>((8 - fx) * (8 - fy)));
    const __m128i B = _mm_set1_epi16(static_cast<std::int16_t>(fx * (8 - fy)));
    const __m128i C = _mm_set1_epi16(static_cast<std::int16_t>((8 - fx) * fy));
    const __m128i D = _mm_set1_epi16(static_cast<std::int16_t>(fx * fy));
    const __m128i round = _mm_set1_epi16(static_cast<std::int16_t>(bias));
    __m128i top = load(src), topRight = load(src + 1);
    for (int y = 0; y < h; ++y) {
        const std::uint8_t *below = src + (y + 1) * stride;
        const __m128i bot = load(below), botRight = load(below + 1);
        __m128i v = _mm_add_epi16(_mm_mullo_epi16(A, top), _mm_mullo_epi16(B, topRight));
        v = _mm_add_epi16(v, _mm_add_epi16(_mm_mullo_epi16(C, bot), _mm_mullo_epi16(D, botRight)));
        store(dst + y * ds, _mm_srli_epi16(_mm_add_epi16(v, round), 6));
        top = bot;
        topRight = botRight;
    }
}

std::uint64_t Sse(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs, int w, int h)
{
    const __m128i zero = _mm_setzero_si128();
    if (w == 4 && h % 2 == 0) { // a 4x4 block, as the residual's level choices measure
        __m128i acc = zero;
        for (int y = 0; y < h; y += 2) {
            const __m128i d = RowPairDiff(a + y * as, as, b + y * bs, bs);
            acc = _mm_add_epi32(acc, _mm_madd_epi16(d, d));
        }
        return static_cast<std::uint32_t>(HorizontalSum(acc));
    }
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
