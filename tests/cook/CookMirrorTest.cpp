// The encoder's prediction of the decoded sound against FFmpeg's cook decoder, frame for frame:
// the check that the encoder reads its own frames as the decoder does (envelope tables, the
// allocation, vector codes, noise fill, coupling, framing, transform).
#include "CookTestDecoder.h"
#include "TestSignals.h"

#include "cook/Encoder.h"
#include "cook/Prediction.h"

#include <gtest/gtest.h>

#include <cmath>

#include <string>

namespace corva::cook::test {
namespace {

struct MirrorResult {
    double snr = 0;       // decoder output against the prediction
    double sourceSnr = 0; // decoder output against the source
    std::size_t decoded = 0;
    std::size_t expected = 0;
    int gainFrames = 0; // frames that lower the stretch before an attack
    std::vector<std::string> errors;
};

MirrorResult Mirror(const Flavour &flavour, const BitAllocation *allocation, double seconds = 0.8,
                    std::vector<std::vector<float>> source = {})
{
    if (source.empty())
        source = FilmLikeSound(flavour.sampleRate, flavour.channels, seconds);
    Encoder encoder(flavour, allocation);
    encoder.KeepRecords(true);
    std::vector<const float *> planes;
    for (const auto &ch : source)
        planes.push_back(ch.data());
    encoder.Push(planes.data(), source[0].size());
    encoder.Finish();
    const auto frames = encoder.TakeFrames();
    const auto records = encoder.TakeRecords();

    FfmpegNoise noise;
    Prediction prediction(flavour, noise);
    std::vector<std::vector<float>> predicted(static_cast<std::size_t>(flavour.channels));
    CookTestDecoder::TakeErrors();
    CookTestDecoder decoder(flavour);
    MirrorResult result;
    for (std::size_t f = 0; f < frames.size(); ++f) {
        const auto out = prediction.Decode(records[f]);
        if (f >= 2)
            for (int ch = 0; ch < flavour.channels; ++ch)
                predicted[ch].insert(predicted[ch].end(), out[ch].begin(), out[ch].end());
        if (!decoder.Send(frames[f]))
            result.errors.push_back("frame " + std::to_string(f) + " refused");
    }
    for (auto &e : CookTestDecoder::TakeErrors())
        result.errors.push_back(e);
    result.snr = SnrDb(decoder.Samples(), predicted);
    result.sourceSnr = SnrDb(source, decoder.Samples());
    result.decoded = decoder.Samples()[0].size();
    for (const FrameRecord &r : records)
        for (const GainProfile &g : r.gains)
            result.gainFrames += g != GainProfile{} ? 1 : 0;
    result.expected = (frames.size() - 2) * static_cast<std::size_t>(flavour.frameSamples);
    return result;
}

class CookMirror : public ::testing::TestWithParam<int> {};

// Every flavour an audience takes (mono 4/5/6, joint 22/24/25), dual mono at two sizes, and
// joint stereo and mono at the shorter frames, whose vector counts and tables differ.
TEST_P(CookMirror, PredictionEqualsFfmpegDecoder)
{
    const Flavour flavour = *FlavourByIndex(GetParam());
    const MirrorResult r = Mirror(flavour, nullptr);
    EXPECT_TRUE(r.errors.empty()) << r.errors.front();
    EXPECT_EQ(r.decoded, r.expected);
    EXPECT_GT(r.snr, 60.0) << "flavour " << flavour.index;
    // Not a quality goal: a transform or scale fault would make the sound unrelated to the source.
    EXPECT_GT(r.sourceSnr, 3.0) << "flavour " << flavour.index;
    RecordProperty("prediction_snr_db", std::to_string(r.snr));
    RecordProperty("source_snr_db", std::to_string(r.sourceSnr));
}

INSTANTIATE_TEST_SUITE_P(Flavours, CookMirror, ::testing::Values(4, 5, 6, 22, 24, 25, 12, 9, 2, 17, 26),
                         [](const auto &p) { return "flavour" + std::to_string(p.param); });

// Clicks on near silence make the encoder send gain profiles: the decoder's ramps, its scaling
// of the new half and the profile's place one block later must be mirrored too.
class CookGainMirror : public ::testing::TestWithParam<int> {};

TEST_P(CookGainMirror, AttacksWithGainProfilesDecodeAsPredicted)
{
    const Flavour flavour = *FlavourByIndex(GetParam());
    std::vector<std::vector<float>> clicks(static_cast<std::size_t>(flavour.channels),
                                           std::vector<float>(static_cast<std::size_t>(flavour.sampleRate), 0.0f));
    std::uint32_t s = 1;
    for (std::size_t i = 0; i < clicks[0].size(); ++i) {
        s = s * 1664525u + 1013904223u;
        const double noise = double(s >> 8) / double(1u << 24) - 0.5;
        // Attacks at varied places within the segments, some early, some late.
        const std::size_t period = static_cast<std::size_t>(flavour.sampleRate) / 7 + 37;
        const double since = double(i % period) / flavour.sampleRate;
        const double v = since < 0.01 ? noise * 1.6 * std::exp(-since * 300) : noise * 0.001;
        for (auto &ch : clicks)
            ch[i] = static_cast<float>(v);
    }
    const MirrorResult r = Mirror(flavour, nullptr, 0, clicks);
    EXPECT_GT(r.gainFrames, 3) << "no gain profiles were sent";
    EXPECT_TRUE(r.errors.empty()) << r.errors.front();
    EXPECT_GT(r.snr, 60.0) << "flavour " << flavour.index;
}

INSTANTIATE_TEST_SUITE_P(Flavours, CookGainMirror, ::testing::Values(4, 24, 12, 17),
                         [](const auto &p) { return "flavour" + std::to_string(p.param); });

// The first step of the decoder's list pointed at the wrong band: the encoder now codes bands at
// categories the decoder does not read them with, and the check must see it.
class WrongFirstStep final : public BitAllocation {
public:
    Allocation Categorize(const std::vector<int> &qi, int bitsLeft, int samplesPerChannel,
                          int vectorCount) const override
    {
        Allocation a = BitAllocation::Categorize(qi, bitsLeft, samplesPerChannel, vectorCount);
        if (!a.steps.empty())
            a.steps[0] = (a.steps[0] + 1) % static_cast<int>(qi.size());
        return a;
    }
};

TEST(CookMirrorFault, WrongAllocationStepIsSeen)
{
    const WrongFirstStep wrong;
    for (int index : {4, 24}) {
        const MirrorResult r = Mirror(*FlavourByIndex(index), &wrong);
        EXPECT_LT(r.snr, 40.0) << "flavour " << index << ": a wrong allocation went unseen";
    }
}

} // namespace
} // namespace corva::cook::test
