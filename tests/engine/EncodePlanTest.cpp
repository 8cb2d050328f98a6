#include "engine/EncodePlan.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <tuple>

using namespace corva;

namespace {

AudienceDefinition cbr()
{
    AudienceDefinition a;
    a.name = QStringLiteral("CBR");
    a.videoKbps = 386;
    a.audioKbps = 64;
    a.totalKbps = 450;
    a.maxFps = 25;
    return a;
}

SourceInfo source(int w, int h, AVRational sar = {1, 1}, AVRational fps = {25, 1})
{
    SourceInfo s;
    s.hasVideo = true;
    s.width = w;
    s.height = h;
    s.sampleAspect = sar;
    s.frameRate = fps;
    s.hasAudio = true;
    s.sampleRate = 48000;
    s.channels = 2;
    return s;
}

struct SizeCase
{
    const char *name;
    SourceInfo source;
    int resizeWidth;
    int resizeHeight;
    int width;
    int height;
};

class EncodePlanSize : public ::testing::TestWithParam<SizeCase>
{
};

// The encoder refuses sizes off the 4-pixel grid, and "0" must keep the picture's shape.
TEST_P(EncodePlanSize, RoundedToCodecGridKeepingProportion)
{
    JobSettings job;
    job.resizeWidth = GetParam().resizeWidth;
    job.resizeHeight = GetParam().resizeHeight;
    const EncodePlan plan = EncodePlan::Make(job, cbr(), GetParam().source);
    ASSERT_TRUE(plan.video.enabled);
    EXPECT_EQ(plan.video.width, GetParam().width);
    EXPECT_EQ(plan.video.height, GetParam().height);
    EXPECT_EQ(plan.video.width % 4, 0);
    EXPECT_EQ(plan.video.height % 4, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EncodePlanSize,
    ::testing::Values(SizeCase{"KeepsSource", source(320, 240), 0, 0, 320, 240},
                      SizeCase{"SourceOffGrid", source(322, 242), 0, 0, 324, 244},
                      SizeCase{"AnamorphicToSquarePixels", source(704, 480, {10, 11}), 0, 0, 640, 480},
                      SizeCase{"WidthOnly", source(720, 576), 640, 0, 640, 512},
                      SizeCase{"HeightOnlyWide", source(1920, 1080), 0, 240, 428, 240},
                      SizeCase{"BothGiven", source(320, 240), 200, 200, 200, 200},
                      SizeCase{"OddRequestRounded", source(320, 240), 333, 0, 332, 248},
                      SizeCase{"TinyRequestGrowsInShape", source(320, 240), 4, 0, 20, 16},
                      SizeCase{"TinySourceKeepsShape", source(17, 9), 0, 0, 32, 16},
                      SizeCase{"TinyTallSourceKeepsShape", source(9, 17), 0, 0, 16, 32},
                      SizeCase{"TinySquareSource", source(8, 8), 0, 0, 16, 16},
                      SizeCase{"HighDefinitionToStandard", source(1920, 1080), 0, 0, 720, 404},
                      SizeCase{"AnamorphicPalFits", source(720, 576, {16, 15}), 0, 0, 720, 540},
                      SizeCase{"AskedHugeShrunkToCodecLimits", source(4096, 2160), 4096, 0, 2048, 1080}),
    [](const auto &row) { return std::string(row.param.name); });

struct RateCase
{
    const char *name;
    VideoMode mode;
    AVRational sourceRate;
    AVRational expected;
};

class EncodePlanRate : public ::testing::TestWithParam<RateCase>
{
};

TEST_P(EncodePlanRate, ModeSetsFrameRateNeverAboveSource)
{
    JobSettings job;
    job.videoMode = GetParam().mode;
    SourceInfo info = source(320, 240, {1, 1}, GetParam().sourceRate);
    info.duration = 12;
    const EncodePlan plan = EncodePlan::Make(job, cbr(), info);
    EXPECT_EQ(av_cmp_q(plan.video.frameRate, GetParam().expected), 0)
        << plan.video.frameRate.num << "/" << plan.video.frameRate.den;
    // the film's length in the pictures coded, which one pass sets bits aside for keyframes by
    EXPECT_EQ(plan.video.pictures, static_cast<int>(std::lround(12 * av_q2d(GetParam().expected))));
    // A keyframe every keyframe_seconds of the audience.
    EXPECT_EQ(plan.video.gopSize, static_cast<int>(std::lround(av_q2d(GetParam().expected) * 10)));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EncodePlanRate,
    ::testing::Values(RateCase{"NormalCapsAtAudience", VideoMode::Normal, {30, 1}, {25, 1}},
                      RateCase{"NormalKeepsNtscExactly", VideoMode::Normal, {24000, 1001}, {24000, 1001}},
                      RateCase{"SmoothKeepsThirty", VideoMode::Smooth, {30, 1}, {30, 1}},
                      RateCase{"SmoothCapsSixty", VideoMode::Smooth, {60, 1}, {30, 1}},
                      RateCase{"SharpHalvesMotion", VideoMode::Sharp, {25, 1}, {15, 1}},
                      RateCase{"SharpNeverRaises", VideoMode::Sharp, {12, 1}, {12, 1}},
                      RateCase{"Slideshow", VideoMode::Slideshow, {25, 1}, {1, 1}},
                      RateCase{"UnknownRateTakenAs25", VideoMode::Normal, {0, 1}, {25, 1}}),
    [](const auto &row) { return std::string(row.param.name); });

TEST(EncodePlan, RateControlFollowsAudienceKind)
{
    AudienceDefinition vbr = cbr();
    vbr.vbr = true;
    vbr.vbrQmin = 3;
    vbr.vbrQmax = 20;
    vbr.vbrPeakKbps = 900;
    const EncodePlan v = EncodePlan::Make(JobSettings{}, vbr, source(320, 240));
    EXPECT_TRUE(v.video.variableRate);
    EXPECT_EQ(v.video.bitRate, 386000);
    EXPECT_EQ(v.video.maxRate, 900000);
    EXPECT_EQ(v.video.qmin, 3);
    EXPECT_EQ(v.video.qmax, 20);

    const EncodePlan c = EncodePlan::Make(JobSettings{}, cbr(), source(320, 240));
    EXPECT_FALSE(c.video.variableRate);
    EXPECT_EQ(c.video.maxRate, c.video.bitRate);
}

TEST(EncodePlan, PassesAndStreams)
{
    JobSettings job;
    EXPECT_EQ(EncodePlan::Make(job, cbr(), source(320, 240)).passes, 2);
    job.singlePass = true;
    EXPECT_EQ(EncodePlan::Make(job, cbr(), source(320, 240)).passes, 1);
    job.singlePass = false;
    job.audioOnly = true;
    const EncodePlan audioOnly = EncodePlan::Make(job, cbr(), source(320, 240));
    EXPECT_FALSE(audioOnly.video.enabled);
    EXPECT_TRUE(audioOnly.audio.enabled);
    EXPECT_EQ(audioOnly.passes, 1);

    SourceInfo silent = source(320, 240);
    silent.hasAudio = false;
    EXPECT_FALSE(EncodePlan::Make(JobSettings{}, cbr(), silent).audio.enabled);
}

// The plan is all the video encoder is given: -vco decides the bitstream (RealVideo 8 for rv8),
// how hard the encoder works, how many B-pictures it may put between two references and how
// much coarser they are (RealVideo 8's far coarser), and the bands it codes each picture in
// follow the machine's cores, at most four.
TEST(EncodePlan, CodecChoiceSetsEffortAndBPictures)
{
    const std::tuple<CodecEffort, bool, rv40::Effort, int, int> rows[] = {
        {CodecEffort::Rv8, true, rv40::Effort::Brisk, 2, 5},
        {CodecEffort::Rv9, false, rv40::Effort::Quick, 2, 2},
        {CodecEffort::Rv10, false, rv40::Effort::Thorough, 2, 2}};
    for (const auto &[codec, realVideo8, effort, bPictures, bOffset] : rows) {
        JobSettings job;
        job.codec = codec;
        const EncodePlan::Video v = EncodePlan::Make(job, cbr(), source(320, 240)).video;
        EXPECT_EQ(v.realVideo8, realVideo8);
        EXPECT_EQ(v.effort, effort);
        EXPECT_EQ(v.bPictures, bPictures);
        EXPECT_EQ(v.bQuantiserOffset, bOffset);
        EXPECT_GE(v.threads, 1);
        EXPECT_LE(v.threads, 4);
    }
}

TEST(EncodePlan, AudioModes)
{
    JobSettings job;
    SourceInfo s = source(320, 240);
    const EncodePlan music = EncodePlan::Make(job, cbr(), s);
    EXPECT_EQ(music.audio.cookFlavour, 24);
    EXPECT_EQ(music.audio.channels, 2);
    EXPECT_EQ(music.audio.sampleRate, 44100);
    EXPECT_EQ(music.audio.bitRate, 64082); // 186-byte frames of 1024 samples at 44.1 kHz

    job.audioMode = AudioMode::Voice;
    const EncodePlan voice = EncodePlan::Make(job, cbr(), s);
    EXPECT_EQ(voice.audio.channels, 1);
    EXPECT_EQ(voice.audio.cookFlavour, 6);
    EXPECT_EQ(voice.audio.sampleRate, 44100);

    // A mono source is not blown up to two identical channels.
    s.channels = 1;
    EXPECT_EQ(EncodePlan::Make(JobSettings{}, cbr(), s).audio.channels, 1);
}

// Each audience file names the cook flavour its sound gets; the plan must give that one, at the
// flavour's own rate and channels (48 and 32 kHz sound is resampled to it), and what the
// flavour leaves of the audience's sound share goes to the picture.
TEST(EncodePlan, EveryAudienceGetsTheFlavourItsFileNames)
{
    const QDir dir(QStringLiteral(CORVA_SOURCE_DIR "/data/Audiences"));
    const QStringList files = dir.entryList({QStringLiteral("*.audience")}, QDir::Files, QDir::Name);
    ASSERT_EQ(files.size(), 7);
    const QRegularExpression named(QStringLiteral("^# sound: cook flavour (\\d+):"), QRegularExpression::MultilineOption);
    for (const QString &name : files) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
        const QString text = QString::fromUtf8(f.readAll());
        const QRegularExpressionMatch m = named.match(text);
        ASSERT_TRUE(m.hasMatch()) << name.toStdString() << " names no flavour";
        QString error;
        const auto audience = AudienceDefinition::Parse(text, &error);
        ASSERT_TRUE(audience) << error.toStdString();
        const EncodePlan plan = EncodePlan::Make(JobSettings{}, *audience, source(320, 240));
        const int flavour = m.captured(1).toInt();
        EXPECT_EQ(plan.audio.cookFlavour, flavour) << name.toStdString();
        EXPECT_EQ(plan.audio.channels, audience->audioChannels) << name.toStdString();
        EXPECT_EQ(plan.audio.sampleRate, 44100) << name.toStdString();
        EXPECT_TRUE(plan.audio.filters.contains(QStringLiteral("aresample=44100"))) << name.toStdString();
        EXPECT_LE(plan.audio.bitRate, audience->audioKbps * 1000 + 500) << name.toStdString();
        EXPECT_EQ(plan.video.bitRate + plan.audio.bitRate,
                  std::max<int64_t>(audience->videoKbps * 1000 + audience->audioKbps * 1000,
                                    audience->videoKbps * 1000 + plan.audio.bitRate))
            << name.toStdString();
    }
    // Voice takes one channel whatever the audience.
    JobSettings voice;
    voice.audioMode = AudioMode::Voice;
    for (int kbps : {32, 48, 64, 192}) {
        AudienceDefinition a = cbr();
        a.audioKbps = kbps;
        const EncodePlan plan = EncodePlan::Make(voice, a, source(320, 240));
        EXPECT_EQ(plan.audio.channels, 1) << kbps;
        EXPECT_LE(plan.audio.bitRate, std::min(kbps, 64) * 1000 + 500) << kbps;
    }
}

} // namespace

