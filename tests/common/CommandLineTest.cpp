#include "common/CommandLine.h"

#include <gtest/gtest.h>

using corva::CommandLine;

namespace {

// Ordinary values must come out exactly as a plain quote-wrap, so lines stay byte-identical.
TEST(CommandLineQuote, OrdinaryValuesAreWrappedUnchanged)
{
    EXPECT_EQ(CommandLine::QuoteValue(QStringLiteral("E:\\film.avi")), QStringLiteral("\"E:\\film.avi\""));
    EXPECT_EQ(CommandLine::QuoteValue(QString()), QStringLiteral("\"\""));
    EXPECT_EQ(CommandLine::QuoteValue(QStringLiteral("墨川压缩2005")), QStringLiteral("\"墨川压缩2005\""));
    EXPECT_EQ(CommandLine::QuoteValue(QStringLiteral("a b\\c")), QStringLiteral("\"a b\\c\""));
}

// A quote or trailing backslash inside a value would otherwise end the value early.
TEST(CommandLineQuote, QuotesAndTrailingBackslashesAreEscaped)
{
    EXPECT_EQ(CommandLine::QuoteValue(QStringLiteral("a\"b")), QStringLiteral("\"a\\\"b\""));
    EXPECT_EQ(CommandLine::QuoteValue(QStringLiteral("E:\\")), QStringLiteral("\"E:\\\\\""));
    EXPECT_EQ(CommandLine::QuoteValue(QStringLiteral("x\\\"y")), QStringLiteral("\"x\\\\\\\"y\""));
}

TEST(CommandLineQuote, PathsAreQuotedOnlyWithBlanks)
{
    EXPECT_EQ(CommandLine::QuotePathIfNeeded(QStringLiteral("D:\\Enc\\pp")), QStringLiteral("D:\\Enc\\pp"));
    EXPECT_EQ(CommandLine::QuotePathIfNeeded(QStringLiteral("/opt/my app/pp")), QStringLiteral("\"/opt/my app/pp\""));
}

struct SplitCase
{
    const char *line;
    QStringList expected;
};

class CommandLineSplit : public ::testing::TestWithParam<SplitCase>
{
};

TEST_P(CommandLineSplit, FollowsTheRuntimeConvention)
{
    EXPECT_EQ(CommandLine::Split(QString::fromUtf8(GetParam().line)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Rules, CommandLineSplit, ::testing::Values(
    SplitCase{"a b  c", {"a", "b", "c"}},
    SplitCase{"  lead\ttab  ", {"lead", "tab"}},
    SplitCase{"-t \"\" -a \"\"", {"-t", "", "-a", ""}},
    SplitCase{"\"a b\" c", {"a b", "c"}},
    SplitCase{"a\\\\b", {"a\\\\b"}},             // backslashes not before a quote are literal
    SplitCase{"\"a\\\\\" b", {"a\\", "b"}},       // 2n backslashes + quote: n, and the quote ends
    SplitCase{"\"a\\\"b\"", {"a\"b"}},            // 2n+1: n and a literal quote
    SplitCase{"\"a\"\"b\"", {"a\"b"}},            // "" inside quotes
    SplitCase{"x\"y z\"w", {"xy zw"}},
    SplitCase{"", {}}));

// Whatever goes in comes back out: the property the tools rely on.
TEST(CommandLineRoundTrip, HostileValuesSurviveQuoteAndSplit)
{
    const QStringList hostile = {
        QStringLiteral("a\" -o \"x"), QStringLiteral("trailing\\"), QStringLiteral("two\\\\"),
        QStringLiteral("  blanks  "), QStringLiteral("tab\there"), QStringLiteral("中文 标题"),
        QString(), QStringLiteral("-dv"), QStringLiteral("\\\"\\"), QStringLiteral("\""),
        QStringLiteral("\"\""), QStringLiteral("C:\\a b\\"), QStringLiteral("new\nline")};
    QString line = QStringLiteral("pp");
    QStringList expected = {QStringLiteral("pp")};
    for (const QString &v : hostile) {
        line += QStringLiteral(" -t ") + CommandLine::QuoteValue(v);
        expected << QStringLiteral("-t") << v;
    }
    EXPECT_EQ(CommandLine::Split(line), expected);
    EXPECT_EQ(CommandLine::Split(CommandLine::Join(expected)), expected);
}

} // namespace
