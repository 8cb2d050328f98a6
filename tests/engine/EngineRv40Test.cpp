#include "EngineRunner.h"
#include "MediaTools.h"

#include "engine/FfmpegEncodingEngine.h"
#include "../support/ToolRun.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corva;
using corva::test::EngineRunner;
using corva::test::MediaTools;
using corva::test::Outcome;
using corva::test::RunGstreamer;
using corva::test::RunTool;
using corva::test::ToolResult;

namespace {

const QString kCbr = QStringLiteral("标准画质 CBR 450Kbps");
const QString kNarrow = QStringLiteral("窄带上网 CBR 150Kbps");

// Pictures ffmpeg decodes from the file, and what it printed while doing so.
int ffmpegPictures(const QString &path, QString *errors)
{
    const ToolResult r = RunTool(QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", "v:0", "-count_frames",
                                                            "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", path});
    *errors = MediaTools::DecodeErrors(path);
    return r.exitCode == 0 ? QString::fromUtf8(r.out).trimmed().toInt() : -1;
}

// Pictures GStreamer's own RealMedia demuxer and its decoder for the codec make of the file.
int gstreamerPictures(const QString &path, const QString &decoder, int width, int height, const QString &scratch)
{
    const ToolResult r = RunGstreamer({"filesrc", "location=" + path, "!", "rmdemux", "name=d", "d.", "!", "queue", "!",
                                       decoder, "!", "filesink",
                                       "location=" + scratch});
    if (r.exitCode != 0)
        return -1;
    const qint64 frame = qint64(width) * height * 3 / 2;
    return static_cast<int>(QFileInfo(scratch).size() / frame);
}

struct Rv40Case
{
    const char *name;
    CodecEffort codec;
    bool singlePass;
    // what the readers call the codec: ffprobe, GStreamer's decoder, mediainfo
    const char *codecName = "rv40";
    const char *gstDecoder = "avdec_rv40";
    const char *mediaInfoFormat = "RealVideo 4";
};

class EngineRv40 : public ::testing::TestWithParam<Rv40Case>
{
};

