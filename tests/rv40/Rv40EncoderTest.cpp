// What the integrator relies on besides bit-exactness: sizes accepted or refused, decisions
// honoured, the slice headers' fields, the reported distortion and the cheap cost estimates.
#include "TestPictures.h"

#include "rv40/Encoder.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

namespace corva::rv40::test {
namespace {

struct SizeCase {
    int width, height;
    bool codable;
};

class EncoderSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(EncoderSize, AcceptsExactlyTheCodableSizes)
{
    const SizeCase c = GetParam();
    EncoderSettings s;
    s.width = c.width;
    s.height = c.height;
    if (c.codable)
        EXPECT_NO_THROW(Encoder{s});
    else
        EXPECT_THROW(Encoder{s}, std::invalid_argument);
}

INSTANTIATE_TEST_SUITE_P(Sizes, EncoderSize,
                         ::testing::Values(SizeCase{16, 16, true}, SizeCase{2048, 1152, true}, SizeCase{36, 20, true},
                                           SizeCase{100, 60, true}, SizeCase{0, 0, false}, SizeCase{12, 16, false},
                                           SizeCase{16, 12, false}, SizeCase{18, 16, false}, SizeCase{16, 30, false},
                                           SizeCase{2052, 1152, false}, SizeCase{2048, 1156, false}));

EncodedPicture EncodeOne(Encoder &enc, const YuvFrame &f, PictureType t, int q, std::uint32_t ts = 0)
{
    PictureDecision d;
    d.type = t;
    d.quantiser = q;
    return enc.Encode(ViewOf(f), d, ts);
}

EncoderSettings Settings(int w, int h, std::size_t maxSlice = 30000)
{
    EncoderSettings s;
    s.width = w;
    s.height = h;
    s.maxSliceBytes = maxSlice;
    return s;
}

TEST(Encoder, CodesAnInterDecisionWithoutReferenceAsIntra)
{
    Encoder enc(Settings(64, 48));
    EXPECT_EQ(enc.Reconstruction().width, 0);
    const EncodedPicture p = EncodeOne(enc, MakeFrame(Content::Pan, 64, 48, 0, 1), PictureType::Inter, 10);
    EXPECT_EQ(p.type, PictureType::Intra);
    EXPECT_DOUBLE_EQ(p.intraShare, 1.0);
    EXPECT_EQ(enc.Reconstruction().width, 64);
}

TEST(Encoder, RefusesWhatItCannotHonour)
{
    Encoder enc(Settings(64, 48));
    const YuvFrame good = MakeFrame(Content::Pan, 64, 48, 0, 1);
    EXPECT_THROW(EncodeOne(enc, MakeFrame(Content::Pan, 48, 48, 0, 1), PictureType::Intra, 10), std::invalid_argument);
    EXPECT_THROW(EncodeOne(enc, good, PictureType::Intra, 32), std::invalid_argument);
    EXPECT_THROW(EncodeOne(enc, good, PictureType::Intra, -1), std::invalid_argument);
    PictureView v = ViewOf(good);
    v.plane[2] = nullptr;
    EXPECT_THROW(enc.Encode(v, PictureDecision{}, 0), std::invalid_argument);
    EXPECT_EQ(EncodeOne(enc, good, PictureType::Intra, 31).quantiser, 31);
    EXPECT_EQ(EncodeOne(enc, good, PictureType::Inter, 0).quantiser, 0);
}

// The reported distortion is what the caller would measure between source and reconstruction.
TEST(Encoder, ReportsTheReconstructionError)
{
    Encoder enc(Settings(100, 60));
    for (int n = 0; n < 3; ++n) {
        const YuvFrame src = MakeFrame(Content::Pan, 100, 60, n, 3);
        const EncodedPicture p = EncodeOne(enc, src, n ? PictureType::Inter : PictureType::Intra, 20);
        const YuvFrame rec = CopyOf(enc.Reconstruction());
        for (int c = 0; c < 3; ++c) {
            std::uint64_t sse = 0;
            for (std::size_t i = 0; i < src.plane[c].size(); ++i) {
                const int d = src.plane[c][i] - rec.plane[c][i];
                sse += static_cast<std::uint64_t>(d * d);
            }
            EXPECT_EQ(p.sse[c], sse) << "picture " << n << " plane " << c;
            EXPECT_GT(sse, 0u);
        }
    }
}

class BitReader {
public:
    explicit BitReader(const std::vector<std::uint8_t> &b) : m_b(b) {}
    std::uint32_t Get(int n)
    {
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++m_pos)
            v = (v << 1) | ((m_b[m_pos / 8] >> (7 - m_pos % 8)) & 1u);
        return v;
    }

private:
    const std::vector<std::uint8_t> &m_b;
    std::size_t m_pos = 0;
};

// Every slice carries the picture's type, quantiser and 13-bit time, and starts where the one
// before it ended; the first-MB field of 176x144 (99 MBs) is 7 bits wide.
TEST(Encoder, SliceHeadersCarryTypeQuantiserTimeAndStart)
{
    Encoder enc(Settings(176, 144, 500));
    EncodeOne(enc, MakeFrame(Content::Noise, 176, 144, 0, 2), PictureType::Intra, 6, 0);
    const std::uint32_t ts = 12345;
    const EncodedPicture p = EncodeOne(enc, MakeFrame(Content::Noise, 176, 144, 1, 2), PictureType::Inter, 5, ts);
    ASSERT_GT(p.slices.size(), 2u);
    std::uint32_t lastStart = 0;
    for (std::size_t i = 0; i < p.slices.size(); ++i) {
        EXPECT_LE(p.slices[i].size(), 500u);
        BitReader r(p.slices[i]);
        EXPECT_EQ(r.Get(1), 0u);
        EXPECT_EQ(r.Get(2), 2u); // P
        EXPECT_EQ(r.Get(5), 5u);
        EXPECT_EQ(r.Get(2), 0u);
        r.Get(2);
        r.Get(1);
        EXPECT_EQ(r.Get(13), ts & 0x1FFF);
        EXPECT_EQ(r.Get(1), 1u); // same size as before
        const std::uint32_t start = r.Get(7);
        if (i == 0)
            EXPECT_EQ(start, 0u);
        else
            EXPECT_GT(start, lastStart);
        EXPECT_LT(start, 99u);
        lastStart = start;
    }
}

std::uint64_t LumaSse(const YuvFrame &a, const YuvFrame &b)
{
    std::uint64_t sse = 0;
    for (std::size_t i = 0; i < a.plane[0].size(); ++i) {
        const int d = a.plane[0][i] - b.plane[0][i];
        sse += static_cast<std::uint64_t>(d * d);
    }
    return sse;
}

// A B-picture needs two references: before there are two it is coded as a reference (intra with
// none) and says so. Then its header carries type 3 and its own time, and the reconstruction
// shown is the B-picture's, not the reference's.
TEST(Encoder, CodesBidirectionalOnlyBetweenTwoReferences)
{
    Encoder enc(Settings(64, 48));
    const auto frame = [](int n) { return MakeFrame(Content::Pan, 64, 48, n, 4); };
    EXPECT_EQ(EncodeOne(enc, frame(0), PictureType::Bidirectional, 10, 0).type, PictureType::Intra);
    EXPECT_EQ(EncodeOne(enc, frame(2), PictureType::Bidirectional, 10, 80).type, PictureType::Inter);
    const EncodedPicture b = EncodeOne(enc, frame(1), PictureType::Bidirectional, 10, 8192 + 40);
    EXPECT_EQ(b.type, PictureType::Bidirectional);
    BitReader r(b.slices.at(0));
    EXPECT_EQ(r.Get(1), 0u);
    EXPECT_EQ(r.Get(2), 3u);
    EXPECT_EQ(r.Get(5), 10u);
    r.Get(2 + 2 + 1);
    EXPECT_EQ(r.Get(13), 40u);
    EXPECT_EQ(r.Get(1), 1u); // same size as before
    EXPECT_EQ(LumaSse(CopyOf(enc.Reconstruction()), frame(1)), b.sse[0]);
}

// A B-picture is no reference and changes nothing a later picture depends on: the P-picture after
// two of them, and a B-picture after that one, come out byte for byte as without the first two,
// with one band and with two.
TEST(Encoder, BPicturesLeaveTheReferencesAlone)
{
    const int w = 96, h = 64;
    const auto frame = [&](int n) { return MakeFrame(Content::Mixed, w, h, n, 12); };
    for (int threads : {1, 2}) {
        auto run = [&](bool firstBs) {
            EncoderSettings s = Settings(w, h);
            s.threads = threads;
            s.effort = Effort::Thorough;
            Encoder enc(s);
            EncodeOne(enc, frame(0), PictureType::Intra, 14, 0);
            EncodeOne(enc, frame(3), PictureType::Inter, 14, 120);
            if (firstBs) {
                EXPECT_EQ(EncodeOne(enc, frame(1), PictureType::Bidirectional, 14, 40).type, PictureType::Bidirectional);
                EncodeOne(enc, frame(2), PictureType::Bidirectional, 14, 80);
            }
            std::vector<EncodedPicture> out;
            out.push_back(EncodeOne(enc, frame(6), PictureType::Inter, 14, 240));
            const YuvFrame p = CopyOf(enc.Reconstruction());
            out.push_back(EncodeOne(enc, frame(4), PictureType::Bidirectional, 14, 160));
            return std::pair{out, p};
        };
        const auto [with, withRecon] = run(true);
        const auto [without, withoutRecon] = run(false);
        for (std::size_t n = 0; n < with.size(); ++n)
            EXPECT_EQ(with[n].slices, without[n].slices) << "picture " << n << ", threads " << threads;
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(withRecon.plane[c], withoutRecon.plane[c]) << "plane " << c << ", threads " << threads;
    }
}

// Bands coded on several threads give the same bytes however the threads are scheduled, and
// each band starts a slice on a row boundary (so nothing is predicted from a band in progress).
TEST(Encoder, BandsAreRepeatableAndStartOnRows)
{
    const int w = 176, h = 144, mbw = 11; // 9 rows: three bands of three
    auto run = [&] {
        EncoderSettings s = Settings(w, h);
        s.threads = 3;
        s.effort = Effort::Thorough;
        Encoder enc(s);
        std::vector<EncodedPicture> out;
        for (int n = 0; n < 6; ++n)
            out.push_back(EncodeOne(enc, MakeFrame(Content::Noise, w, h, n, 6), n ? PictureType::Inter : PictureType::Intra,
                                    14, static_cast<std::uint32_t>(40 * n)));
        return out;
    };
    const std::vector<EncodedPicture> a = run();
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::vector<EncodedPicture> b = run();
        ASSERT_EQ(a.size(), b.size());
        for (std::size_t n = 0; n < a.size(); ++n)
            EXPECT_EQ(a[n].slices, b[n].slices) << "picture " << n << ", attempt " << attempt;
    }
    for (const EncodedPicture &p : a) {
        ASSERT_EQ(p.slices.size(), 3u);
        std::vector<std::uint32_t> starts;
        for (const auto &slice : p.slices) {
            BitReader r(slice);
            r.Get(1 + 2 + 5 + 2 + 2 + 1 + 13);
            if (p.type == PictureType::Inter)
                r.Get(1);
            else
                r.Get(3 + 8 + 3); // width 176 written out in a byte, height 144 by its code
            starts.push_back(r.Get(7));
        }
        EXPECT_EQ(starts, (std::vector<std::uint32_t>{0, 3 * mbw, 6 * mbw}));
    }
}

