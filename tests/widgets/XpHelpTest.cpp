#include "WidgetTestSupport.h"

#include "widgets/PropertyBag.h"
#include "widgets/SkinStrip.h"
#include "widgets/xphelp.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace vantel_xp::test {
namespace {

constexpr int kNormal = 0, kHover = 1, kPressed = 2;

class XpHelpTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_host = std::make_unique<QWidget>();
        m_host->resize(100, 100);
        m_button = new xphelp(m_host.get());
        m_button->SetPointerSource(m_pointer);
        m_button->move(40, 32);
        m_host->show();
    }

    ::testing::AssertionResult Shows(int cell) { return SameImage(Grab(*m_button), m_strip.Cell(cell)); }

    SkinStrip m_strip{SkinStrip::HelpResource(), 3};
    std::shared_ptr<FakePointer> m_pointer = std::make_shared<FakePointer>(QPoint(5, 5));
    std::unique_ptr<QWidget> m_host;
    xphelp *m_button = nullptr;
};

TEST_F(XpHelpTest, PressShowsPressedWhichOutlastsMouseUpUntilTheClick)
{
    std::vector<int> seen;
    auto note = [&](const char *) {
        for (int cell : {kNormal, kHover, kPressed}) {
            if (Shows(cell))
                seen.push_back(cell);
        }
    };
    QObject::connect(m_button, &xphelp::MouseDown, m_button, [&] { note("down"); });
    QObject::connect(m_button, &xphelp::MouseUp, m_button, [&] { note("up"); });
    QObject::connect(m_button, &xphelp::Click, m_button, [&] { note("click"); });
    Mouse::Move(m_button, {5, 5});
    ASSERT_TRUE(Shows(kHover));
    Mouse::Click(m_button, {5, 5});
    EXPECT_EQ(seen, (std::vector<int>{kPressed, kPressed, kNormal}));
    EXPECT_TRUE(Shows(kNormal));
}

TEST_F(XpHelpTest, ReleaseOutsideLeavesThePressedCellUntilPollOrMove)
{
    QSignalSpy clicks(m_button, &xphelp::Click);
    QSignalSpy outs(m_button, &xphelp::MouseOut);
    Mouse::Press(m_button, {5, 5}, Qt::LeftButton);
    m_pointer->MoveTo({5, 5});
    Mouse::Release(m_button, {50, 5}, Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 0);
    QTest::qWait(30);
    EXPECT_TRUE(Shows(kPressed));
    Mouse::Move(m_button, {6, 6});
    EXPECT_TRUE(Shows(kHover));
    Mouse::Press(m_button, {5, 5}, Qt::LeftButton);
    Mouse::Release(m_button, {50, 5}, Qt::LeftButton);
    m_pointer->MoveTo({50, 5});
    ASSERT_TRUE(QTest::qWaitFor([&] { return outs.count() > 0; }, 1000));
    EXPECT_TRUE(Shows(kNormal));
}

struct TwipsRow
{
    const char *name;
    QPointF at;
    bool inside;
    float x, y;
};

class XpHelpTwips : public XpHelpTest, public ::testing::WithParamInterface<TwipsRow>
{
};

TEST_P(XpHelpTwips, MouseEventsCarryTwipsAndTheHitTestIncludesTheEdge)
{
    const TwipsRow row = GetParam();
    MouseSpy moves(m_button, &xphelp::MouseMove);
    MouseSpy downs(m_button, &xphelp::MouseDown);
    Mouse::Move(m_button, row.at, Qt::RightButton);
    ASSERT_EQ(moves.count(), row.inside ? 1 : 0);
    if (row.inside) {
        EXPECT_FLOAT_EQ(std::get<2>(moves.at(0)), row.x);
        EXPECT_FLOAT_EQ(std::get<3>(moves.at(0)), row.y);
        EXPECT_TRUE(Shows(kHover));
    }
    Mouse::Press(m_button, row.at, Qt::LeftButton);
    ASSERT_EQ(downs.count(), 1);
    EXPECT_FLOAT_EQ(std::get<2>(downs.at(0)), row.x);
    EXPECT_FLOAT_EQ(std::get<3>(downs.at(0)), row.y);
}

INSTANTIATE_TEST_SUITE_P(Points, XpHelpTwips,
                         ::testing::Values(TwipsRow{"Corner", {0, 0}, true, 0, 0},
                                           TwipsRow{"Inside", {3, 4}, true, 45, 60},
                                           TwipsRow{"FarEdge", {21, 21}, true, 315, 315},
                                           TwipsRow{"PastRight", {22, 7}, false, 330, 105}),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(XpHelpTest, PrimaryButtonMoveShowsPressedOtherMovesHover)
{
    Mouse::Move(m_button, {4, 4}, Qt::LeftButton);
    EXPECT_TRUE(Shows(kPressed));
    Mouse::Move(m_button, {4, 4}, Qt::LeftButton | Qt::MiddleButton);
    EXPECT_TRUE(Shows(kHover));
}

TEST_F(XpHelpTest, DoubleClickGivesOneClickAndTheSecondPressShowsNoPressedCell)
{
    MouseSpy downs(m_button, &xphelp::MouseDown);
    QSignalSpy clicks(m_button, &xphelp::Click);
    bool normalAfterSecondPress = false;
    Mouse::DoubleClick(m_button, {10, 10}, [&] { normalAfterSecondPress = Shows(kNormal); });
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(downs.count(), 1);
    EXPECT_TRUE(normalAfterSecondPress);
}

TEST_F(XpHelpTest, DisabledKeepsItsLastCellAndThePollStillRaisesMouseOut)
{
    EXPECT_EQ(m_button->HoverTimer().interval(), 10);
    Mouse::Move(m_button, {4, 4});
    m_button->SetEnabled(false);
    EXPECT_TRUE(Shows(kHover));
    QSignalSpy outs(m_button, &xphelp::MouseOut);
    MouseSpy downs(m_button, &xphelp::MouseDown);
    m_pointer->MoveTo({-3, 4});
    ASSERT_TRUE(QTest::qWaitFor([&] { return outs.count() > 0; }, 1000));
    EXPECT_TRUE(Shows(kHover)) << "no normal cell for a disabled button";
    Mouse::Press(m_button, {4, 4}, Qt::LeftButton);
    EXPECT_EQ(downs.count(), 0);
    EXPECT_TRUE(Shows(kHover));
}

TEST_F(XpHelpTest, SizeStaysOneCellAndEnabledIsStored)
{
    m_button->resize(80, 30);
    m_button->setMinimumSize(50, 50);
    QCoreApplication::processEvents();
    EXPECT_EQ(m_button->size(), QSize(21, 21));
    EXPECT_EQ(m_button->focusPolicy(), Qt::NoFocus);
    PropertyBag bag;
    m_button->WriteProperties(bag);
    EXPECT_EQ(bag.Count(), 0);
    PropertyBag off;
    off.WriteProperty(QStringLiteral("ENABLED"), false, true);
    m_button->ReadProperties(off);
    EXPECT_FALSE(m_button->Enabled());
    m_button->WriteProperties(bag);
    EXPECT_EQ(bag.Names(), QStringList({"Enabled"}));
}

} // namespace
} // namespace vantel_xp::test
