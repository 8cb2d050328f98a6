#include "WidgetTestSupport.h"

#include "widgets/PropertyBag.h"
#include "widgets/SkinStrip.h"
#include "widgets/xpcmdbutton.h"

#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace vantel_xp::test {
namespace {

constexpr int kRest = 0, kPressed = 1, kDisabled = 2, kHover = 3, kEmphasised = 4;

class XpCmdButtonTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { InstallFontSubstitutions(); }

    void SetUp() override
    {
        m_host = std::make_unique<QWidget>();
        m_host->resize(300, 200);
        m_button = new xpcmdbutton(m_host.get());
        m_button->setObjectName(QStringLiteral("xpcmdbutton1"));
        m_button->SetPointerSource(m_pointer);
        // The window's browse buttons: 735 x 255 twips.
        m_button->setGeometry(20, 20, 49, 17);
        m_button->SetCaption(QStringLiteral("浏览"));
        m_button->SetFont(QFont(QStringLiteral("宋体"), 9));
        m_host->show();
    }

    ::testing::AssertionResult Shows(int cell)
    {
        return FaceShowsCell(Grab(*m_button), m_strip.Cell(cell), Label()->geometry());
    }
    QLabel *Label() const { return m_button->findChild<QLabel *>(QStringLiteral("lbl")); }
    int W() const { return m_button->width(); }
    int H() const { return m_button->height(); }

    SkinStrip m_strip{SkinStrip::PushButtonResource(), 5};
    std::shared_ptr<FakePointer> m_pointer = std::make_shared<FakePointer>();
    std::unique_ptr<QWidget> m_host;
    xpcmdbutton *m_button = nullptr;
};

// --- Faces at any size -------------------------------------------------------------------

class XpCmdButtonFaceSize : public XpCmdButtonTest, public ::testing::WithParamInterface<QSize>
{
};

TEST_P(XpCmdButtonFaceSize, NineSliceDrawsEveryCellAtThisSize)
{
    m_button->resize(GetParam());
    ASSERT_EQ(m_button->size(), GetParam());
    EXPECT_TRUE(Shows(kRest));
    Mouse::Move(m_button, {2, 2});
    EXPECT_TRUE(Shows(kHover));
    Mouse::Press(m_button, {2, 2}, Qt::RightButton);
    EXPECT_TRUE(Shows(kPressed));
    Mouse::Release(m_button, {2, 2}, Qt::RightButton);
    m_button->SetState(1);
    EXPECT_TRUE(Shows(kEmphasised));
    m_button->SetEnabled(false);
    EXPECT_TRUE(Shows(kDisabled));
}

// The window's three button sizes, the cell's own size, and a shrunk centre.
INSTANTIATE_TEST_SUITE_P(Sizes, XpCmdButtonFaceSize,
                         ::testing::Values(QSize(49, 17), QSize(113, 17), QSize(97, 33), QSize(18, 21),
                                           QSize(8, 7)));

// --- Hover and leave ---------------------------------------------------------------------

struct HitRow
{
    const char *name;
    int dx, dy; // offsets from (0,0) or, with fromFar, from (W,H)
    bool fromFar;
    bool inside;
};

class XpCmdButtonHit : public XpCmdButtonTest, public ::testing::WithParamInterface<HitRow>
{
};

TEST_P(XpCmdButtonHit, MoveHitTestIncludesTheRightAndBottomEdge)
{
    const HitRow row = GetParam();
    const QPointF at(row.dx + (row.fromFar ? W() : 0), row.dy + (row.fromFar ? H() : 0));
    MouseSpy moves(m_button, &xpcmdbutton::MouseMove);
    Mouse::Move(m_button, at);
    // The poll starts on any move, wherever it was reported.
    EXPECT_TRUE(m_button->HoverTimer().isActive());
    ASSERT_EQ(moves.count(), row.inside ? 1 : 0);
    EXPECT_TRUE(Shows(row.inside ? kHover : kRest));
}

