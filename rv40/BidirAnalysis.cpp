#include "rv40/BidirAnalysis.h"

#include "rv40/AnalysisContext.h"
#include "rv40/DecisionPolicy.h"
#include "rv40/Dsp.h"
#include "rv40/InterAnalysis.h"
#include "rv40/RdChooser.h"

#include <algorithm>

namespace corva::rv40 {

bool BidirAnalysis::DirectVectors(int mbx, int mby, MotionVector f[4], MotionVector b[4]) const
{
    const PictureContext &pc = m_ctx.pc;
    const int mbw = m_ctx.grid.Width();
    const int t = pc.refMbType[static_cast<std::size_t>(mby * mbw + mbx)];
    const bool still = t == kI4 || t == kI16 || t == kSkip;
    bool ok = pc.direct.allowed;
    for (int k = 0; k < 4; ++k) {
        const MotionVector v =
            still ? MotionVector{}
                  : pc.refMv8[static_cast<std::size_t>((2 * mby + (k >> 1)) * 2 * mbw + 2 * mbx + (k & 1))];
        f[k] = {DirectWeights::Scale(v.x, pc.direct.mvWeight1), DirectWeights::Scale(v.y, pc.direct.mvWeight1)};
        b[k] = {DirectWeights::Scale(v.x, -pc.direct.mvWeight2), DirectWeights::Scale(v.y, -pc.direct.mvWeight2)};
        ok = ok && pc.bounds.InRange(mbx, mby, f[k]) && pc.bounds.InRange(mbx, mby, b[k]);
    }
    return ok;
}

void BidirAnalysis::Code(int mbx, int mby, int type, const Searched &s, MbRecord &m)
{
    m.type = type;
    m.mv = HasForward(type) ? s.vf : MotionVector{};
    m.mvB = HasBackward(type) ? s.vb : MotionVector{};
    m.cbp = 0;
    if (type == kBDirect || type == kSkip) {
        m_ctx.cur.PutMb(mbx, mby, s.direct);
    } else {
        MbPixels p;
        m_ctx.prediction.PredictB(m_ctx.pc.prev, m_ctx.pc.ref, m_ctx.pc.direct, mbx, mby, type, s.vf, s.vb, nullptr,
                                  nullptr, p);
        m_ctx.cur.PutMb(mbx, mby, p);
    }
    if (type != kSkip)
        m_ctx.residual.CodeInter(mbx, mby, m_ctx.cur, m, m_ctx.policy.ByCost());
}

MbRecord BidirAnalysis::Decide(int mbx, int mby)
{
    const PictureContext &pc = m_ctx.pc;
    DecisionPolicy &policy = m_ctx.policy;
    const MbKind kind = policy.Kind();
    const Avail av = m_ctx.grid.AvailAt(mbx, mby);
    const Bitstream &bitstream = pc.bitstream;
    Searched s;
    s.pf = bitstream.PredictB(m_ctx.grid, mbx, mby, av, false);
    s.pb = bitstream.PredictB(m_ctx.grid, mbx, mby, av, true);
    MotionVector df[4], db[4];
    s.directOk = DirectVectors(mbx, mby, df, db);
    if (s.directOk)
        m_ctx.prediction.PredictB(pc.prev, pc.ref, pc.direct, mbx, mby, kBDirect, {}, {}, df, db, s.direct);
    s.skipOk = s.directOk && !m_ctx.grid.LastMb(mbx, mby); // never the last MB, see InterAnalysis
    const MotionResult f = m_ctx.Search(pc.prev, mbx, mby, av, s.pf, df[0]);
    const MotionResult b = m_ctx.Search(pc.ref, mbx, mby, av, s.pb, db[0]);
    s.vf = f.mv;
    s.vb = b.mv;
    s.cf = f.cost;
    s.cb = b.cost;
    if (policy.Random()) {
        m_ctx.Jitter(mbx, mby, s.vf, 8);
        m_ctx.Jitter(mbx, mby, s.vb, 8);
    }
    int type = kBFwd;
    bool intra = kind == MbKind::Intra4x4 || kind == MbKind::Intra16x16;
    if (kind == MbKind::Copy) {
        type = s.skipOk ? kSkip : (s.directOk ? kBDirect : kBFwd);
    } else if (kind == MbKind::Direct || kind == MbKind::Inter8x8) {
        type = s.directOk ? kBDirect : kBFwd;
    } else if (kind == MbKind::Backward) {
        type = kBBwd;
    } else if (kind == MbKind::Bidirectional) {
        type = kBBidir;
    } else if (kind == MbKind::ByCost && policy.Random()) {
        static constexpr int kPick[6] = {kBFwd, kBBwd, kBBidir, kBDirect, kSkip, kI16};
        type = kPick[policy.Draw() % 6];
        intra = type == kI16;
        if ((type == kBDirect && !s.directOk) || (type == kSkip && !s.skipOk))
            type = kBBidir;
        if (!bitstream.Codes(type))
            type = kBFwd;
    } else if (kind == MbKind::ByCost) {
        return Choose(mbx, mby, av, s);
    }
    MbRecord mb;
    if (intra) {
        m_intra.Code(mbx, mby, av, mb);
        return mb;
    }
    Code(mbx, mby, type, s, mb);
    return type == kSkip ? CopyRecord() : mb;
}

// A copy is considered only where the direct prediction leaves nothing to code.
MbRecord BidirAnalysis::Choose(int mbx, int mby, const Avail &av, const Searched &s)
{
    const PictureContext &pc = m_ctx.pc;
    const double lambda = m_ctx.qs.lambda;
    const std::uint8_t *src = pc.src.p[0].At(mbx * 16, mby * 16);
    const std::ptrdiff_t ss = pc.src.p[0].stride;
    const bool clean = s.skipOk && m_ctx.residual.IsClean(mbx, mby, s.direct.y, 16, s.direct.u, s.direct.v, 8);
    struct Candidate {
        int type, cost;
    };
    Candidate cands[4];
    int nc = 0;
    cands[nc++] = {kBFwd, s.cf};
    cands[nc++] = {kBBwd, s.cb};
    if (s.directOk)
        cands[nc++] = {kBDirect, dsp::Sad16(src, ss, s.direct.y, 16) + static_cast<int>(lambda * 2)};
    if (pc.tools.bBidir && pc.bitstream.Codes(kBBidir)) {
        MbPixels bi;
        m_ctx.prediction.PredictB(pc.prev, pc.ref, pc.direct, mbx, mby, kBBidir, s.vf, s.vb, nullptr, nullptr, bi);
        const int bits = MotionSearch::VectorBits(s.vf, s.pf) + MotionSearch::VectorBits(s.vb, s.pb);
        cands[nc++] = {kBBidir, dsp::Sad16(src, ss, bi.y, 16) + static_cast<int>(lambda * bits)};
    }
    // by cost, equal costs in the order listed (std::sort's small-range path, which GCC 12
    // reads as running past the four)
    for (int i = 1; i < nc; ++i)
        for (int j = i; j > 0 && cands[j].cost < cands[j - 1].cost; --j)
            std::swap(cands[j], cands[j - 1]);
    const int best = cands[0].cost;
    int mode16 = 0;
    const int ic = m_intra.Cost16(mbx, mby, av, mode16, pc.tools.exhaustive);
    MbRecord mb;
    const bool copyByEstimate =
        clean && (cands[0].type == kBDirect || best + static_cast<int>(lambda * 4) >= dsp::Sad16(src, ss, s.direct.y, 16));
    if (copyByEstimate && (pc.tools.bCoded == 0 || pc.tools.bCopyFirst)) {
        Code(mbx, mby, kSkip, s, mb);
        return CopyRecord();
    }
    if (pc.tools.bCoded == 0) {
        if (ic + static_cast<int>(lambda * 6) < best)
            m_intra.Code(mbx, mby, av, mb);
        else
            Code(mbx, mby, cands[0].type, s, mb);
        return mb;
    }
    // where copies come in runs, each coded MB follows one, one bit when there are none
    auto bits = [&](const MbRecord &m) { return m_ctx.Bits(mbx, mby, av, m) + pc.bitstream.RunBitsBeforeCoded(); };
    RdChooser rd(m_ctx.cur, pc.src, mbx, mby, m_ctx.qs.lambdaSse);
    const int tries = std::min(nc, pc.tools.bCoded);
    for (int k = 0; k < tries; ++k) {
        MbRecord m;
        Code(mbx, mby, cands[k].type, s, m);
        rd.Try(m, bits(m));
    }
    if (pc.tools.intraBeside == 2 || ic < pc.tools.bIntraClose * best) {
        MbRecord m;
        m_intra.Code(mbx, mby, av, m);
        rd.Try(m, bits(m));
    }
    if (clean) {
        m_ctx.cur.PutMb(mbx, mby, s.direct);
        if (rd.TakeCopy())
            return CopyRecord();
    }
    return rd.Finish();
}

} // namespace corva::rv40
