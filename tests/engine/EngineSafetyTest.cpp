#include "EngineRunner.h"
#include "MediaTools.h"

#include "common/AudienceDefinition.h"
#include "engine/FfmpegEncodingEngine.h"
#include "engine/FrameQueue.h"
#include "engine/Transcoder.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <thread>

#include <sys/stat.h>

using namespace corva;
using corva::test::EngineRunner;
using corva::test::MediaTools;
using corva::test::Outcome;

namespace {

const QString kCbr = QStringLiteral("标准画质 CBR 450Kbps");
const QString kAudiences = QStringLiteral(CORVA_APP_DIR "/Audiences");

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A 10-second source of the given kind, cut to `keep` of its bytes (1: whole).
bool makeSource(const QString &path, const QStringList &codecs, bool video, double keep, qint64 maxBytes, QString *error)
{
    QStringList args;
    if (video)
        args << "-f" << "lavfi" << "-i" << "testsrc=size=320x240:rate=25";
    args << "-f" << "lavfi" << "-i" << "sine" << "-t" << "10" << codecs << path + ".whole" + QFileInfo(path).suffix().prepend('.');
    if (!MediaTools::Generate(args, error))
        return false;
    const QString whole = path + ".whole." + QFileInfo(path).suffix();
    QByteArray bytes = readFile(whole);
    QFile::remove(whole);
    qint64 size = static_cast<qint64>(bytes.size() * keep);
    if (maxBytes > 0)
        size = std::min(size, maxBytes);
    return writeFile(path, bytes.left(size));
}

struct HostileSource
{
    const char *name;
    // Makes the input (and sets job fields); false and `error` when it could not.
    std::function<bool(const QString &dir, JobSettings &job, QString *error)> prepare;
    const char *reasonPart;
};

class EngineRefusesSource : public ::testing::TestWithParam<HostileSource>
{
};

// Refused with its reason, and nothing left in the folder but what the case made.
TEST_P(EngineRefusesSource, BeforeWritingAnything)
{
    QTemporaryDir dir;
    JobSettings job;
    job.audience = kCbr;
    job.singlePass = true;
    job.output = dir.filePath("out.rm");
    QString error;
    ASSERT_TRUE(GetParam().prepare(dir.path(), job, &error)) << error.toStdString();
    const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);

    FfmpegEncodingEngine engine;
    engine.SetAudiencesDirectory(kAudiences);
    QElapsedTimer clock;
    clock.start();
    const Outcome o = EngineRunner::Run(engine, [&] { engine.StartJob(job); }, 20000);
    ASSERT_TRUE(o.ended) << "no end within 20 s";
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_FALSE(o.succeeded);
    EXPECT_TRUE(o.reason.contains(QString::fromUtf8(GetParam().reasonPart))) << o.reason.toStdString();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot), before);
}

const auto cutSource = [](const char *file, QStringList codecs, bool video, double keep, qint64 maxBytes = 0) {
    return [=](const QString &dir, JobSettings &job, QString *error) {
        job.input = dir + "/" + file;
        return makeSource(job.input, codecs, video, keep, maxBytes, error);
    };
};
const QStringList kAvi = {"-c:v", "mpeg4", "-c:a", "pcm_s16le"};
const QStringList kWmv = {"-c:v", "wmv2", "-c:a", "wmav2"};
const QStringList kWav = {"-c:a", "pcm_s16le"};

