#include "engine/JobSettings.h"
#include "engine/SubtitleBurn.h"
#include "engine/SubtitleText.h"

extern "C" {
#include <libavfilter/avfilter.h>
}

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corva;
using Encoding = SubtitleText::Encoding;

namespace {

const QString kSimplified = QStringLiteral("1\r\n00:00:01,000 --> 00:00:03,000\r\n你好，世界！这是第一行字幕。\r\n\r\n"
                                           "2\r\n00:00:04,000 --> 00:00:05,500\r\n欢迎观看，我们明天见？\r\n\r\n");
const QString kTraditional = QStringLiteral("1\r\n00:00:01,000 --> 00:00:03,000\r\n你好，繁體中文字幕測試。\r\n\r\n"
                                            "2\r\n00:00:04,000 --> 00:00:05,500\r\n歡迎觀看，我們明天見！\r\n\r\n");

QByteArray encode(const char *name, const QString &text)
{
    QStringEncoder encoder(name);
    return encoder(text);
}

void write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

} // namespace

// Each encoding users have must be recognised from the bytes and come back as the same text;
// guessing GBK for a BIG5 file, or the reverse, puts garbage on every picture.
TEST(SubtitleText, EncodingsUsersHaveAreRecognised)
{
    struct Case
    {
        const char *name;
        QByteArray bytes;
        QString text;
        Encoding encoding;
    } cases[] = {
        {"utf8", kSimplified.toUtf8(), kSimplified, Encoding::Utf8},
        {"utf8 marked", "\xEF\xBB\xBF" + kTraditional.toUtf8(), kTraditional, Encoding::Utf8},
        {"utf16le", encode("UTF-16LE", QChar(0xFEFF) + kSimplified), kSimplified, Encoding::Utf16},
        {"utf16be", encode("UTF-16BE", QChar(0xFEFF) + kTraditional), kTraditional, Encoding::Utf16},
        {"gbk", encode("GBK", kSimplified), kSimplified, Encoding::Gbk},
        {"gbk traditional text", encode("GBK", kTraditional), kTraditional, Encoding::Gbk},
        {"big5", encode("Big5", kTraditional), kTraditional, Encoding::Big5},
        {"big5 short line", encode("Big5", QStringLiteral("你好")), QStringLiteral("你好"), Encoding::Big5},
        {"gbk short line", encode("GBK", QStringLiteral("你好")), QStringLiteral("你好"), Encoding::Gbk},
        {"ascii", QByteArray("1\n00:00:01,000 --> 00:00:02,000\nHello\n"), QStringLiteral("1\n00:00:01,000 --> 00:00:02,000\nHello\n"), Encoding::Utf8},
    };
    for (const Case &c : cases) {
        const SubtitleText::Decoded d = SubtitleText::Decode(c.bytes);
        EXPECT_EQ(d.encoding, c.encoding) << c.name;
        EXPECT_EQ(d.text, c.text) << c.name;
    }
}

TEST(SubtitleText, WhatIsNoTextIsRefused)
{
    QByteArray binary;
    for (int i = 0; i < 4096; ++i)
        binary += char((i * 7919 + 13) % 256);
    QByteArray utf16NoMark = encode("UTF-16LE", kSimplified);
    QByteArray markedButNotUtf8 = "\xEF\xBB\xBF" + encode("GBK", kSimplified);
    QByteArray cutPair = encode("GBK", kSimplified);
    cutPair.chop(cutPair.endsWith("\r\n\r\n") ? 4 : 0);
    cutPair.chop(1); // the last character loses its second byte
    QByteArray oddUtf16 = encode("UTF-16LE", QChar(0xFEFF) + kSimplified) + 'x';
    for (const QByteArray &bytes : {binary, utf16NoMark, markedButNotUtf8, cutPair, oddUtf16})
        EXPECT_EQ(SubtitleText::Decode(bytes).encoding, Encoding::None) << bytes.left(16).toHex().toStdString();
}

