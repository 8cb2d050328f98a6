#include "JoinerTestSupport.h"

#include "support/ModalAnswerer.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QTemporaryDir>
#include <QProcess>
#include <QTimer>

#include <cstdlib>

using corva::test::JoinerFixtureWindow;
using corva::test::OpenGate;
using corva::test::WaitForGate;
using corva::test::ModalAnswerer;
using corva::test::WaitFor;
using corva::test::WriteTool;

namespace {

const QString kTooFew = QStringLiteral("要合并文件，您必须要有两个以上的文件吧？");
const QString kDone = QStringLiteral("合并完毕！");
const QString kTitle = QStringLiteral("墨川Real凌波 影片合并工具");

TEST(JoinerWindow, CaptionAndFixedWindowWithACloseBoxOnly)
{
    JoinerFixtureWindow f;
    EXPECT_EQ(f.window->windowTitle(), QStringLiteral("墨川Real凌波 影片合并工具 1.0.0"));
    EXPECT_EQ(f.window->minimumSize(), QSize(706, 426));
    EXPECT_EQ(f.window->maximumSize(), QSize(706, 426));
    const Qt::WindowFlags flags = f.window->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    // A tool window gets no taskbar entry: minimised from Label13 it could not come back.
    EXPECT_NE(f.window->windowType(), Qt::Tool);
    EXPECT_EQ(f.window->windowType(), Qt::Window);
}

struct PlaceCase
{
    const char *name;
    QRect pixels; // relative to the parent: the window, or Frame1 / Frame2
    const char *parent;
};

// Rows are named by the test's suffix; this keeps the listing free of raw bytes.
void PrintTo(const PlaceCase &, std::ostream *os)
{
    *os << "row";
}

class JoinerPlacement : public ::testing::TestWithParam<PlaceCase>
{
};

TEST_P(JoinerPlacement, WidgetStandsWhereTheDesignPutsIt)
{
    JoinerFixtureWindow f;
    QWidget *w = f.Find(GetParam().name);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->geometry(), GetParam().pixels);
    EXPECT_EQ(w->parentWidget()->objectName(), QString::fromLatin1(GetParam().parent));
}

INSTANTIATE_TEST_SUITE_P(Form1, JoinerPlacement, ::testing::Values(
    PlaceCase{"Image1", QRect(0, 0, 708, 82), "Form1"},
    PlaceCase{"Label13", QRect(696, 8, 17, 49), "Form1"},
    PlaceCase{"Label8", QRect(168, 64, 73, 17), "Form1"},
    PlaceCase{"Label1", QRect(16, 96, 113, 25), "Form1"},
    PlaceCase{"InputFile", QRect(16, 112, 377, 18), "Form1"},
    PlaceCase{"Command1", QRect(408, 112, 49, 17), "Form1"},
    PlaceCase{"Command10", QRect(472, 96, 105, 41), "Form1"},
    PlaceCase{"Command4", QRect(592, 96, 105, 41), "Form1"},
    PlaceCase{"Label3", QRect(16, 144, 593, 17), "Form1"},
    PlaceCase{"Frame2", QRect(8, 160, 689, 145), "Form1"},
    PlaceCase{"List1", QRect(8, 16, 545, 110), "Frame2"},
    PlaceCase{"Command7", QRect(576, 40, 89, 17), "Frame2"},
    PlaceCase{"Command9", QRect(576, 88, 89, 17), "Frame2"},
    PlaceCase{"Frame1", QRect(8, 312, 689, 105), "Form1"},
    PlaceCase{"Label4", QRect(16, 24, 65, 17), "Frame1"},
    PlaceCase{"Text1", QRect(56, 24, 217, 18), "Frame1"},
    PlaceCase{"Label5", QRect(16, 48, 65, 17), "Frame1"},
    PlaceCase{"Text2", QRect(56, 48, 217, 18), "Frame1"},
    PlaceCase{"Label6", QRect(16, 72, 65, 17), "Frame1"},
    PlaceCase{"Text3", QRect(56, 72, 217, 18), "Frame1"},
    PlaceCase{"Label2", QRect(296, 32, 121, 25), "Frame1"},
    PlaceCase{"OutputFile", QRect(296, 48, 305, 18), "Frame1"},
    PlaceCase{"Command2", QRect(616, 48, 49, 17), "Frame1"}),
    [](const auto &row) { return std::string(row.param.name); });