namespace {

// Header sizes whose area overflows an int must be refused, not wrapped into a small number.
TEST(EncodePlanSource, PlausiblePictureSizes)
{
    const struct
    {
        int width, height;
        bool plausible;
    } rows[] = {{320, 240, true},      {8192, 8192, true},   {16384, 8192, true}, {17, 9, true},
                {16385, 2, false},     {2, 16385, false},    {16384, 16384, false}, {70000, 70000, false},
                {65536, 65536, false}, {INT32_MAX, INT32_MAX, false}, {0, 240, false}, {-320, 240, false}};
    for (const auto &r : rows)
        EXPECT_EQ(EncodePlan::PlausiblePicture(r.width, r.height), r.plausible) << r.width << "x" << r.height;
}

} // namespace

// Fields are woven before the frame rate or size touches them, only where the source is or may
// be interlaced.
TEST(EncodePlan, DeinterlacingByWhatTheSourceSays)
{
    const struct
    {
        AVFieldOrder order;
        const char *expected;
    } cases[] = {{AV_FIELD_PROGRESSIVE, nullptr},
                 {AV_FIELD_TT, EncodePlan::kDeinterlaceFlagged},
                 {AV_FIELD_BB, EncodePlan::kDeinterlaceFlagged},
                 {AV_FIELD_UNKNOWN, EncodePlan::kDeinterlaceDetected}};
    for (const auto &c : cases) {
        SourceInfo s = source(720, 576);
        s.fieldOrder = c.order;
        JobSettings job;
        job.noiseFilter = NoiseFilter::High;
        const QString chain = EncodePlan::Make(job, cbr(), s).video.filters;
        if (!c.expected) {
            EXPECT_FALSE(chain.contains(u"bwdif") || chain.contains(u"idet")) << chain.toStdString();
            continue;
        }
        EXPECT_TRUE(chain.startsWith(QLatin1String(c.expected) + u',')) << chain.toStdString();
        EXPECT_LT(chain.indexOf(u"bwdif"), chain.indexOf(u"fps="));
    }
}
