#pragma once

#include "rv40/Macroblock.h"

#include <algorithm>

namespace corva::rv40 {

// How far outside the picture motion may reach: never further than the planes' border covers.
// Vectors count in the bitstream's units, `units` to a pixel (4 for quarter pixels). Asked at
// every point the search tries, hence inline.
class VectorBounds final {
public:
    VectorBounds(int w16, int h16, int units) : m_w16(w16), m_h16(h16), m_units(units) {}

    int Units() const { return m_units; }
    // The whole pixels of a vector component, rounded down.
    int Whole(int v) const
    {
        if (m_units == 4)
            return v >> 2;
        return v >= 0 ? v / m_units : -((-v + m_units - 1) / m_units);
    }

    // Keeps the whole-pixel position of a 16x16 block within reach.
    void Clamp(int mbx, int mby, int &x, int &y) const
    {
        const int x0 = mbx * 16, y0 = mby * 16;
        x = std::clamp(x, -kMaxOutside - x0, m_w16 + kMaxOutside - 16 - x0);
        y = std::clamp(y, -kMaxOutside - y0, m_h16 + kMaxOutside - 16 - y0);
    }

    // Whether a vector of the MB stays within reach, its filter taps included.
    bool InRange(int mbx, int mby, const MotionVector &v) const
    {
        int x = Whole(v.x), y = Whole(v.y);
        const int ox = x, oy = y;
        Clamp(mbx, mby, x, y);
        // a fractional vector reads one more pixel; keep it strictly inside the clamp range
        return x == ox && y == oy && (v.x != ox * m_units ? x < m_w16 + kMaxOutside - 16 - mbx * 16 : true) &&
               (v.y != oy * m_units ? y < m_h16 + kMaxOutside - 16 - mby * 16 : true);
    }

private:
    // Motion never reaches further outside the picture than this, so MC reads stay in the border.
    static constexpr int kMaxOutside = 40;
    int m_w16, m_h16, m_units;
};

} // namespace corva::rv40
