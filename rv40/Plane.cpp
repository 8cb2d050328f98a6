#include "rv40/Plane.h"

#include <cstring>

namespace corva::rv40 {

void Plane::Init(int width, int height, int b)
{
    w = width;
    h = height;
    border = b;
    stride = width + 2 * b;
    buf.assign(static_cast<std::size_t>(stride * (height + 2 * b)), 0);
    o = buf.data() + b * stride + b;
}

Plane::Plane(const Plane &other) : buf(other.buf), w(other.w), h(other.h), border(other.border), stride(other.stride)
{
    o = other.o ? buf.data() + (other.o - other.buf.data()) : nullptr;
}

Plane &Plane::operator=(const Plane &other)
{
    if (this != &other) {
        buf = other.buf;
        w = other.w;
        h = other.h;
        border = other.border;
        stride = other.stride;
        o = other.o ? buf.data() + (other.o - other.buf.data()) : nullptr;
    }
    return *this;
}

void Plane::Extend()
{
    for (int y = 0; y < h; ++y) {
        std::uint8_t *r = At(0, y);
        std::memset(r - border, r[0], static_cast<std::size_t>(border));
        std::memset(r + w, r[w - 1], static_cast<std::size_t>(border));
    }
    for (int y = 1; y <= border; ++y) {
        std::memcpy(At(-border, -y), At(-border, 0), static_cast<std::size_t>(stride));
        std::memcpy(At(-border, h - 1 + y), At(-border, h - 1), static_cast<std::size_t>(stride));
    }
}

} // namespace corva::rv40
