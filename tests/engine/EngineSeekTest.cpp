#include "EngineRunner.h"
#include "MediaTools.h"

#include "engine/FfmpegEncodingEngine.h"
#include "../support/ToolRun.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corva;
using corva::test::EngineRunner;
using corva::test::MediaTools;
using corva::test::Outcome;
using corva::test::RunTool;
using corva::test::ToolResult;

namespace {

const QString kNarrow = QStringLiteral("窄带上网 CBR 150Kbps");
const QString kStandard = QStringLiteral("标准画质 CBR 450Kbps");

Outcome encode(const QString &input, const QString &output, const QString &audience)
{
    FfmpegEncodingEngine engine;
    engine.SetAudiencesDirectory(QStringLiteral(CORVA_APP_DIR "/Audiences"));
    JobSettings job;
    job.input = input;
    job.output = output;
    job.audience = audience;
    return EngineRunner::Run(engine, [&] { engine.StartJob(job); }, 120000);
}

int keyframes(const QString &path)
{
    const ToolResult r = RunTool(QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                                            "packet=flags", "-of", "csv=p=0", path});
    return static_cast<int>(r.out.count("K"));
}

// What FFmpeg says when it is asked to start `seconds` into the file: its demuxer's complaints
// about seeking ("could not seek", "read_timestamp() failed") come as warnings.
QString seekComplaints(const QString &path, double seconds)
{
    const ToolResult r = RunTool(QStringLiteral("ffmpeg"), {"-v", "warning", "-ss", QString::number(seconds), "-i", path,
                                                           "-an", "-frames:v", "1", "-f", "null", "-"});
    if (r.exitCode != 0)
        return QStringLiteral("ffmpeg exited with %1: %2").arg(r.exitCode).arg(r.err);
    return r.err.trimmed();
}

void expectSeeksEverywhere(const QString &path, double seconds)
{
    for (double t = 0.5; t < seconds - 0.2; t += 0.5)
        EXPECT_EQ(seekComplaints(path, t), QString()) << path.toStdString() << " at " << t << " s";
}

// Films shorter than a keyframe interval, whose only keyframe used to be the first: FFmpeg
// looks for the last keyframe from the end backwards and gave up; and a pan whose keyframes
// are a few hundred bytes, where the search leapt over the keyframe after it. Two passes, as
// the window encodes. A join of the two short films as well.
TEST(EngineSeek, FfmpegSeeksInShortFilmsAndTheirJoin)
{
    QTemporaryDir dir;
    const QString still = dir.filePath("still.mkv");
    const QString pan = dir.filePath("pan.mkv");
    QString error;
    ASSERT_TRUE(MediaTools::Generate({"-f", "lavfi", "-i", "testsrc2=size=352x288:rate=25:duration=4", "-c:v", "ffv1", still}, &error))
        << error.toStdString();
    ASSERT_TRUE(MediaTools::Generate({"-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=25:duration=6,crop=352:288:x='t*100':y=0",
                                      "-c:v", "ffv1", pan},
                                     &error))
        << error.toStdString();

    struct Film
    {
        QString input;
        QString audience;
        double seconds;
        QString output;
    };
    std::vector<Film> films{{still, kNarrow, 4, dir.filePath("still-narrow.rm")},
                            {still, kStandard, 4, dir.filePath("still-standard.rm")},
                            {pan, kNarrow, 6, dir.filePath("pan-narrow.rm")}};
    for (Film &f : films) {
        const Outcome o = encode(f.input, f.output, f.audience);
        ASSERT_TRUE(o.succeeded) << o.reason.toStdString();
        EXPECT_GE(keyframes(f.output), 2) << f.output.toStdString();
        expectSeeksEverywhere(f.output, f.seconds);
    }

    const QString joined = dir.filePath("joined.rm");
    const ToolResult jj = RunTool(QStringLiteral(CORVA_APP_DIR "/jj"), {"-i", films[0].output, "-i", films[0].output, "-o", joined});
    ASSERT_EQ(jj.exitCode, 0) << jj.err.toStdString();
    expectSeeksEverywhere(joined, 8);
}

// One picture alone: FFmpeg's frame threads (its default) complain that they cannot size
// their buffers unless a second picture follows; the film still shows the one picture.
TEST(EngineSeek, OnePictureFilmDecodesQuietlyWithDefaultThreads)
{
    QTemporaryDir dir;
    const QString input = dir.filePath("one.mkv");
    QString error;
    ASSERT_TRUE(MediaTools::Generate({"-f", "lavfi", "-i", "testsrc2=size=352x288:rate=25", "-frames:v", "1", "-c:v", "ffv1", input}, &error))
        << error.toStdString();
    for (const QString &audience : {kNarrow, kStandard}) {
        const QString output = dir.filePath(audience == kNarrow ? "narrow.rm" : "standard.rm");
        const Outcome o = encode(input, output, audience);
        ASSERT_TRUE(o.succeeded) << o.reason.toStdString();
        for (const QString &threads : {QStringLiteral("0"), QStringLiteral("3")}) {
            const ToolResult r = RunTool(QStringLiteral("ffmpeg"), {"-v", "error", "-threads", threads, "-i", output, "-f", "null", "-"});
            EXPECT_EQ(r.exitCode, 0);
            EXPECT_TRUE(r.err.trimmed().isEmpty()) << threads.toStdString() << " threads: " << r.err.toStdString();
        }
        // The second picture is shown within the first one's time: the film lasts less than
        // two pictures.
        const QJsonObject probe = MediaTools::Probe(output);
        const QStringList rate = probe.value("streams").toArray().first().toObject().value("r_frame_rate").toString().split('/');
        ASSERT_EQ(rate.size(), 2);
        const double picture = rate[1].toDouble() / rate[0].toDouble();
        const double duration = probe.value("format").toObject().value("duration").toString().toDouble();
        EXPECT_GT(duration, 0);
        EXPECT_LT(duration, 2 * picture) << output.toStdString();
        EXPECT_EQ(MediaTools::PacketCount(output, QStringLiteral("v")), 2);
    }
}

} // namespace
