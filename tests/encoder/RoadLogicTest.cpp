#include "encoder/ElapsedText.h"
#include "encoder/JobChecks.h"
#include "encoder/OutputNaming.h"
#include "encoder/ProgressText.h"
#include "platform/DriveLetterOpticalDrives.h"

#include <gtest/gtest.h>

using namespace corva;

namespace {

struct ElapsedCase
{
    int seconds;
    const char *expected;
};

class Elapsed : public ::testing::TestWithParam<ElapsedCase>
{
};

TEST_P(Elapsed, WritesHoursMinutesSeconds)
{
    const int d = GetParam().seconds;
    const QString end = QStringLiteral("%1:%2:%3").arg(d / 3600 + 1, 2, 10, QChar(u'0'))
                            .arg(d % 3600 / 60, 2, 10, QChar(u'0')).arg(d % 60, 2, 10, QChar(u'0'));
    EXPECT_EQ(ElapsedText::Between(QStringLiteral("01:00:00"), end), QString::fromUtf8(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Differences, Elapsed, ::testing::Values(
    ElapsedCase{0, "0秒"}, ElapsedCase{59, "59秒"}, ElapsedCase{60, "1分0秒"}, ElapsedCase{3599, "59分59秒"},
    ElapsedCase{3600, "1小时0秒"}, ElapsedCase{3605, "1小时5秒"}, ElapsedCase{3660, "1小时1分0秒"},
    ElapsedCase{7322, "2小时2分2秒"}));

TEST(ElapsedText, MidnightAndUnreadablePieces)
{
    EXPECT_EQ(ElapsedText::Between(QStringLiteral("23:59:50"), QStringLiteral("00:00:10")), QStringLiteral("20秒"));
    EXPECT_EQ(ElapsedText::Between(QStringLiteral("22:00:00"), QStringLiteral("01:30:00")), QStringLiteral("3小时30分0秒"));
    // An empty start (never started) reads as midnight; junk pieces read as 0.
    EXPECT_EQ(ElapsedText::Seconds(QString()), 0);
    EXPECT_EQ(ElapsedText::Seconds(QStringLiteral("1x:0y:5")), 3600 + 5);
    EXPECT_EQ(ElapsedText::Seconds(QStringLiteral("10:02:03")), 36123);
}

TEST(ProgressText, TextsAndBarWidths)
{
    EXPECT_EQ(ProgressText::Single(QStringLiteral("09:35:07"), 45, 12.5, 100), QStringLiteral("压缩开始于09:35:07 完成45%  [12.5s/100s]"));
    EXPECT_EQ(ProgressText::Batch(1, 45, 12.5, 100), QStringLiteral("正在压缩第2个文件 45%  [12.5s/100s]"));
    EXPECT_EQ(ProgressText::Plain(12.0), QStringLiteral("12"));
    EXPECT_EQ(ProgressText::Plain(0.1 + 0.2), QStringLiteral("0.3"));
    EXPECT_EQ(ProgressText::Plain(1234567.5), QStringLiteral("1234567.5"));
    EXPECT_FLOAT_EQ(ProgressText::BarWidth(50), 344.0f);
    EXPECT_FLOAT_EQ(ProgressText::BarWidth(33), 227.04f);
    EXPECT_FLOAT_EQ(ProgressText::BarWidth(100), 688.0f);
    EXPECT_FLOAT_EQ(ProgressText::BarWidth(65536 + 50), 344.0f); // narrowed to 16 bits first
}

TEST(OutputNaming, ExtensionFollowsTheAudienceAndTheLastDot)
{
    EXPECT_EQ(OutputNaming::Extension(QStringLiteral("高清 VBR 900")), QStringLiteral("rmvb"));
    EXPECT_EQ(OutputNaming::Extension(QStringLiteral("高清 vbr 900")), QStringLiteral("rm"));
    EXPECT_EQ(OutputNaming::WithExtension(QStringLiteral("C:\\v\\a.avi"), QStringLiteral("rmvb")), QStringLiteral("C:\\v\\a.rmvb"));
    EXPECT_EQ(OutputNaming::WithExtension(QStringLiteral("C:\\v\\a.b.avi"), QStringLiteral("rm")), QStringLiteral("C:\\v\\a.b.rm"));
    EXPECT_FALSE(OutputNaming::WithExtension(QStringLiteral("C:\\v\\clip"), QStringLiteral("rm")));
    EXPECT_EQ(OutputNaming::WithExtension(QStringLiteral("a."), QStringLiteral("rm")), QStringLiteral("a.rm"));
}

TEST(JobChecks, FormatTestIsACaseSensitiveSubstring)
{
    const QString filter = QStringLiteral("常见的VCD影碟文件DAT|*.dat|AVI 文件|*.avi|DVD 影碟文件VOB|*.vob|MPG|*.mpg|"
                                          "微软的WMV|*.wmv|微软的ASF|*.asf|Quicktime的MOV文件|*.mov|"
                                          "RMVB|*.rmvb|RM|*.rm|WAV音频|*.wav|所有文件|*.*");
    for (const char *ok : {"a.avi", "a.AVI", "a.DAT", "a.rmvb", "a.rm", "a.wav", "a.VOB"})
        EXPECT_TRUE(JobChecks::IsKnownFormat(QString::fromUtf8(ok), filter)) << ok;
    for (const char *no : {"a.Avi", "a.RM", "a.mp3", "a.mpeg", "a.mkv"})
        EXPECT_FALSE(JobChecks::IsKnownFormat(QString::fromUtf8(no), filter)) << no;
}

TEST(JobChecks, SizesAreSixteenBitAndNotNegative)
{
    EXPECT_TRUE(JobChecks::SizeIsValid(QStringLiteral("0"), QStringLiteral("0")));
    EXPECT_TRUE(JobChecks::SizeIsValid(QStringLiteral("608"), QStringLiteral("336")));
    EXPECT_TRUE(JobChecks::SizeIsValid(QStringLiteral("32767"), QStringLiteral("0")));
    EXPECT_FALSE(JobChecks::SizeIsValid(QStringLiteral("-1"), QStringLiteral("0")));
    EXPECT_FALSE(JobChecks::SizeIsValid(QStringLiteral("32768"), QStringLiteral("0")));
    EXPECT_FALSE(JobChecks::SizeIsValid(QStringLiteral("0"), QStringLiteral("")));
    EXPECT_FALSE(JobChecks::SizeIsValid(QStringLiteral("0"), QStringLiteral("4x")));
}

TEST(JobChecks, PathChecksInTheirOrder)
{
    platform::DriveLetterOpticalDrives drives("d");
    EncoderOptions o;
    EXPECT_EQ(JobChecks::CheckPaths(o, drives), JobChecks::Verdict::SamePath);
    o.inputFile = QStringLiteral(" ");
    EXPECT_EQ(JobChecks::CheckPaths(o, drives), JobChecks::Verdict::EmptyPath);
    o.inputFile = QStringLiteral("C:\\a.avi");
    o.outputFile = QStringLiteral("d:\\a.rm");
    EXPECT_EQ(JobChecks::CheckPaths(o, drives), JobChecks::Verdict::OpticalOutput);
    o.outputFile = QStringLiteral("C:\\a.rm");
    EXPECT_EQ(JobChecks::CheckPaths(o, drives), JobChecks::Verdict::Pass);
}

} // namespace
