#include "MediaTools.h"
#include "../../support/ToolRun.h"

#include "common/CommandLine.h"
#include "engine/JobFile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>

#include <sys/stat.h>
#include <unistd.h>

using namespace corva;
using corva::test::RunGstreamer;
using corva::test::RunTool;
using corva::test::ToolResult;
using corva::test::MediaTools;

namespace {

const QString kPp = QStringLiteral(CORVA_APP_DIR "/pp");
const QString kCbr = QStringLiteral("标准画质 CBR 450Kbps");

ToolResult runPp(const QStringList &arguments, int timeoutMs = 60000)
{
    return RunTool(kPp, arguments, timeoutMs);
}

class PpTool : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_clip = m_dir.filePath(QStringLiteral("短片 one.mkv"));
        QString error;
        ASSERT_TRUE(MediaTools::MakeClip(m_clip, 2, "176x144", 25, 44100, 2, &error)) << error.toStdString();
    }
    QString path(const QString &name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
    QString m_clip;
};

// The window's line, split the way the platform hands it to pp: the job must hold the
// values exactly, the input made absolute, and nothing be encoded.
TEST_F(PpTool, WritesJobFileFromWindowLine)
{
    const QString job = path("1.rpjf");
    const QString line = kPp + " -i " + CommandLine::QuoteValue(m_clip) + " -o \"out 1.rm\" -t \"标题\" -a \"\" -c \"墨川压缩2005\" -ad \""
                         + kCbr + "\" -vm sharp -dt -ag -6 -rs 0x120 -rq fast -vco rv10 -cj " + job;
    QStringList args = CommandLine::Split(line);
    args.removeFirst();
    const ToolResult r = runPp(args);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    QString error;
    const auto settings = JobFile::Read(job, &error);
    ASSERT_TRUE(settings) << error.toStdString();
    EXPECT_EQ(QDir::fromNativeSeparators(settings->input), m_clip);
    EXPECT_EQ(settings->output, QStringLiteral("out 1.rm"));
    EXPECT_EQ(settings->title, QStringLiteral("标题"));
    EXPECT_EQ(settings->copyright, QStringLiteral("墨川压缩2005"));
    EXPECT_EQ(settings->audience, kCbr);
    EXPECT_EQ(settings->videoMode, VideoMode::Sharp);
    EXPECT_TRUE(settings->singlePass);
    EXPECT_EQ(settings->gainDb, -6);
    EXPECT_EQ(settings->resizeHeight, 120);
    EXPECT_FALSE(settings->highScaleQuality);
    EXPECT_EQ(settings->codec, CodecEffort::Rv10);
    EXPECT_FALSE(QFile::exists(path("out 1.rm")));
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files).size(), 2); // the clip and the job
}

struct ErrorCase
{
    const char *name;
    // Arguments after -i CLIP -o OUT, with "%D" standing for the test folder.
    QStringList extra;
    int exitCode;
    const char *messagePart;
    bool replacesInput = false; // extra holds its own -i
};

class PpToolErrors : public PpTool, public ::testing::WithParamInterface<ErrorCase>
{
};