// The file beside the source is found whatever the case of its name, .srt before .ass before
// .ssa; another film's subtitles, -sub none and a missing -sub file each do what they say.
TEST(SubtitleBurn, FindsTheFileTheJobMeans)
{
    QTemporaryDir dir;
    const QString film = dir.filePath(QStringLiteral("电影 A.part1.avi"));
    write(film, "x");
    write(dir.filePath(QStringLiteral("电影 A.part1.SSA")), "x");
    write(dir.filePath(QStringLiteral("电影 A.srt")), "x"); // another base name
    write(dir.filePath(QStringLiteral("电影 A.part1.avi.srt")), "x");
    JobSettings job;
    QString error;
    EXPECT_EQ(SubtitleBurn::Find(job, film, &error), dir.filePath(QStringLiteral("电影 A.part1.SSA")));
    write(dir.filePath(QStringLiteral("电影 a.PART1.Ass")), "x");
    EXPECT_EQ(SubtitleBurn::Find(job, film, &error), dir.filePath(QStringLiteral("电影 a.PART1.Ass")));
    write(dir.filePath(QStringLiteral("电影 A.part1.Srt")), "x");
    EXPECT_EQ(SubtitleBurn::Find(job, film, &error), dir.filePath(QStringLiteral("电影 A.part1.Srt")));
    EXPECT_TRUE(error.isEmpty());

    job.subtitles = SubtitleChoice::None;
    EXPECT_TRUE(SubtitleBurn::Find(job, film, &error).isEmpty());
    EXPECT_TRUE(error.isEmpty());

    job.subtitles = SubtitleChoice::File;
    job.subtitleFile = dir.filePath(QStringLiteral("没有.srt"));
    EXPECT_TRUE(SubtitleBurn::Find(job, film, &error).isEmpty());
    EXPECT_TRUE(error.contains(job.subtitleFile)) << error.toStdString();

    JobSettings plain;
    const QString other = dir.filePath(QStringLiteral("other.mkv"));
    write(other, "x");
    EXPECT_TRUE(SubtitleBurn::Find(plain, other, &error).isEmpty());
}

// A file that decodes as text but holds no subtitles is refused before any picture is made.
TEST(SubtitleBurn, PreparesOnlyRealSubtitles)
{
    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("good.srt"));
    write(good, encode("GBK", kSimplified));
    SubtitleBurn burn;
    EXPECT_EQ(burn.Prepare(good), QString());
    EXPECT_TRUE(burn.Active());
    EXPECT_EQ(burn.Encoding(), Encoding::Gbk);
    EXPECT_EQ(burn.Events(), 2);

    const QString prose = dir.filePath(QStringLiteral("prose.srt"));
    write(prose, QStringLiteral("这只是一段文字，不是字幕。\n第二行。\n").toUtf8());
    SubtitleBurn none;
    const QString why = none.Prepare(prose);
    EXPECT_TRUE(why.contains(prose)) << why.toStdString();
    EXPECT_FALSE(none.Active());

    const QString binary = dir.filePath(QStringLiteral("binary.srt"));
    write(binary, QByteArray("\x00\x01\x02\x03\xFF\xFE\x00\x00junk", 12));
    EXPECT_TRUE(none.Prepare(binary).contains(QStringLiteral("UTF-8"))) << none.Prepare(binary).toStdString();

    EXPECT_FALSE(none.Prepare(dir.path()).isEmpty());
}

// A path with every character the filter graph treats specially must reach the renderer as it is.
TEST(SubtitleBurn, QuotedPathSurvivesTheGraphParser)
{
    QTemporaryDir dir;
    const QString hostile = dir.filePath(QStringLiteral("it's [a], b; c:d\\e=f.srt"));
    write(hostile, kSimplified.toUtf8());
    AVFilterGraph *graph = avfilter_graph_alloc();
    ASSERT_NE(graph, nullptr);
    const QByteArray description =
        QStringLiteral("color=s=64x64:d=1,subtitles=filename=%1,nullsink").arg(SubtitleBurn::QuoteForGraph(hostile)).toUtf8();
    AVFilterInOut *inputs = nullptr;
    AVFilterInOut *outputs = nullptr;
    // The subtitles filter opens its file while the graph is parsed: success means the name arrived whole.
    EXPECT_GE(avfilter_graph_parse2(graph, description.constData(), &inputs, &outputs), 0) << description.constData();
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    avfilter_graph_free(&graph);
}
