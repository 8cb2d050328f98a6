#include "FakeEngine.h"

#include "Form1Parts.h"
#include "encoder/Form1.h"
#include "widgets/LinkLabel.h"
#include "encoder/ShutdownCountdown.h"
#include "platform/DriveLetterOpticalDrives.h"
#include "platform/PowerControl.h"
#include "support/ModalAnswerer.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace corva;
using corva::test::Ui;
using corva::test::FakeEngine;
using corva::test::ModalAnswerer;

namespace {

// A stand-in producer tool: writes its arguments as the job, or fails for a "corrupt" source.
constexpr const char *kFakeTool = R"(#!/bin/sh
job=""; input=""
while [ $# -gt 0 ]; do
  case "$1" in -cj) job="$2"; shift;; -i) input="$2"; shift;; esac
  shift
done
case "$input" in *corrupt*) echo "无法读取源文件：$input" >&2; exit 2;; esac
case "$input" in *nojob*) exit 0;; esac
printf '%s\n' "$input" > "$job"
)";

class CountingInhibitor final : public platform::SleepInhibitor
{
public:
    void Acquire() override { m_held = true; ++acquired; }
    void Release() override { m_held = false; }
    bool Held() const override { return m_held; }
    int acquired = 0;

private:
    bool m_held = false;
};

class Road : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        QFile::copy(QStringLiteral(CORVA_APP_DIR "/audi.txt"), dir.filePath(QStringLiteral("audi.txt")));
        QFile tool(dir.filePath(QStringLiteral("pp")));
        ASSERT_TRUE(tool.open(QIODevice::WriteOnly));
        tool.write(kFakeTool);
        tool.close();
        tool.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        makeForm("e");
    }

    void makeForm(std::string cdrom)
    {
        form.reset();
        Form1Services s;
        s.appDir = dir.path();
        s.engine = &engine;
        s.opticalDrives = std::make_unique<platform::DriveLetterOpticalDrives>(std::move(cdrom));
        s.sleepInhibitor = &inhibitor;
        s.shutdownComputer = [this](bool force) { shutdowns << force; };
        s.exitProcess = [this](int code) { exits << code; };
        s.clock = [this] { return clockValue.isValid() ? clockValue : QTime::currentTime(); };
        s.countdownIntervalMs = 1;
        form = std::make_unique<Form1>(std::move(s));
        QString error;
        ASSERT_TRUE(form->Load(&error)) << error.toStdString();
        form->show();
    }

    void setJob(const QString &in, const QString &out)
    {
        Ui(form).InputFile->setText(in);
        Ui(form).OutputFile->setText(out);
    }

    bool waitIdle(int ms = 5000)
    {
        return QTest::qWaitFor([this] { return form->Mode() == Form1::RunMode::Idle; }, ms);
    }

    QStringList states() const
    {
        QStringList out;
        for (int i = 0; i < Ui(form).List3->count(); ++i)
            out << Ui(form).List3->item(i)->text();
        return out;
    }

    QTemporaryDir dir;
    FakeEngine engine;
    CountingInhibitor inhibitor;
    QList<bool> shutdowns;
    QList<int> exits;
    QTime clockValue;
    std::unique_ptr<Form1> form;
};

TEST_F(Road, SingleJobRunsTheToolThenTheEngineAndReportsTheTime)
{
    ModalAnswerer answerer;
    setJob(QStringLiteral("/v/a.avi"), QStringLiteral("/v/out/a.rm"));
    EXPECT_TRUE(Ui(form).command3->Enabled()); // editing the source enabled start
    Ui(form).command3->Click();
    EXPECT_FALSE(Ui(form).command3->Enabled());
    ASSERT_TRUE(waitIdle());
    EXPECT_TRUE(answerer.Texts().isEmpty()) << answerer.Texts().join(u'|').toStdString();
    ASSERT_EQ(engine.starts, 1);
    EXPECT_EQ(engine.audiencesDirs.last(), dir.path() + QStringLiteral("/Audiences/"));
    EXPECT_EQ(engine.outputDirs.last(), QStringLiteral("/v/out/"));
    EXPECT_EQ(engine.jobFiles.last(), dir.path() + QStringLiteral("/1.rpjf"));
    EXPECT_EQ(engine.jobContents.last().trimmed(), QStringLiteral("/v/a.avi"));
    EXPECT_TRUE(Ui(form).Label7->text().contains(QStringLiteral("完毕!用时"))) << Ui(form).Label7->text().toStdString();
    EXPECT_TRUE(Ui(form).command3->Enabled());
    EXPECT_FALSE(Ui(form).command4->Enabled());
    EXPECT_FLOAT_EQ(form->BarWidth(), 688.0f);
    EXPECT_EQ(Ui(form).PBar2->width(), 688);
    EXPECT_TRUE(Ui(form).List1->count() == 0);
    EXPECT_EQ(inhibitor.acquired, 1);
    EXPECT_FALSE(inhibitor.Held());
    EXPECT_TRUE(shutdowns.isEmpty());
}