// What our users call rmvb: every reader of the era's format must take the whole film, not
// only FFmpeg; seeking lands, and jj joins two such films.
TEST_P(EngineRv40, EveryReaderDecodesTheWholeFilm)
{
    QTemporaryDir dir;
    const QString input = dir.filePath("pan.mkv");
    QString error;
    // A pan across a detailed picture with a cut in the middle, and sound.
    ASSERT_TRUE(MediaTools::Generate({"-f", "lavfi", "-i", "testsrc2=size=352x288:rate=25:duration=2", "-f", "lavfi", "-i",
                                      "mandelbrot=size=352x288:rate=25", "-f", "lavfi", "-i", "sine=frequency=660:duration=4",
                                      "-filter_complex", "[1:v]trim=duration=2,setpts=PTS-STARTPTS[m];[0:v][m]concat=n=2:v=1[v]",
                                      "-map", "[v]", "-map", "2:a", "-c:v", "mpeg4", "-q:v", "2", "-c:a", "mp2", input},
                                     &error))
        << error.toStdString();

    JobSettings job;
    job.input = input;
    job.output = dir.filePath("film.rmvb");
    job.audience = kCbr;
    job.codec = GetParam().codec;
    job.singlePass = GetParam().singlePass;
    const Outcome o = EngineRunner::Encode(job);
    ASSERT_TRUE(o.succeeded) << o.reason.toStdString();

    const QJsonObject probe = MediaTools::Probe(job.output);
    QJsonObject video;
    for (const QJsonValue &s : probe.value("streams").toArray()) {
        if (s.toObject().value("codec_type").toString() == "video")
            video = s.toObject();
    }
    EXPECT_EQ(video.value("codec_name").toString(), QString::fromLatin1(GetParam().codecName));
    EXPECT_EQ(video.value("width").toInt(), 352);
    EXPECT_EQ(video.value("height").toInt(), 288);

    QString errors;
    const int pictures = ffmpegPictures(job.output, &errors);
    EXPECT_TRUE(errors.isEmpty()) << errors.toStdString();
    EXPECT_NEAR(pictures, 100, 1);
    EXPECT_EQ(gstreamerPictures(job.output, QString::fromLatin1(GetParam().gstDecoder), 352, 288, dir.filePath("gst.yuv")),
              pictures);

    bool named = false;
    for (const QJsonObject &t : MediaTools::MediaInfoTracks(job.output))
        named = named || t.value("Format").toString() == QString::fromLatin1(GetParam().mediaInfoFormat);
    EXPECT_TRUE(named) << "mediainfo does not see " << GetParam().mediaInfoFormat;

    // The cut at 2 s starts with a keyframe (the audience's interval alone would put none there).
    const ToolResult types = RunTool(QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                                                "frame=pict_type", "-of", "csv=p=0", job.output});
    const QList<QByteArray> kinds = types.out.split('\n');
    ASSERT_GE(kinds.size(), 60);
    EXPECT_EQ(kinds.mid(1, 45).count("I"), 0) << "a keyframe inside the first scene";
    EXPECT_GE(kinds.mid(48, 5).count("I"), 1) << "no keyframe at the cut";

    // Every effort puts a B-picture between references where they pay, as on this film: in the
    // file they come after their later reference, so the packets' times step back, and players
    // still show every picture in order.
    {
        EXPECT_GE(kinds.count("B"), 30);
        const ToolResult packets = RunTool(QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                                                      "packet=pts", "-of", "csv=p=0", job.output});
        int stepsBack = 0;
        long long last = -1;
        for (const QByteArray &line : packets.out.split('\n')) {
            if (line.trimmed().isEmpty())
                continue;
            const long long pts = line.trimmed().toLongLong();
            stepsBack += pts < last;
            last = pts;
        }
        EXPECT_GE(stepsBack, 30);
        const ToolResult shown = RunTool(QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                                                    "frame=pts", "-of", "csv=p=0", job.output});
        last = -1;
        for (const QByteArray &line : shown.out.split('\n')) {
            if (line.trimmed().isEmpty())
                continue;
            const long long pts = line.trimmed().toLongLong();
            EXPECT_GT(pts, last) << "pictures shown out of order";
            last = pts;
        }
    }

    // Seeking into the second scene decodes cleanly from the keyframe at the cut.
    const ToolResult seek = RunTool(QStringLiteral("ffmpeg"), {"-v", "error", "-ss", "2.5", "-i", job.output, "-frames:v",
                                                              "5", "-f", "null", "-"});
    EXPECT_EQ(seek.exitCode, 0);
    EXPECT_TRUE(seek.err.trimmed().isEmpty()) << seek.err.toStdString();

    // jj joins two such films into one that decodes whole.
    QFile::copy(job.output, dir.filePath("second.rmvb"));
    const QString joined = dir.filePath("joined.rmvb");
    const ToolResult jj = RunTool(QStringLiteral(CORVA_APP_DIR "/jj"), {"-i", job.output, "-i", dir.filePath("second.rmvb"), "-o", joined});
    ASSERT_EQ(jj.exitCode, 0) << jj.err.toStdString();
    EXPECT_EQ(ffmpegPictures(joined, &errors), 2 * pictures);
    EXPECT_TRUE(errors.isEmpty()) << errors.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Effort, EngineRv40,
                         ::testing::Values(Rv40Case{"Rv9OnePass", CodecEffort::Rv9, true},
                                           Rv40Case{"Rv9TwoPasses", CodecEffort::Rv9, false},
                                           Rv40Case{"Rv10OnePass", CodecEffort::Rv10, true},
                                           Rv40Case{"Rv10TwoPasses", CodecEffort::Rv10, false},
                                           Rv40Case{"Rv8OnePass", CodecEffort::Rv8, true, "rv30", "avdec_rv30",
                                                    "RealVideo 3"},
                                           Rv40Case{"Rv8TwoPasses", CodecEffort::Rv8, false, "rv30", "avdec_rv30",
                                                    "RealVideo 3"}),
                         [](const auto &row) { return std::string(row.param.name); });

// A RealVideo 8 film and a RealVideo 9 one are not joined: jj says why, naming both codecs.
TEST(EngineRealVideo8, JoinerRefusesItBesideRealVideo9)
{
    QTemporaryDir dir;
    const QString input = dir.filePath("short.mkv");
    QString error;
    ASSERT_TRUE(MediaTools::Generate({"-f", "lavfi", "-i", "testsrc2=size=176x144:rate=25:duration=1", "-c:v", "ffv1", input},
                                     &error))
        << error.toStdString();
    QStringList outputs;
    for (const CodecEffort codec : {CodecEffort::Rv8, CodecEffort::Rv9}) {
        JobSettings job;
        job.input = input;
        job.output = dir.filePath(codec == CodecEffort::Rv8 ? "rv8.rm" : "rv9.rm");
        job.audience = kNarrow;
        job.codec = codec;
        job.singlePass = true;
        const Outcome o = EngineRunner::Encode(job);
        ASSERT_TRUE(o.succeeded) << o.reason.toStdString();
        outputs << job.output;
    }
    const ToolResult jj =
        RunTool(QStringLiteral(CORVA_APP_DIR "/jj"), {"-i", outputs[0], "-i", outputs[1], "-o", dir.filePath("joined.rm")});
    EXPECT_NE(jj.exitCode, 0);
    const QString said = QString::fromUtf8(jj.out) + jj.err;
    EXPECT_TRUE(said.contains(QStringLiteral("视频编码为 RV40，输入 1 为 RV30"))) << said.toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("joined.rm")));
}

