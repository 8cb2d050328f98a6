#include "EngineRunner.h"
#include "MediaTools.h"

#include "common/Gbk.h"
#include "engine/FfmpegEncodingEngine.h"
#include "engine/JobFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>

using namespace corva;
using corva::test::EngineRunner;
using corva::test::MediaTools;
using corva::test::Outcome;

namespace {

const QString kCbr = QStringLiteral("标准画质 CBR 450Kbps");
const QString kVbr = QStringLiteral("DVD影碟 VBR 高画质 650Kbps");
constexpr double kSeconds = 3.0;

class Clips
{
public:
    static Clips &Get()
    {
        static Clips clips;
        return clips;
    }
    QString dir() const { return m_dir.path(); }
    QString av, videoOnly, audioOnly;
    QString error;

private:
    Clips()
    {
        av = m_dir.filePath(QStringLiteral("源 clip.mkv"));
        videoOnly = m_dir.filePath(QStringLiteral("silent.avi"));
        audioOnly = m_dir.filePath(QStringLiteral("tone.wav"));
        MediaTools::MakeClip(av, kSeconds, QStringLiteral("320x240"), 25, 44100, 2, &error)
            && MediaTools::MakeClip(videoOnly, kSeconds, QStringLiteral("176x144"), 25, 0, 0, &error)
            && MediaTools::MakeClip(audioOnly, kSeconds, QString(), 0, 48000, 2, &error);
    }
    QTemporaryDir m_dir;
};

JobSettings baseJob(const QString &input, const QString &output)
{
    JobSettings job;
    job.input = input;
    job.output = output;
    job.audience = kCbr;
    return job;
}

const QJsonObject *streamOf(const QJsonArray &streams, const QString &type, QJsonObject *out)
{
    for (const QJsonValue &s : streams) {
        if (s.toObject().value("codec_type").toString() == type) {
            *out = s.toObject();
            return out;
        }
    }
    return nullptr;
}

QJsonObject trackOf(const QList<QJsonObject> &tracks, const QString &type)
{
    for (const QJsonObject &t : tracks) {
        if (t.value("@type").toString() == type)
            return t;
    }
    return {};
}

struct Expect
{
    bool video = true;
    int width = 320;
    int height = 240;
    double fps = 25;
    bool audio = true;
    int channels = 2;
    int sampleRate = 44100;
    // the video codec as ffprobe and mediainfo name it
    const char *codecName = "rv40";
    const char *videoFormat = "RealVideo 4";
};

struct EncodeCase
{
    const char *name;
    std::function<void(JobSettings &)> change;
    Expect expect;
    QString Clips::*source = &Clips::av;
    const char *suffix = ".rm";
};

class EngineEncodes : public ::testing::TestWithParam<EncodeCase>
{
};

// Each switch through a real encode; the file must satisfy ffprobe, mediainfo and a full decode.
TEST_P(EngineEncodes, FileReadsBackAsRequested)
{
    const Clips &clips = Clips::Get();
    ASSERT_TRUE(clips.error.isEmpty()) << clips.error.toStdString();
    QTemporaryDir out;
    const QString output = out.filePath(QStringLiteral("结果") + QString::fromUtf8(GetParam().suffix));
    JobSettings job = baseJob(clips.*(GetParam().source), output);
    GetParam().change(job);

    const Outcome o = EngineRunner::Encode(job);
    ASSERT_TRUE(o.ended) << "no EncodingFinished";
    ASSERT_TRUE(o.succeeded) << o.reason.toStdString();
    ASSERT_TRUE(QFile::exists(output));
    EXPECT_FALSE(MediaTools::PartialOutputLeft(output));

    const Expect &e = GetParam().expect;
    const QJsonObject probe = MediaTools::Probe(output);
    EXPECT_EQ(probe.value("format").toObject().value("format_name").toString(), QStringLiteral("rm"));
    const QJsonArray streams = probe.value("streams").toArray();
    EXPECT_EQ(streams.size(), int(e.video) + int(e.audio));
    const QList<QJsonObject> info = MediaTools::MediaInfoTracks(output);

    QJsonObject v;
    if (e.video) {
        ASSERT_TRUE(streamOf(streams, "video", &v));
        EXPECT_EQ(v.value("codec_name").toString(), QString::fromLatin1(e.codecName));
        EXPECT_EQ(v.value("width").toInt(), e.width);
        EXPECT_EQ(v.value("height").toInt(), e.height);
        const double duration = v.value("duration").toString().toDouble();
        EXPECT_LE(std::abs(duration - kSeconds), 1.0 / e.fps + 1e-3) << duration;
        const QJsonObject mi = trackOf(info, "Video");
        EXPECT_EQ(mi.value("Format").toString(), QString::fromLatin1(e.videoFormat));
        EXPECT_EQ(mi.value("Width").toString().toInt(), e.width);
        EXPECT_EQ(mi.value("Height").toString().toInt(), e.height);
        EXPECT_NEAR(mi.value("FrameRate").toString().toDouble(), e.fps, 0.01);
    } else {
        EXPECT_FALSE(streamOf(streams, "video", &v));
        EXPECT_TRUE(trackOf(info, "Video").isEmpty());
    }
    QJsonObject a;
    if (e.audio) {
        ASSERT_TRUE(streamOf(streams, "audio", &a));
        EXPECT_EQ(a.value("codec_name").toString(), QStringLiteral("cook"));
        EXPECT_EQ(a.value("channels").toInt(), e.channels);
        EXPECT_EQ(a.value("sample_rate").toString().toInt(), e.sampleRate);
        // The sound's length, not its last interleave block's, within one 1024-sample frame.
        const double duration = a.value("duration").toString().toDouble();
        EXPECT_LE(std::abs(duration - kSeconds), 1024.0 / e.sampleRate + 1e-3) << duration;
        const QJsonObject mi = trackOf(info, "Audio");
        EXPECT_EQ(mi.value("CodecID").toString(), QStringLiteral("cook"));
        EXPECT_EQ(mi.value("Channels").toString().toInt(), e.channels);
    } else {
        EXPECT_FALSE(streamOf(streams, "audio", &a));
    }
    EXPECT_EQ(MediaTools::DecodeErrors(output), QString());
}

INSTANTIATE_TEST_SUITE_P(
    Switches, EngineEncodes,
    ::testing::Values(
        EncodeCase{"TwoPassDefaults", [](JobSettings &) {}, {}},
        EncodeCase{"SinglePass", [](JobSettings &j) { j.singlePass = true; }, {}},
        EncodeCase{"VariableRate", [](JobSettings &j) { j.audience = kVbr; }, {}, &Clips::av, ".rmvb"},
        EncodeCase{"Sharp", [](JobSettings &j) { j.videoMode = VideoMode::Sharp; }, {.fps = 15}},
        EncodeCase{"Smooth", [](JobSettings &j) { j.videoMode = VideoMode::Smooth; }, {}},
        EncodeCase{"Slideshow", [](JobSettings &j) { j.videoMode = VideoMode::Slideshow; j.singlePass = true; }, {.fps = 1}},
        EncodeCase{"Voice", [](JobSettings &j) { j.audioMode = AudioMode::Voice; }, {.channels = 1}},
        EncodeCase{"AudioOnly", [](JobSettings &j) { j.audioOnly = true; }, {.video = false}},
        EncodeCase{"HighResampleNoiseAndLift",
                   [](JobSettings &j) {
                       j.highResampleQuality = true;
                       j.noiseFilter = NoiseFilter::High;
                       j.brighten = true;
                       j.singlePass = true;
                   },
                   {}},
        EncodeCase{"LowNoise", [](JobSettings &j) { j.noiseFilter = NoiseFilter::Low; j.singlePass = true; }, {}},
        EncodeCase{"ResizeWidthKeepsProportion",
                   [](JobSettings &j) {
                       j.resizeWidth = 176;
                       j.highScaleQuality = false;
                       j.singlePass = true;
                   },
                   {.width = 176, .height = 132}},
        EncodeCase{"ResizeHeightKeepsProportion", [](JobSettings &j) { j.resizeHeight = 120; j.singlePass = true; },
                   {.width = 160, .height = 120}},
        EncodeCase{"Rv8Effort", [](JobSettings &j) { j.codec = CodecEffort::Rv8; j.singlePass = true; },
                   {.codecName = "rv30", .videoFormat = "RealVideo 3"}},
        EncodeCase{"Rv10Effort", [](JobSettings &j) { j.codec = CodecEffort::Rv10; }, {}},
        EncodeCase{"NoAudioInSource", [](JobSettings &) {}, {.width = 176, .height = 144, .audio = false}, &Clips::videoOnly},
        EncodeCase{"NoVideoInSource", [](JobSettings &) {}, {.video = false, .sampleRate = 44100}, &Clips::audioOnly}),
    [](const auto &row) { return std::string(row.param.name); });

// Title, author and copyright go into the content header as GBK, which is what the players
// of these files read; both outside readers must give back the same bytes.
TEST(EngineTags, TextsAreWrittenInGbk)
{
    const Clips &clips = Clips::Get();
    ASSERT_TRUE(clips.error.isEmpty());
    QTemporaryDir out;
    JobSettings job = baseJob(clips.av, out.filePath("tags.rm"));
    job.singlePass = true;
    job.title = QStringLiteral("春江花月夜");
    job.author = QStringLiteral("张若虚 (唐)");
    job.copyright = QStringLiteral("墨川压缩2005");
    const Outcome o = EngineRunner::Encode(job);
    ASSERT_TRUE(o.succeeded) << o.reason.toStdString();

    EXPECT_EQ(MediaTools::ProbeTag(job.output, "title"), Gbk::Encode(job.title));
    EXPECT_EQ(MediaTools::ProbeTag(job.output, "author"), Gbk::Encode(job.author));
    EXPECT_EQ(MediaTools::ProbeTag(job.output, "copyright"), Gbk::Encode(job.copyright));
    // mediainfo shows the bytes as Latin-1 characters.
    const QJsonObject general = trackOf(MediaTools::MediaInfoTracks(job.output), "General");
    EXPECT_EQ(Gbk::Decode(general.value("Title").toString().toLatin1()), job.title);
    EXPECT_EQ(Gbk::Decode(general.value("Performer").toString().toLatin1()), job.author);
    EXPECT_EQ(Gbk::Decode(general.value("Copyright").toString().toLatin1()), job.copyright);
}

// A switch that silently did nothing would still give a valid file; measure what it changes.
TEST(EngineFilters, GainAndLiftChangeTheContent)
{
    const Clips &clips = Clips::Get();
    ASSERT_TRUE(clips.error.isEmpty());
    QTemporaryDir out;
    const auto encode = [&](const QString &name, const std::function<void(JobSettings &)> &change) {
        JobSettings job = baseJob(clips.av, out.filePath(name));
        job.singlePass = true;
        change(job);
        const Outcome o = EngineRunner::Encode(job);
        EXPECT_TRUE(o.succeeded) << o.reason.toStdString();
        return job.output;
    };
    const QString plain = encode("plain.rm", [](JobSettings &) {});
    const QString louder = encode("louder.rm", [](JobSettings &j) { j.gainDb = 6; });
    const QString quieter = encode("quieter.rm", [](JobSettings &j) { j.gainDb = -12; });
    const QString lifted = encode("lifted.rm", [](JobSettings &j) { j.brighten = true; });

    const double base = MediaTools::MeanVolume(plain);
    EXPECT_NEAR(MediaTools::MeanVolume(louder) - base, 6.0, 1.0);
    EXPECT_NEAR(MediaTools::MeanVolume(quieter) - base, -12.0, 1.0);
    EXPECT_GT(MediaTools::MeanLuma(lifted), MediaTools::MeanLuma(plain) + 5);
}

// A large noisy picture at the narrowband rate cannot meet its budget: FFmpeg's second pass
// would refuse to start and this library build then crashes. The job must still finish.
TEST(EngineTwoPass, BudgetTooSmallStillEncodes)
{
    QTemporaryDir dir;
    const QString input = dir.filePath("noisy.mkv");
    QString error;
    ASSERT_TRUE(MediaTools::Generate({"-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=25:duration=1,noise=alls=40:allf=t",
                                      "-c:v", "mpeg4", "-q:v", "4", input},
                                     &error))
        << error.toStdString();
    JobSettings job = baseJob(input, dir.filePath("noisy.rm"));
    job.audience = QStringLiteral("窄带上网 CBR 150Kbps");
    job.resizeWidth = 1280;
    const Outcome o = EngineRunner::Encode(job);
    ASSERT_TRUE(o.succeeded) << o.reason.toStdString();
    EXPECT_EQ(o.passes.last(), 2);
    EXPECT_EQ(MediaTools::DecodeErrors(job.output), QString());
    EXPECT_EQ(MediaTools::PacketCount(job.output, "v"), 15);
}

// Two recordings joined end to end change picture size and sample rate midway; the chains
// are rebuilt and the whole length comes through.
TEST(EngineSplice, FormatChangeMidStream)
{
    QTemporaryDir dir;
    const QString first = dir.filePath("a.ts");
    const QString second = dir.filePath("b.ts");
    QString error;
    ASSERT_TRUE(MediaTools::Generate({"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=1.5", "-f", "lavfi", "-i",
                                      "sine=sample_rate=44100:duration=1.5", "-c:v", "mpeg2video", "-c:a", "mp2", first},
                                     &error));
    ASSERT_TRUE(MediaTools::Generate({"-f", "lavfi", "-i", "testsrc=size=176x144:rate=25:duration=1.5", "-f", "lavfi", "-i",
                                      "sine=sample_rate=48000:duration=1.5", "-c:v", "mpeg2video", "-c:a", "mp2",
                                      "-output_ts_offset", "1.5", second},
                                     &error));
    QFile joined(dir.filePath("joined.ts"));
    ASSERT_TRUE(joined.open(QIODevice::WriteOnly));
    for (const QString &part : {first, second}) {
        QFile f(part);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        joined.write(f.readAll());
    }
    joined.close();

    JobSettings job = baseJob(joined.fileName(), dir.filePath("joined.rm"));
    job.singlePass = true;
    const Outcome o = EngineRunner::Encode(job);
    ASSERT_TRUE(o.succeeded) << o.reason.toStdString();
    EXPECT_EQ(MediaTools::DecodeErrors(job.output), QString());
    EXPECT_NEAR(MediaTools::PacketCount(job.output, "v"), 75, 2);
}

// A still half then a busy half: a constant-rate audience holds the busy half near its rate
// (its one-second buffer allows a burst), a VBR audience moves the bits saved on the still
// half into the busy one.
TEST(EngineRateControl, VariableRateFollowsContent)
{
    QTemporaryDir dir;
    const QString input = dir.filePath("still-then-busy.mkv");
    QString error;
    ASSERT_TRUE(MediaTools::Generate({"-f", "lavfi", "-i", "color=c=gray:size=320x240:rate=25:duration=2", "-f", "lavfi",
                                      "-i", "testsrc2=size=320x240:rate=25:duration=2", "-filter_complex",
                                      "[0:v][1:v]concat=n=2:v=1[v]", "-map", "[v]", "-c:v", "mpeg4", "-q:v", "2", input},
                                     &error))
        << error.toStdString();
    const auto busyKbps = [&](const QString &audience, const QString &name) {
        JobSettings job = baseJob(input, dir.filePath(name));
        job.audience = audience;
        const Outcome o = EngineRunner::Encode(job);
        EXPECT_TRUE(o.succeeded) << o.reason.toStdString();
        const auto [still, busy] = MediaTools::VideoBytesAround(job.output, 2.0);
        EXPECT_LT(still * 5, busy);
        return busy * 8 / 2.0 / 1000;
    };
    const double constant = busyKbps(kCbr, "cbr.rm");
    const double variable = busyKbps(kVbr, "vbr.rmvb");
    EXPECT_LT(constant, 386 * 1.6) << constant;
    EXPECT_GT(variable, 1.5 * constant) << variable << " vs " << constant;
}

// The window shows percent, and done/total in plain decimals; with two passes the sweep
// goes 0..100 once and the seconds count both passes.
TEST(EngineProgress, TwoPassSweepAndTenths)
{
    const Clips &clips = Clips::Get();
    ASSERT_TRUE(clips.error.isEmpty());
    QTemporaryDir out;
    const Outcome o = EngineRunner::Encode(baseJob(clips.av, out.filePath("p.rm")));
    ASSERT_TRUE(o.succeeded) << o.reason.toStdString();
    EXPECT_EQ(o.isEncodingAfterStart, 1);
    EXPECT_EQ(o.startedBeforeEnd, 1);
    EXPECT_EQ(o.isEncodingInHandler, 0);
    EXPECT_TRUE(o.lastSucceededInHandler);
    EXPECT_TRUE(o.lastErrorInHandler.isEmpty());
    ASSERT_FALSE(o.percents.isEmpty());
    EXPECT_EQ(o.percents.last(), 100);
    EXPECT_EQ(o.passes.first(), 1);
    EXPECT_EQ(o.passes.last(), 2);
    for (qsizetype i = 1; i < o.percents.size(); ++i) {
        EXPECT_GE(o.percents[i], o.percents[i - 1]);
        EXPECT_GE(o.passes[i], o.passes[i - 1]);
    }
    for (const double s : o.seconds)
        EXPECT_DOUBLE_EQ(s, std::round(s * 10) / 10) << s;
    EXPECT_DOUBLE_EQ(o.secondsTotal, 2 * kSeconds);
    EXPECT_DOUBLE_EQ(o.secondsDone, o.secondsTotal);
    EXPECT_EQ(QString::number(o.secondsTotal), QStringLiteral("6"));
}

// The window's road: pp writes the job, the engine loads it, a relative output lands in the
// output folder it was given.
TEST(EngineJobFile, LoadsJobAndPlacesRelativeOutput)
{
    const Clips &clips = Clips::Get();
    ASSERT_TRUE(clips.error.isEmpty());
    QTemporaryDir out;
    JobSettings job = baseJob(clips.av, QStringLiteral("relative.rm"));
    job.singlePass = true;
    const QString jobPath = out.filePath("1.rpjf");
    QString error;
    ASSERT_TRUE(JobFile::Write(jobPath, job, &error)) << error.toStdString();

    FfmpegEncodingEngine engine;
    engine.SetAudiencesDirectory(EngineRunner::Audiences() + "/");
    engine.SetOutputDirectory(out.path() + "/");
    engine.SetJobFile(jobPath);
    const Outcome o = EngineRunner::Run(engine, [&] { engine.StartEncoding(); });
    ASSERT_TRUE(o.succeeded) << o.reason.toStdString();
    EXPECT_TRUE(QFile::exists(out.filePath("relative.rm")));
    EXPECT_EQ(MediaTools::DecodeErrors(out.filePath("relative.rm")), QString());
}

// Cancel ends the program at once, so StopEncoding must return promptly with the partial
// file gone, and the job must still end with a failure notification. Until then the
// notifications come at least once a second.
TEST(EngineStop, AbortsPromptlyAndRemovesPartialFile)
{
    QTemporaryDir dir;
    const QString input = dir.filePath("long.mkv");
    QString error;
    ASSERT_TRUE(MediaTools::MakeClip(input, 20, "640x480", 25, 44100, 2, &error)) << error.toStdString();
    const QString output = dir.filePath("long.rm");

    FfmpegEncodingEngine engine;
    engine.SetAudiencesDirectory(EngineRunner::Audiences());
    JobSettings job = baseJob(input, output);
    job.singlePass = true;
    qint64 stopMs = -1;
    bool partialSeen = false;
    int encodingAfterStop = -1;
    const Outcome o = EngineRunner::Run(engine, [&] {
        engine.StartJob(job);
        QObject::connect(&engine, &EncodingEngine::EncodingProgress, &engine, [&](int, int percent, double, const QString &) {
            if (stopMs >= 0 || percent < 20)
                return;
            partialSeen = MediaTools::PartialOutputLeft(output);
            QElapsedTimer t;
            t.start();
            engine.StopEncoding();
            stopMs = t.elapsed();
            encodingAfterStop = engine.IsEncoding();
        });
    });
    ASSERT_TRUE(o.ended);
    ASSERT_GE(stopMs, 0) << "no progress before the end";
    EXPECT_TRUE(partialSeen);
    // Margins that hold while other encodes share the two cores.
    EXPECT_LT(stopMs, 1500);
    // The window's progress bar must move about once a second of wall time.
    ASSERT_FALSE(o.arrivals.isEmpty());
    EXPECT_LT(o.arrivals.first(), 2500);
    for (qsizetype i = 1; i < o.arrivals.size(); ++i)
        EXPECT_LT(o.arrivals[i] - o.arrivals[i - 1], 2500) << "gap before notification " << i;
    EXPECT_EQ(encodingAfterStop, 0);
    EXPECT_FALSE(o.succeeded);
    EXPECT_TRUE(o.reason.contains(QStringLiteral("取消"))) << o.reason.toStdString();
    EXPECT_FALSE(QFile::exists(output));
    EXPECT_FALSE(MediaTools::PartialOutputLeft(output));
}

} // namespace
