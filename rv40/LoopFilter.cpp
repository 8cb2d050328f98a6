#include "rv40/LoopFilter.h"

#include "rv40/CodeTables.h"
#include "rv40/Dsp.h"

#include <cstdlib>
#include <vector>

namespace corva::rv40 {

namespace {

enum { kCur, kTop, kLeft, kBottom };

inline int Clamp(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

struct Edge {
    std::uint8_t *p;
    std::ptrdiff_t step;  // across the edge
    std::ptrdiff_t along; // along the edge
};

struct Strength {
    bool strong, p1, q1;
};

Strength Measure(const Edge &e, int beta, int beta2, bool mbEdge)
{
    int sp1p0 = 0, sq1q0 = 0;
    for (int i = 0; i < 4; ++i) {
        const std::uint8_t *a = e.p + i * e.along;
        sp1p0 += a[-2 * e.step] - a[-e.step];
        sq1q0 += a[e.step] - a[0];
    }
    const bool fp1 = std::abs(sp1p0) < 4 * beta;
    const bool fq1 = std::abs(sq1q0) < 4 * beta;
    if ((!fp1 && !fq1) || !mbEdge)
        return {false, fp1, fq1};
    int sp1p2 = 0, sq1q2 = 0;
    for (int i = 0; i < 4; ++i) {
        const std::uint8_t *a = e.p + i * e.along;
        sp1p2 += a[-2 * e.step] - a[-3 * e.step];
        sq1q2 += a[e.step] - a[2 * e.step];
    }
    return {fp1 && std::abs(sp1p2) < beta2 && fq1 && std::abs(sq1q2) < beta2, fp1, fq1};
}

void Weak(const Edge &e, bool fp1, bool fq1, int alpha, int beta, int lim0, int limQ1, int limP1)
{
    const bool both = fp1 && fq1;
    const std::ptrdiff_t s = e.step;
    for (int i = 0; i < 4; ++i) {
        std::uint8_t *a = e.p + i * e.along;
        const int P2 = a[-3 * s], P1 = a[-2 * s], P0 = a[-s], Q0 = a[0], Q1 = a[s], Q2 = a[2 * s];
        int t = Q0 - P0;
        if (!t)
            continue;
        if ((alpha * std::abs(t)) >> 7 > 3 - (both ? 1 : 0))
            continue;
        t *= 4;
        if (both)
            t += P1 - Q1;
        const int d = Clamp((t + 4) >> 3, -lim0, lim0);
        a[-s] = dsp::Clip8(P0 + d);
        a[0] = dsp::Clip8(Q0 - d);
        if (fp1 && std::abs(P1 - P2) <= beta) {
            const int tt = ((P1 - P0) + (P1 - P2) - d) >> 1;
            a[-2 * s] = dsp::Clip8(P1 - Clamp(tt, -limP1, limP1));
        }
        if (fq1 && std::abs(Q1 - Q2) <= beta) {
            const int tt = ((Q1 - Q0) + (Q1 - Q2) + d) >> 1;
            a[s] = dsp::Clip8(Q1 - Clamp(tt, -limQ1, limQ1));
        }
    }
}

void Strong(const Edge &e, int alpha, int lims, int dmode, bool chroma)
{
    const CodeTables &T = CodeTables::Get();
    const std::ptrdiff_t s = e.step;
    for (int i = 0; i < 4; ++i) {
        std::uint8_t *a = e.p + i * e.along;
        const int P3 = a[-4 * s], P2 = a[-3 * s], P1 = a[-2 * s], P0 = a[-s];
        const int Q0 = a[0], Q1 = a[s], Q2 = a[2 * s], Q3 = a[3 * s];
        const int t = Q0 - P0;
        if (!t)
            continue;
        const int sflag = (alpha * std::abs(t)) >> 7;
        if (sflag > 1)
            continue;
        const int dl = T.ditherL[dmode + i], dr = T.ditherR[dmode + i];
        int np0 = (25 * P2 + 26 * P1 + 26 * P0 + 26 * Q0 + 25 * Q1 + dl) >> 7;
        int nq0 = (25 * P1 + 26 * P0 + 26 * Q0 + 26 * Q1 + 25 * Q2 + dr) >> 7;
        if (sflag) {
            np0 = Clamp(np0, P0 - lims, P0 + lims);
            nq0 = Clamp(nq0, Q0 - lims, Q0 + lims);
        }
        int np1 = (25 * P3 + 26 * P2 + 26 * P1 + 26 * np0 + 25 * Q0 + dl) >> 7;
        int nq1 = (25 * P0 + 26 * nq0 + 26 * Q1 + 26 * Q2 + 25 * Q3 + dr) >> 7;
        if (sflag) {
            np1 = Clamp(np1, P1 - lims, P1 + lims);
            nq1 = Clamp(nq1, Q1 - lims, Q1 + lims);
        }
        a[-2 * s] = static_cast<std::uint8_t>(np1);
        a[-s] = static_cast<std::uint8_t>(np0);
        a[0] = static_cast<std::uint8_t>(nq0);
        a[s] = static_cast<std::uint8_t>(nq1);
        if (!chroma) {
            a[-3 * s] = static_cast<std::uint8_t>((25 * np0 + 26 * np1 + 51 * P2 + 26 * P3 + 64) >> 7);
            a[2 * s] = static_cast<std::uint8_t>((25 * nq0 + 26 * nq1 + 51 * Q2 + 26 * Q3 + 64) >> 7);
        }
    }
}

void FilterEdge(const Edge &e, int dmode, int limQ1, int limP1, int alpha, int beta, int beta2, bool chroma,
                bool mbEdge)
{
    const Strength st = Measure(e, beta, beta2, mbEdge);
    const int lims = int(st.p1) + int(st.q1) + ((limQ1 + limP1) >> 1) + 1;
    if (st.strong)
        Strong(e, alpha, lims, dmode, chroma);
    else if (st.p1 && st.q1)
        Weak(e, true, true, alpha, beta, lims, limQ1, limP1);
    else if (st.p1 || st.q1)
        Weak(e, st.p1, st.q1, alpha, beta, lims >> 1, limQ1 >> 1, limP1 >> 1);
}

} // namespace

void LoopFilter(std::uint8_t *const planes[3], const std::ptrdiff_t strides[3], int w, int h, const FilterMb *mbs,
                bool intraPicture, bool smallPicture)
{
    const CodeTables &T = CodeTables::Get();
    const int nmb = w * h;
    // Per-MB state as the decoder holds it; a row's intra MBs are promoted to "all coded" only
    // when that row is filtered, so the row above sees the raw state of the row below.
    std::vector<std::uint32_t> dcoef(static_cast<std::size_t>(nmb)), cbpl(static_cast<std::size_t>(nmb)),
        cbpc(static_cast<std::size_t>(nmb));
    for (int mb = 0; mb < nmb; ++mb) {
        dcoef[mb] = intraPicture ? 0xFFFFu : static_cast<std::uint32_t>(mbs[mb].mvMask | mbs[mb].cbpLuma);
        cbpl[mb] = mbs[mb].cbpLuma;
        cbpc[mb] = mbs[mb].cbpChroma;
    }
    std::uint8_t *Y = planes[0];
    const std::ptrdiff_t ys = strides[0];
    for (int row = 0; row < h; ++row) {
        for (int mbx = 0; mbx < w; ++mbx) {
            const int mb = row * w + mbx;
            if (mbs[mb].strong)
                cbpl[mb] = dcoef[mb] = 0xFFFF;
            if (mbs[mb].intra)
                cbpc[mb] = 0xFF;
        }
        for (int mbx = 0; mbx < w; ++mbx) {
            const int mb = row * w + mbx;
            const int q = mbs[mb].q;
            const int alpha = T.lfAlpha[q], beta = T.lfBeta[q];
            int betaY = 3 * beta;
            const int betaC = 3 * beta;
            if (smallPicture)
                betaY += beta;
            const bool avail[4] = {true, row > 0, mbx > 0, row < h - 1};
            const int offs[4] = {0, -w, -1, w};
            std::uint32_t mvm[4] = {}, cb[4] = {}, uv[4][2] = {};
            bool strg[4] = {};
            int clip[4] = {};
            for (int i = 0; i < 4; ++i) {
                if (avail[i]) {
                    const int n = mb + offs[i];
                    mvm[i] = dcoef[n];
                    cb[i] = cbpl[n];
                    uv[i][0] = cbpc[n] & 15;
                    uv[i][1] = cbpc[n] >> 4;
                    strg[i] = mbs[n].strong;
                } else {
                    strg[i] = mbs[mb].strong;
                }
                clip[i] = T.lfClip[strg[i] ? 2 : 1][q];
            }
            const std::uint32_t toDb = mvm[kCur] | (mvm[kBottom] << 16);
            std::uint32_t hDb = toDb | ((cb[kCur] << 4) & ~0x000Fu) | ((cb[kTop] & 0xF000u) >> 12);
            std::uint32_t vDb = toDb | ((cb[kCur] << 1) & ~0x1111u) | ((cb[kLeft] & 0x8888u) >> 3);
            if (!mbx)
                vDb &= ~0x1111u;
            if (!row)
                hDb &= ~0x000Fu;
            const bool noBottom = row == h - 1 || strg[kCur] || strg[kBottom];
            if (noBottom)
                hDb &= ~(0x000Fu << 16);
            std::uint32_t cTo[2], cV[2], cH[2];
            for (int k = 0; k < 2; ++k) {
                cTo[k] = (uv[kBottom][k] << 4) | uv[kCur][k];
                cV[k] = cTo[k] | ((uv[kCur][k] << 1) & ~0x5u) | ((uv[kLeft][k] & 0xAu) >> 1);
                cH[k] = cTo[k] | ((uv[kTop][k] & 0xCu) >> 2) | (uv[kCur][k] << 2);
                if (!mbx)
                    cV[k] &= ~0x5u;
                if (!row)
                    cH[k] &= ~0x3u;
                if (noBottom)
                    cH[k] &= ~(0x3u << 4);
            }
            const bool strongV = strg[kCur] || strg[kLeft];
            const bool strongH = strg[kCur] || strg[kTop];
            for (int j = 0; j < 16; j += 4) {
                for (int i = 0; i < 4; ++i) {
                    const int ij = i + j;
                    std::uint8_t *o = Y + (row * 16 + j) * ys + mbx * 16 + 4 * i;
                    const int ccur = (toDb & (1u << ij)) ? clip[kCur] : 0;
                    const int dither = j ? ij : 4 * i;
                    if (hDb & (0x10u << ij))
                        FilterEdge({o + 4 * ys, ys, 1}, dither, (toDb & (0x10u << ij)) ? clip[kCur] : 0, ccur, alpha,
                                   beta, betaY, false, false);
                    if ((vDb & (1u << ij)) && (i || !strongV)) {
                        int cl;
                        if (!i)
                            cl = (mvm[kLeft] & (0x8u << j)) ? clip[kLeft] : 0;
                        else
                            cl = (toDb & (1u << (ij - 1))) ? clip[kCur] : 0;
                        FilterEdge({o, 1, ys}, dither, ccur, cl, alpha, beta, betaY, false, false);
                    }
                    if (!j && (hDb & (1u << i)) && strongH)
                        FilterEdge({o, ys, 1}, dither, ccur, (mvm[kTop] & (0x1000u << i)) ? clip[kTop] : 0, alpha,
                                   beta, betaY, false, true);
                    if ((vDb & (1u << ij)) && !i && strongV) {
                        const int cl = (mvm[kLeft] & (0x8u << j)) ? clip[kLeft] : 0;
                        FilterEdge({o, 1, ys}, dither, ccur, cl, alpha, beta, betaY, false, true);
                    }
                }
            }
            for (int k = 0; k < 2; ++k) {
                std::uint8_t *P = planes[1 + k];
                const std::ptrdiff_t cs = strides[1 + k];
                for (int j = 0; j < 2; ++j) {
                    for (int i = 0; i < 2; ++i) {
                        const int ij = i + 2 * j;
                        std::uint8_t *o = P + (row * 8 + 4 * j) * cs + mbx * 8 + 4 * i;
                        const int ccur = (cTo[k] & (1u << ij)) ? clip[kCur] : 0;
                        if (cH[k] & (1u << (ij + 2))) {
                            const int cbot = (cTo[k] & (1u << (ij + 2))) ? clip[kCur] : 0;
                            FilterEdge({o + 4 * cs, cs, 1}, 8 * i, cbot, ccur, alpha, beta, betaC, true, false);
                        }
                        if ((cV[k] & (1u << ij)) && (i || !strongV)) {
                            int cl;
                            if (!i)
                                cl = (uv[kLeft][k] & (1u << (2 * j + 1))) ? clip[kLeft] : 0;
                            else
                                cl = (cTo[k] & (1u << (ij - 1))) ? clip[kCur] : 0;
                            FilterEdge({o, 1, cs}, 8 * j, ccur, cl, alpha, beta, betaC, true, false);
                        }
                        if (!j && (cH[k] & (1u << ij)) && strongH) {
                            const int ct = (uv[kTop][k] & (1u << (ij + 2))) ? clip[kTop] : 0;
                            FilterEdge({o, cs, 1}, 8 * i, ccur, ct, alpha, beta, betaC, true, true);
                        }
                        if ((cV[k] & (1u << ij)) && !i && strongV) {
                            const int cl = (uv[kLeft][k] & (1u << (2 * j + 1))) ? clip[kLeft] : 0;
                            FilterEdge({o, 1, cs}, 8 * j, ccur, cl, alpha, beta, betaC, true, true);
                        }
                    }
                }
            }
        }
    }
}

} // namespace corva::rv40