// A bare output name sets no output folder, and the engine keeps the one it had.
TEST_F(Road, BareOutputNameSetsNoOutputDirectory)
{
    ModalAnswerer answerer;
    setJob(QStringLiteral("/v/a.avi"), QStringLiteral("a.rm"));
    Ui(form).command3->Click();
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(engine.starts, 1);
    EXPECT_TRUE(engine.outputDirs.isEmpty());
}

// A failed tool must not leave the engine to re-encode the previous task's job.
TEST_F(Road, FailedToolStartsNothingAndSaysWhy)
{
    QFile stale(dir.filePath(QStringLiteral("1.rpjf")));
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.write("old job");
    stale.close();
    ModalAnswerer answerer;
    setJob(QStringLiteral("/v/corrupt.avi"), QStringLiteral("/v/a.rm"));
    Ui(form).command3->Click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !answerer.Texts().isEmpty(); }, 5000));
    EXPECT_EQ(answerer.Texts().last(), QStringLiteral("无法读取源文件：/v/corrupt.avi"));
    EXPECT_EQ(answerer.Titles().last(), QStringLiteral("墨川Real凌波 "));
    EXPECT_EQ(answerer.Icons().last(), QMessageBox::NoIcon);
    EXPECT_EQ(engine.starts, 0);
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("1.rpjf"))));
    EXPECT_TRUE(Ui(form).command3->Enabled());
    EXPECT_EQ(form->Mode(), Form1::RunMode::Idle);

    answerer.Clear();
    setJob(QStringLiteral("/v/nojob.avi"), QStringLiteral("/v/a.rm"));
    Ui(form).command3->Click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !answerer.Texts().isEmpty(); }, 5000));
    EXPECT_TRUE(answerer.Texts().last().contains(QStringLiteral("任务文件")));
    EXPECT_EQ(engine.starts, 0);
}

// A pipe at the job file's path is somebody else's: the window leaves it for the tool to refuse
// by name, and removes only a stale file.
TEST_F(Road, APipeAtTheJobFilePathIsNotRemoved)
{
    const QString job = dir.filePath(QStringLiteral("1.rpjf"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(job).constData(), 0600), 0);
    ModalAnswerer answerer;
    setJob(QStringLiteral("/v/corrupt.avi"), QStringLiteral("/v/a.rm"));
    Ui(form).command3->Click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !answerer.Texts().isEmpty(); }, 5000));
    struct stat st{};
    ASSERT_EQ(::lstat(QFile::encodeName(job).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(engine.starts, 0);
}

TEST_F(Road, MissingToolIsReportedWithItsPath)
{
    QFile::remove(dir.filePath(QStringLiteral("pp")));
    ModalAnswerer answerer;
    setJob(QStringLiteral("/v/a.avi"), QStringLiteral("/v/a.rm"));
    Ui(form).command3->Click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !answerer.Texts().isEmpty(); }, 5000));
    EXPECT_TRUE(answerer.Texts().last().contains(dir.path() + QStringLiteral("/pp")));
    EXPECT_EQ(engine.starts, 0);
}

TEST_F(Road, EngineFailureIsShownAsFailure)
{
    ModalAnswerer answerer;
    engine.autoRun = false;
    setJob(QStringLiteral("/v/a.avi"), QStringLiteral("/v/a.rm"));
    Ui(form).command3->Click();
    ASSERT_EQ(engine.starts, 1);
    engine.Finish(false, QStringLiteral("磁盘已满"));
    EXPECT_EQ(Ui(form).Label7->text(), QStringLiteral("压缩失败：磁盘已满"));
    EXPECT_TRUE(Ui(form).command3->Enabled());
    EXPECT_FALSE(Ui(form).command4->Enabled());
}

