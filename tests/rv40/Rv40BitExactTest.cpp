// Encodes small synthetic films and decodes them with FFmpeg's RV40 decoder: every decoded
// picture must equal the encoder's own reconstruction byte for byte, with no decoder error.
// Films with B-pictures are coded in decoding order (each reference before the B-pictures shown
// ahead of it) and come back from the decoder in display order.
// Any fault in prediction, coding or filtering shows up as a differing byte (and later
// pictures drift from it), which PSNR alone would hide.
#include "BitExactRun.h"
#include "ForcedPolicy.h"
#include "Rv40TestDecoder.h"
#include "TestPictures.h"

#include "rv40/Encoder.h"
#include "rv40/Rv40Bitstream.h"
#include "rv40/SliceWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace corva::rv40::test {
namespace {

using Kind = MbKind;

class Rv40BitExact : public ::testing::TestWithParam<Scenario> {};

TEST_P(Rv40BitExact, DecoderShowsTheReconstruction)
{
    const RunResult r = EncodeAndDecode(GetParam());
    EXPECT_EQ(r.mismatches, 0) << "first mismatch: " << r.firstMismatch;
    // a bound far below what the quantiser gives must have been used
    if (GetParam().maxBytes) {
        EXPECT_GT(r.bounded, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Films, Rv40BitExact,
    ::testing::Values(
        Scenario{"IntraEveryQuantiser", 96, 64, 32, Content::Mixed, Effort::Quick, Sweep, 1},
        Scenario{"MotionThreeHundredPictures", 96, 64, 300, Content::Mixed, Effort::Quick, Scrambled, 60},
        Scenario{"MotionSmallSlices", 176, 144, 60, Content::Mixed, Effort::Quick, Scrambled, 30, 150},
        Scenario{"ThoroughMotionSmallSlices", 176, 144, 60, Content::Mixed, Effort::Thorough, Scrambled, 30, 150},
        Scenario{"QuickestPan", 96, 64, 40, Content::Pan, Effort::Quickest, Scrambled, 0},
        Scenario{"ThoroughPan", 96, 64, 40, Content::Pan, Effort::Thorough, Scrambled, 0},
        Scenario{"SceneCut", 96, 64, 30, Content::Cut, Effort::Quick, [](int) { return 12; }, 0},
        Scenario{"OddSize100x60", 100, 60, 30, Content::Pan, Effort::Quick, Scrambled, 0},
        Scenario{"OddSize36x20", 36, 20, 30, Content::Pan, Effort::Quick, Scrambled, 0},
        Scenario{"Smallest16x16", 16, 16, 12, Content::Noise, Effort::Quick, Scrambled, 0},
        Scenario{"OnePicture", 176, 144, 1, Content::Pan, Effort::Quick, [](int) { return 10; }, 0},
        Scenario{"StandardSizes320x240", 320, 240, 3, Content::Pan, Effort::Quickest, [](int) { return 20; }, 0},
        Scenario{"Height180", 176, 180, 3, Content::Gradient, Effort::Quickest, [](int) { return 20; }, 0},
        Scenario{"Size160x120", 160, 120, 2, Content::Pan, Effort::Quickest, [](int) { return 16; }, 0},
        Scenario{"Size172x132", 172, 132, 2, Content::Pan, Effort::Quickest, [](int) { return 16; }, 0},
        Scenario{"Size240x144", 240, 144, 2, Content::Pan, Effort::Quickest, [](int) { return 16; }, 0},
        Scenario{"Size352x288", 352, 288, 2, Content::Pan, Effort::Quickest, [](int) { return 16; }, 0},
        Scenario{"Size640x480", 640, 480, 2, Content::Pan, Effort::Quickest, [](int) { return 26; }, 0},
        Scenario{"Size704x576", 704, 576, 2, Content::Pan, Effort::Quickest, [](int) { return 26; }, 0},
        Scenario{"Size320x360", 320, 360, 2, Content::Pan, Effort::Quickest, [](int) { return 26; }, 0},
        Scenario{"Size1024x16", 1024, 16, 3, Content::Pan, Effort::Quick, [](int) { return 9; }, 0},
        Scenario{"Black", 64, 48, 6, Content::Black, Effort::Quick, Scrambled, 0},
        Scenario{"Flat", 64, 48, 6, Content::Flat, Effort::Quick, Scrambled, 0},
        Scenario{"IntraAfterSkippedPictures", 64, 48, 12, Content::Flat, Effort::Quick, [](int) { return 26; }, 4},
        Scenario{"NoiseLowQuantiser", 64, 48, 8, Content::Noise, Effort::Quick, [](int n) { return n % 3; }, 0},
        Scenario{"LargestPicture", 2048, 1152, 1, Content::Gradient, Effort::Quickest, [](int) { return 24; }, 0},
        Scenario{"SmallSlices", 176, 144, 12, Content::Pan, Effort::Quick, [](int n) { return 4 + n; }, 0, 400},
        Scenario{"ForcedIntra4x4", 96, 64, 8, Content::Pan, Effort::Quick, Scrambled, 0, 30000, Force(Kind::Intra4x4)},
        Scenario{"ForcedIntra16x16", 96, 64, 8, Content::Pan, Effort::Quick, Scrambled, 0, 30000,
                 Force(Kind::Intra16x16)},
        Scenario{"ForcedInter16x16", 96, 64, 8, Content::Pan, Effort::Quick, Scrambled, 0, 30000,
                 Force(Kind::Inter16x16)},
        Scenario{"ForcedInter8x8", 96, 64, 8, Content::Pan, Effort::Quick, Scrambled, 0, 30000,
                 Force(Kind::Inter8x8)},
        Scenario{"ForcedInter8x8Slices", 96, 64, 8, Content::Noise, Effort::Thorough, Scrambled, 0, 300,
                 Force(Kind::Inter8x8, 4242)},
        Scenario{"ForcedSkip", 96, 64, 8, Content::Pan, Effort::Quick, Scrambled, 0, 30000, Force(Kind::Copy)},
        // luma DCs in a block of their own in P-pictures: every quantiser, slices and bands, the
        // loop filter's strong edges beside plain inter MBs, B-pictures leaning on them
        Scenario{"ForcedInterMix", 96, 64, 34, Content::Mixed, Effort::Quick, Sweep, 0, 30000, Force(Kind::InterMix)},
        Scenario{"ForcedInterMixSlicesBands", 176, 144, 10, Content::Noise, Effort::Thorough, Scrambled, 0, 300,
                 Force(Kind::InterMix), 2},
        Scenario{"IbbpForcedInterMix", 96, 64, 10, Content::Pan, Effort::Quick, Scrambled, 0, 30000,
                 Force(Kind::InterMix), 1, 2},
        // halves: every neighbour arrangement of their vector prediction, in slices and bands
        Scenario{"ForcedInter16x8", 96, 64, 8, Content::Mixed, Effort::Quick, Scrambled, 0, 30000,
                 Force(Kind::Inter16x8, 2024)},
        Scenario{"ForcedInter8x16", 96, 64, 8, Content::Mixed, Effort::Quick, Scrambled, 0, 30000,
                 Force(Kind::Inter8x16, 2025)},
        Scenario{"ForcedInter16x8Slices", 176, 144, 8, Content::Noise, Effort::Thorough, Scrambled, 0, 300,
                 Force(Kind::Inter16x8, 7), 2},
        Scenario{"ForcedInter8x16Slices", 176, 144, 8, Content::Noise, Effort::Thorough, Scrambled, 0, 300,
                 Force(Kind::Inter8x16, 8), 2},
        Scenario{"RandomModesAndVectors", 96, 64, 64, Content::Mixed, Effort::Quick, Sweep, 16, 30000,
                 Force(Kind::ByCost, 12345)},
        Scenario{"RandomModesSlices", 96, 64, 32, Content::Noise, Effort::Quick, Scrambled, 0, 200,
                 Force(Kind::ByCost, 777)},
        // bands of rows coded at once, each its own slice, also with size-limited slices inside
        Scenario{"TwoBandsMotion", 176, 144, 60, Content::Mixed, Effort::Quick, Scrambled, 30, 30000, {}, 2},
        Scenario{"ThreeBandsThoroughSmallSlices", 176, 144, 40, Content::Mixed, Effort::Thorough, Scrambled, 20, 150,
                 {}, 3},
        Scenario{"FourBandsQuickestPan", 96, 64, 30, Content::Pan, Effort::Quickest, Scrambled, 0, 30000, {}, 4},
        // B-pictures: one between references (equal distances, the plain average), two (the
        // weights at thirds) and three (weights in whole 32ths); every B MB type forced, then
        // random types and vectors, slices, bands
        Scenario{"IbpPan", 96, 64, 15, Content::Pan, Effort::Quick, Scrambled, 0, 30000, {}, 1, 1},
        Scenario{"IbbpMotion", 96, 64, 25, Content::Mixed, Effort::Quick, Scrambled, 12, 30000, {}, 1, 2},
        Scenario{"IbbbpPan", 96, 64, 17, Content::Pan, Effort::Quick, Scrambled, 0, 30000, {}, 1, 3},
        Scenario{"IbbpQuickestPan", 96, 64, 16, Content::Pan, Effort::Quickest, Scrambled, 0, 30000, {}, 1, 2},
        Scenario{"IbbpBriskMotion", 96, 64, 25, Content::Mixed, Effort::Brisk, Scrambled, 12, 30000, {}, 1, 2},
        Scenario{"IbbpThoroughSmallSlices", 176, 144, 13, Content::Mixed, Effort::Thorough, Scrambled, 0, 200, {}, 1, 2},
        Scenario{"IbbpForcedDirect", 96, 64, 10, Content::Pan, Effort::Quick, Scrambled, 0, 30000, Force(Kind::Direct), 1, 2},
        Scenario{"IbbpForcedSkip", 96, 64, 10, Content::Pan, Effort::Quick, Scrambled, 0, 30000, Force(Kind::Copy), 1, 2},
        Scenario{"IbbpForcedForward", 96, 64, 10, Content::Pan, Effort::Quick, Scrambled, 0, 30000,
                 Force(Kind::Inter16x16), 1, 2},
        Scenario{"IbbpForcedBackward", 96, 64, 10, Content::Pan, Effort::Quick, Scrambled, 0, 30000, Force(Kind::Backward),
                 1, 2},
        Scenario{"IbbpForcedBidirectional", 96, 64, 10, Content::Pan, Effort::Quick, Scrambled, 0, 30000,
                 Force(Kind::Bidirectional), 1, 2},
        Scenario{"IbbpForcedIntra4x4", 96, 64, 7, Content::Pan, Effort::Quick, Scrambled, 0, 30000, Force(Kind::Intra4x4),
                 1, 2},
        Scenario{"IbbpForcedDirectAfter8x8", 96, 64, 10, Content::Noise, Effort::Quick, Scrambled, 0, 30000,
                 Force(Kind::Inter8x8, 31), 1, 2},
        Scenario{"IbbpRandomTypesAndVectors", 96, 64, 25, Content::Mixed, Effort::Quick, Sweep, 9, 30000,
                 Force(Kind::ByCost, 4711), 1, 2},
        Scenario{"IbbbpRandomSlices", 96, 64, 17, Content::Noise, Effort::Quick, Scrambled, 0, 200, Force(Kind::ByCost, 99),
                 1, 3},
        Scenario{"IbbpTwoBands", 176, 144, 13, Content::Mixed, Effort::Quick, Scrambled, 0, 30000, {}, 2, 2},
        Scenario{"IbbpTwoBandsSmallSlices", 176, 144, 10, Content::Pan, Effort::Thorough, Scrambled, 0, 150, {}, 2, 2},
        // repeated pictures: skips across whole bands and slices, B-pictures leaning on them
        Scenario{"RepeatsTwoBands", 176, 144, 20, Content::Mixed, Effort::Thorough, Scrambled, 0, 30000, {}, 2, 0, 2},
        // sources shown three times: copies settled, the rest refined at no motion
        Scenario{"HeldPicturesTwoBands", 176, 144, 30, Content::Held, Effort::Thorough, [](int n) { return 8 + n % 3 * 6; }, 0,
                 30000, {}, 2},
        Scenario{"HeldPicturesIbbpSlices", 96, 64, 31, Content::Held, Effort::Quick, Scrambled, 0, 200, {}, 1, 2},
        Scenario{"RepeatsIbpSmallSlices", 96, 64, 21, Content::Pan, Effort::Quick, Scrambled, 0, 200, {}, 3, 1, 4},
        // pictures kept within a size far below what their quantiser gives: small levels
        // dropped, then all, then a repeat; in bands and slices, with B-pictures
        Scenario{"BoundedNoise", 176, 144, 12, Content::Noise, Effort::Quick, [](int) { return 2; }, 6, 30000, {}, 2, 1, 0, 1500},
        Scenario{"BoundedGradientKeyframes", 176, 144, 6, Content::Gradient, Effort::Quick, [](int) { return 31; }, 1, 30000, {}, 1, 0, 0, 300},
        Scenario{"BoundedPanKeyframes", 176, 144, 4, Content::Pan, Effort::Quick, [](int) { return 31; }, 1, 30000, {}, 1, 0, 0, 1000},
        Scenario{"BoundedTinyThoroughSlices", 96, 64, 12, Content::Noise, Effort::Thorough, [](int n) { return n % 8; }, 4, 120, {}, 1, 2, 0, 90}),
    [](const ::testing::TestParamInfo<Scenario> &i) { return i.param.name; });

// A repeated picture shows its reference again (but for the last MB, which a picture of skips
// alone may not leave out, and the edges the loop filter blends into it) and costs next to
// nothing, however much the picture changed.
TEST(Rv40BitExactCheck, RepeatShowsItsReferenceAgain)
{
    const int w = 176, h = 144;
    EncoderSettings settings;
    settings.width = w;
    settings.height = h;
    settings.threads = 2;
    Encoder enc(settings);
    Rv40TestDecoder dec(w, h);
    Rv40TestDecoder::TakeErrors();
    std::size_t repeatBytes = 0;
    for (int n = 0; n < 3; ++n) {
        PictureDecision d;
        d.type = n ? PictureType::Inter : PictureType::Intra;
        d.quantiser = 31;
        d.repeat = n == 2;
        const EncodedPicture p = enc.Encode(ViewOf(MakeFrame(Content::Noise, w, h, n, 3)), d, static_cast<std::uint32_t>(n * 40));
        if (d.repeat)
            repeatBytes = p.Bytes();
        ASSERT_TRUE(dec.Send(p, n));
    }
    ASSERT_TRUE(dec.Flush());
    for (const auto &e : Rv40TestDecoder::TakeErrors())
        ADD_FAILURE() << "decoder: " << e;
    ASSERT_EQ(dec.Frames().size(), 3u);
    EXPECT_LT(repeatBytes, 200u);
    const YuvFrame &before = dec.Frames()[1], &again = dec.Frames()[2];
    int differing = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::size_t i = static_cast<std::size_t>(y * w + x);
            if (before.plane[0][i] != again.plane[0][i]) {
                ++differing;
                EXPECT_TRUE(x >= w - 19 && y >= h - 19) << "differs at (" << x << "," << y << ")";
            }
        }
    EXPECT_LE(differing, 19 * 19);
}

// Where the camera stands still, references code the still macroblocks finer, in slices of
// their own quantiser: the decoder must still show the reconstruction, and the stripe that pans
// keeps the picture's quantiser while the still rows above and below it take the finer one, in
// one band and in two (whose boundary falls inside the stripe), with and without B-pictures.
TEST(Rv40BitExactCheck, StillRowsTakeAFinerQuantiserInSlicesOfTheirOwn)
{
    auto quantiser = [](const std::vector<std::uint8_t> &slice) { return slice.at(0) & 0x1F; };
    for (const int threads : {1, 2})
        for (const int bFrames : {0, 2}) {
            SCOPED_TRACE("bands " + std::to_string(threads) + ", B-pictures " + std::to_string(bFrames));
            const Scenario s{"StillStripe", 352, 144, 13, Content::StillStripe, Effort::Quick, [](int) { return 14; },
                             0, 30000, {}, threads, bFrames};
            const RunResult r = EncodeAndDecode(s);
            EXPECT_EQ(r.mismatches, 0) << "first mismatch: " << r.firstMismatch;
            // the last reference: rows 0-2 and 6-8 still for long, rows 3-5 the stripe
            const EncodedPicture &last = r.pictures.at(CodingOrder(s.frames, bFrames).size() - 1 - (bFrames ? bFrames : 0));
            ASSERT_EQ(last.type, PictureType::Inter);
            std::vector<int> qs; // a band's boundary may split a run of one quantiser in two
            for (const auto &slice : last.slices)
                if (qs.empty() || qs.back() != quantiser(slice))
                    qs.push_back(quantiser(slice));
            EXPECT_EQ(qs, std::vector<int>({8, 14, 8}));
            // a B-picture, which no picture copies, keeps one quantiser
            for (const EncodedPicture &p : r.pictures) {
                if (p.type != PictureType::Bidirectional)
                    continue;
                for (const auto &slice : p.slices)
                    EXPECT_EQ(quantiser(slice), quantiser(p.slices.front()));
            }
        }
}

// The check above must be able to fail: a wrong chroma vector rounding (floor instead of
// truncation toward zero) decodes without a message but differs.
class FloorChromaBitstream final : public Rv40Bitstream {
public:
    void ChromaMc(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *ref, std::ptrdiff_t stride,
                  const MotionVector &v, int w, int h) const override
    {
        Rv40Bitstream::ChromaMc(dst, ds, ref, stride, {(v.x >> 1) * 2, (v.y >> 1) * 2}, w, h);
    }
};

TEST(Rv40BitExactCheck, CatchesAWrongChromaRounding)
{
    // random vectors: negative odd components
    Scenario s{"Mutated", 96, 64, 10, Content::Pan, Effort::Quick, [](int) { return 4; }, 0, 30000, Force(Kind::ByCost, 99)};
    s.bitstream = [] { return std::make_unique<FloorChromaBitstream>(); };
    const RunResult r = EncodeAndDecode(s);
    EXPECT_GT(r.mismatches, 0);
}

// A bitstream without the 16x8 and 8x16 halves and the bidirectional B type (RealVideo 8 has
// none): the decisions keep to the types it has, and what they code still decodes exactly.
struct TypeTally {
    int counts[12] = {};
};

class FewerTypes final : public Rv40Bitstream {
public:
    FewerTypes(bool limited, std::shared_ptr<TypeTally> tally) : m_limited(limited), m_tally(std::move(tally)) {}
    bool Codes(int type) const override { return !m_limited || (type != kP16x8 && type != kP8x16 && type != kBBidir); }
    void WriteMb(BitWriter &w, const MbSite &at, const MbRecord &mb, int &run) const override
    {
        ++m_tally->counts[mb.type];
        Rv40Bitstream::WriteMb(w, at, mb, run);
    }

private:
    bool m_limited;
    std::shared_ptr<TypeTally> m_tally;
};

TEST(Rv40BitExactCheck, DecisionsKeepToTheTypesTheBitstreamHas)
{
    for (const bool limited : {false, true}) {
        auto tally = std::make_shared<TypeTally>();
        Scenario s{"Thorough", 176, 144, 13, Content::Pan, Effort::Thorough, Scrambled, 0, 30000, {}, 1, 2};
        s.bitstream = [=] { return std::make_unique<FewerTypes>(limited, tally); };
        const RunResult r = EncodeAndDecode(s);
        EXPECT_EQ(r.mismatches, 0) << "limited " << limited << ": " << r.firstMismatch;
        const int halves = tally->counts[kP16x8] + tally->counts[kP8x16], both = tally->counts[kBBidir];
        if (limited) {
            EXPECT_EQ(halves, 0);
            EXPECT_EQ(both, 0);
        } else { // the film has them where it may: the check above can fail
            EXPECT_GT(halves, 0);
            EXPECT_GT(both, 0);
        }
    }
}

// A B-picture timed outside its references (times wrapping, or a caller's slip) still decodes
// exactly: direct scales beyond one would overflow the blend, so such a picture codes none, even
// where every MB is asked to be a skip.
TEST(Rv40BitExactCheck, BPictureTimedOutsideItsReferences)
{
    const int w = 96, h = 64;
    for (const std::uint32_t ts : {200u, 8000u}) {
        EncoderSettings settings;
        settings.width = w;
        settings.height = h;
        Encoder enc(settings, nullptr, std::make_unique<ForcedPolicy>(Force(Kind::Copy)));
        Rv40TestDecoder dec(w, h);
        Rv40TestDecoder::TakeErrors();
        std::vector<YuvFrame> recon;
        const std::pair<PictureType, std::uint32_t> plan[] = {
            {PictureType::Intra, 0}, {PictureType::Inter, 80}, {PictureType::Bidirectional, ts}};
        for (int n = 0; n < 3; ++n) {
            PictureDecision d;
            d.type = plan[n].first;
            d.quantiser = 6;
            const EncodedPicture p = enc.Encode(ViewOf(MakeFrame(Content::Pan, w, h, n, 3)), d, plan[n].second);
            ASSERT_EQ(p.type, d.type);
            recon.push_back(CopyOf(enc.Reconstruction()));
            ASSERT_TRUE(dec.Send(p, n));
        }
        ASSERT_TRUE(dec.Flush());
        for (const auto &e : Rv40TestDecoder::TakeErrors())
            ADD_FAILURE() << "decoder: " << e;
        ASSERT_EQ(dec.Frames().size(), 3u);
        // shown in decoding order of the B-picture: I, B, P
        for (const auto &[shown, coded] : {std::pair{0, 0}, std::pair{1, 2}, std::pair{2, 1}}) {
            const FirstDifference diff = Compare(dec.Frames()[static_cast<std::size_t>(shown)], recon[static_cast<std::size_t>(coded)]);
            EXPECT_LT(diff.plane, 0) << "time " << ts << ", picture " << shown << " plane " << diff.plane << " at (" << diff.x
                                     << "," << diff.y << ")";
        }
    }
}

// Real-looking pictures from FFmpeg's own test sources (text, colour bars, sharp moving edges):
// statistics our synthetic films do not have. Both FFmpeg's portable C decoder and the installed
// SIMD one must show them: the colour bars once gave still pictures of skips only, which FFmpeg
// conceals, and its SIMD concealment leaves coefficients that spoiled the next intra picture.
std::vector<YuvFrame> LavfiFrames(const std::string &source, int w, int h, int frames)
{
    // a source with options of its own (a seed) takes the size after them
    const std::string cmd = "ffmpeg -v error -f lavfi -i " + source + (source.find('=') == std::string::npos ? "=" : ":") +
                            "size=" + std::to_string(w) + "x" +
                            std::to_string(h) + ":rate=25 -frames:v " + std::to_string(frames) +
                            " -pix_fmt yuv420p -f rawvideo -";
    std::vector<YuvFrame> out;
    FILE *pipe = popen(cmd.c_str(), "r");
    if (!pipe)
        return out;
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
        out.push_back(std::move(f));
    }
    pclose(pipe);
    return out;
}

struct LavfiCase {
    const char *source;
    Effort effort;
    int q;
    int threads = 1;
    int bFrames = 0;
    // When not negative, the most slices whose bytes after their header read as a RealMedia
    // packet header to FFmpeg's seek (two zero bytes and a length above 12), or end in bytes
    // that do with the next packet's header: it leaps by that length, past the keyframes after
    // it. The coarse quantisers' commonest codes are runs of zero bits, so macroblocks that
    // write such bytes are coded again.
    int headerLikeAtMost = -1;
};

class Rv40Lavfi : public ::testing::TestWithParam<LavfiCase> {};

TEST_P(Rv40Lavfi, DecoderShowsTheReconstruction)
{
    const LavfiCase c = GetParam();
    const int w = 176, h = 144, frames = 30;
    const std::vector<YuvFrame> src = LavfiFrames(c.source, w, h, frames);
    ASSERT_EQ(src.size(), static_cast<std::size_t>(frames)) << "ffmpeg could not make " << c.source;
    EncoderSettings settings;
    settings.width = w;
    settings.height = h;
    settings.effort = c.effort;
    settings.threads = c.threads;
    Encoder enc(settings);
    Rv40TestDecoder simd(w, h), portable(w, h, Rv40TestDecoder::Arithmetic::PortableC);
    Rv40TestDecoder::TakeErrors();
    std::vector<YuvFrame> recon(static_cast<std::size_t>(frames));
    double worst = 99;
    int lastReference = -1, headerLike = 0;
    for (const int n : CodingOrder(frames, c.bFrames)) {
        PictureDecision d;
        d.type = n < lastReference ? PictureType::Bidirectional : (n % 15 ? PictureType::Inter : PictureType::Intra);
        lastReference = std::max(lastReference, n);
        d.quantiser = c.q;
        const EncodedPicture p = enc.Encode(ViewOf(src[static_cast<std::size_t>(n)]), d, static_cast<std::uint32_t>(n * 40));
        worst = std::min(worst, Psnr(p.sse[0], static_cast<std::size_t>(w * h)));
        for (const auto &slice : p.slices)
            headerLike += (slice.size() > 6 && ReadsAsPacketHeader(std::span(slice).subspan(6))) ||
                          EndsAsPacketHeader(slice);

        recon[static_cast<std::size_t>(n)] = CopyOf(enc.Reconstruction());
        ASSERT_TRUE(simd.Send(p, n));
        ASSERT_TRUE(portable.Send(p, n));
    }
    ASSERT_TRUE(simd.Flush());
    ASSERT_TRUE(portable.Flush());
    for (const auto &e : Rv40TestDecoder::TakeErrors())
        ADD_FAILURE() << "decoder: " << e;
    for (Rv40TestDecoder *dec : {&simd, &portable}) {
        const char *which = dec == &simd ? "SIMD" : "portable C";
        ASSERT_EQ(dec->Frames().size(), recon.size()) << which;
        for (std::size_t n = 0; n < recon.size(); ++n) {
            const FirstDifference diff = Compare(dec->Frames()[n], recon[n]);
            EXPECT_LT(diff.plane, 0) << which << " picture " << n << " plane " << diff.plane << " at (" << diff.x << ","
                                     << diff.y << ")";
        }
    }
    // a sanity floor on quality, far below what these quantisers give
    EXPECT_GT(worst, c.q <= 10 ? 38.0 : c.q < 26 ? 28.0 : 18.0);
    if (c.headerLikeAtMost >= 0) {
        EXPECT_LE(headerLike, c.headerLikeAtMost);
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, Rv40Lavfi,
                         ::testing::Values(LavfiCase{"testsrc2", Effort::Quick, 8}, LavfiCase{"testsrc2", Effort::Thorough, 20},
                                           LavfiCase{"testsrc", Effort::Quickest, 14, 1, 0, 0},
                                           LavfiCase{"mandelbrot", Effort::Quick, 4, 1, 0, 1},
                                           LavfiCase{"smptehdbars", Effort::Quick, 26},
                                           LavfiCase{"testsrc2", Effort::Thorough, 14, 2},
                                           LavfiCase{"testsrc2", Effort::Quick, 12, 1, 2},
                                           LavfiCase{"smptehdbars", Effort::Quickest, 20, 2, 3},
                                           LavfiCase{"life=seed=4", Effort::Quick, 30, 1, 0, 0},
                                           LavfiCase{"cellauto=seed=4", Effort::Quick, 26, 1, 0, 0},
                                           LavfiCase{"life=seed=2", Effort::Quickest, 31, 1, 2, 0},
                                           LavfiCase{"cellauto=seed=6", Effort::Quick, 30, 1, 3, 0}));

// Each slice picks the code-table modifier that writes it shortest (3 selects what 1 does); over a
// quantiser sweep 0, 1 and 2 must all occur, and the decoder must follow every one of them.
TEST(Rv40BitExactCheck, EveryCodeTableModifierDecodes)
{
    Scenario s{"Modifiers", 96, 64, 64, Content::Mixed, Effort::Quick, Sweep, 8, 300};
    const RunResult r = EncodeAndDecode(s);
    EXPECT_EQ(r.mismatches, 0) << r.firstMismatch;
    int seen[4] = {};
    for (const auto &p : r.pictures)
        for (const auto &slice : p.slices)
            ++seen[(slice[1] >> 4) & 3]; // bits 10 and 11 of the header
    for (int m = 0; m < 3; ++m)
        EXPECT_GT(seen[m], 0) << "modifier " << m;
}

// Motion compensation must pay: on a whole-pixel pan the search finds the exact vector, so inter
// pictures are far smaller than the intra one at the same quantiser, and the quality holds.
TEST(Rv40Quality, PanCompressesAndKeepsQuality)
{
    for (Effort e : {Effort::Quickest, Effort::Quick, Effort::Thorough}) {
        Scenario s{"Pan", 176, 144, 10, Content::StepPan, e, [](int) { return 8; }, 0};
        const RunResult r = EncodeAndDecode(s);
        EXPECT_EQ(r.mismatches, 0);
        std::size_t inter = 0;
        for (std::size_t n = 1; n < r.pictures.size(); ++n)
            inter += r.pictures[n].Bytes();
        inter /= r.pictures.size() - 1;
        EXPECT_LT(inter * 5, r.pictures[0].Bytes()) << "effort " << static_cast<int>(e);
        for (double p : r.psnr)
            EXPECT_GT(p, 40.0) << "effort " << static_cast<int>(e);
    }
}

// A still picture whose brightness drifts (a camera's exposure) must follow it: copies keep the
// old brightness until the drift outgrows a level of every 4x4 block, while one level of a DC
// block moves the whole MB.
TEST(Rv40Quality, ABrighteningStillPictureKeepsItsBrightness)
{
    for (Effort e : {Effort::Quickest, Effort::Quick, Effort::Thorough}) {
        Scenario s{"Brightening", 176, 144, 16, Content::Brightening, e, [](int) { return 20; }, 0};
        const RunResult r = EncodeAndDecode(s);
        EXPECT_EQ(r.mismatches, 0) << r.firstMismatch;
        // the drift is 0.7 a picture, a DC block's level at this quantiser about 1.5: copies
        // and plain blocks lag by 2 and more
        ASSERT_EQ(r.lumaOffset.size(), 16u);
        double lag = 0;
        for (std::size_t n = 4; n < r.lumaOffset.size(); ++n)
            lag += std::abs(r.lumaOffset[n]) / 12;
        EXPECT_LT(lag, 1.4) << "effort " << static_cast<int>(e);
    }
}

// B-pictures must pay: on a whole-pixel pan coded IBBP, where the direct vectors scaled from the
// P-pictures' are exact, they are far smaller than the P-pictures at the same quantiser and keep
// the quality.
TEST(Rv40Quality, BPicturesCostFarLessThanP)
{
    for (Effort e : {Effort::Quickest, Effort::Quick, Effort::Thorough}) {
        Scenario s{"PanB", 176, 144, 10, Content::StepPan, e, [](int) { return 8; }, 0, 30000, {}, 1, 2};
        const RunResult r = EncodeAndDecode(s);
        EXPECT_EQ(r.mismatches, 0) << r.firstMismatch;
        std::size_t bytes[3] = {}, count[3] = {};
        for (const EncodedPicture &p : r.pictures) {
            bytes[static_cast<int>(p.type)] += p.Bytes();
            ++count[static_cast<int>(p.type)];
        }
        ASSERT_EQ(count[static_cast<int>(PictureType::Bidirectional)], 6u);
        ASSERT_EQ(count[static_cast<int>(PictureType::Inter)], 3u);
        const std::size_t p = bytes[1] / count[1], b = bytes[2] / count[2];
        EXPECT_LT(b * 4, p) << "effort " << static_cast<int>(e) << ": B " << b << " bytes, P " << p;
        for (double q : r.psnr)
            EXPECT_GT(q, 40.0) << "effort " << static_cast<int>(e);
    }
}

} // namespace
} // namespace corva::rv40::test
