#include "JoinerTestSupport.h"

#include "about/frmAbout.h"
#include "joiner/QtJoinFileChooser.h"

#include <gtest/gtest.h>

#include <QFileDialog>
#include <QLabel>
#include <QListView>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTimer>

using corva::test::JoinerFixtureWindow;
using corva::test::WaitFor;

namespace {

class JoinerHover : public ::testing::Test
{
protected:
    void SetUp() override
    {
        f.window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(f.window.get()));
    }

    // The move goes to the widget under the pointer first and is passed up from there, as
    // from the window system; sent directly, it does not wait on a real pointer's events.
    void moveOver(const char *name, QPoint at = QPoint(-1, -1))
    {
        QWidget *w = f.window->objectName() == QLatin1String(name) ? f.window.get() : f.Find(name);
        ASSERT_NE(w, nullptr) << name;
        const QPoint pos = at.x() < 0 ? w->rect().center() : at;
        QMouseEvent move(QEvent::MouseMove, QPointF(pos), QPointF(w->mapToGlobal(pos)), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(w, &move);
    }
    bool hovered(const char *name) const
    {
        const auto *l = f.Find<QLabel>(name);
        const bool red = l->palette().color(QPalette::WindowText) == QColor(255, 0, 0);
        EXPECT_EQ(red, l->font().underline()) << name << ": colour and underline disagree";
        if (!red) {
            EXPECT_EQ(l->palette().color(QPalette::WindowText), QColor(0, 0, 255)) << name;
        }
        return red;
    }

    JoinerFixtureWindow f;
};

TEST_F(JoinerHover, LinksLightUpUnderThePointer)
{
    moveOver("Label8");
    EXPECT_TRUE(hovered("Label8"));
    EXPECT_FALSE(hovered("Label13"));
    moveOver("Label13", QPoint(3, 20));
    EXPECT_TRUE(hovered("Label13"));
    EXPECT_TRUE(hovered("Label8"));
}

// Only the window's bare background and Frame1 reset the links; the banner, the list frame,
// buttons and Frame1's own labels do not.
TEST_F(JoinerHover, OnlyTheBackgroundAndFrame1Reset)
{
    moveOver("Label8");
    moveOver("Label13", QPoint(3, 20));
    for (const char *other : {"Image1", "Frame2", "List1", "Command10", "Label3", "Label1", "Label4", "Text1"}) {
        moveOver(other);
        EXPECT_TRUE(hovered("Label8")) << "reset by " << other;
        EXPECT_TRUE(hovered("Label13")) << "reset by " << other;
    }
    moveOver("Form1", QPoint(702, 200));
    EXPECT_FALSE(hovered("Label8"));
    EXPECT_FALSE(hovered("Label13"));

    moveOver("Label8");
    moveOver("Frame1", QPoint(400, 90));
    EXPECT_FALSE(hovered("Label8"));
}

TEST_F(JoinerHover, TheAboutLinkOpensWithoutBlocking)
{
    QTest::mouseClick(f.Find("Label8"), Qt::LeftButton);
    EXPECT_EQ(f.aboutShown, 1);
    QTest::mouseClick(f.Find("Label8"), Qt::LeftButton);
    EXPECT_EQ(f.aboutShown, 2);
}

TEST_F(JoinerHover, TheMinimiseLinkMinimises)
{
    QTest::mouseClick(f.Find("Label13"), Qt::LeftButton, {}, QPoint(3, 20));
    EXPECT_TRUE(f.window->isMinimized());
}

// The real About link: one non-modal box however often it is clicked.
TEST(JoinerAbout, SystemLinkShowsOneSharedBox)
{
    auto services = corva::JoinerWindow::Services::System();
    auto chooser = std::make_shared<corva::test::FakeChooser>();
    services.chooser = chooser;
    corva::JoinerWindow window(std::move(services));
    window.show();
    auto *link = window.findChild<QLabel *>(QStringLiteral("Label8"));
    QTest::mouseClick(link, Qt::LeftButton);
    corva::frmAbout *box = corva::frmAbout::Instance();
    ASSERT_NE(box, nullptr);
    QTest::mouseClick(link, Qt::LeftButton);
    EXPECT_EQ(corva::frmAbout::Instance(), box);
    EXPECT_EQ(box->windowTitle(), QStringLiteral("关于 墨川Real凌波 影片合并工具"));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    box->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The real dialog, answered from a timer: its filters, what they show, and what comes back.
class JoinerRealDialog : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        for (const char *name : {"noext", "a.rm", "b.rmvb", "c.txt"}) {
            QFile file(dir.filePath(QString::fromLatin1(name)));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        }
    }

    // Names the dialog lists under the given filter, once they are what is expected or the
    // dialog's folder reader has had time enough.
    static QStringList listed(QFileDialog *dialog, const QString &filter, const QStringList &expected)
    {
        dialog->selectNameFilter(filter);
        auto *view = dialog->findChild<QListView *>(QStringLiteral("listView"));
        if (!view)
            return {QStringLiteral("<no list view>")};
        QStringList names;
        WaitFor([&] {
            names.clear();
            const QModelIndex root = view->rootIndex();
            for (int i = 0; i < view->model()->rowCount(root); ++i)
                names << view->model()->index(i, 0, root).data().toString();
            names.sort();
            return names == expected;
        }, 3000);
        return names;
    }

    QTemporaryDir dir;
};

TEST_F(JoinerRealDialog, FiltersInOrderAndAllFilesShowsNamesWithoutExtension)
{
    corva::QtJoinFileChooser chooser;
    QStringList filters;
    QStringList all;
    QStringList rm;
    QStringList rmvb;
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        filters = dialog->nameFilters();
        dialog->setDirectory(dir.path());
        all = listed(dialog, filters.value(0), {"a.rm", "b.rmvb", "c.txt", "noext"});
        rm = listed(dialog, filters.value(1), {"a.rm"});
        rmvb = listed(dialog, filters.value(2), {"b.rmvb"});
        dialog->reject();
    });
    const std::optional<QString> chosen = chooser.ChooseInput(nullptr);
    EXPECT_FALSE(chosen.has_value());
    EXPECT_EQ(filters, (QStringList{"所有文件 (*)", "rm (*.rm)", "rmvb (*.rmvb)"}));
    EXPECT_EQ(all, (QStringList{"a.rm", "b.rmvb", "c.txt", "noext"}));
    EXPECT_EQ(rm, QStringList{"a.rm"});
    EXPECT_EQ(rmvb, QStringList{"b.rmvb"});
}

// A confirmed choice comes back, and the next dialog (open or save) starts from it.
TEST_F(JoinerRealDialog, ConfirmedNameIsKeptForTheNextDialog)
{
    corva::QtJoinFileChooser chooser;
    const QString wanted = dir.filePath(QStringLiteral("a.rm"));
    QTimer::singleShot(0, [&] {
        if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
            dialog->selectFile(wanted);
            static_cast<QDialog *>(dialog)->accept();
        }
    });
    EXPECT_EQ(chooser.ChooseInput(nullptr).value_or(QString()), wanted);

    QStringList startedWith;
    bool asksBeforeReplacing = false;
    QTimer::singleShot(0, [&] {
        if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
            startedWith = dialog->selectedFiles();
            asksBeforeReplacing = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
            dialog->reject();
        }
    });
    EXPECT_FALSE(chooser.ChooseOutput(nullptr).has_value());
    EXPECT_EQ(startedWith, QStringList{wanted});
    EXPECT_TRUE(asksBeforeReplacing);
    EXPECT_EQ(chooser.FileName(), wanted) << "a cancelled dialog must not forget the name";
}

} // namespace
