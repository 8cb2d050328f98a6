#include "EngineRunner.h"
#include "MediaTools.h"

#include "engine/AvText.h"
#include "engine/FfmpegEncodingEngine.h"

extern "C" {
#include <libavutil/error.h>
}

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <system_error>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace corva;
using corva::test::EngineRunner;
using corva::test::MediaTools;
using corva::test::Outcome;

namespace {

const QString kCbr = QStringLiteral("标准画质 CBR 450Kbps");
const QByteArray kOldOutput = "an earlier result that must survive a failed job";

// One folder per case: a good clip, and whatever the case spoils.
struct Scene
{
    QTemporaryDir dir;
    QString goodClip;
    QString longClip;
    QString input;
    QString output;
    QString audiences = QStringLiteral(CORVA_APP_DIR "/Audiences");
    JobSettings job;
    QString error;

    QString path(const QString &name) const { return dir.filePath(name); }
    void write(const QString &name, const QByteArray &bytes) const
    {
        QFile f(path(name));
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
    }
    QByteArray read(const QString &file) const
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

struct FailureCase
{
    const char *name;
    // Prepares the scene (input, output, job); returns the text the reason must name.
    std::function<QString(Scene &)> prepare;
    const char *reasonPart;
    bool keepsEarlierOutput = true;
    // The output path names the input file itself, which must come through unchanged.
    bool outputIsInput = false;
};

class EngineFails : public ::testing::TestWithParam<FailureCase>
{
};

// Every fault ends in a failure notification with a reason naming the file; nothing half
// written is left at the output path, and an earlier file there is not lost.
TEST_P(EngineFails, WithReasonAndNoOutput)
{
    Scene s;
    s.goodClip = s.path("good.mkv");
    ASSERT_TRUE(MediaTools::MakeClip(s.goodClip, 2, "176x144", 25, 44100, 2, &s.error)) << s.error.toStdString();
    s.input = s.goodClip;
    s.output = s.path("out.rm");
    const QString named = GetParam().prepare(s);
    ASSERT_TRUE(s.error.isEmpty()) << s.error.toStdString();
    if (s.job.input.isEmpty())
        s.job.input = s.input;
    if (s.job.output.isEmpty())
        s.job.output = s.output;
    if (s.job.audience.isEmpty())
        s.job.audience = kCbr;
    const bool hadOutput = GetParam().keepsEarlierOutput && !GetParam().outputIsInput;
    if (hadOutput)
        s.write(QFileInfo(s.output).fileName(), kOldOutput);

    const Outcome o = EngineRunner::Encode(s.job, 30000, s.audiences);
    ASSERT_TRUE(o.ended) << "no EncodingFinished";
    EXPECT_FALSE(o.succeeded);
    EXPECT_EQ(o.startedBeforeEnd, 1);
    EXPECT_EQ(o.isEncodingInHandler, 0);
    EXPECT_FALSE(o.lastSucceededInHandler);
    EXPECT_EQ(o.lastErrorInHandler, o.reason);
    EXPECT_TRUE(o.reason.contains(named)) << o.reason.toStdString() << " / " << named.toStdString();
    EXPECT_TRUE(o.reason.contains(QString::fromUtf8(GetParam().reasonPart))) << o.reason.toStdString();
    EXPECT_FALSE(MediaTools::PartialOutputLeft(s.output));
    if (GetParam().outputIsInput)
        EXPECT_EQ(s.read(s.output), s.read(s.goodClip));
    else if (hadOutput)
        EXPECT_EQ(s.read(s.output), kOldOutput);
    else
        EXPECT_FALSE(QFileInfo(s.output).isFile());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EngineFails,
    ::testing::Values(
        FailureCase{"MissingInput", [](Scene &s) { return s.input = s.path("nothing.avi"); }, "找不到"},
        FailureCase{"EmptyInput",
                    [](Scene &s) {
                        s.write("empty.avi", {});
                        return s.input = s.path("empty.avi");
                    },
                    "空文件"},
        FailureCase{"NotMedia",
                    [](Scene &s) {
                        s.write("notes.avi", QByteArray("just some words, not a film\n").repeated(200));
                        return s.input = s.path("notes.avi");
                    },
                    "无法识别"},
        FailureCase{"CorruptHeader",
                    [](Scene &s) {
                        QByteArray bytes = s.read(s.goodClip);
                        for (int i = 0; i < 4096 && i < bytes.size(); ++i)
                            bytes[i] = static_cast<char>((i * 37) & 0xff);
                        s.write("corrupt.mkv", bytes);
                        return s.input = s.path("corrupt.mkv");
                    },
                    "corrupt.mkv"},
        FailureCase{"Truncated",
                    [](Scene &s) {
                        const QString longClip = s.path("long.mkv");
                        MediaTools::MakeClip(longClip, 8, "176x144", 25, 44100, 2, &s.error);
                        const QByteArray bytes = s.read(longClip);
                        s.write("cut.mkv", bytes.left(bytes.size() * 2 / 5));
                        return s.input = s.path("cut.mkv");
                    },
                    "不完整"},
        FailureCase{"AudioOnlyWithoutAudio",
                    [](Scene &s) {
                        s.input = s.path("silent.avi");
                        MediaTools::MakeClip(s.input, 2, "176x144", 25, 0, 0, &s.error);
                        s.job.audioOnly = true;
                        return s.input;
                    },
                    "没有音频"},
        FailureCase{"UnknownAudience",
                    [](Scene &s) {
                        s.job.audience = QStringLiteral("不存在的压缩率");
                        return s.job.audience;
                    },
                    "未知"},
        FailureCase{"MissingAudiencesFolder",
                    [](Scene &s) { return s.audiences = s.path("NoAudiences"); },
                    "找不到"},
        FailureCase{"MissingOutputFolder",
                    [](Scene &s) {
                        s.output = s.path("gone/out.rm");
                        return s.path("gone");
                    },
                    "不存在", false},
        FailureCase{"OutputFolderIsAFile",
                    [](Scene &s) {
                        s.write("plain", "x");
                        s.output = s.path("plain/out.rm");
                        return s.path("plain");
                    },
                    "不是文件夹", false},
        // Root may write anywhere on a normal disk; sysfs takes no new files from anyone.
        FailureCase{"UnwritableFolder",
                    [](Scene &s) {
                        s.output = QStringLiteral("/sys/corva-out.rm");
                        return QStringLiteral("/sys");
                    },
                    "无法在文件夹", false},
        FailureCase{"OutputIsAFolder",
                    [](Scene &s) {
                        QDir(s.dir.path()).mkdir("folder.rm");
                        s.output = s.path("folder.rm");
                        return s.output;
                    },
                    "文件夹", false},
        // Only a regular file the job made may take the output's place.
        FailureCase{"OutputIsAFifo",
                    [](Scene &s) {
                        s.output = s.path("pipe.rm");
                        if (::mkfifo(s.output.toUtf8().constData(), 0600) != 0)
                            s.error = "mkfifo failed";
                        return QStringLiteral("pipe.rm”是管道（FIFO）");
                    },
                    "不是普通文件", false},
        FailureCase{"OutputIsASocket",
                    [](Scene &s) {
                        s.output = s.path("sock.rm");
                        sockaddr_un address{};
                        address.sun_family = AF_UNIX;
                        const QByteArray name = s.output.toUtf8();
                        std::copy(name.begin(), name.end(), address.sun_path);
                        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
                        if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
                            s.error = "socket failed";
                        if (fd >= 0)
                            ::close(fd);
                        return QStringLiteral("sock.rm”是套接字");
                    },
                    "不是普通文件", false},
        FailureCase{"OutputIsInputSameText",
                    [](Scene &s) {
                        s.output = s.input;
                        return s.output;
                    },
                    "输入文件本身", false, true},
        FailureCase{"OutputIsInputOtherSpelling",
                    [](Scene &s) {
                        s.output = s.dir.path() + "/./sub/../good.mkv";
                        QDir(s.dir.path()).mkdir("sub");
                        return QStringLiteral("good.mkv");
                    },
                    "输入文件本身", false, true},
        FailureCase{"OutputIsInputHardLink",
                    [](Scene &s) {
                        s.output = s.path("linked.rm");
                        if (::link(s.input.toUtf8().constData(), s.output.toUtf8().constData()) != 0)
                            s.error = "link failed";
                        return QStringLiteral("linked.rm");
                    },
                    "输入文件本身", false, true},
        FailureCase{"OutputIsInputSymlink",
                    [](Scene &s) {
                        s.output = s.path("alias.rm");
                        if (!QFile::link(s.input, s.output))
                            s.error = "symlink failed";
                        return QStringLiteral("alias.rm");
                    },
                    "输入文件本身", false, true}),
    [](const auto &row) { return std::string(row.param.name); });

// Bytes spoilt in the middle of a film (a scratched disc, a bad download): whatever the engine
// makes of it, it must end cleanly, and a file it calls finished must decode without error.
TEST(EngineDamaged, SpoiltMiddleEndsCleanly)
{
    Scene s;
    for (const QString &name : {QStringLiteral("clip.avi"), QStringLiteral("clip.mkv")}) {
        const QString clean = s.path(name);
        ASSERT_TRUE(MediaTools::MakeClip(clean, 3, "320x240", 25, 44100, 2, &s.error)) << s.error.toStdString();
        QByteArray bytes = s.read(clean);
        for (int round = 0; round < 3; ++round) {
            QByteArray spoilt = bytes;
            quint32 seed = 12345u + round;
            for (int i = 0; i < 200; ++i) {
                seed = seed * 1103515245u + 12345u;
                const qsizetype at = spoilt.size() / 10 + (seed >> 8) % (spoilt.size() * 9 / 10);
                spoilt[at] = static_cast<char>(seed >> 24);
            }
            const QString input = s.path(QStringLiteral("spoilt-%1-%2").arg(round).arg(name));
            s.write(QFileInfo(input).fileName(), spoilt);
            const JobSettings job = EngineRunner::Job(input, s.path("spoilt.rm"), kCbr);
            const Outcome o = EngineRunner::Encode(job, 30000, s.audiences);
            ASSERT_TRUE(o.ended) << input.toStdString();
            EXPECT_FALSE(MediaTools::PartialOutputLeft(job.output));
            if (o.succeeded) {
                EXPECT_EQ(MediaTools::DecodeErrors(job.output), QString()) << input.toStdString();
            } else {
                EXPECT_TRUE(o.reason.contains(input)) << o.reason.toStdString();
                EXPECT_FALSE(QFile::exists(job.output));
            }
            QFile::remove(job.output);
        }
    }
}

// The input must survive every same-file case byte for byte.
TEST(EngineSameFile, InputIsUntouched)
{
    Scene s;
    s.input = s.path("keep.mkv");
    ASSERT_TRUE(MediaTools::MakeClip(s.input, 1, "176x144", 25, 44100, 2, &s.error));
    const QByteArray before = s.read(s.input);
    const Outcome o = EngineRunner::Encode(EngineRunner::Job(s.input, s.dir.path() + "/./keep.mkv", kCbr), 60000, s.audiences);
    EXPECT_FALSE(o.succeeded);
    EXPECT_EQ(s.read(s.input), before);
}

// A job file that is missing or not ours fails through the same notification path.
TEST(EngineJobFileFaults, MissingAndForeign)
{
    Scene s;
    s.write("foreign.rpjf", "[Job]\nInput=a\n");
    for (const QString &path : {s.path("missing.rpjf"), s.path("foreign.rpjf")}) {
        FfmpegEncodingEngine engine;
        engine.SetAudiencesDirectory(s.audiences);
        engine.SetJobFile(path);
        const Outcome o = EngineRunner::Run(engine, [&] { engine.StartEncoding(); });
        ASSERT_TRUE(o.ended);
        EXPECT_FALSE(o.succeeded);
        EXPECT_TRUE(o.reason.contains(path)) << o.reason.toStdString();
        EXPECT_EQ(o.isEncodingAfterStart, 1);
    }
}

// The batch loop polls IsEncoding, yielding one event pass at a time, and moves on to the next
// task before the end notification of the last one is handled; a job that fails at once must
// keep that order too.
TEST(EngineEndOrder, PollSeesZeroBeforeEndIsHandled)
{
    Scene s;
    for (const bool failsAtOnce : {true, false}) {
        JobSettings job;
        job.input = failsAtOnce ? s.path("missing.avi") : s.path("clip.mkv");
        job.output = s.path("order.rm");
        job.audience = kCbr;
        job.singlePass = true;
        if (!failsAtOnce) {
            ASSERT_TRUE(MediaTools::MakeClip(job.input, 1, "176x144", 25, 44100, 2, &s.error));
        }
        FfmpegEncodingEngine engine;
        engine.SetAudiencesDirectory(s.audiences);
        bool finished = false;
        QObject::connect(&engine, &EncodingEngine::EncodingFinished, &engine, [&] { finished = true; });
        engine.StartJob(job);
        EXPECT_EQ(engine.IsEncoding(), 1);
        // A zero-interval timer polls once per pass of the event loop, as the window's yield
        // does; the loop sleeps between events instead of spinning.
        QEventLoop loop;
        QTimer poll;
        poll.setInterval(0);
        bool zeroSeen = false;
        bool endBeforeZero = false;
        bool succeededAtZero = false;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (!zeroSeen && !engine.IsEncoding()) {
                zeroSeen = true;
                endBeforeZero = finished;
                succeededAtZero = engine.LastJobSucceeded();
            }
            if (zeroSeen && finished)
                loop.quit();
        });
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        poll.start();
        loop.exec();
        ASSERT_TRUE(zeroSeen) << "IsEncoding never came back to zero";
        EXPECT_FALSE(endBeforeZero) << "end handled before the poll saw zero";
        EXPECT_EQ(succeededAtZero, !failsAtOnce);
        EXPECT_TRUE(finished);
    }
}

