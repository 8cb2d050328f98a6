#include "encoder/CommonDialog.h"
#include "Form1Parts.h"
#include "encoder/Form1.h"
#include "widgets/LinkLabel.h"
#include "platform/DriveLetterOpticalDrives.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>

using namespace corva;
using corva::test::Ui;

namespace {

std::unique_ptr<Form1> makeForm(const QString &appDir, std::string cdrom = {})
{
    Form1Services s;
    s.appDir = appDir;
    s.opticalDrives = std::make_unique<platform::DriveLetterOpticalDrives>(cdrom);
    return std::make_unique<Form1>(std::move(s));
}

QStringList items(const QComboBox *c)
{
    QStringList out;
    for (int i = 0; i < c->count(); ++i)
        out << c->itemText(i);
    return out;
}

class Form1Startup : public ::testing::Test
{
protected:
    void SetUp() override
    {
        form = makeForm(QStringLiteral(CORVA_APP_DIR));
        QString error;
        ASSERT_TRUE(form->Load(&error)) << error.toStdString();
        form->show();
    }
    std::unique_ptr<Form1> form;
};

TEST_F(Form1Startup, CaptionHasTwoBlanksBeforeTheVersion)
{
    EXPECT_EQ(form->windowTitle(), QStringLiteral("墨川Real凌波  1.4.90"));
}

TEST_F(Form1Startup, ListsHoldTheirItemsAndDefaults)
{
    EXPECT_GE(Ui(form).Combo1->count(), 6);
    EXPECT_EQ(Ui(form).Combo1->currentIndex(), 0);
    EXPECT_EQ(items(Ui(form).Combo2), (QStringList{"normal", "sharp", "smooth", "slideshow"}));
    EXPECT_EQ(Ui(form).Combo2->currentIndex(), 0);
    EXPECT_EQ(items(Ui(form).Combo3), (QStringList{"music", "voice"}));
    EXPECT_EQ(items(Ui(form).Combo4), (QStringList{"fast", "high"}));
    EXPECT_EQ(Ui(form).Combo4->currentIndex(), 0);
    EXPECT_EQ(items(Ui(form).Combo5), (QStringList{"None", "low", "high"}));
    EXPECT_EQ(items(Ui(form).Combo6), (QStringList{"-12", "-6", "0", "6", "12"}));
    EXPECT_EQ(Ui(form).Combo6->currentText(), QStringLiteral("0"));
    EXPECT_EQ(items(Ui(form).Combo7), (QStringList{"fast", "high"}));
    EXPECT_EQ(Ui(form).Combo7->currentText(), QStringLiteral("high"));
    EXPECT_EQ(items(Ui(form).Combo8), (QStringList{"rv8", "rv9", "rv10"}));
    EXPECT_EQ(Ui(form).Combo8->currentText(), QStringLiteral("rv9"));
    for (QComboBox *c : {Ui(form).Combo1, Ui(form).Combo2, Ui(form).Combo8})
        EXPECT_FALSE(c->isEditable());
}

TEST_F(Form1Startup, ChecksTextsAndEnabledStates)
{
    EXPECT_EQ(Ui(form).Check1->checkState(), Qt::Checked);
    EXPECT_EQ(Ui(form).Check2->checkState(), Qt::Unchecked);
    EXPECT_EQ(Ui(form).Check3->checkState(), Qt::Unchecked);
    EXPECT_EQ(Ui(form).Check4->checkState(), Qt::Unchecked);
    EXPECT_EQ(Ui(form).Text3->text(), QStringLiteral("墨川压缩2005"));
    EXPECT_EQ(Ui(form).Text4->text(), QStringLiteral("0"));
    EXPECT_EQ(Ui(form).Text5->text(), QStringLiteral("0"));
    EXPECT_TRUE(Ui(form).Text1->text().isEmpty());
    EXPECT_TRUE(Ui(form).Label7->text().isEmpty());
    EXPECT_FALSE(Ui(form).command3->Enabled());
    EXPECT_FALSE(Ui(form).command4->Enabled());
    EXPECT_TRUE(Ui(form).command7->Enabled());
    EXPECT_TRUE(Ui(form).command8->Enabled());
    EXPECT_TRUE(Ui(form).command9->Enabled());
    EXPECT_FALSE(Ui(form).PBar2->isVisible());
    EXPECT_FALSE(Ui(form).List2->isVisible());
    EXPECT_TRUE(Ui(form).List1->isVisible());
    EXPECT_EQ(Ui(form).command4->Caption(), QStringLiteral("结  束"));
    EXPECT_EQ(Ui(form).xpcmdbutton3->Caption(), QStringLiteral("高级选项 ↓"));
    EXPECT_EQ(Ui(form).xptopbuttons1->Value(), 2);
}

// The heights are the outer window's; what is shown is that less the 495-twip frame.
TEST_F(Form1Startup, OpensCollapsedAtTheBasicHeight)
{
    EXPECT_EQ(form->OuterHeight(), Form1::kCollapsedTwips);
    EXPECT_EQ(form->width(), 706);
    EXPECT_EQ(form->height(), 191);
    form->SetOuterHeight(5580);
    EXPECT_EQ(form->height(), 339);
    form->SetOuterHeight(7185);
    EXPECT_EQ(form->height(), 446);
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form->windowFlags() & Qt::WindowCloseButtonHint);
}

