// The encoder's parts on their own: the motion search behind its query, the diamond the
// look-ahead shares, the rate-distortion chooser, and the decision policy the analysis
// consults. A fault here shows in the films only as worse pictures, which the bit-exact
// checks do not see.
#include "ForcedPolicy.h"
#include "TestPictures.h"

#include "rv40/Dsp.h"
#include "rv40/Encoder.h"
#include "rv40/LastingError.h"
#include "rv40/MbGrid.h"
#include "rv40/MotionSearch.h"
#include "rv40/Picture.h"
#include "rv40/RdChooser.h"
#include "rv40/CoefficientWriter.h"
#include "rv40/QuantSet.h"
#include "rv40/ResidualCoder.h"
#include "rv40/Rv40Bitstream.h"
#include "rv40/SliceWriter.h"
#include "rv40/StillMap.h"
#include "rv40/VectorBounds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace corva::rv40::test {
namespace {

// A smooth texture, so that the cost falls steadily towards the true vector.
void Paint(Plane &p, double phase)
{
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x)
            p.At(x, y)[0] = static_cast<std::uint8_t>(128 + 60 * std::sin((x + phase) * 0.21) +
                                                      50 * std::cos((y - phase) * 0.17 + x * 0.05));
    p.Extend();
}

class KnownShift : public ::testing::TestWithParam<MotionVector> {};

// The source MB is the reference moved by a known quarter-pel vector, made with the decoder's
// own filters: the search must return that vector, at no distortion.
TEST_P(KnownShift, SearchFindsIt)
{
    const MotionVector v = GetParam();
    const Rv40Bitstream bitstream;
    const VectorBounds bounds(64, 64, 4);
    Plane ref, src;
    ref.Init(64, 64, 64);
    src.Init(64, 64, 64);
    Paint(ref, 0);
    Paint(src, 9); // everything but the MB searched differs
    bitstream.LumaMc(src.At(16, 16), src.stride, ref.At(16, 16), ref.stride, v, 16, 16);
    for (const bool thorough : {false, true}) {
        MotionQuery q;
        q.src = &src;
        q.ref = &ref;
        q.mbx = q.mby = 1;
        q.pred = v; // no bits to pay for the right answer
        q.lambda = 4;
        q.range = 16;
        q.thorough = thorough;
        const MotionResult r = MotionSearch(bitstream, bounds).Search(q);
        EXPECT_EQ(r.mv, v) << "found (" << r.mv.x << "," << r.mv.y << "), thorough " << thorough;
        EXPECT_EQ(r.cost, 8) << "no distortion, a zero difference of one bit per component at lambda 4";
    }
}

INSTANTIATE_TEST_SUITE_P(Vectors, KnownShift,
                         ::testing::Values(MotionVector{0, 0}, MotionVector{12, -8}, MotionVector{-9, 6},
                                           MotionVector{5, 3}, MotionVector{-14, -2}));

// A bowl of costs around (5, -3): the diamond walks down to it, no further than its window and
// no more steps than it is allowed.
TEST(MotionSearch, DiamondKeepsToItsWindowAndSteps)
{
    const VectorBounds bounds(256, 256, 4);
    static constexpr int kCross[4][2] = {{0, -1}, {1, 0}, {0, 1}, {-1, 0}};
    auto bowl = [](int x, int y) { return (x - 5) * (x - 5) + (y + 3) * (y + 3); };
    struct Row {
        int iterations, window, x, y;
    } rows[] = {{20, 100, 5, -3}, {20, 2, 2, -2}, {2, 100, 2, 0}, {0, 100, 0, 0}};
    for (const Row &r : rows) {
        int bx = 0, by = 0;
        const int best = MotionSearch::Diamond(kCross, 4, 1, r.iterations, r.window, bounds, 4, 4, bx, by, bowl(0, 0), bowl);
        EXPECT_EQ(bx, r.x) << "iterations " << r.iterations << " window " << r.window;
        EXPECT_EQ(by, r.y) << "iterations " << r.iterations << " window " << r.window;
        EXPECT_EQ(best, bowl(bx, by));
    }
}

