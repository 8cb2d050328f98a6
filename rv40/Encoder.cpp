#include "rv40/Encoder.h"

#include "rv40/BitWriter.h"
#include "rv40/CodeTables.h"
#include "rv40/Dsp.h"
#include "rv40/LoopFilter.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>

namespace corva::rv40 {

namespace {

constexpr int kMaxWidth = 2048, kMaxHeight = 1152;
constexpr int kLumaBorder = 64, kChromaBorder = 32;
// Motion never reaches further outside the picture than this, so MC reads stay in the border.
constexpr int kMaxOutside = 40;
// At most this many bands of a picture are coded at once.
constexpr int kMaxBands = 8;

enum MbType : std::uint8_t {
    kI4 = 0, kI16 = 1, kP16 = 2, kP8 = 3, kBFwd = 4, kBBwd = 5, kSkip = 6, kBDirect = 7, kP16x8 = 8, kP8x16 = 9,
    kBBidir = 10
};

// P types whose vectors are per 8x8 block (mv8) rather than one for the MB.
bool Partitioned(int type) { return type == kP8 || type == kP16x8 || type == kP8x16; }

// Bit counting stand-in for BitWriter, used for rate estimates.
struct BitCounter {
    std::size_t bits = 0;
    void Put(std::uint32_t, int n) { bits += static_cast<std::size_t>(n); }
    void PutBit(bool) { ++bits; }
};

template <class W>
inline void PutVlc(W &w, const Vlc &v)
{
    w.Put(v.code, v.len);
}

struct Plane {
    std::vector<std::uint8_t> buf;
    int w = 0, h = 0, border = 0;
    std::ptrdiff_t stride = 0;
    std::uint8_t *o = nullptr;

    void Init(int width, int height, int b)
    {
        w = width;
        h = height;
        border = b;
        stride = width + 2 * b;
        buf.assign(static_cast<std::size_t>(stride * (height + 2 * b)), 0);
        o = buf.data() + b * stride + b;
    }
    std::uint8_t *At(int x, int y) { return o + y * stride + x; }
    const std::uint8_t *At(int x, int y) const { return o + y * stride + x; }

    // Replicates the edge pixels into the border, as a decoder's clamped reads would see them.
    void Extend()
    {
        for (int y = 0; y < h; ++y) {
            std::uint8_t *r = At(0, y);
            std::memset(r - border, r[0], static_cast<std::size_t>(border));
            std::memset(r + w, r[w - 1], static_cast<std::size_t>(border));
        }
        for (int y = 1; y <= border; ++y) {
            std::memcpy(At(-border, -y), At(-border, 0), static_cast<std::size_t>(stride));
            std::memcpy(At(-border, h - 1 + y), At(-border, h - 1), static_cast<std::size_t>(stride));
        }
    }
};

struct Picture {
    Plane p[3];
    void Init(int w16, int h16)
    {
        p[0].Init(w16, h16, kLumaBorder);
        p[1].Init(w16 / 2, h16 / 2, kChromaBorder);
        p[2].Init(w16 / 2, h16 / 2, kChromaBorder);
    }
};

struct Avail {
    bool left = false, top = false, topRight = false, topLeft = false;
};

struct MotionVector {
    int x = 0, y = 0;
    bool operator==(const MotionVector &) const = default;
};

int Median(int a, int b, int c) { return std::max(std::min(a, b), std::min(std::max(a, b), c)); }

// Levels of one macroblock and everything needed to write it.
struct MbCode {
    int type = kI16;
    int i16Mode = 0;
    std::int8_t modes[16] = {};
    std::int16_t levels[25][16] = {}; // 0..15 luma, 16..19 U, 20..23 V, 24 the 16x16 DC block
    std::uint32_t cbp = 0;            // 24 bits
    MotionVector mv;
    MotionVector mv8[4]; // P 8x8: top-left, top-right, bottom-left, bottom-right; halves repeat theirs
    MotionVector mvB;    // B: the backward vector; mv is the forward one, zero where there is none
};

// The quantiser's steps and code tables for one slice.
struct QuantSet {
    int q = 0;
    int lumaStep = 0, chromaDcStep = 0, chromaAcStep = 0, lumaDcStep = 0;
    int intraSet = 0, interSet = 0, modifier = 0;
    double lambda = 0, lambdaSse = 0;
};

std::uint32_t Rand(std::uint32_t &s)
{
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
}

} // namespace

// The rungs of a picture kept within a size: the largest level dropped at each (the first two
// at the picture's own quantiser and at the coarsest).
constexpr int kLevelFloors[] = {0, 0, 1, 2, 4, 8, 1 << 20};
constexpr int kCoarsest = 31;
// How far the quantiser is raised, in turn, before the coarsest.
constexpr int kStepsUp[] = {3, 6, 10};

struct Encoder::Impl {
    EncoderSettings settings;
    const CodeTables &T = CodeTables::Get();
    int mbw = 0, mbh = 0, nmb = 0, w16 = 0, h16 = 0;
    int mbStartBits = 0;
    bool small = false;
    // ref: the last coded I/P picture, prev: the one before it (B-pictures predict from both)
    Picture src, cur, ref, prev;
    bool haveRef = false, haveRecon = false;
    int refCount = 0;
    std::uint32_t refTs = 0, prevTs = 0; // their 13-bit times
    bool bPicture = false, showCur = false;
    // direct-mode vector scales and blend weights of the current B-picture, as the decoder
    // derives them from the three times
    int mvWeight1 = 8192, mvWeight2 = 8192, weight1 = 8192, weight2 = 8192;
    bool scaledWeight = false;
    // Direct MBs only for a picture timed between its references (either end included): outside,
    // the scales pass one and overflow the blend; with equal reference times decoders have
    // differed on the vectors.
    bool directAllowed = false;
    EncoderTestHooks testHooks;
    // Levels this small or smaller are dropped: 0 normally, more where a picture must be kept
    // within a size (the rungs below), read by the bands while they code.
    int levelFloor = 0;
    EncoderTestHooks hooks; // this picture's: the tests' own, or the skips of a repeat
    std::uint32_t rng = 0;

    // per-picture MB state
    std::vector<std::uint8_t> mbType;
    std::vector<FilterMb> filter;
    std::vector<std::int8_t> modes4;   // intra mode context per 4x4 block
    std::vector<MotionVector> mv8;     // vectors on the 8x8 grid
    std::vector<MotionVector> refMv8;  // the reference picture's, as search candidates and for direct MBs
    std::vector<std::uint8_t> refMbType; // the reference picture's MB types, for direct MBs
    std::vector<MbCode> records;       // every MB's levels and choices, to rewrite a slice
    std::vector<int> sliceOfMb;        // first MB of the slice each MB belongs to
    bool intraPicture = true;
    QuantSet qs;
    int intraMbs = 0;
    // The film's motion per picture as the last coded inter picture had it, and how many repeats
    // (copies, with no motion of their own) came since: a picture after them has moved that much
    // further, beyond where its neighbours' vectors point the search.
    MotionVector motionPerPicture;
    int repeatsSince = 0;
    MotionVector catchUp; // this picture's: the film's motion since its reference, repeats between
    bool haveCatchUp = false;

    explicit Impl(const EncoderSettings &s) : settings(s)
    {
        if (s.width < 16 || s.height < 16 || s.width > kMaxWidth || s.height > kMaxHeight || s.width % 4 ||
            s.height % 4)
            throw std::invalid_argument("rv40: picture size " + std::to_string(s.width) + "x" +
                                        std::to_string(s.height) +
                                        " cannot be coded (multiples of 4 from 16x16 to 2048x1152)");
        mbw = (s.width + 15) / 16;
        mbh = (s.height + 15) / 16;
        nmb = mbw * mbh;
        w16 = mbw * 16;
        h16 = mbh * 16;
        int i = 0;
        while (i < 5 && T.mbStartMax[i] < nmb - 1)
            ++i;
        mbStartBits = T.mbStartBits[i];
        small = s.width * s.height <= 176 * 144;
        src.Init(w16, h16);
        cur.Init(w16, h16);
        ref.Init(w16, h16);
        prev.Init(w16, h16);
        mbType.assign(static_cast<std::size_t>(nmb), kI16);
        filter.assign(static_cast<std::size_t>(nmb), {});
        modes4.assign(static_cast<std::size_t>(nmb * 16), 0);
        mv8.assign(static_cast<std::size_t>(nmb * 4), {});
        refMv8.assign(static_cast<std::size_t>(nmb * 4), {});
        refMbType.assign(static_cast<std::size_t>(nmb), kI16);
        records.assign(static_cast<std::size_t>(nmb), {});
        sliceOfMb.assign(static_cast<std::size_t>(nmb), 0);
    }

    // ------------------------------------------------------------------ setup
    void LoadSource(const PictureView &v)
    {
        if (v.width != settings.width || v.height != settings.height)
            throw std::invalid_argument("rv40: picture size differs from the encoder's");
        for (int c = 0; c < 3; ++c)
            if (!v.plane[c] || v.stride[c] < (c ? v.width / 2 : v.width))
                throw std::invalid_argument("rv40: picture plane missing or narrower than the picture");
        for (int c = 0; c < 3; ++c) {
            const int sw = c ? v.width / 2 : v.width, sh = c ? v.height / 2 : v.height;
            Plane &d = src.p[c];
            for (int y = 0; y < d.h; ++y) {
                const std::uint8_t *s = v.plane[c] + std::min(y, sh - 1) * v.stride[c];
                std::uint8_t *r = d.At(0, y);
                std::memcpy(r, s, static_cast<std::size_t>(sw));
                std::memset(r + sw, s[sw - 1], static_cast<std::size_t>(d.w - sw));
            }
        }
    }

    void SetQuant(int q)
    {
        qs.q = q;
        qs.lumaStep = T.qscale[q];
        qs.chromaAcStep = T.qscale[T.chromaQuantAc[q]];
        qs.chromaDcStep = T.qscale[T.chromaQuantDc[q]];
        qs.lumaDcStep = T.qscale[T.lumaDcQuantIntra[q]];
        SetCodeTables(0);
        // a step of qscale/16 in the coefficient domain is about qscale/24 in pixel units
        const double step = qs.lumaStep / 24.0;
        qs.lambda = 0.4 * step;
        qs.lambdaSse = 0.22 * step * step;
    }

    Avail AvailAt(int mbx, int mby) const
    {
        const int n = mby * mbw + mbx;
        const int d = n - sliceOfMb[static_cast<std::size_t>(n)];
        return {mbx > 0 && d >= 1, d >= mbw, mbx < mbw - 1 && d >= mbw - 1, mbx > 0 && d > mbw};
    }

    // ------------------------------------------------------------------ headers
    // The slice's code-table modifier moves the quantiser used to pick the tables.
    void SetCodeTables(int modifier)
    {
        int q = qs.q;
        if (modifier == 2 && q < 19)
            q += 10;
        else if (modifier && q < 26)
            q += 5;
        qs.modifier = modifier;
        qs.intraSet = T.vlcSetIntra[q];
        qs.interSet = T.vlcSetInter[q];
    }

    void SliceHeader(BitWriter &bw, std::uint32_t ts, int startMb)
    {
        bw.Put(0, 1);
        bw.Put(intraPicture ? 0 : (bPicture ? 3 : 2), 2);
        bw.Put(static_cast<std::uint32_t>(qs.q), 5);
        bw.Put(0, 2);
        bw.Put(static_cast<std::uint32_t>(qs.modifier), 2);
        bw.Put(0, 1);
        bw.Put(ts & 0x1FFF, 13);
        if (!intraPicture)
            bw.Put(1, 1); // same size as before
        else
            WriteSize(bw);
        bw.Put(static_cast<std::uint32_t>(startMb), mbStartBits);
    }

    static void Explicit(BitWriter &bw, int v)
    {
        v /= 4;
        while (v >= 255) {
            bw.Put(255, 8);
            v -= 255;
        }
        bw.Put(static_cast<std::uint32_t>(v), 8);
    }

    void WriteSize(BitWriter &bw) const
    {
        const int w = settings.width, h = settings.height;
        int wc = 7;
        for (int i = 0; i < 7; ++i)
            if (T.standardWidths[i] == w)
                wc = i;
        bw.Put(static_cast<std::uint32_t>(wc), 3);
        if (wc == 7)
            Explicit(bw, w);
        for (int i = 0; i < 6; ++i)
            if (T.standardHeights[i] == h) {
                bw.Put(static_cast<std::uint32_t>(i), 3);
                return;
            }
        if (h == T.standardHeights[8] || h == T.standardHeights[9]) {
            bw.Put(6, 3);
            bw.Put(h == T.standardHeights[9] ? 1 : 0, 1);
        } else if (h == T.standardHeights[10]) {
            bw.Put(7, 3);
            bw.Put(0, 1);
        } else {
            bw.Put(7, 3);
            bw.Put(1, 1);
            Explicit(bw, h);
        }
    }

