#include "rv40/Dsp.h"
#include "rv40/DspKernels.h"

#include "rv40/CodeTables.h"

#include <array>
#include <cstdlib>
#include <utility>

namespace corva::rv40::dsp {

namespace {
constexpr int kBasis[4][4] = {{13, 13, 13, 13}, {17, 7, -7, -17}, {13, -13, -13, 13}, {7, -17, 17, -7}};

// The first pass of both inverse transforms, down the columns.
void InverseColumns(const int c[16], int t[16])
{
    for (int i = 0; i < 4; ++i) {
        const int z0 = 13 * (c[i] + c[8 + i]);
        const int z1 = 13 * (c[i] - c[8 + i]);
        const int z2 = 7 * c[4 + i] - 17 * c[12 + i];
        const int z3 = 17 * c[4 + i] + 7 * c[12 + i];
        t[i] = z0 + z3;
        t[4 + i] = z1 + z2;
        t[8 + i] = z1 - z2;
        t[12 + i] = z0 - z3;
    }
}

} // namespace

void InverseTransformAdd(const int c[16], std::uint8_t *dst, std::ptrdiff_t stride)
{
    int t[16];
    InverseColumns(c, t);
    for (int r = 0; r < 4; ++r) { // along the rows
        const int *a = t + 4 * r;
        const int z0 = 13 * (a[0] + a[2]) + 512;
        const int z1 = 13 * (a[0] - a[2]) + 512;
        const int z2 = 7 * a[1] - 17 * a[3];
        const int z3 = 17 * a[1] + 7 * a[3];
        std::uint8_t *d = dst + r * stride;
        d[0] = Clip8(d[0] + ((z0 + z3) >> 10));
        d[1] = Clip8(d[1] + ((z1 + z2) >> 10));
        d[2] = Clip8(d[2] + ((z1 - z2) >> 10));
        d[3] = Clip8(d[3] + ((z0 - z3) >> 10));
    }
}

void InverseDcBlock(const int c[16], int out[16])
{
    int t[16];
    InverseColumns(c, t);
    for (int r = 0; r < 4; ++r) {
        const int *a = t + 4 * r;
        const int z0 = 13 * (a[0] + a[2]);
        const int z1 = 13 * (a[0] - a[2]);
        const int z2 = 7 * a[1] - 17 * a[3];
        const int z3 = 17 * a[1] + 7 * a[3];
        // the decoder keeps these in 16 bits
        out[4 * r + 0] = static_cast<std::int16_t>((3 * (z0 + z3)) >> 11);
        out[4 * r + 1] = static_cast<std::int16_t>((3 * (z1 + z2)) >> 11);
        out[4 * r + 2] = static_cast<std::int16_t>((3 * (z1 - z2)) >> 11);
        out[4 * r + 3] = static_cast<std::int16_t>((3 * (z0 - z3)) >> 11);
    }
}

Edges4 Gather4(const std::uint8_t *at, std::ptrdiff_t stride, Avail4 a)
{
    Edges4 e;
    e.a = a;
    if (a.up) {
        for (int i = 0; i < 4; ++i)
            e.t[i] = at[i - stride];
        for (int i = 4; i < 8; ++i)
            e.t[i] = a.upRight ? at[i - stride] : e.t[3];
    }
    if (a.left) {
        for (int i = 0; i < 4; ++i)
            e.l[i] = at[i * stride - 1];
        for (int i = 4; i < 8; ++i)
            e.l[i] = a.downLeft ? at[i * stride - 1] : e.l[3];
    }
    if (a.up && a.left)
        e.lt = at[-stride - 1];
    return e;
}

void Predict4x4(std::uint8_t out[16], const Edges4 &edges, int m)
{
    const int *t = edges.t, *l = edges.l, lt = edges.lt;
    const Avail4 a = edges.a;
    auto fill = [&](int v) {
        for (int i = 0; i < 16; ++i)
            out[i] = static_cast<std::uint8_t>(v);
    };
    if (!a.up && !a.left)
        return fill(128);
    if (!a.up) {
        if (m == kVert)
            m = kHor;
        if (m == kDc)
            return fill((l[0] + l[1] + l[2] + l[3] + 2) >> 2);
    } else if (!a.left) {
        if (m == kHor)
            m = kVert;
        if (m == kDc)
            return fill((t[0] + t[1] + t[2] + t[3] + 2) >> 2);
    }
    auto put = [&](int x, int y, int v) { out[4 * y + x] = static_cast<std::uint8_t>(v); };
    switch (m) {
    case kDc:
        return fill((t[0] + t[1] + t[2] + t[3] + l[0] + l[1] + l[2] + l[3] + 4) >> 3);
    case kVert:
        for (int i = 0; i < 16; ++i)
            out[i] = static_cast<std::uint8_t>(t[i & 3]);
        return;
    case kHor:
        for (int i = 0; i < 16; ++i)
            out[i] = static_cast<std::uint8_t>(l[i >> 2]);
        return;
    case kDiagDownRight: {
        // the left column bottom-up, the corner, then the top row: one edge the diagonals run along
        int e[9];
        for (int i = 0; i < 4; ++i) {
            e[3 - i] = l[i];
            e[5 + i] = t[i];
        }
        e[4] = lt;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                const int k = 4 + x - y;
                put(x, y, (e[k - 1] + 2 * e[k] + e[k + 1] + 2) >> 2);
            }
        return;
    }
    case kDiagDownLeft:
        // averages a top and a left diagonal
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                const int k = x + y;
                if (k < 6)
                    put(x, y, (t[k] + 2 * t[k + 1] + t[k + 2] + l[k] + 2 * l[k + 1] + l[k + 2] + 4) >> 3);
                else
                    put(x, y, (t[6] + t[7] + l[6] + l[7] + 2) >> 2);
            }
        return;
    case kVertRight:
        put(0, 0, (lt + t[0] + 1) >> 1); put(1, 2, (lt + t[0] + 1) >> 1);
        put(1, 0, (t[0] + t[1] + 1) >> 1); put(2, 2, (t[0] + t[1] + 1) >> 1);
        put(2, 0, (t[1] + t[2] + 1) >> 1); put(3, 2, (t[1] + t[2] + 1) >> 1);
        put(3, 0, (t[2] + t[3] + 1) >> 1);
        put(0, 1, (l[0] + 2 * lt + t[0] + 2) >> 2); put(1, 3, (l[0] + 2 * lt + t[0] + 2) >> 2);
        put(1, 1, (lt + 2 * t[0] + t[1] + 2) >> 2); put(2, 3, (lt + 2 * t[0] + t[1] + 2) >> 2);
        put(2, 1, (t[0] + 2 * t[1] + t[2] + 2) >> 2); put(3, 3, (t[0] + 2 * t[1] + t[2] + 2) >> 2);
        put(3, 1, (t[1] + 2 * t[2] + t[3] + 2) >> 2);
        put(0, 2, (lt + 2 * l[0] + l[1] + 2) >> 2);
        put(0, 3, (l[0] + 2 * l[1] + l[2] + 2) >> 2);
        return;
    case kVertLeft:
        put(0, 0, (2 * t[0] + 2 * t[1] + l[1] + 2 * l[2] + l[3] + 4) >> 3);
        put(1, 0, (t[1] + t[2] + 1) >> 1); put(0, 2, (t[1] + t[2] + 1) >> 1);
        put(2, 0, (t[2] + t[3] + 1) >> 1); put(1, 2, (t[2] + t[3] + 1) >> 1);
        put(3, 0, (t[3] + t[4] + 1) >> 1); put(2, 2, (t[3] + t[4] + 1) >> 1);
        put(3, 2, (t[4] + t[5] + 1) >> 1);
        put(0, 1, (t[0] + 2 * t[1] + t[2] + l[2] + 2 * l[3] + l[4] + 4) >> 3);
        put(1, 1, (t[1] + 2 * t[2] + t[3] + 2) >> 2); put(0, 3, (t[1] + 2 * t[2] + t[3] + 2) >> 2);
        put(2, 1, (t[2] + 2 * t[3] + t[4] + 2) >> 2); put(1, 3, (t[2] + 2 * t[3] + t[4] + 2) >> 2);
        put(3, 1, (t[3] + 2 * t[4] + t[5] + 2) >> 2); put(2, 3, (t[3] + 2 * t[4] + t[5] + 2) >> 2);
        put(3, 3, (t[4] + 2 * t[5] + t[6] + 2) >> 2);
        return;
    case kHorUp: {
        put(0, 0, (t[1] + 2 * t[2] + t[3] + 2 * l[0] + 2 * l[1] + 4) >> 3);
        put(1, 0, (t[2] + 2 * t[3] + t[4] + l[0] + 2 * l[1] + l[2] + 4) >> 3);
        int v = (t[3] + 2 * t[4] + t[5] + 2 * l[1] + 2 * l[2] + 4) >> 3; put(2, 0, v); put(0, 1, v);
        v = (t[4] + 2 * t[5] + t[6] + l[1] + 2 * l[2] + l[3] + 4) >> 3; put(3, 0, v); put(1, 1, v);
        v = (t[5] + 2 * t[6] + t[7] + 2 * l[2] + 2 * l[3] + 4) >> 3; put(2, 1, v); put(0, 2, v);
        v = (t[6] + 3 * t[7] + l[2] + 3 * l[3] + 4) >> 3; put(3, 1, v); put(1, 2, v);
        v = (l[3] + 2 * l[4] + l[5] + 2) >> 2; put(3, 2, v); put(1, 3, v);
        v = (t[6] + t[7] + l[3] + l[4] + 2) >> 2; put(0, 3, v); put(2, 2, v);
        put(2, 3, (l[4] + l[5] + 1) >> 1);
        put(3, 3, (l[4] + 2 * l[5] + l[6] + 2) >> 2);
        return;
    }
    case kHorDown:
    default:
        put(0, 0, (lt + l[0] + 1) >> 1); put(2, 1, (lt + l[0] + 1) >> 1);
        put(1, 0, (l[0] + 2 * lt + t[0] + 2) >> 2); put(3, 1, (l[0] + 2 * lt + t[0] + 2) >> 2);
        put(2, 0, (lt + 2 * t[0] + t[1] + 2) >> 2);
        put(3, 0, (t[0] + 2 * t[1] + t[2] + 2) >> 2);
        put(0, 1, (l[0] + l[1] + 1) >> 1); put(2, 2, (l[0] + l[1] + 1) >> 1);
        put(1, 1, (lt + 2 * l[0] + l[1] + 2) >> 2); put(3, 2, (lt + 2 * l[0] + l[1] + 2) >> 2);
        put(0, 2, (l[1] + l[2] + 1) >> 1); put(2, 3, (l[1] + l[2] + 1) >> 1);
        put(1, 2, (l[0] + 2 * l[1] + l[2] + 2) >> 2); put(3, 3, (l[0] + 2 * l[1] + l[2] + 2) >> 2);
        put(0, 3, (l[2] + l[3] + 1) >> 1);
        put(1, 3, (l[1] + 2 * l[2] + l[3] + 2) >> 2);
        return;
    }
}

