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
};

} // namespace corva
