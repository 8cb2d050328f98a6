#pragma once

#include "rv40/LoopFilter.h"

#include <cstddef>
#include <cstdint>

namespace corva::rv30 {

// RV30's in-loop filter: one weak filter on the edges of coded blocks and of blocks whose
// vectors differ, its strength the quantiser's limit (none below 11). Rows top to bottom, each
// its vertical edges first, then its horizontal ones, as the decoder filters a row once the
// next is decoded.
class Rv30LoopFilter final {
public:
    static void Filter(std::uint8_t *const planes[3], const std::ptrdiff_t strides[3], int mbWidth, int mbHeight,
                       const rv40::FilterMb *mbs, bool intraPicture);

    // Two pixels either side of an edge, four lines along it: the inner two move toward each
    // other by at most lim. step crosses the edge, along goes down it.
    static void Edge(std::uint8_t *p, std::ptrdiff_t step, std::ptrdiff_t along, int lim);
};

} // namespace corva::rv30