bool goodClip(const QString &dir, JobSettings &job, QString *error)
{
    job.input = dir + "/good.mkv";
    return MediaTools::MakeClip(job.input, 1, "176x144", 25, 44100, 2, error);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EngineRefusesSource,
    ::testing::Values(
        HostileSource{"HalfAvi", cutSource("half.avi", kAvi, true, 0.5), "不完整：只有"},
        HostileSource{"HalfWmv", cutSource("half.wmv", kWmv, true, 0.5), "不完整：只有"},
        HostileSource{"HalfWav", cutSource("half.wav", kWav, false, 0.5), "不完整：只有"},
        HostileSource{"Avi20Kb", cutSource("cut.avi", kAvi, true, 1, 20000), "只有 20000 字节"},
        HostileSource{"HalfMkv", cutSource("half.mkv", {"-c:v", "mpeg4", "-c:a", "aac"}, true, 0.5), "不完整"},
        HostileSource{"HalfMp4", cutSource("half.mp4", {"-c:v", "mpeg4", "-c:a", "aac", "-movflags", "+faststart"}, true, 0.5),
                      "不完整"},
        HostileSource{"HalfFlv", cutSource("half.flv", {"-c:v", "flv", "-c:a", "mp3"}, true, 0.5), "不完整"},
        HostileSource{"Fifo",
                      [](const QString &dir, JobSettings &job, QString *) {
                          job.input = dir + "/pipe";
                          return ::mkfifo(job.input.toUtf8().constData(), 0600) == 0;
                      },
                      "不是普通文件"},
        HostileSource{"Device",
                      [](const QString &, JobSettings &job, QString *) {
                          job.input = "/dev/zero";
                          return true;
                      },
                      "不是普通文件"},
        HostileSource{"TitleOverHeaderLimit",
                      [](const QString &dir, JobSettings &job, QString *error) {
                          job.title = QString(32768, QChar(0x58A8)); // 65,536 GBK bytes
                          return goodClip(dir, job, error);
                      },
                      "标题（-t）太长"},
        HostileSource{"CopyrightOutsideGbk",
                      [](const QString &dir, JobSettings &job, QString *error) {
                          job.copyright = QStringLiteral("版权\U0001F600");
                          return goodClip(dir, job, error);
                      },
                      "U+1F600"}),
    [](const auto &row) { return std::string(row.param.name); });

struct WholeSource
{
    const char *name;
    const char *file;
    QStringList codecs;
    bool video;
};

class EngineTakesWholeSource : public ::testing::TestWithParam<WholeSource>
{
};

// The header checks must not refuse a clean file of the same kinds.
TEST_P(EngineTakesWholeSource, AndWritesADecodableFile)
{
    QTemporaryDir dir;
    JobSettings job;
    job.audience = kCbr;
    job.singlePass = true;
    job.input = dir.filePath(GetParam().file);
    job.output = dir.filePath("out.rm");
    QString error;
    ASSERT_TRUE(makeSource(job.input, GetParam().codecs, GetParam().video, 1, 0, &error)) << error.toStdString();
    const Outcome o = EngineRunner::Encode(job);
    ASSERT_TRUE(o.ended);
    EXPECT_TRUE(o.succeeded) << o.reason.toStdString();
    EXPECT_EQ(MediaTools::DecodeErrors(job.output), QString());
    EXPECT_NEAR(MediaTools::Probe(job.output)["format"].toObject()["duration"].toString().toDouble(), 10.0, 0.5);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 2);
}

INSTANTIATE_TEST_SUITE_P(Cases, EngineTakesWholeSource,
                         ::testing::Values(WholeSource{"Avi", "whole.avi", kAvi, true},
                                           WholeSource{"Wmv", "whole.wmv", kWmv, true},
                                           WholeSource{"Wav", "whole.wav", kWav, false}),
                         [](const auto &row) { return std::string(row.param.name); });