TEST_F(Road, ProgressTextAndBarFollowThePercentage)
{
    ModalAnswerer answerer;
    engine.autoRun = false;
    clockValue = QTime(9, 35, 7);
    setJob(QStringLiteral("/v/a.avi"), QStringLiteral("/v/a.rm"));
    Ui(form).command3->Click();
    Q_EMIT engine.EncodingStarted();
    EXPECT_TRUE(Ui(form).PBar2->isVisible());
    EXPECT_EQ(Ui(form).PBar2->width(), 0);
    EXPECT_TRUE(Ui(form).command4->Enabled());
    Q_EMIT engine.EncodingProgress(1, 45, 12.5, QString());
    EXPECT_EQ(Ui(form).Label7->text(), QStringLiteral("压缩开始于09:35:07 完成45%  [12.5s/100s]"));
    Q_EMIT engine.EncodingProgress(1, 33, 0, QString());
    EXPECT_FLOAT_EQ(form->BarWidth(), 227.04f);
    Q_EMIT engine.EncodingProgress(1, 100, 0, QString());
    EXPECT_FLOAT_EQ(form->BarWidth(), 688.0f);
    clockValue = QTime(10, 2, 3);
    engine.Finish(true, QString());
    EXPECT_EQ(Ui(form).Label7->text(), QStringLiteral("10:02:03完毕!用时26分56秒"));
}

TEST_F(Road, RunAcrossMidnightCountsForward)
{
    ModalAnswerer answerer;
    engine.autoRun = false;
    clockValue = QTime(23, 59, 50);
    setJob(QStringLiteral("/v/a.avi"), QStringLiteral("/v/a.rm"));
    Ui(form).command3->Click();
    Q_EMIT engine.EncodingStarted();
    clockValue = QTime(0, 0, 10);
    engine.Finish(true, QString());
    EXPECT_EQ(Ui(form).Label7->text(), QStringLiteral("00:00:10完毕!用时20秒"));
}

TEST_F(Road, BatchMarksEachTaskAndKeepsOnlyTheFailedOne)
{
    ModalAnswerer answerer;
    for (const char *name : {"/v/one.avi", "/v/corrupt.avi", "/v/three.avi"}) {
        setJob(QString::fromUtf8(name), QString::fromUtf8(name).replace(QStringLiteral(".avi"), QStringLiteral(".rm")));
        Ui(form).command8->Click();
    }
    EXPECT_EQ(form->OuterHeight(), 7185);
    EXPECT_EQ(states(), (QStringList{"待命", "待命", "待命"}));
    setJob(QStringLiteral("/v/x.avi"), QStringLiteral("/v/x.rm"));
    QStringList seen;
    QObject::connect(&engine, &EncodingEngine::EncodingStarted, form.get(), [&] { seen << states().join(u','); });
    Ui(form).command3->Click();
    EXPECT_FALSE(Ui(form).command7->Enabled());
    EXPECT_FALSE(Ui(form).command9->Enabled());
    ASSERT_TRUE(waitIdle());
    EXPECT_TRUE(answerer.Texts().isEmpty());
    EXPECT_EQ(engine.starts, 2);
    EXPECT_EQ(seen, (QStringList{"正在压缩,待命,待命", "完成,失败,正在压缩"}));
    EXPECT_TRUE(Ui(form).Label7->text().startsWith(QStringLiteral("任务全部完毕!用时")));
    EXPECT_TRUE(Ui(form).Label7->text().endsWith(QStringLiteral("，失败1个"))) << Ui(form).Label7->text().toStdString();
    EXPECT_EQ(states(), QStringList{"失败"});
    EXPECT_EQ(Ui(form).List1->item(0)->text(), QStringLiteral("/v/corrupt.rm"));
    EXPECT_EQ(Ui(form).List2->count(), 1);
    EXPECT_TRUE(Ui(form).command3->Enabled());
    EXPECT_FALSE(Ui(form).command4->Enabled());
    EXPECT_TRUE(Ui(form).command7->Enabled());
    EXPECT_TRUE(Ui(form).command9->Enabled());
    EXPECT_EQ(Ui(form).PBar2->width(), 688);
}

