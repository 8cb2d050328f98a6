#include "engine/RateController.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace corva {
namespace {

// A stand-in encoder whose pictures take bits the way real ones do: more for busy pictures
// and intra pictures, fewer at coarser steps, not quite in proportion, plus a fixed header
// share, and an estimate of the difficulty that is only roughly right.
struct FakeFilm
{
    int width = 352;
    int height = 288;
    double fps = 25;
    int seconds = 60;
    int keyframeEvery = 250;
    bool calmThenBusy = false; // one calm half, then one busy half
    bool rising = false;       // one scene growing busier to the end, as a pan into detail
    bool withB = false;        // every other picture a B-picture, which takes far less
    bool ripple = false;       // one scene whose every other picture is much harder, as a pan's sub-pixel phases
    bool cliff = false;        // noise: coded up to one step, almost nothing beyond it
    double intraWeight = 4.0;  // how much harder an intra picture is than an inter one
    int cheaperFrom = -1;      // from this picture on, pictures take a share of the bits
    double cheaperShare = 1.0;

    // Difficulty of picture n: calm and busy scenes, with cuts between them.
    double Difficulty(int n) const
    {
        const int scene = n / 150;
        double base = (scene % 3 == 0) ? 1.0 : (scene % 3 == 1) ? 6.0 : 2.5;
        if (calmThenBusy)
            base = n < Pictures() / 2 ? 1.0 : 6.0;
        if (rising)
            base = std::exp(std::log(30.0) * n / Pictures());
        if (ripple)
            base = n % 2 ? 3.0 : 1.0;
        if (cliff)
            base = 1.0;
        return base * (1.0 + 0.2 * std::sin(n * 0.37)) * width * height;
    }
    bool IsIntra(int n) const { return n % keyframeEvery == 0 || (!rising && !ripple && !cliff && n % 150 == 0); }
    bool IsB(int n) const { return withB && n % 2 == 1 && !IsIntra(n); }
    rv40::PictureType Type(int n) const
    {
        return IsIntra(n) ? rv40::PictureType::Intra : IsB(n) ? rv40::PictureType::Bidirectional : rv40::PictureType::Inter;
    }
    double TrueBits(int n, int q) const
    {
        const double d = Difficulty(n) * (IsIntra(n) ? intraWeight : 1.0) * (IsB(n) ? 0.25 : 1.0);
        if (cliff && !IsIntra(n)) {
            // the step where the noise drowns: a quarter of the bits at the next, almost none after
            const double near = 30.0 * d / std::pow(RateController::Step(std::min(q, 15)), 1.15) * 10.0;
            return 400 + near * (q <= 15 ? std::pow(RateController::Step(15) / RateController::Step(q), 1.15) : q == 16 ? 0.25 : 0.02);
        }
        const double share = cheaperFrom >= 0 && n >= cheaperFrom ? cheaperShare : 1.0;
        return 400 + share * 3.0 * d / std::pow(RateController::Step(q), 1.15) * 10.0;
    }
    // What no dropping of levels takes away: the header, and about half of the rest in macroblock
    // types and vectors (at the coarsest steps, where pictures are kept within a bound).
    double WithoutLevels(int n, int q) const { return 400 + 0.5 * (TrueBits(n, q) - 400); }
    double Estimate(int n) const { return Difficulty(n) * (IsIntra(n) ? intraWeight : 1.0) * (1.0 + 0.15 * std::cos(n * 1.3)); }
    int Pictures() const { return static_cast<int>(fps * seconds); }
};

struct Outcome
{
    double bits = 0;
    double calmBits = 0;
    double busyBits = 0;
    int qmin = 99;
    int qmax = -1;
    int underflows = 0;
    int repeated = 0;
    int repeatedWhereCalm = 0;
    std::vector<PassRecord> records;
};

// A repeated picture: its header and a skip run.
constexpr double kRepeatBits = 200;

// The quantiser the encoder codes picture n at, given the controller's: raised into the bound
// as the encoder does, three, six and ten steps coarser, then the coarsest.
int WithinBound(const FakeFilm &film, const RateController &rc, int n, int q)
{
    const double most = rc.MostBits(film.Type(n), q);
    int coded = q;
    for (const int up : {3, 6, 10, 31})
        if (film.TrueBits(n, coded) > most)
            coded = std::min(31, q + up);
    return coded;
}

// `bounded`: each picture kept within the controller's bound as the encoder keeps it: coarser
// first, then at the coarsest with levels dropped; an inter picture that does not fit without
// any repeats the one before.
Outcome Encode(const FakeFilm &film, RateController &rc, bool fixedQ = false, bool repeats = false,
               bool bounded = false)
{
    Outcome o;
    const int q0 = rc.FirstPassQuantiser();
    for (int n = 0; n < film.Pictures(); ++n) {
        const bool intra = film.IsIntra(n);
        const bool b = film.IsB(n);
        const double cost = film.Estimate(n);
        auto repeat = [&] {
            rc.UpdateRepeated(kRepeatBits);
            o.bits += kRepeatBits;
            ++o.repeated;
            o.repeatedWhereCalm += (n / 150) % 3 == 0;
            o.records.push_back({rv40::PictureType::Inter, cost, 31, kRepeatBits, n});
        };
        if (repeats && !intra && !b && rc.RepeatInstead(cost)) {
            repeat();
            continue;
        }
        const int chosen = fixedQ ? q0 : rc.ChooseQuantiser(film.Type(n), cost);
        const int q = bounded ? WithinBound(film, rc, n, chosen) : chosen;
        double bits = film.TrueBits(n, q);
        const double most = rc.MostBits(film.Type(n), chosen);
        if (bounded && bits > most) {
            const double floorBits = film.WithoutLevels(n, q);
            if (floorBits > most && !intra && !b) {
                repeat();
                continue;
            }
            bits = std::max(floorBits, most); // a keyframe takes what it must
            rc.Update(film.Type(n), cost, q, film.TrueBits(n, q), bits);
        } else {
            rc.Update(film.Type(n), cost, q, bits);
        }
        o.bits += bits;
        ((n / 150) % 3 == 1 ? o.busyBits : o.calmBits) += (n / 150) % 3 == 2 ? 0 : bits;
        o.qmin = std::min(o.qmin, q);
        o.qmax = std::max(o.qmax, q);
        o.records.push_back({film.Type(n), cost, q, bits, n});
    }
    o.underflows = rc.Underflows();
    return o;
}

EncodePlan::Video Cbr(const FakeFilm &film, double kbps, int bOffset = 2)
{
    EncodePlan::Video s;
    s.bQuantiserOffset = bOffset;
    s.bitRate = static_cast<int64_t>(kbps * 1000);
    s.frameRate = AVRational{static_cast<int>(film.fps), 1};
    s.width = film.width;
    s.height = film.height;
    return s;
}

// A constant-rate second pass planned from what a first pass measured.
Outcome SecondPass(const FakeFilm &film, double kbps, const Outcome &first, bool repeats = false, int bOffset = 2,
                   bool bounded = false)
{
    RateController second(Cbr(film, kbps, bOffset));
    second.SetFirstPass(first.records);
    return Encode(film, second, false, repeats, bounded);
}

struct RateCase
{
    double kbps;
    int width;
    int height;
};

class ConstantRate : public ::testing::TestWithParam<RateCase>
{
};

// A constant-rate audience must come out at its rate over a film, in one pass and in two,
// without running the player's buffer dry more than at a cut or two.
TEST_P(ConstantRate, SpendsTheRateInOneAndTwoPasses)
{
    FakeFilm film;
    film.width = GetParam().width;
    film.height = GetParam().height;
    const double kbps = GetParam().kbps;
    const double budget = kbps * 1000 * film.seconds;

    RateController one(Cbr(film, kbps));
    const Outcome single = Encode(film, one);
    EXPECT_NEAR(single.bits / budget, 1.0, 0.03) << "one pass";
    EXPECT_LE(single.underflows, 3);

    RateController measure(Cbr(film, kbps));
    const Outcome first = Encode(film, measure, /*fixedQ=*/true);
    const Outcome two = SecondPass(film, kbps, first);
    EXPECT_NEAR(two.bits / budget, 1.0, 0.03) << "two passes";
    EXPECT_LE(two.underflows, 3);
}

// Bits a calm first half leaves unused cannot be spent by a busy second half through a
// one-second buffer: a second pass that planned so would fall short of the rate.
TEST(RateControllerTest, TwoPassesHoldTheRateWhenTheBusyPartComesLast)
{
    FakeFilm film;
    film.calmThenBusy = true;
    const double kbps = 386;
    RateController measure(Cbr(film, kbps));
    const Outcome first = Encode(film, measure, /*fixedQ=*/true);
    const Outcome two = SecondPass(film, kbps, first);
    EXPECT_NEAR(two.bits / (kbps * 1000 * film.seconds), 1.0, 0.03);
    EXPECT_LE(two.underflows, 3);
}

// A short film whose last pictures, a keyframe among them, come out far cheaper in the second
// pass than the first measured (the second searches harder) must still spend its rate: what
// the plan has left is spent on few pictures, so its steps must move fast enough.
TEST(RateControllerTest, TwoPassesSpendTheRateWhenTheEndComesOutCheaper)
{
    FakeFilm film;
    film.width = 720;
    film.height = 540;
    film.fps = 10;
    film.seconds = 12;
    film.keyframeEvery = 100;
    film.withB = true;
    const double kbps = 252;
    RateController measure(Cbr(film, kbps));
    const Outcome first = Encode(film, measure, /*fixedQ=*/true);
    FakeFilm cheaper = film;
    cheaper.cheaperFrom = 95;
    cheaper.cheaperShare = 0.5;
    const Outcome two = SecondPass(cheaper, kbps, first);
    EXPECT_NEAR(two.bits / (kbps * 1000 * film.seconds), 1.0, 0.03);
}

// One pass weighs a picture against the recent ones: against all it has seen, every picture of a
// film that keeps growing busier would look hard and take more than its share.
TEST(RateControllerTest, OnePassHoldsTheRateWhileTheFilmGrowsBusier)
{
    FakeFilm film;
    film.rising = true;
    film.seconds = 20;
    const double kbps = 386;
    RateController rc(Cbr(film, kbps));
    const Outcome o = Encode(film, rc);
    EXPECT_NEAR(o.bits / (kbps * 1000 * film.seconds), 1.0, 0.03);
}

// A second pass keeps the quantiser steady where the film is steady, however its pictures'
// sizes ripple, and codes an intra picture at least as finely as the pictures that copy it.
TEST(RateControllerTest, TwoPassesKeepTheQuantiserSteady)
{
    FakeFilm film;
    film.ripple = true;
    film.seconds = 20;
    const double kbps = 386;
    RateController measure(Cbr(film, kbps));
    const Outcome first = Encode(film, measure, /*fixedQ=*/true);
    const Outcome two = SecondPass(film, kbps, first);
    EXPECT_NEAR(two.bits / (kbps * 1000 * film.seconds), 1.0, 0.03);
    int widest = 0;
    for (std::size_t n = 2; n < two.records.size(); ++n)
        if (two.records[n].type != rv40::PictureType::Intra && two.records[n - 1].type != rv40::PictureType::Intra)
            widest = std::max(widest, std::abs(two.records[n].quantiser - two.records[n - 1].quantiser));
    // the fraction a rounding carries to the next picture may make one step of two
    EXPECT_LE(widest, 2);
    for (std::size_t n = 0; n + 1 < two.records.size(); ++n) {
        if (two.records[n].type == rv40::PictureType::Intra) {
            EXPECT_LE(two.records[n].quantiser, two.records[n + 1].quantiser) << "picture " << n;
        }
    }
}

// B-pictures are coded coarser than the reference coded before them (nothing copies them) by
// the plan's offset (RealVideo 8's far coarser), never finer, and what they leave goes to the
// references: the film still spends its rate.
TEST(RateControllerTest, BPicturesFollowTheirReferenceAndTheRateHolds)
{
    FakeFilm film;
    film.withB = true;
    film.seconds = 20;
    const double kbps = 150; // where the quantisers reach the rate in every scene
    const double budget = kbps * 1000 * film.seconds;
    for (const int offset : {2, 5}) {
        auto check = [&](const Outcome &o, const char *what) {
            EXPECT_NEAR(o.bits / budget, 1.0, 0.03) << what << ", offset " << offset;
            int pairs = 0, atOffset = 0;
            for (std::size_t n = 1; n < o.records.size(); ++n) {
                const PassRecord &b = o.records[n], &ref = o.records[n - 1];
                if (b.type != rv40::PictureType::Bidirectional || ref.type == rv40::PictureType::Bidirectional)
                    continue;
                EXPECT_GE(b.quantiser, ref.quantiser) << what << " picture " << n;
                EXPECT_LE(b.quantiser, ref.quantiser + offset) << what << " picture " << n;
                ++pairs;
                atOffset += b.quantiser == std::min(ref.quantiser + offset, 31);
            }
            // the buffer may ask a B-picture to be finer now and then, not as a rule
            EXPECT_GT(atOffset, pairs * 9 / 10) << what << ", offset " << offset;
        };
        RateController one(Cbr(film, kbps, offset));
        check(Encode(film, one), "one pass");
        RateController measure(Cbr(film, kbps, offset));
        const Outcome first = Encode(film, measure);
        check(SecondPass(film, kbps, first, false, offset), "two passes");
    }
}

// Where a picture's bits fall off a cliff between two quantisers (noise that the coarser step no
// longer codes at all), the second pass's measure of how its pictures compare with the plan is
// of little use picture by picture: it must still end at the rate, neither losing what a full
// buffer turns away nor running it dry.
TEST(RateControllerTest, TwoPassesHoldTheRateWhereBitsFallOffACliff)
{
    FakeFilm film;
    film.cliff = true;
    film.seconds = 30;
    film.width = 176;
    film.height = 144;
    const double kbps = 118;
    // between the bits at the last coded step and the next one
    ASSERT_GT(film.TrueBits(1, 15), kbps * 1000 / film.fps);
    ASSERT_LT(film.TrueBits(1, 16), kbps * 1000 / film.fps);
    const double budget = kbps * 1000 * film.seconds;
    RateController measure(Cbr(film, kbps));
    const Outcome first = Encode(film, measure);
    EXPECT_NEAR(first.bits / budget, 1.0, 0.03) << "one pass";
    const Outcome two = SecondPass(film, kbps, first);
    EXPECT_NEAR(two.bits / budget, 1.0, 0.03) << "two passes";
    EXPECT_LE(two.underflows, 3);
}

// A rate below what busy scenes take even at the coarsest quantiser: there pictures repeat the
// one before rather than run the player's buffer dry, and only there; the calm scenes are all
// coded, and the film spends its rate. The pictures are kept within the encoder's bound, as a
// second pass codes a picture the buffer holds into its margin and counts on that bound.
TEST(RateControllerTest, PicturesRepeatWhereEvenTheCoarsestQuantiserIsTooMuch)
{
    FakeFilm film;
    film.width = 720;
    film.height = 576;
    const double kbps = 118;
    const double perPicture = kbps * 1000 / film.fps;
    ASSERT_GT(film.TrueBits(151, 31), 1.5 * perPicture); // a busy scene
    ASSERT_LT(film.TrueBits(1, 31), 0.8 * perPicture);   // a calm one
    const double budget = kbps * 1000 * film.seconds;
    auto check = [&](const Outcome &o, const char *what) {
        EXPECT_NEAR(o.bits / budget, 1.0, 0.03) << what;
        EXPECT_LE(o.underflows, 3) << what;
        EXPECT_GT(o.repeated, 0) << what;
        EXPECT_EQ(o.repeatedWhereCalm, 0) << what;
    };
    RateController one(Cbr(film, kbps));
    check(Encode(film, one, false, /*repeats=*/true, /*bounded=*/true), "one pass");
    RateController measure(Cbr(film, kbps));
    const Outcome first = Encode(film, measure, /*fixedQ=*/true);
    check(SecondPass(film, kbps, first, /*repeats=*/true, 2, /*bounded=*/true), "two passes");

    // a variable rate has its peak and quantiser bounds instead
    EncodePlan::Video vbr = Cbr(film, kbps);
    vbr.variableRate = true;
    vbr.maxRate = static_cast<int64_t>(2 * kbps * 1000);
    RateController variable(vbr);
    EXPECT_EQ(Encode(film, variable, false, true).repeated, 0);
}

// A second pass whose busy pictures overspend their shares at the coarsest quantiser: the
// keyframe of each cut is still given its share of the rate, not crushed to a quarter of it to
// pay the debt back at once (it came out flat gray); the debt is paid by all the pictures after.
TEST(RateControllerTest, AKeyframeAtTheCoarsestStepKeepsItsShareWhileADebtIsPaidBack)
{
    FakeFilm film;
    film.seconds = 20;
    film.keyframeEvery = 5;
    const double kbps = 60;
    const double perPicture = kbps * 1000 / film.fps;
    ASSERT_GT(film.TrueBits(150, 31), 2 * perPicture); // a busy scene at the coarsest step
    RateController measure(Cbr(film, kbps));
    const Outcome first = Encode(film, measure, /*fixedQ=*/true);
    RateController second(Cbr(film, kbps));
    second.SetFirstPass(first.records);
    int squeezed = 0, keyframes = 0;
    for (int n = 0; n < film.Pictures(); ++n) {
        const double cost = film.Estimate(n);
        const int q = second.ChooseQuantiser(film.Type(n), cost);
        if (film.IsIntra(n) && q == 31 && second.MostBits() >= perPicture) {
            ++keyframes;
            squeezed += second.MostBits(rv40::PictureType::Intra, 31) < perPicture;
        }
        // the pictures take what the coarsest step gives them, the bound or not
        second.Update(film.Type(n), cost, q, film.TrueBits(n, q));
    }
    EXPECT_GT(keyframes, 10);
    EXPECT_EQ(squeezed, 0) << "of " << keyframes << " keyframes at the coarsest step";
}

// A short film at few pictures a second with a B-picture between each two references and a
// periodic keyframe inside it: one pass must spend the rate from its first pictures on (the
// B-pictures' share of the pictures is learnt from nothing), and the keyframe must be aimed
// within the bound it is then held to, not past it: the encoder would code it ever coarser, at
// the last at the coarsest quantiser.
TEST(RateControllerTest, OnePassSpendsTheRateAroundAKeyframeOfAShortFilmWithBPictures)
{
    FakeFilm film;
    film.width = 720;
    film.height = 544;
    film.fps = 10;
    film.seconds = 12;
    film.keyframeEvery = 80;
    film.withB = true;
    const double kbps = 386;
    RateController rc(Cbr(film, kbps));
    double total = 0;
    int keyframes = 0;
    for (int n = 0; n < film.Pictures(); ++n) {
        const double cost = film.Estimate(n);
        const rv40::PictureType type = film.Type(n);
        const int q = rc.ChooseQuantiser(type, cost);
        const int coded = WithinBound(film, rc, n, q);
        if (n > 0 && film.IsIntra(n)) {
            ++keyframes;
            EXPECT_LE(coded, q + 3) << "keyframe " << n;
        }
        const double bits = film.TrueBits(n, coded);
        rc.Update(type, cost, coded, bits);
        total += bits;
    }
    EXPECT_EQ(keyframes, 1);
    EXPECT_NEAR(total / (kbps * 1000 * film.seconds), 1.0, 0.03);
}

// One constant-rate pass keeps every picture within what is left of the film's budget. A
// keyframe after pictures that spent their shares must still be coded near their quantiser, the
// pictures before it having set bits aside, not crushed to the little the budget leaves it; and
// the B-pictures' share counts from the first of them, so the first seconds spend the rate too.
TEST(RateControllerTest, OnePassSetsBitsAsideForTheNextKeyframe)
{
    FakeFilm film;
    film.width = 720;
    film.height = 544;
    film.fps = 10;
    film.seconds = 12;
    film.keyframeEvery = 80;
    film.withB = true;
    film.intraWeight = 8; // a still camera's: its inter pictures cost little
    const double kbps = 386;
    EncodePlan::Video video = Cbr(film, kbps);
    video.gopSize = film.keyframeEvery;
    video.pictures = film.Pictures();
    RateController rc(video);
    double total = 0;
    double opening = 0;
    double closing = 0;
    double interQ = 0;
    int inter = 0;
    int keyframeQ = -1;
    for (int n = 0; n < film.Pictures(); ++n) {
        const double cost = film.Estimate(n);
        const rv40::PictureType type = film.Type(n);
        const int q = rc.ChooseQuantiser(type, cost);
        const int coded = WithinBound(film, rc, n, q);
        const double bits = film.TrueBits(n, coded);
        rc.Update(type, cost, coded, bits);
        total += bits;
        opening += n < 40 ? bits : 0;
        closing += n >= 90 ? bits : 0;
        if (n >= 60 && n < 80 && type == rv40::PictureType::Inter) {
            interQ += coded;
            ++inter;
        }
        if (n == 80)
            keyframeQ = coded;
    }
    ASSERT_GT(inter, 0);
    // (crushed, it came out ten steps coarser; the B-pictures' share faded in from none left
    // the first seconds 7% short)
    EXPECT_LE(keyframeQ, interQ / inter + 5) << "inter pictures before it at " << interQ / inter;
    EXPECT_NEAR(opening / (kbps * 1000 * 4), 1.0, 0.065) << "the first four seconds";
    // nothing is set aside for a keyframe the film ends before (5.5% short, were it)
    EXPECT_NEAR(closing / (kbps * 1000 * 3), 1.0, 0.03) << "the last three seconds";
    EXPECT_NEAR(total / (kbps * 1000 * film.seconds), 1.0, 0.03);
}

// A cut late in a film keeps the late keyframe from coming (a keyframe already falls in its second
// half): the bits set aside for it are spent by the pictures after the cut.
TEST(RateControllerTest, OnePassSpendsWhatItSetAsideForAKeyframeThatDoesNotCome)
{
    FakeFilm film;
    film.width = 720;
    film.height = 544;
    film.fps = 10;
    film.seconds = 20;
    film.withB = true;
    film.intraWeight = 8;
    const double kbps = 800;
    EncodePlan::Video video = Cbr(film, kbps);
    video.gopSize = film.keyframeEvery; // none but at the cuts (150)
    video.lateKeyframe = 180;           // which the cut at 150 keeps from coming
    video.pictures = film.Pictures();
    RateController rc(video);
    double after = 0;
    for (int n = 0; n < film.Pictures(); ++n) {
        const double cost = film.Estimate(n);
        const rv40::PictureType type = film.Type(n);
        const int q = rc.ChooseQuantiser(type, cost);
        const double bits = film.TrueBits(n, q);
        rc.Update(type, cost, q, bits);
        after += n > 150 ? bits : 0;
    }
    // (kept for it to the end, they left the rest of the film 7% short)
    EXPECT_NEAR(after / (kbps * 1000 * 4.9), 1.0, 0.03) << "after the cut";
}

// One pass keeps every picture within what is left of the budget; a keyframe at a cut a second
// or more after the last keeps at least what it takes at the coarsest quantiser, as far as the
// buffer holds it (held to the budget, it lost its levels and showed flat gray), while a cut
// closer to the last keeps the budget's bound.
TEST(RateControllerTest, OnePassKeepsACutsKeyframeWholeAtTheCoarsestQuantiser)
{
    EncodePlan::Video video;
    video.width = 640;
    video.height = 352;
    video.frameRate = AVRational{15, 1};
    video.bitRate = 118000;
    video.pictures = 120;
    const double share = 118000.0 / 15;
    const double keyCost = 640.0 * 352 * 8;
    auto overspent = [&](RateController &rc, int pictures) {
        const int q = rc.ChooseQuantiser(rv40::PictureType::Intra, keyCost);
        rc.Update(rv40::PictureType::Intra, keyCost, q, 5 * share);
        for (int n = 1; n < pictures; ++n) {
            const double cost = 640.0 * 352;
            rc.Update(rv40::PictureType::Inter, cost, rc.ChooseQuantiser(rv40::PictureType::Inter, cost), 1.5 * share);
        }
        rc.ChooseQuantiser(rv40::PictureType::Intra, keyCost);
        return rc.MostBits(rv40::PictureType::Intra, 31);
    };
    RateController late(video);
    const double most = overspent(late, 16);
    EXPECT_GE(most, 1.5 * share);
    EXPECT_LE(most, late.MostBits());
    RateController close(video);
    EXPECT_LE(overspent(close, 5), 1.01 * share);
}

INSTANTIATE_TEST_SUITE_P(Audiences, ConstantRate, ::testing::Values(RateCase{118, 176, 144}, RateCase{386, 352, 288}, RateCase{1308, 720, 576}));

// A variable-rate audience gives busy scenes more than calm ones, keeps to its quantiser
// bounds, and still spends about its rate.
TEST(RateControllerTest, VariableRateFollowsTheFilmWithinBounds)
{
    FakeFilm film;
    EncodePlan::Video s = Cbr(film, 554);
    s.variableRate = true;
    s.maxRate = 1300000;
    s.qmin = 2;
    s.qmax = 20;

    RateController constant(Cbr(film, 554));
    const Outcome c = Encode(film, constant);
    RateController variable(s);
    const Outcome v = Encode(film, variable);

    EXPECT_GT(v.busyBits / v.calmBits, 1.2 * c.busyBits / c.calmBits);
    EXPECT_GE(v.qmin, 2);
    EXPECT_LE(v.qmax, 20);
    EXPECT_NEAR(v.bits / (554000.0 * film.seconds), 1.0, 0.10);
}

// Where the rate cannot be met even at the coarsest quantiser allowed, the bound wins.
TEST(RateControllerTest, QuantiserBoundsHoldWhenTheRateCannot)
{
    FakeFilm film;
    film.seconds = 10;
    EncodePlan::Video s = Cbr(film, 20);
    s.variableRate = true;
    s.maxRate = 40000;
    s.qmin = 2;
    s.qmax = 16;
    RateController rc(s);
    const Outcome o = Encode(film, rc);
    EXPECT_LE(o.qmax, 16);
    EXPECT_EQ(o.qmax, 16);
}

// One pass: a picture squeezed to the coarsest quantiser (a keyframe the buffer could not hold)
// leaves the buffer full again at once; the pictures after it find their way back within a few
// pictures rather than three quantisers a picture over half a second.
TEST(RateControllerTest, OnePassRecoversQuicklyAfterASqueezedPicture)
{
    FakeFilm film;
    RateController rc(Cbr(film, 600));
    int settled = -1;
    for (int n = 1; n < 100; ++n) {
        const double cost = film.Estimate(n);
        const int q = rc.ChooseQuantiser(rv40::PictureType::Inter, cost);
        if (n == 60)
            settled = q;
        rc.Update(rv40::PictureType::Inter, cost, q, film.TrueBits(n, q));
    }
    ASSERT_LT(settled, 20);
    // squeezed: coded at the coarsest quantiser within a few hundred bytes
    rc.Update(rv40::PictureType::Inter, film.Estimate(100), 31, 3000);
    int back = 0;
    for (int n = 101; n < 120; ++n) {
        const double cost = film.Estimate(n);
        const int q = rc.ChooseQuantiser(rv40::PictureType::Inter, cost);
        rc.Update(rv40::PictureType::Inter, cost, q, film.TrueBits(n, q));
        if (q <= settled + 2) {
            back = n - 100;
            break;
        }
    }
    EXPECT_GT(back, 0);
    EXPECT_LE(back, 6);
}

// The B-pictures of a film coded beside the next reference: each is accounted at a guess before
// that reference is decided, and what it took is put in once the reference is coded. The film
// still spends its rate in one pass and in two, and the B-pictures' own bits are all counted.
Outcome EncodeAhead(const FakeFilm &film, RateController &rc)
{
    Outcome o;
    struct Held
    {
        int n;
        RateController::Ahead ahead;
    };
    std::vector<Held> held;
    auto settle = [&] {
        for (const Held &h : held) {
            const double bits = film.TrueBits(h.n, h.ahead.quantiser);
            rc.Settle(h.ahead, bits);
            o.bits += bits;
            o.records.push_back({rv40::PictureType::Bidirectional, film.Estimate(h.n), h.ahead.quantiser, bits, h.n});
        }
        held.clear();
    };
    for (int n = 0; n < film.Pictures(); ++n) {
        const double cost = film.Estimate(n);
        const rv40::PictureType type = film.Type(n);
        const int q = rc.ChooseQuantiser(type, cost);
        if (type == rv40::PictureType::Bidirectional) {
            held.push_back({n, rc.UpdateAhead(cost, q)});
            continue;
        }
        const double bits = film.TrueBits(n, q);
        settle();
        rc.Update(type, cost, q, bits);
        o.bits += bits;
        o.records.push_back({type, cost, q, bits, n});
    }
    settle();
    o.underflows = rc.Underflows();
    return o;
}

TEST(RateControllerTest, BPicturesAccountedAheadKeepTheRate)
{
    FakeFilm film;
    film.withB = true;
    const double kbps = 386;
    const double budget = kbps * 1000 * film.seconds;
    RateController one(Cbr(film, kbps));
    const Outcome single = EncodeAhead(film, one);
    EXPECT_NEAR(single.bits / budget, 1.0, 0.03) << "one pass";
    EXPECT_LE(single.underflows, 3);

    RateController measure(Cbr(film, kbps));
    const Outcome first = EncodeAhead(film, measure);
    RateController second(Cbr(film, kbps));
    second.SetFirstPass(first.records);
    const Outcome two = EncodeAhead(film, second);
    EXPECT_NEAR(two.bits / budget, 1.0, 0.03) << "two passes";
    EXPECT_LE(two.underflows, 3);
}

// A guess that was right leaves the controller as the picture's plain accounting would: the
// same buffer and the same quantiser for what comes next; a guess far off is put right.
TEST(RateControllerTest, ASettledGuessIsThePlainAccounting)
{
    FakeFilm film;
    film.withB = true;
    for (const double took : {-1.0, 0.2, 5.0}) {
        RateController plain(Cbr(film, 386)), ahead(Cbr(film, 386));
        for (RateController *rc : {&plain, &ahead})
            for (int n = 0; n < 7; ++n) {
                const int q = rc->ChooseQuantiser(film.Type(n), film.Estimate(n));
                rc->Update(film.Type(n), film.Estimate(n), q, film.TrueBits(n, q));
            }
        const int q = plain.ChooseQuantiser(rv40::PictureType::Bidirectional, film.Estimate(7));
        ASSERT_EQ(q, ahead.ChooseQuantiser(rv40::PictureType::Bidirectional, film.Estimate(7)));
        const RateController::Ahead a = ahead.UpdateAhead(film.Estimate(7), q);
        const double bits = took < 0 ? a.predicted : a.predicted * took;
        ahead.Settle(a, bits);
        plain.Update(rv40::PictureType::Bidirectional, film.Estimate(7), q, bits);
        EXPECT_NEAR(ahead.BufferLevel(), plain.BufferLevel(), 1e-9) << took;
        EXPECT_EQ(ahead.ChooseQuantiser(rv40::PictureType::Inter, film.Estimate(8)),
                  plain.ChooseQuantiser(rv40::PictureType::Inter, film.Estimate(8)))
            << took;
        EXPECT_EQ(ahead.MostBits(rv40::PictureType::Inter, 20), plain.MostBits(rv40::PictureType::Inter, 20)) << took;
    }
}

} // namespace
} // namespace corva
