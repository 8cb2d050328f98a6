#include "rv40/Picture.h"

#include "rv40/Dsp.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace corva::rv40 {

namespace {
constexpr int kLumaBorder = 64, kChromaBorder = 32;
}

void Picture::Init(int w16, int h16)
{
    p[0].Init(w16, h16, kLumaBorder);
    p[1].Init(w16 / 2, h16 / 2, kChromaBorder);
    p[2].Init(w16 / 2, h16 / 2, kChromaBorder);
}

void Picture::Load(const PictureView &v)
{
    for (int c = 0; c < 3; ++c)
        if (!v.plane[c] || v.stride[c] < (c ? v.width / 2 : v.width))
            throw std::invalid_argument("rv40: picture plane missing or narrower than the picture");
    for (int c = 0; c < 3; ++c) {
        const int sw = c ? v.width / 2 : v.width, sh = c ? v.height / 2 : v.height;
        Plane &d = p[c];
        for (int y = 0; y < d.h; ++y) {
            const std::uint8_t *s = v.plane[c] + std::min(y, sh - 1) * v.stride[c];
            std::uint8_t *r = d.At(0, y);
            std::memcpy(r, s, static_cast<std::size_t>(sw));
            std::memset(r + sw, s[sw - 1], static_cast<std::size_t>(d.w - sw));
        }
    }
}

void Picture::Extend()
{
    for (Plane &plane : p)
        plane.Extend();
}

void Picture::SaveMb(int mbx, int mby, MbPixels &s) const
{
    for (int y = 0; y < 16; ++y)
        std::memcpy(s.y + 16 * y, p[0].At(mbx * 16, mby * 16 + y), 16);
    for (int y = 0; y < 8; ++y) {
        std::memcpy(s.u + 8 * y, p[1].At(mbx * 8, mby * 8 + y), 8);
        std::memcpy(s.v + 8 * y, p[2].At(mbx * 8, mby * 8 + y), 8);
    }
}

void Picture::PutMb(int mbx, int mby, const MbPixels &s)
{
    for (int y = 0; y < 16; ++y)
        std::memcpy(p[0].At(mbx * 16, mby * 16 + y), s.y + 16 * y, 16);
    for (int y = 0; y < 8; ++y) {
        std::memcpy(p[1].At(mbx * 8, mby * 8 + y), s.u + 8 * y, 8);
        std::memcpy(p[2].At(mbx * 8, mby * 8 + y), s.v + 8 * y, 8);
    }
}

std::uint64_t Picture::MbSse(const Picture &o, int mbx, int mby) const
{
    return dsp::Sse(p[0].At(mbx * 16, mby * 16), p[0].stride, o.p[0].At(mbx * 16, mby * 16), o.p[0].stride, 16, 16) +
           dsp::Sse(p[1].At(mbx * 8, mby * 8), p[1].stride, o.p[1].At(mbx * 8, mby * 8), o.p[1].stride, 8, 8) +
           dsp::Sse(p[2].At(mbx * 8, mby * 8), p[2].stride, o.p[2].At(mbx * 8, mby * 8), o.p[2].stride, 8, 8);
}

} // namespace corva::rv40
