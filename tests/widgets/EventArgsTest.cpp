#include "widgets/EventArgs.h"

#include <gtest/gtest.h>

namespace vantel_xp {
namespace {

TEST(EventArgsTest, MasksSumTheirBits)
{
    EXPECT_EQ(EventArgs::ButtonMask(Qt::LeftButton | Qt::RightButton | Qt::MiddleButton), 7);
    EXPECT_EQ(EventArgs::ButtonMask(Qt::BackButton), 0);
    EXPECT_EQ(EventArgs::ShiftMask(Qt::ShiftModifier | Qt::AltModifier), 5);
    EXPECT_EQ(EventArgs::ShiftMask(Qt::ControlModifier | Qt::KeypadModifier), 2);
}

struct KeyRow
{
    int key;
    Qt::KeyboardModifiers mods;
    short code;
};

class EventArgsKey : public ::testing::TestWithParam<KeyRow>
{
};

TEST_P(EventArgsKey, QtKeysBecomeVirtualKeyCodes)
{
    EXPECT_EQ(EventArgs::KeyCode(GetParam().key, GetParam().mods, 0), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(Keys, EventArgsKey,
                         ::testing::Values(KeyRow{Qt::Key_Z, Qt::ShiftModifier, 0x5A},
                                           KeyRow{Qt::Key_7, Qt::NoModifier, 0x37},
                                           KeyRow{Qt::Key_7, Qt::KeypadModifier, 0x67},
                                           KeyRow{Qt::Key_F12, Qt::NoModifier, 0x7B},
                                           KeyRow{Qt::Key_Minus, Qt::KeypadModifier, 0x6D},
                                           KeyRow{Qt::Key_Minus, Qt::NoModifier, 0xBD},
                                           KeyRow{Qt::Key_VolumeUp, Qt::NoModifier, 0}));

TEST(EventArgsTest, TypedCharactersAreAsciiOrTheirTwoGbkBytes)
{
    EXPECT_EQ(EventArgs::KeyAscii(QChar(u'a')), 97);
    EXPECT_EQ(EventArgs::KeyAscii(QChar(u'\r')), 13);
    EXPECT_EQ(EventArgs::KeyAscii(QChar(u'浏')), static_cast<short>(0xE4AF));
    EXPECT_EQ(EventArgs::KeyAscii(QChar(0x0E3F)), 0) << "a character GBK lacks";
}

TEST(EventArgsTest, InsideIncludesAllFourEdges)
{
    EXPECT_TRUE(EventArgs::Inside(0, 0, 21, 21));
    EXPECT_TRUE(EventArgs::Inside(21, 21, 21, 21));
    EXPECT_FALSE(EventArgs::Inside(21.5, 0, 21, 21));
    EXPECT_FALSE(EventArgs::Inside(0, -0.5, 21, 21));
}

} // namespace
} // namespace vantel_xp
