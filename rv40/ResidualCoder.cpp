#include "rv40/ResidualCoder.h"

#include "rv40/CoefficientWriter.h"
#include "rv40/Dsp.h"
#include "rv40/Picture.h"
#include "rv40/QuantSet.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace corva::rv40 {

namespace {

int Dequant(int level, int step)
{
    return level ? (level * step + 8) >> 4 : 0;
}

// Keeps every column inside what a 16-bit first transform pass computes exactly.
void FitColumns(std::int16_t lv[16], const int steps[16], int dc)
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

bool NonZero(const std::int16_t lv[16])
{
    for (int i = 0; i < 16; ++i)
        if (lv[i])
            return true;
    return false;
}

void Residual(const std::uint8_t *s, std::ptrdiff_t ss, const std::uint8_t *p, std::ptrdiff_t ps, int r[16])
{
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            r[4 * y + x] = s[y * ss + x] - p[y * ps + x];
}

// Adds the dequantised levels to the prediction already in dst.
void Reconstruct(const std::int16_t lv[16], const int steps[16], int dc, bool useDc, std::uint8_t *dst,
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

// An unscaled transform coefficient times this, over the step, is its level unrounded: 1024/676^2
// to the coefficient, then 16/step.
constexpr double kToLevel = 16384.0 / 456976.0;

// Quantises an unscaled transform; skipFirst: position 0 is left out (16x16 AC blocks). Levels
// of floor or less are dropped, and those at or beyond band (row plus column).
inline bool Quantise(const int C[16], const int steps[16], double round, std::int16_t lv[16], bool skipFirst,
                     int floor, int band = LevelLimit::kAll)
{
    bool any = false;
    int mags[16];
    if (!dsp::QuantiseMagnitudes(C, steps, kToLevel, round, mags)) {
        std::fill(lv, lv + 16, std::int16_t{0});
        return false;
    }
    for (int i = 0; i < 16; ++i) {
        if (skipFirst && i == 0) {
            lv[i] = 0;
            continue;
        }
        int m = mags[i];
        const int lim = (i == 0 || i == 2 || i == 8 || i == 10) ? 536 : 535;
        if (m > lim)
            m = lim;
        if (m <= floor || (i >> 2) + (i & 3) >= band)
            m = 0;
        lv[i] = static_cast<std::int16_t>(C[i] < 0 ? -m : m);
        any |= m != 0;
    }
    return any;
}

} // namespace

void ResidualCoder::LumaSteps(int steps[16]) const
{
    std::fill(steps, steps + 16, m_qs.lumaStep);
}

void ResidualCoder::ChromaSteps(int steps[16]) const
{
    steps[0] = m_qs.chromaDcStep;
    for (int i = 1; i < 16; ++i)
        steps[i] = m_qs.chromaAcStep;
}

bool ResidualCoder::CodeBlock(const std::uint8_t *s, std::ptrdiff_t ss, std::uint8_t *dst, std::ptrdiff_t ds,
                              const int steps[16], double round, std::int16_t lv[16], bool rd, bool chroma) const
{
    int r[16], C[16];
    Residual(s, ss, dst, ds, r);
    dsp::ForwardTransform(r, C);
    // Decided by rate and distortion, the levels start from the nearest and each is then made
    // smaller where the bits it saves are worth more than the error it adds.
    Quantise(C, steps, rd ? 0.5 : round, lv, false, m_limit.floor, m_limit.band);
    FitColumns(lv, steps, 0);
    if (!NonZero(lv))
        return false;
    if (rd) {
        std::uint8_t trial[16];
        const double lambda = chroma ? 0.5 * m_qs.lambdaSse : m_qs.lambdaSse;
        const CoefficientWriter writer(m_qs);
        // From the last coefficient back: the high frequencies cost most and show least. The
        // transform keeps energy (its basis rows share one norm), so the error a smaller level
        // adds is weighed on the coefficient itself, without a reconstruction: one level is
        // step / 24.24 in pixels.
        constexpr double kPixelsPerStep = 16384.0 / 676.0;
        // only a level the rounding took up is tried one smaller: one taken down adds more error
        // than its bits are worth
        constexpr double kTrimmedBelow = 0.0;
        CoefficientWriter::InterCount count = writer.CountInter(lv, chroma);
        for (int i = 16; i-- > 0;) {
            if (!lv[i])
                continue;
            const std::int16_t was = lv[i];
            const double a = std::abs(C[i]) * kToLevel / steps[i];
            const double now = std::abs(was) - a, then = now - 1;
            if (now < kTrimmedBelow)
                continue;
            lv[i] = static_cast<std::int16_t>(was > 0 ? was - 1 : was + 1);
            // a block of no levels is weighed below, with its pattern bit
            if (!NonZero(lv)) {
                lv[i] = was;
                continue;
            }
            const double unit = steps[i] / kPixelsPerStep;
            const CoefficientWriter::InterCount less = writer.LessInter(count, i, std::abs(was), chroma);
            if ((then * then - now * now) * unit * unit + lambda * static_cast<double>(less.bits) <
                lambda * static_cast<double>(count.bits))
                count = less;
            else
                lv[i] = was;
        }
        for (int y = 0; y < 4; ++y)
            std::memcpy(trial + 4 * y, dst + y * ds, 4);
        Reconstruct(lv, steps, 0, false, trial, 4);
        const std::uint64_t without = dsp::Sse(s, ss, dst, ds, 4, 4);
        const std::uint64_t with = dsp::Sse(s, ss, trial, 4, 4, 4);
        // a coded block also sets its pattern bit; chroma keeps more, its errors smear colour
        if (static_cast<double>(without) <= static_cast<double>(with) + lambda * (static_cast<double>(count.bits) + 1)) {
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

void ResidualCoder::CodeLuma16(int mbx, int mby, Plane &Y, const std::uint8_t pred[256], MbRecord &mb, bool inter) const
{
    std::uint8_t *at = Y.At(mbx * 16, mby * 16);
    const std::uint8_t *s = m_src.p[0].At(mbx * 16, mby * 16);
    const std::ptrdiff_t ss = m_src.p[0].stride;
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
    const int dcStep = inter ? m_qs.interDcStep : m_qs.lumaDcStep;
    for (int k = 0; k < 16; ++k)
        dcSteps[k] = (k == 0 || k == 1 || k == 4) ? dcStep : m_qs.lumaStep;
    int CdcScaled[16];
    for (int k = 0; k < 16; ++k)
        CdcScaled[k] = static_cast<int>(std::lround(Cdc[k] * (2048.0 / 3.0 / 1024.0)));
    // CdcScaled * 1024/676^2 is the DC-domain coefficient Quantise expects
    std::int16_t *dl = mb.levels[24];
    Quantise(CdcScaled, dcSteps, 0.4, dl, false, m_limit.floor, m_limit.dcBand);
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
    LumaSteps(acSteps);
    for (int b = 0; b < 16; ++b) {
        const int i = b & 3, j = b >> 2;
        std::int16_t *lv = mb.levels[b];
        Quantise(C[b], acSteps, inter ? 1.0 / 6 : 1.0 / 3, lv, true, m_limit.floor, m_limit.band);
        FitColumns(lv, acSteps, dcRec[b] ? dcRec[b] : 0);
        if (NonZero(lv))
            mb.cbp |= 1u << b;
        std::uint8_t *d = at + 4 * j * Y.stride + 4 * i;
        for (int y = 0; y < 4; ++y)
            std::memcpy(d + y * Y.stride, pred + (4 * j + y) * 16 + 4 * i, 4);
        Reconstruct(lv, acSteps, dcRec[b], true, d, Y.stride);
    }
}

void ResidualCoder::CodeChromaBlock(int c, int x, int y, std::uint8_t *dst, std::ptrdiff_t ds, MbRecord &mb,
                                    int idx) const
{
    int steps[16];
    ChromaSteps(steps);
    if (CodeBlock(m_src.p[c].At(x, y), m_src.p[c].stride, dst, ds, steps, 1.0 / 3, mb.levels[idx], false, true))
        mb.cbp |= 1u << idx;
}

void ResidualCoder::CodeInter(int mbx, int mby, Picture &cur, MbRecord &mb, bool rd) const
{
    mb.cbp = 0;
    Plane &Y = cur.p[0];
    int steps[16];
    LumaSteps(steps);
    for (int b = 0; b < 16; ++b) {
        const int x = mbx * 16 + 4 * (b & 3), y = mby * 16 + 4 * (b >> 2);
        if (CodeBlock(m_src.p[0].At(x, y), m_src.p[0].stride, Y.At(x, y), Y.stride, steps, 1.0 / 6, mb.levels[b], rd,
                      false))
            mb.cbp |= 1u << b;
    }
    CodeInterChroma(mbx, mby, cur, mb, rd);
}

void ResidualCoder::CodeInterChroma(int mbx, int mby, Picture &cur, MbRecord &mb, bool rd) const
{
    mb.cbp &= 0xFFFFu;
    int cs[16];
    ChromaSteps(cs);
    for (int c = 1; c <= 2; ++c) {
        Plane &P = cur.p[c];
        for (int b = 0; b < 4; ++b) {
            const int x = mbx * 8 + 4 * (b & 1), y = mby * 8 + 4 * (b >> 1);
            const int idx = (c == 1 ? 16 : 20) + b;
            if (CodeBlock(m_src.p[c].At(x, y), m_src.p[c].stride, P.At(x, y), P.stride, cs, 1.0 / 6, mb.levels[idx], rd,
                          true))
                mb.cbp |= 1u << idx;
        }
    }
}

int ResidualCoder::InterDcLevel(int mbx, int mby, const std::uint8_t *py, std::ptrdiff_t ys) const
{
    if (!m_qs.interDcStep)
        return 0;
    const std::uint8_t *s = m_src.p[0].At(mbx * 16, mby * 16);
    const std::ptrdiff_t ss = m_src.p[0].stride;
    int total = 0, energy = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const int d = s[y * ss + x] - py[y * ys + x];
            total += d;
            energy += d * d;
        }
    // a shift lost in a residual of its own is better coded with it, block by block
    constexpr double kShiftShare = 0.1;
    if (static_cast<double>(total) * total < kShiftShare * 256.0 * energy)
        return 0;
    // A 4x4 transform's DC is 13 * 13 times its block's sum, the DC block's first coefficient
    // 13 * 13 times the sum of those normalised, scaled as the 16x16 coding scales it.
    constexpr double kPerSum = 169.0 * 169.0 * (1024.0 / 456976.0) * (2048.0 / 3.0 / 1024.0) * kToLevel;
    const double level = std::abs(total) * kPerSum / m_qs.interDcStep + 0.4;
    return static_cast<int>(level);
}

bool ResidualCoder::IsClean(int mbx, int mby, const std::uint8_t *py, std::ptrdiff_t ys, const std::uint8_t *pu,
                            const std::uint8_t *pv, std::ptrdiff_t pcs) const
{
    auto quiet = [&](const std::uint8_t *s, std::ptrdiff_t ss, const std::uint8_t *p, std::ptrdiff_t ps,
                     const int steps[16]) {
        int r[16], C[16];
        std::int16_t lv[16];
        Residual(s, ss, p, ps, r);
        dsp::ForwardTransform(r, C);
        return !Quantise(C, steps, 1.0 / 6, lv, false, m_limit.floor, m_limit.band);
    };
    int steps[16];
    LumaSteps(steps);
    for (int b = 0; b < 16; ++b) {
        const int i = b & 3, j = b >> 2;
        if (!quiet(m_src.p[0].At(mbx * 16 + 4 * i, mby * 16 + 4 * j), m_src.p[0].stride, py + 4 * j * ys + 4 * i, ys,
                   steps))
            return false;
    }
    int cs[16];
    ChromaSteps(cs);
    for (int c = 1; c <= 2; ++c)
        for (int b = 0; b < 4; ++b) {
            const int x = mbx * 8 + 4 * (b & 1), y = mby * 8 + 4 * (b >> 1);
            const std::uint8_t *p = (c == 1 ? pu : pv) + 4 * (b >> 1) * pcs + 4 * (b & 1);
            if (!quiet(m_src.p[c].At(x, y), m_src.p[c].stride, p, pcs, cs))
                return false;
        }
    return true;
}

} // namespace corva::rv40
