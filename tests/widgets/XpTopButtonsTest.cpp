#include "WidgetTestSupport.h"

#include "widgets/PropertyBag.h"
#include "widgets/SkinStrip.h"
#include "widgets/xptopbuttons.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include <array>
#include <memory>

namespace vantel_xp::test {
namespace {

constexpr int kNormal = 0, kHover = 1, kPressed = 2, kDisabled = 3;
constexpr int kClose = 0, kMaximise = 1, kMinimise = 2, kRestore = 3;

class XpTopButtonsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_host = std::make_unique<QWidget>();
        m_host->resize(100, 100);
        m_button = new xptopbuttons(m_host.get());
        m_button->SetPointerSource(m_pointer);
        m_button->move(40, 8);
        m_host->show();
    }

    ::testing::AssertionResult Shows(int glyphSet, int cell)
    {
        return SameImage(Grab(*m_button), m_strips[static_cast<std::size_t>(glyphSet)].Cell(cell));
    }
    void WaitForMouseOut(QSignalSpy &outs)
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return outs.count() > 0; }, 1000));
    }

    std::array<SkinStrip, 4> m_strips{SkinStrip(SkinStrip::TitleBarResource(0), 4),
                                      SkinStrip(SkinStrip::TitleBarResource(1), 4),
                                      SkinStrip(SkinStrip::TitleBarResource(2), 4),
                                      SkinStrip(SkinStrip::TitleBarResource(3), 4)};
    std::shared_ptr<FakePointer> m_pointer = std::make_shared<FakePointer>(QPoint(5, 5));
    std::unique_ptr<QWidget> m_host;
    xptopbuttons *m_button = nullptr;
};

TEST_F(XpTopButtonsTest, PollRunsFromCreationAndItsFirstTickOutsideRaisesMouseOut)
{
    xptopbuttons fresh;
    EXPECT_EQ(fresh.HoverTimer().interval(), 10);
    EXPECT_TRUE(fresh.HoverTimer().isActive());
    EXPECT_EQ(fresh.focusPolicy(), Qt::NoFocus);
    auto far = std::make_shared<FakePointer>(QPoint(-1, 0));
    fresh.SetPointerSource(far);
    QSignalSpy outs(&fresh, &xptopbuttons::MouseOut);
    WaitForMouseOut(outs);
    EXPECT_FALSE(fresh.HoverTimer().isActive());
    EXPECT_TRUE(SameImage(Grab(fresh), m_strips[kClose].Cell(kNormal)));
}

struct ValueRow
{
    const char *name;
    int value;
    int glyphSet;
};

class XpTopButtonsValue : public XpTopButtonsTest, public ::testing::WithParamInterface<ValueRow>
{
};

TEST_P(XpTopButtonsValue, ValueOutsideZeroToThreeKeepsTheGlyphChosenBefore)
{
    const ValueRow row = GetParam();
    m_button->SetValue(kMaximise);
    m_button->SetValue(row.value);
    EXPECT_EQ(m_button->Value(), row.value);
    EXPECT_TRUE(Shows(row.glyphSet, kNormal));
    // The disabled cell comes from the same glyph set.
    m_button->SetEnabled(false);
    EXPECT_TRUE(Shows(row.glyphSet, kDisabled));
}