    // ------------------------------------------------------------------ coefficients
    // Quantises an unscaled transform; first: positions 0 is skipped (16x16 AC blocks).
    bool Quantise(const int C[16], const int steps[16], double round, std::int16_t lv[16], bool skipFirst) const
    {
        constexpr double kNorm = 16384.0 / 456976.0; // 1024/676^2 to the coefficient, then 16/step
        bool any = false;
        for (int i = 0; i < 16; ++i) {
            if (skipFirst && i == 0) {
                lv[i] = 0;
                continue;
            }
            const double a = std::abs(C[i]) * kNorm / steps[i];
            int m = static_cast<int>(a + round);
            const int lim = (i == 0 || i == 2 || i == 8 || i == 10) ? 536 : 535;
            if (m > lim)
                m = lim;
            if (m <= levelFloor)
                m = 0;
            lv[i] = static_cast<std::int16_t>(C[i] < 0 ? -m : m);
            any |= m != 0;
        }
        return any;
    }

    static int Dequant(int level, int step) { return level ? (level * step + 8) >> 4 : 0; }

    // Keeps every column inside what a 16-bit first transform pass computes exactly.
    static void FitColumns(std::int16_t lv[16], const int steps[16], int dc)
    {
        for (int c = 0; c < 4; ++c) {
            for (;;) {
                int sum = 0, big = -1;
                for (int r = 0; r < 4; ++r) {
                    const int i = 4 * r + c;
                    sum += (i == 0 && dc) ? std::abs(dc) : std::abs(Dequant(lv[i], steps[i]));
                    if (lv[i] && !(i == 0 && dc) && (big < 0 || std::abs(lv[i]) > std::abs(lv[big])))
                        big = i;
                }
                if (17 * sum <= 32767 || big < 0)
                    break;
                lv[big] = static_cast<std::int16_t>(lv[big] > 0 ? lv[big] - 1 : lv[big] + 1);
            }
        }
    }

    static bool NonZero(const std::int16_t lv[16])
    {
        for (int i = 0; i < 16; ++i)
            if (lv[i])
                return true;
        return false;
    }

    static void Residual(const std::uint8_t *s, std::ptrdiff_t ss, const std::uint8_t *p, std::ptrdiff_t ps, int r[16])
    {
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                r[4 * y + x] = s[y * ss + x] - p[y * ps + x];
    }

    // Adds the dequantised levels to the prediction already in dst.
    static void Reconstruct(const std::int16_t lv[16], const int steps[16], int dc, bool useDc, std::uint8_t *dst,
                            std::ptrdiff_t stride)
    {
        int c[16];
        bool any = useDc && dc;
        for (int i = 0; i < 16; ++i) {
            c[i] = Dequant(lv[i], steps[i]);
            any |= c[i] != 0;
        }
        if (useDc)
            c[0] = dc;
        if (any)
            dsp::InverseTransformAdd(c, dst, stride);
    }

    template <class W>
    void WriteEscape(W &w, const Vlc *coeff, int e) const
    {
        if (e <= 23) {
            PutVlc(w, coeff[e]);
            return;
        }
        int n = 0;
        while ((e - 22) >> (n + 1))
            ++n;
        PutVlc(w, coeff[23 + n]);
        w.Put(static_cast<std::uint32_t>(e - 22 - (1 << n)), n);
    }

    template <class W>
    void WriteBlock(W &w, const std::int16_t lv[16], const Vlc *first, const Vlc *second, const Vlc *third,
                    const Vlc *coeff) const
    {
        int codes[4];
        for (int g = 0; g < 4; ++g) {
            int c = 0;
            for (int k = 0; k < 4; ++k) {
                const int m = std::abs(lv[T.codedPosition[4 * g + k]]);
                const int esc = k ? 2 : 3;
                c = 3 * c + std::min(m, esc);
            }
            codes[g] = c;
        }
        const int pat = (codes[1] ? 4 : 0) | (codes[2] ? 2 : 0) | (codes[3] ? 1 : 0);
        PutVlc(w, first[codes[0] * 8 + pat]);
        for (int g = 0; g < 4; ++g) {
            if (g && !codes[g])
                continue;
            if (g == 1 || g == 2)
                PutVlc(w, second[codes[g]]);
            else if (g == 3)
                PutVlc(w, third[codes[g]]);
            for (int k = 0; k < 4; ++k) {
                const int v = lv[T.codedPosition[4 * g + k]];
                if (!v)
                    continue;
                const int esc = k ? 2 : 3;
                const int m = std::abs(v);
                if (m >= esc)
                    WriteEscape(w, coeff, m - esc);
                w.Put(v < 0 ? 1 : 0, 1);
            }
        }
    }

    // cbp: bits 0..15 luma, 16..19 U, 20..23 V. intraTable: 0 (4x4 MB) or 1 (16x16); -1 inter.
    template <class W>
    void WriteCbp(W &w, std::uint32_t cbp, int intraTable) const
    {
        static constexpr int kQuadShift[4] = {0, 2, 8, 10};
        int pattern = 0;
        for (int k = 0; k < 4; ++k)
            if (cbp & (0x33u << kQuadShift[k]))
                pattern |= 8 >> k;
        int ccode = 0, extra[4], nextra = 0;
        for (int i = 0; i < 4; ++i) {
            const bool u = (cbp >> (16 + i)) & 1, v = (cbp >> (20 + i)) & 1;
            const int t = (u && v) ? 2 : ((u || v) ? 1 : 0);
            if (t == 1)
                extra[nextra++] = u ? 1 : 0;
            ccode = 3 * ccode + t;
        }
        const int sym = ccode * 16 + pattern;
        const int ones = std::popcount(static_cast<unsigned>(pattern)) - 1;
        if (intraTable >= 0)
            PutVlc(w, T.intraCbppat[qs.intraSet][intraTable][sym]);
        else
            PutVlc(w, T.interCbppat[qs.interSet][sym]);
        for (int k = 0; k < 4; ++k) {
            if (!(pattern & (8 >> k)))
                continue;
            const int sub = static_cast<int>((cbp >> kQuadShift[k]) & 0x33u);
            const int s = T.cbpSymbol[sub];
            if (intraTable >= 0)
                PutVlc(w, T.intraCbp[qs.intraSet][2 * ones + intraTable][s]);
            else
                PutVlc(w, T.interCbp[qs.interSet][ones][s]);
        }
        for (int i = 0; i < nextra; ++i)
            w.Put(static_cast<std::uint32_t>(extra[i]), 1);
    }

    template <class W>
    void WriteResidual(W &w, const MbCode &mb) const
    {
        const bool intra = mb.type == kI4 || mb.type == kI16;
        if (intra) {
            const int s = qs.intraSet;
            WriteCbp(w, mb.cbp, mb.type == kI16 ? 1 : 0);
            if (mb.type == kI16)
                WriteBlock(w, mb.levels[24], T.intraFirst[s][3], T.intraSecond[s][0], T.intraThird[s][0],
                           T.intraCoeff[s]);
            const int lumaTable = mb.type == kI16 ? 2 : 1;
            for (int b = 0; b < 16; ++b)
                if (mb.cbp & (1u << b))
                    WriteBlock(w, mb.levels[b], T.intraFirst[s][lumaTable], T.intraSecond[s][0], T.intraThird[s][0],
                               T.intraCoeff[s]);
            for (int b = 16; b < 24; ++b)
                if (mb.cbp & (1u << b))
                    WriteBlock(w, mb.levels[b], T.intraFirst[s][0], T.intraSecond[s][1], T.intraThird[s][1],
                               T.intraCoeff[s]);
        } else {
            const int s = qs.interSet;
            WriteCbp(w, mb.cbp, -1);
            for (int b = 0; b < 16; ++b)
                if (mb.cbp & (1u << b))
                    WriteBlock(w, mb.levels[b], T.interFirst[s][0], T.interSecond[s][0], T.interThird[s][0],
                               T.interCoeff[s]);
            for (int b = 16; b < 24; ++b)
                if (mb.cbp & (1u << b))
                    WriteBlock(w, mb.levels[b], T.interFirst[s][1], T.interSecond[s][1], T.interThird[s][1],
                               T.interCoeff[s]);
        }
    }

    // ------------------------------------------------------------------ intra modes
    std::int8_t &Mode4(int bx, int by) { return modes4[static_cast<std::size_t>(by * 4 * mbw + bx)]; }

    // Mode of a neighbouring 4x4 block for the mode contexts; -1 when outside the slice.
    int ModeCtx(int mbx, int mby, const Avail &av, const std::int8_t *modes, int i, int j) const
    {
        if (i >= 0 && i < 4 && j >= 0 && j < 4)
            return modes[4 * j + i];
        if (j < 0) {
            if (!av.top || 4 * mbx + i >= 4 * mbw)
                return -1;
            return modes4[static_cast<std::size_t>((4 * mby - 1) * 4 * mbw + 4 * mbx + i)];
        }
        if (i < 0)
            return av.left ? modes4[static_cast<std::size_t>((4 * mby + j) * 4 * mbw + 4 * mbx - 1)] : -1;
        return -1;
    }

    template <class W>
    void WriteModes(W &w, int mbx, int mby, const Avail &av, const std::int8_t *m) const
    {
        for (int j = 0; j < 4; ++j) {
            if (j == 0 && !av.top) {
                int pat = 0;
                for (int i = 0; i < 4; ++i)
                    if (m[i] == dsp::kHor)
                        pat |= 8 >> i;
                PutVlc(w, T.aicTop[pat]);
                continue;
            }
            for (int i = 0; i < 4;) {
                const int A = ModeCtx(mbx, mby, av, m, i + 1, j - 1);
                const int B = ModeCtx(mbx, mby, av, m, i, j - 1);
                const int C = ModeCtx(mbx, mby, av, m, i - 1, j);
                if (i < 3 && A >= 0 && B >= 0 && C >= 0) {
                    const int k = T.aicPairContext[C][B][A];
                    if (k >= 0) {
                        PutVlc(w, T.aicPair[k][9 * m[4 * j + i] + m[4 * j + i + 1]]);
                        i += 2;
                        continue;
                    }
                }
                if (B >= 0 && C >= 0)
                    PutVlc(w, T.aicSingle[B + 10 * C][m[4 * j + i]]);
                else if (B < 2)
                    w.Put(m[4 * j + i] == dsp::kDc ? 1 : 0, 1);
                ++i;
            }
        }
    }

    static dsp::Avail4 LumaAvail4(const Avail &av, int i, int j)
    {
        dsp::Avail4 a;
        a.up = j ? true : av.top;
        a.left = i ? true : av.left;
        a.downLeft = i == 0 && av.left && j < 3;
        a.upRight = j == 0 ? (i < 3 ? av.top : av.topRight) : (i < 3);
        return a;
    }

    // ------------------------------------------------------------------ intra MBs
    int I16Cost(int mbx, int mby, const Avail &av, int &bestMode, bool satd)
    {
        const Plane &Y = cur.p[0];
        const std::uint8_t *at = Y.At(mbx * 16, mby * 16);
        const std::uint8_t *s = src.p[0].At(mbx * 16, mby * 16);
        std::uint8_t pred[256];
        int best = -1;
        for (int mode = 0; mode < 4; ++mode) {
            if ((mode == dsp::k16Vert && !av.top) || (mode == dsp::k16Hor && !av.left) ||
                (mode == dsp::k16Plane && !(av.top && av.left)))
                continue;
            dsp::PredictBlock(pred, 16, at, Y.stride, mode, av.top, av.left);
            const int c = satd ? dsp::Satd(s, src.p[0].stride, pred, 16, 16, 16) : dsp::Sad16(s, src.p[0].stride, pred, 16);
            if (best < 0 || c < best) {
                best = c;
                bestMode = mode;
            }
        }
        if (hooks.randomSeed && hooks.force == EncoderTestHooks::Kind::Any) {
            int valid[4], n = 0;
            for (int mode = 0; mode < 4; ++mode)
                if (!((mode == dsp::k16Vert && !av.top) || (mode == dsp::k16Hor && !av.left) ||
                      (mode == dsp::k16Plane && !(av.top && av.left))))
                    valid[n++] = mode;
            bestMode = valid[Rand(rng) % static_cast<std::uint32_t>(n)];
        }
        return best;
    }