// Motion reaches 40 pixels outside the picture, a fraction one pixel less (its filter reads one
// more), in quarter pixels and in thirds alike: a vector past it reads outside the planes.
// FFmpeg's scan for RealMedia packet headers stops at two zero bytes and a length above 12.
TEST(SliceWriter, NamesTheBytesFfmpegsScanTakesForAPacketHeader)
{
    const auto reads = [](std::vector<std::uint8_t> b) { return ReadsAsPacketHeader(b); };
    EXPECT_FALSE(reads({0x00, 0x00, 0x00, 0x0C})); // 12 and less are passed over
    EXPECT_TRUE(reads({0x00, 0x00, 0x00, 0x0D}));
    EXPECT_TRUE(reads({0x9C, 0x4A, 0x00, 0x00, 0xDC, 0xED, 0x34}));
    EXPECT_FALSE(reads({0x00, 0x01, 0x00, 0xFF, 0x00, 0x80}));
    EXPECT_FALSE(reads({0x00, 0x00, 0xFF}));
    EXPECT_TRUE(reads({0x00, 0x00, 0x00, 0x00, 0x01, 0x00})); // a run of zeros, then 256

    // the next packet's header begins 00 00, and below 3328 bytes a third zero
    const auto ends = [](std::vector<std::uint8_t> b) { return EndsAsPacketHeader(b); };
    EXPECT_TRUE(ends({0x37, 0x00, 0x00, 0x80}));
    EXPECT_TRUE(ends({0x00, 0x00, 0x01}));
    EXPECT_FALSE(ends({0x37, 0x00, 0x00}));
    EXPECT_FALSE(ends({0x00, 0x80, 0x00}));
    EXPECT_TRUE(ends({0x12, 0x00, 0x00, 0x0C})); // 0x0C00 with the zero after it
    EXPECT_FALSE(ends({0x00, 0x00, 0x00, 0x00}));
}

TEST(VectorBounds, KeepsVectorsWithinTheBorder)
{
    struct Row {
        int units, x;
        bool inRange;
    } rows[] = {{4, -160, true}, {4, -161, false}, {4, -159, true}, {4, 352, true}, {4, 353, false}, {4, 351, true},
                {3, -120, true}, {3, -121, false}, {3, -119, true}, {3, 264, true}, {3, 265, false}, {3, 263, true}};
    for (const Row &r : rows) {
        const VectorBounds bounds(64, 64, r.units); // MB (0, 0): whole pixels -40..88
        EXPECT_EQ(bounds.InRange(0, 0, {r.x, 0}), r.inRange) << r.x << " in units of 1/" << r.units;
        EXPECT_EQ(bounds.InRange(0, 0, {0, r.x}), r.inRange) << r.x << " in units of 1/" << r.units;
    }
    EXPECT_EQ(VectorBounds(64, 64, 3).Whole(-1), -1);
    EXPECT_EQ(VectorBounds(64, 64, 3).Whole(-3), -1);
    EXPECT_EQ(VectorBounds(64, 64, 3).Whole(-4), -2);
    EXPECT_EQ(VectorBounds(64, 64, 3).Whole(5), 1);
}

// Candidates coded into the picture in turn: the cheapest in distortion plus lambda times bits
// is kept, the picture restored between tries, and a copy no dearer than the best wins.
TEST(RdChooser, KeepsTheCheapestAndRestoresThePicture)
{
    Picture src, cur;
    src.Init(32, 32);
    cur.Init(32, 32);
    for (Plane &p : src.p)
        std::memset(p.buf.data(), 100, p.buf.size());
    for (Plane &p : cur.p)
        std::memset(p.buf.data(), 7, p.buf.size());
    auto fill = [&](int value) {
        for (Plane &p : cur.p)
            for (int y = 0; y < p.h / 2; ++y)
                std::memset(p.At(0, y), value, static_cast<std::size_t>(p.w / 2));
    };
    MbRecord exact, close;
    exact.type = kI16;
    close.type = kP16;
    RdChooser rd(cur, src, 0, 0, 10.0);
    fill(100); // no error, 100 bits: 1000
    rd.Try(exact, 100);
    EXPECT_EQ(cur.p[0].At(3, 3)[0], 7) << "restored after a try";
    fill(101); // 384 pixels one off, 10 bits: 484
    rd.Try(close, 10);
    fill(101); // the same as a copy of one bit: 394
    EXPECT_TRUE(rd.TakeCopy());
    fill(102); // 1536 + 10
    EXPECT_FALSE(rd.TakeCopy());
    EXPECT_EQ(rd.Finish().type, kP16);
    EXPECT_EQ(cur.p[0].At(15, 15)[0], 101);
    EXPECT_EQ(cur.p[2].At(7, 7)[0], 101);
}

