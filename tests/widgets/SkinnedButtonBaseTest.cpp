#include "WidgetTestSupport.h"

#include "widgets/xpcmdbutton.h"
#include "widgets/xphelp.h"
#include "widgets/xptopbuttons.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

#include <memory>
#include <vector>

namespace vantel_xp::test {
namespace {

// One press or release over the button, with what is held once it has happened.
struct Step
{
    bool press;
    Qt::MouseButton button;
    Qt::MouseButtons heldAfter;
};

struct ChordCase
{
    const char *name;
    std::vector<Step> steps;
    int clicks;
};

template <typename Button>
class SkinnedButtonClicks : public ::testing::Test
{
};

using Buttons = ::testing::Types<xpcmdbutton, xptopbuttons, xphelp>;
TYPED_TEST_SUITE(SkinnedButtonClicks, Buttons);

// Only a release of the primary button clicks, and only after a primary press that no other
// press followed; another button's release in between leaves that press standing.
TYPED_TEST(SkinnedButtonClicks, OtherButtonsDuringAPrimaryPressDecideWhetherItClicks)
{
    constexpr Qt::MouseButton L = Qt::LeftButton, R = Qt::RightButton;
    const ChordCase cases[] = {
        {"secondary alone", {{true, R, R}, {false, R, {}}}, 0},
        {"secondary pressed first, let go first", {{true, R, R}, {true, L, L | R}, {false, R, L}, {false, L, {}}}, 1},
        {"secondary pressed first, let go last", {{true, R, R}, {true, L, L | R}, {false, L, R}, {false, R, {}}}, 1},
        {"secondary pressed during the primary", {{true, L, L}, {true, R, L | R}, {false, R, L}, {false, L, {}}}, 0},
    };
    for (const ChordCase &c : cases) {
        QWidget host;
        auto *button = new TypeParam(&host);
        button->SetPointerSource(std::make_shared<FakePointer>(QPoint(5, 5)));
        button->setGeometry(10, 10, 21, 21);
        host.show();
        QSignalSpy clicks(button, &TypeParam::Click);
        for (const Step &s : c.steps) {
            if (s.press)
                Mouse::Press(button, {5, 5}, s.button, s.heldAfter);
            else
                Mouse::Release(button, {5, 5}, s.button, s.heldAfter);
        }
        EXPECT_EQ(clicks.count(), c.clicks) << c.name;
    }
}

} // namespace
} // namespace vantel_xp::test
