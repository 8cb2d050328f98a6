// The whole road in the real window: the real pp from a copy of the application folder,
// the real engine, generated clips, results checked with ffprobe.
#include "Form1Parts.h"
#include "encoder/Form1.h"
#include "engine/FfmpegEncodingEngine.h"
#include "platform/DriveLetterOpticalDrives.h"
#include "support/ModalAnswerer.h"
#include "support/ToolRun.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

using namespace corva;
using corva::test::Ui;
using corva::test::ModalAnswerer;
using corva::test::RunTool;
using corva::test::ToolResult;

namespace {

bool copyAppFolder(const QString &to)
{
    const QDir from(QStringLiteral(CORVA_APP_DIR));
    if (!QFile::copy(from.filePath(QStringLiteral("pp")), to + QStringLiteral("/pp"))
        || !QFile::copy(from.filePath(QStringLiteral("audi.txt")), to + QStringLiteral("/audi.txt")))
        return false;
    QDir().mkpath(to + QStringLiteral("/Audiences"));
    for (const QString &name : QDir(from.filePath(QStringLiteral("Audiences"))).entryList(QDir::Files)) {
        if (!QFile::copy(from.filePath(QStringLiteral("Audiences/") + name), to + QStringLiteral("/Audiences/") + name))
            return false;
    }
    return true;
}

bool makeClip(const QString &path)
{
    return RunTool(QStringLiteral("ffmpeg"), {"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=176x144:rate=25:duration=3",
                                              "-f", "lavfi", "-i", "sine=frequency=440:duration=3", "-c:v", "mpeg4",
                                              "-c:a", "pcm_s16le", path})
               .exitCode == 0;
}

// Codec and kind of each stream of an output, as ffprobe reads them.
QString probe(const QString &path)
{
    const QString out = QString::fromUtf8(
        RunTool(QStringLiteral("ffprobe"), {"-v", "error", "-show_entries", "stream=codec_type,codec_name", "-of", "csv=p=0", path})
            .out);
    return out.split(u'\n', Qt::SkipEmptyParts).join(u',');
}

class EndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        app = dir.filePath(QStringLiteral("app"));
        ASSERT_TRUE(QDir().mkpath(app));
        ASSERT_TRUE(copyAppFolder(app));
        media = dir.filePath(QStringLiteral("media"));
        ASSERT_TRUE(QDir().mkpath(media));
        Form1Services s;
        s.appDir = app;
        s.engine = &engine;
        s.opticalDrives = std::make_unique<platform::DriveLetterOpticalDrives>(std::string());
        s.shutdownComputer = [](bool) { ADD_FAILURE() << "no shutdown was asked for"; };
        s.exitProcess = [](int) { ADD_FAILURE() << "nothing asked to exit"; };
        form = std::make_unique<Form1>(std::move(s));
        QString error;
        ASSERT_TRUE(form->Load(&error)) << error.toStdString();
        form->show();
    }

    bool waitIdle()
    {
        return QTest::qWaitFor([this] { return form->Mode() == Form1::RunMode::Idle && !engine.IsEncoding(); }, 120000);
    }

    QTemporaryDir dir;
    QString app;
    QString media;
    FfmpegEncodingEngine engine;
    std::unique_ptr<Form1> form;
};

TEST_F(EndToEnd, SingleJobEncodesAValidFile)
{
    ModalAnswerer answerer;
    const QString in = media + QStringLiteral("/clip.avi");
    ASSERT_TRUE(makeClip(in));
    Ui(form).InputFile->setText(in);
    Ui(form).OutputFile->setText(media + QStringLiteral("/clip.rm"));
    Ui(form).command3->Click();
    ASSERT_TRUE(waitIdle());
    EXPECT_TRUE(answerer.Texts().isEmpty()) << answerer.Texts().join(u'|').toStdString();
    EXPECT_TRUE(Ui(form).Label7->text().contains(QStringLiteral("完毕!用时"))) << Ui(form).Label7->text().toStdString();
    EXPECT_EQ(probe(media + QStringLiteral("/clip.rm")), QStringLiteral("rv40,video,cook,audio"));
    EXPECT_TRUE(Ui(form).command3->Enabled());
    EXPECT_FALSE(Ui(form).command4->Enabled());
}

// rv8 chosen in the window: its player knows only RealVideo 8, and the file it gets is RV30.
TEST_F(EndToEnd, Rv8ChosenInTheWindowWritesRealVideo8)
{
    ModalAnswerer answerer;
    const QString in = media + QStringLiteral("/clip.avi");
    ASSERT_TRUE(makeClip(in));
    Ui(form).InputFile->setText(in);
    Ui(form).OutputFile->setText(media + QStringLiteral("/clip8.rm"));
    Ui(form).Combo8->setCurrentIndex(0);
    ASSERT_EQ(Ui(form).Combo8->currentText(), QStringLiteral("rv8"));
    Ui(form).command3->Click();
    ASSERT_TRUE(waitIdle());
    EXPECT_TRUE(answerer.Texts().isEmpty()) << answerer.Texts().join(u'|').toStdString();
    EXPECT_TRUE(Ui(form).Label7->text().contains(QStringLiteral("完毕!用时"))) << Ui(form).Label7->text().toStdString();
    EXPECT_EQ(probe(media + QStringLiteral("/clip8.rm")), QStringLiteral("rv30,video,cook,audio"));
}

