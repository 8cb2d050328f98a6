#include "engine/JobFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace corva;

namespace {

JobSettings everythingChanged()
{
    JobSettings job;
    job.input = QStringLiteral("E:\\影片\\a \"b\"\\c.avi");
    job.output = QStringLiteral("out\\name with = sign.rmvb");
    job.title = QStringLiteral("第一行\n第二行\r\\末尾\\");
    job.author = QStringLiteral("=starts with equals");
    job.copyright = QStringLiteral("墨川压缩2005");
    job.audience = QStringLiteral("DVD影碟 VBR 高画质 650Kbps");
    job.videoMode = VideoMode::Slideshow;
    job.audioMode = AudioMode::Voice;
    job.singlePass = true;
    job.audioOnly = true;
    job.highResampleQuality = true;
    job.noiseFilter = NoiseFilter::High;
    job.brighten = true;
    job.gainDb = -12;
    job.resizeWidth = 640;
    job.resizeHeight = 0;
    job.highScaleQuality = false;
    job.codec = CodecEffort::Rv10;
    job.subtitles = SubtitleChoice::File;
    job.subtitleFile = QStringLiteral("/影片/a=b\\c\nd.srt");
    return job;
}

// Values with line breaks, backslashes, quotes and '=' must come back exactly, or a title
// could end a line early and shift every later setting.
TEST(JobFile, RoundTripKeepsEveryValue)
{
    JobSettings noSubtitles;
    noSubtitles.subtitles = SubtitleChoice::None;
    for (const JobSettings &job : {JobSettings{}, everythingChanged(), noSubtitles}) {
        JobSettings withPaths = job;
        withPaths.input = job.input.isEmpty() ? QStringLiteral("in.avi") : job.input;
        withPaths.output = job.output.isEmpty() ? QStringLiteral("out.rm") : job.output;
        withPaths.audience = job.audience.isEmpty() ? QStringLiteral("A1") : job.audience;
        QString error;
        const auto back = JobFile::ParseText(JobFile::Format(withPaths), QString(), &error);
        ASSERT_TRUE(back) << error.toStdString();
        EXPECT_EQ(*back, withPaths);
    }
}

TEST(JobFile, WriteReplacesAtomicallyAndLeavesNoTemporary)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("1.rpjf"));
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("corva-job 1\ninput=old\n");
    old.close();

    const JobSettings job = everythingChanged();
    QString error;
    ASSERT_TRUE(JobFile::Write(path, job, &error)) << error.toStdString();
    const auto back = JobFile::Read(path, &error);
    ASSERT_TRUE(back) << error.toStdString();
    EXPECT_EQ(*back, job);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("1.rpjf")});
}

TEST(JobFile, WriteIntoMissingFolderFailsWithPath)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("missing/1.rpjf"));
    QString error;
    EXPECT_FALSE(JobFile::Write(path, everythingChanged(), &error));
    EXPECT_TRUE(error.contains(path)) << error.toStdString();
}

struct BadJob
{
    const char *name;
    QByteArray text;
    const char *reasonPart;
};

class JobFileRejects : public ::testing::TestWithParam<BadJob>
{
};

// A damaged or foreign job file must be refused with a reason, never half-read.
TEST_P(JobFileRejects, WithReason)
{
    QString error;
    const auto job = JobFile::ParseText(GetParam().text, QStringLiteral("/x/1.rpjf"), &error);
    EXPECT_FALSE(job);
    EXPECT_TRUE(error.contains(QStringLiteral("/x/1.rpjf"))) << error.toStdString();
    EXPECT_TRUE(error.contains(QString::fromUtf8(GetParam().reasonPart))) << error.toStdString();
}

const QByteArray kMinimal = "corva-job 1\ninput=a.avi\noutput=a.rm\naudience=A1\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, JobFileRejects,
    ::testing::Values(BadJob{"Empty", "", "不是本程序的任务文件"},
                      BadJob{"Foreign", "[Job]\nInput=a.avi\n", "不是本程序的任务文件"},
                      BadJob{"NewerVersion", "corva-job 2\ninput=a\noutput=b\naudience=c\n", "版本"},
                      BadJob{"NoInput", "corva-job 1\noutput=a.rm\naudience=A1\n", "缺少 input"},
                      BadJob{"NoAudience", "corva-job 1\ninput=a\noutput=a.rm\n", "缺少 audience"},
                      BadJob{"LineWithoutEquals", kMinimal + "garbage\n", "第 5 行"},
                      BadJob{"BadEscape", "corva-job 1\ninput=a\\q\noutput=a.rm\naudience=A1\n", "转义"},
                      BadJob{"DanglingEscape", "corva-job 1\ninput=a\\\noutput=a.rm\naudience=A1\n", "转义"},
                      BadJob{"BadMode", kMinimal + "video_mode=fast\n", "video_mode"},
                      BadJob{"BadFlag", kMinimal + "single_pass=yes\n", "single_pass"},
                      BadJob{"GainOutOfRange", kMinimal + "gain_db=20\n", "gain_db"},
                      BadJob{"BadSize", kMinimal + "resize=640*480\n", "resize"},
                      BadJob{"BadCodec", kMinimal + "codec=rv40\n", "codec"},
                      BadJob{"BadScaleQuality", kMinimal + "resize_quality=best\n", "resize_quality"},
                      BadJob{"BadSubtitles", kMinimal + "subtitles=maybe\n", "subtitles"},
                      // the first refused key in the file's order is the one named
                      BadJob{"FirstBadKeyNamed", kMinimal + "codec=rv40\naudio_only=2\n", "audio_only"}),
    [](const auto &row) { return std::string(row.param.name); });

TEST(JobFile, ReadMissingFileNamesIt)
{
    QString error;
    EXPECT_FALSE(JobFile::Read(QStringLiteral("/nonexistent/1.rpjf"), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("/nonexistent/1.rpjf")));
}

// A job path that is a pipe would hold the engine in open() for ever; it is refused by name.
TEST(JobFile, ReadRefusesAPipeAtOnce)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("1.rpjf"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    QString error;
    EXPECT_FALSE(JobFile::Read(path, &error));
    EXPECT_TRUE(error.contains(path) && error.contains(QStringLiteral("管道"))) << error.toStdString();
    EXPECT_FALSE(JobFile::LooksLikeJobFile(path));
}

} // namespace
