// The window driving the real join tool from the application folder, on files made here.
#include "JoinerTestSupport.h"

#include "common/Gbk.h"
#include "support/ModalAnswerer.h"
#include "support/ToolRun.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>

using corva::test::JoinerFixtureWindow;
using corva::test::ModalAnswerer;
using corva::test::RunTool;
using corva::test::ToolResult;

namespace {

const QString kDone = QStringLiteral("合并完毕！");

QString ffmpeg() { return QStandardPaths::findExecutable(QStringLiteral("ffmpeg")); }
QString ffprobe() { return QStandardPaths::findExecutable(QStringLiteral("ffprobe")); }

double duration(const QString &file)
{
    return RunTool(ffprobe(), {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", file})
        .out.trimmed()
        .toDouble();
}

int packets(const QString &file)
{
    const QList<QByteArray> counts = RunTool(ffprobe(), {"-v", "error", "-count_packets", "-show_entries",
                                                         "stream=nb_read_packets", "-of", "csv=p=0", file})
                                         .out.split('\n');
    int sum = 0;
    for (const QByteArray &c : counts)
        sum += c.trimmed().toInt();
    return sum;
}

class JoinerEndToEnd : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir;
        // A blank in the folder makes the paths need their quotes on the way to the tool.
        QDir(s_dir->path()).mkdir(QStringLiteral("my clips"));
        s_folder = s_dir->path() + QStringLiteral("/my clips/");
        for (const auto &[name, size] : {std::pair{"a.rm", "176x144"}, std::pair{"b.rm", "176x144"},
                                         std::pair{"wide.rm", "320x240"}}) {
            const QString out = s_folder + QString::fromLatin1(name);
            RunTool(ffmpeg(), {"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                           QStringLiteral("testsrc=size=%1:rate=25").arg(QLatin1String(size)),
                           "-f", "lavfi", "-i", "sine", "-t", "2", "-c:v", "rv20", "-b:v", "200k",
                           "-c:a", "ac3", out});
        }
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }

    void SetUp() override
    {
        ASSERT_FALSE(ffmpeg().isEmpty());
        ASSERT_FALSE(ffprobe().isEmpty());
        for (const char *name : {"a.rm", "b.rm", "wide.rm"})
            ASSERT_TRUE(QFile::exists(s_folder + QLatin1String(name))) << name;
        ASSERT_TRUE(QFileInfo(tool).isExecutable()) << tool.toStdString();
    }

    const QString tool = QStringLiteral(CORVA_APP_DIR "/jj");
    static QTemporaryDir *s_dir;
    static QString s_folder;
};

QTemporaryDir *JoinerEndToEnd::s_dir = nullptr;
QString JoinerEndToEnd::s_folder;

TEST_F(JoinerEndToEnd, JoinsTwoFilesIntoOneThatPlaysTheirLength)
{
    JoinerFixtureWindow f(tool);
    const QString a = s_folder + QStringLiteral("a.rm");
    const QString b = s_folder + QStringLiteral("b.rm");
    f.Add(a);
    f.Add(b);
    f.Find<QLineEdit>("Text1")->setText(QStringLiteral("两段测试"));
    f.Find<QLineEdit>("Text2")->setText(QStringLiteral("作者 \"甲\""));
    const QString output = f.Text("OutputFile");
    ASSERT_EQ(output, s_folder + QStringLiteral("b_合并.rm"));

    ModalAnswerer answer;
    f.Button("Command10")->click();
    EXPECT_EQ(answer.Texts(), QStringList{kDone});

    ASSERT_TRUE(QFile::exists(output));
    EXPECT_NEAR(duration(output), duration(a) + duration(b), 0.04);
    EXPECT_EQ(packets(output), packets(a) + packets(b));
    // The clip's texts travelled through the command line into the file, in GBK.
    QFile joined(output);
    ASSERT_TRUE(joined.open(QIODevice::ReadOnly));
    const QByteArray bytes = joined.readAll();
    for (const char *text : {"两段测试", "作者 \"甲\"", "墨川压缩合并 2004"})
        EXPECT_TRUE(bytes.contains(corva::Gbk::Encode(QString::fromUtf8(text)))) << text;
    // And the whole of it decodes.
    const ToolResult decoded = RunTool(ffmpeg(), {"-v", "error", "-i", output, "-f", "null", "-"});
    EXPECT_EQ(decoded.exitCode, 0);
    EXPECT_EQ(decoded.err, QString());
}

// Files that cannot be joined: the tool's reason, not "finished", and no output.
TEST_F(JoinerEndToEnd, MismatchedFilesReportTheToolsReason)
{
    JoinerFixtureWindow f(tool);
    f.Add(s_folder + QStringLiteral("a.rm"));
    f.Add(s_folder + QStringLiteral("wide.rm"));
    const QString output = f.Text("OutputFile");
    ModalAnswerer answer;
    f.Button("Command10")->click();
    ASSERT_EQ(answer.Texts().size(), 1);
    EXPECT_NE(answer.Texts()[0], kDone);
    EXPECT_TRUE(answer.Texts()[0].contains(QStringLiteral("320x240"))) << answer.Texts()[0].toStdString();
    EXPECT_FALSE(QFile::exists(output));
}

} // namespace
