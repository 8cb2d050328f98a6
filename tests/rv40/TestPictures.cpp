#include "TestPictures.h"

#include <cmath>
#include <cstring>

namespace corva::rv40::test {

namespace {

std::uint32_t Hash(std::uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

double Texture(double x, double y, int plane)
{
    // rings, stripes and a soft blob: detail in every direction for the motion search
    const double r = std::sqrt((x - 40) * (x - 40) + (y - 30) * (y - 30));
    double v = 128 + 60 * std::sin(r * 0.45 + plane) + 40 * std::sin(x * 0.21) * std::cos(y * 0.17 + plane);
    if (static_cast<int>(std::floor(x / 12) + std::floor(y / 10)) % 2 == 0)
        v += 30;
    return v;
}

std::uint8_t Clip(double v)
{
    return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : std::lround(v)));
}

} // namespace

YuvFrame MakeFrame(Content content, int width, int height, int n, int frames)
{
    YuvFrame f;
    f.width = width;
    f.height = height;
    if (content == Content::Cut)
        content = n < frames / 2 ? Content::Pan : Content::Gradient;
    if (content == Content::Held) {
        content = Content::Mixed;
        n /= 3;
    }
    if (content == Content::Mixed)
        content = static_cast<Content>((n / 25) % 3);
    for (int c = 0; c < 3; ++c) {
        const int w = c ? width / 2 : width, h = c ? height / 2 : height;
        f.plane[c].resize(static_cast<std::size_t>(w * h));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                double v = 128;
                const double sx = c ? 2.0 * x : x, sy = c ? 2.0 * y : y;
                switch (content) {
                case Content::Gradient:
                    v = c ? 128 + 50 * std::sin((sx + sy) * 0.02 + n * 0.1 + c) : (sx * 1.7 + sy * 0.9 + 2.0 * n);
                    v = std::fmod(v, 256.0);
                    break;
                case Content::Noise:
                    v = 128 + static_cast<int>(Hash((static_cast<std::uint32_t>(n) * 7919u + static_cast<std::uint32_t>(c)) * 65536u +
                                                    static_cast<std::uint32_t>(y * w + x)) % 160) - 80;
                    break;
                case Content::Pan:
                    v = Texture(sx + n * 1.25, sy + n * 0.75, c);
                    break;
                case Content::StillStripe:
                    v = Texture(sx + (sy >= 48 && sy < 96 ? n * 1.5 : 0), sy, c);
                    break;
                case Content::Brightening:
                    v = Texture(sx, sy, c) * 0.6 + (c ? 0 : 0.7 * n);
                    break;
                case Content::StepPan:
                    v = Texture(sx + n * 2.0, sy + n * 2.0, c);
                    break;
                case Content::Flat:
                    v = c ? 100 + 20 * c : 140;
                    break;
                case Content::Black:
                    v = c ? 128 : 0;
                    break;
                default:
                    break;
                }
                f.plane[c][static_cast<std::size_t>(y * w + x)] = Clip(v);
            }
    }
    return f;
}

PictureView ViewOf(const YuvFrame &f)
{
    PictureView v;
    v.width = f.width;
    v.height = f.height;
    for (int c = 0; c < 3; ++c) {
        v.plane[c] = f.plane[c].data();
        v.stride[c] = c ? f.width / 2 : f.width;
    }
    return v;
}

YuvFrame CopyOf(const PictureView &v)
{
    YuvFrame f;
    f.width = v.width;
    f.height = v.height;
    for (int c = 0; c < 3; ++c) {
        const int w = c ? v.width / 2 : v.width, h = c ? v.height / 2 : v.height;
        f.plane[c].resize(static_cast<std::size_t>(w * h));
        for (int y = 0; y < h; ++y)
            std::memcpy(f.plane[c].data() + y * w, v.plane[c] + y * v.stride[c], static_cast<std::size_t>(w));
    }
    return f;
}

double Psnr(std::uint64_t sse, std::size_t pixels)
{
    if (!sse)
        return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(pixels) / static_cast<double>(sse));
}

} // namespace corva::rv40::test
