#pragma once

#include <cstddef>
#include <cstdint>

namespace corva::rv40 {

// An 8-bit 4:2:0 picture owned by someone else; width and height are multiples of 4.
struct PictureView {
    int width = 0, height = 0;
    const std::uint8_t *plane[3] = {};
    std::ptrdiff_t stride[3] = {};
};

} // namespace corva::rv40
