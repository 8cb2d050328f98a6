#include "rv40/IntraAnalysis.h"

#include "rv40/AnalysisContext.h"
#include "rv40/DecisionPolicy.h"
#include "rv40/Dsp.h"
#include "rv40/RdChooser.h"

#include <cstring>
#include <stdexcept>

namespace corva::rv40 {

namespace {

bool Usable16(int mode, const Avail &av)
{
    return !((mode == dsp::k16Vert && !av.top) || (mode == dsp::k16Hor && !av.left) ||
             (mode == dsp::k16Plane && !(av.top && av.left)));
}

dsp::Avail4 LumaAvail4(const Avail &av, int i, int j)
{
    dsp::Avail4 a;
    a.up = j ? true : av.top;
    a.left = i ? true : av.left;
    a.downLeft = i == 0 && av.left && j < 3;
    a.upRight = j == 0 ? (i < 3 ? av.top : av.topRight) : (i < 3);
    return a;
}

} // namespace

bool IntraAnalysis::Code16With(int mbx, int mby, const Avail &av, int mode, MbRecord &mb)
{
    if (!Usable16(mode, av))
        return false;
    Code16(mbx, mby, av, mode, mb);
    return true;
}

int IntraAnalysis::Cost16(int mbx, int mby, const Avail &av, int &bestMode, bool satd)
{
    const Plane &Y = m_ctx.cur.p[0];
    const Plane &S = m_ctx.pc.src.p[0];
    const std::uint8_t *at = Y.At(mbx * 16, mby * 16);
    const std::uint8_t *s = S.At(mbx * 16, mby * 16);
    std::uint8_t pred[256];
    int best = -1;
    for (int mode = 0; mode < 4; ++mode) {
        if (!Usable16(mode, av))
            continue;
        dsp::PredictBlock(pred, 16, at, Y.stride, mode, av.top, av.left);
        const int c = satd ? dsp::Satd(s, S.stride, pred, 16, 16, 16) : dsp::Sad16(s, S.stride, pred, 16);
        if (best < 0 || c < best) {
            best = c;
            bestMode = mode;
        }
    }
    if (m_ctx.policy.Random() && m_ctx.policy.Kind() == MbKind::ByCost) {
        int valid[4], n = 0;
        for (int mode = 0; mode < 4; ++mode)
            if (Usable16(mode, av))
                valid[n++] = mode;
        bestMode = valid[m_ctx.policy.Draw() % static_cast<std::uint32_t>(n)];
    }
    return best;
}

void IntraAnalysis::Code16(int mbx, int mby, const Avail &av, int mode, MbRecord &mb)
{
    mb.type = kI16;
    mb.i16Mode = mode;
    mb.cbp = 0;
    Plane &Y = m_ctx.cur.p[0];
    std::uint8_t pred[256];
    dsp::PredictBlock(pred, 16, Y.At(mbx * 16, mby * 16), Y.stride, mode, av.top, av.left);
    m_ctx.residual.CodeLuma16(mbx, mby, Y, pred, mb);
    CodeChroma(mbx, mby, av, mode == dsp::k16Plane ? dsp::k16Dc : mode, nullptr, mb);
}

void IntraAnalysis::CodeChroma(int mbx, int mby, const Avail &av, int mode16, const std::int8_t *m4, MbRecord &mb)
{
    for (int c = 1; c <= 2; ++c) {
        Plane &P = m_ctx.cur.p[c];
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
            m_ctx.residual.CodeChromaBlock(c, mbx * 8 + 4 * bi, mby * 8 + 4 * bj, d, P.stride, mb,
                                           (c == 1 ? 16 : 20) + b);
        }
    }
}