// A job stopped and at once followed by another: the stopped job's late end must neither
// overwrite the new job's outcome nor be delivered as if it were the new job's end.
TEST(EngineJobs, StoppedJobsLateEndBelongsToNobody)
{
    QTemporaryDir dir;
    JobSettings first;
    first.audience = kCbr;
    first.input = dir.filePath("long.mkv");
    first.output = dir.filePath("first.rm");
    QString error;
    ASSERT_TRUE(MediaTools::MakeClip(first.input, 20, "320x240", 25, 44100, 2, &error)) << error.toStdString();
    JobSettings second = first;
    second.input = dir.filePath("missing.avi");
    second.output = dir.filePath("second.rm");

    FfmpegEncodingEngine engine;
    engine.SetAudiencesDirectory(kAudiences);
    QStringList ends;
    int starts = 0;
    QObject::connect(&engine, &EncodingEngine::EncodingStarted, &engine, [&] { ++starts; });
    QObject::connect(&engine, &EncodingEngine::EncodingFinished, &engine,
                     [&](bool, const QString &reason) { ends << reason; });
    engine.StartJob(first);
    // Stopped once it is under way (it has measured the film), without letting the event loop
    // see its start: that too must never be reported once the next job began.
    QElapsedTimer waited;
    waited.start();
    while (engine.SecondsTotal() == 0 && waited.elapsed() < 30000)
        std::this_thread::yield();
    ASSERT_GT(engine.SecondsTotal(), 0);
    engine.StopEncoding();
    engine.StartJob(second); // before the event loop has seen the first job's end
    // After the first end, a second more for a late one that must not come.
    QEventLoop loop;
    QObject::connect(&engine, &EncodingEngine::EncodingFinished, &loop,
                     [&] { QTimer::singleShot(1000, &loop, &QEventLoop::quit); });
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    ASSERT_EQ(ends.size(), 1) << ends.join(" | ").toStdString();
    EXPECT_TRUE(ends.front().contains("missing.avi")) << ends.front().toStdString();
    EXPECT_EQ(starts, 1);
    EXPECT_FALSE(engine.LastJobSucceeded());
    EXPECT_EQ(engine.LastError(), ends.front());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"long.mkv"});
}

// Whatever escapes the encoding side (here: the progress callback) ends the job with a reason
// instead of ending the program, and takes the temporary output with it.
TEST(EngineJobs, ExceptionDuringEncodeIsAFailureNotACrash)
{
    QTemporaryDir dir;
    JobSettings job;
    job.audience = kCbr;
    job.singlePass = true;
    job.input = dir.filePath("clip.mkv");
    job.output = dir.filePath("out.rm");
    QString error;
    ASSERT_TRUE(MediaTools::MakeClip(job.input, 2, "176x144", 25, 44100, 2, &error)) << error.toStdString();
    const auto audience = AudienceDefinition::Find(kAudiences, kCbr, &error);
    ASSERT_TRUE(audience) << error.toStdString();
    Transcoder transcoder(job, *audience, job.input, job.output);
    int calls = 0;
    std::stop_source stop;
    const QString reason = transcoder.Run(stop.get_token(), [&](const Transcoder::Status &) {
        if (++calls == 3)
            throw std::runtime_error("progress failed");
    });
    EXPECT_TRUE(reason.contains("progress failed")) << reason.toStdString();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"clip.mkv"});
}

// A side waiting on the queue wakes as soon as the job's stop is requested, without polling.
TEST(FrameQueueStop, WaitingSidesWakeOnStop)
{
    for (const bool full : {false, true}) {
        FrameQueue queue(1);
        std::stop_source stop;
        if (full) {
            ASSERT_TRUE(queue.Push(FrameQueue::Item{}, stop.get_token()));
        }
        std::atomic<bool> returned{false};
        bool result = true;
        std::thread waiter([&] {
            result = full ? queue.Push(FrameQueue::Item{}, stop.get_token()) : queue.Pop(stop.get_token()).has_value();
            returned = true;
        });
        while (queue.Waiting() == 0)
            std::this_thread::yield();
        EXPECT_FALSE(returned);
        stop.request_stop();
        waiter.join();
        EXPECT_FALSE(result);
        // A stopped job takes nothing more in or out.
        EXPECT_FALSE(queue.Push(FrameQueue::Item{}, stop.get_token()));
        EXPECT_FALSE(queue.Pop(stop.get_token()).has_value());
    }
}

} // namespace
