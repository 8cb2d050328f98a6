#pragma once

#include "rv40/Macroblock.h"

#include <algorithm>

namespace corva::rv40 {

// How far outside the picture motion may reach: never further than the planes' border covers.
// Asked at every point the search tries, hence inline.
class VectorBounds final {
public:
    VectorBounds(int w16, int h16) : m_w16(w16), m_h16(h16) {}

    // Keeps the whole-pixel position of a 16x16 block within reach.
    void Clamp(int mbx, int mby, int &x, int &y) const
    {
        const int x0 = mbx * 16, y0 = mby * 16;
        x = std::clamp(x, -kMaxOutside - x0, m_w16 + kMaxOutside - 16 - x0);
        y = std::clamp(y, -kMaxOutside - y0, m_h16 + kMaxOutside - 16 - y0);
    }

    // Whether a quarter-pel vector of the MB stays within reach, its filter taps included.
    bool InRange(int mbx, int mby, const MotionVector &v) const
    {
        int x = v.x >> 2, y = v.y >> 2;
        const int ox = x, oy = y;
        Clamp(mbx, mby, x, y);
        // a fractional vector reads one more pixel; keep it strictly inside the clamp range
        return x == ox && y == oy && (v.x & 3 ? x < m_w16 + kMaxOutside - 16 - mbx * 16 : true) &&
               (v.y & 3 ? y < m_h16 + kMaxOutside - 16 - mby * 16 : true);
    }

private:
    // Motion never reaches further outside the picture than this, so MC reads stay in the border.
    static constexpr int kMaxOutside = 40;
    int m_w16, m_h16;
};

} // namespace corva::rv40
