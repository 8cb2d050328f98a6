#pragma once

#include <cstddef>
#include <cstdint>

namespace corva::rv40 {

// What the in-loop filter needs to know about one macroblock after it was coded.
struct FilterMb {
    std::uint16_t cbpLuma = 0;   // coded 4x4 luma blocks, raster
    std::uint8_t cbpChroma = 0;  // bits 0..3 U blocks, 4..7 V blocks
    std::uint16_t mvMask = 0;    // 4x4 blocks on 8x8 edges whose vectors differ by more than 3
    std::uint16_t mvLeft = 0, mvTop = 0; // the same split: those on left edges, those on top edges
    bool strong = false;         // intra, or luma DCs in a block of their own
    bool intra = false;
    std::uint8_t q = 0;
};

// Filters a finished reconstruction in place, as the decoder does before showing it or
// predicting from it. Planes cover mbWidth*16 x mbHeight*16 (chroma half that).
void LoopFilter(std::uint8_t *const planes[3], const std::ptrdiff_t strides[3], int mbWidth, int mbHeight,
                const FilterMb *mbs, bool intraPicture, bool smallPicture);

} // namespace corva::rv40