// The cheap estimates steer picture types: a continued pan costs far less as inter than as
// intra, a cut to unrelated content costs more as inter than the pan did.
// A picture goes in as many slices as there are threads only where the last reference of its kind
// was large enough for each to fill a packet of 256 bytes: a still film's inter pictures keep to
// one slice after the first, a detailed one's keep two, and a keyframe follows the last keyframe.
TEST(Encoder, SmallPicturesKeepToOneSlice)
{
    const int w = 176, h = 144;
    auto slices = [&](Content content, int q) {
        EncoderSettings s = Settings(w, h);
        s.threads = 2;
        Encoder enc(s);
        std::vector<std::size_t> out;
        for (int n = 0; n < 4; ++n)
            out.push_back(EncodeOne(enc, MakeFrame(content, w, h, n, 4), n == 0 || n == 3 ? PictureType::Intra : PictureType::Inter,
                                    q, static_cast<std::uint32_t>(40 * n))
                              .slices.size());
        return out;
    };
    EXPECT_EQ(slices(Content::Flat, 20), (std::vector<std::size_t>{2, 2, 1, 1}));
    EXPECT_EQ(slices(Content::Noise, 4), (std::vector<std::size_t>{2, 2, 2, 2}));
}

TEST(Encoder, AnalyseSeparatesMotionFromACut)
{
    Encoder enc(Settings(176, 144));
    EncodeOne(enc, MakeFrame(Content::StepPan, 176, 144, 0, 4), PictureType::Intra, 12);
    const PictureCost next = enc.Analyse(ViewOf(MakeFrame(Content::StepPan, 176, 144, 1, 4)));
    const PictureCost cut = enc.Analyse(ViewOf(MakeFrame(Content::Noise, 176, 144, 1, 4)));
    EXPECT_LT(next.inter * 4, next.intra);
    EXPECT_GT(cut.inter, next.inter * 4);
    EXPECT_GT(cut.inter, cut.intra * 0.5);
}

