#include "rv40/VectorPredictor.h"

#include "rv40/MbGrid.h"

namespace corva::rv40 {

MotionVector VectorPredictor::Mb(int mbx, int mby, const Avail &av) const
{
    const MotionVector none[4] = {};
    return Part(mbx, mby, av, 0, 2, none);
}

// From left (A), above (B) and above the partition's top-right corner (C; above-left for
// block 3) on the 8x8 grid. Blocks of this MB count as there; the MB to the right never is.
MotionVector VectorPredictor::Part(int mbx, int mby, const Avail &av, int k, int wide, const MotionVector own[4]) const
{
    const int bx = 2 * mbx + (k & 1), by = 2 * mby + (k >> 1);
    auto inside = [&](int x, int y) { return x >= 2 * mbx && x < 2 * mbx + 2 && y >= 2 * mby && y < 2 * mby + 2; };
    auto vec = [&](int x, int y) { return inside(x, y) ? own[(x - 2 * mbx) + 2 * (y - 2 * mby)] : m_grid.Mv8(x, y); };
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

// Each direction predicts only from neighbours with a vector in that direction: three give the
// median, two their halved sum, one itself. The last MB of a row looks top-left for C.
MotionVector VectorPredictor::B(int mbx, int mby, const Avail &av, bool backward) const
{
    const int mbw = m_grid.Width();
    const int n = mby * mbw + mbx;
    MotionVector found[3];
    int k = 0;
    auto take = [&](int m) {
        const int t = m_grid.Type(m);
        if (!(backward ? HasBackward(t) : HasForward(t)))
            return false;
        const MbRecord &r = m_grid.Record(m);
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

} // namespace corva::rv40
