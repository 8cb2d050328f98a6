#pragma once

#include "rv40/Macroblock.h"

namespace corva::rv40 {

class MbGrid;

// The vectors a decoder predicts from the neighbours, against which vectors are coded.
class VectorPredictor final {
public:
    explicit VectorPredictor(const MbGrid &grid) : m_grid(grid) {}
    // The whole MB's (reading no block of its own).
    MotionVector Mb(int mbx, int mby, const Avail &av) const;
    // The partition whose top-left 8x8 block is k (0 TL, 1 TR, 2 BL, 3 BR) and which is `wide`
    // blocks wide, given the MB's blocks coded before it.
    MotionVector Part(int mbx, int mby, const Avail &av, int k, int wide, const MotionVector own[4]) const;
    // A B MB's forward or backward vector.
    MotionVector B(int mbx, int mby, const Avail &av, bool backward) const;

private:
    const MbGrid &m_grid;
};

} // namespace corva::rv40
