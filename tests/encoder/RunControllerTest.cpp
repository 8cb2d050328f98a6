#include "encoder/JobChecks.h"
#include "encoder/RunController.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace corva;

namespace {

RunController WithTasks(int count)
{
    RunController run;
    for (int i = 0; i < count; ++i) {
        Task t;
        t.source = QStringLiteral("/v/%1.avi").arg(i);
        t.output = QStringLiteral("/v/%1.rm").arg(i);
        t.commandLine = QStringLiteral("pp -i /v/%1.avi").arg(i);
        run.Tasks().Add(t);
    }
    return run;
}

QStringList States(const RunController &run)
{
    QStringList out;
    for (int i = 0; i < run.Tasks().Count(); ++i)
        out << Task::StateText(run.Tasks().At(i).state);
    return out;
}

// How each task of a batch ends: 'l' the tool failed at launch, 'f' the engine failed, 'o' it went well.
struct BatchCase
{
    const char *name;
    const char *outcomes;
    QStringList statesBeforeEnd;
    int failed;
    QStringList left; // the outputs still listed after the batch
};

void PrintTo(const BatchCase &c, std::ostream *os)
{
    *os << c.name;
}

class Batches : public ::testing::TestWithParam<BatchCase> {};

// Drives the controller the way the window does, one launch per task until it says the batch is through.
TEST_P(Batches, MarkEachTaskCountTheFailuresAndKeepOnlyThoseThatFailed)
{
    const BatchCase &c = GetParam();
    const int n = static_cast<int>(std::strlen(c.outcomes));
    RunController run = WithTasks(n);
    ASSERT_TRUE(run.StartBatch(QStringLiteral("10:00:00")));
    EXPECT_EQ(run.BatchCount(), n);
    int launches = 0;
    while (const auto row = run.NextTask()) {
        ASSERT_EQ(*row, run.TaskIndex());
        ASSERT_LT(launches++, n) << "the batch never ends";
        const char o = c.outcomes[*row];
        if (o == 'l') {
            run.LaunchFailed(QStringLiteral("工具失败 %1").arg(*row));
            continue;
        }
        run.Launched();
        EXPECT_EQ(run.Tasks().At(*row).state, Task::State::Running);
        EXPECT_EQ(run.Finished(o == 'o', o == 'o' ? QString() : QStringLiteral("引擎失败 %1").arg(*row)), row);
    }
    EXPECT_EQ(launches, n);
    EXPECT_EQ(run.TaskIndex(), n);
    EXPECT_EQ(States(run), c.statesBeforeEnd);
    EXPECT_EQ(run.CurrentMode(), RunController::Mode::Batch); // until the window closes it

    const RunController::BatchEnd end = run.CompleteBatch();
    EXPECT_EQ(end.failed, c.failed);
    EXPECT_EQ(run.FailedCount(), c.failed);
    EXPECT_EQ(end.failures.size(), c.failed);
    EXPECT_TRUE(run.IsIdle());
    QStringList left;
    for (int i = 0; i < run.Tasks().Count(); ++i) {
        left << run.Tasks().At(i).output;
        EXPECT_EQ(run.Tasks().At(i).state, Task::State::Failed);
        EXPECT_FALSE(run.Tasks().At(i).failure.isEmpty());
    }
    EXPECT_EQ(left, c.left);
    // Removed rows come last first, so the window can take them out one by one.
    EXPECT_TRUE(std::is_sorted(end.removedRows.rbegin(), end.removedRows.rend()));
    EXPECT_EQ(static_cast<int>(end.removedRows.size()), n - c.failed);
}

const QString kDone = QStringLiteral("完成");
const QString kFailed = QStringLiteral("失败");

INSTANTIATE_TEST_SUITE_P(
    Outcomes, Batches,
    ::testing::Values(
        BatchCase{"all_well", "ooo", {kDone, kDone, kDone}, 0, {}},
        BatchCase{"engine_fails_middle", "ofo", {kDone, kFailed, kDone}, 1, {QStringLiteral("/v/1.rm")}},
        BatchCase{"tool_fails_first_and_last", "lol", {kFailed, kDone, kFailed}, 2,
                  {QStringLiteral("/v/0.rm"), QStringLiteral("/v/2.rm")}},
        BatchCase{"every_tool_fails", "ll", {kFailed, kFailed}, 2, {QStringLiteral("/v/0.rm"), QStringLiteral("/v/1.rm")}},
        BatchCase{"one_task", "f", {kFailed}, 1, {QStringLiteral("/v/0.rm")}}));

TEST(RunController, EveryFailureKeepsItsReasonAndTheEndListsThemInOrder)
{
    RunController run = WithTasks(3);
    ASSERT_TRUE(run.StartBatch(QStringLiteral("10:00:00")));
    run.LaunchFailed(QStringLiteral("无法读取源文件"));
    run.Launched();
    run.Finished(true, QString());
    run.Launched();
    run.Finished(false, QStringLiteral("输入文件已损坏"));
    EXPECT_EQ(run.Tasks().At(0).failure, QStringLiteral("无法读取源文件"));
    EXPECT_EQ(run.Tasks().At(1).failure, QString());
    EXPECT_EQ(run.Tasks().At(2).failure, QStringLiteral("输入文件已损坏"));
    const auto end = run.CompleteBatch();
    EXPECT_EQ(end.failures, (QStringList{QStringLiteral("第1个任务 /v/0.rm：无法读取源文件"),
                                         QStringLiteral("第3个任务 /v/2.rm：输入文件已损坏")}));
}

TEST(RunController, TheBatchLengthIsFixedAtItsStartAndLaterTasksWaitForTheNextRun)
{
    RunController run = WithTasks(2);
    ASSERT_TRUE(run.StartBatch(QStringLiteral("10:00:00")));
    Task late;
    late.output = QStringLiteral("/v/late.rm");
    run.Tasks().Add(late); // queued while the batch runs
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(run.NextTask());
        run.Launched();
        run.Finished(true, QString());
    }
    EXPECT_FALSE(run.NextTask());
    EXPECT_FALSE(run.HasMoreTasks());
    // A late notification belongs to no task of this batch and changes nothing.
    EXPECT_FALSE(run.Finished(false, QStringLiteral("迟到")));
    EXPECT_EQ(run.FailedCount(), 0);
    run.CompleteBatch();
    ASSERT_EQ(run.Tasks().Count(), 1);
    EXPECT_EQ(run.Tasks().At(0).output, QStringLiteral("/v/late.rm"));
    EXPECT_EQ(run.Tasks().At(0).state, Task::State::Waiting);

