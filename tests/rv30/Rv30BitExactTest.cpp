// Encodes small synthetic films as RealVideo 8 (RV30) and decodes them with FFmpeg's RV30
// decoder: every decoded picture must equal the encoder's own reconstruction byte for byte, with
// no decoder message. Films with B-pictures are coded in decoding order.
#include "BitExactRun.h"
#include "ForcedPolicy.h"
#include "Rv40TestDecoder.h"
#include "TestPictures.h"

#include "rv30/Rv30Bitstream.h"
#include "rv30/ThirdPelMc.h"
#include "rv40/Dsp.h"
#include "rv40/Encoder.h"
#include "rv40/MbGrid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace corva::rv30 {
namespace {

using rv40::Effort;
using rv40::MbKind;
using namespace rv40::test;

// What a film wrote: MB types per picture kind, vector phases, intra modes. The cases below
// claim to reach these; the tally shows they did.
struct Tally {
    std::set<int> pTypes, bTypes;
    std::set<int> phases; // 3 * (x mod 3) + (y mod 3) of every vector written
    std::set<int> modes4, modes16;
    std::set<int> modeContexts; // 10 * (above + 1) + (left + 1) of every 4x4 block written
};

class TallyingBitstream final : public Rv30Bitstream {
public:
    explicit TallyingBitstream(std::shared_ptr<Tally> t) : m_tally(std::move(t)) {}
    void WriteMb(rv40::BitWriter &w, const rv40::MbSite &at, const rv40::MbRecord &mb, int &run) const override
    {
        Tally &t = *m_tally;
        if (at.kind == rv40::SliceKind::Inter)
            t.pTypes.insert(mb.type);
        else if (at.kind == rv40::SliceKind::Bidirectional)
            t.bTypes.insert(mb.type);
        auto phase = [&](const rv40::MotionVector &v) {
            int whole = 0, fx = 0, fy = 0;
            ThirdPelMc::Split(v.x, whole, fx);
            ThirdPelMc::Split(v.y, whole, fy);
            t.phases.insert(3 * fx + fy);
        };
        if (mb.type == rv40::kP16 || mb.type == rv40::kBFwd)
            phase(mb.mv);
        if (mb.type == rv40::kBBwd)
            phase(mb.mvB);
        if (mb.type == rv40::kP8)
            for (const auto &v : mb.mv8)
                phase(v);
        if (mb.type == rv40::kI16)
            t.modes16.insert(mb.i16Mode);
        if (mb.type == rv40::kI4)
            for (int b = 0; b < 16; ++b) {
                t.modes4.insert(mb.modes[b]);
                const int i = b & 3, j = b >> 2;
                const int above = at.grid.ModeCtx(at.mbx, at.mby, at.av, mb.modes, i, j - 1);
                const int left = at.grid.ModeCtx(at.mbx, at.mby, at.av, mb.modes, i - 1, j);
                t.modeContexts.insert(10 * (above + 1) + (left + 1));
            }
        Rv30Bitstream::WriteMb(w, at, mb, run);
    }

private:
    std::shared_ptr<Tally> m_tally;
};

Scenario Rv30(Scenario s)
{
    if (!s.bitstream)
        s.bitstream = [] { return std::make_unique<Rv30Bitstream>(); };
    return s;
}

// RealVideo 8 slices carry their own quantiser too: the last reference of a film whose rows
// stand still but for a panning stripe codes the still rows finer.
TEST(Rv30BitExactCheck, StillRowsTakeAFinerQuantiser)
{
    const Scenario s = Rv30(Scenario{"StillStripe", 352, 144, 7, Content::StillStripe, Effort::Brisk,
                                     [](int) { return 14; }, 0});
    const RunResult r = EncodeAndDecode(s);
    EXPECT_EQ(r.mismatches, 0) << "first mismatch: " << r.firstMismatch;
    std::vector<int> qs;
    for (const auto &slice : r.pictures.back().slices) {
        const int q = ((slice.at(0) & 3) << 3) | (slice.at(1) >> 5);
        if (qs.empty() || qs.back() != q)
            qs.push_back(q);
    }
    EXPECT_EQ(qs, std::vector<int>({8, 14, 8}));
}

class Rv30BitExact : public ::testing::TestWithParam<Scenario> {};

TEST_P(Rv30BitExact, DecoderShowsTheReconstruction)
{
    const RunResult r = EncodeAndDecode(Rv30(GetParam()));
    EXPECT_EQ(r.mismatches, 0) << "first mismatch: " << r.firstMismatch;
}

INSTANTIATE_TEST_SUITE_P(
    Films, Rv30BitExact,
    ::testing::Values(
        // every quantiser, so every loop filter limit (none up to 10, then 1..5), in I and P
        Scenario{"IntraEveryQuantiser", 96, 64, 32, Content::Mixed, Effort::Quick, Sweep, 1},
        Scenario{"MotionEveryQuantiser", 96, 64, 64, Content::Mixed, Effort::Quick, Scrambled, 32},
        Scenario{"MotionSmallSlices", 176, 144, 30, Content::Mixed, Effort::Quick, Scrambled, 15, 150},
        Scenario{"ThoroughMotionSmallSlices", 176, 144, 20, Content::Mixed, Effort::Thorough, Scrambled, 0, 150},
        Scenario{"BriskMotionSmallSlices", 176, 144, 20, Content::Mixed, Effort::Brisk, Scrambled, 0, 150},
        // still rows coded finer than a panning stripe, in slices of their own quantiser
        Scenario{"BriskStillStripe", 352, 144, 10, Content::StillStripe, Effort::Brisk, [](int) { return 14; }, 0, 30000,
                 {}, 1, 2},
        Scenario{"QuickestPan", 96, 64, 30, Content::Pan, Effort::Quickest, Scrambled, 0},
        Scenario{"SceneCut", 96, 64, 20, Content::Cut, Effort::Quick, [](int) { return 14; }, 0},
        Scenario{"OddSize100x60", 100, 60, 20, Content::Pan, Effort::Quick, Scrambled, 0},
        Scenario{"OddSize36x20", 36, 20, 20, Content::Pan, Effort::Quick, Scrambled, 0},
        Scenario{"Smallest16x16", 16, 16, 12, Content::Noise, Effort::Quick, Scrambled, 0},
        Scenario{"OnePicture", 176, 144, 1, Content::Pan, Effort::Quick, [](int) { return 16; }, 0},
        Scenario{"Size320x240", 320, 240, 3, Content::Pan, Effort::Quickest, [](int) { return 20; }, 0},
        Scenario{"NoiseLowQuantiser", 64, 48, 8, Content::Noise, Effort::Quick, [](int n) { return n % 3; }, 0},
        Scenario{"SmallSlices", 176, 144, 10, Content::Pan, Effort::Quick, [](int n) { return 11 + n; }, 0, 400},
        Scenario{"ForcedIntra4x4", 96, 64, 8, Content::Pan, Effort::Quick, Scrambled, 0, 30000, Force(MbKind::Intra4x4)},
        Scenario{"ForcedIntra4x4Slices", 96, 64, 6, Content::Noise, Effort::Quick, [](int) { return 20; }, 0, 120,
                 Force(MbKind::Intra4x4)},
        Scenario{"ForcedIntra16x16", 96, 64, 8, Content::Pan, Effort::Quick, Scrambled, 0, 30000,
                 Force(MbKind::Intra16x16)},
        Scenario{"ForcedInter16x16", 96, 64, 8, Content::Pan, Effort::Quick, Scrambled, 0, 30000,
                 Force(MbKind::Inter16x16)},
        Scenario{"ForcedInter8x8", 96, 64, 8, Content::Pan, Effort::Quick, Scrambled, 0, 30000, Force(MbKind::Inter8x8)},
        Scenario{"ForcedInter8x8Slices", 96, 64, 8, Content::Noise, Effort::Thorough, Scrambled, 0, 300,
                 Force(MbKind::Inter8x8, 4242)},
        Scenario{"ForcedSkip", 96, 64, 8, Content::Pan, Effort::Quick, Scrambled, 0, 30000, Force(MbKind::Copy)},
        Scenario{"RandomModesAndVectors", 96, 64, 48, Content::Mixed, Effort::Quick, Sweep, 16, 30000,
                 Force(MbKind::ByCost, 12345)},
        Scenario{"RandomModesSlices", 96, 64, 24, Content::Noise, Effort::Quick, Scrambled, 0, 200,
                 Force(MbKind::ByCost, 777)},
        Scenario{"TwoBandsMotion", 176, 144, 20, Content::Mixed, Effort::Quick, Scrambled, 10, 30000, {}, 2},
        // B-pictures: one, two and three between references; every B type forced, then random
        // types and vectors, slices, bands
        Scenario{"IbpPan", 96, 64, 15, Content::Pan, Effort::Quick, Scrambled, 0, 30000, {}, 1, 1},
        Scenario{"IbbpMotion", 96, 64, 25, Content::Mixed, Effort::Quick, Scrambled, 12, 30000, {}, 1, 2},
        Scenario{"IbbbpPan", 96, 64, 17, Content::Pan, Effort::Quick, Scrambled, 0, 30000, {}, 1, 3},
        Scenario{"IbbpQuickestPan", 96, 64, 16, Content::Pan, Effort::Quickest, Scrambled, 0, 30000, {}, 1, 2},
        // rv8's effort: B copies taken before anything is coded, the rest settled by rate
        Scenario{"IbbpBriskMotion", 96, 64, 25, Content::Mixed, Effort::Brisk, Scrambled, 12, 30000, {}, 1, 2},
        Scenario{"IbbpBriskPanTwoBands", 176, 144, 16, Content::Pan, Effort::Brisk, Scrambled, 0, 30000, {}, 2, 2},
        Scenario{"IbbpThoroughSmallSlices", 176, 144, 10, Content::Mixed, Effort::Thorough, Scrambled, 0, 200, {}, 1, 2},
        Scenario{"IbbpForcedDirect", 96, 64, 10, Content::Pan, Effort::Quick, Scrambled, 0, 30000, Force(MbKind::Direct),
                 1, 2},
        Scenario{"IbbpForcedSkip", 96, 64, 10, Content::Pan, Effort::Quick, Scrambled, 0, 30000, Force(MbKind::Copy), 1, 2},
        Scenario{"IbbpForcedForward", 96, 64, 10, Content::Pan, Effort::Quick, Scrambled, 0, 30000,
                 Force(MbKind::Inter16x16), 1, 2},
        Scenario{"IbbpForcedBackward", 96, 64, 10, Content::Pan, Effort::Quick, Scrambled, 0, 30000,
                 Force(MbKind::Backward), 1, 2},
        Scenario{"IbbpForcedIntra4x4", 96, 64, 7, Content::Pan, Effort::Quick, Scrambled, 0, 30000,
                 Force(MbKind::Intra4x4), 1, 2},
        Scenario{"IbbpForcedDirectAfter8x8", 96, 64, 10, Content::Noise, Effort::Quick, Scrambled, 0, 30000,
                 Force(MbKind::Inter8x8, 31), 1, 2},
        Scenario{"IbbpRandomTypesAndVectors", 96, 64, 25, Content::Mixed, Effort::Quick, Sweep, 9, 30000,
                 Force(MbKind::ByCost, 4711), 1, 2},
        Scenario{"IbbbpRandomSlices", 96, 64, 17, Content::Noise, Effort::Quick, Scrambled, 0, 200,
                 Force(MbKind::ByCost, 99), 1, 3},
        Scenario{"IbbpTwoBandsSmallSlices", 176, 144, 10, Content::Pan, Effort::Thorough, Scrambled, 0, 150, {}, 2, 2},
        Scenario{"RepeatsIbpSmallSlices", 96, 64, 21, Content::Pan, Effort::Quick, Scrambled, 0, 200, {}, 3, 1, 4},
        Scenario{"BoundedNoise", 176, 144, 8, Content::Noise, Effort::Quick, [](int) { return 2; }, 4, 30000, {}, 2, 1,
                 0, 1500},
        Scenario{"BoundedGradientKeyframes", 176, 144, 6, Content::Gradient, Effort::Quick, [](int) { return 31; }, 1,
                 30000, {}, 1, 0, 0, 300},
        Scenario{"BoundedPanKeyframes", 176, 144, 4, Content::Pan, Effort::Quick, [](int) { return 31; }, 1, 30000, {},
                 1, 0, 0, 1000}),
    [](const ::testing::TestParamInfo<Scenario> &i) { return i.param.name; });

// Real-looking pictures from FFmpeg's test sources (text, colour bars, sharp moving edges), coded
// IBBP as the engine codes rv8: both FFmpeg's installed decoder (with this processor's SIMD
// functions) and its portable C one must show them exactly.
TEST(Rv30BitExactCheck, TestSourcesThroughSimdAndPortableDecoders)
{
    const int w = 176, h = 144, frames = 20;
    for (const char *source : {"testsrc2", "smptehdbars"}) {
        const std::string cmd = std::string("ffmpeg -v error -f lavfi -i ") + source + "=size=176x144:rate=25 -frames:v " +
                                std::to_string(frames) + " -pix_fmt yuv420p -f rawvideo -";
        std::vector<YuvFrame> src;
        FILE *pipe = popen(cmd.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        for (int n = 0; n < frames; ++n) {
            YuvFrame f;
            f.width = w;
            f.height = h;
            bool ok = true;
            for (int c = 0; c < 3; ++c) {
                f.plane[c].resize(static_cast<std::size_t>(c ? w * h / 4 : w * h));
                ok = ok && std::fread(f.plane[c].data(), 1, f.plane[c].size(), pipe) == f.plane[c].size();
            }
            if (!ok)
                break;
            src.push_back(std::move(f));
        }
        pclose(pipe);
        ASSERT_EQ(src.size(), static_cast<std::size_t>(frames)) << "ffmpeg could not make " << source;
        rv40::EncoderSettings settings;
        settings.width = w;
        settings.height = h;
        settings.effort = Effort::Quickest;
        settings.threads = 2;
        rv40::Encoder enc(settings, std::make_unique<Rv30Bitstream>(), nullptr);
        const Rv30Bitstream format;
        Rv40TestDecoder simd(w, h, Rv40TestDecoder::Arithmetic::Installed, &format);
        Rv40TestDecoder portable(w, h, Rv40TestDecoder::Arithmetic::PortableC, &format);
        Rv40TestDecoder::TakeErrors();
        std::vector<YuvFrame> recon(static_cast<std::size_t>(frames));
        int lastReference = -1;
        for (const int n : CodingOrder(frames, 2)) {
            rv40::PictureDecision d;
            d.type = n < lastReference ? rv40::PictureType::Bidirectional
                                       : (n % 10 ? rv40::PictureType::Inter : rv40::PictureType::Intra);
            lastReference = std::max(lastReference, n);
            d.quantiser = 18;
            const rv40::EncodedPicture p =
                enc.Encode(ViewOf(src[static_cast<std::size_t>(n)]), d, static_cast<std::uint32_t>(n * 40));
            recon[static_cast<std::size_t>(n)] = CopyOf(enc.Reconstruction());
            ASSERT_TRUE(simd.Send(p, n));
            ASSERT_TRUE(portable.Send(p, n));
        }
        ASSERT_TRUE(simd.Flush());
        ASSERT_TRUE(portable.Flush());
        for (const auto &e : Rv40TestDecoder::TakeErrors())
            ADD_FAILURE() << source << " decoder: " << e;
        for (Rv40TestDecoder *dec : {&simd, &portable}) {
            ASSERT_EQ(dec->Frames().size(), recon.size());
            for (std::size_t n = 0; n < recon.size(); ++n) {
                const FirstDifference diff = Compare(dec->Frames()[n], recon[n]);
                EXPECT_LT(diff.plane, 0) << source << (dec == &simd ? " SIMD" : " portable C") << " picture " << n
                                         << " plane " << diff.plane << " at (" << diff.x << "," << diff.y << ")";
            }
        }
    }
}

// The random films above must reach what they are there for: in P-pictures every vector phase
// in both components (thirds), 16x16 and 8x8 blocks, intra and copies; in B-pictures every type
// RV30 has and none it lacks; all nine 4x4 modes, in contexts without a neighbour too, and all
// four 16x16 modes.
TEST(Rv30Coverage, RandomFilmsReachEveryPhaseTypeAndMode)
{
    auto tally = std::make_shared<Tally>();
    for (Scenario s : {Scenario{"P", 96, 64, 48, Content::Mixed, Effort::Quick, Sweep, 16, 30000,
                                Force(MbKind::ByCost, 12345)},
                       Scenario{"B", 96, 64, 25, Content::Mixed, Effort::Quick, Sweep, 9, 30000,
                                Force(MbKind::ByCost, 4711), 1, 2},
                       Scenario{"Copies", 96, 64, 4, Content::Pan, Effort::Quick, Sweep, 0, 30000, Force(MbKind::Copy)}}) {
        s.bitstream = [=] { return std::make_unique<TallyingBitstream>(tally); };
        const RunResult r = EncodeAndDecode(s);
        EXPECT_EQ(r.mismatches, 0) << s.name << ": " << r.firstMismatch;
    }
    EXPECT_EQ(tally->phases.size(), 9u);
    EXPECT_EQ(tally->pTypes, (std::set<int>{rv40::kI4, rv40::kI16, rv40::kP16, rv40::kP8, rv40::kSkip}));
    EXPECT_EQ(tally->bTypes,
              (std::set<int>{rv40::kI4, rv40::kI16, rv40::kBFwd, rv40::kBBwd, rv40::kBDirect, rv40::kSkip}));
    EXPECT_EQ(tally->modes4.size(), 9u);
    EXPECT_EQ(tally->modes16.size(), 4u);
    // no neighbour at all, none above (left DC and left horizontal), none to the left (above DC
    // and above vertical), and every one of the 81 full contexts
    for (const int ctx : {0, 1, 3, 10, 20})
        EXPECT_TRUE(tally->modeContexts.count(ctx)) << "context " << ctx;
    int full = 0;
    for (const int ctx : tally->modeContexts)
        full += ctx / 10 >= 1 && ctx % 10 >= 1;
    EXPECT_EQ(full, 81);
}

// The checks above must be able to fail: each of these faults decodes without a message but
// shows as differing bytes.
class SmoothTwoThirds final : public Rv30Bitstream {
public:
    // (2/3, 2/3) through the 4-tap filter instead of its own 3x3 kernel
    void LumaMc(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *ref, std::ptrdiff_t stride,
                const rv40::MotionVector &v, int w, int h) const override
    {
        int ix = 0, fx = 0, iy = 0, fy = 0;
        ThirdPelMc::Split(v.x, ix, fx);
        ThirdPelMc::Split(v.y, iy, fy);
        if (fx != 2 || fy != 2) {
            Rv30Bitstream::LumaMc(dst, ds, ref, stride, v, w, h);
            return;
        }
        static constexpr int t[4] = {-1, 6, 12, -1};
        const std::uint8_t *src = ref + iy * stride + ix;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                int sum = 128;
                for (int j = 0; j < 4; ++j)
                    for (int i = 0; i < 4; ++i)
                        sum += t[j] * t[i] * src[(y + j - 1) * stride + x + i - 1];
                dst[y * ds + x] = rv40::dsp::Clip8(sum >> 8);
            }
    }
};

class FloorChroma final : public Rv30Bitstream {
public:
    // the chroma vector halved rounding down instead of toward zero
    void ChromaMc(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *ref, std::ptrdiff_t stride,
                  const rv40::MotionVector &v, int w, int h) const override
    {
        Rv30Bitstream::ChromaMc(dst, ds, ref, stride, {(v.x >> 1) * 2, (v.y >> 1) * 2}, w, h);
    }
};

class NoLoopFilter final : public Rv30Bitstream {
public:
    void Filter(std::uint8_t *const[3], const std::ptrdiff_t[3], int, int, const rv40::FilterMb *, bool,
                bool) const override
    {
    }
};

class OneSidedVectorEdges final : public Rv30Bitstream {
public:
    // RV40's marking: only the blocks on the near side of an 8x8 edge whose vectors differ
    void Filter(std::uint8_t *const planes[3], const std::ptrdiff_t strides[3], int mbWidth, int mbHeight,
                const rv40::FilterMb *mbs, bool intraPicture, bool smallPicture) const override
    {
        std::vector<rv40::FilterMb> own(mbs, mbs + mbWidth * mbHeight);
        for (rv40::FilterMb &f : own) {
            f.cbpLuma = static_cast<std::uint16_t>(f.cbpLuma | f.mvMask);
            f.mvLeft = f.mvTop = 0;
        }
        Rv30Bitstream::Filter(planes, strides, mbWidth, mbHeight, own.data(), intraPicture, smallPicture);
    }
};

TEST(Rv30BitExactCheck, CatchesWrongInterpolationAndFilter)
{
    struct Fault {
        const char *name;
        std::function<std::unique_ptr<rv40::Bitstream>()> make;
        int q;
    };
    const Fault faults[] = {
        {"two thirds both ways through the 4-tap filter", [] { return std::make_unique<SmoothTwoThirds>(); }, 4},
        {"chroma vector halved downward", [] { return std::make_unique<FloorChroma>(); }, 4},
        {"no loop filter at quantiser 20", [] { return std::make_unique<NoLoopFilter>(); }, 20},
        {"vector edges marked on one side only", [] { return std::make_unique<OneSidedVectorEdges>(); }, 24},
    };
    for (const Fault &f : faults) {
        // random vectors: every phase, negative odd components, differing 8x8 vectors
        Scenario s{"Mutated", 96, 64, 10, Content::Pan, Effort::Quick, [q = f.q](int) { return q; }, 0, 30000,
                   Force(MbKind::ByCost, 99)};
        s.bitstream = f.make;
        const RunResult r = EncodeAndDecode(s);
        EXPECT_GT(r.mismatches, 0) << f.name;
    }
}

// A quantiser of 10 or less leaves every edge alone: a film there is the same with the loop
// filter taken out, so a missing filter can only show above it (the fault above).
TEST(Rv30BitExactCheck, NoFilterUpToQuantiserTen)
{
    Scenario s{"Unfiltered", 96, 64, 8, Content::Mixed, Effort::Quick, [](int n) { return n % 11; }, 4};
    s.bitstream = [] { return std::make_unique<NoLoopFilter>(); };
    const RunResult r = EncodeAndDecode(s);
    EXPECT_EQ(r.mismatches, 0) << r.firstMismatch;
}

} // namespace
} // namespace corva::rv30
