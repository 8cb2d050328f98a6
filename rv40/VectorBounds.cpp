#include "rv40/VectorBounds.h"

#include <algorithm>

namespace corva::rv40 {

namespace {
// Motion never reaches further outside the picture than this, so MC reads stay in the border.
constexpr int kMaxOutside = 40;
}

void VectorBounds::Clamp(int mbx, int mby, int &x, int &y) const
{
    const int x0 = mbx * 16, y0 = mby * 16;
    x = std::clamp(x, -kMaxOutside - x0, m_w16 + kMaxOutside - 16 - x0);
    y = std::clamp(y, -kMaxOutside - y0, m_h16 + kMaxOutside - 16 - y0);
}

bool VectorBounds::InRange(int mbx, int mby, const MotionVector &v) const
{
    int x = v.x >> 2, y = v.y >> 2;
    const int ox = x, oy = y;
    Clamp(mbx, mby, x, y);
    // a fractional vector reads one more pixel; keep it strictly inside the clamp range
    return x == ox && y == oy && (v.x & 3 ? x < m_w16 + kMaxOutside - 16 - mbx * 16 : true) &&
           (v.y & 3 ? y < m_h16 + kMaxOutside - 16 - mby * 16 : true);
}

} // namespace corva::rv40