int IntraAnalysis::Code4(int mbx, int mby, const Avail &av, MbRecord &mb, bool satd)
{
    mb.type = kI4;
    mb.cbp = 0;
    Plane &Y = m_ctx.cur.p[0];
    const Plane &S = m_ctx.pc.src.p[0];
    const std::ptrdiff_t ss = S.stride;
    const double lambda = m_ctx.qs.lambda;
    int steps[16];
    m_ctx.residual.LumaSteps(steps);
    int total = 0;
    const bool random = m_ctx.policy.Random();
    for (int j = 0; j < 4; ++j) {
        for (int i = 0; i < 4; ++i) {
            const int b = 4 * j + i;
            std::uint8_t *d = Y.At(mbx * 16 + 4 * i, mby * 16 + 4 * j);
            const std::uint8_t *s = S.At(mbx * 16 + 4 * i, mby * 16 + 4 * j);
            const dsp::Avail4 a = LumaAvail4(av, i, j);
            const int top = m_ctx.grid.ModeCtx(mbx, mby, av, mb.modes, i, j - 1);
            const int left = m_ctx.grid.ModeCtx(mbx, mby, av, mb.modes, i - 1, j);
            // the modes a decoder accepts next to these neighbours
            int allowed[9];
            const int n = m_ctx.pc.bitstream.Intra4Modes(top, left, allowed);
            if (n == 0)
                throw std::logic_error("rv40: a 4x4 block with no mode its neighbours allow");
            std::uint8_t bestPred[16];
            int best = -1, bestMode = 0;
            if (random) {
                bestMode = allowed[m_ctx.policy.Draw() % static_cast<std::uint32_t>(n)];
                dsp::Predict4x4(bestPred, d, Y.stride, bestMode, a);
                best = dsp::Satd4x4(s, ss, bestPred, 4);
            } else {
                // every mode's prediction first, then their distortions two at a time
                const dsp::Edges4 edges = dsp::Gather4(d, Y.stride, a);
                std::uint8_t pred[9][16];
                int dist[9];
                for (int k = 0; k < n; ++k)
                    dsp::Predict4x4(pred[k], edges, allowed[k]);
                int k = 0;
                for (; satd && k + 2 <= n; k += 2)
                    dsp::Satd4x4Pair(s, ss, pred[k], pred[k + 1], 4, dist + k);
                for (; k < n; ++k)
                    dist[k] = satd ? dsp::Satd4x4(s, ss, pred[k], 4) : dsp::Sad(s, ss, pred[k], 4, 4, 4);
                int bestK = 0;
                for (k = 0; k < n; ++k) {
                    const int m = allowed[k];
                    const int bits = (m == top || m == left) ? 1 : (m == dsp::kDc ? 2 : 4);
                    const int c = dist[k] + static_cast<int>(lambda * bits);
                    if (best < 0 || c < best) {
                        best = c;
                        bestMode = m;
                        bestK = k;
                    }
                }
                std::memcpy(bestPred, pred[bestK], 16);
            }
            total += best;
            mb.modes[b] = static_cast<std::int8_t>(bestMode);
            for (int y = 0; y < 4; ++y)
                std::memcpy(d + y * Y.stride, bestPred + 4 * y, 4);
            if (m_ctx.residual.CodeBlock(s, ss, d, Y.stride, steps, 1.0 / 3, mb.levels[b], false, false))
                mb.cbp |= 1u << b;
        }
    }
    return total;
}

// Inside the MB every block has a mode; only the first block's neighbours outside it can leave
// it none (a bitstream whose block without a left neighbour needs a plain one above).
bool IntraAnalysis::Possible4(int mbx, int mby, const Avail &av) const
{
    const std::int8_t none[16] = {};
    int modes[9];
    return m_ctx.pc.bitstream.Intra4Modes(m_ctx.grid.ModeCtx(mbx, mby, av, none, 0, -1),
                                          m_ctx.grid.ModeCtx(mbx, mby, av, none, -1, 0), modes) > 0;
}

void IntraAnalysis::Code(int mbx, int mby, const Avail &av, MbRecord &mb)
{
    const EffortTools &tools = m_ctx.pc.tools;
    const MbKind kind = m_ctx.policy.Kind();
    const double lambda = m_ctx.qs.lambda;
    // whole where no 4x4 mode may start the MB, or where a picture kept within a size codes
    // its intra MBs whole
    if (!Possible4(mbx, mby, av) || (m_ctx.pc.levels.whole && kind != MbKind::Intra4x4)) {
        int mode16 = 0;
        Cost16(mbx, mby, av, mode16, tools.satdIntra);
        Code16(mbx, mby, av, mode16, mb);
        return;
    }
    if (tools.intraByRd && m_ctx.policy.ByCost()) {
        // both kinds coded for real; the cheaper in distortion plus rate wins
        int mode16 = 0;
        Cost16(mbx, mby, av, mode16, true);
        RdChooser rd(m_ctx.cur, m_ctx.pc.src, mbx, mby, m_ctx.qs.lambdaSse);
        MbRecord a;
        Code16(mbx, mby, av, mode16, a);
        rd.Try(a, m_ctx.Bits(mbx, mby, av, a));
        Code4(mbx, mby, av, mb, true);
        CodeChroma(mbx, mby, av, 0, mb.modes, mb);
        rd.Try(mb, m_ctx.Bits(mbx, mby, av, mb));
        mb = rd.Finish();
        return;
    }
    const bool satd = tools.satdIntra;
    int mode16 = 0;
    const int cost16 = Cost16(mbx, mby, av, mode16, satd) + static_cast<int>(lambda * 4);
    bool use4 = false;
    const bool try4 = tools.intra4 || kind == MbKind::Intra4x4;
    if (kind == MbKind::Intra4x4) {
        use4 = true;
    } else if (kind == MbKind::Intra16x16 || !try4) {
        use4 = false;
    } else if (m_ctx.policy.Random()) {
        use4 = m_ctx.policy.Draw() & 1;
    } else {
        MbRecord trial;
        const int cost4 = Code4(mbx, mby, av, trial, satd) + static_cast<int>(lambda * 16);
        if (cost4 < cost16) {
            mb = trial;
            CodeChroma(mbx, mby, av, 0, mb.modes, mb);
            return;
        }
    }
    if (use4) {
        Code4(mbx, mby, av, mb, satd);
        CodeChroma(mbx, mby, av, 0, mb.modes, mb);
    } else {
        Code16(mbx, mby, av, mode16, mb);
    }
}

} // namespace corva::rv40