    void CodeI16(int mbx, int mby, const Avail &av, int mode, MbCode &mb)
    {
        mb.type = kI16;
        mb.i16Mode = mode;
        mb.cbp = 0;
        Plane &Y = cur.p[0];
        std::uint8_t *at = Y.At(mbx * 16, mby * 16);
        const std::uint8_t *s = src.p[0].At(mbx * 16, mby * 16);
        const std::ptrdiff_t ss = src.p[0].stride;
        std::uint8_t pred[256];
        dsp::PredictBlock(pred, 16, at, Y.stride, mode, av.top, av.left);
        int C[16][16];
        int dcs[16];
        constexpr double kNorm = 1024.0 / 456976.0;
        for (int b = 0; b < 16; ++b) {
            const int i = b & 3, j = b >> 2;
            int r[16];
            Residual(s + 4 * j * ss + 4 * i, ss, pred + 64 * j + 4 * i, 16, r);
            dsp::ForwardTransform(r, C[b]);
            dcs[b] = static_cast<int>(std::lround(C[b][0] * kNorm));
        }
        int Cdc[16];
        dsp::ForwardTransform(dcs, Cdc);
        // scale so that the DC inverse (x*3 >> 11) lands where the 4x4 inverse expects
        int dcSteps[16];
        for (int k = 0; k < 16; ++k)
            dcSteps[k] = (k == 0 || k == 1 || k == 4) ? qs.lumaDcStep : qs.lumaStep;
        int CdcScaled[16];
        for (int k = 0; k < 16; ++k)
            CdcScaled[k] = static_cast<int>(std::lround(Cdc[k] * (2048.0 / 3.0 / 1024.0)));
        // CdcScaled * 1024/676^2 is the DC-domain coefficient Quantise expects
        std::int16_t *dl = mb.levels[24];
        Quantise(CdcScaled, dcSteps, 0.4, dl, false);
        int deq[16], dcRec[16];
        for (;;) {
            for (int k = 0; k < 16; ++k)
                deq[k] = Dequant(dl[k], dcSteps[k]);
            dsp::InverseDcBlock(deq, dcRec);
            int worst = 0;
            for (int k = 0; k < 16; ++k)
                worst = std::max(worst, std::abs(dcRec[k]));
            if (17 * worst <= 32767)
                break;
            int big = 0;
            for (int k = 1; k < 16; ++k)
                if (std::abs(dl[k]) > std::abs(dl[big]))
                    big = k;
            dl[big] = static_cast<std::int16_t>(dl[big] > 0 ? dl[big] - 1 : dl[big] + 1);
        }
        int acSteps[16];
        std::fill(acSteps, acSteps + 16, qs.lumaStep);
        for (int b = 0; b < 16; ++b) {
            const int i = b & 3, j = b >> 2;
            std::int16_t *lv = mb.levels[b];
            Quantise(C[b], acSteps, 1.0 / 3, lv, true);
            FitColumns(lv, acSteps, dcRec[b] ? dcRec[b] : 0);
            if (NonZero(lv))
                mb.cbp |= 1u << b;
            std::uint8_t *d = at + 4 * j * Y.stride + 4 * i;
            for (int y = 0; y < 4; ++y)
                std::memcpy(d + y * Y.stride, pred + (4 * j + y) * 16 + 4 * i, 4);
            Reconstruct(lv, acSteps, dcRec[b], true, d, Y.stride);
        }
        CodeIntraChroma(mbx, mby, av, mode == dsp::k16Plane ? dsp::k16Dc : mode, nullptr, mb);
    }

    void ChromaSteps(int steps[16]) const
    {
        steps[0] = qs.chromaDcStep;
        for (int i = 1; i < 16; ++i)
            steps[i] = qs.chromaAcStep;
    }

    // Bits of one inter 4x4 block's levels (luma or chroma tables).
    std::size_t InterBlockBits(const std::int16_t lv[16], bool chroma) const
    {
        const int s = qs.interSet, t = chroma ? 1 : 0;
        BitCounter c;
        WriteBlock(c, lv, T.interFirst[s][t], T.interSecond[s][t], T.interThird[s][t], T.interCoeff[s]);
        return c.bits;
    }

    // Quantises and reconstructs one 4x4 block whose prediction is in dst; true when it has
    // levels. With rd (inter blocks only), levels that remove less error than their bits are
    // worth are dropped: at coarse quantisers a lone level often costs more than the picture
    // gains from it.
    bool CodeBlock(const std::uint8_t *s, std::ptrdiff_t ss, std::uint8_t *dst, std::ptrdiff_t ds,
                   const int steps[16], double round, std::int16_t lv[16], bool rd, bool chroma)
    {
        int r[16], C[16];
        Residual(s, ss, dst, ds, r);
        dsp::ForwardTransform(r, C);
        Quantise(C, steps, round, lv, false);
        FitColumns(lv, steps, 0);
        if (!NonZero(lv))
            return false;
        if (rd) {
            std::uint8_t trial[16];
            for (int y = 0; y < 4; ++y)
                std::memcpy(trial + 4 * y, dst + y * ds, 4);
            Reconstruct(lv, steps, 0, false, trial, 4);
            const std::uint64_t without = dsp::Sse(s, ss, dst, ds, 4, 4);
            const std::uint64_t with = dsp::Sse(s, ss, trial, 4, 4, 4);
            // a coded block also sets its pattern bit; chroma keeps more, its errors smear colour
            const double bits = static_cast<double>(InterBlockBits(lv, chroma) + 1);
            const double lambda = chroma ? 0.5 * qs.lambdaSse : qs.lambdaSse;
            if (static_cast<double>(without) <= static_cast<double>(with) + lambda * bits) {
                std::fill(lv, lv + 16, std::int16_t{0});
                return false;
            }
            for (int y = 0; y < 4; ++y)
                std::memcpy(dst + y * ds, trial + 4 * y, 4);
            return true;
        }
        Reconstruct(lv, steps, 0, false, dst, ds);
        return true;
    }

    // Codes one chroma 4x4 block whose prediction is already in dst.
    void CodeChromaBlock(int c, int x, int y, std::uint8_t *dst, std::ptrdiff_t ds, double round, MbCode &mb, int idx)
    {
        int steps[16];
        ChromaSteps(steps);
        if (CodeBlock(src.p[c].At(x, y), src.p[c].stride, dst, ds, steps, round, mb.levels[idx], false, true))
            mb.cbp |= 1u << idx;
    }

    void CodeIntraChroma(int mbx, int mby, const Avail &av, int mode16, const std::int8_t *m4, MbCode &mb)
    {
        for (int c = 1; c <= 2; ++c) {
            Plane &P = cur.p[c];
            std::uint8_t *at = P.At(mbx * 8, mby * 8);
            std::uint8_t pred8[64];
            if (!m4) {
                dsp::PredictBlock(pred8, 8, at, P.stride, mode16, av.top, av.left);
                for (int y = 0; y < 8; ++y)
                    std::memcpy(at + y * P.stride, pred8 + 8 * y, 8);
            }
            for (int b = 0; b < 4; ++b) {
                const int bi = b & 1, bj = b >> 1;
                std::uint8_t *d = at + 4 * bj * P.stride + 4 * bi;
                if (m4) {
                    dsp::Avail4 a;
                    a.up = bj ? true : av.top;
                    a.left = bi ? true : av.left;
                    a.downLeft = bi == 0 && bj == 0;
                    a.upRight = bj == 0 ? (bi == 0 ? av.top : av.topRight) : (bi == 0);
                    std::uint8_t p4[16];
                    dsp::Predict4x4(p4, d, P.stride, m4[8 * bj + 2 * bi], a);
                    for (int y = 0; y < 4; ++y)
                        std::memcpy(d + y * P.stride, p4 + 4 * y, 4);
                }
                CodeChromaBlock(c, mbx * 8 + 4 * bi, mby * 8 + 4 * bj, d, P.stride, 1.0 / 3, mb,
                                (c == 1 ? 16 : 20) + b);
            }
        }
    }

    // Picks and codes the 16 4x4 modes greedily block by block; returns the estimated cost.
    int CodeI4(int mbx, int mby, const Avail &av, MbCode &mb, bool satd)
    {
        mb.type = kI4;
        mb.cbp = 0;
        Plane &Y = cur.p[0];
        const std::ptrdiff_t ss = src.p[0].stride;
        int steps[16];
        std::fill(steps, steps + 16, qs.lumaStep);
        int total = 0;
        const bool random = hooks.randomSeed != 0;
        for (int j = 0; j < 4; ++j) {
            for (int i = 0; i < 4; ++i) {
                const int b = 4 * j + i;
                std::uint8_t *d = Y.At(mbx * 16 + 4 * i, mby * 16 + 4 * j);
                const std::uint8_t *s = src.p[0].At(mbx * 16 + 4 * i, mby * 16 + 4 * j);
                const dsp::Avail4 a = LumaAvail4(av, i, j);
                int allowed[9], n = 0;
                if (j == 0 && !av.top) {
                    allowed[n++] = dsp::kDc;
                    allowed[n++] = dsp::kHor;
                } else if (i == 0 && !av.left) {
                    const int top = ModeCtx(mbx, mby, av, mb.modes, i, j - 1);
                    allowed[n++] = dsp::kDc;
                    if (top < 2)
                        allowed[n++] = dsp::kVert;
                } else {
                    for (int k = 0; k < 9; ++k)
                        allowed[n++] = k;
                }
                const int top = ModeCtx(mbx, mby, av, mb.modes, i, j - 1);
                const int left = ModeCtx(mbx, mby, av, mb.modes, i - 1, j);
                std::uint8_t pred[16], bestPred[16];
                int best = -1, bestMode = 0;

                if (random) {
                    bestMode = allowed[Rand(rng) % static_cast<std::uint32_t>(n)];
                    dsp::Predict4x4(bestPred, d, Y.stride, bestMode, a);
                    best = dsp::Satd4x4(s, ss, bestPred, 4);
                } else {
                    for (int k = 0; k < n; ++k) {
                        const int m = allowed[k];
                        dsp::Predict4x4(pred, d, Y.stride, m, a);
                        const int dist = satd ? dsp::Satd4x4(s, ss, pred, 4) : dsp::Sad(s, ss, pred, 4, 4, 4);
                        const int bits = (m == top || m == left) ? 1 : (m == dsp::kDc ? 2 : 4);
                        const int c = dist + static_cast<int>(qs.lambda * bits);
                        if (best < 0 || c < best) {
                            best = c;
                            bestMode = m;
                            std::memcpy(bestPred, pred, 16);
                        }
                    }
                }
                total += best;
                mb.modes[b] = static_cast<std::int8_t>(bestMode);
                for (int y = 0; y < 4; ++y)
                    std::memcpy(d + y * Y.stride, bestPred + 4 * y, 4);
                if (CodeBlock(s, ss, d, Y.stride, steps, 1.0 / 3, mb.levels[b], false, false))
                    mb.cbp |= 1u << b;
            }
        }
        return total;
    }

    struct SavedMb {
        std::uint8_t y[256], u[64], v[64];
    };

    void SaveMb(int mbx, int mby, SavedMb &s) const
    {
        for (int y = 0; y < 16; ++y)
            std::memcpy(s.y + 16 * y, cur.p[0].At(mbx * 16, mby * 16 + y), 16);
        for (int y = 0; y < 8; ++y) {
            std::memcpy(s.u + 8 * y, cur.p[1].At(mbx * 8, mby * 8 + y), 8);
            std::memcpy(s.v + 8 * y, cur.p[2].At(mbx * 8, mby * 8 + y), 8);
        }
    }

    void RestoreMb(int mbx, int mby, const SavedMb &s)
    {
        for (int y = 0; y < 16; ++y)
            std::memcpy(cur.p[0].At(mbx * 16, mby * 16 + y), s.y + 16 * y, 16);
        for (int y = 0; y < 8; ++y) {
            std::memcpy(cur.p[1].At(mbx * 8, mby * 8 + y), s.u + 8 * y, 8);
            std::memcpy(cur.p[2].At(mbx * 8, mby * 8 + y), s.v + 8 * y, 8);
        }
    }

    // One candidate has just been coded into the picture: kept when it costs less than the best
    // so far; either way the picture goes back to how it was before the try.
    void KeepIfCheaper(int mbx, int mby, double cost, const MbCode &m, double &bestCost, MbCode &bestMb,
                       SavedMb &bestPixels, const SavedMb &before)
    {
        if (cost < bestCost) {
            bestCost = cost;
            bestMb = m;
            SaveMb(mbx, mby, bestPixels);
        }
        RestoreMb(mbx, mby, before);
    }

    std::uint64_t MbSse(int mbx, int mby) const
    {
        return dsp::Sse(cur.p[0].At(mbx * 16, mby * 16), cur.p[0].stride, src.p[0].At(mbx * 16, mby * 16),
                        src.p[0].stride, 16, 16) +
               dsp::Sse(cur.p[1].At(mbx * 8, mby * 8), cur.p[1].stride, src.p[1].At(mbx * 8, mby * 8),
                        src.p[1].stride, 8, 8) +
               dsp::Sse(cur.p[2].At(mbx * 8, mby * 8), cur.p[2].stride, src.p[2].At(mbx * 8, mby * 8),
                        src.p[2].stride, 8, 8);
    }

    // Bits of an intra MB as it would be written (skip run aside).
    std::size_t IntraBits(int mbx, int mby, const Avail &av, const MbCode &mb) const
    {
        BitCounter c;
        if (intraPicture)
            c.bits += mb.type == kI16 ? 3 : 2;
        else
            c.bits += TypeCode(PtypeTable(mbx, mby, av), mb.type).len + (mb.type == kI16 ? 2u : 0u);
        if (mb.type == kI4)
            WriteModes(c, mbx, mby, av, mb.modes);
        WriteResidual(c, mb);
        return c.bits;
    }

    double Rd(std::uint64_t sse, std::size_t bits) const
    {
        return static_cast<double>(sse) + qs.lambdaSse * static_cast<double>(bits);
    }

