#include "common/Gbk.h"
#include "encoder/AudienceList.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using corva::AudienceList;

namespace {

struct LinesCase
{
    const char *name;
    QByteArray bytes;
    QStringList expected;
};

class AudienceListLines : public ::testing::TestWithParam<LinesCase>
{
};

TEST_P(AudienceListLines, SplitsAsWritten)
{
    EXPECT_EQ(AudienceList::Parse(GetParam().bytes), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Terminators, AudienceListLines, ::testing::Values(
    LinesCase{"crlf", QByteArray("a\r\nb\r\n"), {"a", "b"}},
    LinesCase{"noFinalTerminator", QByteArray("a\r\nb"), {"a", "b"}},
    LinesCase{"emptyLastLine", QByteArray("a\r\nb\r\n\r\n"), {"a", "b", ""}},
    LinesCase{"loneLf", QByteArray("a\nb\n"), {"a", "b"}},
    LinesCase{"loneCr", QByteArray("a\rb\r"), {"a", "b"}},
    LinesCase{"blanksKept", QByteArray(" a \r\n\tb\r\n"), {" a ", "\tb"}},
    LinesCase{"emptyFile", QByteArray(), {}},
    LinesCase{"utf8Bom", QByteArray("\xEF\xBB\xBF\xE5\xA2\xA8\r\n"), {QStringLiteral("墨")}}),
    [](const auto &row) { return std::string(row.param.name); });

TEST(AudienceList, DecodesGbk)
{
    const QByteArray bytes = corva::Gbk::Encode(QStringLiteral("高清画质 VBR\r\n标准\r\n"));
    EXPECT_EQ(AudienceList::Parse(bytes), (QStringList{QStringLiteral("高清画质 VBR"), QStringLiteral("标准")}));
}

TEST(AudienceList, MissingOrEmptyFileIsRefusedNamingThePath)
{
    QTemporaryDir dir;
    QString error;
    const QString missing = dir.filePath(QStringLiteral("audi.txt"));
    EXPECT_FALSE(AudienceList::Load(missing, &error));
    EXPECT_TRUE(error.contains(missing));

    QFile empty(missing);
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    error.clear();
    EXPECT_FALSE(AudienceList::Load(missing, &error));
    EXPECT_TRUE(error.contains(missing));

    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.write("\r\n");
    empty.close();
    const auto one = AudienceList::Load(missing, &error);
    ASSERT_TRUE(one);
    EXPECT_EQ(*one, QStringList{QString()});
}

} // namespace
