#include "rv40/CoefficientWriter.h"

#include "rv40/CodeTables.h"
#include "rv40/QuantSet.h"

#include <algorithm>
#include <bit>
#include <cstdlib>

namespace corva::rv40 {

namespace {

// What counting a block's bits needs of a writer, and nothing of the values: the trim counts a
// block for every level it tries.
struct BitCounter {
    std::size_t bits = 0;
    void Put(std::uint32_t, int n) { bits += static_cast<std::size_t>(n); }
};

template <class Sink>
void PutVlc(Sink &w, const Vlc &v)
{
    w.Put(v.code, v.len);
}

// The exponent of an escape beyond the table's plain codes: e - 22 lies in [2^n, 2^(n+1)).
int EscapeExponent(int e)
{
    int n = 0;
    while ((e - 22) >> (n + 1))
        ++n;
    return n;
}

int EscapeBits(const Vlc *coeff, int e)
{
    if (e <= 23)
        return coeff[e].len;
    const int n = EscapeExponent(e);
    return coeff[23 + n].len + n;
}

// Where in the coded order each raster position stands.
struct CodedSlots {
    int of[16];
    CodedSlots()
    {
        const CodeTables &T = CodeTables::Get();
        for (int j = 0; j < 16; ++j)
            of[T.codedPosition[j]] = j;
    }
};

template <class Sink>
void WriteEscape(Sink &w, const Vlc *coeff, int e)
{
    if (e <= 23) {
        PutVlc(w, coeff[e]);
        return;
    }
    const int n = EscapeExponent(e);
    PutVlc(w, coeff[23 + n]);
    w.Put(static_cast<std::uint32_t>(e - 22 - (1 << n)), n);
}

// Each group of four levels in the coded order as one code: a digit per level, its magnitude up
// to the escape of its place.
void GroupCodes(const std::int16_t lv[16], int codes[4])
{
    const CodeTables &T = CodeTables::Get();
    for (int g = 0; g < 4; ++g) {
        int c = 0;
        for (int k = 0; k < 4; ++k) {
            const int m = std::abs(lv[T.codedPosition[4 * g + k]]);
            const int esc = k ? 2 : 3;
            c = 3 * c + std::min(m, esc);
        }
        codes[g] = c;
    }
}

// Which of the last three groups have levels, as the first code carries it.
int Pattern(const int codes[4])
{
    return (codes[1] ? 4 : 0) | (codes[2] ? 2 : 0) | (codes[3] ? 1 : 0);
}

template <class Sink>
void WriteBlockTo(Sink &w, const std::int16_t lv[16], const Vlc *first, const Vlc *second, const Vlc *third,
                  const Vlc *coeff)
{
    const CodeTables &T = CodeTables::Get();
    int codes[4];
    GroupCodes(lv, codes);
    PutVlc(w, first[codes[0] * 8 + Pattern(codes)]);
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

} // namespace

void CoefficientWriter::WriteBlock(BitWriter &w, const std::int16_t lv[16], const Vlc *first, const Vlc *second,
                                   const Vlc *third, const Vlc *coeff)
{
    WriteBlockTo(w, lv, first, second, third, coeff);
}

void CoefficientWriter::WriteCbp(BitWriter &w, std::uint32_t cbp, int intraTable) const
{
    const CodeTables &T = CodeTables::Get();
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
        PutVlc(w, T.intraCbppat[m_qs.intraSet][intraTable][sym]);
    else
        PutVlc(w, T.interCbppat[m_qs.interSet][sym]);
    for (int k = 0; k < 4; ++k) {
        if (!(pattern & (8 >> k)))
            continue;
        const int sub = static_cast<int>((cbp >> kQuadShift[k]) & 0x33u);
        const int s = T.cbpSymbol[sub];
        if (intraTable >= 0)
            PutVlc(w, T.intraCbp[m_qs.intraSet][2 * ones + intraTable][s]);
        else
            PutVlc(w, T.interCbp[m_qs.interSet][ones][s]);
    }
    for (int i = 0; i < nextra; ++i)
        w.Put(static_cast<std::uint32_t>(extra[i]), 1);
}

void CoefficientWriter::WriteResidual(BitWriter &w, const MbRecord &mb) const
{
    const CodeTables &T = CodeTables::Get();
    const int si = m_qs.intraSet, s = m_qs.interSet;
    if (IsIntra(mb.type) || mb.type == kPMix) {
        // The luma in the intra tables, a 16x16 DC block first where the MB has one; a P-mix
        // MB's chroma as any inter MB's.
        const bool separateDc = SeparateDc(mb.type);
        WriteCbp(w, mb.cbp, separateDc ? 1 : 0);
        if (separateDc)
            WriteBlock(w, mb.levels[24], T.intraFirst[si][3], T.intraSecond[si][0], T.intraThird[si][0], T.intraCoeff[si]);
        const int lumaTable = separateDc ? 2 : 1;
        for (int b = 0; b < 16; ++b)
            if (mb.cbp & (1u << b))
                WriteBlock(w, mb.levels[b], T.intraFirst[si][lumaTable], T.intraSecond[si][0], T.intraThird[si][0],
                           T.intraCoeff[si]);
        for (int b = 16; b < 24; ++b) {
            if (!(mb.cbp & (1u << b)))
                continue;
            if (IsIntra(mb.type))
                WriteBlock(w, mb.levels[b], T.intraFirst[si][0], T.intraSecond[si][1], T.intraThird[si][1],
                           T.intraCoeff[si]);
            else
                WriteBlock(w, mb.levels[b], T.interFirst[s][1], T.interSecond[s][1], T.interThird[s][1], T.interCoeff[s]);
        }
        return;
    }
    WriteCbp(w, mb.cbp, -1);
    for (int b = 0; b < 24; ++b) {
        const int t = b < 16 ? 0 : 1;
        if (mb.cbp & (1u << b))
            WriteBlock(w, mb.levels[b], T.interFirst[s][t], T.interSecond[s][t], T.interThird[s][t], T.interCoeff[s]);
    }
}

std::size_t CoefficientWriter::InterBlockBits(const std::int16_t lv[16], bool chroma) const
{
    const CodeTables &T = CodeTables::Get();
    const int s = m_qs.interSet, t = chroma ? 1 : 0;
    BitCounter c;
    WriteBlockTo(c, lv, T.interFirst[s][t], T.interSecond[s][t], T.interThird[s][t], T.interCoeff[s]);
    return c.bits;
}

namespace {

// A level's own bits: its escape where it reaches the escape of its place, and its sign.
int LevelBits(const Vlc *coeff, int m, int esc)
{
    return m == 0 ? 0 : 1 + (m >= esc ? EscapeBits(coeff, m - esc) : 0);
}

} // namespace

CoefficientWriter::InterCount CoefficientWriter::CountInter(const std::int16_t lv[16], bool chroma) const
{
    InterCount count;
    count.bits = InterBlockBits(lv, chroma);
    GroupCodes(lv, count.codes);
    return count;
}

CoefficientWriter::InterCount CoefficientWriter::LessInter(const InterCount &count, int i, int m, bool chroma) const
{
    static const CodedSlots slots;
    static constexpr int kWeight[4] = {27, 9, 3, 1};
    const CodeTables &T = CodeTables::Get();
    const int s = m_qs.interSet, t = chroma ? 1 : 0;
    const Vlc *first = T.interFirst[s][t];
    const Vlc *groupTable[4] = {nullptr, T.interSecond[s][t], T.interSecond[s][t], T.interThird[s][t]};
    const Vlc *coeff = T.interCoeff[s];
    const int g = slots.of[i] / 4, k = slots.of[i] % 4, esc = k ? 2 : 3;
    InterCount less = count;
    less.codes[g] -= kWeight[k] * (std::min(m, esc) - std::min(m - 1, esc));
    auto groupBits = [&](const InterCount &c) { return g && c.codes[g] ? groupTable[g][c.codes[g]].len : 0; };
    const int before = first[count.codes[0] * 8 + Pattern(count.codes)].len + groupBits(count) + LevelBits(coeff, m, esc);
    const int after = first[less.codes[0] * 8 + Pattern(less.codes)].len + groupBits(less) + LevelBits(coeff, m - 1, esc);
    less.bits = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(count.bits) + after - before);
    return less;
}

} // namespace corva::rv40