// Stored command lines run, not the widgets; additions made meanwhile wait for the next batch.
TEST_F(Road, BatchRunsStoredTasksOnlyAndIgnoresASecondStart)
{
    ModalAnswerer answerer;
    engine.autoRun = false;
    setJob(QStringLiteral("/v/one.avi"), QStringLiteral("/v/one.rm"));
    Ui(form).command8->Click();
    Ui(form).command8->Click(); // duplicates are allowed
    setJob(QStringLiteral("/v/other.avi"), QStringLiteral("/v/other.rm"));
    Ui(form).command3->Click();
    ASSERT_EQ(engine.starts, 1);
    EXPECT_EQ(form->TaskIndex(), 0);
    Q_EMIT engine.EncodingProgress(1, 45, 0, QString());
    EXPECT_EQ(Ui(form).Label7->text(), QStringLiteral("正在压缩第1个文件 45%  [12.5s/100s]"));

    Ui(form).command8->Click(); // added during the run
    Ui(form).InputFile->setText(QStringLiteral("/v/other2.avi"));
    Ui(form).command3->Click(); // enabled by the edit, but a batch is running
    EXPECT_EQ(engine.starts, 1);
    Ui(form).command7->Click(); // refused while the batch runs
    EXPECT_EQ(Ui(form).List1->count(), 3);

    engine.Finish(true, QString());
    ASSERT_TRUE(QTest::qWaitFor([&] { return engine.starts == 2; }, 5000));
    EXPECT_EQ(form->TaskIndex(), 1);
    EXPECT_EQ(engine.jobContents.last().trimmed(), QStringLiteral("/v/one.avi"));
    engine.Finish(true, QString());
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(engine.starts, 2);
    EXPECT_EQ(states(), QStringList{"待命"});
    EXPECT_EQ(Ui(form).List1->item(0)->text(), QStringLiteral("/v/other2.rm").replace(QStringLiteral("2"), QString()));
    EXPECT_EQ(Ui(form).Label7->text().left(9), QStringLiteral("任务全部完毕!用时"));
    EXPECT_FALSE(Ui(form).Label7->text().contains(QStringLiteral("失败")));
}

// The last task failing at launch must still complete the batch: no notification would.
TEST_F(Road, BatchWhoseLastTaskFailsAtLaunchStillCompletes)
{
    ModalAnswerer answerer;
    setJob(QStringLiteral("/v/corrupt.avi"), QStringLiteral("/v/c.rm"));
    Ui(form).command8->Click();
    Ui(form).Check3->setCheckState(Qt::Checked);
    Ui(form).command3->Click();
    // Nothing reached the engine, so the batch ended inside the click, countdown begun.
    EXPECT_EQ(form->Mode(), Form1::RunMode::Idle);
    EXPECT_EQ(engine.starts, 0);
    EXPECT_EQ(Ui(form).Label7->text().right(5), QStringLiteral("，失败1个"));
    EXPECT_TRUE(form->Countdown()->Running());
    EXPECT_TRUE(shutdowns.isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shutdowns.isEmpty(); }, 5000));
    EXPECT_EQ(shutdowns, QList<bool>{true});
}

struct CheckCase
{
    const char *name;
    const char *input;
    const char *output;
    const char *width;
    const char *expectedMessage; // nullptr: passes
};

class JobCheck : public Road, public ::testing::WithParamInterface<CheckCase>
{
};