// Bands run at once on one grid: a band that commits a macroblock of another would race with
// it, so the grid refuses.
TEST(MbGrid, ABandCommitsOnlyItsOwnRows)
{
    MbGrid grid(4, 4);
    MbGrid::Rows second = grid.Band(4, 8);
    MbRecord mb;
    mb.type = kP16;
    EXPECT_THROW(second.Commit(3, 0, mb, 10), std::logic_error);
    EXPECT_THROW(second.SetSliceStart(8, 8), std::logic_error);
    second.SetSliceStart(4, 4);
    second.Commit(3, 1, mb, 10);
    EXPECT_EQ(grid.Type(7), kP16);
}

// The analysis asks the policy: a forced kind is what every macroblock becomes.
TEST(DecisionPolicy, ForcedKindsReachEveryMacroblock)
{
    const int w = 96, h = 64;
    struct Row {
        MbKind kind;
        double intraShare;
    } rows[] = {{MbKind::Intra16x16, 1.0}, {MbKind::Intra4x4, 1.0}, {MbKind::Inter16x16, 0.0}, {MbKind::Copy, 0.0}};
    for (const Row &r : rows) {
        EncoderSettings s;
        s.width = w;
        s.height = h;
        Encoder enc(s, nullptr, std::make_unique<ForcedPolicy>(Choices{r.kind, 0}));
        PictureDecision d;
        d.quantiser = 10;
        enc.Encode(ViewOf(MakeFrame(Content::Pan, w, h, 0, 2)), d, 0);
        const YuvFrame before = CopyOf(enc.Reconstruction());
        d.type = PictureType::Inter;
        const EncodedPicture p = enc.Encode(ViewOf(MakeFrame(Content::Pan, w, h, 1, 2)), d, 40);
        EXPECT_EQ(p.intraShare, r.intraShare) << static_cast<int>(r.kind);
        // copies but the last MB: the first row shows the reference again, the panned one does not
        const YuvFrame after = CopyOf(enc.Reconstruction());
        const bool same = std::equal(before.plane[0].begin(), before.plane[0].begin() + 16 * w, after.plane[0].begin());
        EXPECT_EQ(same, r.kind == MbKind::Copy) << static_cast<int>(r.kind);
    }
}

// What differs between bitstreams reaches the slices only through the Bitstream: one with its
// own slice header gets it into every slice, first writes and rewrites alike, in every band.
class MarkedHeader final : public Rv40Bitstream {
public:
    void WriteSliceHeader(BitWriter &w, const SliceHeader &h) const override
    {
        w.Put(0xA5, 8);
        Rv40Bitstream::WriteSliceHeader(w, h);
    }
};

TEST(Bitstream, EverySliceCarriesItsHeader)
{
    const int w = 176, h = 144;
    Encoder enc({.width = w, .height = h, .maxSliceBytes = 300, .threads = 2}, std::make_unique<MarkedHeader>(), nullptr);
    std::size_t slices = 0;
    for (int n = 0; n < 3; ++n) {
        PictureDecision d;
        d.type = n ? PictureType::Inter : PictureType::Intra;
        d.quantiser = 8;
        const EncodedPicture p = enc.Encode(ViewOf(MakeFrame(Content::Mixed, w, h, n, 3)), d, 40u * n);
        for (const auto &slice : p.slices) {
            ASSERT_FALSE(slice.empty());
            EXPECT_EQ(slice[0], 0xA5) << "picture " << n;
            ++slices;
        }
    }
    EXPECT_GT(slices, 6u) << "small slices in two bands";
}

} // namespace
} // namespace corva::rv40::test

