// The SSE2 kernels give the plain ones' sums and pixels exactly, on random pictures, on pictures
// at the extremes (where a 16-bit lane or a row's 32-bit sum could overflow, or a filter reach
// past 0 or 255) and at every size, phase and stride the encoder uses, with rows that start
// anywhere in memory.
#include "rv40/Dsp.h"
#include "rv40/DspKernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

namespace corva::rv40::dsp {
namespace {

#if defined(CORVA_RV40_SSE2)

struct Planes {
    std::vector<std::uint8_t> a, b;
    std::ptrdiff_t as = 0, bs = 0;
};

// Two planes of `rows` rows; fill 0: random, 1: a all 255 and b all 0 (the largest differences),
// 2: b all 255 and a all 0.
Planes Make(std::mt19937 &rng, int width, int rows, int fill)
{
    Planes p;
    p.as = width + static_cast<std::ptrdiff_t>(rng() % 37);
    p.bs = width + static_cast<std::ptrdiff_t>(rng() % 37);
    p.a.resize(static_cast<std::size_t>(p.as * rows + 64));
    p.b.resize(static_cast<std::size_t>(p.bs * rows + 64));
    for (std::uint8_t &v : p.a)
        v = fill == 0 ? static_cast<std::uint8_t>(rng()) : (fill == 1 ? 255 : 0);
    for (std::uint8_t &v : p.b)
        v = fill == 0 ? static_cast<std::uint8_t>(rng()) : (fill == 1 ? 0 : 255);
    return p;
}

TEST(DspKernels, Sse2SumsEqualThePlainOnes)
{
    std::mt19937 rng(11);
    for (int round = 0; round < 300; ++round) {
        const int fill = round % 10 == 0 ? 1 : (round % 10 == 1 ? 2 : 0);
        const Planes p = Make(rng, 2048 + 16, 20, fill);
        // start anywhere: loads are unaligned
        const std::uint8_t *a = p.a.data() + rng() % 16, *b = p.b.data() + rng() % 16;
        ASSERT_EQ(sse2::Sad16(a, p.as, b, p.bs), plain::Sad16(a, p.as, b, p.bs)) << "round " << round;
        for (const auto &[w, h] : {std::pair{16, 16}, {16, 8}, {8, 16}, {8, 8}, {4, 4}}) {
            ASSERT_EQ(sse2::Sad(a, p.as, b, p.bs, w, h), plain::Sad(a, p.as, b, p.bs, w, h))
                << "round " << round << " " << w << "x" << h;
        }
        ASSERT_EQ(sse2::Satd4x4(a, p.as, b, p.bs), plain::Satd4x4(a, p.as, b, p.bs)) << "round " << round;
        {
            // the second prediction four pixels on, or the first again
            const std::uint8_t *b1 = b + (round % 3 == 0 ? 0 : 4);
            int want[2], got[2];
            plain::Satd4x4Pair(a, p.as, b, b1, p.bs, want);
            sse2::Satd4x4Pair(a, p.as, b, b1, p.bs, got);
            ASSERT_EQ(want[0], got[0]) << "round " << round;
            ASSERT_EQ(want[1], got[1]) << "round " << round;
        }
        for (const auto &[w, h] : {std::pair{16, 16}, {8, 8}, {16, 8}, {8, 16}, {4, 4}, {12, 4}, {4, 8}}) {
            ASSERT_EQ(sse2::Satd(a, p.as, b, p.bs, w, h), plain::Satd(a, p.as, b, p.bs, w, h))
                << "round " << round << " " << w << "x" << h;
        }
        // every width up to a few vectors, and whole rows of the widest picture
        const int w = round < 200 ? 1 + round % 70 : 2048;
        ASSERT_EQ(sse2::Sse(a, p.as, b, p.bs, w, 16), plain::Sse(a, p.as, b, p.bs, w, 16))
            << "round " << round << " width " << w;
        ASSERT_EQ(sse2::Sse(a, p.as, b, p.bs, 4, 4), plain::Sse(a, p.as, b, p.bs, 4, 4)) << "round " << round;
    }
}

TEST(DspKernels, Sse2TransformEqualsThePlainOne)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 3000; ++round) {
        // differences of 8-bit pixels, the extremes among them, and the DC block's wider entries
        const int range = round % 3 == 2 ? 3000 : 255;
        int x[16], want[16], got[16];
        for (int i = 0; i < 16; ++i)
            x[i] = round < 4 ? (round & 1 ? -range : range) * (round & 2 && i % 2 ? -1 : 1)
                             : static_cast<int>(rng() % (2 * range + 1)) - range;
        plain::ForwardTransform(x, want);
        sse2::ForwardTransform(x, got);
        ASSERT_EQ(0, std::memcmp(want, got, sizeof want)) << "round " << round;
    }
}

// A reference plane of random pixels, or stripes of 0 and 255 that drive the 6-tap filters to
// their most negative and most positive sums (and so the 2-D path's clipped middle rows).
std::vector<std::uint8_t> Reference(std::mt19937 &rng, int fill, std::size_t size)
{
    std::vector<std::uint8_t> r(size);
    for (std::size_t i = 0; i < size; ++i)
        r[i] = fill == 0 ? static_cast<std::uint8_t>(rng()) : fill == 1 ? ((i / 2) % 2 ? 255 : 0)
               : fill == 2 ? ((i % 3) ? 255 : 0) : static_cast<std::uint8_t>(fill == 3 ? 255 : 0);
    return r;
}