void PredictBlock(std::uint8_t *out, int size, const std::uint8_t *at, std::ptrdiff_t stride, int mode, bool up,
                  bool left)
{
    const int n = size * size;
    if (!up && !left) {
        for (int i = 0; i < n; ++i)
            out[i] = 128;
        return;
    }
    if (!up && (mode == k16Plane || mode == k16Vert))
        mode = k16Hor;
    else if (!left && (mode == k16Plane || mode == k16Hor))
        mode = k16Vert;
    const int shift = size == 16 ? 4 : 3;
    switch (mode) {
    case k16Dc: {
        int st = 0, sl = 0;
        for (int i = 0; i < size; ++i) {
            if (up)
                st += at[i - stride];
            if (left)
                sl += at[i * stride - 1];
        }
        int v;
        if (up && left)
            v = (st + sl + size) >> (shift + 1);
        else
            v = ((up ? st : sl) + size / 2) >> shift;
        for (int i = 0; i < n; ++i)
            out[i] = static_cast<std::uint8_t>(v);
        return;
    }
    case k16Vert:
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                out[y * size + x] = at[x - stride];
        return;
    case k16Hor:
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                out[y * size + x] = at[y * stride - 1];
        return;
    default: {
        int H = 0, V = 0;
        for (int k = 1; k <= 8; ++k) {
            H += k * (at[-stride + 7 + k] - at[-stride + 7 - k]);
            V += k * (at[(7 + k) * stride - 1] - at[(7 - k) * stride - 1]);
        }
        H = (H + (H >> 2)) >> 4;
        V = (V + (V >> 2)) >> 4;
        const int a = 16 * (at[15 * stride - 1] + at[-stride + 15] + 1) - 7 * (V + H);
        for (int j = 0; j < 16; ++j) {
            const int b = a + j * V;
            for (int i = 0; i < 16; ++i)
                out[16 * j + i] = Clip8((b + i * H) >> 5);
        }
        return;
    }
    }
}

