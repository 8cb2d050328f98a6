#include "engine/PlayerBuffer.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace corva {
namespace {

// 100 kbit/s at 25 pictures a second: 4000 bits a picture, a buffer of one second.
constexpr double kRate = 100000;
constexpr double kPerPicture = 4000;

PlayerBuffer constantRate()
{
    return PlayerBuffer(kRate, 0, 25, false, kPerPicture);
}

// The walls: the buffer starts full, a picture larger than it holds runs it dry (counted once),
// and the room always keeps a tenth of the buffer for the pictures after it.
TEST(PlayerBuffer, PicturesEmptyItAndTheRateFillsIt)
{
    PlayerBuffer b = constantRate();
    EXPECT_DOUBLE_EQ(b.Size(), kRate);
    EXPECT_DOUBLE_EQ(b.Level(), 1.0);
    EXPECT_DOUBLE_EQ(b.MostBits(), kRate); // full: what arrives meanwhile is turned away
    EXPECT_DOUBLE_EQ(b.Room(), kRate + kPerPicture - kRate * 0.1);

    b.Drain(kRate * 0.5);
    EXPECT_DOUBLE_EQ(b.Level(), 0.5);
    EXPECT_DOUBLE_EQ(b.MostBits(), kRate * 0.5 + kPerPicture);
    b.Drain(kRate);
    EXPECT_EQ(b.Underflows(), 1);
    EXPECT_DOUBLE_EQ(b.Level(), 0.0);

    // a variable rate fills at its peak, over three seconds of it
    PlayerBuffer v(kRate, 3 * kRate, 25, true, kPerPicture);
    EXPECT_DOUBLE_EQ(v.Size(), 9 * kRate);
    v.Drain(v.Size());
    EXPECT_DOUBLE_EQ(v.MostBits(), 3 * kRate / 25);
}

// Every bound goes through the buffer: a target too large is cut to the room, one too small for
// a full constant-rate buffer is raised to what would otherwise spill; a variable rate never spills.
TEST(PlayerBuffer, TargetsStayBetweenTheWalls)
{
    const PlayerBuffer b = constantRate();
    EXPECT_GT(b.Spill(), 0);
    EXPECT_DOUBLE_EQ(b.Clamp(1e9, 1), b.Room());
    EXPECT_DOUBLE_EQ(b.Clamp(1, 1), b.Spill());
    EXPECT_DOUBLE_EQ(b.Clamp(b.Spill() + 10, 1), b.Spill() + 10);

    PlayerBuffer planned = constantRate();
    planned.SetPlanned(true); // a plan may run it fuller, so less spills
    EXPECT_LT(planned.Spill(), b.Spill());

    const PlayerBuffer v(kRate, 2 * kRate, 25, true, kPerPicture);
    EXPECT_DOUBLE_EQ(v.Spill(), 0);
    EXPECT_DOUBLE_EQ(v.Clamp(1, 7), 7);
}

// The quantiser moves coarser until the picture fits the room (never past qmax), finer only while
// the buffer would spill and only as many steps as allowed; a picture no quantiser fits repeats.
TEST(PlayerBuffer, QuantisersMoveUntilThePictureFits)
{
    PlayerBuffer b = constantRate();
    const auto halving = [](int q) { return 400000.0 / (1 << (q / 2)); }; // halves every two quantisers
    const int fits = b.Coarser(0, 31, halving);
    EXPECT_LE(halving(fits), b.Room());
    EXPECT_GT(halving(fits - 1), b.Room());
    EXPECT_EQ(b.Coarser(0, 2, halving), 2);
    EXPECT_EQ(b.Coarser(fits + 4, 31, halving), fits + 4); // already fitting: left alone

    // full, so a tiny picture spills: finer, one step or as many as it takes
    const auto tiny = [](int q) { return 100000.0 / (q + 1); };
    EXPECT_EQ(b.Finer(20, 0, 1, tiny), 19);
    const int finest = b.Finer(20, 0, 100, tiny);
    EXPECT_LT(finest, 19);
    EXPECT_GE(tiny(finest), b.Spill());
    EXPECT_EQ(b.Finer(20, 18, 100, tiny), 18);

    EXPECT_FALSE(b.Repeat(1e9)); // full: waiting gains nothing
    b.Drain(kRate * 0.5);
    // one pass keeps the margin for the pictures after
    EXPECT_TRUE(b.Repeat(b.Room() + 1));
    EXPECT_FALSE(b.Repeat(b.Room()));
    // following a plan, only what the buffer cannot hold at all: into the margin it is coded
    b.SetPlanned(true);
    EXPECT_TRUE(b.Repeat(b.MostBits() + 1));
    EXPECT_FALSE(b.Repeat(b.MostBits()));
    EXPECT_FALSE(b.Repeat(b.Room() + 1));
    PlayerBuffer v(kRate, 2 * kRate, 25, true, kPerPicture);
    v.Drain(v.Size() * 0.5);
    EXPECT_FALSE(v.Repeat(1e9));
}

// A plan walked through the buffer: no stretch runs further ahead of the rate than the buffer
// holds, a calm stretch falls behind it by no more than half the buffer (what it leaves while
// the player's buffer is full is turned away unless the film's end drains the buffer again),
// and the film ends on its rate. Both as a calm half before a busy one, and as a still street
// whose late keyframe takes several pictures' worth.
TEST(PlayerBuffer, APlanIsKeptWithinTheBuffer)
{
    const PlayerBuffer b = constantRate();
    std::vector<double> calmThenBusy(200, kPerPicture * 0.2);
    for (std::size_t i = 100; i < calmThenBusy.size(); ++i)
        calmThenBusy[i] = kPerPicture * 3;
    std::vector<double> lateKeyframe(120, kPerPicture * 0.6);
    lateKeyframe[0] = lateKeyframe[100] = kPerPicture * 8;
    // unfitted, the calm half falls 80 pictures' worth behind, all but the allowed half buffer too far
    EXPECT_NEAR(b.Behind(calmThenBusy), kPerPicture * 80 - b.Size() * 0.45, 1e-6);
    for (std::vector<double> plan : {calmThenBusy, lateKeyframe}) {
        b.Fit(plan);
        double ahead = 0, lowest = 0;
        for (const double bits : plan) {
            EXPECT_GE(bits, 1.0);
            ahead += bits - kPerPicture;
            lowest = std::min(lowest, ahead);
            EXPECT_LE(ahead - lowest, b.Size() * 0.9 + 1e-6);
            EXPECT_GE(ahead, -b.Size() * 0.45 - 1e-6);
        }
        EXPECT_NEAR(std::accumulate(plan.begin(), plan.end(), 0.0), kPerPicture * double(plan.size()), kPerPicture);
        EXPECT_NEAR(b.Behind(plan), 0.0, 1e-6);
    }
}

} // namespace
} // namespace corva
