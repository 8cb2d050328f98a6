// The picture side of a job without the files around it: which pictures become B-pictures, and
// that a second pass codes the same kinds of picture in the same order as the first measured.
#include "engine/Rv40VideoEncoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace corva {
namespace {

constexpr int kWidth = 176, kHeight = 144;

// A detailed still panned a little each picture, or noise that nothing predicts, or soft waves
// panned as a film's slow camera would.
FramePtr makeFrame(int n, bool noise, bool soft = false)
{
    FramePtr f(av_frame_alloc());
    f->format = AV_PIX_FMT_YUV420P;
    f->width = kWidth;
    f->height = kHeight;
    if (av_frame_get_buffer(f.get(), 0) < 0)
        return {};
    std::mt19937 random(static_cast<unsigned>(n) * 7919u + 1u);
    for (int p = 0; p < 3; ++p) {
        const int w = p ? kWidth / 2 : kWidth, h = p ? kHeight / 2 : kHeight;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int sx = x + (p ? n : 2 * n);
                const int value = noise  ? static_cast<int>(random() % 256)
                                  : soft ? static_cast<int>(128 + 60 * std::sin(sx * 0.21) * std::cos(y * 0.17))
                                         : ((sx * 7) ^ (y * 13)) % 200 + 28;
                f->data[p][y * f->linesize[p] + x] = static_cast<std::uint8_t>(p ? 128 + (value - 128) / 4 : value);
            }
    }
    f->pts = n;
    return f;
}

struct Coded
{
    std::vector<PassRecord> records;
    std::vector<std::vector<std::uint8_t>> bytes; // each picture's slices, in the order written
    std::vector<std::uint32_t> times; // in the order written
    int repeated = 0;
    int underflows = 0;
};

// The first `noisy` pictures noise, the rest the pan.
Coded encode(int noisy, double kbps, bool measuring, const std::vector<PassRecord> *firstPass,
            int bPictures = 1, int pictures = 60, int threads = 1)
{
    EncodePlan::Video s;
    s.width = kWidth;
    s.height = kHeight;
    s.bPictures = bPictures;
    s.bitRate = static_cast<int64_t>(kbps * 1000);
    s.threads = threads;
    Rv40VideoEncoder encoder(s, measuring);
    if (firstPass)
        encoder.SetFirstPass(*firstPass);
    Coded run;
    auto keep = [&](const std::vector<Rv40VideoEncoder::Picture> &coded) {
        for (const auto &p : coded) {
            run.times.push_back(p.timestampMs);
            std::vector<std::uint8_t> all;
            for (const auto &slice : p.slices)
                all.insert(all.end(), slice.begin(), slice.end());
            run.bytes.push_back(std::move(all));
        }
    };
    for (int n = 0; n < pictures; ++n) {
        const FramePtr frame = makeFrame(n, n < noisy);
        keep(encoder.Encode(*frame));
    }
    keep(encoder.Flush());
    run.records = encoder.Records();
    run.repeated = encoder.Repeated();
    run.underflows = encoder.Underflows();
    return run;
}

int bPictures(const Coded &run)
{
    int b = 0;
    for (const auto &r : run.records)
        b += r.type == rv40::PictureType::Bidirectional;
    return b;
}

class Rv40VideoEncoderB : public ::testing::TestWithParam<int>
{
};

TEST_P(Rv40VideoEncoderB, WhereTheyPayAndBothPassesAgree)
{
    const int most = GetParam();
    const Coded first = encode(0, 150, true, nullptr, most);
    ASSERT_EQ(first.records.size(), 60u);
    EXPECT_GE(bPictures(first), most == 1 ? 25 : 32) << "a pan is where B-pictures pay";
    const Coded second = encode(0, 150, false, &first.records, most);
    ASSERT_EQ(second.records.size(), first.records.size());
    for (std::size_t i = 0; i < first.records.size(); ++i) {
        EXPECT_EQ(second.records[i].display, first.records[i].display) << "coding order differs at " << i;
        EXPECT_EQ(second.records[i].type, first.records[i].type) << i;
    }
    // every picture once, each B-picture after the later reference it leans on
    std::vector<int> seen(60, 0);
    for (std::size_t i = 0; i < second.records.size(); ++i) {
        const auto &r = second.records[i];
        ASSERT_GE(r.display, 0);
        ++seen[static_cast<std::size_t>(r.display)];
        if (r.type == rv40::PictureType::Bidirectional) {
            std::size_t later = i;
            while (later > 0 && second.records[later].type == rv40::PictureType::Bidirectional)
                --later;
            ASSERT_NE(second.records[later].type, rv40::PictureType::Bidirectional);
            EXPECT_GT(second.records[later].display, r.display);
            EXPECT_LT(second.times[i], second.times[later]);
        }
    }
    for (int count : seen)
        EXPECT_EQ(count, 1);
    // never more B-pictures in a row than asked for
    int run = 0;
    for (const auto &r : second.records) {
        run = r.type == rv40::PictureType::Bidirectional ? run + 1 : 0;
        EXPECT_LE(run, most);
    }
}

INSTANTIATE_TEST_SUITE_P(Between, Rv40VideoEncoderB, ::testing::Values(1, 2));