TEST(DspKernels, Sse2PredictionsEqualThePlainOnes)
{
    std::mt19937 rng(5);
    constexpr std::ptrdiff_t kBorder = 24;
    for (int round = 0; round < 200; ++round) {
        const int fill = round % 5; // random, two kinds of stripes, all 255, all 0
        const std::ptrdiff_t stride = 64 + static_cast<std::ptrdiff_t>(rng() % 29);
        const std::vector<std::uint8_t> ref = Reference(rng, fill, static_cast<std::size_t>(stride * 64));
        const std::uint8_t *src = ref.data() + kBorder * stride + kBorder + rng() % 16;
        for (const auto &[w, h] : {std::pair{16, 16}, {16, 8}, {8, 16}, {8, 8}, {4, 4}}) {
            for (int phase = 0; phase < 16; ++phase) {
                std::uint8_t want[16 * 24] = {}, got[16 * 24] = {};
                plain::LumaMc(want, 24, src, stride, phase % 4, phase / 4, w, h);
                sse2::LumaMc(got, 24, src, stride, phase % 4, phase / 4, w, h);
                ASSERT_EQ(0, std::memcmp(want, got, sizeof want))
                    << "round " << round << " " << w << "x" << h << " phase " << phase % 4 << "," << phase / 4;
            }
        }
        for (const auto &[w, h] : {std::pair{8, 8}, {4, 4}}) {
            for (int phase = 0; phase < 64; ++phase) {
                const int fx = phase % 8, fy = phase / 8, bias = static_cast<int>(rng() % 33);
                std::uint8_t want[8 * 12] = {}, got[8 * 12] = {};
                plain::ChromaMc(want, 12, src, stride, fx, fy, bias, w, h);
                sse2::ChromaMc(got, 12, src, stride, fx, fy, bias, w, h);
                ASSERT_EQ(0, std::memcmp(want, got, sizeof want))
                    << "round " << round << " " << w << "x" << h << " phase " << fx << "," << fy << " bias " << bias;
            }
        }
    }
}

#endif

// The reciprocal's magnitudes are the division's, in the plain kernel and the SSE2 one, at random,
// at the largest coefficients a block of 8-bit differences (and the 16x16 DC block) gives, next
// to every point where the division crosses from one whole number to the next, and on blocks
// small enough to quantise to nothing; with one step for all 16, another for the first (chroma),
// and others at three places (the 16x16 DC block), at each rounding and scale the coder uses.
TEST(DspKernels, QuantisedMagnitudesEqualTheDivisions)
{
    constexpr int kSteps[] = {60, 67, 76, 85, 96, 108, 121, 136, 152, 171, 192, 216, 242, 272, 305, 341,
                              383, 432, 481, 544, 606, 683, 767, 854, 963, 1074, 1212, 1392, 1566, 1708, 1978, 2211};
    constexpr double kNorms[] = {16384.0 / 456976.0, 1024.0 / 456976.0};
    constexpr double kRounds[] = {1.0 / 3, 1.0 / 6, 0.4, 0.5};
    using Kernel = bool (*)(const int *, const int *, double, double, int *);
    std::vector<std::pair<const char *, Kernel>> kernels{{"plain", plain::QuantiseMagnitudes}};
#if defined(CORVA_RV40_SSE2)
    kernels.emplace_back("sse2", sse2::QuantiseMagnitudes);
#endif
    std::mt19937 rng(3);
    int C[16], steps[16], got[16];
    auto check = [&](double norm, double round) {
        for (const auto &[name, kernel] : kernels) {
            std::fill(got, got + 16, -1);
            const bool any = kernel(C, steps, norm, round, got);
            bool want = false;
            for (int i = 0; i < 16; ++i) {
                const int m = static_cast<int>(std::abs(C[i]) * norm / steps[i] + round);
                ASSERT_EQ(got[i], m) << name << " C " << C[i] << " step " << steps[i] << " round " << round;
                want |= m != 0;
            }
            ASSERT_EQ(any, want) << name;
        }
    };
    for (const double norm : kNorms)
        for (const double round : kRounds)
            for (int s = 0; s < 32; ++s)
                for (int layout = 0; layout < 3; ++layout) {
                    for (int i = 0; i < 16; ++i) {
                        const bool other = layout == 1 ? i == 0 : (layout == 2 && (i == 0 || i == 1 || i == 4));
                        steps[i] = kSteps[other ? (s + 5) % 32 : s];
                    }
                    for (int k = 0; k < 700; ++k) {
                        // up to 676 x 1020 (a block of 8-bit differences), or beyond for the DC
                        // block, or small enough to come to nothing at the step
                        const int range = k % 3 == 0 ? 689520 : (k % 3 == 1 ? 4'000'000 : 30 * kSteps[s]);
                        for (int &c : C)
                            c = static_cast<int>(rng() % (2 * range + 1)) - range;
                        ASSERT_NO_FATAL_FAILURE(check(norm, round));
                    }
                    for (const int big : {689520, -689520, 4'000'000, 0}) {
                        std::fill(C, C + 16, big);
                        ASSERT_NO_FATAL_FAILURE(check(norm, round));
                    }
                    // each side of where the level steps up, from 0 to 1 as well
                    for (int level = 0; level < 600; level += layout == 0 ? 1 : 7) {
                        const double at = (level - round) * steps[1] / norm;
                        for (int i = 0; i < 16; ++i)
                            C[i] = static_cast<int>(at) - 8 + i;
                        ASSERT_NO_FATAL_FAILURE(check(norm, round));
                        // a lone coefficient at the edge, the rest 0
                        std::fill(C, C + 16, 0);
                        C[level % 16] = static_cast<int>(at) + (level & 1);
                        ASSERT_NO_FATAL_FAILURE(check(norm, round));
                    }
                }
}

} // namespace
} // namespace corva::rv40::dsp