// A full disk: writes beyond a small size limit fail as they would with no space left.
TEST(EngineDiskFull, WriteFailureIsReportedAndCleanedUp)
{
    Scene s;
    s.input = s.path("in.mkv");
    ASSERT_TRUE(MediaTools::MakeClip(s.input, 3, "320x240", 25, 44100, 2, &s.error));
    s.output = s.path("full.rm");
    JobSettings job;
    job.input = s.input;
    job.output = s.output;
    job.audience = kCbr;
    job.singlePass = true;

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 40 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    struct Restore
    {
        rlimit limit;
        void (*handler)(int);
        ~Restore()
        {
            setrlimit(RLIMIT_FSIZE, &limit);
            std::signal(SIGXFSZ, handler);
        }
    } restore{saved, oldHandler};

    FfmpegEncodingEngine engine;
    engine.SetAudiencesDirectory(s.audiences);
    const Outcome o = EngineRunner::Run(engine, [&] { engine.StartJob(job); });
    ASSERT_TRUE(o.ended);
    EXPECT_FALSE(o.succeeded);
    EXPECT_TRUE(o.reason.contains(QStringLiteral("磁盘空间不足"))) << o.reason.toStdString();
    EXPECT_TRUE(o.reason.contains(s.output)) << o.reason.toStdString();
    EXPECT_FALSE(QFile::exists(s.output));
    EXPECT_FALSE(MediaTools::PartialOutputLeft(s.output));
}