// A refused job leaves no job file, not even the one an earlier run wrote there: the window
// ignores pp's exit status and would otherwise encode the previous job again.
TEST_P(PpToolErrors, MessageStatusAndNoJobFile)
{
    const QString job = path("1.rpjf");
    QString error;
    JobSettings stale;
    stale.input = "old.avi";
    stale.output = "old.rm";
    stale.audience = kCbr;
    ASSERT_TRUE(JobFile::Write(job, stale, &error));

    QStringList args;
    if (!GetParam().replacesInput)
        args << "-i" << m_clip;
    args << "-o" << path("out.rm");
    for (const QString &a : GetParam().extra)
        args << QString(a).replace("%D", m_dir.path());
    args << "-cj" << job;
    const ToolResult r = runPp(args);
    EXPECT_NE(r.exitCode, -2); // not crashed
    EXPECT_EQ(r.exitCode, GetParam().exitCode) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QString::fromUtf8(GetParam().messagePart))) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(job));
    EXPECT_FALSE(QFile::exists(path("out.rm")));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PpToolErrors,
    ::testing::Values(
        ErrorCase{"UnknownSwitch", {"-ad", kCbr, "-zz"}, 2, "-zz"},
        ErrorCase{"MissingValue", {"-ad", kCbr, "-vco"}, 2, "-vco"},
        ErrorCase{"BadValue", {"-ad", kCbr, "-vm", "turbo"}, 2, "turbo"},
        ErrorCase{"NoAudience", {}, 2, "-ad"},
        ErrorCase{"UnknownAudience", {"-ad", "没有这个"}, 3, "没有这个"},
        ErrorCase{"MissingInput", {"-i", "%D/missing.avi", "-ad", kCbr}, 4, "missing.avi", true},
        ErrorCase{"InputIsFolder", {"-i", "%D", "-ad", kCbr}, 4, "无法读取", true},
        ErrorCase{"SizeOutOfRange", {"-ad", kCbr, "-rs", "99999x2"}, 2, "宽应为 0 或 16–2048"},
        ErrorCase{"TitleOutsideGbk", {"-ad", kCbr, "-t", "片名\U0001F600"}, 2, "U+1F600"},
        ErrorCase{"CopyrightOverHeaderLimit", {"-ad", kCbr, "-c", QString(40000, QChar(0x58A8))}, 2, "版权（-c）太长"}),
    [](const auto &row) { return std::string(row.param.name); });

TEST_F(PpTool, UnwritableJobPathFails)
{
    const QString job = path("no/such/folder/1.rpjf");
    const ToolResult r = runPp({"-i", m_clip, "-o", path("out.rm"), "-ad", kCbr, "-cj", job});
    EXPECT_EQ(r.exitCode, 5) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(job)) << r.err.toStdString();
}

// Without -cj pp is a script-friendly encoder: a finished file and a progress bar on stderr.
TEST_F(PpTool, EncodesDirectlyWithProgress)
{
    const QString out = path("直接.rm");
    const ToolResult r = runPp({"-i", m_clip, "-o", out, "-t", "标题", "-ad", kCbr, "-vco", "rv9"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("100%")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("速度")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("剩余")) << r.err.toStdString();
    EXPECT_EQ(MediaTools::DecodeErrors(out), QString());
    EXPECT_EQ(MediaTools::PacketCount(out, "v"), 50);
}

// -vco rv8 writes RealVideo 8 (RV30) for players that know no later format, in one pass and
// two: FFmpeg names and decodes it whole.
TEST_F(PpTool, Rv8WritesRealVideo8)
{
    for (const bool onePass : {true, false}) {
        const QString out = path(onePass ? "rv8-one.rm" : "rv8-two.rm");
        QStringList args{"-i", m_clip, "-o", out, "-ad", kCbr, "-vco", "rv8"};
        if (onePass)
            args << "-dt";
        const ToolResult r = runPp(args);
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        const ToolResult probe = RunTool(QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                                                    "stream=codec_name", "-of", "csv=p=0", out});
        EXPECT_EQ(QString::fromUtf8(probe.out).trimmed(), QStringLiteral("rv30")) << (onePass ? "one pass" : "two passes");
        EXPECT_EQ(MediaTools::DecodeErrors(out), QString());
        EXPECT_EQ(MediaTools::PacketCount(out, "v"), 50);
    }
}

TEST_F(PpTool, DirectEncodeFailureReportsReason)
{
    const QString bad = path("bad.avi");
    QFile f(bad);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(5000, 'z'));
    f.close();
    const ToolResult r = runPp({"-i", bad, "-o", path("bad.rm"), "-ad", kCbr});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(bad)) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(path("bad.rm")));
    EXPECT_FALSE(QFile::exists(path("bad.rm.part")));
}