void LumaMc(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *ref, std::ptrdiff_t stride, int mvx, int mvy,
            int w, int h)
{
    fast::LumaMc(dst, ds, ref + (mvy >> 2) * stride + (mvx >> 2), stride, mvx & 3, mvy & 3, w, h);
}

void ChromaVector(int mvx, int mvy, int &ix, int &fx, int &iy, int &fy)
{
    const int cx = mvx / 2, cy = mvy / 2; // truncation toward zero, then floor below
    ix = cx >> 2;
    fx = (cx & 3) << 1;
    iy = cy >> 2;
    fy = (cy & 3) << 1;
    if (fx == 6 && fy == 6)
        fx = fy = 4;
}

void ChromaMc(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *ref, std::ptrdiff_t stride, int mvx, int mvy,
              int w, int h)
{
    int ix, fx, iy, fy;
    ChromaVector(mvx, mvy, ix, fx, iy, fy);
    fast::ChromaMc(dst, ds, ref + iy * stride + ix, stride, fx, fy, CodeTables::Get().chromaBias[fy >> 1][fx >> 1], w,
                   h);
}

namespace plain {

namespace {

// 6-tap filter of one phase: (p[-2] + p[3] - 5(p[-1] + p[2]) + c1 p[0] + c2 p[1] + round) >> shift,
// clipped to 8 bits. Phase 2 is the half-pel filter, 1 and 3 the quarter-pel ones.
template <int F>
inline int Tap(const std::uint8_t *p, std::ptrdiff_t s)
{
    constexpr int c1 = F == 1 ? 52 : 20, c2 = F == 3 ? 52 : 20, shift = F == 2 ? 5 : 6;
    const int v = (p[-2 * s] + p[3 * s] - 5 * (p[-s] + p[2 * s]) + c1 * p[0] + c2 * p[s] + (1 << (shift - 1))) >> shift;
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}

template <int FX, int FY, int W>
void McPhase(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *src, std::ptrdiff_t stride, int h)
{
    if constexpr (FX == 0 && FY == 0) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < W; ++x)
                dst[y * ds + x] = src[y * stride + x];
    } else if constexpr (FX == 3 && FY == 3) { // bilinear at this phase, not the 6-tap path
        for (int y = 0; y < h; ++y) {
            const std::uint8_t *p = src + y * stride;
            for (int x = 0; x < W; ++x)
                dst[y * ds + x] = static_cast<std::uint8_t>((p[x] + p[x + 1] + p[x + stride] + p[x + stride + 1] + 2) >> 2);
        }
    } else if constexpr (FY == 0) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < W; ++x)
                dst[y * ds + x] = static_cast<std::uint8_t>(Tap<FX>(src + y * stride + x, 1));
    } else if constexpr (FX == 0) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < W; ++x)
                dst[y * ds + x] = static_cast<std::uint8_t>(Tap<FY>(src + y * stride + x, stride));
    } else {
        // horizontal pass on rows -2..h+2, clipped to 8 bits, then vertical
        std::uint8_t tmp[21 * W];
        for (int y = 0; y < h + 5; ++y)
            for (int x = 0; x < W; ++x)
                tmp[y * W + x] = static_cast<std::uint8_t>(Tap<FX>(src + (y - 2) * stride + x, 1));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < W; ++x)
                dst[y * ds + x] = static_cast<std::uint8_t>(Tap<FY>(tmp + (y + 2) * W + x, W));
    }
}