INSTANTIATE_TEST_SUITE_P(Edges, XpCmdButtonHit,
                         ::testing::Values(HitRow{"TopLeft", 0, 0, false, true},
                                           HitRow{"BottomRightEdge", 0, 0, true, true},
                                           HitRow{"PastRight", 1, 0, true, false},
                                           HitRow{"PastBottom", 0, 1, true, false},
                                           HitRow{"LeftOfIt", -1, 0, false, false},
                                           HitRow{"AboveIt", 0, -1, false, false}),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(XpCmdButtonTest, PollKeepsHoverWhilePointerIsOnTheFarEdgeAndEndsOnePixelPast)
{
    QSignalSpy outs(m_button, &xpcmdbutton::MouseOut);
    Mouse::Move(m_button, {5, 5});
    m_pointer->MoveTo({W(), H()});
    QTest::qWait(20);
    EXPECT_EQ(outs.count(), 0);
    EXPECT_TRUE(m_button->HoverTimer().isActive());
    EXPECT_TRUE(Shows(kHover));
    m_pointer->MoveTo({W() + 1, H()});
    ASSERT_TRUE(QTest::qWaitFor([&] { return outs.count() > 0; }, 1000));
    EXPECT_EQ(outs.count(), 1);
    EXPECT_FALSE(m_button->HoverTimer().isActive());
    EXPECT_TRUE(Shows(kRest));
}

TEST_F(XpCmdButtonTest, LeavingFastWithNoMoveInsideStillRestoresTheRestingFace)
{
    EXPECT_EQ(m_button->HoverTimer().interval(), 1);
    EXPECT_FALSE(m_button->HoverTimer().isActive()) << "the poll must not run before the pointer came";
    QSignalSpy outs(m_button, &xpcmdbutton::MouseOut);
    m_pointer->MoveTo({10, 5});
    Mouse::Move(m_button, {10, 5});
    ASSERT_TRUE(Shows(kHover));
    // Gone in one jump: no further move reaches the button.
    m_pointer->MoveTo({-40, 300});
    ASSERT_TRUE(QTest::qWaitFor([&] { return outs.count() > 0; }, 1000));
    EXPECT_TRUE(Shows(kRest));
    EXPECT_FALSE(m_button->HoverTimer().isActive());
    QTest::qWait(10);
    EXPECT_EQ(outs.count(), 1) << "MouseOut once, then the poll is over";
}

TEST_F(XpCmdButtonTest, PressDragOutAndReleaseOutsideGivesMouseOutWhileHeldAndNoClick)
{
    MouseSpy downs(m_button, &xpcmdbutton::MouseDown);
    MouseSpy moves(m_button, &xpcmdbutton::MouseMove);
    QSignalSpy outs(m_button, &xpcmdbutton::MouseOut);
    MouseSpy ups(m_button, &xpcmdbutton::MouseUp);
    QSignalSpy clicks(m_button, &xpcmdbutton::Click);
    m_pointer->MoveTo({10, 5});
    Mouse::Move(m_button, {10, 5});
    Mouse::Press(m_button, {10, 5}, Qt::LeftButton);
    ASSERT_EQ(downs.count(), 1);
    EXPECT_TRUE(Shows(kPressed));
    // Dragged out: the held button keeps sending moves here, none inside.
    m_pointer->MoveTo({W() + 30, 5});
    Mouse::Move(m_button, {W() + 30.0, 5}, Qt::LeftButton);
    EXPECT_EQ(moves.count(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return outs.count() > 0; }, 1000));
    EXPECT_TRUE(Shows(kRest)) << "the resting face although the button is still down";
    Mouse::Release(m_button, {W() + 30.0, 5}, Qt::LeftButton);
    EXPECT_EQ(ups.count(), 1);
    EXPECT_EQ(clicks.count(), 0);
    EXPECT_TRUE(Shows(kRest));
}

struct ButtonsRow
{
    const char *name;
    Qt::MouseButtons held;
    short mask;
    int face;
};

class XpCmdButtonHeld : public XpCmdButtonTest, public ::testing::WithParamInterface<ButtonsRow>
{
};

TEST_P(XpCmdButtonHeld, MoveShowsPressedOnlyForThePrimaryButtonAlone)
{
    const ButtonsRow row = GetParam();
    MouseSpy moves(m_button, &xpcmdbutton::MouseMove);
    Mouse::Move(m_button, {7, 4}, row.held, Qt::ShiftModifier | Qt::AltModifier);
    ASSERT_EQ(moves.count(), 1);
    EXPECT_EQ(std::get<0>(moves.at(0)), row.mask);
    EXPECT_EQ(std::get<1>(moves.at(0)), 5);
    EXPECT_FLOAT_EQ(std::get<2>(moves.at(0)), 7.0f);
    EXPECT_FLOAT_EQ(std::get<3>(moves.at(0)), 4.0f);
    EXPECT_TRUE(Shows(row.face));
}