// Subtitles that are not text, or not there: the reason, a failing status, and no output.
TEST_F(PpTool, UnusableSubtitlesStopTheJob)
{
    const QString junk = path("junk.srt");
    QFile f(junk);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    for (int i = 0; i < 2000; ++i)
        f.putChar(char((i * 37 + 3) % 256));
    f.close();
    const QString out = path("字幕.rm");
    ToolResult r = runPp({"-i", m_clip, "-o", out, "-ad", kCbr, "-dt", "-sub", junk});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(junk)) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(out));

    r = runPp({"-i", m_clip, "-o", out, "-ad", kCbr, "-dt", "-sub", path("没有.srt")});
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_TRUE(r.err.contains(QStringLiteral("找不到字幕文件"))) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(out));

    // A pipe named with -sub would hold the job for ever; it is no missing file either.
    const QString fifo = path("pipe.srt");
    ASSERT_EQ(::mkfifo(fifo.toUtf8().constData(), 0600), 0);
    r = runPp({"-i", m_clip, "-o", out, "-ad", kCbr, "-dt", "-sub", fifo}, 10000);
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_TRUE(r.err.contains(QStringLiteral("是管道（FIFO），不是普通文件")) && r.err.contains(fifo))
        << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(out));

    r = runPp({"-i", m_clip, "-o", out, "-ad", kCbr, "-dt", "-sub", "NONE"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(QFile::exists(out));
}

// Ctrl+C, a kill or a closed terminal in a script must not leave a broken file behind; with
// the temporary unnamed (or named, as on systems without unnamed files) alike.
struct StopCase
{
    const char *name;
    int signal;
    bool named;
};

class PpToolStopped : public PpTool, public ::testing::WithParamInterface<StopCase>
{
};

TEST_P(PpToolStopped, LeavesOnlyTheSource)
{
    const QString input = path("long.mkv");
    QString error;
    ASSERT_TRUE(MediaTools::MakeClip(input, 20, "640x480", 25, 44100, 2, &error)) << error.toStdString();
    const QString out = path("long.rm");
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (GetParam().named)
        env.insert("CORVA_NAMED_TEMPORARY", "1");
    else
        env.remove("CORVA_NAMED_TEMPORARY");
    p.setProcessEnvironment(env);
    p.start(kPp, {"-i", input, "-o", out, "-ad", kCbr, "-dt"});
    ASSERT_TRUE(p.waitForStarted(5000));
    // Wait until the encode is under way, shown by its progress line.
    QByteArray progress;
    for (int i = 0; i < 200 && !progress.contains("%"); ++i) {
        p.waitForReadyRead(50);
        progress += p.readAllStandardError();
    }
    ASSERT_TRUE(progress.contains("%")) << progress.toStdString();
    ::kill(static_cast<pid_t>(p.processId()), GetParam().signal);
    ASSERT_TRUE(p.waitForFinished(5000));
    if (GetParam().signal == SIGKILL)
        EXPECT_EQ(p.exitStatus(), QProcess::CrashExit);
    else
        EXPECT_EQ(p.exitCode(), 130) << p.readAllStandardError().toStdString();
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files), (QStringList{"long.mkv", "短片 one.mkv"}));
}

INSTANTIATE_TEST_SUITE_P(Cases, PpToolStopped,
                         ::testing::Values(StopCase{"Interrupt", SIGINT, false}, StopCase{"Terminate", SIGTERM, true},
                                           StopCase{"HangUp", SIGHUP, false}, StopCase{"HangUpNamed", SIGHUP, true},
                                           StopCase{"KillUnnamed", SIGKILL, false}),
                         [](const auto &row) { return std::string(row.param.name); });