    // Decides and codes an intra MB into mb and the reconstruction.
    void CodeIntra(int mbx, int mby, const Avail &av, MbCode &mb)
    {
        if (settings.effort == Effort::Thorough && hooks.force == EncoderTestHooks::Kind::Any && !hooks.randomSeed) {
            // both kinds coded for real; the cheaper in distortion plus rate wins
            int mode16 = 0;
            I16Cost(mbx, mby, av, mode16, true);
            SavedMb before, with16;
            SaveMb(mbx, mby, before);
            MbCode a;
            CodeI16(mbx, mby, av, mode16, a);
            const double j16 = Rd(MbSse(mbx, mby), IntraBits(mbx, mby, av, a));
            SaveMb(mbx, mby, with16);
            RestoreMb(mbx, mby, before);
            CodeI4(mbx, mby, av, mb, true);
            CodeIntraChroma(mbx, mby, av, 0, mb.modes, mb);
            const double j4 = Rd(MbSse(mbx, mby), IntraBits(mbx, mby, av, mb));
            if (j16 <= j4) {
                RestoreMb(mbx, mby, with16);
                mb = a;
            }
            return;
        }
        const bool satd = settings.effort != Effort::Quickest;
        int mode16 = 0;
        const int cost16 = I16Cost(mbx, mby, av, mode16, satd) + static_cast<int>(qs.lambda * 4);
        bool use4 = false;
        const bool try4 = settings.effort != Effort::Quickest || hooks.force == EncoderTestHooks::Kind::Intra4x4;
        if (hooks.force == EncoderTestHooks::Kind::Intra4x4) {
            use4 = true;
        } else if (hooks.force == EncoderTestHooks::Kind::Intra16x16 || !try4) {
            use4 = false;
        } else if (hooks.randomSeed) {
            use4 = Rand(rng) & 1;
        } else {
            MbCode trial;
            const int cost4 = CodeI4(mbx, mby, av, trial, satd) + static_cast<int>(qs.lambda * 16);
            if (cost4 < cost16) {
                mb = trial;
                CodeIntraChroma(mbx, mby, av, 0, mb.modes, mb);
                return;
            }
        }
        if (use4) {
            CodeI4(mbx, mby, av, mb, satd);
            CodeIntraChroma(mbx, mby, av, 0, mb.modes, mb);
        } else {
            CodeI16(mbx, mby, av, mode16, mb);
        }
    }

    // ------------------------------------------------------------------ inter
    // Code table for the MB type, from the neighbours' types (a skip counts as P 16x16 or direct).
    int PtypeTable(int mbx, int mby, const Avail &av) const
    {
        const int mb = mby * mbw + mbx;
        const int skipAs = bPicture ? kBDirect : kP16;
        auto typeOf = [&](int n) { return mbType[static_cast<std::size_t>(n)] == kSkip ? skipAs : int{mbType[static_cast<std::size_t>(n)]}; };
        int t = 0;
        if (av.top) {
            int cnt[12] = {};
            if (av.left)
                ++cnt[typeOf(mb - 1)];
            ++cnt[typeOf(mb - mbw)];
            if (av.topRight)
                ++cnt[typeOf(mb - mbw + 1)];
            if (av.topLeft)
                ++cnt[typeOf(mb - mbw - 1)];
            for (int k = 1; k < 12; ++k)
                if (cnt[k] > cnt[t])
                    t = k;
        } else if (av.left) {
            t = typeOf(mb - 1);
        }
        return bPicture ? T.btypeContext[t] : T.ptypeContext[t];
    }

    const Vlc &TypeCode(int table, int type) const { return bPicture ? T.btype[table][type] : T.ptype[table][type]; }

    MotionVector &Mv8(int bx, int by) { return mv8[static_cast<std::size_t>(by * 2 * mbw + bx)]; }
    const MotionVector &Mv8(int bx, int by) const { return mv8[static_cast<std::size_t>(by * 2 * mbw + bx)]; }

    MotionVector PredictMv(int mbx, int mby, const Avail &av) const
    {
        // the whole MB reads no block of its own
        const MotionVector none[4] = {};
        return PredictPart(mbx, mby, av, 0, 2, none);
    }

    int MvBits(const MotionVector &v, const MotionVector &p) const
    {
        return BitWriter::SeBits(v.x - p.x) + BitWriter::SeBits(v.y - p.y);
    }

    void ClampInteger(int mbx, int mby, int &x, int &y) const
    {
        const int x0 = mbx * 16, y0 = mby * 16;
        x = std::clamp(x, -kMaxOutside - x0, w16 + kMaxOutside - 16 - x0);
        y = std::clamp(y, -kMaxOutside - y0, h16 + kMaxOutside - 16 - y0);
    }

    bool VectorInRange(int mbx, int mby, const MotionVector &v) const
    {
        int x = v.x >> 2, y = v.y >> 2;
        const int ox = x, oy = y;
        ClampInteger(mbx, mby, x, y);
        // a fractional vector reads one more pixel; keep it strictly inside the clamp range
        return x == ox && y == oy && (v.x & 3 ? x < w16 + kMaxOutside - 16 - mbx * 16 : true) &&
               (v.y & 3 ? y < h16 + kMaxOutside - 16 - mby * 16 : true);
    }

    int SubpelCost(const Picture &from, int mbx, int mby, const MotionVector &v, const MotionVector &pred,
                   bool satd) const
    {
        std::uint8_t p[256];
        const Plane &R = from.p[0];
        dsp::LumaMc(p, 16, R.At(mbx * 16, mby * 16), R.stride, v.x, v.y, 16, 16);
        const std::uint8_t *s = src.p[0].At(mbx * 16, mby * 16);
        const int d = satd ? dsp::Satd(s, src.p[0].stride, p, 16, 16, 16) : dsp::Sad16(s, src.p[0].stride, p, 16);
        return d + static_cast<int>(qs.lambda * MvBits(v, pred));
    }

    // Motion search in picture from; extra is one more starting point (the co-located vector).
    MotionVector Search(const Picture &from, int mbx, int mby, const Avail &av, const MotionVector &pred,
                        const MotionVector &extra, int &costOut) const
    {
        const Plane &R = from.p[0];
        const std::uint8_t *s = src.p[0].At(mbx * 16, mby * 16);
        const std::ptrdiff_t ss = src.p[0].stride;
        const std::uint8_t *r0 = R.At(mbx * 16, mby * 16);
        auto intCost = [&](int x, int y) {
            const MotionVector v{4 * x, 4 * y};
            return dsp::Sad16(s, ss, r0 + y * R.stride + x, R.stride) + static_cast<int>(qs.lambda * MvBits(v, pred));
        };
        // starting points: zero, the prediction, the neighbours and the co-located vector
        MotionVector cands[7];
        int nc = 0;
        cands[nc++] = {};
        cands[nc++] = pred;
        if (av.left)
            cands[nc++] = Mv8(2 * mbx - 1, 2 * mby);
        if (av.top)
            cands[nc++] = Mv8(2 * mbx, 2 * mby - 1);
        if (av.topRight)
            cands[nc++] = Mv8(2 * mbx + 2, 2 * mby - 1);
        cands[nc++] = extra;
        if (haveCatchUp && &from == &ref)
            cands[nc++] = catchUp;
        int bx = 0, by = 0, best = intCost(0, 0);
        for (int k = 1; k < nc; ++k) {
            int x = (cands[k].x + 2) >> 2, y = (cands[k].y + 2) >> 2;
            ClampInteger(mbx, mby, x, y);
            const int c = intCost(x, y);
            if (c < best) {
                best = c;
                bx = x;
                by = y;
            }
        }
        const int range = settings.effort == Effort::Quickest ? 8 : (settings.effort == Effort::Quick ? 16 : 32);
        const int cx = bx, cy = by;
        // large diamond steps until the centre wins, then a small diamond
        static constexpr int kLarge[8][2] = {{0, -2}, {1, -1}, {2, 0}, {1, 1}, {0, 2}, {-1, 1}, {-2, 0}, {-1, -1}};
        static constexpr int kSmall[4][2] = {{0, -1}, {1, 0}, {0, 1}, {-1, 0}};
        for (int it = 0; it < range; ++it) {
            int nbx = bx, nby = by;
            for (const auto &d : kLarge) {
                int x = bx + d[0], y = by + d[1];
                if (std::abs(x - cx) > range || std::abs(y - cy) > range)
                    continue;
                ClampInteger(mbx, mby, x, y);
                const int c = intCost(x, y);
                if (c < best) {
                    best = c;
                    nbx = x;
                    nby = y;
                }
            }
            if (nbx == bx && nby == by)
                break;
            bx = nbx;
            by = nby;
        }
        for (const auto &d : kSmall) {
            int x = bx + d[0], y = by + d[1];
            ClampInteger(mbx, mby, x, y);
            const int c = intCost(x, y);
            if (c < best) {
                best = c;
                bx = x;
                by = y;
            }
        }
        if (settings.effort == Effort::Thorough) {
            // an exhaustive look close to the winner catches what the diamond stepped over
            const int ox = bx, oy = by;
            for (int y = oy - 3; y <= oy + 3; ++y)
                for (int x = ox - 3; x <= ox + 3; ++x) {
                    int xx = x, yy = y;
                    ClampInteger(mbx, mby, xx, yy);
                    const int c = intCost(xx, yy);
                    if (c < best) {
                        best = c;
                        bx = xx;
                        by = yy;
                    }
                }
        }
        // half then quarter pel with the real interpolation
        const bool satd = settings.effort == Effort::Thorough;
        MotionVector v{4 * bx, 4 * by};
        int vc = SubpelCost(from, mbx, mby, v, pred, satd);
        for (int step = 2; step >= 1; step >>= 1) {
            const MotionVector c0 = v;
            for (int dy = -step; dy <= step; dy += step)
                for (int dx = -step; dx <= step; dx += step) {
                    if (!dx && !dy)
                        continue;
                    const MotionVector t{c0.x + dx, c0.y + dy};
                    if (!VectorInRange(mbx, mby, t))
                        continue;
                    const int c = SubpelCost(from, mbx, mby, t, pred, satd);
                    if (c < vc) {
                        vc = c;
                        v = t;
                    }
                }
        }
        costOut = vc;
        return v;
    }

    // Inter prediction of a 16x16 MB straight into the reconstruction.
    void PredictInter(int mbx, int mby, const MotionVector &v)
    {
        const Plane &RY = ref.p[0];
        Plane &Y = cur.p[0];
        dsp::LumaMc(Y.At(mbx * 16, mby * 16), Y.stride, RY.At(mbx * 16, mby * 16), RY.stride, v.x, v.y, 16, 16);
        for (int c = 1; c <= 2; ++c) {
            const Plane &R = ref.p[c];
            Plane &P = cur.p[c];
            int vx = v.x, vy = v.y;
            if (hooks.mutateChromaRounding) { // a wrong rounding, for the negative test only
                vx = (v.x >> 1) * 2;
                vy = (v.y >> 1) * 2;
            }
            dsp::ChromaMc(P.At(mbx * 8, mby * 8), P.stride, R.At(mbx * 8, mby * 8), R.stride, vx, vy, 8, 8);
        }
    }

    // Vector prediction of 8x8 block k (0 TL, 1 TR, 2 BL, 3 BR) given the MB's earlier blocks.
    MotionVector PredictMv8(int mbx, int mby, const Avail &av, int k, const MotionVector own[4]) const
    {
        return PredictPart(mbx, mby, av, k, 1, own);
    }

    // Vector prediction of the partition whose top-left 8x8 block is k and which is `wide`
    // blocks wide, given the MB's blocks coded before it: left (A), above (B) and above the
    // partition's top-right corner (C; above-left for block 3) on the 8x8 grid. Blocks of this
    // MB count as there; the MB to the right never is.
    MotionVector PredictPart(int mbx, int mby, const Avail &av, int k, int wide, const MotionVector own[4]) const
    {
        const int bx = 2 * mbx + (k & 1), by = 2 * mby + (k >> 1);
        auto inside = [&](int x, int y) { return x >= 2 * mbx && x < 2 * mbx + 2 && y >= 2 * mby && y < 2 * mby + 2; };
        auto vec = [&](int x, int y) { return inside(x, y) ? own[(x - 2 * mbx) + 2 * (y - 2 * mby)] : Mv8(x, y); };
        auto usable = [&](int x, int y) {
            if (inside(x, y))
                return true;
            if (y == 2 * mby - 1)
                return x < 2 * mbx ? av.topLeft : (x < 2 * mbx + 2 ? av.top : av.topRight);
            return x < 2 * mbx && av.left;
        };
        const bool aOk = usable(bx - 1, by), bOk = usable(bx, by - 1);
        const int cx = k == 3 ? bx - 1 : bx + wide, cy = by - 1;
        const MotionVector A = aOk ? vec(bx - 1, by) : MotionVector{};
        const MotionVector B = bOk ? vec(bx, by - 1) : A;
        MotionVector C;
        if (usable(cx, cy))
            C = vec(cx, cy);
        else if (bOk && aOk)
            C = vec(bx - 1, by - 1);
        else
            C = A;
        return {Median(A.x, B.x, C.x), Median(A.y, B.y, C.y)};
    }

    // Refines one 8x8 block's vector around a start (integer then half and quarter pel).
    MotionVector Search8(int mbx, int mby, int k, MotionVector start, const MotionVector &pred, int &costOut) const
    {
        return SearchPart(mbx, mby, 8 * (k & 1), 8 * (k >> 1), 8, 8, start, pred, costOut);
    }