// In every height the window takes, the status line (and the progress bar under it) shows
// whole, and no other widget is cut by the window's lower edge: each is wholly in the client
// area or wholly below it.
TEST_F(Form1Startup, NoWidgetIsCutByTheWindowsEdgeInAnyHeight)
{
    for (const int twips : {Form1::kCollapsedTwips, Form1::kAdvancedTwips, Form1::kTaskListTwips}) {
        form->SetOuterHeight(twips);
        const QRect client = form->rect();
        for (QWidget *part : {static_cast<QWidget *>(Ui(form).Label7), static_cast<QWidget *>(Ui(form).PBar2)})
            EXPECT_TRUE(client.contains(part->geometry())) << twips << ": " << part->objectName().toStdString();
        // Heights only: the banner runs past the right edge by design.
        for (QWidget *child : form->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            if (child->isHidden() || child->isWindow())
                continue;
            const QRect g = child->geometry();
            EXPECT_TRUE((g.top() >= 0 && g.bottom() < client.height()) || g.top() >= client.height())
                << twips << ": " << child->objectName().toStdString() << " spans " << g.top() << ".." << g.bottom()
                << " of " << client.height();
        }
    }
    // The collapsed view shows what it showed before, down to the status line, and not the
    // advanced options' box.
    form->SetOuterHeight(Form1::kCollapsedTwips);
    EXPECT_GE(form->height(), Ui(form).Label7->geometry().bottom() + 1);
    EXPECT_LE(form->height(), Ui(form).Frame1->geometry().top());
}

TEST_F(Form1Startup, GeometryIsTheDesignInPixels)
{
    EXPECT_EQ(Ui(form).InputFile->geometry(), QRect(56, 88, 249, 18));
    EXPECT_EQ(Ui(form).command3->geometry(), QRect(376, 104, 97, 33));
    EXPECT_EQ(Ui(form).PBar2->geometry(), QRect(8, 160, 688, 25));
    EXPECT_EQ(Ui(form).Frame1->geometry(), QRect(8, 192, 689, 145));
    EXPECT_EQ(Ui(form).Text4->parentWidget(), Ui(form).Frame1);
    EXPECT_EQ(Ui(form).List3->parentWidget(), Ui(form).Frame2);
    EXPECT_EQ(Ui(form).xptopbuttons1->size(), QSize(21, 21));
    EXPECT_EQ(Ui(form).Label8->toolTip(), QStringLiteral("About..."));
    EXPECT_EQ(Ui(form).Label8->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_EQ(Ui(form).Label7->font().family(), QStringLiteral("Arial"));
}

// Caption text stands at the top of its box, as in the joiner and the About box.
TEST_F(Form1Startup, CaptionLabelsAlignTheirTextToTheTop)
{
    const auto ui = Ui(form);
    for (const QLabel *caption : {ui.Label1, ui.Label2, ui.Label3, ui.Label4, ui.Label5, ui.Label6, ui.Label9,
                                  ui.Label10, ui.Label11, ui.Label12, ui.Label14, ui.Label15, ui.Label16,
                                  ui.Label17}) {
        EXPECT_EQ(caption->alignment(), Qt::AlignLeft | Qt::AlignTop) << caption->objectName().toStdString();
        // The text's first line begins within a few pixels of the box's top.
        EXPECT_LE(caption->contentsRect().top() + caption->fontMetrics().ascent(), caption->fontMetrics().height())
            << caption->objectName().toStdString();
    }
}

TEST_F(Form1Startup, TabOrderFollowsTheDesignFromInputFile)
{
    const QList<QWidget *> order = {Ui(form).InputFile, Ui(form).OutputFile, Ui(form).Combo1, Ui(form).Check1, Ui(form).Check2,
                                    Ui(form).Check3, Ui(form).Text1, Ui(form).Text2, Ui(form).Text3, Ui(form).Check4, Ui(form).Combo2,
                                    Ui(form).Combo3, Ui(form).Combo4, Ui(form).Combo5, Ui(form).List1, Ui(form).List3, Ui(form).Combo6,
                                    Ui(form).Text4, Ui(form).Text5, Ui(form).Combo7, Ui(form).Combo8, Ui(form).xpcmdbutton1,
                                    Ui(form).xpcmdbutton2, Ui(form).xpcmdbutton3, Ui(form).command3, Ui(form).command8,
                                    Ui(form).command4, Ui(form).command6, Ui(form).command7, Ui(form).command9};
    // The chain also holds widgets Tab skips (labels, list viewports): step as Tab does.
    const auto nextTabStop = [](QWidget *w) {
        do
            w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus));
        return w;
    };
    for (qsizetype i = 0; i + 1 < order.size(); ++i)
        EXPECT_EQ(nextTabStop(order.at(i)), order.at(i + 1)) << i;
    QApplication::setActiveWindow(form.get());
    EXPECT_EQ(form->focusWidget(), Ui(form).InputFile);
}