// What every finished file must satisfy: FFmpeg's reader and decoder, our joiner and
// GStreamer's demuxer read it whole.
void expectReadWhole(const QString &file, double seconds)
{
    EXPECT_EQ(MediaTools::DecodeErrors(file), QString()) << file.toStdString();
    EXPECT_NEAR(MediaTools::Probe(file)["format"].toObject()["duration"].toString().toDouble(), seconds, 0.3);
    const QString joined = file + ".joined.rm";
    const ToolResult jj = RunTool(QStringLiteral(CORVA_APP_DIR "/jj"), {"-i", file, "-i", file, "-o", joined}, 30000);
    EXPECT_EQ(jj.exitCode, 0) << jj.err.toStdString();
    QFile::remove(joined);
    const QString pipeline = QStringLiteral("filesrc location=%1 ! rmdemux name=d d.video_0 ! queue ! avdec_rv40 ! fakesink "
                                            "d.audio_0 ! queue ! avdec_cook ! fakesink").arg(file);
    // gst-launch-1.0 is installed by scripts/install-deps
    const ToolResult gst = RunGstreamer(QProcess::splitCommand(pipeline), 30000);
    EXPECT_EQ(gst.exitCode, 0) << file.toStdString() << ": " << gst.err.toStdString();
}

// Names that a fixed temporary name would have hit, and a source under such a name: none is
// written, followed or removed, whether the encode succeeds or fails.
TEST_F(PpTool, NeverTouchesFilesTheJobDidNotMake)
{
    const QString source = path("film.rm.part");
    ASSERT_TRUE(QFile::copy(m_clip, source));
    QFile victim(path("victim.txt"));
    ASSERT_TRUE(victim.open(QIODevice::WriteOnly));
    victim.write("must stay");
    victim.close();
    ASSERT_TRUE(QFile::link(path("victim.txt"), path("o.rm.part")));
    QFile user(path("out.rm.part"));
    ASSERT_TRUE(user.open(QIODevice::WriteOnly));
    user.write("a user's file");
    user.close();
    QFile before(m_clip);
    ASSERT_TRUE(before.open(QIODevice::ReadOnly));
    const QByteArray clipBytes = before.readAll();

    for (const bool named : {false, true}) {
        qputenv("CORVA_NAMED_TEMPORARY", named ? "1" : "0");
        ToolResult r = runPp({"-i", source, "-o", path("film.rm"), "-ad", kCbr, "-dt"});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        r = runPp({"-i", m_clip, "-o", path("o.rm"), "-ad", kCbr, "-dt"});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        // A failing encode to the same names.
        r = runPp({"-i", path("victim.txt"), "-o", path("out.rm"), "-ad", kCbr, "-dt"});
        EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    }
    qunsetenv("CORVA_NAMED_TEMPORARY");
    QFile after(source);
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), clipBytes);
    QFile v(path("victim.txt"));
    ASSERT_TRUE(v.open(QIODevice::ReadOnly));
    EXPECT_EQ(v.readAll(), QByteArray("must stay"));
    QFile u(path("out.rm.part"));
    ASSERT_TRUE(u.open(QIODevice::ReadOnly));
    EXPECT_EQ(u.readAll(), QByteArray("a user's file"));
    EXPECT_TRUE(QFileInfo(path("o.rm.part")).isSymLink());
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::System),
              (QStringList{"film.rm", "film.rm.part", "o.rm", "o.rm.part", "out.rm.part", "victim.txt", "短片 one.mkv"}));
    expectReadWhole(path("film.rm"), 2.0);
}

// Two encodes to one output at once: each ends with a whole file of its own or a clear
// failure, never a mixture.
TEST_F(PpTool, TwoRunsToOneOutputEachEndWhole)
{
    const QString out = path("same.rm");
    QProcess a;
    QProcess b;
    a.start(kPp, {"-i", m_clip, "-o", out, "-ad", kCbr});
    b.start(kPp, {"-i", m_clip, "-o", out, "-ad", kCbr, "-vco", "rv10"});
    ASSERT_TRUE(a.waitForFinished(60000) && b.waitForFinished(60000));
    EXPECT_EQ(a.exitCode(), 0) << a.readAllStandardError().toStdString();
    EXPECT_EQ(b.exitCode(), 0) << b.readAllStandardError().toStdString();
    expectReadWhole(out, 2.0);
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files), (QStringList{"same.rm", "短片 one.mkv"}));
}

// The job file is the one file -cj writes: never onto the source, whatever the name.
struct JobOntoSource
{
    const char *name;
    std::function<QString(const QString &dir, const QString &clip)> jobPath;
};