struct ShapeCase
{
    const char *name;
    const char *source; // lavfi graph
    double seconds;
    int width;
    int height;
};

class EngineRv40Shapes : public ::testing::TestWithParam<ShapeCase>
{
};

// Odd sizes, the smallest picture, one picture, black and flat films, at the lowest rate:
// no crash, every picture decodes.
TEST_P(EngineRv40Shapes, LowestAudienceStillDecodes)
{
    const ShapeCase &c = GetParam();
    QTemporaryDir dir;
    const QString input = dir.filePath("shape.mkv");
    QString error;
    ASSERT_TRUE(MediaTools::Generate({"-f", "lavfi", "-i", QString::fromLatin1(c.source), "-t", QString::number(c.seconds),
                                      "-c:v", "ffv1", input},
                                     &error))
        << error.toStdString();
    JobSettings job;
    job.input = input;
    job.output = dir.filePath("shape.rm");
    job.audience = kNarrow;
    job.singlePass = true;
    const Outcome o = EngineRunner::Encode(job);
    ASSERT_TRUE(o.succeeded) << o.reason.toStdString();
    QString errors;
    const int pictures = ffmpegPictures(job.output, &errors);
    EXPECT_TRUE(errors.isEmpty()) << errors.toStdString();
    EXPECT_GE(pictures, 1);
    const QJsonObject probe = MediaTools::Probe(job.output);
    const QJsonObject v = probe.value("streams").toArray().first().toObject();
    EXPECT_EQ(v.value("width").toInt(), c.width);
    EXPECT_EQ(v.value("height").toInt(), c.height);
    EXPECT_EQ(gstreamerPictures(job.output, QStringLiteral("avdec_rv40"), c.width, c.height, dir.filePath("gst.yuv")), pictures);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, EngineRv40Shapes,
    ::testing::Values(ShapeCase{"OddMacroblocks", "testsrc2=size=100x60:rate=15", 2, 100, 60},
                      ShapeCase{"Smallest", "testsrc2=size=16x16:rate=15", 2, 16, 16},
                      ShapeCase{"OnePicture", "testsrc2=size=176x144:rate=15", 0.05, 176, 144},
                      ShapeCase{"Black", "color=c=black:size=176x144:rate=15", 2, 176, 144},
                      ShapeCase{"Flat", "color=c=0x808040:size=176x144:rate=15", 2, 176, 144},
                      ShapeCase{"Noise", "nullsrc=size=176x144:rate=15,geq=random(1)*255:128:128", 2, 176, 144}),
    [](const auto &row) { return std::string(row.param.name); });

} // namespace

namespace {

// A constant-rate audience spends its video rate over a minute of film, in one pass and in
// two, on a film with a busy pan, a grainy still and a zoom, with cuts between.
TEST(EngineRv40Rate, ConstantRateHeldOverAMinute)
{
    QTemporaryDir dir;
    const QString input = dir.filePath("minute.mkv");
    QString error;
    ASSERT_TRUE(MediaTools::Generate({"-f", "lavfi", "-i", "testsrc2=size=176x144:rate=15:duration=20", "-f", "lavfi", "-i",
                                      "smptebars=size=176x144:rate=15:duration=20", "-f", "lavfi", "-i",
                                      "mandelbrot=size=176x144:rate=15", "-filter_complex",
                                      "[1:v]noise=alls=12:allf=t[n];[2:v]trim=duration=20,setpts=PTS-STARTPTS[m];[0:v][n][m]concat=n=3:v=1[v]", "-map",
                                      "[v]", "-c:v", "ffv1", input},
                                     &error))
        << error.toStdString();
    for (const bool singlePass : {true, false}) {
        JobSettings job;
        job.input = input;
        job.output = dir.filePath(singlePass ? "one.rm" : "two.rm");
        job.audience = kNarrow; // 118 kbit/s of video
        job.singlePass = singlePass;
        const Outcome o = EngineRunner::Encode(job);
        ASSERT_TRUE(o.succeeded) << o.reason.toStdString();
        const auto [before, after] = MediaTools::VideoBytesAround(job.output, 0);
        const double kbps = double(before + after) * 8 / 60.0 / 1000;
        EXPECT_NEAR(kbps / 118.0, 1.0, 0.05) << (singlePass ? "one pass: " : "two passes: ") << kbps;
    }
}

} // namespace
