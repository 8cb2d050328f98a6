#include "EngineRunner.h"
#include "MediaTools.h"
#include "../support/ToolRun.h"

#include "engine/EncodePlan.h"
#include "engine/FfmpegEncodingEngine.h"
#include "engine/FfmpegOwners.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
}

#include <QFile>
#include <QRegularExpression>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corva;
using corva::test::EngineRunner;
using corva::test::MediaTools;
using corva::test::Outcome;
using corva::test::RunTool;
using corva::test::ToolResult;

namespace {

const QString kCbr = QStringLiteral("标准画质 CBR 450Kbps");

JobSettings jobFor(const QString &input, const QString &output)
{
    JobSettings job = EngineRunner::Job(input, output, kCbr);
    job.singlePass = true;
    return job;
}

void write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// The Chinese characters tesseract reads in the lower quarter of the picture shown at `seconds`,
// the light letters made black on white first.
QString readSubtitle(const QString &film, double seconds, const char *language, const QString &scratch)
{
    const QString png = scratch + QStringLiteral("/frame.png");
    QString error;
    if (!MediaTools::Generate({"-i", film, "-ss", QString::number(seconds), "-frames:v", "1", "-vf",
                               "crop=iw:ih/4:0:ih*3/4,format=gray,scale=iw*2:ih*2,lut=y='if(gt(val,120),0,255)'", png},
                              &error))
        return QStringLiteral("(no picture: %1)").arg(error);
    const ToolResult r = RunTool(QStringLiteral("tesseract"), {png, "-", "-l", language, "--psm", "7"});
    if (r.exitCode != 0)
        return QStringLiteral("(tesseract failed: %1)").arg(r.err);
    QString text;
    for (const QChar c : QString::fromUtf8(r.out)) {
        if (c.unicode() >= 0x3400 && c.unicode() <= 0x9FFF)
            text += c;
    }
    return text;
}

// The brightest luma in the lower quarter of the picture at `seconds`: the letters are white,
// the film is a dark blue.
int brightestBelow(const QString &film, double seconds)
{
    const ToolResult r = RunTool(QStringLiteral("ffmpeg"),
                                 {"-hide_banner", "-i", film, "-frames:v", "1", "-vf",
                                  QStringLiteral("select=gte(t\\,%1),crop=iw:ih/4:0:ih*3/4,signalstats,"
                                                 "metadata=print:key=lavfi.signalstats.YMAX")
                                      .arg(seconds),
                                  "-f", "null", "-"});
    const auto m = QRegularExpression(QStringLiteral("YMAX=(\\d+)")).match(r.err);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// Characters in the same places that differ; OCR may misread one of a line.
int misread(const QString &read, const QString &expected)
{
    if (read.size() != expected.size())
        return int(std::max(read.size(), expected.size()));
    int wrong = 0;
    for (qsizetype i = 0; i < read.size(); ++i)
        wrong += read[i] != expected[i];
    return wrong;
}

struct BurnCase
{
    const char *name;
    const char *encoding; // a QStringEncoder name
    bool mark;            // byte-order mark first
    const char *subtitleName;
    bool named;           // given with -sub rather than found beside the film
    bool styled;          // an ASS script
    const char *text;
    const char *language;
};

class EngineSubtitles : public ::testing::TestWithParam<BurnCase>
{
};

// The text is in the picture while it is due and gone after, read back by OCR from what FFmpeg
// decodes of our file, for each encoding and kind of file users bring; at the -rs size.
TEST_P(EngineSubtitles, TextIsInThePictureWhileDue)
{
    const BurnCase &c = GetParam();
    QTemporaryDir dir;
    const QString film = dir.filePath(QStringLiteral("影片.avi"));
    QString error;
    ASSERT_TRUE(MediaTools::Generate({"-f", "lavfi", "-i", "color=c=0x304a60:s=720x404:r=25:d=3", "-c:v", "mpeg4", "-q:v", "3", film},
                                     &error))
        << error.toStdString();
    const QString text = QString::fromUtf8(c.text);
    QString script;
    if (c.styled) {
        // An ASS script names a face this machine lacks, as scripts made elsewhere do.
        script = QStringLiteral("[Script Info]\nScriptType: v4.00+\nPlayResX: 640\nPlayResY: 360\n\n[V4+ Styles]\n"
                                "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, Bold, "
                                "Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, "
                                "Alignment, MarginL, MarginR, MarginV, Encoding\n"
                                "Style: Default,黑体,30,&H00FFFFFF,&H00FFFFFF,&H00000000,&H00000000,0,0,0,0,100,100,0,0,1,2,0,2,10,10,12,1\n\n"
                                "[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
                                "Dialogue: 0,0:00:00.50,0:00:02.00,Default,,0,0,0,,%1\n")
                     .arg(text);
    } else {
        script = QStringLiteral("1\r\n00:00:00,500 --> 00:00:02,000\r\n%1\r\n\r\n").arg(text);
    }
    QStringEncoder encoder(c.encoding);
    QByteArray bytes = encoder(script);
    if (c.mark)
        bytes.prepend(encoder(QString(QChar(0xFEFF))));
    const QString subtitles = dir.filePath(QString::fromUtf8(c.subtitleName));
    write(subtitles, bytes);

    JobSettings job = jobFor(film, dir.filePath(QStringLiteral("影片.rmvb")));
    job.resizeWidth = 608;
    job.resizeHeight = 336;
    if (c.named) {
        job.subtitles = SubtitleChoice::File;
        job.subtitleFile = subtitles;
    }
    const Outcome o = EngineRunner::Encode(job);
    ASSERT_TRUE(o.succeeded) << o.reason.toStdString();
    EXPECT_EQ(MediaTools::DecodeErrors(job.output), QString());
    const QString read = readSubtitle(job.output, 1.2, c.language, dir.path());
    EXPECT_LE(misread(read, text), 1) << read.toStdString() << " read for " << text.toStdString();
    EXPECT_GT(brightestBelow(job.output, 1.2), 200);
    // Before and after, nothing lighter than the film itself.
    for (const double seconds : {0.2, 2.6}) {
        const int brightest = brightestBelow(job.output, seconds);
        EXPECT_GE(brightest, 0) << seconds;
        EXPECT_LT(brightest, 120) << seconds;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, EngineSubtitles,
    ::testing::Values(BurnCase{"GbkBeside", "GBK", false, "影片.srt", false, false, "你好世界欢迎观看", "chi_sim"},
                      BurnCase{"Big5Named", "Big5", false, "其他名字.srt", true, false, "繁體中文字幕測試", "chi_tra"},
                      BurnCase{"Utf8Ass", "UTF-8", false, "影片.ass", false, true, "中文字幕测试", "chi_sim"},
                      BurnCase{"Utf16UpperCase", "UTF-16LE", true, "影片.SRT", false, false, "欢迎收看新闻节目", "chi_sim"}),
    [](const auto &row) { return std::string(row.param.name); });

// A binary file given as subtitles, or a -sub file that is not there: the job ends with the
// reason before anything is written.
TEST(EngineSubtitlesRefused, BadFileStopsTheJobBeforeWriting)
{
    QTemporaryDir dir;
    const QString film = dir.filePath(QStringLiteral("clip.mkv"));
    QString error;
    ASSERT_TRUE(MediaTools::MakeClip(film, 1, "176x144", 25, 0, 0, &error)) << error.toStdString();
    const QString binary = dir.filePath(QStringLiteral("clip.srt"));
    QByteArray junk;
    for (int i = 0; i < 3000; ++i)
        junk += char((i * 131 + 7) % 256);
    write(binary, junk);

    JobSettings beside = jobFor(film, dir.filePath(QStringLiteral("out.rm")));
    Outcome o = EngineRunner::Encode(beside);
    EXPECT_FALSE(o.succeeded);
    EXPECT_TRUE(o.reason.contains(binary)) << o.reason.toStdString();
    EXPECT_FALSE(QFile::exists(beside.output));
    EXPECT_FALSE(MediaTools::PartialOutputLeft(beside.output));

    JobSettings missing = beside;
    missing.subtitles = SubtitleChoice::File;
    missing.subtitleFile = dir.filePath(QStringLiteral("不存在.ass"));
    o = EngineRunner::Encode(missing);
    EXPECT_FALSE(o.succeeded);
    EXPECT_TRUE(o.reason.contains(QStringLiteral("找不到字幕文件"))) << o.reason.toStdString();
    EXPECT_FALSE(QFile::exists(missing.output));

    // Turned off, the same film encodes despite the file beside it.
    JobSettings off = beside;
    off.subtitles = SubtitleChoice::None;
    o = EngineRunner::Encode(off);
    EXPECT_TRUE(o.succeeded) << o.reason.toStdString();
}

// FFmpeg's interlace detector over a film: {interlaced, progressive} pictures.
std::pair<int, int> detectInterlace(const QString &film)
{
    const ToolResult r = RunTool(QStringLiteral("ffmpeg"), {"-hide_banner", "-i", film, "-vf", "idet", "-an", "-f", "null", "-"});
    const QRegularExpression line(QStringLiteral("Multi frame detection: TFF:\\s*(\\d+) BFF:\\s*(\\d+) Progressive:\\s*(\\d+)"));
    const auto m = line.match(r.err);
    if (!m.hasMatch())
        return {-1, -1};
    return {m.captured(1).toInt() + m.captured(2).toInt(), m.captured(3).toInt()};
}

struct InterlacedCase
{
    const char *name;
    QStringList codec; // flagged interlaced, or combed pictures without a word
    const char *file;
};

class EngineInterlaced : public ::testing::TestWithParam<InterlacedCase>
{
};

TEST_P(EngineInterlaced, OutputIsProgressive)
{
    QTemporaryDir dir;
    const QString film = dir.filePath(QString::fromUtf8(GetParam().file));
    QString error;
    ASSERT_TRUE(MediaTools::Generate(QStringList{"-f", "lavfi", "-i", "testsrc2=s=352x288:r=50:d=3,tinterlace=mode=interleave_top,setfield=tff"}
                                         + GetParam().codec + QStringList{film},
                                     &error))
        << error.toStdString();
    const auto [sourceCombed, sourceProgressive] = detectInterlace(film);
    ASSERT_GT(sourceCombed, 3 * sourceProgressive) << "the source must be interlaced for this test to mean anything";

    JobSettings job = jobFor(film, dir.filePath(QStringLiteral("out.rm")));
    const Outcome o = EngineRunner::Encode(job);
    ASSERT_TRUE(o.succeeded) << o.reason.toStdString();
    const auto [combed, progressive] = detectInterlace(job.output);
    EXPECT_GT(progressive, 3 * combed) << combed << " interlaced, " << progressive << " progressive";
    EXPECT_GE(progressive + combed, 70);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, EngineInterlaced,
    ::testing::Values(InterlacedCase{"Flagged", {"-c:v", "mpeg2video", "-flags", "+ilme+ildct", "-top", "1", "-q:v", "2"}, "tv.mpg"},
                      InterlacedCase{"Unflagged", {"-c:v", "mpeg4", "-q:v", "2"}, "combed.avi"}),
    [](const auto &row) { return std::string(row.param.name); });

// The detecting deinterlacer hands progressive pictures on untouched, byte for byte, fast
// motion and fine detail included, and changes combed ones the source says nothing about.
TEST(Deinterlace, LeavesProgressivePicturesAlone)
{
    QTemporaryDir dir;
    for (const bool interlaced : {false, true}) {
        const QString film = dir.filePath(interlaced ? QStringLiteral("i.avi") : QStringLiteral("p.avi"));
        QString error;
        QStringList args{"-f", "lavfi", "-i",
                         interlaced ? "testsrc2=s=320x240:r=50:d=2,tinterlace=mode=interleave_top,setfield=tff" : "testsrc2=s=320x240:r=25:d=2",
                         "-c:v", "mpeg4", "-q:v", "2"};
        ASSERT_TRUE(MediaTools::Generate(args + QStringList{film}, &error)) << error.toStdString();

        AVFormatContext *raw = nullptr;
        ASSERT_GE(avformat_open_input(&raw, film.toUtf8().constData(), nullptr, nullptr), 0);
        InputFormatPtr format(raw);
        ASSERT_GE(avformat_find_stream_info(raw, nullptr), 0);
        const int index = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        ASSERT_GE(index, 0);
        const AVCodec *codec = avcodec_find_decoder(raw->streams[index]->codecpar->codec_id);
        CodecContextPtr decoder(avcodec_alloc_context3(codec));
        ASSERT_GE(avcodec_parameters_to_context(decoder.get(), raw->streams[index]->codecpar), 0);
        ASSERT_GE(avcodec_open2(decoder.get(), codec, nullptr), 0);

        FilterGraphPtr graph(avfilter_graph_alloc());
        AVFilterContext *source = nullptr;
        AVFilterContext *sink = nullptr;
        const QByteArray args2 = QStringLiteral("video_size=320x240:pix_fmt=%1:time_base=1/90000:pixel_aspect=1/1")
                                     .arg(int(AV_PIX_FMT_YUV420P))
                                     .toUtf8();
        ASSERT_GE(avfilter_graph_create_filter(&source, avfilter_get_by_name("buffer"), "in", args2.constData(), nullptr, graph.get()), 0);
        ASSERT_GE(avfilter_graph_create_filter(&sink, avfilter_get_by_name("buffersink"), "out", nullptr, nullptr, graph.get()), 0);
        AVFilterInOut *outputs = avfilter_inout_alloc();
        AVFilterInOut *inputs = avfilter_inout_alloc();
        outputs->name = av_strdup("in");
        outputs->filter_ctx = source;
        inputs->name = av_strdup("out");
        inputs->filter_ctx = sink;
        ASSERT_GE(avfilter_graph_parse_ptr(graph.get(), EncodePlan::kDeinterlaceDetected, &inputs, &outputs, nullptr), 0);
        avfilter_inout_free(&inputs);
        avfilter_inout_free(&outputs);
        ASSERT_GE(avfilter_graph_config(graph.get(), nullptr), 0);

        std::vector<QByteArray> in;
        std::vector<QByteArray> out;
        const auto picture = [](const AVFrame *f) {
            QByteArray bytes;
            for (int plane = 0; plane < 3; ++plane) {
                const int h = plane ? f->height / 2 : f->height;
                const int w = plane ? f->width / 2 : f->width;
                for (int y = 0; y < h; ++y)
                    bytes.append(reinterpret_cast<const char *>(f->data[plane] + y * f->linesize[plane]), w);
            }
            return bytes;
        };
        PacketPtr packet(av_packet_alloc());
        FramePtr frame(av_frame_alloc());
        FramePtr filtered(av_frame_alloc());
        const auto drain = [&] {
            while (av_buffersink_get_frame(sink, filtered.get()) >= 0) {
                out.push_back(picture(filtered.get()));
                av_frame_unref(filtered.get());
            }
        };
        const auto feed = [&](AVPacket *p) {
            avcodec_send_packet(decoder.get(), p);
            while (avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
                in.push_back(picture(frame.get()));
                ASSERT_GE(av_buffersrc_add_frame(source, frame.get()), 0);
                drain();
            }
        };
        while (av_read_frame(raw, packet.get()) >= 0) {
            if (packet->stream_index == index)
                feed(packet.get());
            av_packet_unref(packet.get());
        }
        feed(nullptr);
        ASSERT_GE(av_buffersrc_add_frame(source, nullptr), 0);
        drain();

        ASSERT_EQ(in.size(), out.size()) << "one picture out for each in";
        int same = 0;
        for (size_t i = 0; i < in.size(); ++i)
            same += in[i] == out[i];
        if (interlaced)
            EXPECT_LT(same, int(in.size()) / 4) << same << " of " << in.size() << " interlaced pictures passed untouched";
        else
            EXPECT_EQ(same, int(in.size())) << "progressive pictures were changed";
    }
}

} // namespace