// Reasons shown to users: their words first, the system's or FFmpeg's own text after them.
TEST(EngineReasons, ChineseFirstThenTheSystemsText)
{
    const struct
    {
        int error;
        const char *words;
        std::string system;
    } rows[] = {
        {AVERROR(EBUSY), "设备或文件正被占用", std::generic_category().message(EBUSY)},
        {AVERROR(ENOSPC), "磁盘空间不足", std::generic_category().message(ENOSPC)},
        {AVERROR(EFBIG), "磁盘空间不足", std::generic_category().message(EFBIG)},
        {AVERROR(ENOTDIR), "路径中有一项不是文件夹", std::generic_category().message(ENOTDIR)},
        {AVERROR(EHWPOISON), "系统错误", std::generic_category().message(EHWPOISON)},
        {AVERROR_BSF_NOT_FOUND, "FFmpeg 报告错误", AvText::Error(AVERROR_BSF_NOT_FOUND).toStdString()},
    };
    for (const auto &row : rows) {
        const QString reason = AvText::Reason(row.error);
        EXPECT_TRUE(reason.startsWith(QString::fromUtf8(row.words))) << reason.toStdString();
        EXPECT_TRUE(reason.endsWith(QStringLiteral("（%1）").arg(QString::fromStdString(row.system)))) << reason.toStdString();
    }
}

