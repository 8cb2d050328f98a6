// Speed and quality of the RV40 encoder on a synthetic standard-definition film: frames per
// second per effort (one thread), then PSNR and size against the quantiser.
#include "rv40/Encoder.h"

#include <algorithm>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace {

struct Film {
    int w, h;
    std::vector<std::vector<std::uint8_t>> y, u, v;
};

Film MakeFilm(int w, int h, int frames)
{
    Film f{w, h, {}, {}, {}};
    for (int n = 0; n < frames; ++n) {
        std::vector<std::uint8_t> Y(static_cast<std::size_t>(w * h)), U(static_cast<std::size_t>(w * h / 4)),
            V(static_cast<std::size_t>(w * h / 4));
        const double ox = n * 1.5, oy = n * 0.5;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const double X = x + ox, Y0 = y + oy;
                double val = 110 + 50 * std::sin(X * 0.05) * std::cos(Y0 * 0.07) + 30 * std::sin((X + Y0) * 0.21);
                if ((static_cast<int>(X / 40) + static_cast<int>(Y0 / 40)) % 2)
                    val += 25;
                Y[static_cast<std::size_t>(y * w + x)] = static_cast<std::uint8_t>(std::clamp(val, 0.0, 255.0));
            }
        for (int y = 0; y < h / 2; ++y)
            for (int x = 0; x < w / 2; ++x) {
                const double X = 2 * x + ox, Y0 = 2 * y + oy;
                U[static_cast<std::size_t>(y * w / 2 + x)] = static_cast<std::uint8_t>(128 + 40 * std::sin(X * 0.03));
                V[static_cast<std::size_t>(y * w / 2 + x)] = static_cast<std::uint8_t>(128 + 40 * std::cos(Y0 * 0.04));
            }
        f.y.push_back(std::move(Y));
        f.u.push_back(std::move(U));
        f.v.push_back(std::move(V));
    }
    return f;
}

corva::rv40::PictureView View(const Film &f, int n)
{
    corva::rv40::PictureView p;
    p.width = f.w;
    p.height = f.h;
    p.plane[0] = f.y[static_cast<std::size_t>(n)].data();
    p.plane[1] = f.u[static_cast<std::size_t>(n)].data();
    p.plane[2] = f.v[static_cast<std::size_t>(n)].data();
    p.stride[0] = f.w;
    p.stride[1] = p.stride[2] = f.w / 2;
    return p;
}

struct Result {
    double fps = 0, psnr = 0, kbytes = 0;
};

Result Run(const Film &f, corva::rv40::Effort e, int q, int frames)
{
    corva::rv40::EncoderSettings s;
    s.width = f.w;
    s.height = f.h;
    s.effort = e;
    corva::rv40::Encoder enc(s);
    Result r;
    double sse = 0, bytes = 0;
    // processor time, so that other programs on the machine do not count against us
    const std::clock_t c0 = std::clock();
    for (int n = 0; n < frames; ++n) {
        corva::rv40::PictureDecision d;
        d.type = n % 50 == 0 ? corva::rv40::PictureType::Intra : corva::rv40::PictureType::Inter;
        d.quantiser = q;
        const auto pic = enc.Encode(View(f, n), d, static_cast<std::uint32_t>(n * 40));
        sse += static_cast<double>(pic.sse[0]);
        bytes += static_cast<double>(pic.Bytes());
    }
    const double secs = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
    r.fps = frames / secs;
    r.psnr = 10 * std::log10(255.0 * 255.0 * f.w * f.h * frames / std::max(sse, 1.0));
    r.kbytes = bytes / frames / 1024.0;
    return r;
}

} // namespace

int main(int argc, char **argv)
{
    const int frames = argc > 1 ? std::atoi(argv[1]) : 30;
    const Film film = MakeFilm(720, 576, frames);
    std::printf("720x576, %d pictures (1 intra then inter), q 12, one thread, frames per second of processor time\n", frames);
    using corva::rv40::Effort;
    const std::pair<Effort, const char *> efforts[] = {{Effort::Quickest, "Quickest"},
                                                       {Effort::Brisk, "Brisk (rv8)"},
                                                       {Effort::Quick, "Quick (rv9)"},
                                                       {Effort::Thorough, "Thorough (rv10)"}};
    for (const auto &[effort, name] : efforts) {
        const Result r = Run(film, effort, 12, frames);
        std::printf("  %-16s %6.1f fps  %5.2f dB  %7.1f KB/picture\n", name, r.fps, r.psnr, r.kbytes);
    }
    std::printf("PSNR (luma) against the quantiser, Quick, %d pictures:\n", std::min(frames, 10));
    for (int q = 0; q < 32; q += 4) {
        const Result r = Run(film, corva::rv40::Effort::Quick, q == 28 ? 31 : q, std::min(frames, 10));
        std::printf("  q %2d  %5.2f dB  %7.1f KB/picture\n", q == 28 ? 31 : q, r.psnr, r.kbytes);
    }
    return 0;
}