// A cut coded as an inter picture shows up as a large intra share; a pan does not.
TEST(Encoder, IntraShareMarksACut)
{
    Encoder enc(Settings(176, 144));
    EncodeOne(enc, MakeFrame(Content::StepPan, 176, 144, 0, 4), PictureType::Intra, 12);
    const EncodedPicture pan = EncodeOne(enc, MakeFrame(Content::StepPan, 176, 144, 1, 4), PictureType::Inter, 12);
    const EncodedPicture cut = EncodeOne(enc, MakeFrame(Content::Gradient, 176, 144, 1, 4), PictureType::Inter, 12);
    EXPECT_EQ(cut.type, PictureType::Inter);
    EXPECT_LT(pan.intraShare, 0.2);
    EXPECT_GT(cut.intraShare, 0.5);
}

// A macroblock that changed a lot is never left a copy of the last picture, whatever the
// quantiser and effort: a sharp square and a flat lift of 30 levels come out far closer
// than the copy was, also at 31. Read through FFmpeg's decoder.
class ChangedMacroblock : public ::testing::TestWithParam<Effort> {};

TEST_P(ChangedMacroblock, IsNotLeftACopy)
{
    constexpr int W = 64, H = 48;
    YuvFrame grey;
    grey.width = W;
    grey.height = H;
    grey.plane[0].assign(W * H, 100);
    grey.plane[1].assign(W * H / 4, 128);
    grey.plane[2].assign(W * H / 4, 128);
    YuvFrame changed = grey;
    for (int y = 20; y < 28; ++y)
        for (int x = 20; x < 28; ++x)
            changed.plane[0][y * W + x] = 220; // MB (1,1)
    for (int y = 0; y < 16; ++y)
        for (int x = 32; x < 48; ++x)
            changed.plane[0][y * W + x] = 130; // MB (2,0)
    auto mbSse = [&](const YuvFrame &a, const YuvFrame &b, int mbx, int mby) {
        std::uint64_t sse = 0;
        for (int y = 16 * mby; y < 16 * mby + 16; ++y)
            for (int x = 16 * mbx; x < 16 * mbx + 16; ++x) {
                const int d = a.plane[0][y * W + x] - b.plane[0][y * W + x];
                sse += static_cast<std::uint64_t>(d * d);
            }
        return sse;
    };
    for (int q : {20, 31}) {
        EncoderSettings settings = Settings(W, H);
        settings.effort = GetParam();
        Encoder enc(settings);
        Rv40TestDecoder dec(W, H);
        ASSERT_TRUE(dec.Send(EncodeOne(enc, grey, PictureType::Intra, q), 0));
        ASSERT_TRUE(dec.Send(EncodeOne(enc, changed, PictureType::Inter, q, 40), 1));
        // the same change in a B-picture between two grey references: direct and skip both
        // predict grey there
        Encoder encB(settings);
        Rv40TestDecoder decB(W, H);
        ASSERT_TRUE(decB.Send(EncodeOne(encB, grey, PictureType::Intra, q), 0));
        ASSERT_TRUE(decB.Send(EncodeOne(encB, grey, PictureType::Inter, q, 80), 2));
        ASSERT_TRUE(decB.Send(EncodeOne(encB, changed, PictureType::Bidirectional, q, 40), 1));
        ASSERT_TRUE(dec.Flush());
        ASSERT_TRUE(decB.Flush());
        ASSERT_EQ(dec.Frames().size(), 2u);
        ASSERT_EQ(decB.Frames().size(), 3u);
        const YuvFrame &before = dec.Frames()[0];
        for (const YuvFrame *after : {&dec.Frames()[1], &decB.Frames()[1]})
            for (const auto &[mbx, mby] : {std::pair{1, 1}, std::pair{2, 0}})
                EXPECT_LT(mbSse(*after, changed, mbx, mby) * 4, mbSse(before, changed, mbx, mby))
                    << (after == &dec.Frames()[1] ? "P" : "B") << " q " << q << " MB (" << mbx << "," << mby << ")";
    }
}

