// Films with cook sound, as each audience writes them, read by the outside readers: ffprobe,
// FFmpeg's full decode, GStreamer's rmdemux with avdec_cook, mediainfo, and jj. A click in the
// sound and a flash in the picture at the same moments must still meet, from the start and
// after a seek.
#include "EngineRunner.h"
#include "MediaTools.h"
#include "../support/ToolRun.h"

#include "engine/FfmpegEncodingEngine.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace corva;
using corva::test::EngineRunner;
using corva::test::MediaTools;
using corva::test::RunGstreamer;
using corva::test::RunTool;
using corva::test::ToolResult;

namespace {

constexpr double kSeconds = 4.0;
constexpr double kEvents[] = {1.0, 3.0}; // a white picture and a click at each
constexpr double kFrameSeconds = 1024.0 / 44100;

// Black pictures with one white picture at each event, silence with a 10 ms burst at each.
class FlashClip
{
public:
    static FlashClip &Get()
    {
        static FlashClip clip;
        return clip;
    }
    QString path, error;

private:
    FlashClip()
    {
        path = m_dir.filePath(QStringLiteral("flash.mkv"));
        const QString at = QStringLiteral("between(t,1,1.039)+between(t,3,3.039)");
        const QString burst = QStringLiteral("0.8*sin(2*PI*2000*t)*(between(t\\,1\\,1.01)+between(t\\,3\\,3.01))");
        MediaTools::Generate({"-f", "lavfi", "-i", QStringLiteral("color=c=black:s=160x120:r=25:d=%1").arg(kSeconds),
                              "-f", "lavfi", "-i",
                              QStringLiteral("aevalsrc=%1|%1:s=48000:d=%2").arg(burst).arg(kSeconds),
                              "-vf", QStringLiteral("drawbox=c=white:t=fill:enable='%1'").arg(at),
                              "-c:v", "mpeg4", "-q:v", "3", "-c:a", "pcm_s16le", path},
                             &error);
    }
    QTemporaryDir m_dir;
};

struct Events
{
    std::vector<double> flashes, clicks;
    std::int64_t samples = 0;
    QString error;
};

struct FormatCloser {
    void operator()(AVFormatContext *f) const { avformat_close_input(&f); }
};
struct CodecCloser {
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};

// Decodes the file through libavformat and libavcodec from `from` seconds (a seek when > 0) and
// notes when the picture turns white and when the sound bursts, on the streams' own clocks.
Events FindEvents(const QString &path, double from)
{
    Events ev;
    AVFormatContext *raw = nullptr;
    if (avformat_open_input(&raw, path.toUtf8().constData(), nullptr, nullptr) < 0) {
        ev.error = "cannot open";
        return ev;
    }
    std::unique_ptr<AVFormatContext, FormatCloser> format(raw);
    avformat_find_stream_info(format.get(), nullptr);
    std::unique_ptr<AVCodecContext, CodecCloser> decoders[16];
    for (unsigned i = 0; i < format->nb_streams && i < 16; ++i) {
        const AVCodecParameters *par = format->streams[i]->codecpar;
        const AVCodec *codec = avcodec_find_decoder(par->codec_id);
        if (!codec)
            continue;
        decoders[i].reset(avcodec_alloc_context3(codec));
        avcodec_parameters_to_context(decoders[i].get(), par);
        if (avcodec_open2(decoders[i].get(), codec, nullptr) < 0)
            decoders[i].reset();
    }
    // Seek on the sound's clock: its blocks are where the sound can start again.
    const int audioIndex = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    const AVRational audioBase = audioIndex >= 0 ? format->streams[audioIndex]->time_base : AV_TIME_BASE_Q;
    if (from > 0 && (audioIndex < 0 || av_seek_frame(format.get(), audioIndex, av_rescale_q(static_cast<int64_t>(from * AV_TIME_BASE), AV_TIME_BASE_Q, audioBase), AVSEEK_FLAG_BACKWARD) < 0)) {
        ev.error = "seek failed";
        return ev;
    }
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    bool white = false;
    double lastClick = -10, nextAudio = -1;
    auto take = [&](int index) {
        AVCodecContext *c = decoders[index].get();
        const AVRational tb = format->streams[index]->time_base;
        while (avcodec_receive_frame(c, frame) >= 0) {
            const int64_t ts = frame->best_effort_timestamp;
            if (c->codec_type == AVMEDIA_TYPE_VIDEO) {
                const double t = ts == AV_NOPTS_VALUE ? -1 : ts * av_q2d(tb);
                double sum = 0;
                for (int y = 0; y < frame->height; ++y)
                    for (int x = 0; x < frame->width; ++x)
                        sum += frame->data[0][y * frame->linesize[0] + x];
                const bool now = sum / (frame->width * frame->height) > 128;
                if (now && !white && t >= from)
                    ev.flashes.push_back(t);
                white = now;
            } else if (c->codec_type == AVMEDIA_TYPE_AUDIO) {
                // The demuxer times a block's first frame; the others follow on.
                const double t = ts != AV_NOPTS_VALUE ? ts * av_q2d(tb) : nextAudio;
                nextAudio = t + double(frame->nb_samples) / c->sample_rate;
                ev.samples += frame->nb_samples;
                const auto *s = reinterpret_cast<const float *>(frame->extended_data[0]);
                for (int i = 0; i < frame->nb_samples; ++i) {
                    const double at = t + double(i) / c->sample_rate;
                    if (std::fabs(s[i]) > 0.25 && at - lastClick > 0.5 && at >= from) {
                        ev.clicks.push_back(at);
                        lastClick = at;
                    }
                }
            }
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(format.get(), packet) >= 0) {
        const int index = packet->stream_index;
        if (index < 16 && decoders[index] && avcodec_send_packet(decoders[index].get(), packet) >= 0)
            take(index);
        av_packet_unref(packet);
    }
    for (int i = 0; i < 16; ++i) {
        if (decoders[i]) {
            avcodec_send_packet(decoders[i].get(), nullptr);
            take(i);
        }
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    return ev;
}

// Samples per channel a decoder's raw float output holds (the decoder gives 32-bit floats).
std::int64_t RawSamples(const QString &file, int channels)
{
    return QFileInfo(file).size() / (4 * channels);
}

struct CookCase
{
    const char *name;
    const char *audience;
    int channels;
    bool voice = false;
    bool audioOnly = false;
};

class EngineCook : public ::testing::TestWithParam<CookCase>
{
};

TEST_P(EngineCook, OutsideReadersAgree)
{
    const FlashClip &clip = FlashClip::Get();
    ASSERT_TRUE(clip.error.isEmpty()) << clip.error.toStdString();
    const CookCase &c = GetParam();
    QTemporaryDir out;
    const QString film = out.filePath(QStringLiteral("film.rm"));
    JobSettings job = EngineRunner::Job(clip.path, film, QString::fromUtf8(c.audience));
    job.singlePass = true;
    job.codec = CodecEffort::Rv8;
    job.audioOnly = c.audioOnly;
    if (c.voice)
        job.audioMode = AudioMode::Voice;
    const corva::test::Outcome o = EngineRunner::Encode(job);
    ASSERT_TRUE(o.succeeded) << o.reason.toStdString();

    // ffprobe: cook at the flavour's rate and channels, the source's length within a frame.
    const QJsonObject probe = MediaTools::Probe(film);
    QJsonObject audio;
    for (const QJsonValue &s : probe.value("streams").toArray())
        if (s.toObject().value("codec_type").toString() == "audio")
            audio = s.toObject();
    EXPECT_EQ(audio.value("codec_name").toString(), QStringLiteral("cook"));
    EXPECT_EQ(audio.value("sample_rate").toString().toInt(), 44100);
    EXPECT_EQ(audio.value("channels").toInt(), c.channels);
    EXPECT_NEAR(audio.value("duration").toString().toDouble(), kSeconds, kFrameSeconds + 1e-3);
    EXPECT_NEAR(probe.value("format").toObject().value("duration").toString().toDouble(), kSeconds, kFrameSeconds + 1e-3);
    // mediainfo knows the codec.
    bool mediainfoCook = false;
    for (const QJsonObject &t : MediaTools::MediaInfoTracks(film))
        mediainfoCook |= t.value("@type").toString() == "Audio" && t.value("CodecID").toString() == "cook";
    EXPECT_TRUE(mediainfoCook);
    // FFmpeg decodes it whole without a word.
    EXPECT_EQ(MediaTools::DecodeErrors(film), QString());

    // GStreamer gives as many samples as FFmpeg, within a frame.
    const QString ffRaw = out.filePath("ff.f32"), gstRaw = out.filePath("gst.f32");
    ASSERT_EQ(RunTool("ffmpeg", {"-v", "error", "-y", "-i", film, "-map", "0:a", "-f", "f32le", ffRaw}).exitCode, 0);
    const ToolResult gst =
        RunGstreamer({"filesrc", "location=" + film, "!", "rmdemux", "!", "avdec_cook", "!", "filesink", "location=" + gstRaw});
    ASSERT_EQ(gst.exitCode, 0) << gst.err.toStdString();
    const std::int64_t ffSamples = RawSamples(ffRaw, c.channels);
    EXPECT_GE(ffSamples, static_cast<std::int64_t>(kSeconds * 44100) - 3 * 1024);
    EXPECT_LE(std::llabs(RawSamples(gstRaw, c.channels) - ffSamples), 1024);

    // Click and flash together, from the start and after a seek past the first pair.
    for (double from : {0.0, 2.5}) {
        const Events ev = FindEvents(film, from);
        ASSERT_TRUE(ev.error.isEmpty()) << ev.error.toStdString();
        std::vector<double> expected;
        for (double e : kEvents)
            if (e >= from)
                expected.push_back(e);
        ASSERT_EQ(ev.clicks.size(), expected.size()) << "from " << from;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_NEAR(ev.clicks[i], expected[i], 0.040) << "from " << from;
            if (!c.audioOnly) {
                ASSERT_EQ(ev.flashes.size(), expected.size()) << "from " << from;
                EXPECT_NEAR(ev.clicks[i], ev.flashes[i], 0.040) << "from " << from;
            }
        }
    }

    // jj joins two such films whole: both halves' sound and pictures, without a decoder message.
    const QString joined = out.filePath("joined.rm");
    const ToolResult jj = RunTool(QStringLiteral(CORVA_APP_DIR "/jj"), {"-i", film, "-i", film, "-o", joined});
    ASSERT_EQ(jj.exitCode, 0) << jj.err.toStdString();
    EXPECT_EQ(MediaTools::DecodeErrors(joined), QString());
    const Events both = FindEvents(joined, 0);
    ASSERT_EQ(both.clicks.size(), 4u);
    if (!c.audioOnly) {
        ASSERT_EQ(both.flashes.size(), 4u);
        for (std::size_t i = 0; i < 4; ++i)
            EXPECT_NEAR(both.clicks[i], both.flashes[i], 0.040) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Audiences, EngineCook,
    ::testing::Values(CookCase{"Standard450", "标准画质 CBR 450Kbps", 2}, CookCase{"Dvd650", "DVD影碟 VBR 高画质 650Kbps", 2},
                      CookCase{"Narrow150", "窄带上网 CBR 150Kbps", 1}, CookCase{"Normal300", "普通画质 CBR 300Kbps", 2},
                      CookCase{"Clear500", "清晰画质 VBR 500Kbps", 2}, CookCase{"High900", "高清画质 VBR 900Kbps", 2},
                      CookCase{"Top1500", "超高画质 CBR 1500Kbps", 2},
                      CookCase{"Voice", "标准画质 CBR 450Kbps", 1, true, false},
                      CookCase{"AudioOnly", "标准画质 CBR 450Kbps", 2, false, true}),
    [](const auto &row) { return std::string(row.param.name); });

} // namespace