// A film with GBK subtitles beside it: the window's road is the same, and the letters are in
// the output's pictures (white on a dark film) while they are due.
TEST_F(EndToEnd, SubtitledSourceEndsDoneWithTheTextBurntIn)
{
    ModalAnswerer answerer;
    const QString in = media + QStringLiteral("/字幕片.avi");
    ASSERT_EQ(RunTool(QStringLiteral("ffmpeg"), {"-v", "error", "-y", "-f", "lavfi", "-i", "color=c=0x203040:s=320x240:r=25:d=3",
                                                 "-c:v", "mpeg4", in})
                  .exitCode,
              0);
    QFile srt(media + QStringLiteral("/字幕片.srt"));
    ASSERT_TRUE(srt.open(QIODevice::WriteOnly));
    QStringEncoder gbk("GBK");
    srt.write(gbk(QStringLiteral("1\r\n00:00:00,500 --> 00:00:02,000\r\n你好世界\r\n\r\n")));
    srt.close();
    const QString out = media + QStringLiteral("/字幕片.rm");
    Ui(form).InputFile->setText(in);
    Ui(form).OutputFile->setText(out);
    Ui(form).command3->Click();
    ASSERT_TRUE(waitIdle());
    EXPECT_TRUE(answerer.Texts().isEmpty()) << answerer.Texts().join(u'|').toStdString();
    EXPECT_TRUE(Ui(form).Label7->text().contains(QStringLiteral("完毕!用时"))) << Ui(form).Label7->text().toStdString();
    const auto brightest = [&](double seconds) {
        const ToolResult r = RunTool(QStringLiteral("ffmpeg"), {"-hide_banner", "-i", out, "-frames:v", "1", "-vf",
                                                                QStringLiteral("select=gte(t\\,%1),crop=iw:ih/4:0:ih*3/4,signalstats,"
                                                                               "metadata=print:key=lavfi.signalstats.YMAX")
                                                                    .arg(seconds),
                                                                "-f", "null", "-"});
        const QString err = r.err + QString::fromUtf8(r.out);
        const qsizetype at = err.indexOf(QStringLiteral("YMAX="));
        return at < 0 ? -1 : err.mid(at + 5).section(u'\n', 0, 0).trimmed().toInt();
    };
    EXPECT_GT(brightest(1.2), 200);
    const int after = brightest(2.6);
    EXPECT_GE(after, 0);
    EXPECT_LT(after, 120);
    EXPECT_TRUE(QFile::exists(out)) << QDir(media).entryList().join(u' ').toStdString();
}

TEST_F(EndToEnd, BatchWithACorruptSourceMarksItFailedAndGoesOn)
{
    ModalAnswerer answerer;
    ASSERT_TRUE(makeClip(media + QStringLiteral("/one.avi")));
    ASSERT_TRUE(makeClip(media + QStringLiteral("/three.avi")));
    QFile corrupt(media + QStringLiteral("/two.avi"));
    ASSERT_TRUE(corrupt.open(QIODevice::WriteOnly));
    corrupt.write(QByteArray(4096, '\x5a'));
    corrupt.close();
    for (const char *name : {"one", "two", "three"}) {
        Ui(form).InputFile->setText(media + u'/' + QString::fromUtf8(name) + QStringLiteral(".avi"));
        Ui(form).OutputFile->setText(media + u'/' + QString::fromUtf8(name) + QStringLiteral(".rm"));
        Ui(form).command8->Click();
    }
    QStringList seen;
    QObject::connect(Ui(form).List3, &QListWidget::itemChanged, form.get(), [&](QListWidgetItem *item) {
        seen << QString::number(Ui(form).List3->row(item)) + item->text();
    });
    Ui(form).command3->Click();
    ASSERT_TRUE(waitIdle());
    EXPECT_TRUE(answerer.Texts().isEmpty()) << answerer.Texts().join(u'|').toStdString();
    EXPECT_TRUE(seen.contains(QStringLiteral("0完成")));
    EXPECT_TRUE(seen.contains(QStringLiteral("1失败")));
    EXPECT_TRUE(seen.contains(QStringLiteral("2完成")));
    EXPECT_LT(seen.indexOf(QStringLiteral("0完成")), seen.indexOf(QStringLiteral("1失败")));
    EXPECT_LT(seen.indexOf(QStringLiteral("1失败")), seen.indexOf(QStringLiteral("2完成")));
    EXPECT_TRUE(Ui(form).Label7->text().startsWith(QStringLiteral("任务全部完毕!用时")));
    EXPECT_TRUE(Ui(form).Label7->text().endsWith(QStringLiteral("，失败1个"))) << Ui(form).Label7->text().toStdString();
    ASSERT_EQ(Ui(form).List1->count(), 1);
    EXPECT_EQ(Ui(form).List1->item(0)->text(), media + QStringLiteral("/two.rm"));
    EXPECT_EQ(Ui(form).List3->item(0)->text(), QStringLiteral("失败"));
    EXPECT_TRUE(Ui(form).command3->Enabled());
    EXPECT_FALSE(Ui(form).command4->Enabled());
    EXPECT_TRUE(Ui(form).command7->Enabled());
    EXPECT_TRUE(Ui(form).command9->Enabled());
    EXPECT_EQ(probe(media + QStringLiteral("/one.rm")), QStringLiteral("rv40,video,cook,audio"));
    EXPECT_EQ(probe(media + QStringLiteral("/three.rm")), QStringLiteral("rv40,video,cook,audio"));
    EXPECT_FALSE(QFile::exists(media + QStringLiteral("/two.rm")));
}

} // namespace