    // Refines the vector of the w x h part of the MB at (ox, oy) around a start.
    MotionVector SearchPart(int mbx, int mby, int ox, int oy, int w, int h, MotionVector start, const MotionVector &pred,
                            int &costOut) const
    {
        const Plane &R = ref.p[0];
        const std::uint8_t *s = src.p[0].At(mbx * 16 + ox, mby * 16 + oy);
        const std::ptrdiff_t ss = src.p[0].stride;
        const std::uint8_t *r0 = R.At(mbx * 16 + ox, mby * 16 + oy);
        const bool satd = settings.effort == Effort::Thorough;
        auto cost = [&](const MotionVector &v) {
            std::uint8_t p[256];
            dsp::LumaMc(p, 16, r0, R.stride, v.x, v.y, w, h);
            const int d = satd ? dsp::Satd(s, ss, p, 16, w, h) : dsp::Sad(s, ss, p, 16, w, h);
            return d + static_cast<int>(qs.lambda * MvBits(v, pred));
        };
        MotionVector v = start;
        int best = cost(v);
        // Thorough looks at the full square around each step, Quick at a diamond only
        static constexpr int kSquare[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {-1, 0}, {1, 0}, {-1, 1}, {0, 1}, {1, 1}};
        static constexpr int kDiamond[4][2] = {{0, -1}, {-1, 0}, {1, 0}, {0, 1}};
        const int steps[3] = {4, 2, 1};
        for (int si = satd ? 0 : 1; si < 3; ++si) {
            const int step = steps[si];
            const MotionVector c0 = v;
            const int n = satd ? 8 : 4;
            for (int d = 0; d < n; ++d) {
                const int dx = satd ? kSquare[d][0] : kDiamond[d][0], dy = satd ? kSquare[d][1] : kDiamond[d][1];
                const MotionVector t{c0.x + step * dx, c0.y + step * dy};
                if (!VectorInRange(mbx, mby, t))
                    continue;
                const int c = cost(t);
                if (c < best) {
                    best = c;
                    v = t;
                }
            }
        }
        costOut = best;
        return v;
    }

    // The two halves of a 16x8 (top, bottom) or 8x16 (left, right) MB: each searched from the
    // MB's vector, the second predicted from the first.
    void SearchHalves(int mbx, int mby, const Avail &av, int type, const MotionVector &start, MotionVector out[4]) const
    {
        const bool wide = type == kP16x8;
        MotionVector own[4] = {};
        for (int part = 0; part < 2; ++part) {
            const int k = HalfBlock(type, part);
            const MotionVector p = PredictPart(mbx, mby, av, k, wide ? 2 : 1, own);
            int c = 0;
            const MotionVector v = SearchPart(mbx, mby, wide ? 0 : 8 * part, wide ? 8 * part : 0, wide ? 16 : 8,
                                              wide ? 8 : 16, start, p, c);
            SetHalf(type, part, v, own);
        }
        std::copy(own, own + 4, out);
    }

    // The top-left 8x8 block of half `part` of a 16x8 or 8x16 MB, and setting its blocks.
    static int HalfBlock(int type, int part) { return part == 0 ? 0 : (type == kP16x8 ? 2 : 1); }
    static void SetHalf(int type, int part, const MotionVector &v, MotionVector mv8[4])
    {
        const int k = HalfBlock(type, part);
        mv8[k] = v;
        mv8[type == kP16x8 ? k + 1 : k + 2] = v;
    }

    void PredictInter8(int mbx, int mby, const MotionVector mv[4])
    {
        for (int k = 0; k < 4; ++k) {
            const int ox = 8 * (k & 1), oy = 8 * (k >> 1);
            const Plane &RY = ref.p[0];
            Plane &Y = cur.p[0];
            dsp::LumaMc(Y.At(mbx * 16 + ox, mby * 16 + oy), Y.stride, RY.At(mbx * 16 + ox, mby * 16 + oy), RY.stride,
                        mv[k].x, mv[k].y, 8, 8);
            for (int c = 1; c <= 2; ++c) {
                const Plane &R = ref.p[c];
                Plane &P = cur.p[c];
                dsp::ChromaMc(P.At(mbx * 8 + ox / 2, mby * 8 + oy / 2), P.stride, R.At(mbx * 8 + ox / 2, mby * 8 + oy / 2),
                              R.stride, mv[k].x, mv[k].y, 4, 4);
            }
        }
    }

    // Residual of an inter MB whose prediction is in the reconstruction; reconstructs in place.
    void CodeInterResidual(int mbx, int mby, MbCode &mb)
    {
        mb.cbp = 0;
        const bool rd = hooks.force == EncoderTestHooks::Kind::Any && !hooks.randomSeed;
        Plane &Y = cur.p[0];
        int steps[16];
        std::fill(steps, steps + 16, qs.lumaStep);
        for (int b = 0; b < 16; ++b) {
            const int x = mbx * 16 + 4 * (b & 3), y = mby * 16 + 4 * (b >> 2);
            if (CodeBlock(src.p[0].At(x, y), src.p[0].stride, Y.At(x, y), Y.stride, steps, 1.0 / 6, mb.levels[b], rd,
                          false))
                mb.cbp |= 1u << b;
        }
        int cs[16];
        ChromaSteps(cs);
        for (int c = 1; c <= 2; ++c) {
            Plane &P = cur.p[c];
            for (int b = 0; b < 4; ++b) {
                const int x = mbx * 8 + 4 * (b & 1), y = mby * 8 + 4 * (b >> 1);
                const int idx = (c == 1 ? 16 : 20) + b;
                if (CodeBlock(src.p[c].At(x, y), src.p[c].stride, P.At(x, y), P.stride, cs, 1.0 / 6, mb.levels[idx],
                              rd, true))
                    mb.cbp |= 1u << idx;
            }
        }
    }

    // Whether the zero-vector copy leaves nothing the quantiser would code.
    bool SkipIsClean(int mbx, int mby) const
    {
        return PredictionIsClean(mbx, mby, ref.p[0].At(mbx * 16, mby * 16), ref.p[0].stride, ref.p[1].At(mbx * 8, mby * 8),
                                 ref.p[2].At(mbx * 8, mby * 8), ref.p[1].stride);
    }

    // Whether a prediction of the MB leaves nothing the quantiser would code.
    bool PredictionIsClean(int mbx, int mby, const std::uint8_t *py, std::ptrdiff_t ys, const std::uint8_t *pu,
                           const std::uint8_t *pv, std::ptrdiff_t pcs) const
    {
        int steps[16];
        std::fill(steps, steps + 16, qs.lumaStep);
        for (int b = 0; b < 16; ++b) {
            const int i = b & 3, j = b >> 2;
            int r[16], C[16];
            std::int16_t lv[16];
            Residual(src.p[0].At(mbx * 16 + 4 * i, mby * 16 + 4 * j), src.p[0].stride, py + 4 * j * ys + 4 * i, ys, r);
            dsp::ForwardTransform(r, C);
            if (Quantise(C, steps, 1.0 / 6, lv, false))
                return false;
        }
        int cs[16];
        ChromaSteps(cs);
        for (int c = 1; c <= 2; ++c)
            for (int b = 0; b < 4; ++b) {
                const int x = mbx * 8 + 4 * (b & 1), y = mby * 8 + 4 * (b >> 1);
                int r[16], C[16];
                std::int16_t lv[16];
                const std::uint8_t *p = (c == 1 ? pu : pv) + 4 * (b >> 1) * pcs + 4 * (b & 1);
                Residual(src.p[c].At(x, y), src.p[c].stride, p, pcs, r);
                dsp::ForwardTransform(r, C);
                if (Quantise(C, cs, 1.0 / 6, lv, false))
                    return false;
            }
        return true;
    }

    // ------------------------------------------------------------------ MB bookkeeping
    void Commit(int mbx, int mby, const MbCode &mb)
    {
        const int n = mby * mbw + mbx;
        records[static_cast<std::size_t>(n)] = mb;
        const bool intra = mb.type == kI4 || mb.type == kI16;
        mbType[static_cast<std::size_t>(n)] = static_cast<std::uint8_t>(mb.type);
        for (int j = 0; j < 4; ++j)
            for (int i = 0; i < 4; ++i)
                Mode4(4 * mbx + i, 4 * mby + j) =
                    mb.type == kI4 ? mb.modes[4 * j + i] : (mb.type == kI16 ? static_cast<std::int8_t>(mb.i16Mode) : 0);
        for (int j = 0; j < 2; ++j)
            for (int i = 0; i < 2; ++i)
                Mv8(2 * mbx + i, 2 * mby + j) = intra ? MotionVector{} : (Partitioned(mb.type) ? mb.mv8[i + 2 * j] : mb.mv);
        FilterMb &f = filter[static_cast<std::size_t>(n)];
        f.cbpLuma = static_cast<std::uint16_t>(mb.cbp & 0xFFFF);
        f.cbpChroma = static_cast<std::uint8_t>(mb.cbp >> 16);
        f.strong = intra;
        f.q = static_cast<std::uint8_t>(qs.q);
        f.mvMask = 0;
    }

    // Vector edges for the loop filter, once all vectors are known; as the decoder derives them.
    std::uint16_t MvMask(int mbx, int mby, int sliceStart) const
    {
        auto diff = [](const MotionVector &a, const MotionVector &b) {
            return std::abs(a.x - b.x) > 3 || std::abs(a.y - b.y) > 3;
        };
        std::uint16_t h = 0, v = 0;
        for (int j = 0; j < 2; ++j)
            for (int i = 0; i < 2; ++i) {
                const int bx = 2 * mbx + i, by = 2 * mby + j;
                if (bx > 0 && diff(Mv8(bx, by), Mv8(bx - 1, by)))
                    v = static_cast<std::uint16_t>(v | (0x11 << (8 * j + 2 * i)));
                if ((j || mby) && diff(Mv8(bx, by), Mv8(bx, by - 1)))
                    h = static_cast<std::uint16_t>(h | (0x03 << (8 * j + 2 * i)));
            }
        const int n = mby * mbw + mbx;
        if (n - sliceStart < mbw)
            h &= ~0x000F;
        if (!mbx)
            v &= ~0x1111;
        return static_cast<std::uint16_t>(h | v);
    }

    // Type and modes of an intra MB in a P-picture.
    template <class W>
    void WriteIntraMbHeader(W &w, int table, int mbx, int mby, const Avail &av, const MbCode &mb) const
    {
        PutVlc(w, TypeCode(table, mb.type));
        if (mb.type == kI16)
            w.Put(static_cast<std::uint32_t>(mb.i16Mode), 2);
        else
            WriteModes(w, mbx, mby, av, mb.modes);
    }

    template <class W>
    void WriteInterMbHeader(W &w, int table, int mbx, int mby, const Avail &av, const MbCode &mb,
                            const MotionVector &pred) const
    {
        PutVlc(w, T.ptype[table][mb.type]);
        if (mb.type == kP16) {
            PutSe(w, mb.mv.x - pred.x);
            PutSe(w, mb.mv.y - pred.y);
            return;
        }
        MotionVector done[4] = {};
        if (mb.type == kP16x8 || mb.type == kP8x16) {
            for (int part = 0; part < 2; ++part) {
                const int k = HalfBlock(mb.type, part);
                const MotionVector p = PredictPart(mbx, mby, av, k, mb.type == kP16x8 ? 2 : 1, done);
                PutSe(w, mb.mv8[k].x - p.x);
                PutSe(w, mb.mv8[k].y - p.y);
                SetHalf(mb.type, part, mb.mv8[k], done);
            }
            return;
        }
        for (int k = 0; k < 4; ++k) {
            const MotionVector p8 = PredictMv8(mbx, mby, av, k, done);
            PutSe(w, mb.mv8[k].x - p8.x);
            PutSe(w, mb.mv8[k].y - p8.y);
            done[k] = mb.mv8[k];
        }
    }

    static void PutSe(BitWriter &w, int v) { w.Se(v); }
    static void PutSe(BitCounter &w, int v) { w.bits += static_cast<std::size_t>(BitWriter::SeBits(v)); }

    std::size_t InterBits(int mbx, int mby, const Avail &av, const MbCode &mb, const MotionVector &pred) const
    {
        BitCounter c;
        WriteInterMbHeader(c, PtypeTable(mbx, mby, av), mbx, mby, av, mb, pred);
        WriteResidual(c, mb);
        return c.bits;
    }

    bool LastMb(int mbx, int mby) const { return mby * mbw + mbx == nmb - 1; }

    // Predicts and codes an inter MB of a type: one vector, or those of mv8 when partitioned.
    void CodeInter(int mbx, int mby, int type, const MotionVector &v, MbCode &m)
    {
        m.type = type;
        m.mv = v;
        if (Partitioned(type))
            PredictInter8(mbx, mby, m.mv8);
        else
            PredictInter(mbx, mby, v);
        CodeInterResidual(mbx, mby, m);
    }

    // A copy of the reference; its prediction is already in the reconstruction.
    void CommitSkip(int mbx, int mby, MbCode &m, int &skipRun)
    {
        m.type = kSkip;
        m.cbp = 0;
        m.mv = {};
        m.mvB = {};
        Commit(mbx, mby, m);
        ++skipRun;
    }

