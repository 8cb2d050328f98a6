#include "widgets/PropertyBag.h"

#include <gtest/gtest.h>

#include <QFont>

namespace vantel_xp {
namespace {

TEST(PropertyBagTest, NamesMatchWithoutCaseAndKeepTheirFirstSpellingAndPlace)
{
    PropertyBag bag;
    bag.WriteProperty(QStringLiteral("Caption"), QStringLiteral("a"), QString());
    bag.WriteProperty(QStringLiteral("Font"), 1, 0);
    bag.WriteProperty(QStringLiteral("CAPTION"), QStringLiteral("b"), QString());
    EXPECT_EQ(bag.Names(), QStringList({"Caption", "Font"}));
    EXPECT_EQ(bag.ReadProperty(QStringLiteral("caption"), QString()).toString(), QStringLiteral("b"));
    EXPECT_TRUE(bag.Contains(QStringLiteral("fOnT")));
}

TEST(PropertyBagTest, ValueEqualToItsDefaultIsNotKeptAndDropsAnEarlierOne)
{
    PropertyBag bag;
    bag.WriteProperty(QStringLiteral("State"), 0, 0);
    EXPECT_EQ(bag.Count(), 0);
    bag.WriteProperty(QStringLiteral("State"), 1, 0);
    bag.WriteProperty(QStringLiteral("state"), 0, 0);
    EXPECT_FALSE(bag.Contains(QStringLiteral("State")));
    EXPECT_EQ(bag.ReadProperty(QStringLiteral("State"), 42).toInt(), 42);
}

TEST(PropertyBagTest, FontsCompareByValueAgainstTheirDefault)
{
    PropertyBag bag;
    const QFont ambient(QStringLiteral("Arial"), 9);
    bag.WriteProperty(QStringLiteral("Font"), QFont(QStringLiteral("Arial"), 9), ambient);
    EXPECT_EQ(bag.Count(), 0);
    bag.WriteProperty(QStringLiteral("Font"), QFont(QStringLiteral("Arial"), 10), ambient);
    EXPECT_EQ(bag.ReadProperty(QStringLiteral("font"), ambient).value<QFont>().pointSize(), 10);
}

} // namespace
} // namespace vantel_xp