INSTANTIATE_TEST_SUITE_P(Efforts, ChangedMacroblock,
                         ::testing::Values(Effort::Quickest, Effort::Brisk, Effort::Quick, Effort::Thorough));

} // namespace
} // namespace corva::rv40::test

namespace corva::rv40::test {
namespace {

// A keyframe kept within far fewer bytes than its coarsest levels take: a smooth one used to
// lose every level and show flat gray, now it keeps at least each MB's mean; a detailed one given
// more than half its bytes came out no better than with a third, the levels' rungs skipping from
// one to the other, and now takes the rung closest to the source that fits.
TEST(Encoder, AKeyframeKeptWithinFewBytesShowsWhatTheyCanHold)
{
    const int w = 176, h = 144;
    const auto bounded = [&](Content content, double share) {
        const YuvFrame src = MakeFrame(content, w, h, 0, 1);
        Encoder full(Settings(w, h));
        const std::size_t fullBytes = EncodeOne(full, src, PictureType::Intra, 31).Bytes();
        Encoder enc(Settings(w, h));
        PictureDecision d;
        d.type = PictureType::Intra;
        d.quantiser = 31;
        d.maxBytes = static_cast<std::size_t>(double(fullBytes) * share);
        const EncodedPicture p = enc.Encode(ViewOf(src), d, 0);
        EXPECT_TRUE(p.bounded);
        EXPECT_LE(p.Bytes(), d.maxBytes);
        return Psnr(p.sse[0], static_cast<std::size_t>(w * h));
    };
    const YuvFrame smooth = MakeFrame(Content::Gradient, w, h, 0, 1);
    std::uint64_t graySse = 0;
    for (const std::uint8_t v : smooth.plane[0])
        graySse += static_cast<std::uint64_t>((v - 128) * (v - 128));
    const double gray = Psnr(graySse, static_cast<std::size_t>(w * h));
    EXPECT_GT(bounded(Content::Gradient, 0.35), gray + 5) << "flat gray: " << gray << " dB";
    const double third = bounded(Content::Pan, 0.33), more = bounded(Content::Pan, 0.6);
    EXPECT_GT(more, third + 1.5) << "a third of its bytes: " << third << " dB";
}

// A companion codes the B-pictures between the references it followed exactly as the encoder
// itself would, though the encoder has gone on to code the next reference meanwhile (what it
// read was copied, not shared), and it follows each new pair of references; with several bands.
TEST(Encoder, ACompanionCodesBPicturesAsTheEncoderWould)
{
    constexpr int kW = 176, kH = 144, kFrames = 7;
    EncoderSettings s = Settings(kW, kH);
    s.effort = Effort::Thorough;
    s.threads = 2;
    std::vector<YuvFrame> frames;
    for (int n = 0; n < kFrames; ++n)
        frames.push_back(MakeFrame(Content::Pan, kW, kH, n, kFrames));
    auto bytes = [](const EncodedPicture &p) {
        std::vector<std::uint8_t> all;
        for (const auto &slice : p.slices)
            all.insert(all.end(), slice.begin(), slice.end());
        return all;
    };
    auto shown = [](const Encoder &e) {
        const YuvFrame f = CopyOf(e.Reconstruction());
        std::vector<std::uint8_t> all;
        for (const auto &plane : f.plane)
            all.insert(all.end(), plane.begin(), plane.end());
        return all;
    };
    // one encoder alone: I0 P2 B1 P4 B3 P6 B5
    Encoder alone(s);
    std::vector<std::vector<std::uint8_t>> aloneB, aloneShown;
    EncodeOne(alone, frames[0], PictureType::Intra, 12, 0);
    for (int p = 2; p < kFrames; p += 2) {
        EncodeOne(alone, frames[static_cast<std::size_t>(p)], PictureType::Inter, 12, 40u * p);
        aloneB.push_back(bytes(EncodeOne(alone, frames[static_cast<std::size_t>(p - 1)], PictureType::Bidirectional, 14, 40u * (p - 1))));
        aloneShown.push_back(shown(alone));
    }
    // the same with a companion, each B-picture coded after the next reference
    Encoder main(s);
    std::unique_ptr<Encoder> companion = main.Companion();
    ASSERT_TRUE(companion);
    EncodeOne(main, frames[0], PictureType::Intra, 12, 0);
    EncodeOne(main, frames[2], PictureType::Inter, 12, 80);
    for (int p = 2; p < kFrames; p += 2) {
        companion->Follow(main);
        if (p + 2 < kFrames)
            EncodeOne(main, frames[static_cast<std::size_t>(p + 2)], PictureType::Inter, 12, 40u * (p + 2));
        const std::size_t k = static_cast<std::size_t>(p / 2 - 1);
        EXPECT_EQ(bytes(EncodeOne(*companion, frames[static_cast<std::size_t>(p - 1)], PictureType::Bidirectional, 14,
                                  40u * (p - 1))),
                  aloneB[k])
            << "B-picture " << p - 1;
        EXPECT_EQ(shown(*companion), aloneShown[k]) << "B-picture " << p - 1;
    }
}

} // namespace
} // namespace corva::rv40::test