TEST(JoinerWindow, BoxesAndColoursAtStart)
{
    JoinerFixtureWindow f;
    for (const char *name : {"InputFile", "OutputFile", "Text1", "Text2"})
        EXPECT_EQ(f.Text(name), QString()) << name;
    EXPECT_EQ(f.Text("Text3"), QStringLiteral("墨川压缩合并 2004"));
    const auto colour = [&](const char *name) {
        return f.Find<QLabel>(name)->palette().color(QPalette::WindowText);
    };
    EXPECT_EQ(colour("Label3"), QColor(255, 0, 0));
    EXPECT_EQ(colour("Label8"), QColor(0, 0, 255));
    EXPECT_EQ(colour("Label13"), QColor(0, 0, 255));
    EXPECT_FALSE(f.Find<QLabel>("Image1")->pixmap().isNull());
}

TEST(JoinerWindow, TabOrderStartsAtTheInputBox)
{
    JoinerFixtureWindow f;
    QStringList chain;
    QWidget *w = f.Find("InputFile");
    for (int i = 0; i < 12; ++i, w = w->nextInFocusChain()) {
        while (w->focusPolicy() == Qt::NoFocus)
            w = w->nextInFocusChain();
        chain << w->objectName();
    }
    EXPECT_EQ(chain, (QStringList{"InputFile", "Command1", "Command10", "Command4", "List1",
                                  "Command7", "Command9", "Text1", "Text2", "Text3", "OutputFile",
                                  "Command2"}));
    f.window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(f.window.get()));
    EXPECT_EQ(f.window->focusWidget(), f.Find("InputFile"));
}

TEST(JoinerWindow, AddingNamesTheOutputAfterTheInput)
{
    JoinerFixtureWindow f;
    f.Add(QStringLiteral("D:\\v\\a.rmvb"));
    EXPECT_EQ(f.Text("InputFile"), QStringLiteral("D:\\v\\a.rmvb"));
    EXPECT_EQ(f.Text("OutputFile"), QStringLiteral("D:\\v\\a_合并.rmvb"));
    // The same file twice is two entries.
    f.Add(QStringLiteral("D:\\v\\a.rmvb"));
    EXPECT_EQ(f.Entries(), (QStringList{"D:\\v\\a.rmvb", "D:\\v\\a.rmvb"}));
    // A path without a dot leaves the output as it was, but is still added.
    f.Add(QStringLiteral("D:\\v\\clip"));
    EXPECT_EQ(f.Text("OutputFile"), QStringLiteral("D:\\v\\a_合并.rmvb"));
    EXPECT_EQ(f.Entries().size(), 3);
}

// A cancelled dialog must not add an empty or repeated entry, nor touch the boxes.
TEST(JoinerWindow, CancelledDialogsChangeNothing)
{
    JoinerFixtureWindow f;
    f.Add(QStringLiteral("D:\\v\\a.rm"));
    f.Find<QLineEdit>("OutputFile")->setText(QStringLiteral("typed by hand"));
    f.Button("Command1")->click();
    f.Button("Command2")->click();
    EXPECT_EQ(f.chooser->asked, 3);
    EXPECT_EQ(f.Entries(), QStringList{"D:\\v\\a.rm"});
    EXPECT_EQ(f.Text("InputFile"), QStringLiteral("D:\\v\\a.rm"));
    EXPECT_EQ(f.Text("OutputFile"), QStringLiteral("typed by hand"));
}

struct OutputCase
{
    const char *name;
    const char *lastInput; // nullptr: none added
    const char *chosen;
    const char *expected;
};

void PrintTo(const OutputCase &, std::ostream *os)
{
    *os << "row";
}

class JoinerOutputChoice : public ::testing::TestWithParam<OutputCase>
{
};