using McFn = void (*)(std::uint8_t *, std::ptrdiff_t, const std::uint8_t *, std::ptrdiff_t, int);

template <int W, int... P>
constexpr std::array<McFn, 16> MakeMcTable(std::integer_sequence<int, P...>)
{
    return {&McPhase<P % 4, P / 4, W>...};
}

constexpr std::array<McFn, 16> kMc16 = MakeMcTable<16>(std::make_integer_sequence<int, 16>{});
constexpr std::array<McFn, 16> kMc8 = MakeMcTable<8>(std::make_integer_sequence<int, 16>{});
constexpr std::array<McFn, 16> kMc4 = MakeMcTable<4>(std::make_integer_sequence<int, 16>{});

} // namespace

void LumaMc(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *src, std::ptrdiff_t stride, int fx, int fy, int w,
            int h)
{
    const auto &table = w == 16 ? kMc16 : (w == 8 ? kMc8 : kMc4);
    table[static_cast<std::size_t>(fx + 4 * fy)](dst, ds, src, stride, h);
}

void ChromaMc(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *src, std::ptrdiff_t stride, int fx, int fy,
              int bias, int w, int h)
{
    if (!fx && !fy) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                dst[y * ds + x] = src[y * stride + x];
        return;
    }
    const int A = (8 - fx) * (8 - fy), B = fx * (8 - fy), C = (8 - fx) * fy, D = fx * fy;
    for (int y = 0; y < h; ++y) {
        const std::uint8_t *p = src + y * stride;
        for (int x = 0; x < w; ++x)
            dst[y * ds + x] =
                static_cast<std::uint8_t>((A * p[x] + B * p[x + 1] + C * p[x + stride] + D * p[x + stride + 1] + bias) >> 6);
    }
}