namespace corva::rv40::test {
namespace {

// A source picture shown again and again (a film's picture rate above its source's): what the
// last picture settled as a copy is copied again without a search, but not where the quantiser
// is now finer, nor after a picture that repeated its reference (its copies settled nothing).
// Read through FFmpeg's decoder.
TEST(Encoder, APictureShownAgainIsRefinedWhereItCanBe)
{
    constexpr int W = 96, H = 64;
    const YuvFrame f = MakeFrame(Content::Pan, W, H, 0, 1);
    EncoderSettings settings = Settings(W, H);
    settings.effort = Effort::Quick;
    auto decoded = [&](const std::vector<EncodedPicture> &pics) {
        Rv40TestDecoder dec(W, H);
        std::vector<double> out;
        for (std::size_t n = 0; n < pics.size(); ++n)
            EXPECT_TRUE(dec.Send(pics[n], static_cast<int>(n)));
        EXPECT_TRUE(dec.Flush());
        for (const YuvFrame &d : dec.Frames())
            out.push_back(Psnr(LumaSse(d, f), W * H));
        EXPECT_EQ(out.size(), pics.size());
        return out;
    };
    {
        // settled at 24 after the keyframe, then asked for 12
        Encoder enc(settings);
        std::vector<EncodedPicture> pics;
        pics.push_back(EncodeOne(enc, f, PictureType::Intra, 24));
        for (std::uint32_t n = 1; n <= 3; ++n)
            pics.push_back(EncodeOne(enc, f, PictureType::Inter, 24, 40 * n));
        pics.push_back(EncodeOne(enc, f, PictureType::Inter, 12, 160));
        for (std::size_t n = 1; n <= 3; ++n)
            EXPECT_LT(pics[n].Bytes(), 16u) << "picture " << n << " is the keyframe's copy";
        const std::vector<double> p = decoded(pics);
        ASSERT_EQ(p.size(), 5u);
        EXPECT_GT(p[4], p[3] + 4.0) << "the finer quantiser refines what was settled at the coarser";
    }
    {
        // copies forced at 12, then 12 asked for
        Encoder enc(settings);
        std::vector<EncodedPicture> pics;
        pics.push_back(EncodeOne(enc, f, PictureType::Intra, 24));
        PictureDecision d;
        d.type = PictureType::Inter;
        d.quantiser = 12;
        d.repeat = true;
        pics.push_back(enc.Encode(ViewOf(f), d, 40));
        pics.push_back(EncodeOne(enc, f, PictureType::Inter, 12, 80));
        const std::vector<double> p = decoded(pics);
        ASSERT_EQ(p.size(), 3u);
        EXPECT_GT(p[2], p[1] + 4.0) << "a repeat settles nothing";
    }
}

} // namespace
} // namespace corva::rv40::test

