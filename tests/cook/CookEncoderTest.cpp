#include "CookTestDecoder.h"
#include "TestSignals.h"

#include "cook/CodeTables.h"
#include "cook/Encoder.h"
#include "cook/Envelope.h"
#include "cook/Mlt.h"
#include "cook/Prediction.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

namespace corva::cook::test {
namespace {

// The fast transforms against the sums they stand for: a wrong fold, twiddle or sign shows here.
TEST(CookMlt, FastTransformsEqualDirectSums)
{
    for (int n : {256, 1024}) {
        const Mlt mlt(n);
        std::mt19937 rng(7);
        std::uniform_real_distribution<double> u(-1, 1);
        std::vector<double> in(2 * n), out(n), back(2 * n), lines(n);
        for (double &v : in)
            v = u(rng);
        for (double &v : lines)
            v = u(rng);
        mlt.Forward(in.data(), out.data());
        mlt.Inverse(lines.data(), back.data());
        const double pi = std::numbers::pi;
        double worstForward = 0, worstInverse = 0;
        for (int k = 0; k < n; k += 37) {
            double s = 0;
            for (int m = 0; m < 2 * n; ++m)
                s += in[m] * std::cos(pi / n * (m + 0.5 + n / 2.0) * (k + 0.5));
            worstForward = std::max(worstForward, std::fabs(s - out[k]));
        }
        for (int m = 0; m < 2 * n; m += 41) {
            double s = 0;
            for (int k = 0; k < n; ++k)
                s += lines[k] * std::cos(pi / n * (m + 0.5 + n / 2.0) * (k + 0.5));
            worstInverse = std::max(worstInverse, std::fabs(s - back[m]));
        }
        EXPECT_LT(worstForward, 1e-9 * n) << n;
        EXPECT_LT(worstInverse, 1e-9 * n) << n;
    }
}

// Analysis then the decoder's synthesis gives the input back, one frame late as the frames say.
TEST(CookMlt, AnalysisThenDecoderSynthesisIsLossless)
{
    const int n = 512;
    const Mlt mlt(n);
    const auto sound = FilmLikeSound(22050, 1, 0.5)[0];
    std::vector<float> padded(static_cast<std::size_t>(n), 0.0f); // block 0 silent
    padded.insert(padded.end(), sound.begin(), sound.end());
    padded.resize((padded.size() / n + 2) * n, 0.0f);
    std::vector<double> overlap(n, 0.0);
    std::vector<float> lines(n);
    std::vector<double> out(n);
    std::vector<float> rebuilt;
    for (std::size_t t = 0; (t + 2) * n <= padded.size(); ++t) {
        mlt.Analyse(padded.data() + t * n, padded.data() + (t + 1) * n, lines.data());
        mlt.Synthesise(lines.data(), overlap, out.data());
        if (t >= 1)
            rebuilt.insert(rebuilt.end(), out.begin(), out.end());
    }
    EXPECT_GT(SnrDb({sound}, {rebuilt}), 100.0);
}

// Every Huffman table rebuilt from its counts is a complete prefix code: a table embedded wrong
// (a count, a symbol out of place) breaks the sum or leaves a symbol without a code.
TEST(CookCodeTables, CodesAreCompletePrefixCodes)
{
    const CodeTables &t = CodeTables::Get();
    auto kraft = [](auto codeOf, int symbols) {
        double sum = 0;
        for (int s = 0; s < symbols; ++s)
            if (codeOf(s).length > 0)
                sum += std::ldexp(1.0, -codeOf(s).length);
        return sum;
    };
    for (int table = 0; table < 13; ++table)
        EXPECT_DOUBLE_EQ(kraft([&](int s) { return t.Envelope(table, s); }, 24), 1.0) << "envelope " << table;
    for (int c = 0; c < 7; ++c) {
        EXPECT_DOUBLE_EQ(kraft([&](int s) { return t.Vector(c, s); }, t.VectorSymbols(c)), 1.0) << "vectors " << c;
        EXPECT_GT(t.Vector(c, 0).length, 0) << "category " << c << " lacks the zero vector";
    }
    for (int bits = 2; bits <= 6; ++bits)
        EXPECT_DOUBLE_EQ(kraft([&](int s) { return t.Coupling(bits, s); }, (1 << bits) - 1), 1.0) << bits;
}

// A peak after a deep valley keeps its level: the valley is raised to within the step limit
// instead of the peak being pulled down.
TEST(CookEnvelope, SharpRiseRaisesTheBandsBeforeIt)
{
    std::vector<float> lines(10 * kBandSize, 0.0f);
    for (int j = 0; j < kBandSize; ++j)
        lines[8 * kBandSize + j] = 1e6f;
    const std::vector<int> qi = Envelope::Measure(lines.data(), 10);
    ASSERT_TRUE(Envelope::Codable(qi));
    EXPECT_EQ(qi[8], static_cast<int>(std::lround(std::log2(1e12))));
    EXPECT_EQ(qi[7], qi[8] - 11);
    EXPECT_EQ(qi[9], qi[8] - 12);
}

// Sounds at the edges of what the code carries: silence, a full-scale square wave (steep
// envelope steps, lines past the largest index), full-scale noise (every bit wanted) and lone
// impulses. Each decodes without a message and as predicted.
TEST(CookExtremes, EdgeSoundsDecodeCleanly)
{
    const int rate = 44100;
    const std::size_t count = rate / 2;
    std::vector<std::vector<std::vector<float>>> sounds;
    sounds.push_back({std::vector<float>(count, 0.0f), std::vector<float>(count, 0.0f)});
    std::vector<float> square(count), noise(count), impulses(count, 0.0f);
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(-1, 1);
    for (std::size_t i = 0; i < count; ++i) {
        square[i] = (i / 50) % 2 ? 1.0f : -1.0f;
        noise[i] = u(rng);
        if (i % 9000 == 4000)
            impulses[i] = 1.0f;
    }
    sounds.push_back({square, noise});
    sounds.push_back({impulses, square});
    for (int index : {4, 12, 24}) {
        const Flavour flavour = *FlavourByIndex(index);
        for (const auto &sound : sounds) {
            Encoder encoder(flavour);
            encoder.KeepRecords(true);
            const float *planes[2] = {sound[0].data(), sound[1].data()};
            encoder.Push(planes, count);
            encoder.Finish();
            const auto frames = encoder.TakeFrames();
            const auto records = encoder.TakeRecords();
            EXPECT_EQ(frames.size() % static_cast<std::size_t>(flavour.FramesPerBlock()), 0u);
            CookTestDecoder::TakeErrors();
            CookTestDecoder decoder(flavour);
            FfmpegNoise ffNoise;
            Prediction prediction(flavour, ffNoise);
            std::vector<std::vector<float>> predicted(static_cast<std::size_t>(flavour.channels));
            for (std::size_t f = 0; f < frames.size(); ++f) {
                ASSERT_EQ(frames[f].size(), static_cast<std::size_t>(flavour.frameBytes));
                EXPECT_TRUE(decoder.Send(frames[f])) << "flavour " << index << " frame " << f;
                const auto out = prediction.Decode(records[f]);
                if (f >= 2)
                    for (int ch = 0; ch < flavour.channels; ++ch)
                        predicted[ch].insert(predicted[ch].end(), out[ch].begin(), out[ch].end());
            }
            const auto errors = CookTestDecoder::TakeErrors();
            EXPECT_TRUE(errors.empty()) << "flavour " << index << ": " << errors.front();
            EXPECT_GE(decoder.Samples()[0].size(), count);
            double energy = 0;
            for (const auto &ch : decoder.Samples())
                for (float v : ch)
                    energy += double(v) * v;
            if (energy > 1e-6) {
                EXPECT_GT(SnrDb(decoder.Samples(), predicted), 60.0) << "flavour " << index;
            }
        }
    }
}

// Clicks out of near silence, decoded by FFmpeg: the noise the coding spreads into the stretch
// before each click stays well under the click (gain control lowers it, the block before too when
// the click opens a block), and the click itself stays closer to the source than to silence
// (lifting its segment too far spoils it). Clicks fall at varied places within the gain segments.
class CookPreEcho : public ::testing::TestWithParam<int> {};

TEST_P(CookPreEcho, StretchBeforeAClickStaysQuietAndTheClickWhole)
{
    const Flavour flavour = *FlavourByIndex(GetParam());
    const int rate = flavour.sampleRate;
    const std::size_t length = static_cast<std::size_t>(3 * rate);
    std::vector<std::vector<float>> source(static_cast<std::size_t>(flavour.channels), std::vector<float>(length));
    // Onsets early in a block's first gain segment (where the block before must carry the
    // lowering), later in it, and at other places.
    std::vector<std::size_t> onsets;
    const std::size_t n = static_cast<std::size_t>(flavour.frameSamples);
    const std::size_t offsets[] = {24, 36, 60, 140, 530, 1000};
    for (std::size_t k = 0; (4 * k + 6) * n < length; ++k)
        onsets.push_back((4 * k + 4) * n + offsets[k % 6] * n / 1024);
    std::uint32_t s = 7;
    for (std::size_t i = 0; i < length; ++i) {
        s = s * 1664525u + 1013904223u;
        const double noise = double(s >> 8) / double(1u << 24) - 0.5;
        double v = noise * 0.0002;
        for (std::size_t at : onsets)
            if (i >= at && i < at + static_cast<std::size_t>(rate * 3 / 200))
                v = noise * 1.6 * std::exp(-double(i - at) / rate * 400);
        for (auto &ch : source)
            ch[i] = static_cast<float>(v);
    }
    Encoder encoder(flavour);
    std::vector<const float *> planes;
    for (const auto &ch : source)
        planes.push_back(ch.data());
    encoder.Push(planes.data(), length);
    encoder.Finish();
    CookTestDecoder decoder(flavour);
    for (const auto &frame : encoder.TakeFrames())
        ASSERT_TRUE(decoder.Send(frame));
    const auto &decoded = decoder.Samples();
    ASSERT_GE(decoded[0].size(), length);

    double before = 0, click = 0, clickError = 0, clickSource = 0;
    const std::size_t quiet = static_cast<std::size_t>(rate / 50), gap = static_cast<std::size_t>(rate / 500);
    for (std::size_t at : onsets)
        for (std::size_t ch = 0; ch < decoded.size(); ++ch) {
            for (std::size_t i = at - quiet; i < at - gap; ++i)
                before += double(decoded[ch][i]) * decoded[ch][i];
            for (std::size_t i = at; i < at + static_cast<std::size_t>(rate / 100); ++i) {
                const double d = decoded[ch][i], x = source[ch][i];
                click += d * d;
                clickSource += x * x;
                clickError += (d - x) * (d - x);
            }
        }
    const double preEcho = 10 * std::log10(before / click * double(rate / 100) / double(quiet - gap));
    const double clickSnr = 10 * std::log10(clickSource / clickError);
    RecordProperty("pre_echo_db", std::to_string(preEcho));
    RecordProperty("click_snr_db", std::to_string(clickSnr));
    EXPECT_LT(preEcho, -40.0) << "flavour " << flavour.index;
    EXPECT_GT(clickSnr, 0.0) << "flavour " << flavour.index;
}

INSTANTIATE_TEST_SUITE_P(Flavours, CookPreEcho, ::testing::Values(4, 22, 24, 25),
                         [](const auto &p) { return "flavour" + std::to_string(p.param); });

} // namespace
} // namespace corva::cook::test
