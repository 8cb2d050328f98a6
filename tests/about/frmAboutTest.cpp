#include "about/frmAbout.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTest>

using corva::AppInfo;
using corva::frmAbout;
using Variant = corva::frmAbout::Variant;

namespace {

// Services that start nothing and show nothing, but remember what was asked.
struct Quiet
{
    QStringList messages;
    QStringList captions;
    QList<QWidget *> parents;

    corva::SysInfoServices Services()
    {
        corva::SysInfoServices s;
        s.fileExists = [](const QString &) { return false; };
        s.startProgram = [](const QString &) { return false; };
        s.showMessage = [this](QWidget *parent, const QString &caption, const QString &text) {
            parents << parent;
            captions << caption;
            messages << text;
        };
        return s;
    }
};

void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

int openBoxes()
{
    int n = 0;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (qobject_cast<frmAbout *>(w))
            ++n;
    return n;
}

class AboutTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        if (frmAbout *box = frmAbout::Instance())
            box->close();
        flushDeletes();
        ASSERT_EQ(openBoxes(), 0);
    }
    Quiet quiet;
};

frmAbout *showJoiner(Quiet &q)
{
    return frmAbout::ShowFor(AppInfo::Joiner(), Variant::Joiner, q.Services());
}

TEST_F(AboutTest, ShowingTwiceGivesOneOwnerlessModelessBox)
{
    frmAbout *first = showJoiner(quiet);
    frmAbout *second = showJoiner(quiet);
    EXPECT_EQ(first, second);
    EXPECT_EQ(openBoxes(), 1);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->parentWidget(), nullptr);
    EXPECT_FALSE(first->isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(AboutTest, FixedDialogBorderWithoutMinimiseOrMaximise)
{
    frmAbout *box = showJoiner(quiet);
    EXPECT_EQ(box->minimumSize(), QSize(406, 237));
    EXPECT_EQ(box->maximumSize(), QSize(406, 237));
    const Qt::WindowFlags flags = box->windowFlags();
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
}

struct LoadCase
{
    Variant variant;
    AppInfo info;
    const char *caption;
    const char *version;
};

// Rows are named by the test's suffix; this keeps the listing free of raw bytes.
void PrintTo(const LoadCase &, std::ostream *os)
{
    *os << "row";
}

class AboutLoad : public AboutTest, public ::testing::WithParamInterface<LoadCase>
{
};

TEST_P(AboutLoad, CaptionTitleAndVersionComeFromTheProgram)
{
    frmAbout *box = frmAbout::ShowFor(GetParam().info, GetParam().variant, quiet.Services());
    EXPECT_EQ(box->windowTitle(), QString::fromUtf8(GetParam().caption));
    EXPECT_EQ(box->findChild<QLabel *>("lblTitle")->text(), GetParam().info.Title());
    EXPECT_EQ(box->findChild<QLabel *>("lblVersion")->text(), QString::fromUtf8(GetParam().version));
}

INSTANTIATE_TEST_SUITE_P(Programs, AboutLoad, ::testing::Values(
    // The encoder's title keeps its trailing blank.
    LoadCase{Variant::Encoder, AppInfo::Encoder(), "关于 墨川Real凌波 ", "版本 1.4.90"},
    LoadCase{Variant::Joiner, AppInfo::Joiner(), "关于 墨川Real凌波 影片合并工具", "版本 1.0.0"},
    LoadCase{Variant::Joiner, AppInfo(QStringLiteral("X"), 2, 0, 7), "关于 X", "版本 2.0.7"}),
    [](const auto &row) { return std::to_string(row.index); });

struct PlaceCase
{
    Variant variant;
    const char *name;
    QRect pixels;
};

void PrintTo(const PlaceCase &, std::ostream *os)
{
    *os << "row";
}

class AboutPlacement : public AboutTest, public ::testing::WithParamInterface<PlaceCase>
{
};

TEST_P(AboutPlacement, WidgetStandsWhereTheDesignPutsIt)
{
    const AppInfo info = GetParam().variant == Variant::Encoder ? AppInfo::Encoder() : AppInfo::Joiner();
    frmAbout *box = frmAbout::ShowFor(info, GetParam().variant, quiet.Services());
    auto *w = box->findChild<QWidget *>(QString::fromLatin1(GetParam().name));
    ASSERT_NE(w, nullptr) << GetParam().name;
    EXPECT_EQ(w->geometry(), GetParam().pixels) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(Joiner, AboutPlacement, ::testing::Values(
    PlaceCase{Variant::Joiner, "lblTitle", QRect(48, 16, 259, 32)},
    PlaceCase{Variant::Joiner, "lblVersion", QRect(48, 52, 259, 15)},
    PlaceCase{Variant::Joiner, "Label2", QRect(48, 80, 297, 17)},
    PlaceCase{Variant::Joiner, "lblDescription", QRect(24, 168, 235, 62)},
    PlaceCase{Variant::Joiner, "cmdOK", QRect(280, 168, 100, 23)},
    PlaceCase{Variant::Joiner, "cmdSysInfo", QRect(280, 200, 99, 23)},
    // 240..5804 and 105..5654 twips, the white one two pixels thick.
    PlaceCase{Variant::Joiner, "Line1_1", QRect(16, 152, 372, 1)},
    PlaceCase{Variant::Joiner, "Line1_0", QRect(7, 164, 371, 2)}),
    [](const auto &row) { return std::string(row.param.name); });

INSTANTIATE_TEST_SUITE_P(Encoder, AboutPlacement, ::testing::Values(
    PlaceCase{Variant::Encoder, "Picture1", QRect(24, 32, 25, 25)},
    PlaceCase{Variant::Encoder, "lblTitle", QRect(72, 16, 259, 32)},
    PlaceCase{Variant::Encoder, "lblVersion", QRect(72, 52, 259, 15)},
    PlaceCase{Variant::Encoder, "Label2", QRect(72, 80, 297, 17)},
    PlaceCase{Variant::Encoder, "Label3", QRect(72, 100, 201, 17)},
    PlaceCase{Variant::Encoder, "Label4", QRect(72, 120, 201, 17)},
    PlaceCase{Variant::Encoder, "Label5", QRect(280, 100, 121, 17)},
    PlaceCase{Variant::Encoder, "Label6", QRect(280, 120, 121, 17)},
    PlaceCase{Variant::Encoder, "Image1", QRect(336, 8, 32, 32)},
    PlaceCase{Variant::Encoder, "Image2", QRect(368, 8, 32, 32)},
    PlaceCase{Variant::Encoder, "lblDescription", QRect(24, 168, 235, 62)},
    PlaceCase{Variant::Encoder, "cmdOK", QRect(280, 168, 100, 23)},
    PlaceCase{Variant::Encoder, "cmdSysInfo", QRect(280, 200, 99, 23)},
    PlaceCase{Variant::Encoder, "Line1_1", QRect(16, 152, 372, 1)},
    PlaceCase{Variant::Encoder, "Line1_0", QRect(7, 164, 371, 2)}),
    [](const auto &row) { return std::string(row.param.name); });

TEST_F(AboutTest, SeparatorsAreGreyOverWhite)
{
    frmAbout *box = showJoiner(quiet);
    const auto colour = [&](const char *name) {
        return box->findChild<QFrame *>(name)->palette().color(QPalette::Window);
    };
    EXPECT_EQ(colour("Line1_1"), QColor(128, 128, 128));
    EXPECT_EQ(colour("Line1_0"), QColor(255, 255, 255));
}

// The pictures come from resources a static library must register itself.
TEST_F(AboutTest, EncoderTitleFontAndPictures)
{
    frmAbout *box = frmAbout::ShowFor(AppInfo::Encoder(), Variant::Encoder, quiet.Services());
    const QFont font = box->findChild<QLabel *>("lblTitle")->font();
    EXPECT_EQ(font.family(), QStringLiteral("宋体"));
    EXPECT_DOUBLE_EQ(font.pointSizeF(), 10.5);
    EXPECT_TRUE(font.bold());
    for (const char *name : {"Picture1", "Image1", "Image2"}) {
        const QLabel *picture = box->findChild<QLabel *>(name);
        EXPECT_FALSE(picture->pixmap().isNull()) << name;
    }
}

TEST_F(AboutTest, JoinerHasNoEncoderExtras)
{
    frmAbout *box = showJoiner(quiet);
    for (const char *name : {"Picture1", "Image1", "Image2", "Label5", "Label6"})
        EXPECT_EQ(box->findChild<QWidget *>(name), nullptr) << name;
    EXPECT_FALSE(box->findChild<QLabel *>("lblTitle")->font().bold());
}

// Enter and Esc both press OK, whichever button has the focus, and the box is unloaded.
struct KeyCase
{
    Qt::Key key;
    bool focusOnSysInfo;
};

void PrintTo(const KeyCase &, std::ostream *os)
{
    *os << "row";
}

class AboutKeys : public AboutTest, public ::testing::WithParamInterface<KeyCase>
{
};

TEST_P(AboutKeys, CloseAndUnload)
{
    frmAbout *box = showJoiner(quiet);
    QPointer<frmAbout> watch(box);
    QWidget *target = box;
    if (GetParam().focusOnSysInfo) {
        box->SysInfoButton()->setFocus();
        target = box->SysInfoButton();
    }
    QTest::keyClick(target, GetParam().key);
    EXPECT_EQ(frmAbout::Instance(), nullptr);
    flushDeletes();
    EXPECT_TRUE(watch.isNull());
    EXPECT_TRUE(quiet.messages.isEmpty()) << "the system-information button was pressed";
}

INSTANTIATE_TEST_SUITE_P(Keys, AboutKeys, ::testing::Values(
    KeyCase{Qt::Key_Return, false}, KeyCase{Qt::Key_Enter, false}, KeyCase{Qt::Key_Escape, false},
    KeyCase{Qt::Key_Return, true}, KeyCase{Qt::Key_Escape, true}),
    [](const auto &row) {
        const char *key = row.param.key == Qt::Key_Escape ? "Esc"
                        : row.param.key == Qt::Key_Enter  ? "Enter" : "Return";
        return std::string(key) + (row.param.focusOnSysInfo ? "_FromSysInfo" : "");
    });

// After OK the box is built anew, so its load step runs again.
TEST_F(AboutTest, ShowingAfterOkReloads)
{
    frmAbout *first = showJoiner(quiet);
    first->findChild<QLabel *>("lblVersion")->setText(QStringLiteral("changed"));
    first->OkButton()->click();
    flushDeletes();
    EXPECT_EQ(openBoxes(), 0);
    frmAbout *second = showJoiner(quiet);
    EXPECT_EQ(second->findChild<QLabel *>("lblVersion")->text(), QStringLiteral("版本 1.0.0"));
    EXPECT_EQ(openBoxes(), 1);
}

// Showing again before the closed box is gone must not hand back the dying one.
TEST_F(AboutTest, ShowingRightAfterOkGivesALiveBox)
{
    frmAbout *first = showJoiner(quiet);
    first->OkButton()->click();
    frmAbout *second = showJoiner(quiet);
    EXPECT_NE(second, first);
    flushDeletes();
    ASSERT_EQ(frmAbout::Instance(), second);
    EXPECT_TRUE(second->isVisible());
}

TEST_F(AboutTest, SysInfoFailureShowsTheMessageAndKeepsTheBoxOpen)
{
    frmAbout *box = showJoiner(quiet);
    box->SysInfoButton()->click();
    EXPECT_EQ(quiet.messages, QStringList{QStringLiteral("此时系统信息不可用")});
    EXPECT_EQ(quiet.captions, QStringList{AppInfo::Joiner().Title()});
    EXPECT_EQ(quiet.parents, QList<QWidget *>{box});
    flushDeletes();
    EXPECT_EQ(frmAbout::Instance(), box);
    EXPECT_TRUE(box->isVisible());
}

} // namespace