INSTANTIATE_TEST_SUITE_P(Buttons, XpCmdButtonHeld,
                         ::testing::Values(ButtonsRow{"None", Qt::NoButton, 0, kHover},
                                           ButtonsRow{"Primary", Qt::LeftButton, 1, kPressed},
                                           ButtonsRow{"Secondary", Qt::RightButton, 2, kHover},
                                           ButtonsRow{"PrimaryAndSecondary", Qt::LeftButton | Qt::RightButton, 3, kHover},
                                           ButtonsRow{"Middle", Qt::MiddleButton, 4, kHover}),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(XpCmdButtonTest, AnyButtonPressedShowsThePressedFaceButOnlyThePrimaryClicks)
{
    MouseSpy downs(m_button, &xpcmdbutton::MouseDown);
    QSignalSpy clicks(m_button, &xpcmdbutton::Click);
    for (Qt::MouseButton b : {Qt::RightButton, Qt::MiddleButton}) {
        Mouse::Press(m_button, {4, 4}, b);
        EXPECT_TRUE(Shows(kPressed));
        Mouse::Release(m_button, {4, 4}, b);
        EXPECT_TRUE(Shows(kRest));
    }
    ASSERT_EQ(downs.count(), 2);
    EXPECT_EQ(std::get<0>(downs.at(0)), 2);
    EXPECT_EQ(std::get<0>(downs.at(1)), 4);
    EXPECT_EQ(clicks.count(), 0);
    Mouse::Click(m_button, {4, 4});
    EXPECT_EQ(clicks.count(), 1);
}

TEST_F(XpCmdButtonTest, ReleaseOverTheButtonShowsRestUntilTheNextMove)
{
    MouseSpy ups(m_button, &xpcmdbutton::MouseUp);
    bool pressedDuringMouseUp = false;
    // Events come first, then the face.
    QObject::connect(m_button, &xpcmdbutton::MouseUp, m_button, [&] { pressedDuringMouseUp = Shows(kPressed); });
    Mouse::Press(m_button, {4, 4}, Qt::LeftButton);
    Mouse::Release(m_button, {4, 4}, Qt::LeftButton);
    EXPECT_TRUE(pressedDuringMouseUp);
    EXPECT_TRUE(Shows(kRest));
    Mouse::Move(m_button, {5, 4});
    EXPECT_TRUE(Shows(kHover));
}

TEST_F(XpCmdButtonTest, HandlerThatRewritesButtonChangesTheFaceChosenAfterMouseMove)
{
    QObject::connect(m_button, &xpcmdbutton::MouseMove, m_button,
            [](short &button, short &, float &, float &) { button = 1; });
    Mouse::Move(m_button, {4, 4});
    EXPECT_TRUE(Shows(kPressed));
}

// --- State and Enabled -------------------------------------------------------------------

TEST_F(XpCmdButtonTest, StateChoosesTheRestCellAndOtherValuesKeepIt)
{
    m_button->SetState(7);
    EXPECT_TRUE(Shows(kRest));
    m_button->SetState(1);
    EXPECT_TRUE(Shows(kEmphasised));
    m_button->SetState(2);
    EXPECT_EQ(m_button->State(), 2);
    EXPECT_TRUE(Shows(kEmphasised));
    // Hover and leave come back to the emphasised face too.
    Mouse::Move(m_button, {4, 4});
    m_pointer->MoveTo({-5, -5});
    QSignalSpy outs(m_button, &xpcmdbutton::MouseOut);
    ASSERT_TRUE(QTest::qWaitFor([&] { return outs.count() > 0; }, 1000));
    EXPECT_TRUE(Shows(kEmphasised));
    m_button->SetState(0);
    EXPECT_TRUE(Shows(kRest));
}

TEST_F(XpCmdButtonTest, DisabledShowsGreyFaceAndCaptionWhateverStateAndIgnoresInput)
{
    m_button->SetState(1);
    m_button->SetEnabled(false);
    EXPECT_FALSE(m_button->Enabled());
    EXPECT_TRUE(Shows(kDisabled));
    EXPECT_EQ(Label()->palette().color(QPalette::Disabled, QPalette::WindowText), QColor(161, 161, 146));

    MouseSpy downs(m_button, &xpcmdbutton::MouseDown);
    MouseSpy moves(m_button, &xpcmdbutton::MouseMove);
    MouseSpy ups(m_button, &xpcmdbutton::MouseUp);
    QSignalSpy clicks(m_button, &xpcmdbutton::Click);
    KeySpy keys(m_button, &xpcmdbutton::KeyDown);
    Mouse::Move(m_button, {4, 4});
    Mouse::Click(m_button, {4, 4});
    Mouse::Move(Label(), {1, 1});
    Mouse::Click(Label(), {1, 1});
    QTest::keyClick(m_button, Qt::Key_A);
    EXPECT_EQ(downs.count() + moves.count() + ups.count() + clicks.count() + keys.count(), 0);
    EXPECT_FALSE(m_button->HoverTimer().isActive());
    EXPECT_TRUE(Shows(kDisabled));

    m_button->SetEnabled(true);
    EXPECT_TRUE(Shows(kEmphasised));
    EXPECT_EQ(Label()->palette().color(QPalette::Active, QPalette::WindowText), QColor(0, 0, 0));
}

TEST_F(XpCmdButtonTest, PlainSetEnabledEndsInTheSameLookAsTheProperty)
{
    m_button->setEnabled(false);
    EXPECT_FALSE(m_button->Enabled());
    EXPECT_TRUE(Shows(kDisabled));
    EXPECT_EQ(Label()->palette().color(QPalette::Disabled, QPalette::WindowText), QColor(161, 161, 146));
    m_button->setEnabled(true);
    EXPECT_TRUE(Shows(kRest));
    EXPECT_EQ(Label()->palette().color(QPalette::Active, QPalette::WindowText), QColor(0, 0, 0));
}

TEST_F(XpCmdButtonTest, DisabledWhileHoveredStillEndsWithMouseOutAndTheDisabledFace)
{
    QSignalSpy outs(m_button, &xpcmdbutton::MouseOut);
    m_pointer->MoveTo({4, 4});
    Mouse::Move(m_button, {4, 4});
    m_button->SetEnabled(false);
    ASSERT_TRUE(m_button->HoverTimer().isActive());
    m_pointer->MoveTo({-10, 4});
    ASSERT_TRUE(QTest::qWaitFor([&] { return outs.count() > 0; }, 1000));
    EXPECT_TRUE(Shows(kDisabled));
}

// --- Clicks ------------------------------------------------------------------------------

TEST_F(XpCmdButtonTest, DoubleClickGivesOneClickAndTheSecondPressShowsNothing)
{
    MouseSpy downs(m_button, &xpcmdbutton::MouseDown);
    MouseSpy ups(m_button, &xpcmdbutton::MouseUp);
    QSignalSpy clicks(m_button, &xpcmdbutton::Click);
    bool restAfterSecondPress = false;
    Mouse::DoubleClick(m_button, {6, 6}, [&] { restAfterSecondPress = Shows(kRest); });
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(downs.count(), 1);
    EXPECT_EQ(ups.count(), 2);
    EXPECT_TRUE(restAfterSecondPress);
    // A later click, well apart in time, is a click again.
    Mouse::Click(m_button, {6, 6});
    EXPECT_EQ(clicks.count(), 2);
}

TEST_F(XpCmdButtonTest, QtTestClickHelperClicksEveryTime)
{
    // Hosts' tests drive buttons this way; its time stamps must not read as double clicks.
    QSignalSpy clicks(m_button, &xpcmdbutton::Click);
    QTest::mouseClick(m_button, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseClick(m_button, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(clicks.count(), 2);
}

TEST_F(XpCmdButtonTest, SpaceAndEnterRaiseKeyEventsButNeverClick)
{
    m_button->setFocus();
    KeySpy downs(m_button, &xpcmdbutton::KeyDown);
    AsciiSpy presses(m_button, &xpcmdbutton::KeyPress);
    KeySpy ups(m_button, &xpcmdbutton::KeyUp);
    QSignalSpy clicks(m_button, &xpcmdbutton::Click);
    QTest::keyClick(m_button, Qt::Key_Space);
    QTest::keyClick(m_button, Qt::Key_Return);
    QTest::keyClick(m_button, Qt::Key_A, Qt::ShiftModifier | Qt::ControlModifier);
    EXPECT_EQ(clicks.count(), 0);
    // The modifier keys come down first, as keys of their own: Shift, Ctrl, then A.
    ASSERT_EQ(downs.count(), 5);
    EXPECT_EQ(std::get<0>(downs.at(0)), 32);
    EXPECT_EQ(std::get<0>(downs.at(1)), 13);
    EXPECT_EQ(std::get<0>(downs.at(2)), 16);
    EXPECT_EQ(std::get<0>(downs.at(3)), 17);
    EXPECT_EQ(std::get<0>(downs.at(4)), 65);
    EXPECT_EQ(std::get<1>(downs.at(4)), 3);
    ASSERT_EQ(ups.count(), 5);
    EXPECT_EQ(std::get<0>(ups.at(1)), 13);
    ASSERT_GE(presses.count(), 2);
    EXPECT_EQ(std::get<0>(presses.at(0)), 32);
    EXPECT_EQ(std::get<0>(presses.at(1)), 13);
    EXPECT_TRUE(Shows(kRest)) << "keys and focus change no face";
}

TEST_F(XpCmdButtonTest, AutoRepeatRepeatsKeyDownButKeyUpComesOnce)
{
    m_button->setFocus();
    KeySpy downs(m_button, &xpcmdbutton::KeyDown);
    KeySpy ups(m_button, &xpcmdbutton::KeyUp);
    QKeyEvent first(QEvent::KeyPress, Qt::Key_B, Qt::NoModifier, QStringLiteral("b"));
    QKeyEvent repeatUp(QEvent::KeyRelease, Qt::Key_B, Qt::NoModifier, QStringLiteral("b"), true);
    QKeyEvent repeatDown(QEvent::KeyPress, Qt::Key_B, Qt::NoModifier, QStringLiteral("b"), true);
    QKeyEvent last(QEvent::KeyRelease, Qt::Key_B, Qt::NoModifier, QStringLiteral("b"));
    for (QKeyEvent *e : {&first, &repeatUp, &repeatDown, &last})
        QCoreApplication::sendEvent(m_button, e);
    EXPECT_EQ(downs.count(), 2);
    EXPECT_EQ(ups.count(), 1);
}

TEST_F(XpCmdButtonTest, TypedChineseCharacterArrivesAsItsGbkCode)
{
    m_button->setFocus();
    AsciiSpy presses(m_button, &xpcmdbutton::KeyPress);
    QKeyEvent e(QEvent::KeyPress, 0, Qt::NoModifier, QStringLiteral("中"));
    QCoreApplication::sendEvent(m_button, &e);
    ASSERT_EQ(presses.count(), 1);
    EXPECT_EQ(std::get<0>(presses.at(0)), static_cast<short>(0xD6D0));
}

// --- Caption -----------------------------------------------------------------------------

TEST_F(XpCmdButtonTest, CaptionIsRecentredAfterCaptionAndFontChanges)
{
    auto expectCentred = [&](const char *when) {
        const QLabel *label = Label();
        EXPECT_EQ(label->size(), label->sizeHint()) << when << ": caption not auto-sized";
        const QPointF exact((W() - label->width()) / 2.0, (H() - label->height()) / 2.0);
        EXPECT_EQ(m_button->CaptionPosition(), exact) << when;
        EXPECT_LE(std::abs(label->x() - exact.x()), 0.5) << when;
        EXPECT_LE(std::abs(label->y() - exact.y()), 0.5) << when;
    };
    m_button->resize(113, 17);
    expectCentred("resize");
    const int narrow = Label()->width();
    m_button->SetCaption(QStringLiteral("高级选项 ↓"));
    EXPECT_GT(Label()->width(), narrow);
    expectCentred("caption");
    const int normalHeight = Label()->height();
    m_button->SetFont(QFont(QStringLiteral("宋体"), 14));
    EXPECT_GT(Label()->height(), normalHeight);
    expectCentred("font");
    EXPECT_EQ(Label()->font(), m_button->Font());
    // The host may also set the font the plain Qt way.
    m_button->setFont(QFont(QStringLiteral("宋体"), 6));
    EXPECT_EQ(m_button->Font().pointSize(), 6);
    EXPECT_LT(Label()->height(), normalHeight);
    expectCentred("setFont");
}

TEST_F(XpCmdButtonTest, MoveOverCaptionCarriesTheCaptionCornerNotThePointer)
{
    MouseSpy moves(m_button, &xpcmdbutton::MouseMove);
    Mouse::Move(Label(), {3, 2}, Qt::RightButton);
    ASSERT_EQ(moves.count(), 1);
    EXPECT_EQ(std::get<0>(moves.at(0)), 2);
    EXPECT_FLOAT_EQ(std::get<2>(moves.at(0)), static_cast<float>(m_button->CaptionPosition().x()));
    EXPECT_FLOAT_EQ(std::get<3>(moves.at(0)), static_cast<float>(m_button->CaptionPosition().y()));
    EXPECT_TRUE(m_button->HoverTimer().isActive());
    EXPECT_TRUE(Shows(kHover));
}

TEST_F(XpCmdButtonTest, PressAndReleaseOnCaptionAreTheButtonsWithCaptionRelativeCoordinates)
{
    MouseSpy downs(m_button, &xpcmdbutton::MouseDown);
    MouseSpy ups(m_button, &xpcmdbutton::MouseUp);
    QSignalSpy clicks(m_button, &xpcmdbutton::Click);
    Mouse::Press(Label(), {2, 3}, Qt::LeftButton);
    EXPECT_TRUE(Shows(kPressed));
    Mouse::Release(Label(), {2, 3}, Qt::LeftButton);
    ASSERT_EQ(downs.count(), 1);
    EXPECT_FLOAT_EQ(std::get<2>(downs.at(0)), 2.0f);
    EXPECT_FLOAT_EQ(std::get<3>(downs.at(0)), 3.0f);
    ASSERT_EQ(ups.count(), 1);
    EXPECT_FLOAT_EQ(std::get<2>(ups.at(0)), 2.0f);
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_TRUE(Shows(kRest));
    Mouse::DoubleClick(Label(), {2, 3});
    EXPECT_EQ(clicks.count(), 2);
    EXPECT_EQ(downs.count(), 2);
}

// --- Stored properties -------------------------------------------------------------------

TEST_F(XpCmdButtonTest, SavingStoresOnlyWhatDiffersInTheFixedOrder)
{
    const QFont ambient(QStringLiteral("Arial"), 10);
    xpcmdbutton fresh;
    fresh.InitProperties(QStringLiteral("command3"), ambient);
    EXPECT_EQ(fresh.Caption(), QStringLiteral("command3"));
    EXPECT_EQ(fresh.Font(), ambient);
    PropertyBag bag;
    fresh.WriteProperties(bag, QStringLiteral("command3"), ambient);
    EXPECT_EQ(bag.Count(), 0);

    fresh.SetFont(QFont(QStringLiteral("宋体"), 9));
    fresh.SetCaption(QStringLiteral("开始压缩"));
    fresh.SetEnabled(false);
    fresh.SetState(1);
    fresh.WriteProperties(bag, QStringLiteral("command3"), ambient);
    EXPECT_EQ(bag.Names(), QStringList({"State", "Enabled", "Caption", "Font"}));
    EXPECT_EQ(bag.ReadProperty(QStringLiteral("enabled"), true).toBool(), false);

    xpcmdbutton loaded;
    QSignalSpy changes(&loaded, &xpcmdbutton::PropertyChanged);
    loaded.ReadProperties(bag, QStringLiteral("command3"), ambient);
    EXPECT_EQ(loaded.State(), 1);
    EXPECT_FALSE(loaded.Enabled());
    EXPECT_EQ(loaded.Caption(), QStringLiteral("开始压缩"));
    EXPECT_EQ(loaded.Font(), QFont(QStringLiteral("宋体"), 9));
    QStringList order;
    for (const auto &args : changes)
        order << args.at(0).toString();
    EXPECT_EQ(order, QStringList({"Enabled", "Caption", "Font"})) << "State is loaded without its setter";
}

TEST_F(XpCmdButtonTest, LoadingTheWindowDesignTakesCaptionAndFontAndDefaultsTheRest)
{
    PropertyBag design;
    design.WriteProperty(QStringLiteral("caption"), QStringLiteral("结  束"), QString());
    QFont song(QStringLiteral("宋体"), 9);
    song.setWeight(QFont::Normal);
    design.WriteProperty(QStringLiteral("FONT"), song, QFont());
    xpcmdbutton loaded(m_host.get());
    loaded.setObjectName(QStringLiteral("command4"));
    loaded.ReadProperties(design);
    EXPECT_EQ(loaded.Caption(), QStringLiteral("结  束"));
    EXPECT_EQ(loaded.Font().family(), QStringLiteral("宋体"));
    EXPECT_EQ(loaded.Font().pointSize(), 9);
    EXPECT_TRUE(loaded.Enabled());
    EXPECT_EQ(loaded.State(), 0);

    xpcmdbutton unnamed(m_host.get());
    unnamed.setObjectName(QStringLiteral("xpcmdbutton3"));
    unnamed.ReadProperties(PropertyBag());
    EXPECT_EQ(unnamed.Caption(), QStringLiteral("xpcmdbutton3"));
    EXPECT_EQ(unnamed.Font(), m_host->font());
}

} // namespace
} // namespace vantel_xp::test