// Multiplying by the step's reciprocal lands within a few units in the last place of the division
// (a billionth, at the largest magnitudes); only a product that close to a whole number could
// truncate to another one, and there the division itself decides.
bool QuantiseMagnitudes(const int C[16], const int steps[16], double norm, double round, int m[16])
{
    constexpr double kDoubt = 1e-6;
    double inv[16];
    int lastStep = 0;
    double lastInv = 0;
    for (int i = 0; i < 16; ++i) {
        if (steps[i] != lastStep) {
            lastStep = steps[i];
            lastInv = norm / lastStep;
        }
        inv[i] = lastInv;
    }
    int doubtful = 0, any = 0;
    for (int i = 0; i < 16; ++i) {
        const double a = std::abs(C[i]) * inv[i] + round;
        const int lo = static_cast<int>(a - kDoubt), hi = static_cast<int>(a + kDoubt);
        m[i] = lo;
        doubtful |= lo != hi;
        any |= lo;
    }
    if (!doubtful)
        return any != 0;
    any = 0;
    for (int i = 0; i < 16; ++i) {
        m[i] = static_cast<int>(std::abs(C[i]) * norm / steps[i] + round);
        any |= m[i];
    }
    return any != 0;
}

void ForwardTransform(const int x[16], int out[16])
{
    int t[16];
    for (int r = 0; r < 4; ++r) {
        const int *p = x + 4 * r;
        const int s03 = p[0] + p[3], d03 = p[0] - p[3], s12 = p[1] + p[2], d12 = p[1] - p[2];
        t[4 * r + 0] = 13 * (s03 + s12);
        t[4 * r + 1] = 17 * d03 + 7 * d12;
        t[4 * r + 2] = 13 * (s03 - s12);
        t[4 * r + 3] = 7 * d03 - 17 * d12;
    }
    for (int k = 0; k < 4; ++k) {
        const int s03 = t[k] + t[12 + k], d03 = t[k] - t[12 + k], s12 = t[4 + k] + t[8 + k], d12 = t[4 + k] - t[8 + k];
        out[k] = 13 * (s03 + s12);
        out[4 + k] = 17 * d03 + 7 * d12;
        out[8 + k] = 13 * (s03 - s12);
        out[12 + k] = 7 * d03 - 17 * d12;
    }
}

