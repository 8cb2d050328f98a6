#include "rv40/Macroblock.h"

#include <algorithm>

namespace corva::rv40 {

int Median(int a, int b, int c)
{
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

void SetHalf(int type, int part, const MotionVector &v, MotionVector mv8[4])
{
    const int k = HalfBlock(type, part);
    mv8[k] = v;
    mv8[type == kP16x8 ? k + 1 : k + 2] = v;
}

} // namespace corva::rv40
