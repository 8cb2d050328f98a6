#include "encoder/FileChooser.h"
#include "Form1Parts.h"
#include "encoder/Form1.h"
#include "widgets/LinkLabel.h"
#include "encoder/QtFileChooser.h"
#include "platform/DriveLetterOpticalDrives.h"
#include "support/ModalAnswerer.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFileSystemModel>
#include <QFileDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>

using namespace corva;
using corva::test::Ui;
using corva::test::ModalAnswerer;

namespace {

bool hovered(const QLabel *link)
{
    return link->palette().color(QPalette::WindowText) == QColor(255, 0, 0) && link->font().underline();
}

// Answers dialogs from a script: a path, or nothing for a cancel. Records what it was shown.
class ScriptedChooser final : public FileChooser
{
public:
    QList<std::optional<QString>> answers;
    QStringList startNames;
    QStringList lastFilters;
    QStringList kinds;

    std::optional<QString> ChooseOpen(QWidget *, const QString &start, const QStringList &filters) override
    {
        return next(QStringLiteral("open"), start, filters);
    }
    std::optional<QString> ChooseSave(QWidget *, const QString &start, const QStringList &filters) override
    {
        return next(QStringLiteral("save"), start, filters);
    }

private:
    std::optional<QString> next(const QString &kind, const QString &start, const QStringList &filters)
    {
        kinds << kind;
        startNames << start;
        lastFilters = filters;
        return answers.isEmpty() ? std::nullopt : answers.takeFirst();
    }
};

// Audience 0 plain, audience 1 VBR, as in the shipped list.
class Files : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QFile f(dir.filePath(QStringLiteral("audi.txt")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(audiences);
        f.close();
        Form1Services s;
        s.appDir = dir.path();
        s.fileChooser = &chooser;
        s.opticalDrives = std::make_unique<platform::DriveLetterOpticalDrives>("e");
        s.showAbout = [this] { ++aboutShown; };
        form = std::make_unique<Form1>(std::move(s));
        QString error;
        ASSERT_TRUE(form->Load(&error)) << error.toStdString();
        form->show();
    }

    QByteArray audiences = "Plain 300\r\nDVD VBR 650\r\nlow vbr\r\n";
    QTemporaryDir dir;
    ScriptedChooser chooser;
    int aboutShown = 0;
    std::unique_ptr<Form1> form;
};

TEST_F(Files, SourceBrowseDerivesTheOutputAndFollowsTheAudience)
{
    chooser.answers << QStringLiteral("C:\\v\\a.avi");
    Ui(form).xpcmdbutton1->Click();
    EXPECT_EQ(Ui(form).InputFile->text(), QStringLiteral("C:\\v\\a.avi"));
    EXPECT_EQ(Ui(form).OutputFile->text(), QStringLiteral("C:\\v\\a.rm"));
    EXPECT_TRUE(Ui(form).command3->Enabled());
    EXPECT_EQ(chooser.lastFilters.size(), 11);

    form->SelectAudience(1);
    EXPECT_EQ(Ui(form).OutputFile->text(), QStringLiteral("C:\\v\\a.rmvb"));
    form->SelectAudience(2); // "vbr" in small letters is not VBR
    EXPECT_EQ(Ui(form).OutputFile->text(), QStringLiteral("C:\\v\\a.rm"));

    chooser.answers << QStringLiteral("C:\\v\\a.b.avi");
    Ui(form).xpcmdbutton1->Click();
    EXPECT_EQ(Ui(form).OutputFile->text(), QStringLiteral("C:\\v\\a.b.rm"));
    EXPECT_EQ(chooser.startNames.last(), QStringLiteral("C:\\v\\a.avi")); // the component kept the name

    Ui(form).OutputFile->setText(QStringLiteral("C:\\keep.rm"));
    chooser.answers << QStringLiteral("C:\\v\\clip");
    Ui(form).xpcmdbutton1->Click();
    EXPECT_EQ(Ui(form).OutputFile->text(), QStringLiteral("C:\\keep.rm"));
}

// A cancelled dialog once wiped or replaced a typed path with the component's leftover name.
TEST_F(Files, CancelledDialogsChangeNothing)
{
    chooser.answers << QStringLiteral("C:\\v\\a.avi");
    Ui(form).xpcmdbutton1->Click();
    Ui(form).InputFile->setText(QStringLiteral("D:\\typed.avi"));
    Ui(form).OutputFile->setText(QStringLiteral("D:\\typed.rm"));
    chooser.answers << std::nullopt << std::nullopt;
    Ui(form).xpcmdbutton1->Click();
    Ui(form).xpcmdbutton2->Click();
    EXPECT_EQ(Ui(form).InputFile->text(), QStringLiteral("D:\\typed.avi"));
    EXPECT_EQ(Ui(form).OutputFile->text(), QStringLiteral("D:\\typed.rm"));
    EXPECT_EQ(form->FileDialog().FileName(), QStringLiteral("C:\\v\\a.avi"));
    EXPECT_EQ(chooser.kinds, (QStringList{"open", "open", "save"}));
}

TEST_F(Files, SaveDialogAnswerTakesTheAudienceExtension)
{
    chooser.answers << QStringLiteral("C:\\v\\out.avi") << QStringLiteral("C:\\v\\noext");
    Ui(form).xpcmdbutton2->Click();
    EXPECT_EQ(Ui(form).OutputFile->text(), QStringLiteral("C:\\v\\out.rm"));
    Ui(form).xpcmdbutton2->Click();
    EXPECT_EQ(Ui(form).OutputFile->text(), QStringLiteral("C:\\v\\noext"));
}

TEST_F(Files, TypingAnOpticalDriveLetterWarnsEachTime)
{
    ModalAnswerer answerer;
    Ui(form).OutputFile->setText(QStringLiteral("E"));
    EXPECT_EQ(answerer.Texts(), QStringList{"发现您的输出路径是光驱，请修改！"});
    Ui(form).OutputFile->setText(QStringLiteral("e:"));
    EXPECT_EQ(answerer.Texts().size(), 2);
    EXPECT_EQ(Ui(form).OutputFile->text(), QStringLiteral("e:")); // the text itself stays
    EXPECT_EQ(form->focusWidget(), Ui(form).OutputFile);
    Ui(form).OutputFile->clear();
    Ui(form).OutputFile->setText(QStringLiteral("C:\\a.rm"));
    EXPECT_EQ(answerer.Texts().size(), 2);
}

TEST_F(Files, DvdPresetSetsItsValuesAfterTheMessage)
{
    ModalAnswerer answerer;
    Ui(form).OutputFile->setText(QStringLiteral("C:\\a.rm"));
    Ui(form).command6->Click();
    EXPECT_EQ(answerer.Texts(), QStringList{"点击此按钮，会自动帮助您设置DVD的最佳压缩选项"});
    EXPECT_EQ(Ui(form).Text4->text(), QStringLiteral("608"));
    EXPECT_EQ(Ui(form).Text5->text(), QStringLiteral("336"));
    EXPECT_EQ(Ui(form).Combo6->currentText(), QStringLiteral("12"));
    EXPECT_EQ(Ui(form).Combo7->currentText(), QStringLiteral("high"));
    EXPECT_EQ(Ui(form).Combo1->currentIndex(), 1);
    EXPECT_EQ(Ui(form).Check1->checkState(), Qt::Checked);
    EXPECT_EQ(Ui(form).OutputFile->text(), QStringLiteral("C:\\a.rmvb"));
    // Already on the second audience: the extension is still applied.
    Ui(form).OutputFile->setText(QStringLiteral("C:\\b.rm"));
    Ui(form).command6->Click();
    EXPECT_EQ(Ui(form).OutputFile->text(), QStringLiteral("C:\\b.rmvb"));
}

TEST_F(Files, DvdPresetWithOneAudienceKeepsIt)
{
    ModalAnswerer answerer;
    QFile f(dir.filePath(QStringLiteral("audi.txt")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("Only one\r\n");
    f.close();
    Form1Services s;
    s.appDir = dir.path();
    Form1 single(std::move(s));
    QString error;
    ASSERT_TRUE(single.Load(&error));
    Ui(single).command6->Click();
    EXPECT_EQ(Ui(single).Combo1->currentIndex(), 0);
    EXPECT_EQ(Ui(single).Text4->text(), QStringLiteral("608"));
}

TEST_F(Files, AdvancedToggleMovesBetweenTheHeights)
{
    EXPECT_EQ(form->OuterHeight(), Form1::kCollapsedTwips);
    Ui(form).xpcmdbutton3->Click();
    EXPECT_EQ(form->OuterHeight(), 5580);
    Ui(form).xpcmdbutton3->Click();
    EXPECT_EQ(form->OuterHeight(), Form1::kCollapsedTwips);
    form->SetOuterHeight(7185);
    Ui(form).xpcmdbutton3->Click();
    EXPECT_EQ(form->OuterHeight(), 5580);
}

TEST_F(Files, MinimiseAboutAndLinkHover)
{
    Ui(form).xptopbuttons1->Click();
    EXPECT_TRUE(form->windowState() & Qt::WindowMinimized);
    form->setWindowState(Qt::WindowNoState);

    QTest::mouseClick(Ui(form).Label8, Qt::LeftButton);
    EXPECT_EQ(aboutShown, 1);

    QTest::mouseMove(Ui(form).Label8, QPoint(5, 5));
    QMouseEvent overLabel(QEvent::MouseMove, QPointF(5, 5), QPointF(5, 5), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(Ui(form).Label8, &overLabel);
    EXPECT_TRUE(hovered(Ui(form).Label8));
    EXPECT_EQ(Ui(form).Label8->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_TRUE(Ui(form).Label8->font().underline());
    // The banner is not the background: the look stays.
    QMouseEvent overBanner(QEvent::MouseMove, QPointF(100, 10), QPointF(100, 10), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(Ui(form).Image1, &overBanner);
    EXPECT_TRUE(hovered(Ui(form).Label8));
    // The options frame puts it back.
    QMouseEvent overFrame(QEvent::MouseMove, QPointF(2, 2), QPointF(2, 2), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(Ui(form).Frame1, &overFrame);
    EXPECT_FALSE(hovered(Ui(form).Label8));
    // And so does the window's own background (a point with no widget under it).
    QApplication::sendEvent(Ui(form).Label8, &overLabel);
    EXPECT_TRUE(hovered(Ui(form).Label8));
    const QPoint bare(form->width() - 2, 125);
    ASSERT_EQ(form->childAt(bare), nullptr);
    QMouseEvent overWindow(QEvent::MouseMove, QPointF(bare), QPointF(bare), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(form.get(), &overWindow);
    EXPECT_FALSE(hovered(Ui(form).Label8));
    EXPECT_EQ(Ui(form).Label8->palette().color(QPalette::WindowText), QColor(0, 0, 255));
}

TEST_F(Files, FocusSelectsTheWholePath)
{
    Ui(form).InputFile->setText(QStringLiteral("C:\\v\\a.avi"));
    QApplication::setActiveWindow(form.get());
    Ui(form).OutputFile->setFocus();
    Ui(form).InputFile->setFocus();
    // The selection follows from the event loop.
    EXPECT_TRUE(QTest::qWaitFor([&] { return Ui(form).InputFile->selectedText() == QStringLiteral("C:\\v\\a.avi"); }, 2000))
        << Ui(form).InputFile->selectedText().toStdString();
}

// The real dialog, as users get it: eleven entries in order, patterns regardless of case,
// and "all files" showing files without an extension.
TEST(RealFileDialog, OffersTheElevenFiltersAndMatchesAnyCase)
{
    QTemporaryDir dir;
    for (const char *name : {"a.avi", "B.AVI", "noext", "c.mp3"}) {
        QFile f(dir.filePath(QString::fromUtf8(name)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    Form1Services s;
    s.appDir = QStringLiteral(CORVA_APP_DIR);
    Form1 form(std::move(s));
    QString error;
    ASSERT_TRUE(form.Load(&error));
    const QStringList filters = CommonDialog::NameFilters(form.FileDialog().Filter());
    QFileDialog dialog;
    QtFileChooser::Prepare(dialog, dir.filePath(QStringLiteral("a.avi")), filters);
    EXPECT_EQ(dialog.nameFilters(), filters);
    ASSERT_EQ(dialog.nameFilters().size(), 11);
    EXPECT_FALSE(dialog.filter() & QDir::CaseSensitive);
    EXPECT_EQ(dialog.testOption(QFileDialog::DontConfirmOverwrite), false);
    dialog.show();
    // The dialog's own list shows what its model lets through.
    auto *model = dialog.findChild<QFileSystemModel *>();
    ASSERT_NE(model, nullptr);
    const auto rows = [&] { return model->rowCount(model->index(dir.path())); };
    // The model filters from the event loop: wait for the expected count, and say what it was.
    const auto expectRowsUnder = [&](const QString &filter, int expected) {
        dialog.selectNameFilter(filter);
        const QString patterns = filter.mid(filter.lastIndexOf(u'(') + 1).chopped(1);
        EXPECT_TRUE(QTest::qWaitFor([&] { return model->nameFilters().join(u' ') == patterns; }, 3000));
        EXPECT_TRUE(QTest::qWaitFor([&] { return rows() == expected; }, 3000))
            << filter.toStdString() << ": " << rows() << " rows, " << expected << " expected";
    };
    dialog.selectNameFilter(filters.at(10));
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->rowCount(model->index(dir.path())) == 4; }, 3000))
        << model->rowCount(model->index(dir.path()));
    expectRowsUnder(filters.at(1), 2);  // a.avi and B.AVI
    expectRowsUnder(filters.at(10), 4); // noext included
    dialog.reject();
}

} // namespace
