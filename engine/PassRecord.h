#pragma once

#include "rv40/Rv40Types.h"

namespace corva {

// What one picture of a first pass measured.
struct PassRecord
{
    rv40::PictureType type = rv40::PictureType::Inter;
    double cost = 0;
    int quantiser = 0;
    double bits = 0;
    // Where the picture shows, counted in pictures (coding order differs with B-pictures).
    int display = -1;
    // The estimate of the picture as an intra one (cost is the estimate as the type it was
    // coded as): how much of an inter picture its reference gives it.
    double intra = 0;
};

} // namespace corva