TEST_P(JobCheck, RefusesWithTheRightMessage)
{
    ModalAnswerer answerer(QMessageBox::Ok);
    setJob(QString::fromUtf8(GetParam().input), QString::fromUtf8(GetParam().output));
    Ui(form).Text4->setText(QString::fromUtf8(GetParam().width));
    answerer.Clear();
    const bool passed = form->ValidateJob();
    if (GetParam().expectedMessage) {
        EXPECT_FALSE(passed);
        ASSERT_FALSE(answerer.Texts().isEmpty());
        EXPECT_EQ(answerer.Texts().last(), QString::fromUtf8(GetParam().expectedMessage));
    } else {
        EXPECT_TRUE(passed) << answerer.Texts().join(u'|').toStdString();
        EXPECT_TRUE(answerer.Texts().isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(Checks, JobCheck, ::testing::Values(
    CheckCase{"bothEmpty", "", "", "0", "输出的影片文件名和输入的文件名不能相同！"},
    CheckCase{"same", "C:\\a.avi", "C:\\a.avi", "0", "输出的影片文件名和输入的文件名不能相同！"},
    CheckCase{"blankOutput", "C:\\a.avi", "   ", "0", "输入或输出路径为空，请填写！"},
    CheckCase{"opticalUpper", "C:\\a.avi", "E:\\a.rm", "0", "发现您的输出路径是光驱，请修改！"},
    CheckCase{"opticalLower", "C:\\a.avi", "e:\\a.rm", "0", "发现您的输出路径是光驱，请修改！"},
    CheckCase{"driveC", "C:\\a.avi", "C:\\a.rm", "0", nullptr},
    CheckCase{"upperAvi", "C:\\a.AVI", "C:\\a.rm", "0", nullptr},
    CheckCase{"rmvbTail", "C:\\a.rmvb", "C:\\a.rm", "0", nullptr},
    CheckCase{"negativeWidth", "C:\\a.avi", "C:\\a.rm", "-1", "输入的影片长宽有误，请参考帮助文档！"},
    CheckCase{"junkWidth", "C:\\a.avi", "C:\\a.rm", "abc", "输入的影片长宽有误，请参考帮助文档！"},
    CheckCase{"emptyWidth", "C:\\a.avi", "C:\\a.rm", "", "输入的影片长宽有误，请参考帮助文档！"},
    CheckCase{"hugeWidth", "C:\\a.avi", "C:\\a.rm", "40000", "输入的影片长宽有误，请参考帮助文档！"}),
    [](const auto &row) { return std::string(row.param.name); });

TEST_F(Road, UnknownFormatAsksAndCancelStops)
{
    ModalAnswerer answerer(QMessageBox::Cancel);
    setJob(QStringLiteral("C:\\a.Avi"), QStringLiteral("C:\\a.rm"));
    EXPECT_FALSE(form->ValidateJob());
    EXPECT_EQ(form->focusWidget(), Ui(form).InputFile);
    EXPECT_EQ(answerer.Texts().last(), QStringLiteral("输入的文件格式不能保证正确压缩，继续吗？"));
    answerer.SetAnswer(QMessageBox::Ok);
    EXPECT_TRUE(form->ValidateJob());
    // Both paths emptied with tasks queued: the checks still run on the boxes.
    Ui(form).command8->Click();
    answerer.Clear();
    setJob(QString(), QString());
    Ui(form).command3->Click();
    EXPECT_EQ(answerer.Texts(), QStringList{"输出的影片文件名和输入的文件名不能相同！"});
    EXPECT_EQ(engine.starts, 0);
}

TEST_F(Road, PowerOffOnlyAfterAnUnansweredCountdown)
{
    ModalAnswerer answerer;
    Ui(form).Check3->setCheckState(Qt::Checked);
    setJob(QStringLiteral("/v/a.avi"), QStringLiteral("/v/a.rm"));
    Ui(form).command3->Click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->Countdown()->Running(); }, 5000));
    EXPECT_EQ(form->Countdown()->Box()->text(), QStringLiteral("压缩任务已全部完成，电脑将在60秒后自动关机。"));
    EXPECT_EQ(form->Countdown()->Box()->windowTitle(), QStringLiteral("墨川Real凌波 "));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shutdowns.isEmpty(); }, 5000));
    EXPECT_EQ(shutdowns, QList<bool>{true});

    // Cancelled: no shutdown.
    shutdowns.clear();
    Ui(form).command3->Click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->Countdown()->Running(); }, 5000));
    form->Countdown()->Box()->buttons().constFirst()->click();
    // Stopped at once: no step is left to count down to a power-off.
    EXPECT_FALSE(form->Countdown()->Running());
    EXPECT_TRUE(shutdowns.isEmpty());
    EXPECT_TRUE(Ui(form).Label7->text().contains(QStringLiteral("完毕!")));

    // Unchecked: no countdown at all.
    Ui(form).Check3->setCheckState(Qt::Unchecked);
    engine.autoRun = false;
    Ui(form).command3->Click();
    engine.Finish(true, QString());
    // The countdown would have begun inside the end notification.
    EXPECT_EQ(form->Mode(), Form1::RunMode::Idle);
    EXPECT_FALSE(form->Countdown()->Running());
    EXPECT_TRUE(shutdowns.isEmpty());
}

