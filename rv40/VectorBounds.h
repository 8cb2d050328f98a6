#pragma once

#include "rv40/Macroblock.h"

namespace corva::rv40 {

// How far outside the picture motion may reach: never further than the planes' border covers.
class VectorBounds final {
public:
    VectorBounds(int w16, int h16) : m_w16(w16), m_h16(h16) {}
    // Keeps the whole-pixel position of a 16x16 block within reach.
    void Clamp(int mbx, int mby, int &x, int &y) const;
    // Whether a quarter-pel vector of the MB stays within reach, its filter taps included.
    bool InRange(int mbx, int mby, const MotionVector &v) const;

private:
    int m_w16, m_h16;
};

} // namespace corva::rv40
