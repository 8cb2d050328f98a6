#include "WidgetTestSupport.h"

#include "widgets/HoverPoll.h"

#include <gtest/gtest.h>

#include <QMetaObject>
#include <QWidget>

namespace vantel_xp {
namespace {

// Where the pointer is against a 20 x 10 button, and whether the poll calls that leaving.
struct PointCase
{
    QPoint at;
    bool left;
};

TEST(HoverPoll, StopsOnlyOnceThePointerIsOutsideEdgesCountingAsInside)
{
    QWidget button;
    button.resize(20, 10);
    int leaves = 0;
    HoverPoll poll(button, 1, [&] { ++leaves; });
    auto pointer = std::make_shared<test::FakePointer>();
    poll.SetPointerSource(pointer);
    for (const PointCase &c : {PointCase{{0, 0}, false}, PointCase{{20, 10}, false}, PointCase{{10, 5}, false},
                               PointCase{{-1, 5}, true}, PointCase{{10, -1}, true}, PointCase{{21, 5}, true},
                               PointCase{{10, 11}, true}}) {
        pointer->MoveTo(c.at);
        leaves = 0;
        poll.Timer().stop();
        poll.StartIfStopped();
        ASSERT_TRUE(poll.Timer().isActive());
        // Ticks are counted, not timed: up to three polls see the same place, as a timer
        // delivers them, only while it runs.
        for (int tick = 0; tick < 3 && poll.Timer().isActive(); ++tick)
            ASSERT_TRUE(QMetaObject::invokeMethod(&poll.Timer(), "timeout", Qt::DirectConnection));
        EXPECT_EQ(leaves, c.left ? 1 : 0) << c.at.x() << "," << c.at.y();
        EXPECT_EQ(poll.Timer().isActive(), !c.left) << c.at.x() << "," << c.at.y();
    }
}

TEST(HoverPoll, NullPointerSourceFallsBackToTheRealCursor)
{
    QWidget button;
    button.resize(20, 10);
    HoverPoll poll(button, 50, [] {});
    EXPECT_EQ(poll.Timer().interval(), 50);
    poll.SetPointerSource(nullptr);
    poll.StartIfStopped();
    // A poll through a null source would crash here.
    ASSERT_TRUE(QMetaObject::invokeMethod(&poll.Timer(), "timeout", Qt::DirectConnection));
}

} // namespace
} // namespace vantel_xp