TEST_P(JoinerOutputChoice, FollowsTheLastInputsType)
{
    JoinerFixtureWindow f;
    if (GetParam().lastInput)
        f.Add(QString::fromUtf8(GetParam().lastInput));
    f.chooser->outputs.push_back(QString::fromUtf8(GetParam().chosen));
    f.Button("Command2")->click();
    EXPECT_EQ(f.Text("OutputFile"), QString::fromUtf8(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Cases, JoinerOutputChoice, ::testing::Values(
    OutputCase{"AfterRmvb", "D:\\v\\a.rmvb", "D:\\out.rm", "D:\\out_合并.rmvb"},
    OutputCase{"AfterRm", "D:\\v\\a.rm", "D:\\out.rmvb", "D:\\out_合并.rm"},
    OutputCase{"NoInputYet", nullptr, "D:\\out.rmvb", "D:\\out_合并.rm"},
    OutputCase{"NoDot", "D:\\v\\a.rmvb", "D:\\out", "D:\\out"}),
    [](const auto &row) { return std::string(row.param.name); });

// Each input added replaces an output chosen earlier.
TEST(JoinerWindow, AnInputAddedLaterOverwritesTheChosenOutput)
{
    JoinerFixtureWindow f;
    f.chooser->outputs.push_back(QStringLiteral("E:\\mine.rm"));
    f.Button("Command2")->click();
    f.Add(QStringLiteral("D:\\b.rm"));
    EXPECT_EQ(f.Text("OutputFile"), QStringLiteral("D:\\b_合并.rm"));
}

TEST(JoinerWindow, DeleteRemovesExactlyTheSelectedEntry)
{
    JoinerFixtureWindow f;
    for (const char *p : {"D:\\1.rm", "D:\\2.rm", "D:\\3.rm"})
        f.Add(QString::fromLatin1(p));
    auto *list = f.Find<QListWidget>("List1");

    // Nothing selected, even with a current row: nothing happens.
    list->setCurrentRow(0, QItemSelectionModel::NoUpdate);
    f.Button("Command7")->click();
    EXPECT_EQ(f.Entries().size(), 3);

    list->setCurrentRow(1);
    f.Button("Command7")->click();
    EXPECT_EQ(f.Entries(), (QStringList{"D:\\1.rm", "D:\\3.rm"}));

    // The list the join uses shrank with it.
    ModalAnswerer answer;
    list->setCurrentRow(0);
    f.Button("Command7")->click();
    f.Button("Command10")->click();
    EXPECT_EQ(answer.Texts(), QStringList{kTooFew});
}

TEST(JoinerWindow, ClearEmptiesTheList)
{
    JoinerFixtureWindow f;
    f.Add(QStringLiteral("D:\\1.rm"));
    f.Add(QStringLiteral("D:\\2.rm"));
    f.Button("Command9")->click();
    EXPECT_TRUE(f.Entries().isEmpty());
    ModalAnswerer answer;
    f.Button("Command10")->click();
    EXPECT_EQ(answer.Texts(), QStringList{kTooFew});
}

class JoinerTooFew : public ::testing::TestWithParam<int>
{
};

TEST_P(JoinerTooFew, StartsNothingBelowTwoEntries)
{
    QTemporaryDir dir;
    const QString marker = dir.filePath(QStringLiteral("ran"));
    JoinerFixtureWindow f(WriteTool(dir.filePath(QStringLiteral("jj")), "touch '" + marker.toUtf8() + "'"));
    for (int i = 0; i < GetParam(); ++i)
        f.Add(QStringLiteral("D:\\a.rm"));
    ModalAnswerer answer;
    f.Button("Command10")->click();
    EXPECT_EQ(answer.Texts(), QStringList{kTooFew});
    EXPECT_EQ(answer.Titles(), QStringList{kTitle});
    EXPECT_EQ(answer.Icons(), QList<QMessageBox::Icon>{QMessageBox::NoIcon});
    EXPECT_FALSE(QFile::exists(marker));
    EXPECT_TRUE(f.window->JoinCommandLine().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Counts, JoinerTooFew, ::testing::Values(0, 1));

// The tool gets exactly the list, output and texts, each as one argument.
TEST(JoinerWindow, RunsTheToolWithTheWindowsContents)
{
    QTemporaryDir dir;
    const QString argsFile = dir.filePath(QStringLiteral("args"));
    const QString tool = WriteTool(dir.filePath(QStringLiteral("jj")),
                                   "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done > '"
                                       + argsFile.toUtf8() + "'");
    JoinerFixtureWindow f(tool);
    f.Add(QStringLiteral("/m/a b.rm"));
    f.Add(QStringLiteral("/m/a b.rm"));
    f.Find<QLineEdit>("Text1")->setText(QStringLiteral("片名 \"引号\""));
    f.Find<QLineEdit>("Text2")->setText(QStringLiteral("C:\\作者\\"));
    ModalAnswerer answer;
    f.Button("Command10")->click();
    EXPECT_EQ(answer.Texts(), QStringList{kDone});
    EXPECT_TRUE(f.window->JoinCommandLine().startsWith(tool + QStringLiteral(" -i ")));
    QFile args(argsFile);
    ASSERT_TRUE(args.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(args.readAll()),
              QStringLiteral("[-i]\n[/m/a b.rm]\n[-i]\n[/m/a b.rm]\n[-o]\n[/m/a b_合并.rm]\n"
                             "[-t]\n[片名 \"引号\"]\n[-a]\n[C:\\作者\\]\n[-c]\n[墨川压缩合并 2004]\n"));
}

// "合并完毕！" only for a tool that succeeded; otherwise the tool's own last complaint.
TEST(JoinerWindow, AFailedJoinShowsTheToolsReason)
{
    QTemporaryDir dir;
    JoinerFixtureWindow f(WriteTool(dir.filePath(QStringLiteral("jj")),
                                    "echo 'reading the first input' >&2\n"
                                    "echo 'jj: b.rm differs from a.rm: video size 320x240, not 176x144' >&2\n"
                                    "exit 3"));
    f.Add(QStringLiteral("/m/a.rm"));
    f.Add(QStringLiteral("/m/b.rm"));
    ModalAnswerer answer;
    f.Button("Command10")->click();
    ASSERT_EQ(answer.Texts().size(), 1);
    EXPECT_NE(answer.Texts()[0], kDone);
    EXPECT_TRUE(answer.Texts()[0].contains(
        QStringLiteral("jj: b.rm differs from a.rm: video size 320x240, not 176x144")));
    EXPECT_FALSE(answer.Texts()[0].contains(QStringLiteral("reading the first input")));
}

TEST(JoinerWindow, AMissingToolIsNamedWithThePathLookedFor)
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("jj"));
    JoinerFixtureWindow f(missing);
    f.Add(QStringLiteral("/m/a.rm"));
    f.Add(QStringLiteral("/m/b.rm"));
    ModalAnswerer answer;
    f.Button("Command10")->click();
    ASSERT_EQ(answer.Texts().size(), 1);
    EXPECT_NE(answer.Texts()[0], kDone);
    EXPECT_TRUE(answer.Texts()[0].contains(missing));
    EXPECT_FALSE(f.window->IsJoining());
}

// While the tool runs the window answers; a second start is refused and the first join
// still ends with its own report.
TEST(JoinerWindow, ASecondStartWhileJoiningIsRefused)
{
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("runs"));
    const QString gate = dir.filePath(QStringLiteral("gate"));
    JoinerFixtureWindow f(WriteTool(dir.filePath(QStringLiteral("jj")),
                                    "echo run >> '" + log.toUtf8() + "'\n" + WaitForGate(gate)));
    f.Add(QStringLiteral("/m/a.rm"));
    f.Add(QStringLiteral("/m/b.rm"));
    ModalAnswerer answer;
    bool joiningSeen = false;
    // Runs from the wait's event loop; the tool ends only when it has been through.
    QTimer::singleShot(0, f.window.get(), [&] {
        joiningSeen = f.window->IsJoining();
        f.Add(QStringLiteral("/m/c.rm")); // the window still handles the user meanwhile
        f.Button("Command10")->click();
        OpenGate(gate);
    });
    f.Button("Command10")->click();
    EXPECT_TRUE(joiningSeen);
    EXPECT_EQ(answer.Texts().size(), 2);
    EXPECT_EQ(answer.Texts().value(1), kDone);
    EXPECT_NE(answer.Texts().value(0), kDone);
    EXPECT_EQ(f.Entries().size(), 3);
    QFile runs(log);
    ASSERT_TRUE(runs.open(QIODevice::ReadOnly));
    EXPECT_EQ(runs.readAll(), QByteArray("run\n"));
    // The line in use was fixed at the start; the entry added meanwhile is not in it.
    EXPECT_FALSE(f.window->JoinCommandLine().contains(QStringLiteral("c.rm")));
}