TEST_F(Form1Startup, FilterGivesElevenEntriesInOrder)
{
    const QStringList filters = CommonDialog::NameFilters(form->InputFilter());
    ASSERT_EQ(filters.size(), 11);
    EXPECT_EQ(filters.at(0), QStringLiteral("常见的VCD影碟文件DAT (*.dat)"));
    EXPECT_EQ(filters.at(6), QStringLiteral("Quicktime的MOV文件 (*.mov)"));
    EXPECT_EQ(filters.at(9), QStringLiteral("WAV音频 (*.wav)"));
    EXPECT_EQ(filters.at(10), QStringLiteral("所有文件 (*.* *)"));
    EXPECT_EQ(form->FileDialog().Filter(), form->InputFilter());
    EXPECT_EQ(form->FileDialog().Flags(), 4);
}

TEST_F(Form1Startup, CommandLineComesFromTheWidgets)
{
    Ui(form).InputFile->setText(QStringLiteral("/v/a.avi"));
    Ui(form).OutputFile->setText(QStringLiteral("/v/a.rm"));
    form->BuildCommandLine();
    EXPECT_TRUE(form->CommandLine().startsWith(QStringLiteral(CORVA_APP_DIR "/pp -i \"/v/a.avi\" -o \"/v/a.rm\" -t \"\" -a \"\" -c \"墨川压缩2005\" -ad \"")));
    EXPECT_TRUE(form->CommandLine().endsWith(QStringLiteral("\" -dt -vco rv9 -cj " CORVA_APP_DIR "/1.rpjf")));
    // A grey check box is not a checked one.
    Ui(form).Check1->setTristate(true);
    Ui(form).Check1->setCheckState(Qt::PartiallyChecked);
    Ui(form).Check4->setCheckState(Qt::Checked);
    EXPECT_EQ(form->Snapshot().singlePass, 2);
    form->BuildCommandLine();
    EXPECT_FALSE(form->CommandLine().contains(QStringLiteral("-dt")));
    EXPECT_TRUE(form->CommandLine().contains(QStringLiteral(" -bl -vco rv9 ")));
}

TEST(Form1StartupFailure, NoAudienceFileMeansNoWindow)
{
    QTemporaryDir dir;
    auto form = makeForm(dir.path());
    QString error;
    EXPECT_FALSE(form->Load(&error));
    EXPECT_TRUE(error.contains(dir.path() + QStringLiteral("/audi.txt")));
}

TEST(Form1StartupFailure, EmptyLastLineGivesAnEmptyLastAudience)
{
    QTemporaryDir dir;
    QFile f(dir.filePath(QStringLiteral("audi.txt")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("A1\r\n B2 \r\n\r\n");
    f.close();
    auto form = makeForm(dir.path());
    QString error;
    ASSERT_TRUE(form->Load(&error));
    EXPECT_EQ(items(Ui(form).Combo1), (QStringList{"A1", " B2 ", ""}));
}

} // namespace
