#include "rv40/MotionSearch.h"

#include "rv40/BitWriter.h"
#include "rv40/Bitstream.h"
#include "rv40/Dsp.h"
#include "rv40/Plane.h"

namespace corva::rv40 {

int MotionSearch::VectorBits(const MotionVector &v, const MotionVector &p)
{
    return BitWriter::SeBits(v.x - p.x) + BitWriter::SeBits(v.y - p.y);
}

MotionResult MotionSearch::Search(const MotionQuery &q) const
{
    const Plane &R = *q.ref;
    const std::uint8_t *s = q.src->At(q.mbx * 16, q.mby * 16);
    const std::ptrdiff_t ss = q.src->stride;
    const std::uint8_t *r0 = R.At(q.mbx * 16, q.mby * 16);
    const int units = m_bounds.Units();
    auto intCost = [&](int x, int y) {
        const MotionVector v{units * x, units * y};
        return dsp::Sad16(s, ss, r0 + y * R.stride + x, R.stride) + static_cast<int>(q.lambda * VectorBits(v, q.pred));
    };
    int bx = 0, by = 0, best = intCost(0, 0);
    auto consider = [&](int x, int y) {
        m_bounds.Clamp(q.mbx, q.mby, x, y);
        const int c = intCost(x, y);
        if (c < best) {
            best = c;
            bx = x;
            by = y;
        }
    };
    for (int k = 0; k < q.startCount; ++k)
        consider(m_bounds.Whole(q.starts[k].x + units / 2), m_bounds.Whole(q.starts[k].y + units / 2));
    // large diamond steps until the centre wins, then a small diamond
    static constexpr int kLarge[8][2] = {{0, -2}, {1, -1}, {2, 0}, {1, 1}, {0, 2}, {-1, 1}, {-2, 0}, {-1, -1}};
    static constexpr int kSmall[4][2] = {{0, -1}, {1, 0}, {0, 1}, {-1, 0}};
    best = Diamond(kLarge, 8, 1, q.range, q.range, m_bounds, q.mbx, q.mby, bx, by, best, intCost);
    for (const auto &d : kSmall)
        consider(bx + d[0], by + d[1]);
    if (q.thorough) {
        // an exhaustive look close to the winner catches what the diamond stepped over
        const int ox = bx, oy = by;
        for (int y = oy - 3; y <= oy + 3; ++y)
            for (int x = ox - 3; x <= ox + 3; ++x)
                consider(x, y);
    }
    // the fractions (half then quarter pixels) with the bitstream's own interpolation
    return Refine(q, 0, 0, 16, 16, {units * bx, units * by}, units / 2, true);
}

MotionResult MotionSearch::Refine(const MotionQuery &q, int ox, int oy, int w, int h, const MotionVector &start,
                                  int firstStep, bool square) const
{
    const Plane &R = *q.ref;
    const std::uint8_t *s = q.src->At(q.mbx * 16 + ox, q.mby * 16 + oy);
    const std::ptrdiff_t ss = q.src->stride;
    const std::uint8_t *r0 = R.At(q.mbx * 16 + ox, q.mby * 16 + oy);
    const bool whole = w == 16 && h == 16;
    auto cost = [&](const MotionVector &v) {
        std::uint8_t p[256];
        m_bitstream.LumaMc(p, 16, r0, R.stride, v, w, h);
        const int d = q.thorough ? dsp::Satd(s, ss, p, 16, w, h)
                                 : (whole ? dsp::Sad16(s, ss, p, 16) : dsp::Sad(s, ss, p, 16, w, h));
        return d + static_cast<int>(q.lambda * VectorBits(v, q.pred));
    };
    static constexpr int kSquare[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {-1, 0}, {1, 0}, {-1, 1}, {0, 1}, {1, 1}};
    static constexpr int kCross[4][2] = {{0, -1}, {-1, 0}, {1, 0}, {0, 1}};
    MotionResult r{start, cost(start)};
    for (int step = firstStep; step >= 1; step >>= 1) {
        const MotionVector c0 = r.mv;
        for (int d = 0; d < (square ? 8 : 4); ++d) {
            const int dx = square ? kSquare[d][0] : kCross[d][0], dy = square ? kSquare[d][1] : kCross[d][1];
            const MotionVector t{c0.x + step * dx, c0.y + step * dy};
            if (!m_bounds.InRange(q.mbx, q.mby, t))
                continue;
            const int c = cost(t);
            if (c < r.cost) {
                r.cost = c;
                r.mv = t;
            }
        }
    }
    return r;
}

} // namespace corva::rv40