TEST_F(Road, NewStartCancelsARunningCountdown)
{
    ModalAnswerer answerer;
    makeForm("");
    Ui(form).Check3->setCheckState(Qt::Checked);
    setJob(QStringLiteral("/v/a.avi"), QStringLiteral("/v/a.rm"));
    engine.autoRun = false;
    Ui(form).command3->Click();
    engine.Finish(true, QString());
    ASSERT_TRUE(form->Countdown()->Running());
    Ui(form).command3->Click();
    EXPECT_FALSE(form->Countdown()->Running());
    engine.Finish(true, QString());
    form->Countdown()->Cancel();
    EXPECT_TRUE(shutdowns.isEmpty());
}

TEST_F(Road, CancelAsksAndOnYesStopsAndExits)
{
    ModalAnswerer answerer(QMessageBox::No);
    engine.autoRun = false;
    setJob(QStringLiteral("/v/a.avi"), QStringLiteral("/v/a.rm"));
    Ui(form).command3->Click();
    Ui(form).command4->Click();
    EXPECT_EQ(answerer.Texts().last(), QStringLiteral("您选择了取消压缩，所有任务将中断，并退出本软件！！"));
    EXPECT_EQ(engine.stops, 0);
    EXPECT_TRUE(exits.isEmpty());
    answerer.SetAnswer(QMessageBox::Yes);
    form->close(); // the close box asks the same while a job runs
    EXPECT_EQ(engine.stops, 1);
    EXPECT_EQ(exits, QList<int>{0});
    engine.Finish(false, QString());
    EXPECT_TRUE(form->close()); // idle: simply closes
}

TEST_F(Road, DeleteClearAndMirroring)
{
    ModalAnswerer answerer;
    for (const char *name : {"/v/a.avi", "/v/b.avi", "/v/c.avi"}) {
        setJob(QString::fromUtf8(name), QString::fromUtf8(name) + QStringLiteral(".rm"));
        Ui(form).command8->Click();
    }
    Ui(form).List1->setCurrentRow(-1);
    Ui(form).command7->Click(); // nothing selected: nothing happens
    EXPECT_EQ(Ui(form).List1->count(), 3);
    Ui(form).List3->setCurrentRow(1);
    EXPECT_EQ(Ui(form).List1->currentRow(), 1);
    Ui(form).command7->Click();
    ASSERT_EQ(Ui(form).List1->count(), 2);
    EXPECT_EQ(Ui(form).List1->item(0)->text(), QStringLiteral("/v/a.avi.rm"));
    EXPECT_EQ(Ui(form).List1->item(1)->text(), QStringLiteral("/v/c.avi.rm"));
    EXPECT_EQ(Ui(form).List2->count(), 2);
    EXPECT_TRUE(Ui(form).List2->item(1)->text().contains(QStringLiteral("\"/v/c.avi\"")));
    Ui(form).List1->setCurrentRow(0);
    EXPECT_EQ(Ui(form).List3->currentRow(), 0);
    Ui(form).command9->Click();
    EXPECT_EQ(Ui(form).List1->count() + Ui(form).List2->count() + Ui(form).List3->count(), 0);
    EXPECT_EQ(form->OuterHeight(), 7185);
}

TEST_F(Road, JobFileMovesToTheUserFolderWhereAppDirIsNotWritable)
{
    Form1Services s;
    s.appDir = dir.filePath(QStringLiteral("no-such-folder"));
    s.jobFileFallbackDir = dir.filePath(QStringLiteral("user"));
    Form1 other(std::move(s));
    EXPECT_EQ(other.JobFilePath(), dir.filePath(QStringLiteral("user/1.rpjf")));
    EXPECT_EQ(form->JobFilePath(), dir.filePath(QStringLiteral("1.rpjf")));
    Ui(other).InputFile->setText(QStringLiteral("/v/a.avi"));
    other.BuildCommandLine();
    EXPECT_TRUE(other.CommandLine().endsWith(QStringLiteral("-cj ") + dir.filePath(QStringLiteral("user/1.rpjf"))));
}

} // namespace

