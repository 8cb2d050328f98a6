#include "engine/TwoPassPlan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace corva {
namespace {

using rv40::PictureType;

constexpr double kPerPicture = 20000;
constexpr double kPixels = 352 * 288;

// A first pass of alike pictures at one quantiser: an intra picture at 0, then inter pictures,
// with `b` at the odd places.
std::vector<PassRecord> firstPass(int pictures, bool b)
{
    std::vector<PassRecord> records;
    for (int n = 0; n < pictures; ++n) {
        const PictureType type = n == 0 ? PictureType::Intra : (b && n % 2 ? PictureType::Bidirectional : PictureType::Inter);
        records.push_back({type, 0, 12, 30000, n});
    }
    return records;
}

PlayerBuffer buffer(bool variableRate)
{
    return PlayerBuffer(kPerPicture * 25, kPerPicture * 50, 25, variableRate, kPerPicture);
}

// The plan spends the film's budget, and shapes it: an intra picture finer than the pictures
// that copy it, a B-picture coarser than the references around it, though all measured alike.
TEST(TwoPassPlan, SpendsTheBudgetWithIntraFinerAndBCoarser)
{
    for (const bool variableRate : {false, true}) {
        const PlayerBuffer b = buffer(variableRate);
        const TwoPassPlan plan(firstPass(100, true), kPerPicture, variableRate, 31, kPixels, b);
        double total = 0;
        for (std::size_t i = 0; i < 100; ++i)
            total += plan.Bits(i);
        EXPECT_NEAR(total / (kPerPicture * 100), 1.0, 0.01) << variableRate;
        EXPECT_GT(plan.Bits(0), plan.Bits(2)) << variableRate;
        EXPECT_LT(plan.Bits(51), plan.Bits(50)) << variableRate;
        EXPECT_LT(plan.Bits(51), plan.Bits(52)) << variableRate;
        // what a picture takes at a step follows what the first pass measured at its own
        EXPECT_DOUBLE_EQ(plan.BitsAt(10, BitModel::Step(12)), 30000);
        EXPECT_GT(plan.BitsAt(10, BitModel::Step(8)), 30000);
    }
    EXPECT_TRUE(TwoPassPlan().Records().empty());
    EXPECT_FALSE(TwoPassPlan().Covers(0));
}

// Spending beyond the plan makes the steps coarser: the budget left must last the pictures left,
// and a constant-rate buffer strayed below the plan's leans the same way at once.
TEST(TwoPassPlan, OverspendingCoarsensTheSteps)
{
    for (const bool variableRate : {false, true}) {
        const PlayerBuffer b = buffer(variableRate);
        BitModel model(kPixels, kPerPicture);
        model.TrustPlan();
        TwoPassPlan onPlan(firstPass(100, false), kPerPicture, variableRate, 31, kPixels, b);
        TwoPassPlan over = onPlan;
        double spent = 0;
        for (std::size_t i = 0; i < 10; ++i) {
            onPlan.Coded(i);
            over.Coded(i);
            spent += onPlan.Bits(i);
        }
        const double planned = onPlan.StepFor(10, spent, model, b);
        const double overspent = over.StepFor(10, spent + 10 * kPerPicture, model, b);
        EXPECT_GT(overspent, planned) << variableRate;
    }
}

// A first pass of a film whose picture changes only every sixth time (a camera's repeated
// frames): a keyframe, then a change (a third of its intra estimate left once predicted, 30000
// bits at quantiser 12) and five copies of it (a few bytes), over and over.
std::vector<PassRecord> repeatedFrames(int changes)
{
    std::vector<PassRecord> records{{PictureType::Intra, 9e5, 12, 60000, 0, 9e5}};
    for (int c = 0; c < changes; ++c) {
        records.push_back({PictureType::Inter, 3e5, 12, 30000, 0, 9e5});
        for (int k = 0; k < 5; ++k)
            records.push_back({PictureType::Inter, 2e4, 12, 160, 0, 9e5});
    }
    for (std::size_t n = 0; n < records.size(); ++n)
        records[n].display = static_cast<int>(n);
    return records;
}

// What the pictures after a reference take from it makes its step finer: a change that five
// copies follow (and, through them, the changes after: each keeps a third of its own) by more
// than (1 + 5)^(-1/3); the copy just before a change by what that change takes; the last
// picture, which nothing predicts from, not at all; a B-picture (no one's reference) never.
TEST(TwoPassPlan, APictureOthersCopyIsPlannedFiner)
{
    const TwoPassPlan plan(repeatedFrames(10), kPerPicture, false, 31, kPixels, buffer(false));
    const double change = plan.ReuseFactor(1), beforeChange = plan.ReuseFactor(6);
    EXPECT_LT(change, std::pow(6.0, -1.0 / 3));
    EXPECT_GT(change, 0.3);
    EXPECT_LT(change, beforeChange);
    EXPECT_LT(beforeChange, 1.0);
    EXPECT_DOUBLE_EQ(plan.ReuseFactor(plan.Records().size() - 1), 1.0);
    EXPECT_LT(plan.ReuseFactor(0), 1.0); // the keyframe: the whole film leans on it
    const TwoPassPlan withB(firstPass(20, true), kPerPicture, false, 31, kPixels, buffer(false));
    EXPECT_DOUBLE_EQ(withB.ReuseFactor(3), 1.0);
    EXPECT_LT(withB.ReuseFactor(2), 1.0);
}

// The buffer's walls give the copies bits they cannot take (at any step they stay a few bytes);
// the plan must still spend the film's budget, on the changes, and plan no picture far beyond
// what the finest step could give it.
TEST(TwoPassPlan, WallsFeedingCopiesStillSpendTheBudgetOnTheChanges)
{
    const PlayerBuffer small(kPerPicture * 15, kPerPicture * 15, 15, false, kPerPicture);
    const std::vector<PassRecord> records = repeatedFrames(30);
    for (const double perPicture : {kPerPicture, kPerPicture / 3}) {
        const TwoPassPlan plan(records, perPicture, false, 31, kPixels, small);
        double total = 0, changes = 0;
        for (std::size_t i = 0; i < records.size(); ++i) {
            total += plan.Bits(i);
            if (records[i].bits == 30000)
                changes += plan.Bits(i);
            EXPECT_LE(plan.Bits(i), plan.BitsAt(i, BitModel::Step(0)) * 1.01) << i;
        }
        // (more than the budget is scaled back as the film is coded)
        EXPECT_GT(total / (perPicture * double(records.size())), 0.98) << perPicture;
        EXPECT_GT(changes, 0.8 * total) << perPicture;
    }
}

// A calm pan (references of a few times the rate's share, B-pictures of a few hundred bits)
// before a cut to a pattern the coarsest step cannot bring down to the rate: the pan may fall
// behind the rate by no more than the player's buffer holds, or the bits it leaves are turned
// away and the film ends under its rate (the pan fell two and a half buffers behind, and a 20 s
// film spent 9% under).
TEST(TwoPassPlan, ACalmStretchBeforeAHardOneKeepsWithinTheBuffer)
{
    std::vector<PassRecord> records{{PictureType::Intra, 9e5, 16, 80000, 0, 9e5}};
    for (int n = 1; n < 250; ++n)
        records.push_back(n % 3 == 1 ? PassRecord{PictureType::Inter, 2e5, 10, 40000, 0, 9e5}
                                     : PassRecord{PictureType::Bidirectional, 2e4, 12, 800, 0, 9e5});
    records.push_back({PictureType::Intra, 9e5, 31, 60000, 0, 9e5});
    for (int n = 1; n < 250; ++n)
        records.push_back({PictureType::Inter, 8e5, 31, 1.3 * kPerPicture, 0, 9e5});
    for (std::size_t n = 0; n < records.size(); ++n)
        records[n].display = static_cast<int>(n);
    const PlayerBuffer b(kPerPicture * 25, kPerPicture * 25, 25, false, kPerPicture);
    const TwoPassPlan plan(records, kPerPicture, false, 31, kPixels, b);
    double ahead = 0, lowest = 0;
    for (std::size_t i = 0; i < 250; ++i) {
        ahead += plan.Bits(i) - kPerPicture;
        lowest = std::min(lowest, ahead);
    }
    EXPECT_GT(lowest, -1.25 * b.Size());
}

} // namespace
} // namespace corva
