#include "rv40/Rv40MbSyntax.h"

#include "rv40/CodeTables.h"
#include "rv40/CoefficientWriter.h"
#include "rv40/Dsp.h"
#include "rv40/MbGrid.h"
#include "rv40/VectorPredictor.h"

namespace corva::rv40 {

namespace {

void PutVlc(BitWriter &w, const Vlc &v)
{
    w.Put(v.code, v.len);
}

void PutDifference(BitWriter &w, const MotionVector &v, const MotionVector &pred)
{
    w.Se(v.x - pred.x);
    w.Se(v.y - pred.y);
}

} // namespace

void Rv40MbSyntax::PutRun(BitWriter &w, int &run, bool evenNone)
{
    if (run || evenNone)
        w.Ue(static_cast<std::uint32_t>(run));
    run = 0;
}

void Rv40MbSyntax::Write(BitWriter &w, const MbSite &at, const MbRecord &mb, int &run)
{
    if (at.kind != SliceKind::Intra) {
        if (mb.type == kSkip) {
            ++run;
            return;
        }
        PutRun(w, run, true);
    }
    WriteCoded(w, at, mb);
}

void Rv40MbSyntax::WriteCoded(BitWriter &w, const MbSite &at, const MbRecord &mb)
{
    if (at.kind == SliceKind::Intra) {
        w.Put(mb.type == kI16 ? 1 : 0, 1);
        if (mb.type == kI16) {
            w.Put(static_cast<std::uint32_t>(mb.i16Mode), 2);
        } else {
            w.Put(1, 1); // no quantiser change in this MB
            WriteModes(w, at, mb.modes);
        }
    } else {
        const int table = TypeTable(at);
        if (IsIntra(mb.type))
            WriteIntraHeader(w, table, at, mb);
        else if (at.kind == SliceKind::Bidirectional)
            WriteBHeader(w, table, at, mb);
        else
            WriteInterHeader(w, table, at, mb);
    }
    CoefficientWriter(at.qs).WriteResidual(w, mb);
}

// Code table for the MB type, from the neighbours' types (a skip counts as P 16x16 or direct).
int Rv40MbSyntax::TypeTable(const MbSite &at)
{
    const CodeTables &T = CodeTables::Get();
    const bool b = at.kind == SliceKind::Bidirectional;
    const int mbw = at.grid.Width();
    const int mb = at.mby * mbw + at.mbx;
    const int skipAs = b ? kBDirect : kP16;
    auto typeOf = [&](int n) { return at.grid.Type(n) == kSkip ? skipAs : at.grid.Type(n); };
    int t = 0;
    if (at.av.top) {
        int cnt[12] = {};
        if (at.av.left)
            ++cnt[typeOf(mb - 1)];
        ++cnt[typeOf(mb - mbw)];
        if (at.av.topRight)
            ++cnt[typeOf(mb - mbw + 1)];
        if (at.av.topLeft)
            ++cnt[typeOf(mb - mbw - 1)];
        for (int k = 1; k < 12; ++k)
            if (cnt[k] > cnt[t])
                t = k;
    } else if (at.av.left) {
        t = typeOf(mb - 1);
    }
    return b ? T.btypeContext[t] : T.ptypeContext[t];
}

void Rv40MbSyntax::WriteModes(BitWriter &w, const MbSite &at, const std::int8_t *m)
{
    const CodeTables &T = CodeTables::Get();
    for (int j = 0; j < 4; ++j) {
        if (j == 0 && !at.av.top) {
            int pat = 0;
            for (int i = 0; i < 4; ++i)
                if (m[i] == dsp::kHor)
                    pat |= 8 >> i;
            PutVlc(w, T.aicTop[pat]);
            continue;
        }
        for (int i = 0; i < 4;) {
            const int A = at.grid.ModeCtx(at.mbx, at.mby, at.av, m, i + 1, j - 1);
            const int B = at.grid.ModeCtx(at.mbx, at.mby, at.av, m, i, j - 1);
            const int C = at.grid.ModeCtx(at.mbx, at.mby, at.av, m, i - 1, j);
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

// Type and modes of an intra MB in an inter picture.
void Rv40MbSyntax::WriteIntraHeader(BitWriter &w, int table, const MbSite &at, const MbRecord &mb)
{
    const CodeTables &T = CodeTables::Get();
    PutVlc(w, at.kind == SliceKind::Bidirectional ? T.btype[table][mb.type] : T.ptype[table][mb.type]);
    if (mb.type == kI16)
        w.Put(static_cast<std::uint32_t>(mb.i16Mode), 2);
    else
        WriteModes(w, at, mb.modes);
}

void Rv40MbSyntax::WriteInterHeader(BitWriter &w, int table, const MbSite &at, const MbRecord &mb)
{
    PutVlc(w, CodeTables::Get().ptype[table][mb.type]);
    const VectorPredictor predict(at.grid);
    if (mb.type == kP16 || mb.type == kPMix) {
        PutDifference(w, mb.mv, predict.Mb(at.mbx, at.mby, at.av));
        return;
    }
    MotionVector done[4] = {};
    if (mb.type == kP16x8 || mb.type == kP8x16) {
        for (int part = 0; part < 2; ++part) {
            const int k = HalfBlock(mb.type, part);
            PutDifference(w, mb.mv8[k], predict.Part(at.mbx, at.mby, at.av, k, mb.type == kP16x8 ? 2 : 1, done));
            SetHalf(mb.type, part, mb.mv8[k], done);
        }
        return;
    }
    for (int k = 0; k < 4; ++k) {
        PutDifference(w, mb.mv8[k], predict.Part(at.mbx, at.mby, at.av, k, 1, done));
        done[k] = mb.mv8[k];
    }
}

void Rv40MbSyntax::WriteBHeader(BitWriter &w, int table, const MbSite &at, const MbRecord &mb)
{
    PutVlc(w, CodeTables::Get().btype[table][mb.type]);
    const VectorPredictor predict(at.grid);
    if (HasForward(mb.type))
        PutDifference(w, mb.mv, predict.B(at.mbx, at.mby, at.av, false));
    if (HasBackward(mb.type))
        PutDifference(w, mb.mvB, predict.B(at.mbx, at.mby, at.av, true));
}

} // namespace corva::rv40