// With a core to spare the B-pictures are coded beside the next reference: still each after the
// reference it leans on and before the next, every picture once, about as many B-pictures as
// coded one after another, the rate kept, and the same bytes every time, whatever the threads'
// timing.
TEST(Rv40VideoEncoder, BPicturesBesideTheNextReferenceComeOutTheSameEveryTime)
{
    for (const int most : {1, 2}) {
        const Coded alone = encode(10, 150, false, nullptr, most, 60, 1);
        const Coded beside = encode(10, 150, false, nullptr, most, 60, 2);
        const Coded again = encode(10, 150, false, nullptr, most, 60, 2);
        ASSERT_EQ(beside.records.size(), 60u);
        EXPECT_EQ(beside.bytes, again.bytes) << most;
        EXPECT_NEAR(bPictures(beside), bPictures(alone), 4) << most;
        EXPECT_GE(bPictures(beside), most == 1 ? 15 : 20) << most;
        std::vector<int> seen(60, 0);
        double bits = 0, bitsAlone = 0;
        for (std::size_t i = 0; i < beside.records.size(); ++i) {
            const PassRecord &r = beside.records[i];
            ++seen[static_cast<std::size_t>(r.display)];
            bits += r.bits;
            bitsAlone += alone.records[i].bits;
            if (r.type != rv40::PictureType::Bidirectional)
                continue;
            std::size_t later = i;
            while (later > 0 && beside.records[later].type == rv40::PictureType::Bidirectional)
                --later;
            EXPECT_GT(beside.records[later].display, r.display) << most;
            EXPECT_LT(beside.times[i], beside.times[later]) << most;
            for (std::size_t after = i + 1; after < beside.records.size(); ++after)
                if (beside.records[after].type != rv40::PictureType::Bidirectional) {
                    EXPECT_GT(beside.records[after].display, r.display) << most;
                    break;
                }
        }
        for (const int count : seen)
            EXPECT_EQ(count, 1);
        EXPECT_NEAR(bits / bitsAlone, 1.0, 0.05) << most;
    }
}

// Noise at a rate even the coarsest quantiser exceeds: two references further apart cost more
// than a B-picture saves, so the pictures are coded plain but for an occasional try.
TEST(Rv40VideoEncoder, NoBPicturesWhereTheyDoNotPay)
{
    const Coded run = encode(60, 20, false, nullptr);
    ASSERT_EQ(run.records.size(), 60u);
    EXPECT_LE(bPictures(run), 6);
}

// What noise taught about B-pictures says nothing of the pan after it: they come back within
// a second of it (the buffer the noise drained refilled), not only once the noise's measure has
// faded.
TEST(Rv40VideoEncoder, BPicturesReturnWhenTheFilmCalms)
{
    const int noisy = 60, pictures = 150;
    const Coded run = encode(noisy, 150, false, nullptr, 1, pictures);
    ASSERT_EQ(run.records.size(), static_cast<std::size_t>(pictures));
    int firstB = -1, afterwards = 0;
    for (const auto &r : run.records)
        if (r.type == rv40::PictureType::Bidirectional && r.display >= noisy) {
            if (firstB < 0 || r.display < firstB)
                firstB = r.display;
            ++afterwards;
        }
    ASSERT_GE(firstB, 0) << "no B-picture in the pan";
    EXPECT_LE(firstB - noisy, 25);
    EXPECT_GE(afterwards, 25);
}

// A pan at a rate below what even the coarsest quantiser takes: pictures drop their small levels
// or repeat the one before, so the player's buffer never runs dry, and the film keeps its rate;
// a measuring pass codes
// every picture all the same, as the second pass plans from what each one takes.
TEST(Rv40VideoEncoder, PicturesRepeatRatherThanRunTheBufferDry)
{
    for (const bool measuring : {false, true}) {
        EncodePlan::Video s;
        s.width = kWidth;
        s.height = kHeight;
        s.bitRate = 12 * 1000;
        Rv40VideoEncoder encoder(s, measuring);
        const int pictures = 250;
        for (int n = 0; n < pictures; ++n)
            encoder.Encode(*makeFrame(n, false, true));
        encoder.Flush();
        double bits = 0;
        for (const auto &r : encoder.Records())
            bits += r.bits;
        if (measuring) {
            EXPECT_EQ(encoder.Repeated(), 0);
            continue;
        }
        // pictures kept small by dropping their levels, or repeated where even that is too much
        EXPECT_GT(encoder.Repeated() + encoder.Bounded(), 10);
        EXPECT_LT(encoder.Repeated(), pictures * 4 / 5);
        EXPECT_EQ(encoder.Underflows(), 0);
        // the rate over the film, and no more than the second the buffer held when it began
        const double seconds = pictures / 25.0;
        EXPECT_LE(bits, double(s.bitRate) * (seconds + 1));
        EXPECT_GE(bits, double(s.bitRate) * seconds * 0.95);
    }
}

// A rate the film cannot spend even at the finest quantiser: a B-picture would only leave more
// bits that the full buffer turns away, so the pictures are coded plain, and the rate spent
// as far as it goes. The same film at an ordinary rate keeps its B-pictures.
TEST(Rv40VideoEncoder, NoBPicturesWhereTheReferencesCannotTakeMore)
{
    const Coded flooded = encode(0, 6000, false, nullptr, 1, 100);
    int finest = 0;
    for (const auto &r : flooded.records)
        finest += r.quantiser == 0;
    ASSERT_GT(finest, 80) << "the rate is not out of reach";
    EXPECT_LE(bPictures(flooded), 2);
    EXPECT_GE(bPictures(encode(0, 150, false, nullptr, 1, 100)), 30);
}

} // namespace
} // namespace corva