    // An MB of an I-picture: its kind, its modes and its residual.
    void WriteIntraPictureMb(BitWriter &bw, int mbx, int mby, const Avail &av, const MbCode &mb) const
    {
        bw.Put(mb.type == kI16 ? 1 : 0, 1);
        if (mb.type == kI16) {
            bw.Put(static_cast<std::uint32_t>(mb.i16Mode), 2);
        } else {
            bw.Put(1, 1); // no quantiser change in this MB
            WriteModes(bw, mbx, mby, av, mb.modes);
        }
        WriteResidual(bw, mb);
    }

    // Type, modes or vectors, and residual of a coded MB of a P-picture.
    template <class W>
    void WriteCodedMb(W &w, int table, int mbx, int mby, const Avail &av, const MbCode &m,
                      const MotionVector &pred) const
    {
        if (m.type == kI4 || m.type == kI16)
            WriteIntraMbHeader(w, table, mbx, mby, av, m);
        else if (bPicture)
            WriteBMbHeader(w, table, mbx, mby, av, m);
        else
            WriteInterMbHeader(w, table, mbx, mby, av, m, pred);
        WriteResidual(w, m);
    }

    // Codes one MB of the current slice: decision, reconstruction and bits.
    void EncodeMb(int mbx, int mby, BitWriter &bw, int &skipRun)
    {
        const Avail av = AvailAt(mbx, mby);
        MbCode mb;
        if (intraPicture) {
            CodeIntra(mbx, mby, av, mb);
            WriteIntraPictureMb(bw, mbx, mby, av, mb);
            Commit(mbx, mby, mb);
            return;
        }
        if (bPicture) {
            EncodeBMb(mbx, mby, bw, skipRun);
            return;
        }
        using K = EncoderTestHooks::Kind;
        const MotionVector pred = PredictMv(mbx, mby, av);
        bool intra = hooks.force == K::Intra4x4 || hooks.force == K::Intra16x16;
        bool skip = false;
        bool intraClose = false;
        MotionVector v;
        int interCostForSplit = 0;
        if (!intra) {
            int interCost = 0;
            v = Search(ref, mbx, mby, av, pred, refMv8[static_cast<std::size_t>(2 * mby * 2 * mbw + 2 * mbx)], interCost);
            interCostForSplit = interCost;
            if (hooks.randomSeed) {
                MotionVector t{v.x + static_cast<int>(Rand(rng) % 17) - 8, v.y + static_cast<int>(Rand(rng) % 17) - 8};
                if (VectorInRange(mbx, mby, t))
                    v = t;
            }
            if (hooks.force == K::Skip) {
                skip = !LastMb(mbx, mby); // a picture of skips only is not decodable, see below
            } else if (hooks.force == K::Any && !LastMb(mbx, mby) && SkipIsClean(mbx, mby)) {
                // the copy is good enough when coding the vector would not pay for itself
                const int zeroCost = dsp::Sad16(src.p[0].At(mbx * 16, mby * 16), src.p[0].stride,
                                                ref.p[0].At(mbx * 16, mby * 16), ref.p[0].stride);
                skip = v == MotionVector{} || zeroCost <= interCost + static_cast<int>(qs.lambda * 4);
            }
            if (!skip && hooks.force == K::Any && !hooks.randomSeed) {
                // measured in the unit the search used
                int mode16 = 0;
                const int ic = I16Cost(mbx, mby, av, mode16, settings.effort == Effort::Thorough);
                intra = ic + static_cast<int>(qs.lambda * 6) < interCost;
                // the estimate is rough: near the line (up to three times the vector's cost, as
                // measured) intra is coded too and the coded result decides
                intraClose = ic < 3 * interCost;
            } else if (!skip && hooks.randomSeed && hooks.force == K::Any) {
                intra = Rand(rng) % 8 == 0;
            }
        }
        bool split = false;
        bool tried8 = false;
        if (!intra && !skip) {
            // splitting only pays where one vector leaves a clearly visible error
            const bool worthIt = interCostForSplit > 512 + static_cast<int>(qs.lambda * 16);
            const bool try8 = (settings.effort != Effort::Quickest && hooks.force == K::Any && (worthIt || hooks.randomSeed)) ||
                              hooks.force == K::Inter8x8;
            if (try8) {
                tried8 = true;
                int cost8 = static_cast<int>(qs.lambda * 4);
                for (int k = 0; k < 4; ++k) {
                    const MotionVector p8 = PredictMv8(mbx, mby, av, k, mb.mv8);
                    int c = 0;
                    mb.mv8[k] = Search8(mbx, mby, k, v, p8, c);
                    if (hooks.randomSeed) {
                        const MotionVector t{mb.mv8[k].x + static_cast<int>(Rand(rng) % 9) - 4,
                                             mb.mv8[k].y + static_cast<int>(Rand(rng) % 9) - 4};
                        if (VectorInRange(mbx, mby, t))
                            mb.mv8[k] = t;
                    }
                    cost8 += c;
                }
                // the 16x16 cost was measured with SAD unless the effort is thorough, as Search8's
                split = hooks.force == K::Inter8x8 || cost8 < interCostForSplit ||
                        (hooks.randomSeed && (Rand(rng) & 1));
            }
        }
        int type = split ? kP8 : kP16;
        if (!intra && !skip && (hooks.force == K::Inter16x8 || hooks.force == K::Inter8x16 ||
                                (hooks.randomSeed && hooks.force == K::Any && !split && Rand(rng) % 3 == 0))) {
            // halves for the tests: forced, or at random with their vectors moved at random
            type = hooks.force == K::Inter16x8 ? kP16x8
                   : hooks.force == K::Inter8x16 ? kP8x16
                                                  : (Rand(rng) & 1 ? kP16x8 : kP8x16);
            SearchHalves(mbx, mby, av, type, v, mb.mv8);
            for (int part = 0; part < 2 && hooks.randomSeed; ++part) {
                const MotionVector &h = mb.mv8[HalfBlock(type, part)];
                const MotionVector t{h.x + static_cast<int>(Rand(rng) % 9) - 4, h.y + static_cast<int>(Rand(rng) % 9) - 4};
                if (VectorInRange(mbx, mby, t))
                    SetHalf(type, part, t, mb.mv8);
            }
        }
        if (!skip && hooks.force == K::Any && !hooks.randomSeed) {
            // the candidates coded for real; distortion plus rate picks. A copy is one only when it
            // is not the picture's last MB: FFmpeg's decoder refuses a skip run over the whole
            // picture and paints it by error concealment instead, which after motion is no copy
            // and with its SIMD IDCT spoils the next picture's first coded block.
            const bool tryIntra =
                intra || settings.effort == Effort::Thorough || (settings.effort == Effort::Quick && intraClose);
            const bool trySkip = !LastMb(mbx, mby);
            SavedMb before, best;
            SaveMb(mbx, mby, before);
            MbCode chosen;
            double jBest = std::numeric_limits<double>::infinity();
            bool chosenSkip = false;
            chosen = mb;
            CodeInter(mbx, mby, type, v, chosen);
            jBest = Rd(MbSse(mbx, mby), InterBits(mbx, mby, av, chosen, pred) + 1);
            SaveMb(mbx, mby, best);
            RestoreMb(mbx, mby, before);
            if (tried8 && settings.effort == Effort::Thorough) {
                // the search's estimate of the split leaves out the residual; coded, both are known
                MbCode other = mb;
                CodeInter(mbx, mby, split ? kP16 : kP8, v, other);
                KeepIfCheaper(mbx, mby, Rd(MbSse(mbx, mby), InterBits(mbx, mby, av, other, pred) + 1), other, jBest,
                              chosen, best, before);
                // and the two halves, where their vectors differ (alike, they are the MB's)
                for (const int halves : {kP16x8, kP8x16}) {
                    MbCode half = mb;
                    SearchHalves(mbx, mby, av, halves, v, half.mv8);
                    if (half.mv8[0] == half.mv8[3])
                        continue;
                    CodeInter(mbx, mby, halves, v, half);
                    KeepIfCheaper(mbx, mby, Rd(MbSse(mbx, mby), InterBits(mbx, mby, av, half, pred) + 1), half, jBest,
                                  chosen, best, before);
                }
            }
            if (tryIntra) {
                MbCode in;
                CodeIntra(mbx, mby, av, in);
                KeepIfCheaper(mbx, mby, Rd(MbSse(mbx, mby), IntraBits(mbx, mby, av, in) + 1), in, jBest, chosen, best,
                              before);
            }
            if (trySkip) {
                PredictInter(mbx, mby, {});
                if (Rd(MbSse(mbx, mby), 1) <= jBest)
                    chosenSkip = true;
            }
            if (chosenSkip) {
                CommitSkip(mbx, mby, mb, skipRun);
                return;
            }
            RestoreMb(mbx, mby, best);
            bw.Ue(static_cast<std::uint32_t>(skipRun));
            skipRun = 0;
            WriteCodedMb(bw, PtypeTable(mbx, mby, av), mbx, mby, av, chosen, pred);
            Commit(mbx, mby, chosen);
            return;
        }
        if (skip) {
            PredictInter(mbx, mby, {});
            CommitSkip(mbx, mby, mb, skipRun);
            return;
        }
        bw.Ue(static_cast<std::uint32_t>(skipRun));
        skipRun = 0;
        if (intra)
            CodeIntra(mbx, mby, av, mb);
        else
            CodeInter(mbx, mby, type, v, mb);
        WriteCodedMb(bw, PtypeTable(mbx, mby, av), mbx, mby, av, mb, pred);
        Commit(mbx, mby, mb);
    }

    // ------------------------------------------------------------------ B-pictures
    static bool HasForward(int t) { return t == kBFwd || t == kBBidir; }
    static bool HasBackward(int t) { return t == kBBwd || t == kBBidir; }

    // Each direction predicts only from neighbours with a vector in that direction: three give
    // the median, two their halved sum, one itself. The last MB of a row looks top-left for C.
    MotionVector PredictMvB(int mbx, int mby, const Avail &av, bool backward) const
    {
        const int n = mby * mbw + mbx;
        MotionVector found[3];
        int k = 0;
        auto take = [&](int m) {
            const int t = mbType[static_cast<std::size_t>(m)];
            if (!(backward ? HasBackward(t) : HasForward(t)))
                return false;
            const MbCode &r = records[static_cast<std::size_t>(m)];
            found[k++] = backward ? r.mvB : r.mv;
            return true;
        };
        if (av.left)
            take(n - 1);
        if (av.top)
            take(n - mbw);
        if (!(av.top && av.topRight && take(n - mbw + 1)) && mbx == mbw - 1 && av.topLeft)
            take(n - mbw - 1);
        if (k == 3)
            return {Median(found[0].x, found[1].x, found[2].x), Median(found[0].y, found[1].y, found[2].y)};
        MotionVector sum;
        for (int i = 0; i < k; ++i) {
            sum.x += found[i].x;
            sum.y += found[i].y;
        }
        if (k == 2) {
            sum.x /= 2;
            sum.y /= 2;
        }
        return sum;
    }

    // The scales and blend weights of direct MBs follow from the distances between the times.
    void SetDirectWeights(std::uint32_t ts)
    {
        auto dist = [](std::uint32_t a, std::uint32_t b) { return static_cast<int>((a + 8192 - b) & 0x1FFF); };
        const int refDist = dist(refTs, prevTs), d0 = dist(ts, prevTs), d1 = dist(refTs, ts);
        scaledWeight = false;
        directAllowed = refDist && d0 <= refDist && d1 <= refDist;
        if (!refDist) {
            mvWeight1 = mvWeight2 = weight1 = weight2 = 8192;
            return;
        }
        mvWeight1 = (d0 << 14) / refDist;
        mvWeight2 = (d1 << 14) / refDist;
        weight1 = mvWeight1;
        weight2 = mvWeight2;
        if (!((mvWeight1 | mvWeight2) & 511)) {
            weight1 >>= 9;
            weight2 >>= 9;
            scaledWeight = true;
        }
    }

    static int ScaleMv(int v, int w) { return (v * w + 0x2000) >> 14; }

    // A direct MB's vectors per 8x8 block, scaled from the later reference's co-located MB (zero
    // where that one is intra or skipped); false when one reaches further out than motion may.
    bool DirectVectors(int mbx, int mby, MotionVector f[4], MotionVector b[4]) const
    {
        const int t = refMbType[static_cast<std::size_t>(mby * mbw + mbx)];
        const bool still = t == kI4 || t == kI16 || t == kSkip;
        bool ok = directAllowed;
        for (int k = 0; k < 4; ++k) {
            const MotionVector v =
                still ? MotionVector{} : refMv8[static_cast<std::size_t>((2 * mby + (k >> 1)) * 2 * mbw + 2 * mbx + (k & 1))];
            f[k] = {ScaleMv(v.x, mvWeight1), ScaleMv(v.y, mvWeight1)};
            b[k] = {ScaleMv(v.x, -mvWeight2), ScaleMv(v.y, -mvWeight2)};
            ok = ok && VectorInRange(mbx, mby, f[k]) && VectorInRange(mbx, mby, b[k]);
        }
        return ok;
    }

