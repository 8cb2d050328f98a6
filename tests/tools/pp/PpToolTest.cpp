#include "MediaTools.h"

#include "common/CommandLine.h"
#include "engine/JobFile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

using namespace corva;
using corva::test::MediaTools;

namespace {

const QString kPp = QStringLiteral(CORVA_APP_DIR "/pp");
const QString kCbr = QStringLiteral("标准画质 CBR 450Kbps");

struct PpRun
{
    int exitCode = -1;
    bool crashed = false;
    QString errors;
};

PpRun runPp(const QStringList &arguments, int timeoutMs = 60000)
{
    QProcess p;
    p.start(kPp, arguments);
    PpRun r;
    if (!p.waitForStarted(5000)) {
        r.errors = QStringLiteral("pp did not start");
        return r;
    }
    p.waitForFinished(timeoutMs);
    r.crashed = p.exitStatus() != QProcess::NormalExit;
    r.exitCode = p.exitCode();
    r.errors = QString::fromUtf8(p.readAllStandardError());
    return r;
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
    const PpRun r = runPp(args);
    ASSERT_EQ(r.exitCode, 0) << r.errors.toStdString();
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
    const PpRun r = runPp(args);
    EXPECT_FALSE(r.crashed);
    EXPECT_EQ(r.exitCode, GetParam().exitCode) << r.errors.toStdString();
    EXPECT_TRUE(r.errors.contains(QString::fromUtf8(GetParam().messagePart))) << r.errors.toStdString();
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
        ErrorCase{"InputIsFolder", {"-i", "%D", "-ad", kCbr}, 4, "无法读取", true}),
    [](const auto &row) { return std::string(row.param.name); });

TEST_F(PpTool, UnwritableJobPathFails)
{
    const QString job = path("no/such/folder/1.rpjf");
    const PpRun r = runPp({"-i", m_clip, "-o", path("out.rm"), "-ad", kCbr, "-cj", job});
    EXPECT_EQ(r.exitCode, 5) << r.errors.toStdString();
    EXPECT_TRUE(r.errors.contains(job)) << r.errors.toStdString();
}

// Without -cj pp is a script-friendly encoder: a finished file and a progress bar on stderr.
TEST_F(PpTool, EncodesDirectlyWithProgress)
{
    const QString out = path("直接.rm");
    const PpRun r = runPp({"-i", m_clip, "-o", out, "-t", "标题", "-ad", kCbr, "-vco", "rv9"});
    ASSERT_EQ(r.exitCode, 0) << r.errors.toStdString();
    EXPECT_TRUE(r.errors.contains("100%")) << r.errors.toStdString();
    EXPECT_TRUE(r.errors.contains("速度")) << r.errors.toStdString();
    EXPECT_TRUE(r.errors.contains("剩余")) << r.errors.toStdString();
    EXPECT_EQ(MediaTools::DecodeErrors(out), QString());
    EXPECT_EQ(MediaTools::PacketCount(out, "v"), 50);
}

TEST_F(PpTool, DirectEncodeFailureReportsReason)
{
    const QString bad = path("bad.avi");
    QFile f(bad);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(5000, 'z'));
    f.close();
    const PpRun r = runPp({"-i", bad, "-o", path("bad.rm"), "-ad", kCbr});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.errors.contains(bad)) << r.errors.toStdString();
    EXPECT_FALSE(QFile::exists(path("bad.rm")));
    EXPECT_FALSE(QFile::exists(path("bad.rm.part")));
}

// Ctrl+C in a script must not leave a broken file behind.
TEST_F(PpTool, InterruptRemovesPartialOutput)
{
    const QString input = path("long.mkv");
    QString error;
    ASSERT_TRUE(MediaTools::MakeClip(input, 20, "640x480", 25, 44100, 2, &error)) << error.toStdString();
    const QString out = path("long.rm");
    QProcess p;
    p.start(kPp, {"-i", input, "-o", out, "-ad", kCbr, "-dt"});
    ASSERT_TRUE(p.waitForStarted(5000));
    // Wait until the encode is under way, shown by its partial file.
    for (int i = 0; i < 100 && !QFile::exists(out + ".part"); ++i)
        p.waitForFinished(50);
    ASSERT_TRUE(QFile::exists(out + ".part"));
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(p.exitCode(), 130) << p.readAllStandardError().toStdString();
    EXPECT_FALSE(QFile::exists(out));
    EXPECT_FALSE(QFile::exists(out + ".part"));
}

} // namespace
