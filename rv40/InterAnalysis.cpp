#include "rv40/InterAnalysis.h"

#include "rv40/AnalysisContext.h"
#include "rv40/DecisionPolicy.h"
#include "rv40/Dsp.h"
#include "rv40/RdChooser.h"
#include "rv40/VectorPredictor.h"

#include <algorithm>

namespace corva::rv40 {

MbRecord CopyRecord()
{
    MbRecord m;
    m.type = kSkip;
    return m;
}

void InterAnalysis::Code(int mbx, int mby, int type, const MotionVector &v, MbRecord &m)
{
    m.type = type;
    m.mv = v;
    const MbTarget into = MbTarget::Into(m_ctx.cur, mbx, mby);
    if (Partitioned(type))
        m_ctx.prediction.Predict(m_ctx.pc.ref, mbx, mby, m.mv8, into);
    else
        m_ctx.prediction.Predict(m_ctx.pc.ref, mbx, mby, v, into);
    m_ctx.residual.CodeInter(mbx, mby, m_ctx.cur, m, m_ctx.policy.ByCost());
}

bool InterAnalysis::CodeMix(int mbx, int mby, const MotionVector &v, MbRecord &m, bool force)
{
    Plane &Y = m_ctx.cur.p[0];
    m_ctx.prediction.Predict(m_ctx.pc.ref, mbx, mby, v, MbTarget::Into(m_ctx.cur, mbx, mby));
    std::uint8_t *at = Y.At(mbx * 16, mby * 16);
    if (!force && !m_ctx.residual.InterDcLevel(mbx, mby, at, Y.stride))
        return false;
    std::uint8_t pred[256];
    for (int y = 0; y < 16; ++y)
        std::copy(at + y * Y.stride, at + y * Y.stride + 16, pred + 16 * y);
    m.type = kPMix;
    m.mv = v;
    m.cbp = 0;
    m_ctx.residual.CodeLuma16(mbx, mby, Y, pred, m, true);
    m_ctx.residual.CodeInterChroma(mbx, mby, m_ctx.cur, m, m_ctx.policy.ByCost());
    return true;
}

bool InterAnalysis::Shifted(int mbx, int mby) const
{
    const Plane &R = m_ctx.pc.ref.p[0];
    return m_ctx.pc.bitstream.Codes(kPMix) &&
           m_ctx.residual.InterDcLevel(mbx, mby, R.At(mbx * 16, mby * 16), R.stride) > 0;
}

MbRecord InterAnalysis::Refine(int mbx, int mby, const Avail &av)
{
    RdChooser rd(m_ctx.cur, m_ctx.pc.src, mbx, mby, m_ctx.qs.lambdaSse);
    MbRecord m;
    Code(mbx, mby, kP16, MotionVector{}, m);
    rd.Try(m, CandidateBits(mbx, mby, av, m));
    return CopyOrBest(rd, mbx, mby);
}

std::size_t InterAnalysis::CandidateBits(int mbx, int mby, const Avail &av, const MbRecord &m) const
{
    return m_ctx.Bits(mbx, mby, av, m) + m_ctx.pc.bitstream.RunBitsBeforeCoded();
}

MbRecord InterAnalysis::Copy(int mbx, int mby)
{
    m_ctx.prediction.Predict(m_ctx.pc.ref, mbx, mby, MotionVector{}, MbTarget::Into(m_ctx.cur, mbx, mby));
    return CopyRecord();
}

MbRecord InterAnalysis::CopyOrBest(RdChooser &rd, int mbx, int mby)
{
    if (!m_ctx.grid.LastMb(mbx, mby)) {
        m_ctx.prediction.Predict(m_ctx.pc.ref, mbx, mby, MotionVector{}, MbTarget::Into(m_ctx.cur, mbx, mby));
        if (rd.TakeCopy())
            return CopyRecord();
    }
    return rd.Finish();
}

bool InterAnalysis::Settled(int mbx, int mby) const
{
    const PictureContext &pc = m_ctx.pc;
    const auto n = static_cast<std::size_t>(mby * m_ctx.grid.Width() + mbx);
    return pc.sameSource && pc.sameSource[n] && pc.refMbType[n] == kSkip && m_ctx.qs.q >= pc.refQuant[n];
}

void InterAnalysis::SearchHalves(int mbx, int mby, const Avail &av, int type, const MotionVector &start,
                                 MotionVector out[4]) const
{
    const bool wide = type == kP16x8;
    const VectorPredictor predict(m_ctx.grid);
    MotionVector own[4] = {};
    for (int part = 0; part < 2; ++part) {
        const int k = HalfBlock(type, part);
        const MotionVector p = predict.Part(mbx, mby, av, k, wide ? 2 : 1, own);
        const MotionResult r = m_ctx.SearchPart(mbx, mby, wide ? 0 : 8 * part, wide ? 8 * part : 0, wide ? 16 : 8,
                                                wide ? 8 : 16, start, p);
        SetHalf(type, part, r.mv, own);
    }
    std::copy(own, own + 4, out);
}

MbRecord InterAnalysis::CodeStill(int mbx, int mby)
{
    MbRecord m;
    Code(mbx, mby, kP16, MotionVector{}, m);
    return m;
}

MbRecord InterAnalysis::CodePredicted(int mbx, int mby)
{
    MbRecord m;
    Code(mbx, mby, kP16, VectorPredictor(m_ctx.grid).Mb(mbx, mby, m_ctx.grid.AvailAt(mbx, mby)), m);
    return m;
}

MbRecord InterAnalysis::Decide(int mbx, int mby)
{
    const PictureContext &pc = m_ctx.pc;
    DecisionPolicy &policy = m_ctx.policy;
    const MbKind kind = policy.Kind();
    const bool random = policy.Random();
    const double lambda = m_ctx.qs.lambda;
    const Avail av = m_ctx.grid.AvailAt(mbx, mby);
    const VectorPredictor predict(m_ctx.grid);
    const MotionVector pred = predict.Mb(mbx, mby, av);
    const bool last = m_ctx.grid.LastMb(mbx, mby);
    MbRecord mb;
    // a source picture shown longer than the film's picture time comes again and again: what
    // was settled the first time is a copy again, without a search
    if (kind == MbKind::ByCost && !random && !last && Settled(mbx, mby)) {
        return Copy(mbx, mby);
    }
    // and where the whole source is the reference's again, the reference at no motion is what
    // there is to refine it from
    if (kind == MbKind::ByCost && !random && pc.sourceRepeats)
        return Refine(mbx, mby, av);
    bool intra = kind == MbKind::Intra4x4 || kind == MbKind::Intra16x16;
    bool skip = false;
    bool intraClose = false;
    MotionVector v;
    int interCost = 0;
    if (!intra) {
        const MotionResult r =
            m_ctx.Search(pc.ref, mbx, mby, av, pred,
                         pc.refMv8[static_cast<std::size_t>(2 * mby * 2 * m_ctx.grid.Width() + 2 * mbx)]);
        v = r.mv;
        interCost = r.cost;
        if (random)
            m_ctx.Jitter(mbx, mby, v, 8);
        if (kind == MbKind::Copy) {
            skip = !last; // a picture of copies only is not decodable
        } else if (kind == MbKind::ByCost && !last &&
                   m_ctx.residual.IsClean(mbx, mby, pc.ref.p[0].At(mbx * 16, mby * 16), pc.ref.p[0].stride,
                                          pc.ref.p[1].At(mbx * 8, mby * 8), pc.ref.p[2].At(mbx * 8, mby * 8),
                                          pc.ref.p[1].stride) &&
                   !Shifted(mbx, mby)) {
            // the copy is good enough when coding the vector would not pay for itself
            const int zeroCost = dsp::Sad16(pc.src.p[0].At(mbx * 16, mby * 16), pc.src.p[0].stride,
                                            pc.ref.p[0].At(mbx * 16, mby * 16), pc.ref.p[0].stride);
            skip = v == MotionVector{} || zeroCost <= interCost + static_cast<int>(lambda * 4);
        }
        if (!skip && policy.ByCost()) {
            // measured in the unit the search used
            int mode16 = 0;
            const int ic = m_intra.Cost16(mbx, mby, av, mode16, pc.tools.exhaustive);
            intra = ic + static_cast<int>(lambda * 6) < interCost;
            // the estimate is rough: near the line (up to three times the vector's cost, as
            // measured) intra is coded too and the coded result decides
            intraClose = ic < 3 * interCost;
        } else if (!skip && random && kind == MbKind::ByCost) {
            intra = policy.Draw() % 8 == 0;
        }
    }
    bool split = false;
    bool tried8 = false;
    if (!intra && !skip) {
        // splitting only pays where one vector leaves a clearly visible error
        const bool worthIt = interCost > 512 + static_cast<int>(lambda * 16);
        const bool try8 = (pc.tools.split8 && kind == MbKind::ByCost && (worthIt || random)) ||
                          kind == MbKind::Inter8x8;
        if (try8) {
            tried8 = true;
            int cost8 = static_cast<int>(lambda * 4);
            for (int k = 0; k < 4; ++k) {
                const MotionVector p8 = predict.Part(mbx, mby, av, k, 1, mb.mv8);
                const MotionResult r = m_ctx.SearchPart(mbx, mby, 8 * (k & 1), 8 * (k >> 1), 8, 8, v, p8);
                mb.mv8[k] = r.mv;
                if (random)
                    m_ctx.Jitter(mbx, mby, mb.mv8[k], 4);
                cost8 += r.cost;
            }
            // the 16x16 cost was measured with SAD unless the effort is thorough, as the parts'
            split = kind == MbKind::Inter8x8 || cost8 < interCost || (random && (policy.Draw() & 1));
        }
    }
    int type = split ? kP8 : kP16;
    if (!intra && !skip &&
        (kind == MbKind::Inter16x8 || kind == MbKind::Inter8x16 ||
         (random && kind == MbKind::ByCost && !split && pc.bitstream.Codes(kP16x8) && pc.bitstream.Codes(kP8x16) &&
          policy.Draw() % 3 == 0))) {
        // halves: forced, or at random with their vectors moved at random
        type = kind == MbKind::Inter16x8   ? kP16x8
               : kind == MbKind::Inter8x16 ? kP8x16
                                           : (policy.Draw() & 1 ? kP16x8 : kP8x16);
        SearchHalves(mbx, mby, av, type, v, mb.mv8);
        for (int part = 0; part < 2 && random; ++part) {
            MotionVector h = mb.mv8[HalfBlock(type, part)];
            m_ctx.Jitter(mbx, mby, h, 4);
            SetHalf(type, part, h, mb.mv8);
        }
    }
    // forced, or at random in place of a 16x16 MB
    const bool mix = !intra && !skip && pc.bitstream.Codes(kPMix) &&
                     (kind == MbKind::InterMix || (random && kind == MbKind::ByCost && type == kP16 && policy.Draw() % 4 == 0));
    if (!skip && policy.ByCost()) {
        const bool tryIntra =
            intra || pc.tools.intraBeside == 2 || (pc.tools.intraBeside == 1 && intraClose);
        return Choose(mbx, mby, av, mb, type, v, tried8, split, tryIntra);
    }
    if (skip) {
        return Copy(mbx, mby);
    }
    if (intra)
        m_intra.Code(mbx, mby, av, mb);
    else if (mix)
        CodeMix(mbx, mby, v, mb, true);
    else
        Code(mbx, mby, type, v, mb);
    return mb;
}

// A copy is one only when it is not the picture's last MB: FFmpeg's decoder refuses a skip run
// over the whole picture and paints it by error concealment instead, which after motion is no
// copy and with its SIMD IDCT spoils the next picture's first coded block.
MbRecord InterAnalysis::Choose(int mbx, int mby, const Avail &av, const MbRecord &searched, int type,
                               const MotionVector &v, bool tried8, bool split, bool tryIntra)
{
    const PictureContext &pc = m_ctx.pc;
    // where copies come in runs, each coded MB follows one, one bit when there are none
    auto bits = [&](const MbRecord &m) { return CandidateBits(mbx, mby, av, m); };
    RdChooser rd(m_ctx.cur, pc.src, mbx, mby, m_ctx.qs.lambdaSse);
    MbRecord chosen = searched;
    Code(mbx, mby, type, v, chosen);
    rd.Try(chosen, bits(chosen));
    if (tried8 && pc.tools.splitByRd) {
        // the search's estimate of the split leaves out the residual; coded, both are known
        MbRecord other = searched;
        Code(mbx, mby, split ? kP16 : kP8, v, other);
        rd.Try(other, bits(other));
        // and the two halves, where their vectors differ (alike, they are the MB's)
        for (const int halves : {kP16x8, kP8x16}) {
            if (!pc.bitstream.Codes(halves))
                continue;
            MbRecord half = searched;
            SearchHalves(mbx, mby, av, halves, v, half.mv8);
            if (half.mv8[0] == half.mv8[3])
                continue;
            Code(mbx, mby, halves, v, half);
            rd.Try(half, bits(half));
        }
    }
    // a shift of the whole MB's brightness (a camera's exposure, a fade) is one level of a DC
    // block, where plain it is one in each of sixteen blocks
    if (pc.bitstream.Codes(kPMix)) {
        MbRecord mix = searched;
        if (CodeMix(mbx, mby, v, mix))
            rd.Try(mix, bits(mix));
    }
    if (tryIntra) {
        MbRecord in;
        m_intra.Code(mbx, mby, av, in);
        rd.Try(in, bits(in));
    }
    return CopyOrBest(rd, mbx, mby);
}

} // namespace corva::rv40
