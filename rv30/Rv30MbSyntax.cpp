#include "rv30/Rv30MbSyntax.h"

#include "rv30/Rv30Tables.h"
#include "rv40/CoefficientWriter.h"
#include "rv40/MbGrid.h"
#include "rv40/VectorPredictor.h"

#include <stdexcept>

namespace corva::rv30 {

using namespace rv40;

namespace {

void PutDifference(BitWriter &w, const MotionVector &v, const MotionVector &pred)
{
    w.Se(v.x - pred.x);
    w.Se(v.y - pred.y);
}

} // namespace

int Rv30MbSyntax::TypeCode(SliceKind kind, int type)
{
    switch (type) {
    case kSkip:
        return 0;
    case kI4:
        return 4;
    case kI16:
        return 5;
    default:
        break;
    }
    if (kind == SliceKind::Bidirectional)
        return type == kBDirect ? 1 : (type == kBFwd ? 2 : (type == kBBwd ? 3 : -1));
    return type == kP16 ? 1 : (type == kP8 ? 2 : -1);
}

void Rv30MbSyntax::Write(BitWriter &w, const MbSite &at, const MbRecord &mb)
{
    if (at.kind == SliceKind::Intra) {
        w.Put(mb.type == kI16 ? 1 : 0, 1);
        if (mb.type == kI16)
            w.Put(static_cast<std::uint32_t>(mb.i16Mode), 2);
        else
            WriteModes(w, at, mb.modes);
        CoefficientWriter(at.qs).WriteResidual(w, mb);
        return;
    }
    const int code = TypeCode(at.kind, mb.type);
    if (code < 0)
        throw std::logic_error("rv30: a macroblock type the bitstream does not have");
    w.Ue(static_cast<std::uint32_t>(code));
    if (mb.type == kSkip)
        return;
    const VectorPredictor predict(at.grid);
    if (mb.type == kP16) {
        PutDifference(w, mb.mv, predict.Mb(at.mbx, at.mby, at.av));
    } else if (mb.type == kP8) {
        MotionVector done[4] = {};
        for (int k = 0; k < 4; ++k) {
            PutDifference(w, mb.mv8[k], predict.Part(at.mbx, at.mby, at.av, k, 1, done));
            done[k] = mb.mv8[k];
        }
    } else if (mb.type == kBFwd || mb.type == kBBwd) {
        // both directions predict from the neighbours' one shown vector
        PutDifference(w, mb.type == kBFwd ? mb.mv : mb.mvB, predict.Mb(at.mbx, at.mby, at.av));
    } else if (mb.type == kI16) {
        w.Put(static_cast<std::uint32_t>(mb.i16Mode), 2);
    } else if (mb.type == kI4) {
        WriteModes(w, at, mb.modes);
    }
    CoefficientWriter(at.qs).WriteResidual(w, mb);
}

// Row by row, two blocks to a code: each block's rank in the context of the block above and
// the block to its left (for the second of a pair, the first).
void Rv30MbSyntax::WriteModes(BitWriter &w, const MbSite &at, const std::int8_t *m)
{
    const Rv30Tables &T = Rv30Tables::Get();
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; i += 2) {
            int ranks[2];
            for (int k = 0; k < 2; ++k) {
                const int above = at.grid.ModeCtx(at.mbx, at.mby, at.av, m, i + k, j - 1);
                const int left = at.grid.ModeCtx(at.mbx, at.mby, at.av, m, i + k - 1, j);
                ranks[k] = T.rankOfMode[above + 1][left + 1][m[4 * j + i + k]];
                if (ranks[k] < 0)
                    throw std::logic_error("rv30: a 4x4 mode its neighbours do not allow");
            }
            w.Ue(T.pairCode[ranks[0]][ranks[1]]);
        }
}

} // namespace corva::rv30
