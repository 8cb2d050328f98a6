#pragma once

#include <cstddef>
#include <cstdint>

namespace corva::rv30 {

// RV30's motion compensation: luma in thirds of a pixel with its 4-tap filters (one pass, one
// rounding, for both directions at once), chroma in eighths with the bilinear filter, the
// chroma vector the luma one halved toward zero and its thirds mapped to eighths 0, 3 and 5.
class ThirdPelMc final {
public:
    // ref points at the block's own position in a plane whose border covers every read.
    static void Luma(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *ref, std::ptrdiff_t stride, int mvx,
                     int mvy, int w, int h);
    static void Chroma(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *ref, std::ptrdiff_t stride, int mvx,
                       int mvy, int w, int h);
    // Whole pixels (rounded down) and the third left over, of a luma vector component.
    static void Split(int v, int &whole, int &third);
    // Whole chroma pixels and the eighth left over, of a luma vector component.
    static void SplitChroma(int v, int &whole, int &eighth);
};

} // namespace corva::rv30
