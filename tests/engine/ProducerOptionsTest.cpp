#include "engine/ProducerOptions.h"

#include <gtest/gtest.h>

using namespace corva;

namespace {

// The line the window builds with its start-up settings.
const QString kWindowLine = QStringLiteral(
    "D:\\Enc\\pp -i \"E:\\film.avi\" -o \"E:\\film.rm\" -t \"\" -a \"\" -c \"墨川压缩2005\" -ad \"A1\" -dt -vco rv9 -cj D:\\Enc\\1.rpjf");

TEST(ProducerOptions, WindowStartUpLine)
{
    const ProducerOptions o = ProducerOptions::ParseCommandLine(kWindowLine);
    ASSERT_TRUE(o.IsValid()) << o.Error().toStdString();
    JobSettings expected;
    expected.input = QStringLiteral("E:\\film.avi");
    expected.output = QStringLiteral("E:\\film.rm");
    expected.copyright = QStringLiteral("墨川压缩2005");
    expected.audience = QStringLiteral("A1");
    expected.singlePass = true;
    expected.codec = CodecEffort::Rv9;
    EXPECT_EQ(o.Settings(), expected);
    EXPECT_EQ(o.JobPath(), QStringLiteral("D:\\Enc\\1.rpjf"));
}

// Every optional switch in the order the window writes them, values with blanks and quotes.
TEST(ProducerOptions, EverySwitch)
{
    const QString line = QStringLiteral(
        "pp -i \"/media/my film.mkv\" -o \"out \\\"x\\\".rmvb\" -t \"标题 一\" -a \"作者\" -c \"\" -ad \"DVD影碟 VBR 高画质 650Kbps\" "
        "-vm slideshow -am voice -dt -dv -arq high -nf None -bl -ag -12 -rs 640x0 -rq fast -vco rv10 -cj /tmp/1.rpjf");
    const ProducerOptions o = ProducerOptions::ParseCommandLine(line);
    ASSERT_TRUE(o.IsValid()) << o.Error().toStdString();
    const JobSettings &j = o.Settings();
    EXPECT_EQ(j.input, QStringLiteral("/media/my film.mkv"));
    EXPECT_EQ(j.output, QStringLiteral("out \"x\".rmvb"));
    EXPECT_EQ(j.title, QStringLiteral("标题 一"));
    EXPECT_EQ(j.author, QStringLiteral("作者"));
    EXPECT_EQ(j.audience, QStringLiteral("DVD影碟 VBR 高画质 650Kbps"));
    EXPECT_EQ(j.videoMode, VideoMode::Slideshow);
    EXPECT_EQ(j.audioMode, AudioMode::Voice);
    EXPECT_TRUE(j.singlePass && j.audioOnly && j.brighten && j.highResampleQuality);
    EXPECT_EQ(j.noiseFilter, NoiseFilter::None);
    EXPECT_EQ(j.gainDb, -12);
    EXPECT_EQ(j.resizeWidth, 640);
    EXPECT_EQ(j.resizeHeight, 0);
    EXPECT_FALSE(j.highScaleQuality);
    EXPECT_EQ(j.codec, CodecEffort::Rv10);
}

struct WordCase
{
    QStringList extra;
    std::function<bool(const JobSettings &)> holds;
};

class ProducerOptionsWords : public ::testing::TestWithParam<WordCase>
{
};

TEST_P(ProducerOptionsWords, Accepted)
{
    QStringList args = {QStringLiteral("-i"), QStringLiteral("a"), QStringLiteral("-o"), QStringLiteral("b"),
                        QStringLiteral("-ad"), QStringLiteral("A1")};
    args += GetParam().extra;
    const ProducerOptions o = ProducerOptions::Parse(args);
    ASSERT_TRUE(o.IsValid()) << o.Error().toStdString();
    EXPECT_TRUE(GetParam().holds(o.Settings())) << GetParam().extra.join(u' ').toStdString();
    EXPECT_FALSE(o.WritesJob());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProducerOptionsWords,
    ::testing::Values(
        WordCase{{"-vm", "sharp"}, [](const JobSettings &j) { return j.videoMode == VideoMode::Sharp; }},
        WordCase{{"-vm", "smooth"}, [](const JobSettings &j) { return j.videoMode == VideoMode::Smooth; }},
        WordCase{{"-vm", "normal"}, [](const JobSettings &j) { return j.videoMode == VideoMode::Normal; }},
        WordCase{{"-nf", "low"}, [](const JobSettings &j) { return j.noiseFilter == NoiseFilter::Low; }},
        WordCase{{"-nf", "none"}, [](const JobSettings &j) { return j.noiseFilter == NoiseFilter::None; }},
        WordCase{{"-ag", "12"}, [](const JobSettings &j) { return j.gainDb == 12; }},
        WordCase{{"-ag", "-6"}, [](const JobSettings &j) { return j.gainDb == -6; }},
        WordCase{{"-rs", "0x480", "-rq", "high"},
                 [](const JobSettings &j) { return j.resizeWidth == 0 && j.resizeHeight == 480 && j.highScaleQuality; }},
        WordCase{{"-vco", "rv8"}, [](const JobSettings &j) { return j.codec == CodecEffort::Rv8; }},
        WordCase{{"-t", QString(32767, QChar(0x58A8)) + "a"}, [](const JobSettings &j) { return j.title.size() == 32768; }},
        WordCase{{"-rs", "2048x1152"}, [](const JobSettings &j) { return j.resizeWidth == 2048 && j.resizeHeight == 1152; }},
        WordCase{{"-rs", "16x0"}, [](const JobSettings &j) { return j.resizeWidth == 16 && j.resizeHeight == 0; }},
        WordCase{{}, [](const JobSettings &j) { return j.codec == CodecEffort::Rv9 && !j.singlePass && j.gainDb == 0; }}));

struct BadCase
{
    const char *name;
    QStringList args;
    const char *reasonPart;
};

class ProducerOptionsRejects : public ::testing::TestWithParam<BadCase>
{
};

TEST_P(ProducerOptionsRejects, WithReason)
{
    const ProducerOptions o = ProducerOptions::Parse(GetParam().args);
    EXPECT_FALSE(o.IsValid());
    EXPECT_TRUE(o.Error().contains(QString::fromUtf8(GetParam().reasonPart))) << o.Error().toStdString();
}

const QStringList kBase = {"-i", "a", "-o", "b", "-ad", "A1"};

INSTANTIATE_TEST_SUITE_P(
    Cases, ProducerOptionsRejects,
    ::testing::Values(BadCase{"UnknownSwitch", kBase + QStringList{"-x"}, "-x"},
                      BadCase{"StrayValue", kBase + QStringList{"extra"}, "extra"},
                      BadCase{"MissingValueAtEnd", kBase + QStringList{"-vco"}, "-vco 缺少取值"},
                      BadCase{"BadVideoMode", kBase + QStringList{"-vm", "fast"}, "fast"},
                      BadCase{"BadAudioMode", kBase + QStringList{"-am", "mono"}, "mono"},
                      BadCase{"BadQuality", kBase + QStringList{"-arq", "best"}, "best"},
                      BadCase{"BadScaleQuality", kBase + QStringList{"-rq", "best"}, "-rq 的取值“best”无效，应为 fast 或 high"},
                      BadCase{"BadNoise", kBase + QStringList{"-nf", "medium"}, "medium"},
                      BadCase{"GainTooHigh", kBase + QStringList{"-ag", "13"}, "13"},
                      BadCase{"GainNotNumber", kBase + QStringList{"-ag", "6dB"}, "6dB"},
                      BadCase{"SizeWithoutX", kBase + QStringList{"-rs", "640"}, "640"},
                      BadCase{"SizeFraction", kBase + QStringList{"-rs", "640.5x480"}, "640.5x480"},
                      BadCase{"SizeTooWide", kBase + QStringList{"-rs", "99999x2"}, "宽应为 0 或 16–2048"},
                      BadCase{"SizeJustTooWide", kBase + QStringList{"-rs", "2049x1152"}, "2049x1152 超出范围"},
                      BadCase{"SizeTooTall", kBase + QStringList{"-rs", "0x1153"}, "高应为 0 或 16–1152"},
                      BadCase{"SizeTooSmall", kBase + QStringList{"-rs", "8x0"}, "8x0 超出范围"},
                      BadCase{"TitleOutsideGbk", kBase + QStringList{"-t", "片名\U0001F600"}, "标题（-t）中的字符“\U0001F600”（U+1F600）"},
                      BadCase{"AuthorOutsideGbk", kBase + QStringList{"-a", "作者\uD55C"}, "作者（-a）中的字符“\uD55C”（U+D55C）"},
                      BadCase{"CopyrightTooLong", kBase + QStringList{"-c", QString(32768, QChar(0x58A8))}, "版权（-c）太长：GBK 编码后有 65536 字节"},
                      BadCase{"BadCodec", kBase + QStringList{"-vco", "rv40"}, "rv40"},
                      BadCase{"Duplicate", kBase + QStringList{"-i", "c"}, "重复"},
                      BadCase{"NoInput", QStringList{"-o", "b", "-ad", "A1"}, "-i"},
                      BadCase{"EmptyInput", QStringList{"-i", "", "-o", "b", "-ad", "A1"}, "-i"},
                      BadCase{"NoOutput", QStringList{"-i", "a", "-ad", "A1"}, "-o"},
                      BadCase{"NoAudience", QStringList{"-i", "a", "-o", "b"}, "-ad"},
                      BadCase{"Nothing", QStringList{}, "-i"}),
    [](const auto &row) { return std::string(row.param.name); });

// pp must still find the job path to clear a stale job file when the switches are refused.
TEST(ProducerOptions, JobPathKnownEvenWhenRefused)
{
    const ProducerOptions o = ProducerOptions::Parse({"-i", "a", "-zz", "-cj", "/tmp/1.rpjf"});
    EXPECT_FALSE(o.IsValid());
    EXPECT_EQ(o.JobPath(), QStringLiteral("/tmp/1.rpjf"));
}

} // namespace

