#include "engine/TwoPassPlan.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace corva