    struct MbPrediction {
        std::uint8_t y[256], u[64], v[64]; // strides 16 and 8
    };

    // One direction's prediction of the MB from picture from, per 8x8 block unless all agree.
    void PredictFrom(const Picture &from, int mbx, int mby, const MotionVector v[4], MbPrediction &p) const
    {
        const bool one = v[1] == v[0] && v[2] == v[0] && v[3] == v[0];
        const int size = one ? 16 : 8;
        for (int k = 0; k < (one ? 1 : 4); ++k) {
            const int ox = 8 * (k & 1), oy = 8 * (k >> 1);
            const int x = mbx * 16 + ox, y = mby * 16 + oy;
            dsp::LumaMc(p.y + 16 * oy + ox, 16, from.p[0].At(x, y), from.p[0].stride, v[k].x, v[k].y, size, size);
            for (int c = 1; c <= 2; ++c)
                dsp::ChromaMc((c == 1 ? p.u : p.v) + 4 * oy + ox / 2, 8, from.p[c].At(x / 2, y / 2), from.p[c].stride,
                              v[k].x, v[k].y, size / 2, size / 2);
        }
    }

    // The prediction of a B MB of the given type: one direction, or both blended (direct MBs
    // with the distance weights, bidirectional ones always as the plain average).
    void PredictB(int mbx, int mby, int type, const MotionVector &fwd, const MotionVector &bwd, const MotionVector df[4],
                  const MotionVector db[4], MbPrediction &out) const
    {
        const MotionVector f4[4] = {fwd, fwd, fwd, fwd}, b4[4] = {bwd, bwd, bwd, bwd};
        if (type == kBFwd) {
            PredictFrom(prev, mbx, mby, f4, out);
            return;
        }
        if (type == kBBwd) {
            PredictFrom(ref, mbx, mby, b4, out);
            return;
        }
        const bool direct = type != kBBidir;
        MbPrediction b;
        PredictFrom(prev, mbx, mby, direct ? df : f4, out);
        PredictFrom(ref, mbx, mby, direct ? db : b4, b);
        const bool weighted = direct && weight1 != 8192;
        auto blend = [&](std::uint8_t *a, const std::uint8_t *c, int count) {
            for (int i = 0; i < count; ++i) {
                if (!weighted)
                    a[i] = static_cast<std::uint8_t>((a[i] + c[i] + 1) >> 1);
                else if (scaledWeight)
                    a[i] = static_cast<std::uint8_t>((weight2 * a[i] + weight1 * c[i] + 16) >> 5);
                else
                    a[i] = static_cast<std::uint8_t>((((weight2 * a[i]) >> 9) + ((weight1 * c[i]) >> 9) + 16) >> 5);
            }
        };
        blend(out.y, b.y, 256);
        blend(out.u, b.u, 64);
        blend(out.v, b.v, 64);
    }

    void PutPrediction(int mbx, int mby, const MbPrediction &p)
    {
        for (int y = 0; y < 16; ++y)
            std::memcpy(cur.p[0].At(mbx * 16, mby * 16 + y), p.y + 16 * y, 16);
        for (int y = 0; y < 8; ++y) {
            std::memcpy(cur.p[1].At(mbx * 8, mby * 8 + y), p.u + 8 * y, 8);
            std::memcpy(cur.p[2].At(mbx * 8, mby * 8 + y), p.v + 8 * y, 8);
        }
    }

    // Predicts and codes a B MB of an inter type (a skip without residual) into m and the picture.
    void CodeB(int mbx, int mby, int type, const MotionVector &vf, const MotionVector &vb, const MbPrediction &direct,
               MbCode &m)
    {
        m.type = type;
        m.mv = HasForward(type) ? vf : MotionVector{};
        m.mvB = HasBackward(type) ? vb : MotionVector{};
        m.cbp = 0;
        if (type == kBDirect || type == kSkip) {
            PutPrediction(mbx, mby, direct);
        } else {
            MbPrediction p;
            PredictB(mbx, mby, type, vf, vb, nullptr, nullptr, p);
            PutPrediction(mbx, mby, p);
        }
        if (type != kSkip)
            CodeInterResidual(mbx, mby, m);
    }

    std::size_t CodedBits(int mbx, int mby, const Avail &av, const MbCode &m) const
    {
        BitCounter c;
        WriteCodedMb(c, PtypeTable(mbx, mby, av), mbx, mby, av, m, MotionVector{});
        return c.bits;
    }

    template <class W>
    void WriteBMbHeader(W &w, int table, int mbx, int mby, const Avail &av, const MbCode &m) const
    {
        PutVlc(w, T.btype[table][m.type]);
        if (HasForward(m.type)) {
            const MotionVector p = PredictMvB(mbx, mby, av, false);
            PutSe(w, m.mv.x - p.x);
            PutSe(w, m.mv.y - p.y);
        }
        if (HasBackward(m.type)) {
            const MotionVector p = PredictMvB(mbx, mby, av, true);
            PutSe(w, m.mvB.x - p.x);
            PutSe(w, m.mvB.y - p.y);
        }
    }

    // Codes one MB of a B-picture: forward, backward, both, direct (from the later reference's
    // motion), a direct copy without residual (skip), or intra.
    void EncodeBMb(int mbx, int mby, BitWriter &bw, int &skipRun)
    {
        using K = EncoderTestHooks::Kind;
        const Avail av = AvailAt(mbx, mby);
        const MotionVector pf = PredictMvB(mbx, mby, av, false), pb = PredictMvB(mbx, mby, av, true);
        MotionVector df[4], db[4];
        const bool directOk = DirectVectors(mbx, mby, df, db);
        MbPrediction direct;
        if (directOk)
            PredictB(mbx, mby, kBDirect, {}, {}, df, db, direct);
        const bool skipOk = directOk && !LastMb(mbx, mby); // never the last MB, see EncodeMb
        int cf = 0, cb = 0;
        MotionVector vf = Search(prev, mbx, mby, av, pf, df[0], cf);
        MotionVector vb = Search(ref, mbx, mby, av, pb, db[0], cb);
        if (hooks.randomSeed) {
            for (MotionVector *v : {&vf, &vb}) {
                const MotionVector t{v->x + static_cast<int>(Rand(rng) % 17) - 8, v->y + static_cast<int>(Rand(rng) % 17) - 8};
                if (VectorInRange(mbx, mby, t))
                    *v = t;
            }
        }
        int type = kBFwd;
        bool intra = hooks.force == K::Intra4x4 || hooks.force == K::Intra16x16;
        if (hooks.force == K::Skip)
            type = skipOk ? kSkip : (directOk ? kBDirect : kBFwd);
        else if (hooks.force == K::Direct || hooks.force == K::Inter8x8)
            type = directOk ? kBDirect : kBFwd;
        else if (hooks.force == K::Backward)
            type = kBBwd;
        else if (hooks.force == K::Bidirectional)
            type = kBBidir;
        else if (hooks.force == K::Any && hooks.randomSeed) {
            static constexpr int kPick[6] = {kBFwd, kBBwd, kBBidir, kBDirect, kSkip, kI16};
            type = kPick[Rand(rng) % 6];
            intra = type == kI16;
            if ((type == kBDirect && !directOk) || (type == kSkip && !skipOk))
                type = kBBidir;
        } else if (hooks.force == K::Any) {
            ChooseB(mbx, mby, av, bw, skipRun, vf, vb, pf, pb, cf, cb, directOk, skipOk, direct);
            return;
        }
        MbCode mb;
        if (intra) {
            bw.Ue(static_cast<std::uint32_t>(skipRun));
            skipRun = 0;
            CodeIntra(mbx, mby, av, mb);
        } else {
            CodeB(mbx, mby, type, vf, vb, direct, mb);
            if (type == kSkip) {
                CommitSkip(mbx, mby, mb, skipRun);
                return;
            }
            bw.Ue(static_cast<std::uint32_t>(skipRun));
            skipRun = 0;
        }
        WriteCodedMb(bw, PtypeTable(mbx, mby, av), mbx, mby, av, mb, MotionVector{});
        Commit(mbx, mby, mb);
    }

    // The encoder's own choice for a B MB. Quickest compares the prediction costs only; Quick
    // codes the two cheapest candidates for real and Thorough all of them, distortion plus rate
    // picking. A skip is considered only where the direct prediction leaves nothing to code.
    void ChooseB(int mbx, int mby, const Avail &av, BitWriter &bw, int &skipRun, const MotionVector &vf,
                 const MotionVector &vb, const MotionVector &pf, const MotionVector &pb, int cf, int cb, bool directOk,
                 bool skipOk, const MbPrediction &direct)
    {
        const std::uint8_t *s = src.p[0].At(mbx * 16, mby * 16);
        const std::ptrdiff_t ss = src.p[0].stride;
        const bool clean = skipOk && PredictionIsClean(mbx, mby, direct.y, 16, direct.u, direct.v, 8);
        struct Candidate {
            int type, cost;
        };
        Candidate cands[4];
        int nc = 0;
        cands[nc++] = {kBFwd, cf};
        cands[nc++] = {kBBwd, cb};
        if (directOk)
            cands[nc++] = {kBDirect, dsp::Sad16(s, ss, direct.y, 16) + static_cast<int>(qs.lambda * 2)};
        if (settings.effort != Effort::Quickest) {
            MbPrediction bi;
            PredictB(mbx, mby, kBBidir, vf, vb, nullptr, nullptr, bi);
            cands[nc++] = {kBBidir, dsp::Sad16(s, ss, bi.y, 16) + static_cast<int>(qs.lambda * (MvBits(vf, pf) + MvBits(vb, pb)))};
        }
        std::sort(cands, cands + nc, [](const Candidate &a, const Candidate &b) { return a.cost < b.cost; });
        const int best = cands[0].cost;
        int mode16 = 0;
        const int ic = I16Cost(mbx, mby, av, mode16, settings.effort == Effort::Thorough);
        MbCode mb;
        if (settings.effort == Effort::Quickest) {
            const bool skip = clean && (cands[0].type == kBDirect || best + static_cast<int>(qs.lambda * 4) >= 
                                                                         dsp::Sad16(s, ss, direct.y, 16));
            if (skip) {
                CodeB(mbx, mby, kSkip, vf, vb, direct, mb);
                CommitSkip(mbx, mby, mb, skipRun);
                return;
            }
            bw.Ue(static_cast<std::uint32_t>(skipRun));
            skipRun = 0;
            if (ic + static_cast<int>(qs.lambda * 6) < best)
                CodeIntra(mbx, mby, av, mb);
            else
                CodeB(mbx, mby, cands[0].type, vf, vb, direct, mb);
        } else {
            SavedMb before, kept;
            SaveMb(mbx, mby, before);
            double jBest = std::numeric_limits<double>::infinity();
            const int tries = settings.effort == Effort::Thorough ? nc : 2;
            for (int k = 0; k < tries; ++k) {
                MbCode m;
                CodeB(mbx, mby, cands[k].type, vf, vb, direct, m);
                KeepIfCheaper(mbx, mby, Rd(MbSse(mbx, mby), CodedBits(mbx, mby, av, m) + 1), m, jBest, mb, kept, before);
            }
            if (settings.effort == Effort::Thorough || ic < 3 * best) {
                MbCode m;
                CodeIntra(mbx, mby, av, m);
                KeepIfCheaper(mbx, mby, Rd(MbSse(mbx, mby), IntraBits(mbx, mby, av, m) + 1), m, jBest, mb, kept, before);
            }
            if (clean) {
                PutPrediction(mbx, mby, direct);
                if (Rd(MbSse(mbx, mby), 1) <= jBest) {
                    CodeB(mbx, mby, kSkip, vf, vb, direct, mb);
                    CommitSkip(mbx, mby, mb, skipRun);
                    return;
                }
            }
            RestoreMb(mbx, mby, kept);
            bw.Ue(static_cast<std::uint32_t>(skipRun));
            skipRun = 0;
        }
        WriteCodedMb(bw, PtypeTable(mbx, mby, av), mbx, mby, av, mb, MotionVector{});
        Commit(mbx, mby, mb);
    }

    // ------------------------------------------------------------------ picture
    // Writes a coded MB again from its record; all its neighbours are final by then.
    void RewriteMb(BitWriter &bw, int n, int &skipRun)
    {
        const int mbx = n % mbw, mby = n / mbw;
        const Avail av = AvailAt(mbx, mby);
        const MbCode &mb = records[static_cast<std::size_t>(n)];
        if (intraPicture) {
            WriteIntraPictureMb(bw, mbx, mby, av, mb);
        } else if (mb.type == kSkip) {
            ++skipRun;
        } else {
            bw.Ue(static_cast<std::uint32_t>(skipRun));
            skipRun = 0;
            WriteCodedMb(bw, PtypeTable(mbx, mby, av), mbx, mby, av, mb, PredictMv(mbx, mby, av));
        }
    }