TEST(JoinerWindow, QuitAsksAndEndsOnlyOnYes)
{
    JoinerFixtureWindow f;
    ModalAnswerer answer(QMessageBox::No);
    f.Button("Command4")->click();
    EXPECT_EQ(f.ended, 0);
    answer.SetAnswer(QMessageBox::Yes);
    f.Button("Command4")->click();
    EXPECT_EQ(f.ended, 1);
    EXPECT_EQ(answer.Texts(),
              QStringList(2, QStringLiteral("您选择了取消压缩，所有任务将中断，并退出本软件！！")));
    EXPECT_EQ(answer.Titles(), QStringList(2, kTitle));
}

TEST(JoinerWindow, ClosingWhileIdleDoesNotEndTheProcess)
{
    JoinerFixtureWindow f;
    f.window->show();
    f.window->close();
    EXPECT_EQ(f.ended, 0);
}

TEST(JoinerWindow, ClosingWhileJoiningLeavesLikeQuit)
{
    QTemporaryDir dir;
    const QString gate = dir.filePath(QStringLiteral("gate"));
    JoinerFixtureWindow f(WriteTool(dir.filePath(QStringLiteral("jj")), WaitForGate(gate)));
    f.Add(QStringLiteral("/m/a.rm"));
    f.Add(QStringLiteral("/m/b.rm"));
    f.window->show();
    ModalAnswerer answer;
    QTimer::singleShot(0, f.window.get(), [&] {
        f.window->close();
        OpenGate(gate);
    });
    f.Button("Command10")->click();
    EXPECT_EQ(f.ended, 1);
}