// An AVI written through a pipe has placeholders where its lengths go: its pictures are read
// and encoded. The same AVI with its header stating a length, cut short, is still refused.
TEST(EngineStreamedAvi, IsReadWhileACutOffAviIsRefused)
{
    Scene s;
    const QString streamed = s.path("streamed.avi");
    const QString whole = s.path("whole.avi");
    for (const QString &path : {streamed, whole}) {
        QStringList args{"-f", "lavfi", "-i", "testsrc=size=176x144:rate=25", "-f", "lavfi", "-i", "sine",
                         "-t", "2", "-c:v", "mpeg4", "-c:a", "pcm_s16le", "-f", "avi"};
        // What a pipe leaves: the writer cannot go back to fill in the lengths.
        if (path == streamed)
            args << "-seekable" << "0";
        ASSERT_TRUE(MediaTools::Generate(args << path, &s.error)) << s.error.toStdString();
    }
    ASSERT_EQ(s.read(streamed).mid(4, 4), QByteArray(4, '\xFF'));
    const QByteArray bytes = s.read(whole);
    s.write("cut.avi", bytes.left(bytes.size() * 3 / 5));

    FfmpegEncodingEngine engine;
    engine.SetAudiencesDirectory(s.audiences);
    JobSettings job;
    job.audience = kCbr;
    job.singlePass = true;
    job.input = streamed;
    job.output = s.path("streamed.rm");
    const Outcome read = EngineRunner::Run(engine, [&] { engine.StartJob(job); });
    ASSERT_TRUE(read.ended);
    EXPECT_TRUE(read.succeeded) << read.reason.toStdString();
    EXPECT_EQ(MediaTools::PacketCount(job.output, "v"), 50);
    EXPECT_EQ(MediaTools::DecodeErrors(job.output), QString());
    EXPECT_EQ(read.percents.last(), 100);

    job.input = s.path("cut.avi");
    job.output = s.path("cut.rm");
    const Outcome cut = EngineRunner::Run(engine, [&] { engine.StartJob(job); });
    ASSERT_TRUE(cut.ended);
    EXPECT_FALSE(cut.succeeded);
    EXPECT_TRUE(cut.reason.contains(QStringLiteral("不完整")) && cut.reason.contains(job.input)) << cut.reason.toStdString();
    EXPECT_FALSE(QFile::exists(job.output));
}

} // namespace