    // The code-table modifier changes no decision, only codes: the slice is written again with
    // each and the shortest kept.
    std::vector<std::uint8_t> ShortestSlice(std::vector<std::uint8_t> first, std::uint32_t ts, int start, int end)
    {
        if (settings.effort == Effort::Quickest)
            return first;
        BitWriter alt;
        for (int m = 1; m < 3; ++m) { // 3 selects the same tables as 1
            SetCodeTables(m);
            SliceHeader(alt, ts, start);
            int skipRun = 0;
            for (int n = start; n < end; ++n)
                RewriteMb(alt, n, skipRun);
            if (skipRun)
                alt.Ue(static_cast<std::uint32_t>(skipRun));
            if ((alt.BitCount() + 7) / 8 < first.size())
                first = alt.Take();
            else
                alt.Clear();
        }
        SetCodeTables(0);
        return first;
    }

    struct CodedSlice {
        int start = 0, end = 0;
        std::vector<std::uint8_t> bytes;
    };

    // Codes MBs first..end-1 as one slice, or several where one would outgrow its packet. A band
    // touches only its own MBs' state and reads nothing across its first slice's start, so bands
    // may be coded at the same time.
    std::vector<CodedSlice> CodeBand(int first, int end, std::uint32_t ts)
    {
        std::vector<CodedSlice> slices;
        BitWriter bw;
        int skipRun = 0;
        int start = first;
        SliceHeader(bw, ts, start);
        const std::size_t limitBits = settings.maxSliceBytes * 8;
        SavedMb saved;
        for (int n = first; n < end; ++n) {
            const int mbx = n % mbw, mby = n / mbw;
            const BitWriter::Mark mark = bw.Position();
            const int runBefore = skipRun;
            SaveMb(mbx, mby, saved);
            sliceOfMb[static_cast<std::size_t>(n)] = start;
            EncodeMb(mbx, mby, bw, skipRun);
            const std::size_t bits = bw.BitCount() + (skipRun ? static_cast<std::size_t>(BitWriter::UeBits(static_cast<std::uint32_t>(skipRun))) : 0);
            if (bits > limitBits && n > start) {
                // this MB does not fit: close the slice before it and code it again as the first
                // MB of a new one, where its neighbours and so its prediction differ
                bw.Rewind(mark);
                if (runBefore)
                    bw.Ue(static_cast<std::uint32_t>(runBefore));
                slices.push_back({start, n, bw.Take()});
                RestoreMb(mbx, mby, saved);
                skipRun = 0;
                start = n;
                sliceOfMb[static_cast<std::size_t>(n)] = start;
                SliceHeader(bw, ts, n);
                EncodeMb(mbx, mby, bw, skipRun);
            }
        }
        if (skipRun)
            bw.Ue(static_cast<std::uint32_t>(skipRun));
        slices.push_back({start, end, bw.Take()});
        return slices;
    }

    // Bands of whole MB rows, one per thread; with one thread the picture is one band. The test
    // hooks' random choices come from one generator, so they keep to one thread.
    int Bands() const
    {
        const int threads = hooks.randomSeed ? 1 : std::max(1, settings.threads);
        return std::clamp(threads, 1, std::min(kMaxBands, std::max(1, mbh / 2)));
    }

    // Every band of the picture coded, then each slice written again with its shortest tables.
    std::vector<std::vector<std::uint8_t>> CodeSlices(std::uint32_t ts)
    {
        std::vector<std::vector<std::uint8_t>> out;
        const int bands = Bands();
        std::vector<std::vector<CodedSlice>> coded(static_cast<std::size_t>(bands));
        auto bandStart = [&](int b) { return (mbh * b / bands) * mbw; };
        {
            std::vector<std::jthread> workers;
            std::exception_ptr failure[kMaxBands];
            for (int b = 1; b < bands; ++b)
                workers.emplace_back([&, b] {
                    try {
                        coded[static_cast<std::size_t>(b)] = CodeBand(bandStart(b), bandStart(b + 1), ts);
                    } catch (...) {
                        failure[b] = std::current_exception();
                    }
                });
            try {
                coded[0] = CodeBand(0, bandStart(1), ts);
            } catch (...) {
                failure[0] = std::current_exception();
            }
            workers.clear(); // joins
            for (int b = 0; b < bands; ++b)
                if (failure[b])
                    std::rethrow_exception(failure[b]);
        }
        // the rewrite changes the shared code tables, so it waits for every band
        for (auto &band : coded)
            for (CodedSlice &slice : band)
                out.push_back(ShortestSlice(std::move(slice.bytes), ts, slice.start, slice.end));

        return out;
    }

    EncodedPicture Encode(const PictureView &view, const PictureDecision &decision, std::uint32_t ts)
    {
        if (decision.quantiser < 0 || decision.quantiser > 31)
            throw std::invalid_argument("rv40: quantiser " + std::to_string(decision.quantiser) + " outside 0..31");
        LoadSource(view);
        intraPicture = decision.type == PictureType::Intra || !haveRef;
        bPicture = decision.type == PictureType::Bidirectional && refCount >= 2;
        const bool repeat = decision.repeat && !intraPicture && !bPicture;
        hooks = testHooks;
        if (repeat) {
            hooks.force = EncoderTestHooks::Kind::Skip;
            hooks.randomSeed = 0;
        }
        haveCatchUp = !intraPicture && !bPicture && !repeat && repeatsSince > 0;
        catchUp = {motionPerPicture.x * (repeatsSince + 1), motionPerPicture.y * (repeatsSince + 1)};
        if (bPicture)
            SetDirectWeights(ts & 0x1FFF);
        SetQuant(decision.quantiser);
        EncodedPicture out;
        out.type = intraPicture ? PictureType::Intra : (bPicture ? PictureType::Bidirectional : PictureType::Inter);

        // Where the picture must keep within a size, it is coded again at ever coarser
        // quantisers, then with ever more of its small levels dropped, down to none at all; an
        // inter picture that still does not fit repeats its reference. Every rung decodes: only
        // levels go, never syntax.
        bool repeatNow = repeat;
        std::size_t rung = decision.quantiser == kCoarsest ? 1 : 0;
        std::size_t stepsUp = 0;
        for (;;) {
            levelFloor = kLevelFloors[rung];
            rng = hooks.randomSeed ? hooks.randomSeed : 1;
            out.slices = CodeSlices(ts);
            if (rung == 1 && !repeatNow)
                out.coarsestBytes = out.Bytes();
            if (decision.maxBytes == 0 || out.Bytes() <= decision.maxBytes || repeatNow)
                break;
            if (rung == 0) {
                // coarser steps first, so a picture a little over its size loses little
                const int q = stepsUp < std::size(kStepsUp) ? std::min(kCoarsest, decision.quantiser + kStepsUp[stepsUp++]) : kCoarsest;
                SetQuant(q);
                if (q == kCoarsest)
                    rung = 1;
                continue;
            }
            if (rung + 1 < std::size(kLevelFloors)) {
                ++rung;
            } else if (!intraPicture && !bPicture) {
                repeatNow = true;
                hooks.force = EncoderTestHooks::Kind::Skip;
                hooks.randomSeed = 0;
                rung = 1;
            } else {
                break;
            }
        }
        levelFloor = 0;
        out.quantiser = qs.q;
        out.bounded = rung > 1 || (repeatNow && !repeat);

        intraMbs = 0;
        for (int n = 0; n < nmb; ++n) {
            if (mbType[static_cast<std::size_t>(n)] == kI4 || mbType[static_cast<std::size_t>(n)] == kI16)
                ++intraMbs;
            if (!intraPicture)
                filter[static_cast<std::size_t>(n)].mvMask = MvMask(n % mbw, n / mbw, sliceOfMb[static_cast<std::size_t>(n)]);
        }
        out.intraShare = static_cast<double>(intraMbs) / nmb;
        std::uint8_t *planes[3] = {cur.p[0].o, cur.p[1].o, cur.p[2].o};
        const std::ptrdiff_t strides[3] = {cur.p[0].stride, cur.p[1].stride, cur.p[2].stride};
        LoopFilter(planes, strides, mbw, mbh, filter.data(), intraPicture, small);
        for (int c = 0; c < 3; ++c) {
            const int w = c ? settings.width / 2 : settings.width, h = c ? settings.height / 2 : settings.height;
            out.sse[c] = dsp::Sse(cur.p[c].o, cur.p[c].stride, src.p[c].o, src.p[c].stride, w, h);
            cur.p[c].Extend();
        }
        haveRecon = true;
        showCur = bPicture;
        if (bPicture)
            return out; // not a reference: both stay as they are
        if (repeatNow)
            ++repeatsSince;
        else
            MeasureMotion();
        std::swap(prev, ref);
        std::swap(cur, ref);
        refMv8 = mv8;
        refMbType = mbType;
        prevTs = refTs;
        refTs = ts & 0x1FFF;
        ++refCount;
        haveRef = true;
        return out;
    }

    // The median vector of the inter MBs just coded, per picture since the reference.
    void MeasureMotion()
    {
        std::vector<int> xs, ys;
        for (int n = 0; n < nmb; ++n) {
            const std::uint8_t t = mbType[static_cast<std::size_t>(n)];
            if (t != kP16 && !Partitioned(t))
                continue;
            const MotionVector &v = mv8[static_cast<std::size_t>(2 * (n / mbw) * 2 * mbw + 2 * (n % mbw))];
            xs.push_back(v.x);
            ys.push_back(v.y);
        }
        motionPerPicture = {};
        if (!xs.empty()) {
            auto median = [](std::vector<int> &v) {
                std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
                return v[v.size() / 2];
            };
            motionPerPicture = {median(xs) / (repeatsSince + 1), median(ys) / (repeatsSince + 1)};
        }
        repeatsSince = 0;
    }

    PictureCost Analyse(const PictureView &view) const
    {
        // Work on the caller's picture directly; only whole MBs inside it are measured.
        if (view.width != settings.width || view.height != settings.height || !view.plane[0])
            throw std::invalid_argument("rv40: picture size differs from the encoder's");
        PictureCost cost;
        const int fullW = view.width / 16, fullH = view.height / 16;
        const std::uint8_t *Y = view.plane[0];
        const std::ptrdiff_t ys = view.stride[0];
        std::uint8_t pred[256];
        for (int mby = 0; mby < std::max(fullH, 1); ++mby)
            for (int mbx = 0; mbx < std::max(fullW, 1); ++mbx) {
                if (mbx * 16 + 16 > view.width || mby * 16 + 16 > view.height)
                    continue;
                const std::uint8_t *s = Y + mby * 16 * ys + mbx * 16;
                // intra: DC prediction from the source's own neighbours
                int sum = 0, n = 0;
                if (mby) {
                    for (int i = 0; i < 16; ++i)
                        sum += s[i - ys];
                    n += 16;
                }
                if (mbx) {
                    for (int i = 0; i < 16; ++i)
                        sum += s[i * ys - 1];
                    n += 16;
                }
                std::memset(pred, n ? (sum + n / 2) / n : 128, sizeof pred);
                cost.intra += dsp::Satd(s, ys, pred, 16, 16, 16);
                if (!haveRef) {
                    cost.inter += dsp::Satd(s, ys, pred, 16, 16, 16);
                    continue;
                }
                const Plane &R = ref.p[0];
                const std::uint8_t *r0 = R.At(mbx * 16, mby * 16);
                int bx = 0, by = 0, best = dsp::Sad16(s, ys, r0, R.stride);
                for (int it = 0; it < 8; ++it) {
                    static constexpr int kD[4][2] = {{0, -1}, {1, 0}, {0, 1}, {-1, 0}};
                    int nbx = bx, nby = by;
                    for (const auto &d : kD) {
                        int x = bx + 2 * d[0], y = by + 2 * d[1];
                        ClampInteger(mbx, mby, x, y);
                        const int c = dsp::Sad16(s, ys, r0 + y * R.stride + x, R.stride);
                        if (c < best) {
                            best = c;
                            nbx = x;
                            nby = y;
                        }
                    }
                    if (nbx == bx && nby == by)
                        break;
                    bx = nbx;
                    by = nby;
                }
                cost.inter += dsp::Satd(s, ys, r0 + by * R.stride + bx, R.stride, 16, 16);
            }
        return cost;
    }
};

Encoder::Encoder(const EncoderSettings &settings) : m_impl(std::make_unique<Impl>(settings)) {}

Encoder::~Encoder() = default;

EncodedPicture Encoder::Encode(const PictureView &source, const PictureDecision &decision, std::uint32_t timestampMs)
{
    return m_impl->Encode(source, decision, timestampMs);
}

PictureCost Encoder::Analyse(const PictureView &source) const
{
    return m_impl->Analyse(source);
}

PictureView Encoder::Reconstruction() const
{
    PictureView v;
    if (!m_impl->haveRecon)
        return v;
    v.width = m_impl->settings.width;
    v.height = m_impl->settings.height;
    const auto &shown = m_impl->showCur ? m_impl->cur : m_impl->ref;
    for (int c = 0; c < 3; ++c) {
        v.plane[c] = shown.p[c].o;
        v.stride[c] = shown.p[c].stride;
    }
    return v;
}

void Encoder::SetTestHooks(const EncoderTestHooks &hooks)
{
    m_impl->testHooks = hooks;
}

std::vector<std::uint8_t> CodecSetupBytes()
{
    // SPO flags 0, then the bitstream version word 0x40008000 (RV40, minor 0, release 8).
    return {0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x80, 0x00};
}

} // namespace corva::rv40
