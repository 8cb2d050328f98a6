#include "tools/jj/JjCommandLine.h"

#include <gtest/gtest.h>

using namespace corva;

namespace {

QStringList L(std::initializer_list<const char *> items)
{
    QStringList out;
    for (const char *s : items)
        out << QString::fromUtf8(s);
    return out;
}

TEST(JjCommandLine, TakesAnArgumentListOrTheWindowsWholeLine)
{
    QStringList errors;
    const auto fromList = JjCommandLine::Parse(
        L({"-i", "/v/a b.rm", "-i", "/v/b.rm", "-o", "/v/a_合并.rm", "-t", "T", "-a", "", "-c", "墨川压缩合并 2004"}),
        &errors);
    ASSERT_TRUE(fromList) << errors.join(u'\n').toStdString();
    EXPECT_EQ(fromList->inputs, L({"/v/a b.rm", "/v/b.rm"}));
    EXPECT_EQ(fromList->output, QStringLiteral("/v/a_合并.rm"));
    EXPECT_EQ(fromList->title, QStringLiteral("T"));
    EXPECT_EQ(fromList->author, QString());
    EXPECT_TRUE(fromList->author.has_value()); // given empty, not left out
    EXPECT_EQ(fromList->copyright, QStringLiteral("墨川压缩合并 2004"));

    // The joiner window's shape: program path unquoted, every value quoted, a final blank.
    const auto fromText = JjCommandLine::Parse(
        L({"/opt/app/jj -i \"/v/a b.rm\" -i \"/v/b.rm\" -o \"/v/a_合并.rm\" -t \"T\" -a \"\" -c \"墨川压缩合并 2004\" "}),
        &errors);
    ASSERT_TRUE(fromText);
    EXPECT_EQ(fromText->inputs, fromList->inputs);
    EXPECT_EQ(fromText->output, fromList->output);
    EXPECT_EQ(fromText->author, fromList->author);
    EXPECT_EQ(fromText->copyright, fromList->copyright);

    // Without a program in front, and without the texts (they then come from input 1).
    const auto bare = JjCommandLine::Parse(L({"-i a.rm -i a.rm -o \"c:\\out dir\\\\\""}), &errors);
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->output, QStringLiteral("c:\\out dir\\"));
    EXPECT_FALSE(bare->title);
    EXPECT_TRUE(errors.isEmpty());
}

struct BadLine
{
    const char *name;
    QStringList args;
    const char *message;
};

class JjCommandLineRefuses : public ::testing::TestWithParam<BadLine> {};

TEST_P(JjCommandLineRefuses, NamesTheProblem)
{
    QStringList errors;
    EXPECT_FALSE(JjCommandLine::Parse(GetParam().args, &errors));
    EXPECT_TRUE(errors.join(u'\n').contains(QString::fromUtf8(GetParam().message)))
        << errors.join(u'\n').toStdString();
}

void PrintTo(const BadLine &b, std::ostream *os)
{
    *os << b.name;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, JjCommandLineRefuses,
    ::testing::Values(BadLine{"nothing", {}, "缺少输出文件"},
                      BadLine{"one input", L({"-i", "a.rm", "-o", "o.rm"}), "至少需要两个输入文件（-i），现在有 1 个"},
                      BadLine{"no output", L({"-i", "a.rm", "-i", "b.rm"}), "缺少输出文件（-o）"},
                      BadLine{"empty output", L({"-i", "a.rm", "-i", "b.rm", "-o", ""}), "缺少输出文件"},
                      BadLine{"output twice", L({"-i", "a", "-i", "b", "-o", "x", "-o", "y"}), "选项 -o 只能给一次"},
                      BadLine{"value missing", L({"-i", "a", "-i", "b", "-o"}), "选项 -o 后面缺少值"},
                      BadLine{"unknown switch", L({"-i", "a", "-i", "b", "-o", "x", "-z", "1"}), "无法识别的选项“-z”"},
                      BadLine{"bare file", L({"-i", "a", "b", "-o", "x"}), "多余的参数“b”"},
                      BadLine{"empty input", L({"-i", "", "-i", "b", "-i", "c", "-o", "x"}), "输入文件名是空的"}),
    [](const auto &row) {
        std::string n = row.param.name;
        for (char &ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return n;
    });

} // namespace
