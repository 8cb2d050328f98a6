#include "engine/BitModel.h"

#include <gtest/gtest.h>

#include <cmath>

namespace corva {
namespace {

using rv40::PictureType;

constexpr double kPixels = 352 * 288;

// The one form: at the step it was seen at a picture takes what it took; at a coarser step the
// part that follows the step falls a little faster than the step grows, the fixed part stays.
TEST(BitModel, BitsFollowTheStepBeyondAFixedPart)
{
    const double seen = BitModel::Step(10);
    EXPECT_DOUBLE_EQ(BitModel::Scaled(5000, 500, seen, seen), 5000);
    const double doubled = BitModel::Scaled(5000, 500, seen, 2 * seen);
    EXPECT_NEAR(doubled, 500 + 4500 / std::pow(2.0, BitModel::kBitsExponent), 1e-9);
    EXPECT_GT(BitModel::Scaled(5000, 500, seen, 1e9), 500);
    // the steps grow with the quantiser, about doubling every six
    for (int q = 1; q < 32; ++q)
        EXPECT_GT(BitModel::Step(q), BitModel::Step(q - 1));
    EXPECT_NEAR(BitModel::Step(16) / BitModel::Step(10), 2.0, 0.25);
    EXPECT_EQ(BitModel::Step(40), BitModel::Step(31));
}

// The rule of thumb read both ways agrees with itself: the quantiser for the bits a picture
// takes at a quantiser is that quantiser.
TEST(BitModel, TheRuleOfThumbIsItsOwnInverse)
{
    const BitModel model(kPixels, 10000);
    for (int q = 0; q < 32; ++q)
        EXPECT_EQ(BitModel::ThumbQuantiser(model.ThumbBits(q) / kPixels), q) << q;
}

// One pass: before anything is learnt an intra picture is guessed at three inter ones; learnt
// from inter pictures alone, at one and a half; once learnt, a picture like the last one coded
// is predicted at what it took, and a finer quantiser costs more.
TEST(BitModel, OnePassLearnsEachTypeFromThePicturesCoded)
{
    BitModel model(kPixels, 10000);
    const double cost = kPixels * 4;
    EXPECT_DOUBLE_EQ(model.Predict(PictureType::Intra, cost, 12), 3 * model.Predict(PictureType::Inter, cost, 12));

    model.Learn(PictureType::Inter, cost, 12, 20000);
    EXPECT_NEAR(model.Predict(PictureType::Inter, cost, 12), 20000, 1e-6);
    EXPECT_GT(model.Predict(PictureType::Inter, cost, 8), 20000);
    EXPECT_NEAR(model.Predict(PictureType::Intra, cost, 12), 30000, 1e-6);
    // a picture easier than the floor still costs the floor's bits
    EXPECT_DOUBLE_EQ(model.Predict(PictureType::Inter, 0, 12), model.Predict(PictureType::Inter, kPixels * 0.25, 12));

    model.Learn(PictureType::Intra, cost, 12, 90000);
    EXPECT_NEAR(model.Predict(PictureType::Intra, cost, 12), 90000, 1e-6);
    EXPECT_NEAR(model.Predict(PictureType::Inter, cost, 12), 20000, 1e-6); // each type its own
}

// B-pictures: until one is coded they are guessed as inter pictures; then they follow the last
// one, scaled by the step.
TEST(BitModel, BPicturesFollowTheLastOne)
{
    BitModel model(kPixels, 10000);
    const double cost = kPixels * 4;
    model.Learn(PictureType::Inter, cost, 12, 20000);
    EXPECT_FALSE(model.KnowsBidirectional());
    EXPECT_DOUBLE_EQ(model.Predict(PictureType::Bidirectional, cost, 12), model.Predict(PictureType::Inter, cost, 12));

    model.LearnBidirectional(3000, 14);
    EXPECT_TRUE(model.KnowsBidirectional());
    EXPECT_DOUBLE_EQ(model.BidirectionalBits(), 3000);
    EXPECT_DOUBLE_EQ(model.Predict(PictureType::Bidirectional, cost, 14), 3000);
    EXPECT_DOUBLE_EQ(model.Predict(PictureType::Bidirectional, cost, 20),
                     BitModel::Scaled(3000, 0, BitModel::Step(14), BitModel::Step(20)));
    model.LearnBidirectional(6000, 14); // faded, not replaced
    EXPECT_GT(model.BidirectionalBits(), 3000);
    EXPECT_LT(model.BidirectionalBits(), 6000);
}

// Second pass: it starts trusting the plan; pictures that take twice what was planned move the
// type's ratio towards two, one picture far astray only so far; inter pictures also keep a
// ratio per quantiser, as bits may fall off a cliff between two of them.
TEST(BitModel, ASecondPassLearnsHowItComparesWithThePlan)
{
    BitModel model(kPixels, 10000);
    model.TrustPlan();
    EXPECT_DOUBLE_EQ(model.PlanRatio(PictureType::Inter), 1.0);
    EXPECT_DOUBLE_EQ(model.PredictPlanned(PictureType::Intra, 5000, 10), 5000);

    model.LearnPlanned(PictureType::Intra, 10000, 10, 1e9);
    EXPECT_LT(model.PlanRatio(PictureType::Intra), 3.0); // clamped at three times the plan
    for (int n = 0; n < 200; ++n)
        model.LearnPlanned(PictureType::Intra, 10000, 10, 20000);
    EXPECT_NEAR(model.PlanRatio(PictureType::Intra), 2.0, 0.01);
    EXPECT_DOUBLE_EQ(model.PlanRatio(PictureType::Inter), 1.0);

    for (int n = 0; n < 200; ++n)
        model.LearnPlanned(PictureType::Inter, 10000, 16, 500);
    EXPECT_LT(model.PredictPlanned(PictureType::Inter, 10000, 16), 1000);
    EXPECT_GT(model.PredictPlanned(PictureType::Inter, 10000, 15), model.PredictPlanned(PictureType::Inter, 10000, 16));
}

} // namespace
} // namespace corva
