#include "rv30/ThirdPelMc.h"

#include "rv40/Dsp.h"

#include <cstring>

namespace corva::rv30 {

namespace {

// Taps for a third (1) and two thirds (2) over pixels -1..2; a whole position copies.
constexpr int kTaps[3][4] = {{0, 16, 0, 0}, {-1, 12, 6, -1}, {-1, 6, 12, -1}};

// The one-direction filters round by 16, the two-direction ones by 256; two thirds in both
// directions smooth over pixels 0..2 instead.
void Filter2d(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *src, std::ptrdiff_t stride, int fx, int fy,
              int w, int h)
{
    if (fx == 2 && fy == 2) {
        constexpr int k[3] = {6, 9, 1};
        for (int y = 0; y < h; ++y, dst += ds, src += stride)
            for (int x = 0; x < w; ++x) {
                int sum = 128;
                for (int j = 0; j < 3; ++j)
                    for (int i = 0; i < 3; ++i)
                        sum += k[j] * k[i] * src[j * stride + x + i];
                dst[x] = rv40::dsp::Clip8(sum >> 8);
            }
        return;
    }
    const int *hx = kTaps[fx], *vy = kTaps[fy];
    for (int y = 0; y < h; ++y, dst += ds, src += stride)
        for (int x = 0; x < w; ++x) {
            int sum = 128;
            for (int j = 0; j < 4; ++j) {
                const std::uint8_t *row = src + (j - 1) * stride + x - 1;
                sum += vy[j] * (hx[0] * row[0] + hx[1] * row[1] + hx[2] * row[2] + hx[3] * row[3]);
            }
            dst[x] = rv40::dsp::Clip8(sum >> 8);
        }
}

void Filter1d(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *src, std::ptrdiff_t stride, std::ptrdiff_t step,
              int f, int w, int h)
{
    const int *t = kTaps[f];
    for (int y = 0; y < h; ++y, dst += ds, src += stride)
        for (int x = 0; x < w; ++x) {
            const std::uint8_t *p = src + x;
            dst[x] = rv40::dsp::Clip8((t[0] * p[-step] + t[1] * p[0] + t[2] * p[step] + t[3] * p[2 * step] + 8) >> 4);
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
    const std::uint8_t *src = ref + iy * stride + ix;
    if (!fx && !fy) {
        for (int y = 0; y < h; ++y)
            std::memcpy(dst + y * ds, src + y * stride, static_cast<std::size_t>(w));
    } else if (!fy) {
        Filter1d(dst, ds, src, stride, 1, fx, w, h);
    } else if (!fx) {
        Filter1d(dst, ds, src, stride, stride, fy, w, h);
    } else {
        Filter2d(dst, ds, src, stride, fx, fy, w, h);
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
