#include "rv40/AnalysisContext.h"

#include "rv40/DecisionPolicy.h"

namespace corva::rv40 {

AnalysisContext::AnalysisContext(const PictureContext &p, Picture &c, const MbGrid &g, DecisionPolicy &pol)
    : pc(p), cur(c), grid(g), policy(pol), qs(p.qs), residual(p.src, qs, p.levels), prediction(p.bitstream),
      search(p.bitstream, p.bounds)
{
}

std::size_t AnalysisContext::Bits(int mbx, int mby, const Avail &av, const MbRecord &mb) const
{
    return pc.bitstream.CodedMbBits(Site(mbx, mby, av), mb);
}

MotionResult AnalysisContext::Search(const Picture &from, int mbx, int mby, const Avail &av, const MotionVector &pred,
                                     const MotionVector &extra) const
{
    MotionQuery q;
    q.src = &pc.src.p[0];
    q.ref = &from.p[0];
    q.mbx = mbx;
    q.mby = mby;
    q.pred = pred;
    q.lambda = qs.lambda;
    q.range = pc.tools.searchRange;
    q.thorough = pc.tools.exhaustive;
    q.starts[q.startCount++] = pred;
    if (av.left)
        q.starts[q.startCount++] = grid.Mv8(2 * mbx - 1, 2 * mby);
    if (av.top)
        q.starts[q.startCount++] = grid.Mv8(2 * mbx, 2 * mby - 1);
    if (av.topRight)
        q.starts[q.startCount++] = grid.Mv8(2 * mbx + 2, 2 * mby - 1);
    q.starts[q.startCount++] = extra;
    if (pc.haveCatchUp && &from == &pc.ref)
        q.starts[q.startCount++] = pc.catchUp;
    return search.Search(q);
}

MotionResult AnalysisContext::SearchPart(int mbx, int mby, int ox, int oy, int w, int h, const MotionVector &start,
                                         const MotionVector &pred) const
{
    MotionQuery q;
    q.src = &pc.src.p[0];
    q.ref = &pc.ref.p[0];
    q.mbx = mbx;
    q.mby = mby;
    q.pred = pred;
    q.lambda = qs.lambda;
    q.thorough = pc.tools.exhaustive;
    // the full square around each step from a whole pixel, or a cross from half a pixel
    const int units = pc.bounds.Units();
    const bool square = pc.tools.refineSquare;
    return search.Refine(q, ox, oy, w, h, start, square ? units : units / 2, square);
}

void AnalysisContext::Jitter(int mbx, int mby, MotionVector &v, int reach)
{
    const int span = 2 * reach + 1;
    const int dx = static_cast<int>(policy.Draw() % static_cast<std::uint32_t>(span)) - reach;
    const int dy = static_cast<int>(policy.Draw() % static_cast<std::uint32_t>(span)) - reach;
    const MotionVector t{v.x + dx, v.y + dy};
    if (pc.bounds.InRange(mbx, mby, t))
        v = t;
}

} // namespace corva::rv40