// Runs a join with the program's own way of ending and quits in the middle of it.
[[noreturn]] void quitWhileJoining(const QString &tool)
{
    auto services = corva::JoinerWindow::Services::System();
    auto chooser = std::make_shared<corva::test::FakeChooser>();
    chooser->inputs = {QStringLiteral("/m/a.rm"), QStringLiteral("/m/b.rm")};
    services.chooser = chooser;
    services.toolPath = tool;
    corva::JoinerWindow window(std::move(services));
    auto *add = window.findChild<QPushButton *>(QStringLiteral("Command1"));
    add->click();
    add->click();
    ModalAnswerer answer(QMessageBox::Yes);
    // From inside the wait: the tool sleeps far longer than the event loop takes to get here.
    QTimer::singleShot(0, &window, [&] {
        window.findChild<QPushButton *>(QStringLiteral("Command4"))->click();
    });
    window.findChild<QPushButton *>(QStringLiteral("Command10"))->click();
    std::_Exit(5); // the join ended before the quit took effect
}

// Quitting in the middle of a join ends the process at once; the tool is left to finish its
// file. The test program runs itself as a second process to hold the window, so that the
// window may really end its process.
TEST(JoinerQuit, EndsAtOnceAndTheToolFinishesItsFile)
{
    const char *kChildDir = "CORVA_JOINER_QUIT_CHILD_DIR";
    if (qEnvironmentVariableIsSet(kChildDir))
        quitWhileJoining(qEnvironmentVariable(kChildDir) + QStringLiteral("/jj"));

    QTemporaryDir dir;
    const QString finished = dir.filePath(QStringLiteral("finished"));
    WriteTool(dir.filePath(QStringLiteral("jj")), "sleep 2\necho done > '" + finished.toUtf8() + "'");

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(kChildDir), dir.path());
    child.setProcessEnvironment(environment);
    // No pipes: the tool inherits the child's output, and must not keep us waiting on it.
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=JoinerQuit.EndsAtOnceAndTheToolFinishesItsFile")});
    ASSERT_TRUE(child.waitForFinished(10000));
    const bool finishedAtExit = QFile::exists(finished);
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0) << "5: the join ended before the quit took effect";
    EXPECT_FALSE(finishedAtExit) << "the window waited for the tool before ending";
    EXPECT_TRUE(WaitFor([&] { return QFile::exists(finished); }, 6000))
        << "the tool was stopped with the window";
}

} // namespace
