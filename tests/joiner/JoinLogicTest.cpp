#include "common/CommandLine.h"
#include "joiner/JoinCommand.h"
#include "joiner/JoinList.h"
#include "joiner/JoinNaming.h"

#include <gtest/gtest.h>

#include <QStringList>

using corva::JoinNaming;

namespace {

struct NameCase
{
    const char *path;
    const char *typeWord;
    const char *output; // nullptr: no name
};

// Rows are named by the test's suffix; this keeps the listing free of raw bytes.
void PrintTo(const NameCase &, std::ostream *os)
{
    *os << "row";
}

class JoinNamingRule : public ::testing::TestWithParam<NameCase>
{
};

TEST_P(JoinNamingRule, TypeWordAndOutputName)
{
    const QString path = QString::fromUtf8(GetParam().path);
    const QString typeWord = JoinNaming::TypeWord(path);
    EXPECT_EQ(typeWord, QString::fromUtf8(GetParam().typeWord));
    const auto name = JoinNaming::OutputName(path, typeWord);
    if (GetParam().output)
        EXPECT_EQ(name.value_or(QStringLiteral("<none>")), QString::fromUtf8(GetParam().output));
    else
        EXPECT_FALSE(name.has_value()) << name->toStdString();
}

INSTANTIATE_TEST_SUITE_P(Paths, JoinNamingRule, ::testing::Values(
    NameCase{"D:\\v\\a.rmvb", "rmvb", "D:\\v\\a_合并.rmvb"},
    NameCase{"D:\\v\\a.rm", "rm", "D:\\v\\a_合并.rm"},
    // The text may occur in a folder name.
    NameCase{"D:\\rmvb\\a.rm", "rmvb", "D:\\rmvb\\a_合并.rmvb"},
    // Case-sensitive: upper case does not count.
    NameCase{"D:\\v\\A.RMVB", "rm", "D:\\v\\A_合并.rm"},
    // Only the last dot counts, also when it stands in a folder name.
    NameCase{"D:\\my.films\\a.b.rm", "rm", "D:\\my.films\\a.b_合并.rm"},
    NameCase{"D:\\my.films\\clip", "rm", "D:\\my_合并.rm"},
    NameCase{"/home/u/a.rmvb.bak", "rmvb", "/home/u/a.rmvb_合并.rmvb"},
    NameCase{"D:\\v\\clip", "rm", nullptr},
    NameCase{"", "rm", nullptr}));

TEST(JoinCommand, KeepsTheToolsExpectedShapeExactly)
{
    const corva::JoinRequest request{QStringLiteral("C:\\tools\\jj"),
                                     {QStringLiteral("D:\\a.rm"), QStringLiteral("D:\\b.rm")},
                                     QStringLiteral("D:\\a_合并.rm"),
                                     QStringLiteral("T"),
                                     QString(),
                                     QStringLiteral("墨川压缩合并 2004")};
    EXPECT_EQ(corva::BuildJoinCommandLine(request),
              QStringLiteral("C:\\tools\\jj -i \"D:\\a.rm\" -i \"D:\\b.rm\" -o \"D:\\a_合并.rm\" "
                             "-t \"T\" -a \"\" -c \"墨川压缩合并 2004\" "));
}

// Whatever the user typed must reach the tool as one argument each, unchanged: a quote or a
// trailing backslash in a value would otherwise run into the next switch.
TEST(JoinCommand, HostileValuesReachTheToolUnchanged)
{
    const corva::JoinRequest request{QStringLiteral("/opt/my tools/jj"),
                                     {QStringLiteral("D:\\my films\\a.rm"), QStringLiteral("D:\\a.rm"),
                                      QStringLiteral("D:\\a.rm")},
                                     QStringLiteral("E:\\out dir\\"),
                                     QStringLiteral("say \"hi\""),
                                     QStringLiteral("back\\slash\\"),
                                     QString()};
    const QString line = corva::BuildJoinCommandLine(request);
    EXPECT_TRUE(line.endsWith(u' '));
    EXPECT_TRUE(line.startsWith(QStringLiteral("\"/opt/my tools/jj\" ")));
    const QStringList expected{QStringLiteral("/opt/my tools/jj"),
                               QStringLiteral("-i"), QStringLiteral("D:\\my films\\a.rm"),
                               QStringLiteral("-i"), QStringLiteral("D:\\a.rm"),
                               QStringLiteral("-i"), QStringLiteral("D:\\a.rm"),
                               QStringLiteral("-o"), QStringLiteral("E:\\out dir\\"),
                               QStringLiteral("-t"), QStringLiteral("say \"hi\""),
                               QStringLiteral("-a"), QStringLiteral("back\\slash\\"),
                               QStringLiteral("-c"), QString()};
    EXPECT_EQ(corva::CommandLine::Split(line), expected);
}

TEST(JoinList, RemoveKeepsTheOrderOfTheOthers)
{
    corva::JoinList list;
    for (const char *p : {"a", "b", "c", "b"})
        list.Append(QString::fromLatin1(p));
    EXPECT_TRUE(list.RemoveAt(1));
    EXPECT_EQ(list.Entries(), (QStringList{"a", "c", "b"}));
    EXPECT_FALSE(list.RemoveAt(-1));
    EXPECT_FALSE(list.RemoveAt(3));
    EXPECT_EQ(list.Count(), 3);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}

TEST(JoinList, TwoEntriesAreEnoughToJoin)
{
    corva::JoinList list;
    EXPECT_FALSE(list.HasEnoughToJoin());
    list.Append(QStringLiteral("a"));
    EXPECT_FALSE(list.HasEnoughToJoin());
    list.Append(QStringLiteral("a"));
    EXPECT_TRUE(list.HasEnoughToJoin());
}

} // namespace
