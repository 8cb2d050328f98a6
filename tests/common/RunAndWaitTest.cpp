#include "common/CommandLine.h"
#include "common/RunAndWait.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <ctime>

using namespace corva;

namespace {

QString script(const QTemporaryDir &dir, const QString &name, const QByteArray &body)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write("#!/bin/sh\n" + body);
    f.close();
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

TEST(RunAndWait, PassesTheArgumentsAsTheLineSpellsThem)
{
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("args.txt"));
    const QString tool = script(dir, QStringLiteral("my tool"), "for a in \"$@\"; do printf '[%s]' \"$a\"; done > \"$1\"\n");
    const QString line = CommandLine::QuotePathIfNeeded(tool) + u' ' + CommandLine::QuoteValue(out)
                         + QStringLiteral(" -t \"\" -a ") + CommandLine::QuoteValue(QStringLiteral("x\" y\\"));
    const RunResult r = RunAndWait(line, 0);
    EXPECT_TRUE(r.Succeeded()) << r.Reason().toStdString();
    QFile f(out);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(f.readAll()), QStringLiteral("[%1][-t][][-a][x\" y\\]").arg(out));
}

TEST(RunAndWait, ReportsExitStatusAndTheLastErrorLines)
{
    QTemporaryDir dir;
    const QString tool = script(dir, QStringLiteral("fail"),
                                "i=0; while [ $i -lt 10 ]; do echo \"line $i\" >&2; i=$((i+1)); done\n"
                                "printf '无法读取源文件' >&2; exit 3\n");
    const RunResult r = RunAndWait(tool, 1);
    EXPECT_TRUE(r.started);
    EXPECT_FALSE(r.Succeeded());
    EXPECT_EQ(r.exitCode, 3);
    ASSERT_FALSE(r.errorLines.isEmpty());
    EXPECT_EQ(r.errorLines.last(), QStringLiteral("无法读取源文件")); // kept though it has no newline
    EXPECT_LE(r.errorLines.size(), 6);
    EXPECT_EQ(r.Reason(), QStringLiteral("无法读取源文件"));
}

TEST(RunAndWait, MissingProgramIsNotStartedAndNamed)
{
    const RunResult r = RunAndWait(QStringLiteral("/no/such/dir/pp -i \"a\""), 0);
    EXPECT_FALSE(r.started);
    EXPECT_FALSE(r.Succeeded());
    EXPECT_TRUE(r.Reason().contains(QStringLiteral("/no/such/dir/pp")));
    EXPECT_FALSE(RunAndWait(QString(), 0).started);
}

TEST(RunAndWait, CrashIsAFailure)
{
    QTemporaryDir dir;
    const RunResult r = RunAndWait(script(dir, QStringLiteral("crash"), "kill -9 $$\n"), 0);
    EXPECT_TRUE(r.started);
    EXPECT_TRUE(r.crashed);
    EXPECT_FALSE(r.Succeeded());
}

// The window keeps handling its events while the tool runs, and the wait costs no processor time.
// A second of waiting against a fifth of a second of processor time: a loop that polls gets far
// more than that even when other builds share the two cores, a sleeping wait far less.
TEST(RunAndWait, EventsAreHandledDuringTheWaitWithoutSpinning)
{
    QTemporaryDir dir;
    const QString tool = script(dir, QStringLiteral("slow"), "sleep 1\n");
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);
    QElapsedTimer wall;
    wall.start();
    const std::clock_t cpuBefore = std::clock();
    const RunResult r = RunAndWait(tool, 0);
    const double cpuSeconds = double(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
    EXPECT_TRUE(r.Succeeded());
    EXPECT_GE(wall.elapsed(), 950);
    EXPECT_GE(ticks, 5);
    EXPECT_LT(cpuSeconds, 0.2) << "the wait should sleep, not poll";
}

} // namespace