namespace corva::rv40::test {
namespace {

// The finer quantiser comes in runs worth a slice each: a short break in a still run stays in
// it, a long one gets a run of its own, and no more runs come than are allowed.
TEST(StillMapSegment, RunsAreWorthTheirSlices)
{
    auto wishes = [](std::initializer_list<std::pair<bool, int>> runs) {
        std::vector<bool> w;
        for (const auto &[still, count] : runs)
            w.insert(w.end(), static_cast<std::size_t>(count), still);
        return w;
    };
    auto runsOf = [](const std::vector<bool> &fine) {
        int runs = 0;
        for (std::size_t i = 0; i < fine.size(); ++i)
            runs += fine[i] && (i == 0 || !fine[i - 1]);
        return runs;
    };
    // a mover of 10 MBs inside still ones: not worth two switches of 30
    const auto shortBreak = StillMap::Segment(wishes({{true, 50}, {false, 10}, {true, 50}}), 30, 4);
    EXPECT_EQ(shortBreak, std::vector<bool>(110, true));
    // one of 100: the still parts keep their finer runs, the mover the picture's quantiser
    const std::vector<bool> longWish = wishes({{true, 50}, {false, 100}, {true, 50}});
    EXPECT_EQ(StillMap::Segment(longWish, 30, 4), longWish);
    // only one finer run allowed: the larger still part keeps its finer quantiser
    const std::vector<bool> one = StillMap::Segment(wishes({{true, 40}, {false, 100}, {true, 80}}), 30, 1);
    EXPECT_EQ(runsOf(one), 1);
    EXPECT_TRUE(std::all_of(one.begin() + 140, one.end(), [](bool fine) { return fine; }));
    // nothing still: nothing finer
    EXPECT_EQ(StillMap::Segment(std::vector<bool>(60, false), 30, 4), std::vector<bool>(60, false));
}

// A macroblock counts the references it stood still through; a change starts it again, and a
// repeated picture (a film faster than its source) counts for nothing.
TEST(StillMapObserve, CountsStillReferencesAndIgnoresRepeats)
{
    const int mbw = 3, mbh = 2;
    Picture p;
    p.Init(mbw * 16, mbh * 16);
    Paint(p.p[0], 0.0);
    StillMap map(mbw, mbh);
    EXPECT_TRUE(map.Observe(p, nullptr));
    Picture last = p;
    EXPECT_EQ(map.Runs(), std::vector<std::uint16_t>(6, 0));
    EXPECT_FALSE(map.Observe(p, &last)); // the same picture again
    EXPECT_EQ(map.Runs(), std::vector<std::uint16_t>(6, 0));
    // MB (1,0) changes a lot, MB (2,1) by noise below the threshold
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            std::uint8_t &moved = *p.p[0].At(16 + x, y);
            moved = static_cast<std::uint8_t>(255 - moved);
            std::uint8_t &noisy = *p.p[0].At(32 + x, 16 + y);
            noisy = static_cast<std::uint8_t>(std::clamp(noisy + ((x + y) % 2 ? 1 : -1), 0, 255));
        }
    EXPECT_TRUE(map.Observe(p, &last));
    EXPECT_EQ(map.Runs(), (std::vector<std::uint16_t>{1, 0, 1, 1, 1, 1}));
    last = p;
    *p.p[0].At(0, 0) ^= 1; // a change of one level anywhere is a new picture
    EXPECT_TRUE(map.Observe(p, &last));
    EXPECT_EQ(map.Runs(), (std::vector<std::uint16_t>{2, 1, 2, 2, 2, 2}));
    // finer where still for two references or more, in one run here (the one MB that stood
    // still for one reference is not worth two switches)
    EXPECT_EQ(map.Offsets(-6, 4), std::vector<std::int8_t>(6, -6));
    EXPECT_EQ(map.Offsets(0, 4), std::vector<std::int8_t>(6, 0));
}

// The lambda scale where a still reference's error lasts: lower where the reference shows a still
// macroblock far worse than its source changed since, and nowhere else (a moving macroblock, one
// whose source changed as much, one shown well); faded out over the steps before the coarsest.
TEST(LastingErrorScales, OnlyWhereAStillReferencesErrorLasts)
{
    const int mbw = 4, mbh = 1;
    Picture src, ref, refSrc;
    for (Picture *p : {&src, &ref, &refSrc}) {
        p->Init(mbw * 16, mbh * 16);
        Paint(p->p[0], 0.0);
    }
    auto shift = [](Picture &p, int mb, int by) {
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                std::uint8_t &v = *p.p[0].At(16 * mb + x, y);
                v = static_cast<std::uint8_t>(std::clamp(v + by, 0, 255));
            }
    };
    shift(ref, 0, 12);    // MB 0: shown 12 levels off, the source unchanged
    shift(ref, 2, 12);    // MB 2: as far off, but its source changed as much since
    shift(refSrc, 2, 12);
    shift(ref, 3, 12);    // MB 3: as far off, but it moves (not in a still run)
    const std::vector<std::int8_t> still{-6, -6, -6, 0};
    std::vector<float> scales;
    ASSERT_TRUE(LastingError::Scales(src, ref, refSrc, still, mbw, mbh, 20, scales));
    ASSERT_EQ(scales.size(), 4u);
    EXPECT_LT(scales[0], 0.5f);
    EXPECT_EQ(scales[1], 1.0f);
    EXPECT_EQ(scales[2], 1.0f);
    EXPECT_EQ(scales[3], 1.0f);
    // a camera's noise is no error that lasts
    Picture noisy = src;
    shift(noisy, 0, 1);
    EXPECT_FALSE(LastingError::Scales(src, noisy, src, still, mbw, mbh, 20, scales));
    // faded towards the coarsest quantiser, none at it
    ASSERT_TRUE(LastingError::Scales(src, ref, refSrc, still, mbw, mbh, 29, scales));
    EXPECT_GT(scales[0], 0.5f);
    EXPECT_LT(scales[0], 1.0f);
    EXPECT_FALSE(LastingError::Scales(src, ref, refSrc, still, mbw, mbh, 31, scales));
    EXPECT_EQ(scales[0], 1.0f);
}

} // namespace
} // namespace corva::rv40::test

