#include "engine/PictureTypeDecider.h"

#include <gtest/gtest.h>

#include <vector>

namespace corva {
namespace {

using rv40::PictureType;

// Runs the decider over pictures whose inter/intra cost ratio is `ratio(n)`, coding each as
// decided at once (B-pictures included, which the encoder would hold back), and returns the types.
template <typename Ratio>
std::vector<PictureType> decide(PictureTypeDecider &types, int pictures, Ratio ratio)
{
    std::vector<PictureType> out;
    for (int n = 0; n < pictures; ++n) {
        const PictureType type = types.Decide(n, rv40::PictureCost{1000, 1000 * ratio(n)}, 0, {});
        types.Coded({type, 0, 10, 1000, n});
        out.push_back(type);
    }
    return out;
}

std::vector<int> keyframes(const std::vector<PictureType> &types)
{
    std::vector<int> at;
    for (std::size_t n = 0; n < types.size(); ++n)
        if (types[n] == PictureType::Intra)
            at.push_back(static_cast<int>(n));
    return at;
}

// Keyframes: the first picture, every interval, a cut (a jump to pictures that predict badly),
// and the late one of a film whose regular keyframes leave its second half without; a detailed
// pan that predicts badly all along is no cut.
TEST(PictureTypeDecider, KeyframesAtTheStartEveryIntervalAndAtCuts)
{
    EncodePlan::Video v;
    v.gopSize = 10;
    PictureTypeDecider regular(v);
    EXPECT_EQ(keyframes(decide(regular, 25, [](int) { return 0.3; })), (std::vector<int>{0, 10, 20}));

    v.gopSize = 250;
    PictureTypeDecider cut(v);
    EXPECT_EQ(keyframes(decide(cut, 30, [](int n) { return n == 12 ? 0.95 : 0.3; })), (std::vector<int>{0, 12}));
    PictureTypeDecider pan(v);
    EXPECT_EQ(keyframes(decide(pan, 30, [](int) { return 0.9; })), (std::vector<int>{0}));

    v.lateKeyframe = 20;
    PictureTypeDecider late(v);
    EXPECT_EQ(keyframes(decide(late, 30, [](int) { return 0.3; })), (std::vector<int>{0, 20}));
}

// B-pictures: held back while they pay, never more in a row than asked, a second only where they
// come out very small; none where the rate starves the references or floods a full buffer; tried
// again after a while where they did not pay, and a retry that pays brings them back at once.
TEST(PictureTypeDecider, BPicturesWhereTheyPay)
{
    EncodePlan::Video v;
    v.bPictures = 2;
    v.qmin = 2;
    v.qmax = 30;
    const rv40::PictureCost cost{1000, 300};
    const PassRecord middling{PictureType::Inter, 0, 15, 1000, 0};
    const PassRecord starved{PictureType::Inter, 0, 29, 1000, 0};
    const PassRecord finest{PictureType::Inter, 0, 2, 1000, 0};

    PictureTypeDecider types(v);
    EXPECT_EQ(types.Decide(0, cost, 0, {}), PictureType::Intra);
    EXPECT_EQ(types.Decide(1, cost, 0, {&middling, 0.5}), PictureType::Bidirectional);
    EXPECT_EQ(types.Decide(2, cost, 1, {&middling, 0.5}), PictureType::Bidirectional); // nothing measured: small
    EXPECT_EQ(types.Decide(3, cost, 2, {&middling, 0.5}), PictureType::Inter);
    EXPECT_EQ(types.Decide(4, cost, 0, {&starved, 0.5}), PictureType::Inter);
    EXPECT_EQ(types.Decide(5, cost, 0, {&finest, 0.95}), PictureType::Inter);
    EXPECT_EQ(types.Decide(6, cost, 0, {&finest, 0.5}), PictureType::Bidirectional);

    types.CodedBidirectional(50, 100); // half the reference: one pays, two do not
    EXPECT_EQ(types.Decide(7, cost, 0, {&middling, 0.5}), PictureType::Bidirectional);
    for (int k = 0; k < 10; ++k)
        types.CodedBidirectional(50, 100);
    EXPECT_EQ(types.Decide(8, cost, 1, {&middling, 0.5}), PictureType::Inter);

    for (int k = 0; k < 10; ++k)
        types.CodedBidirectional(90, 100);
    EXPECT_EQ(types.Decide(9, cost, 0, {&middling, 0.5}), PictureType::Inter);
    EXPECT_EQ(types.Decide(31, cost, 0, {&middling, 0.5}), PictureType::Inter);
    EXPECT_EQ(types.Decide(32, cost, 0, {&middling, 0.5}), PictureType::Bidirectional); // 25 after the last try
    types.CodedBidirectional(20, 100);
    EXPECT_EQ(types.Decide(33, cost, 0, {&middling, 0.5}), PictureType::Bidirectional);

    // a variable rate has no buffer to flood
    v.variableRate = true;
    PictureTypeDecider variable(v);
    variable.Decide(0, cost, 0, {});
    EXPECT_EQ(variable.Decide(1, cost, 0, {&finest, 0.95}), PictureType::Bidirectional);
    v.bPictures = 0;
    PictureTypeDecider none(v);
    none.Decide(0, cost, 0, {});
    EXPECT_EQ(none.Decide(1, cost, 0, {&middling, 0.5}), PictureType::Inter);
}

// A second pass keeps the first pass's types whatever the pictures look like now.
TEST(PictureTypeDecider, ASecondPassFollowsTheFirst)
{
    EncodePlan::Video v;
    v.bPictures = 1;
    PictureTypeDecider types(v);
    types.Follow({{PictureType::Intra, 0, 10, 1, 0}, {PictureType::Inter, 0, 10, 1, 2}, {PictureType::Bidirectional, 0, 10, 1, 1},
                  {PictureType::Intra, 0, 10, 1, 3}});
    EXPECT_EQ(types.Decide(0, {1000, 300}, 0, {}), PictureType::Intra);
    EXPECT_EQ(types.Decide(1, {1000, 300}, 0, {}), PictureType::Bidirectional);
    EXPECT_EQ(types.Decide(2, {1000, 990}, 1, {}), PictureType::Inter);
    EXPECT_EQ(types.Decide(3, {1000, 300}, 0, {}), PictureType::Intra);
    EXPECT_EQ(types.Decide(4, {1000, 300}, 0, {}), PictureType::Inter); // beyond the first pass
}

} // namespace
} // namespace corva