class PpToolJobOntoSource : public PpTool, public ::testing::WithParamInterface<JobOntoSource>
{
};

TEST_P(PpToolJobOntoSource, IsRefusedAndTheSourceKept)
{
    QFile f(m_clip);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    f.close();
    const QString job = GetParam().jobPath(m_dir.path(), m_clip);
    const ToolResult r = runPp({"-i", m_clip, "-o", path("x.rm"), "-ad", kCbr, "-cj", job});
    EXPECT_EQ(r.exitCode, 5) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("就是输入文件本身")) << r.err.toStdString();
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PpToolJobOntoSource,
    ::testing::Values(JobOntoSource{"SameName", [](const QString &, const QString &clip) { return clip; }},
                      JobOntoSource{"OtherSpelling",
                                    [](const QString &dir, const QString &clip) {
                                        QDir(dir).mkdir("sub");
                                        return dir + "/sub/../" + QFileInfo(clip).fileName();
                                    }},
                      JobOntoSource{"Symlink",
                                    [](const QString &dir, const QString &clip) {
                                        QFile::link(clip, dir + "/job.lnk");
                                        return dir + "/job.lnk";
                                    }},
                      JobOntoSource{"HardLink",
                                    [](const QString &dir, const QString &clip) {
                                        ::link(clip.toUtf8().constData(), (dir + "/job.hard").toUtf8().constData());
                                        return dir + "/job.hard";
                                    }}),
    [](const auto &row) { return std::string(row.param.name); });

// A pipe at the output or the job file's path is refused before anything is written, and
// stays a pipe: replaced by a file it would break whatever reads it (a system's /dev/null).
TEST_F(PpTool, OutputThatIsNotAFileIsRefusedAndKept)
{
    const QString fifo = path("pipe.rm");
    ASSERT_EQ(::mkfifo(fifo.toUtf8().constData(), 0600), 0);
    const struct
    {
        QStringList args;
        int exitCode;
        const char *words;
    } rows[] = {
        {{"-o", fifo}, 2, "输出路径"},
        {{"-o", fifo, "-cj", path("p.rpjf")}, 2, "输出路径"},
        {{"-o", path("p.rm"), "-cj", fifo}, 5, "任务文件路径"},
    };
    for (const auto &row : rows) {
        const ToolResult r = runPp(QStringList{"-i", m_clip, "-ad", kCbr, "-dt"} + row.args, 20000);
        EXPECT_EQ(r.exitCode, row.exitCode) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(row.words)) && r.err.contains(fifo)
                    && r.err.contains(QStringLiteral("是管道（FIFO），不是普通文件")))
            << r.err.toStdString();
        struct stat st{};
        ASSERT_EQ(::lstat(fifo.toUtf8().constData(), &st), 0);
        EXPECT_TRUE(S_ISFIFO(st.st_mode)) << row.args.join(' ').toStdString();
        EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::System), (QStringList{"pipe.rm", "短片 one.mkv"}));
    }
}

// A pipe or a device as source is refused at once, with -cj and without, instead of waiting
// for a writer that never comes.
TEST_F(PpTool, PipeOrDeviceSourceIsRefusedAtOnce)
{
    const QString fifo = path("pipe");
    ASSERT_EQ(::mkfifo(fifo.toUtf8().constData(), 0600), 0);
    for (const QString &source : {fifo, QStringLiteral("/dev/zero")}) {
        for (const bool job : {true, false}) {
            QStringList args{"-i", source, "-o", path("p.rm"), "-ad", kCbr};
            if (job)
                args << "-cj" << path("p.rpjf");
            const ToolResult r = runPp(args, 10000);
            EXPECT_EQ(r.exitCode, 4) << source.toStdString() << ": " << r.err.toStdString();
            EXPECT_TRUE(r.err.contains("不是普通文件")) << r.err.toStdString();
        }
    }
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::System), (QStringList{"pipe", "短片 one.mkv"}));
}

} // namespace