namespace corva::rv40::test {
namespace {

// Inter levels settled by rate and distortion: no worse in all (error plus lambda times bits, the
// pattern bit included) than the nearest levels they start from and hardly ever in one block,
// mostly better than the dead zone's, and a block whose residual is large is never left out.
TEST(ResidualCoderRd, LevelsCostNoMoreThanRounding)
{
    Picture src;
    src.Init(16, 16);
    std::uint32_t seed = 2026;
    auto random = [&seed](int n) {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<int>((seed >> 8) % static_cast<std::uint32_t>(n));
    };
    const Rv40Bitstream bitstream;
    for (const int q : {4, 12, 20, 28}) {
        SCOPED_TRACE("quantiser " + std::to_string(q));
        const QuantSet qs = QuantSet::For(q, bitstream.LumaDcQuantiser(q));
        const ResidualCoder coder(src, qs, LevelLimit{});
        int steps[16];
        coder.LumaSteps(steps);
        int beatsDeadZone = 0, trials = 300;
        double rdTotal = 0, nearestTotal = 0;
        for (int t = 0; t < trials; ++t) {
            const int amplitude = 2 + random(60);
            std::uint8_t pred[16];
            for (int i = 0; i < 16; ++i) {
                std::uint8_t &s = *src.p[0].At(i & 3, i >> 2);
                s = static_cast<std::uint8_t>(40 + random(176));
                pred[i] = static_cast<std::uint8_t>(std::clamp(s + random(2 * amplitude + 1) - amplitude, 0, 255));
            }
            const std::uint8_t *s = src.p[0].At(0, 0);
            const std::ptrdiff_t ss = src.p[0].stride;
            auto cost = [&](double round, bool rd, std::int16_t lv[16]) {
                std::uint8_t d[16];
                std::memcpy(d, pred, 16);
                const bool coded = coder.CodeBlock(s, ss, d, 4, steps, round, lv, rd, false);
                const double bits = coded ? static_cast<double>(CoefficientWriter(qs).InterBlockBits(lv, false) + 1) : 0;
                return static_cast<double>(dsp::Sse(s, ss, d, 4, 4, 4)) + qs.lambdaSse * bits;
            };
            std::int16_t rd[16], nearest[16], deadZone[16];
            const double rdCost = cost(0.5, true, rd), nearestCost = cost(0.5, false, nearest);
            // the levels' error is weighed on the coefficients, which the decoder's integer
            // transform rounds: a little over the nearest at the finest steps at most
            EXPECT_LE(rdCost, nearestCost * 1.05 + 1e-6);
            rdTotal += rdCost;
            nearestTotal += nearestCost;
            beatsDeadZone += rdCost <= cost(1.0 / 6, false, deadZone) + 1e-6;
            if (amplitude >= 40 && q <= 12) {
                EXPECT_TRUE(std::any_of(rd, rd + 16, [](std::int16_t l) { return l != 0; })) << "amplitude " << amplitude;
            }
        }
        EXPECT_GE(beatsDeadZone, trials * 9 / 10);
        EXPECT_LT(rdTotal, nearestTotal);
    }
}

} // namespace
} // namespace corva::rv40::test