// -sub names a file, "none" in any case turns subtitles off, and nothing else is a value.
TEST(ProducerOptions, SubtitleSwitch)
{
    const QStringList base{"-i", "a.avi", "-o", "a.rm", "-ad", "A1"};
    EXPECT_EQ(ProducerOptions::Parse(base).Settings().subtitles, SubtitleChoice::Beside);
    const ProducerOptions named = ProducerOptions::Parse(base + QStringList{"-sub", "字幕 1.ass"});
    ASSERT_TRUE(named.IsValid()) << named.Error().toStdString();
    EXPECT_EQ(named.Settings().subtitles, SubtitleChoice::File);
    EXPECT_EQ(named.Settings().subtitleFile, QStringLiteral("字幕 1.ass"));
    EXPECT_EQ(ProducerOptions::Parse(base + QStringList{"-sub", "None"}).Settings().subtitles, SubtitleChoice::None);
    EXPECT_EQ(ProducerOptions::Parse(base + QStringList{"-sub", "./none"}).Settings().subtitles, SubtitleChoice::File);
    EXPECT_FALSE(ProducerOptions::Parse(base + QStringList{"-sub", ""}).IsValid());
    EXPECT_FALSE(ProducerOptions::Parse(base + QStringList{"-sub"}).IsValid());
}
