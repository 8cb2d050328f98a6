#pragma once

#include "rv40/Macroblock.h"
#include "rv40/VectorBounds.h"

#include <cstdlib>

namespace corva::rv40 {

class Bitstream;
struct Plane;

// What the search is asked: a block of the source, the reference to find it in, the vector it
// will be coded against (each bit of difference costs lambda) and where to start looking.
struct MotionQuery {
    const Plane *src = nullptr, *ref = nullptr;
    int mbx = 0, mby = 0;
    MotionVector pred;
    double lambda = 0;
    // Starting points besides zero: the prediction, the neighbours' vectors, the co-located one.
    MotionVector starts[8];
    int startCount = 0;
    int range = 16;          // whole pixels around the best start
    bool thorough = false;   // an exhaustive look near the winner, SATD in the sub-pel steps
};

struct MotionResult {
    MotionVector mv;
    int cost = 0;
};

// Motion search: whole pixels by diamond, then the fractions (half and quarter pixels in RV40)
// with the bitstream's own interpolation.
class MotionSearch final {
public:
    MotionSearch(const Bitstream &bitstream, const VectorBounds &bounds) : m_bitstream(bitstream), m_bounds(bounds) {}

    // Bits of a vector coded against its prediction.
    static int VectorBits(const MotionVector &v, const MotionVector &pred);

    // The 16x16 block of the MB.
    MotionResult Search(const MotionQuery &q) const;
    // The w x h part of the MB at (ox, oy), refined around start in steps of firstStep (in
    // vector units), halved down to one; square: all eight neighbours at each step, else four.
    MotionResult Refine(const MotionQuery &q, int ox, int oy, int w, int h, const MotionVector &start, int firstStep,
                        bool square) const;

    // Steps a pattern (scaled) round the best whole-pixel point until the centre wins, at most
    // `iterations` times and never further than window from where it began. Shared by the
    // look-ahead, whose costs differ.
    template <class Cost>
    static int Diamond(const int (*pattern)[2], int points, int scale, int iterations, int window,
                       const VectorBounds &bounds, int mbx, int mby, int &bx, int &by, int best, Cost cost)
    {
        const int cx = bx, cy = by;
        for (int it = 0; it < iterations; ++it) {
            int nbx = bx, nby = by;
            for (int d = 0; d < points; ++d) {
                int x = bx + scale * pattern[d][0], y = by + scale * pattern[d][1];
                if (std::abs(x - cx) > window || std::abs(y - cy) > window)
                    continue;
                bounds.Clamp(mbx, mby, x, y);
                const int c = cost(x, y);
                if (c < best) {
                    best = c;
                    nbx = x;
                    nby = y;
                }
            }
            if (nbx == bx && nby == by)
                break;
            bx = nbx;
            by = nby;
        }
        return best;
    }

private:
    const Bitstream &m_bitstream;
    const VectorBounds &m_bounds;
};

} // namespace corva::rv40
