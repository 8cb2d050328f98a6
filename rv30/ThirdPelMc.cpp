#include "rv30/ThirdPelMc.h"

#include "rv40/Dsp.h"

#include <cstring>

namespace corva::rv30 {

namespace {

// Taps over pixels -1..2 for a whole position, a third, two thirds; and for two thirds both
// ways, where the decoder smooths over pixels 0..2 instead (6, 9, 1 per direction).
constexpr int kTaps[4][4] = {{0, 16, 0, 0}, {-1, 12, 6, -1}, {-1, 6, 12, -1}, {0, 6, 9, 1}};

// Both directions: the sum of products over the 4x4 neighbourhood, rounded once. Summing each
// row first and then the rows is the same integer sum, and with the taps known at compile time
// lets the compiler vectorise.
template <int FX, int FY, int W>
void Filter2d(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *src, std::ptrdiff_t stride, int h)
{
    constexpr const int *hx = kTaps[FX == 2 && FY == 2 ? 3 : FX];
    constexpr const int *vy = kTaps[FX == 2 && FY == 2 ? 3 : FY];
    std::int16_t rows[(16 + 3) * W];
    const std::uint8_t *s = src - stride;
    for (int y = 0; y < h + 3; ++y, s += stride)
        for (int x = 0; x < W; ++x)
            rows[y * W + x] =
                static_cast<std::int16_t>(hx[0] * s[x - 1] + hx[1] * s[x] + hx[2] * s[x + 1] + hx[3] * s[x + 2]);
    for (int y = 0; y < h; ++y, dst += ds) {
        const std::int16_t *r = rows + y * W;
        for (int x = 0; x < W; ++x)
            dst[x] = rv40::dsp::Clip8(
                (vy[0] * r[x] + vy[1] * r[W + x] + vy[2] * r[2 * W + x] + vy[3] * r[3 * W + x] + 128) >> 8);
    }
}

// One direction: along a row (step 1) or down a column (step the stride).
template <int F, int W>
void Filter1d(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *src, std::ptrdiff_t stride, std::ptrdiff_t step,
              int h)
{
    constexpr const int *t = kTaps[F];
    for (int y = 0; y < h; ++y, dst += ds, src += stride)
        for (int x = 0; x < W; ++x) {
            const std::uint8_t *p = src + x;
            dst[x] = rv40::dsp::Clip8((t[0] * p[-step] + t[1] * p[0] + t[2] * p[step] + t[3] * p[2 * step] + 8) >> 4);
        }
}

template <int W>
void LumaW(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *src, std::ptrdiff_t stride, int fx, int fy, int h)
{
    switch (3 * fx + fy) {
    case 0:
        for (int y = 0; y < h; ++y)
            std::memcpy(dst + y * ds, src + y * stride, W);
        break;
    case 1:
        Filter1d<1, W>(dst, ds, src, stride, stride, h);
        break;
    case 2:
        Filter1d<2, W>(dst, ds, src, stride, stride, h);
        break;
    case 3:
        Filter1d<1, W>(dst, ds, src, stride, 1, h);
        break;
    case 6:
        Filter1d<2, W>(dst, ds, src, stride, 1, h);
        break;
    case 4:
        Filter2d<1, 1, W>(dst, ds, src, stride, h);
        break;
    case 5:
        Filter2d<1, 2, W>(dst, ds, src, stride, h);
        break;
    case 7:
        Filter2d<2, 1, W>(dst, ds, src, stride, h);
        break;
    default:
        Filter2d<2, 2, W>(dst, ds, src, stride, h);
        break;
    }
}

} // namespace

void ThirdPelMc::Split(int v, int &whole, int &third)
{
    // as the decoder: offset into the positive range, divide, offset back
    whole = (v + (3 << 24)) / 3 - (1 << 24);
    third = (v + (3 << 24)) % 3;
}

void ThirdPelMc::SplitChroma(int v, int &whole, int &eighth)
{
    static constexpr int kEighths[3] = {0, 3, 5};
    const int c = v / 2; // toward zero
    int third = 0;
    Split(c, whole, third);
    eighth = kEighths[third];
}

void ThirdPelMc::Luma(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *ref, std::ptrdiff_t stride, int mvx,
                      int mvy, int w, int h)
{
    int ix = 0, fx = 0, iy = 0, fy = 0;
    Split(mvx, ix, fx);
    Split(mvy, iy, fy);
    // blocks are 16 or 8 pixels wide (anything else in 4-pixel columns), at most 16 rows at once
    for (int y = 0; y < h; y += 16) {
        const std::uint8_t *src = ref + (iy + y) * stride + ix;
        std::uint8_t *out = dst + y * ds;
        const int rows = h - y < 16 ? h - y : 16;
        if (w == 16) {
            LumaW<16>(out, ds, src, stride, fx, fy, rows);
        } else if (w == 8) {
            LumaW<8>(out, ds, src, stride, fx, fy, rows);
        } else {
            for (int x = 0; x < w; x += 4)
                LumaW<4>(out + x, ds, src + x, stride, fx, fy, rows);
        }
    }
}

void ThirdPelMc::Chroma(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *ref, std::ptrdiff_t stride, int mvx,
                        int mvy, int w, int h)
{
    int ix = 0, fx = 0, iy = 0, fy = 0;
    SplitChroma(mvx, ix, fx);
    SplitChroma(mvy, iy, fy);
    const std::uint8_t *src = ref + iy * stride + ix;
    const int a = (8 - fx) * (8 - fy), b = fx * (8 - fy), c = (8 - fx) * fy, d = fx * fy;
    for (int y = 0; y < h; ++y, dst += ds, src += stride)
        for (int x = 0; x < w; ++x)
            dst[x] = static_cast<std::uint8_t>(
                (a * src[x] + b * src[x + 1] + c * src[x + stride] + d * src[x + stride + 1] + 32) >> 6);
}

} // namespace corva::rv30