INSTANTIATE_TEST_SUITE_P(Values, XpTopButtonsValue,
                         ::testing::Values(ValueRow{"Close", 0, kClose}, ValueRow{"Maximise", 1, kMaximise},
                                           ValueRow{"Minimise", 2, kMinimise}, ValueRow{"Restore", 3, kRestore},
                                           ValueRow{"Seven", 7, kMaximise}, ValueRow{"MinusOne", -1, kMaximise},
                                           ValueRow{"Four", 4, kMaximise}),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(XpTopButtonsTest, EnabledTogglesBetweenDisabledAndNormalCellsWhereverThePointerIs)
{
    m_button->SetValue(kMinimise);
    Mouse::Move(m_button, {5, 5});
    ASSERT_TRUE(Shows(kMinimise, kHover));
    m_button->SetEnabled(false);
    EXPECT_FALSE(m_button->Enabled());
    EXPECT_TRUE(Shows(kMinimise, kDisabled));
    m_button->SetEnabled(true);
    EXPECT_TRUE(Shows(kMinimise, kNormal)) << "normal, not hover, although the pointer is over it";
    m_button->setEnabled(false);
    EXPECT_TRUE(Shows(kMinimise, kDisabled));
    m_button->setEnabled(true);
    EXPECT_TRUE(Shows(kMinimise, kNormal));
}

TEST_F(XpTopButtonsTest, EnabledLooksAtTheGlyphSetInUseNotAtValue)
{
    m_button->SetValue(kRestore);
    m_button->SetValue(9);
    m_button->SetEnabled(false);
    EXPECT_TRUE(Shows(kRestore, kDisabled));
}

TEST_F(XpTopButtonsTest, DisabledButtonStillRaisesMouseOutButKeepsItsDisabledCell)
{
    m_button->SetValue(kMinimise);
    Mouse::Move(m_button, {5, 5});
    m_button->SetEnabled(false);
    QSignalSpy outs(m_button, &xptopbuttons::MouseOut);
    m_pointer->MoveTo({30, 5});
    WaitForMouseOut(outs);
    EXPECT_TRUE(Shows(kMinimise, kDisabled));
    MouseSpy moves(m_button, &xptopbuttons::MouseMove);
    QSignalSpy clicks(m_button, &xptopbuttons::Click);
    Mouse::Move(m_button, {5, 5});
    Mouse::Click(m_button, {5, 5});
    EXPECT_EQ(moves.count() + clicks.count(), 0);
    EXPECT_TRUE(Shows(kMinimise, kDisabled));
}

TEST_F(XpTopButtonsTest, PointerMovesPressesAndReleasesShowTheirCells)
{
    m_button->SetValue(kClose);
    MouseSpy moves(m_button, &xptopbuttons::MouseMove);
    Mouse::Move(m_button, {21, 21});
    ASSERT_EQ(moves.count(), 1) << "the far edge is inside";
    EXPECT_TRUE(Shows(kClose, kHover));
    Mouse::Move(m_button, {22, 3});
    EXPECT_EQ(moves.count(), 1);
    Mouse::Move(m_button, {3, 3}, Qt::LeftButton);
    EXPECT_TRUE(Shows(kClose, kPressed));
    Mouse::Move(m_button, {3, 3}, Qt::LeftButton | Qt::RightButton);
    EXPECT_TRUE(Shows(kClose, kHover));

    bool pressedDuringMouseDown = false;
    QObject::connect(m_button, &xptopbuttons::MouseDown, m_button,
            [&] { pressedDuringMouseDown = Shows(kClose, kPressed); });
    Mouse::Press(m_button, {3, 3}, Qt::RightButton);
    EXPECT_TRUE(pressedDuringMouseDown) << "the face changes before MouseDown";
    Mouse::Release(m_button, {3, 3}, Qt::RightButton);
    EXPECT_TRUE(Shows(kClose, kNormal)) << "normal after release until the next move";
    Mouse::Move(m_button, {4, 3});
    EXPECT_TRUE(Shows(kClose, kHover));
}

TEST_F(XpTopButtonsTest, DoubleClickGivesOneClickAndTheSecondPressShowsNoPressedCell)
{
    m_button->SetValue(kMinimise);
    MouseSpy downs(m_button, &xptopbuttons::MouseDown);
    MouseSpy ups(m_button, &xptopbuttons::MouseUp);
    QSignalSpy clicks(m_button, &xptopbuttons::Click);
    bool normalAfterSecondPress = false;
    Mouse::DoubleClick(m_button, {10, 10}, [&] { normalAfterSecondPress = Shows(kMinimise, kNormal); });
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(downs.count(), 1);
    EXPECT_EQ(ups.count(), 2);
    EXPECT_TRUE(normalAfterSecondPress);
}

TEST_F(XpTopButtonsTest, ReleaseOutsideAfterPressGivesNoClick)
{
    QSignalSpy clicks(m_button, &xptopbuttons::Click);
    Mouse::Press(m_button, {10, 10}, Qt::LeftButton);
    Mouse::Release(m_button, {40, 10}, Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 0);
}

struct ResizeRow
{
    const char *name;
    std::function<void(QWidget &)> attempt;
};

class XpTopButtonsResize : public XpTopButtonsTest, public ::testing::WithParamInterface<ResizeRow>
{
};

TEST_P(XpTopButtonsResize, EveryResizeAttemptEndsAtOneCell)
{
    GetParam().attempt(*m_button);
    QCoreApplication::processEvents();
    EXPECT_EQ(m_button->size(), QSize(21, 21));
}

INSTANTIATE_TEST_SUITE_P(
    Attempts, XpTopButtonsResize,
    ::testing::Values(ResizeRow{"Resize", [](QWidget &w) { w.resize(60, 40); }},
                      ResizeRow{"Geometry", [](QWidget &w) { w.setGeometry(0, 0, 5, 90); }},
                      ResizeRow{"LoosenedLimits",
                                [](QWidget &w) {
                                    w.setMinimumSize(0, 0);
                                    w.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
                                    w.resize(50, 50);
                                }},
                      ResizeRow{"ForcedMinimum", [](QWidget &w) { w.setMinimumSize(40, 40); }},
                      ResizeRow{"OtherFixedSize", [](QWidget &w) { w.setFixedSize(30, 12); }}),
    [](const auto &row) { return std::string(row.param.name); });

TEST_F(XpTopButtonsTest, StoreHoldsValueThenEnabledAndLoadingDefersTheGlyphToShow)
{
    PropertyBag bag;
    m_button->WriteProperties(bag);
    EXPECT_EQ(bag.Count(), 0);
    QSignalSpy changes(m_button, &xptopbuttons::PropertyChanged);
    m_button->SetValue(kMinimise);
    m_button->SetEnabled(false);
    ASSERT_EQ(changes.count(), 1) << "Value is reported, Enabled is not";
    m_button->WriteProperties(bag);
    EXPECT_EQ(bag.Names(), QStringList({"Value", "Enabled"}));

    // The window design stores "value" 2.
    PropertyBag design;
    design.WriteProperty(QStringLiteral("value"), 2, 0);
    QWidget host;
    auto *loaded = new xptopbuttons(&host);
    loaded->SetPointerSource(m_pointer);
    loaded->ReadProperties(design);
    EXPECT_EQ(loaded->Value(), 2);
    EXPECT_TRUE(SameImage(Grab(*loaded), m_strips[kClose].Cell(kNormal))) << "no redraw while loading";
    host.show();
    EXPECT_TRUE(SameImage(Grab(*loaded), m_strips[kMinimise].Cell(kNormal)));
}

} // namespace
} // namespace vantel_xp::test