namespace corva::rv40::test {
namespace {

// A level coming down by one is counted from its group's codes and its own bits alone, as the
// levels' trim does for every level it tries: always what counting the whole block gives, level
// after level down to none, at every place, up to levels that escape far, on every code set.
TEST(CoefficientWriter, ALevelComingDownCountsAsTheWholeBlock)
{
    std::uint32_t seed = 7;
    auto random = [&seed](int n) {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<int>((seed >> 8) % static_cast<std::uint32_t>(n));
    };
    const Rv40Bitstream bitstream;
    int trials = 0;
    for (int q = 0; q < 32; ++q) {
        const QuantSet qs = QuantSet::For(q, bitstream.LumaDcQuantiser(q));
        const CoefficientWriter writer(qs);
        for (int block = 0; block < 60; ++block)
            for (const bool chroma : {false, true}) {
                std::int16_t lv[16];
                for (auto &l : lv) {
                    const int kind = random(4); // none, small, beyond the escape, far beyond
                    const int m = kind == 0 ? 0 : (kind == 1 ? 1 + random(3) : (kind == 2 ? 3 + random(30) : 30 + random(500)));
                    l = static_cast<std::int16_t>(random(2) ? m : -m);
                }
                CoefficientWriter::InterCount count = writer.CountInter(lv, chroma);
                ASSERT_EQ(count.bits, writer.InterBlockBits(lv, chroma));
                for (int step = 0; step < 200; ++step) {
                    const int i = random(16);
                    const int m = std::abs(lv[i]);
                    if (!m)
                        continue;
                    const CoefficientWriter::InterCount less = writer.LessInter(count, i, m, chroma);
                    lv[i] = static_cast<std::int16_t>(lv[i] > 0 ? lv[i] - 1 : lv[i] + 1);
                    const CoefficientWriter::InterCount whole = writer.CountInter(lv, chroma);
                    ASSERT_EQ(less.bits, whole.bits) << "q " << q << " place " << i << " from " << m;
                    ASSERT_TRUE(std::equal(less.codes, less.codes + 4, whole.codes)) << "q " << q << " place " << i;
                    count = less;
                    ++trials;
                    // a large level is also brought down at once, so that the small ones it
                    // passes through are tried too
                    if (m > 40 && random(2)) {
                        lv[i] = static_cast<std::int16_t>(lv[i] > 0 ? 1 + random(8) : -1 - random(8));
                        count = writer.CountInter(lv, chroma);
                    }
                }
            }
    }
    EXPECT_GT(trials, 100000);
}

} // namespace
} // namespace corva::rv40::test