namespace {

// A failed task keeps its reason on its row, and the end of the batch lists every failure.
TEST_F(Road, BatchFailuresKeepTheirReasonsOnTheRowsAndAtTheEnd)
{
    ModalAnswerer answerer;
    for (const char *name : {"/v/corrupt.avi", "/v/one.avi", "/v/fail.avi"}) {
        setJob(QString::fromUtf8(name), QString::fromUtf8(name).replace(QStringLiteral(".avi"), QStringLiteral(".rm")));
        Ui(form).command8->Click();
    }
    Ui(form).command3->Click();
    ASSERT_TRUE(waitIdle());
    EXPECT_TRUE(answerer.Texts().isEmpty()) << answerer.Texts().join(u'|').toStdString();
    ASSERT_EQ(states(), (QStringList{"失败", "失败"}));
    const auto ui = Ui(form);
    EXPECT_TRUE(ui.List3->item(0)->toolTip().contains(QStringLiteral("无法读取源文件：/v/corrupt.avi")))
        << ui.List3->item(0)->toolTip().toStdString();
    EXPECT_EQ(ui.List3->item(1)->toolTip(), QStringLiteral("输入文件已损坏"));
    EXPECT_EQ(ui.List1->item(1)->toolTip(), QStringLiteral("输入文件已损坏"));
    EXPECT_TRUE(ui.Label7->text().endsWith(QStringLiteral("，失败2个"))) << ui.Label7->text().toStdString();
    const QStringList tip = ui.Label7->toolTip().split(u'\n');
    ASSERT_EQ(tip.size(), 2) << ui.Label7->toolTip().toStdString();
    EXPECT_TRUE(tip[0].startsWith(QStringLiteral("第1个任务 /v/corrupt.rm：无法读取源文件"))) << tip[0].toStdString();
    EXPECT_EQ(tip[1], QStringLiteral("第3个任务 /v/fail.rm：输入文件已损坏"));

    // A batch with no failure leaves no list behind.
    setJob(QStringLiteral("/v/a.avi"), QStringLiteral("/v/a.rm"));
    ui.command9->Click();
    ui.command8->Click();
    ui.command3->Click();
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(ui.Label7->toolTip(), QString());
}

// A failure too long for the window is cut at its edge, and the whole reason is in the tooltip.
TEST_F(Road, LongFailureTextIsElidedWithTheWholeReasonInItsTooltip)
{
    ModalAnswerer answerer;
    engine.autoRun = false;
    setJob(QStringLiteral("/v/a.avi"), QStringLiteral("/v/a.rm"));
    Ui(form).command3->Click();
    ASSERT_EQ(engine.starts, 1);
    const QString reason = QStringLiteral("无法解码视频流：") + QString(60, u'错') + QStringLiteral("（末尾）");
    engine.Finish(false, reason);
    const QLabel *label7 = Ui(form).Label7;
    const QString whole = QStringLiteral("压缩失败：") + reason;
    EXPECT_NE(label7->text(), whole);
    EXPECT_TRUE(label7->text().startsWith(QStringLiteral("压缩失败：无法解码视频流：")));
    EXPECT_LE(label7->fontMetrics().horizontalAdvance(label7->text()), label7->width());
    EXPECT_FALSE(label7->text().contains(QStringLiteral("（末尾）")));
    EXPECT_EQ(label7->toolTip(), whole);

    // A short one is shown whole, with no tooltip left from before.
    Ui(form).command3->Click();
    engine.Finish(false, QStringLiteral("短"));
    EXPECT_EQ(label7->text(), QStringLiteral("压缩失败：短"));
    EXPECT_EQ(label7->toolTip(), QString());
}

// A pipe as source would hold the tool waiting for ever, and the window with it.
TEST_F(Road, APipeAsSourceIsRefusedAtOnce)
{
    ModalAnswerer answerer;
    const QString fifo = dir.filePath(QStringLiteral("live.avi"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    setJob(fifo, QStringLiteral("/v/live.rm"));
    Ui(form).command8->Click();
    EXPECT_EQ(Ui(form).List1->count(), 0);
    Ui(form).command3->Click();
    EXPECT_EQ(form->Mode(), Form1::RunMode::Idle);
    EXPECT_EQ(engine.starts, 0);
    EXPECT_TRUE(Ui(form).command3->Enabled());
    EXPECT_FALSE(inhibitor.Held());
    ASSERT_EQ(answerer.Texts().size(), 2);
    for (const QString &text : answerer.Texts())
        EXPECT_TRUE(text.contains(fifo) && text.contains(QStringLiteral("管道"))) << text.toStdString();
    EXPECT_EQ(form->focusWidget(), Ui(form).InputFile);
}

} // namespace