namespace corva::rv40::test {
namespace {

// A still camera's picture whose keyframe came out coarse: the inter pictures after it code
// away what the keyframe got wrong rather than copy it on, though the source itself changes only
// by a camera's noise, and show the picture as a keyframe at the still macroblocks' finer
// quantiser would (they stayed 3 dB short of it). Read through FFmpeg's decoder.
TEST(Encoder, AStillPictureCodesAwayWhatItsKeyframeGotWrong)
{
    constexpr int W = 96, H = 64;
    constexpr int kQuantiser = 27;
    const YuvFrame still = MakeFrame(Content::Pan, W, H, 0, 1);
    auto noisy = [&](int n) {
        YuvFrame f = still;
        for (std::size_t i = 0; i < f.plane[0].size(); ++i)
            f.plane[0][i] = static_cast<std::uint8_t>(std::min(255, f.plane[0][i] + ((i + n) % 3 == 0 ? 1 : 0)));
        return f;
    };
    EncoderSettings settings = Settings(W, H);
    settings.effort = Effort::Quick;
    Encoder enc(settings);
    Rv40TestDecoder dec(W, H);
    constexpr int kPictures = 10;
    std::vector<YuvFrame> sources;
    for (int n = 0; n < kPictures; ++n) {
        sources.push_back(noisy(n));
        ASSERT_TRUE(dec.Send(EncodeOne(enc, sources.back(), n ? PictureType::Inter : PictureType::Intra,
                                       n ? kQuantiser : 31, 40u * static_cast<std::uint32_t>(n)),
                             n));
    }
    Encoder key(settings);
    Rv40TestDecoder keyDec(W, H);
    const int finer = kQuantiser - EffortTools::Of(Effort::Quick).stillFiner;
    ASSERT_TRUE(keyDec.Send(EncodeOne(key, sources.back(), PictureType::Intra, finer), 0));
    ASSERT_TRUE(dec.Flush());
    ASSERT_TRUE(keyDec.Flush());
    ASSERT_EQ(dec.Frames().size(), static_cast<std::size_t>(kPictures));
    ASSERT_EQ(keyDec.Frames().size(), 1u);
    const double keyframe = Psnr(LumaSse(keyDec.Frames()[0], sources.back()), W * H);
    const double first = Psnr(LumaSse(dec.Frames()[0], sources[0]), W * H);
    const double last = Psnr(LumaSse(dec.Frames().back(), sources.back()), W * H);
    ASSERT_GT(keyframe, first + 4.0); // the keyframe at 31 is far off
    EXPECT_GT(last, keyframe - 0.5);
}

} // namespace
} // namespace corva::rv40::test