int Sad(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs, int w, int h)
{
    int s = 0;
    for (int y = 0; y < h; ++y, a += as, b += bs)
        for (int x = 0; x < w; ++x)
            s += std::abs(a[x] - b[x]);
    return s;
}

int Sad16(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs)
{
    int s = 0;
    for (int y = 0; y < 16; ++y, a += as, b += bs)
        for (int x = 0; x < 16; ++x)
            s += std::abs(a[x] - b[x]);
    return s;
}

int Satd4x4(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs)
{
    int d[16], t[16];
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            d[4 * y + x] = a[y * as + x] - b[y * bs + x];
    for (int y = 0; y < 4; ++y) {
        const int *p = d + 4 * y;
        const int s01 = p[0] + p[1], d01 = p[0] - p[1], s23 = p[2] + p[3], d23 = p[2] - p[3];
        t[4 * y + 0] = s01 + s23;
        t[4 * y + 1] = s01 - s23;
        t[4 * y + 2] = d01 - d23;
        t[4 * y + 3] = d01 + d23;
    }
    int s = 0;
    for (int x = 0; x < 4; ++x) {
        const int s01 = t[x] + t[4 + x], d01 = t[x] - t[4 + x], s23 = t[8 + x] + t[12 + x], d23 = t[8 + x] - t[12 + x];
        s += std::abs(s01 + s23) + std::abs(s01 - s23) + std::abs(d01 - d23) + std::abs(d01 + d23);
    }
    return s >> 1;
}

void Satd4x4Pair(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *p0, const std::uint8_t *p1,
                 std::ptrdiff_t ps, int out[2])
{
    out[0] = plain::Satd4x4(a, as, p0, ps);
    out[1] = plain::Satd4x4(a, as, p1, ps);
}

int Satd(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs, int w, int h)
{
    int s = 0;
    for (int y = 0; y < h; y += 4)
        for (int x = 0; x < w; x += 4)
            s += plain::Satd4x4(a + y * as + x, as, b + y * bs + x, bs);
    return s;
}

std::uint64_t Sse(const std::uint8_t *a, std::ptrdiff_t as, const std::uint8_t *b, std::ptrdiff_t bs, int w, int h)
{
    std::uint64_t s = 0;
    for (int y = 0; y < h; ++y, a += as, b += bs)
        for (int x = 0; x < w; ++x) {
            const int d = a[x] - b[x];
            s += static_cast<std::uint64_t>(d * d);
        }
    return s;
}

} // namespace plain

} // namespace corva::rv40::dsp