    // The next batch counts afresh.
    ASSERT_TRUE(run.StartBatch(QStringLiteral("11:00:00")));
    EXPECT_EQ(run.BatchCount(), 1);
    EXPECT_EQ(run.TaskIndex(), 0);
    EXPECT_EQ(run.StartTime(), QStringLiteral("11:00:00"));
}

TEST(RunController, OneRunAtATimeAndRowsStayPutWhileABatchRuns)
{
    RunController run = WithTasks(2);
    EXPECT_FALSE(RunController().StartBatch(QString())); // nothing queued
    ASSERT_TRUE(run.StartBatch(QString()));
    EXPECT_FALSE(run.StartSingle());
    EXPECT_FALSE(run.StartBatch(QString()));
    EXPECT_FALSE(run.RemoveTask(0));
    EXPECT_FALSE(run.ClearTasks());
    EXPECT_EQ(run.Tasks().Count(), 2);
    run.EndRun();

    ASSERT_TRUE(run.StartSingle());
    EXPECT_EQ(run.CurrentMode(), RunController::Mode::Single);
    EXPECT_FALSE(run.StartBatch(QString()));
    // A single job touches no row: its end is not a batch task's.
    EXPECT_FALSE(run.NextTask());
    EXPECT_FALSE(run.Finished(false, QStringLiteral("x")));
    EXPECT_EQ(States(run), (QStringList{QStringLiteral("待命"), QStringLiteral("待命")}));
    // Outside a batch the list can be edited, but only rows that exist.
    EXPECT_TRUE(run.RemoveTask(1));
    EXPECT_FALSE(run.RemoveTask(1));
    EXPECT_FALSE(run.RemoveTask(-1));
    EXPECT_TRUE(run.ClearTasks());
    EXPECT_TRUE(run.Tasks().IsEmpty());
}

// What kind of file the source is decides whether the window lets the job go on.
TEST(JobChecks, APipeOrDeviceAsSourceIsRefusedAndNamed)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString fifo = dir.filePath(QStringLiteral("管道.avi"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString plain = dir.filePath(QStringLiteral("a.avi"));
    QFile f(plain);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    const QString link = dir.filePath(QStringLiteral("link.avi"));
    ASSERT_TRUE(QFile::link(fifo, link));
    const QString sock = dir.filePath(QStringLiteral("s.avi"));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray sockPath = QFile::encodeName(sock);
    ASSERT_LT(static_cast<std::size_t>(sockPath.size()), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, sockPath.constData(), static_cast<std::size_t>(sockPath.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);

    struct Row
    {
        QString path;
        const char *kind; // nullptr: not refused here
    };
    for (const Row &r : {Row{fifo, "管道"}, Row{link, "管道"}, Row{QStringLiteral("/dev/null"), "设备"},
                         Row{QStringLiteral("/dev/zero"), "设备"}, Row{sock, "套接字"}, Row{plain, nullptr},
                         Row{dir.filePath(QStringLiteral("missing.avi")), nullptr}, Row{dir.path(), nullptr}}) {
        const QString problem = JobChecks::SourceKindProblem(r.path);
        if (!r.kind) {
            EXPECT_TRUE(problem.isEmpty()) << r.path.toStdString() << ": " << problem.toStdString();
            continue;
        }
        EXPECT_TRUE(problem.contains(QString::fromUtf8(r.kind))) << r.path.toStdString() << ": " << problem.toStdString();
        EXPECT_TRUE(problem.contains(r.path)) << problem.toStdString();
    }
    ::close(fd);
}

} // namespace
