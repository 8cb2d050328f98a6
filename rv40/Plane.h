#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corva::rv40 {

// One plane with a border wide enough for every read motion compensation makes.
struct Plane {
    std::vector<std::uint8_t> buf;
    int w = 0, h = 0, border = 0;
    std::ptrdiff_t stride = 0;
    std::uint8_t *o = nullptr;

    Plane() = default;
    // a copy points into its own pixels; a move keeps the buffer, and so the origin
    Plane(const Plane &other);
    Plane &operator=(const Plane &other);
    Plane(Plane &&) noexcept = default;
    Plane &operator=(Plane &&) noexcept = default;

    void Init(int width, int height, int b);
    std::uint8_t *At(int x, int y) { return o + y * stride + x; }
    const std::uint8_t *At(int x, int y) const { return o + y * stride + x; }
    // Replicates the edge pixels into the border, as a decoder's clamped reads would see them.
    void Extend();
};

} // namespace corva::rv40
