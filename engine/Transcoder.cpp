#include "engine/Transcoder.h"

#include "common/Gbk.h"
#include "engine/EncodePlan.h"
#include "engine/FfmpegOwners.h"
#include "engine/FrameQueue.h"
#include "rmff/RmLimits.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
}

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

namespace corva {

namespace {

std::filesystem::path fsPath(const QString &path)
{
    return std::filesystem::path(path.toStdU16String());
}

QString ffmpegText(int error)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return QString::fromUtf8(text);
}

// The few causes a user can do something about get words of their own.
QString reasonText(int error)
{
    if (error == AVERROR(ENOENT))
        return QStringLiteral("文件不存在");
    if (error == AVERROR(EACCES) || error == AVERROR(EPERM))
        return QStringLiteral("没有访问权限");
    if (error == AVERROR(ENOSPC) || error == AVERROR(EFBIG) || error == AVERROR(EDQUOT))
        return QStringLiteral("磁盘空间不足");
    if (error == AVERROR(EROFS))
        return QStringLiteral("磁盘是只读的");
    if (error == AVERROR(EISDIR))
        return QStringLiteral("这是一个文件夹");
    if (error == AVERROR_INVALIDDATA)
        return QStringLiteral("数据无效或已损坏");
    if (error == AVERROR(ENOMEM))
        return QStringLiteral("内存不足");
    if (error == AVERROR(EIO))
        return QStringLiteral("读写出错");
    return ffmpegText(error);
}

int interruptRequested(void *opaque)
{
    return static_cast<const std::atomic<bool> *>(opaque)->load() ? 1 : 0;
}

AVIOInterruptCB interruptFor(const std::atomic<bool> &abort)
{
    return AVIOInterruptCB{interruptRequested, const_cast<std::atomic<bool> *>(&abort)};
}

constexpr const char *kAbortedReason = "压缩已取消";
// Room left under 2 GiB for the index and trailer.
constexpr int64_t kMaxOutputBytes = static_cast<int64_t>(corva::rmff::kMaxFileBytes) + 1 - (int64_t{16} << 20);

// One stream's way from the decoder through its filter chain.
struct Lane
{
    int index = -1;
    AVStream *stream = nullptr;
    CodecContextPtr decoder;
    FilterGraphPtr graph;
    AVFilterContext *source = nullptr;
    AVFilterContext *sink = nullptr;
    QString filters;
    AVRational encoderTimeBase{1, 1};
    int frameSize = 0; // audio: the encoder's fixed frame size
    int64_t startOffset = 0; // in stream time base
    int64_t nextPts = AV_NOPTS_VALUE;
    int64_t nextOutPts = 0; // in encoder time base
    // What the current filter chain was built for.
    int inWidth = 0;
    int inHeight = 0;
    int inFormat = -1;
    int inRate = 0;
    int inChannels = 0;
    FrameQueue::Kind kind = FrameQueue::Kind::Video;
    bool active() const { return index >= 0; }
};

struct Source
{
    InputFormatPtr format;
    int videoIndex = -1;
    int audioIndex = -1;
    SourceInfo info;
    double duration = 0;
    bool durationReliable = false;
    int64_t startTime = 0; // AV_TIME_BASE
};

class Job
{
public:
    Job(const JobSettings &job, const AudienceDefinition &audience, const QString &input, const QString &output,
        const std::atomic<bool> &abort, const Transcoder::ProgressFn &progress)
        : m_job(job), m_audience(audience), m_input(input), m_output(output), m_abort(abort), m_progress(progress)
    {
    }

    QString Run();

private:
    QString Check();
    QString OpenSource(Source *source);
    QString Probe();
    QString RunPass(int pass);
    QString OpenDecoder(Lane &lane, bool video);
    QString OpenVideoEncoder(CodecContextPtr *encoder, int pass, bool globalHeader);
    QString OpenAudioEncoder(CodecContextPtr *encoder, bool globalHeader);
    QString OpenOutput(OutputFormatPtr *output, AVCodecContext *video, AVCodecContext *audio, AVStream **videoStream,
                       AVStream **audioStream);

    // Reading thread.
    void ReadAll(AVFormatContext *format, Lane &video, Lane &audio, FrameQueue &queue);
    bool DecodeAndFilter(Lane &lane, AVPacket *packet, FrameQueue &queue);
    bool Filter(Lane &lane, AVFrame *frame, FrameQueue &queue);
    bool Feed(Lane &lane, AVFrame *frame, int64_t endPts, FrameQueue &queue);
    bool PadToFrameSize(const Lane &lane, FramePtr &frame);
    bool InitFilter(Lane &lane, const AVFrame *frame);
    void ReadFailed(const QString &reason);

    QString inputFailure(const QString &what, int error) const
    {
        return QStringLiteral("%1输入文件 %2：%3").arg(what, m_input, reasonText(error));
    }
    QString outputFailure(int error) const
    {
        return QStringLiteral("写入输出文件 %1 失败：%2").arg(m_output, reasonText(error));
    }

    const JobSettings &m_job;
    const AudienceDefinition &m_audience;
    const QString m_input;
    const QString m_output;
    const QString m_temp = Transcoder::TempPathFor(m_output);
    const std::atomic<bool> &m_abort;
    const Transcoder::ProgressFn &m_progress;

    Source m_probe;
    EncodePlan m_plan;
    std::string m_stats; // first-pass rate-control statistics, read by the second pass

    // Shared by the reading thread and the encoding thread for the current pass.
    std::mutex m_readMutex;
    QString m_readError;
    std::atomic<double> m_readSeconds{0};
    std::atomic<int64_t> m_readBytes{0};
    int64_t m_inputSize = 0;
    int m_goodPackets = 0;
    int m_badPackets = 0;
};

QString Job::Check()
{
    const QFileInfo in(m_input);
    if (!in.exists())
        return QStringLiteral("找不到输入文件 %1").arg(m_input);
    if (in.isDir())
        return QStringLiteral("输入 %1 是一个文件夹，不是影音文件").arg(m_input);
    if (in.size() == 0)
        return QStringLiteral("输入文件 %1 是空文件").arg(m_input);

    const QFileInfo out(m_output);
    const QFileInfo folder(out.absolutePath());
    if (!folder.exists())
        return QStringLiteral("输出文件夹 %1 不存在").arg(QDir::toNativeSeparators(out.absolutePath()));
    if (!folder.isDir())
        return QStringLiteral("输出位置 %1 不是文件夹").arg(QDir::toNativeSeparators(out.absolutePath()));
    if (out.isDir())
        return QStringLiteral("输出路径 %1 是一个文件夹，请给出文件名").arg(m_output);
    if (out.exists()) {
        // Same file by identity: another spelling, a link or a hard link of the input.
        std::error_code error;
        if (std::filesystem::equivalent(fsPath(m_input), fsPath(m_output), error))
            return QStringLiteral("输出文件 %1 就是输入文件本身，请换一个输出文件名").arg(m_output);
    }
    return {};
}

QString Job::OpenSource(Source *source)
{
    AVFormatContext *context = avformat_alloc_context();
    if (!context)
        return QStringLiteral("内存不足，无法打开输入文件 %1").arg(m_input);
    context->interrupt_callback = interruptFor(m_abort);
    // On failure avformat_open_input frees the context itself.
    int r = avformat_open_input(&context, m_input.toUtf8().constData(), nullptr, nullptr);
    if (r < 0) {
        if (m_abort)
            return QString::fromUtf8(kAbortedReason);
        if (r == AVERROR_INVALIDDATA)
            return QStringLiteral("无法识别输入文件 %1：它不是影音文件，或者已经损坏").arg(m_input);
        return inputFailure(QStringLiteral("无法打开"), r);
    }
    source->format.reset(context);
    r = avformat_find_stream_info(context, nullptr);
    if (r < 0) {
        if (m_abort)
            return QString::fromUtf8(kAbortedReason);
        return QStringLiteral("无法识别输入文件 %1 中的内容：%2").arg(m_input, reasonText(r));
    }

    // The largest real picture stream; cover art is not a film.
    int bestArea = 0;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream *st = context->streams[i];
        const AVCodecParameters *par = st->codecpar;
        if (par->codec_type != AVMEDIA_TYPE_VIDEO || (st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            continue;
        if (!avcodec_find_decoder(par->codec_id) || par->width <= 0 || par->height <= 0)
            continue;
        if (par->width * par->height > bestArea) {
            bestArea = par->width * par->height;
            source->videoIndex = static_cast<int>(i);
        }
    }
    const AVCodec *audioDecoder = nullptr;
    r = av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, source->videoIndex, &audioDecoder, 0);
    if (r >= 0 && audioDecoder)
        source->audioIndex = r;

    SourceInfo &info = source->info;
    if (source->videoIndex >= 0) {
        AVStream *st = context->streams[source->videoIndex];
        info.hasVideo = true;
        info.width = st->codecpar->width;
        info.height = st->codecpar->height;
        info.sampleAspect = av_guess_sample_aspect_ratio(context, st, nullptr);
        info.frameRate = av_guess_frame_rate(context, st, nullptr);
    }
    if (source->audioIndex >= 0) {
        const AVCodecParameters *par = context->streams[source->audioIndex]->codecpar;
        info.hasAudio = true;
        info.sampleRate = par->sample_rate;
        info.channels = par->ch_layout.nb_channels;
    }
    source->startTime = context->start_time != AV_NOPTS_VALUE ? context->start_time : 0;
    if (context->duration > 0) {
        source->duration = static_cast<double>(context->duration) / AV_TIME_BASE;
        source->durationReliable = context->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE;
    }
    return {};
}

QString Job::Probe()
{
    if (QString error = OpenSource(&m_probe); !error.isEmpty())
        return error;
    if (m_probe.videoIndex < 0 && m_probe.audioIndex < 0) {
        QStringList found;
        for (unsigned i = 0; i < m_probe.format->nb_streams; ++i) {
            const AVCodecParameters *par = m_probe.format->streams[i]->codecpar;
            if (par->codec_type == AVMEDIA_TYPE_VIDEO || par->codec_type == AVMEDIA_TYPE_AUDIO)
                found << QString::fromUtf8(avcodec_get_name(par->codec_id));
        }
        if (!found.isEmpty())
            return QStringLiteral("输入文件 %1 中的编码格式（%2）无法解码").arg(m_input, found.join(u'、'));
        return QStringLiteral("输入文件 %1 中没有可以压缩的视频或音频").arg(m_input);
    }
    if (m_job.audioOnly && m_probe.audioIndex < 0)
        return QStringLiteral("输入文件 %1 中没有音频，无法只压缩音频").arg(m_input);
    m_plan = EncodePlan::Make(m_job, m_audience, m_probe.info);
    QFileInfo in(m_input);
    m_inputSize = in.size();
    return {};
}

QString Job::OpenDecoder(Lane &lane, bool video)
{
    const AVCodecParameters *par = lane.stream->codecpar;
    const AVCodec *codec = avcodec_find_decoder(par->codec_id);
    if (!codec)
        return QStringLiteral("输入文件 %1 的编码格式 %2 无法解码").arg(m_input, QString::fromUtf8(avcodec_get_name(par->codec_id)));
    lane.decoder.reset(avcodec_alloc_context3(codec));
    if (!lane.decoder)
        return QStringLiteral("内存不足，无法解码输入文件 %1").arg(m_input);
    int r = avcodec_parameters_to_context(lane.decoder.get(), par);
    if (r >= 0) {
        lane.decoder->pkt_timebase = lane.stream->time_base;
        // Standard-definition pictures decode on the reading thread faster than the encoder
        // takes them; more decoder threads would only add hand-overs. Larger ones get them all.
        if (video)
            lane.decoder->thread_count = par->width * par->height > 720 * 576 ? 0 : 1;
        r = avcodec_open2(lane.decoder.get(), codec, nullptr);
    }
    if (r < 0)
        return QStringLiteral("无法解码输入文件 %1 的%2：%3").arg(m_input, video ? QStringLiteral("视频") : QStringLiteral("音频"), reasonText(r));
    return {};
}

QString Job::OpenVideoEncoder(CodecContextPtr *encoder, int pass, bool globalHeader)
{
    const EncodePlan::Video &v = m_plan.video;
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_RV20);
    if (!codec)
        return QStringLiteral("这套 FFmpeg 库没有 RealVideo 编码器");
    encoder->reset(avcodec_alloc_context3(codec));
    AVCodecContext *c = encoder->get();
    if (!c)
        return QStringLiteral("内存不足，无法准备视频编码");
    c->width = v.width;
    c->height = v.height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->sample_aspect_ratio = AVRational{1, 1};
    c->framerate = v.frameRate;
    c->time_base = av_inv_q(v.frameRate);
    c->gop_size = v.gopSize;
    c->max_b_frames = 0;
    c->bit_rate = v.bitRate;
    c->rc_max_rate = v.maxRate;
    c->rc_buffer_size = v.bufferSize;
    c->rc_initial_buffer_occupancy = v.bufferSize * 3 / 4;
    c->bit_rate_tolerance = static_cast<int>(std::min<int64_t>(v.bitRate, INT32_MAX));
    c->qmin = v.qmin;
    c->qmax = v.qmax;
    c->qcompress = v.qcompress;
    if (m_plan.passes == 2) {
        if (pass == 1) {
            c->flags |= AV_CODEC_FLAG_PASS1;
        } else if (!EncodePlan::SecondPassFeasible(m_stats, v.bitRate, v.frameRate, v.qmax)) {
            // Rate too low for this picture size: the one-pass rate control does its best.
        } else {
            c->flags |= AV_CODEC_FLAG_PASS2;
            c->stats_in = m_stats.data(); // ours: cleared again before the context is freed
        }
    }
    if (globalHeader)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    // The first of two passes only gathers statistics: the cheapest macroblock decision
    // gives the second pass the same information at two thirds of the cost.
    const bool statisticsOnly = m_plan.passes == 2 && pass == 1;
    AVDictionary *raw = nullptr;
    av_dict_set(&raw, "mbd", statisticsOnly ? "simple" : v.macroblockDecision, 0);
    if (v.trellis && !statisticsOnly)
        av_dict_set(&raw, "trellis", "1", 0);
    DictionaryPtr options(raw);
    const int r = avcodec_open2(c, codec, &raw);
    options.release();
    options.reset(raw);
    if (r < 0)
        return QStringLiteral("无法以 %1x%2 的画面打开 RealVideo 编码器：%3").arg(v.width).arg(v.height).arg(reasonText(r));
    if (av_dict_count(raw) > 0)
        return QStringLiteral("RealVideo 编码器不认识选项 %1").arg(QString::fromUtf8(av_dict_get(raw, "", nullptr, AV_DICT_IGNORE_SUFFIX)->key));
    return {};
}

QString Job::OpenAudioEncoder(CodecContextPtr *encoder, bool globalHeader)
{
    const EncodePlan::Audio &a = m_plan.audio;
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_AC3);
    if (!codec)
        return QStringLiteral("这套 FFmpeg 库没有 AC-3 音频编码器");
    encoder->reset(avcodec_alloc_context3(codec));
    AVCodecContext *c = encoder->get();
    if (!c)
        return QStringLiteral("内存不足，无法准备音频编码");
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    c->sample_rate = a.sampleRate;
    av_channel_layout_default(&c->ch_layout, a.channels);
    c->bit_rate = a.bitRate;
    c->time_base = AVRational{1, a.sampleRate};
    if (globalHeader)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const int r = avcodec_open2(c, codec, nullptr);
    if (r < 0)
        return QStringLiteral("无法打开 AC-3 音频编码器（%1 Hz，%2 声道）：%3").arg(a.sampleRate).arg(a.channels).arg(reasonText(r));
    return {};
}

QString Job::OpenOutput(OutputFormatPtr *output, AVCodecContext *video, AVCodecContext *audio, AVStream **videoStream,
                        AVStream **audioStream)
{
    AVFormatContext *raw = nullptr;
    int r = avformat_alloc_output_context2(&raw, nullptr, "rm", nullptr);
    if (r < 0 || !raw)
        return QStringLiteral("这套 FFmpeg 库不能写 RealMedia 文件");
    output->reset(raw);
    const auto addStream = [&](AVCodecContext *encoder, AVStream **stream) {
        *stream = avformat_new_stream(raw, nullptr);
        if (!*stream)
            return AVERROR(ENOMEM);
        (*stream)->time_base = encoder->time_base;
        return avcodec_parameters_from_context((*stream)->codecpar, encoder);
    };
    if (video && (r = addStream(video, videoStream)) < 0)
        return outputFailure(r);
    if (audio && (r = addStream(audio, audioStream)) < 0)
        return outputFailure(r);

    // The content header keeps bytes as given; players of these files read them as GBK.
    const std::pair<const char *, const QString *> texts[] = {
        {"title", &m_job.title}, {"author", &m_job.author}, {"copyright", &m_job.copyright}};
    for (const auto &[key, text] : texts) {
        if (!text->isEmpty() && (r = av_dict_set(&raw->metadata, key, Gbk::Encode(*text).constData(), 0)) < 0)
            return outputFailure(r);
    }

    const AVIOInterruptCB interrupt = interruptFor(m_abort);
    r = avio_open2(&raw->pb, m_temp.toUtf8().constData(), AVIO_FLAG_WRITE, &interrupt, nullptr);
    if (r < 0) {
        // The folder was there a moment ago, so a missing entry means a place that takes no
        // new files (a system folder), not a missing file.
        const QString why = r == AVERROR(ENOENT) ? QStringLiteral("这里不能创建文件") : reasonText(r);
        return QStringLiteral("无法在文件夹 %1 中写入输出文件 %2：%3")
            .arg(QDir::toNativeSeparators(QFileInfo(m_output).absolutePath()), QFileInfo(m_output).fileName(), why);
    }
    r = avformat_write_header(raw, nullptr);
    if (r < 0)
        return outputFailure(r);
    return {};
}

void Job::ReadFailed(const QString &reason)
{
    std::lock_guard lock(m_readMutex);
    if (m_readError.isEmpty())
        m_readError = reason;
}

bool Job::InitFilter(Lane &lane, const AVFrame *frame)
{
    const bool video = lane.kind == FrameQueue::Kind::Video;
    const AVRational tb = lane.stream->time_base;
    QString args;
    if (video) {
        AVRational sar = frame->sample_aspect_ratio;
        if (sar.num <= 0 || sar.den <= 0)
            sar = AVRational{1, 1};
        args = QStringLiteral("video_size=%1x%2:pix_fmt=%3:time_base=%4/%5:pixel_aspect=%6/%7")
                   .arg(frame->width)
                   .arg(frame->height)
                   .arg(frame->format)
                   .arg(tb.num)
                   .arg(tb.den)
                   .arg(sar.num)
                   .arg(sar.den);
        const AVRational rate = m_probe.info.frameRate;
        if (rate.num > 0 && rate.den > 0)
            args += QStringLiteral(":frame_rate=%1/%2").arg(rate.num).arg(rate.den);
    } else {
        AVChannelLayout layout{};
        if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&layout, frame->ch_layout.nb_channels);
        else if (av_channel_layout_copy(&layout, &frame->ch_layout) < 0)
            return false;
        char layoutText[128] = {};
        av_channel_layout_describe(&layout, layoutText, sizeof layoutText);
        av_channel_layout_uninit(&layout);
        args = QStringLiteral("time_base=%1/%2:sample_rate=%3:sample_fmt=%4:channel_layout=%5")
                   .arg(tb.num)
                   .arg(tb.den)
                   .arg(frame->sample_rate)
                   .arg(QString::fromUtf8(av_get_sample_fmt_name(static_cast<AVSampleFormat>(frame->format))),
                        QString::fromUtf8(layoutText));
    }

    lane.graph.reset(avfilter_graph_alloc());
    if (!lane.graph)
        return false;
    AVFilterGraph *graph = lane.graph.get();
    int r = avfilter_graph_create_filter(&lane.source, avfilter_get_by_name(video ? "buffer" : "abuffer"), "in",
                                         args.toUtf8().constData(), nullptr, graph);
    if (r >= 0)
        r = avfilter_graph_create_filter(&lane.sink, avfilter_get_by_name(video ? "buffersink" : "abuffersink"), "out",
                                         nullptr, nullptr, graph);
    if (r < 0)
        return false;

    FilterInOutPtr outputs(avfilter_inout_alloc());
    FilterInOutPtr inputs(avfilter_inout_alloc());
    if (!outputs || !inputs)
        return false;
    outputs->name = av_strdup("in");
    outputs->filter_ctx = lane.source;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = lane.sink;
    AVFilterInOut *rawInputs = inputs.release();
    AVFilterInOut *rawOutputs = outputs.release();
    r = avfilter_graph_parse_ptr(graph, lane.filters.toUtf8().constData(), &rawInputs, &rawOutputs, nullptr);
    inputs.reset(rawInputs);
    outputs.reset(rawOutputs);
    if (r < 0 || (r = avfilter_graph_config(graph, nullptr)) < 0)
        return false;
    if (!video)
        av_buffersink_set_frame_size(lane.sink, static_cast<unsigned>(lane.frameSize));
    lane.inWidth = frame->width;
    lane.inHeight = frame->height;
    lane.inFormat = frame->format;
    lane.inRate = frame->sample_rate;
    lane.inChannels = frame->ch_layout.nb_channels;
    return true;
}

bool Job::Filter(Lane &lane, AVFrame *frame, FrameQueue &queue)
{
    // A stream that changes its picture size or sound format midway (a damaged header, a
    // spliced file) gets a fresh chain; the old one is drained up to the change first.
    if (frame && lane.graph) {
        const bool changed = lane.kind == FrameQueue::Kind::Video
            ? frame->width != lane.inWidth || frame->height != lane.inHeight || frame->format != lane.inFormat
            : frame->sample_rate != lane.inRate || frame->format != lane.inFormat
                || frame->ch_layout.nb_channels != lane.inChannels;
        if (changed) {
            if (!Feed(lane, nullptr, frame->pts, queue))
                return false;
            lane.graph.reset();
            lane.source = nullptr;
            lane.sink = nullptr;
        }
    }
    if (frame && !lane.graph && !InitFilter(lane, frame)) {
        ReadFailed(QStringLiteral("无法为输入文件 %1 建立%2处理过程")
                       .arg(m_input, lane.kind == FrameQueue::Kind::Video ? QStringLiteral("画面") : QStringLiteral("声音")));
        return false;
    }
    if (!lane.graph)
        return true; // flushing a stream that never delivered a frame
    // The end carries the time the last frame lasts until, or the frame-rate filter would
    // drop the last picture.
    return Feed(lane, frame, lane.nextPts != AV_NOPTS_VALUE ? lane.nextPts - lane.startOffset : AV_NOPTS_VALUE, queue);
}

bool Job::PadToFrameSize(const Lane &lane, FramePtr &frame)
{
    FramePtr padded(av_frame_alloc());
    const auto format = static_cast<AVSampleFormat>(frame->format);
    const int channels = frame->ch_layout.nb_channels;
    if (padded) {
        padded->format = frame->format;
        padded->sample_rate = frame->sample_rate;
        padded->nb_samples = lane.frameSize;
        padded->pts = frame->pts;
    }
    if (!padded || av_channel_layout_copy(&padded->ch_layout, &frame->ch_layout) < 0
        || av_frame_get_buffer(padded.get(), 0) < 0) {
        ReadFailed(QStringLiteral("内存不足"));
        return false;
    }
    av_samples_set_silence(padded->extended_data, 0, lane.frameSize, channels, format);
    av_samples_copy(padded->extended_data, frame->extended_data, 0, 0, frame->nb_samples, channels, format);
    frame = std::move(padded);
    return true;
}

bool Job::Feed(Lane &lane, AVFrame *frame, int64_t endPts, FrameQueue &queue)
{
    int r = frame ? av_buffersrc_add_frame_flags(lane.source, frame, 0)
                  : av_buffersrc_close(lane.source, endPts, AV_BUFFERSRC_FLAG_PUSH);
    if (r < 0) {
        ReadFailed(QStringLiteral("处理输入文件 %1 的内容时出错：%2").arg(m_input, reasonText(r)));
        return false;
    }
    const AVRational sinkBase = av_buffersink_get_time_base(lane.sink);
    for (;;) {
        FramePtr out(av_frame_alloc());
        if (!out) {
            ReadFailed(QStringLiteral("内存不足"));
            return false;
        }
        r = av_buffersink_get_frame(lane.sink, out.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            return true;
        if (r < 0) {
            ReadFailed(QStringLiteral("处理输入文件 %1 的内容时出错：%2").arg(m_input, reasonText(r)));
            return false;
        }
        out->pts = out->pts != AV_NOPTS_VALUE ? av_rescale_q(out->pts, sinkBase, lane.encoderTimeBase) : lane.nextOutPts;
        // Damaged timestamps must not run backwards into the muxer: sound is moved up to
        // follow on, a picture that would repeat a time is dropped.
        if (out->pts < lane.nextOutPts) {
            if (lane.kind == FrameQueue::Kind::Video)
                continue;
            out->pts = lane.nextOutPts;
        }
        // The AC-3 encoder takes whole frames only; a chain drained midway ends in a short one.
        if (lane.kind == FrameQueue::Kind::Audio && out->nb_samples < lane.frameSize && !PadToFrameSize(lane, out))
            return false;
        lane.nextOutPts = out->pts + (lane.kind == FrameQueue::Kind::Video ? 1 : out->nb_samples);
        if (!queue.Push(FrameQueue::Item{lane.kind, std::move(out)}, m_abort))
            return false;
    }
}

bool Job::DecodeAndFilter(Lane &lane, AVPacket *packet, FrameQueue &queue)
{
    int r = avcodec_send_packet(lane.decoder.get(), packet);
    if (r == AVERROR_INVALIDDATA) {
        ++m_badPackets;
    } else if (r < 0 && r != AVERROR(EAGAIN) && r != AVERROR_EOF) {
        ReadFailed(QStringLiteral("解码输入文件 %1 时出错：%2").arg(m_input, reasonText(r)));
        return false;
    } else if (packet) {
        ++m_goodPackets;
    }
    FramePtr frame(av_frame_alloc());
    if (!frame) {
        ReadFailed(QStringLiteral("内存不足"));
        return false;
    }
    const AVRational tb = lane.stream->time_base;
    for (;;) {
        r = avcodec_receive_frame(lane.decoder.get(), frame.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            return true;
        if (r == AVERROR_INVALIDDATA) {
            ++m_badPackets;
            continue;
        }
        if (r < 0) {
            ReadFailed(QStringLiteral("解码输入文件 %1 时出错：%2").arg(m_input, reasonText(r)));
            return false;
        }
        int64_t pts = frame->best_effort_timestamp;
        if (pts == AV_NOPTS_VALUE)
            pts = lane.nextPts != AV_NOPTS_VALUE ? lane.nextPts : lane.startOffset;
        // Whole job on one clock starting at 0, audio and picture alike.
        frame->pts = pts - lane.startOffset;
        int64_t length = frame->pkt_duration;
        if (lane.kind == FrameQueue::Kind::Audio && frame->sample_rate > 0)
            length = av_rescale_q(frame->nb_samples, AVRational{1, frame->sample_rate}, tb);
        else if (length <= 0 && m_probe.info.frameRate.num > 0)
            length = av_rescale_q(1, av_inv_q(m_probe.info.frameRate), tb);
        lane.nextPts = pts + std::max<int64_t>(length, 1);
        const double reached = static_cast<double>(frame->pts + length) * av_q2d(tb);
        if (reached > m_readSeconds.load())
            m_readSeconds.store(reached);
        if (!Filter(lane, frame.get(), queue))
            return false;
        av_frame_unref(frame.get());
    }
}

void Job::ReadAll(AVFormatContext *format, Lane &video, Lane &audio, FrameQueue &queue)
{
    PacketPtr packet(av_packet_alloc());
    if (!packet) {
        ReadFailed(QStringLiteral("内存不足"));
        queue.Close();
        return;
    }
    bool ok = true;
    while (ok && !m_abort) {
        int r = av_read_frame(format, packet.get());
        if (r == AVERROR(EAGAIN)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        if (r == AVERROR_EOF)
            break;
        if (r < 0) {
            if (!m_abort)
                ReadFailed(QStringLiteral("读取输入文件 %1 时出错，文件可能已损坏或不完整：%2").arg(m_input, reasonText(r)));
            ok = false;
            break;
        }
        if (format->pb)
            m_readBytes.store(avio_tell(format->pb));
        Lane *lane = packet->stream_index == video.index ? &video : packet->stream_index == audio.index ? &audio : nullptr;
        if (lane)
            ok = DecodeAndFilter(*lane, packet.get(), queue);
        av_packet_unref(packet.get());
        // A few broken packets are common in old files; a stream of them is not a film.
        if (ok && m_badPackets > 10 + m_goodPackets / 20) {
            ReadFailed(QStringLiteral("输入文件 %1 已损坏：有太多无法解码的数据").arg(m_input));
            ok = false;
        }
    }
    // Drain what the decoders and filters still hold, then tell the encoder.
    for (Lane *lane : {&video, &audio}) {
        if (ok && !m_abort && lane->active())
            ok = DecodeAndFilter(*lane, nullptr, queue) && Filter(*lane, nullptr, queue);
    }
    if (ok && !m_abort)
        queue.Push(FrameQueue::Item{FrameQueue::Kind::End, nullptr}, m_abort);
    else
        queue.Close();
}

QString Job::RunPass(int pass)
{
    const bool finalPass = pass == m_plan.passes;
    const bool useVideo = m_plan.video.enabled;
    const bool useAudio = m_plan.audio.enabled && finalPass;

    Source source;
    if (pass == 1) {
        // The probe already opened the file once; reuse it.
        source = std::move(m_probe);
    } else if (QString error = OpenSource(&source); !error.isEmpty()) {
        return error;
    }
    AVFormatContext *format = source.format.get();

    Lane video;
    Lane audio;
    video.kind = FrameQueue::Kind::Video;
    audio.kind = FrameQueue::Kind::Audio;
    if (useVideo) {
        video.index = source.videoIndex;
        video.filters = m_plan.video.filters;
    }
    if (useAudio) {
        audio.index = source.audioIndex;
        audio.filters = m_plan.audio.filters;
    }
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const int index = static_cast<int>(i);
        format->streams[i]->discard = index == video.index || index == audio.index ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    for (Lane *lane : {&video, &audio}) {
        if (!lane->active())
            continue;
        lane->stream = format->streams[lane->index];
        lane->startOffset = av_rescale_q(source.startTime, AV_TIME_BASE_Q, lane->stream->time_base);
        if (QString error = OpenDecoder(*lane, lane == &video); !error.isEmpty())
            return error;
    }

    OutputFormatPtr output;
    CodecContextPtr videoEncoder;
    CodecContextPtr audioEncoder;
    AVStream *videoStream = nullptr;
    AVStream *audioStream = nullptr;
    // Pass 2 takes the statistics' memory only on loan; it must not outlive m_stats.
    struct StatsLoan
    {
        CodecContextPtr &encoder;
        ~StatsLoan()
        {
            if (encoder)
                encoder->stats_in = nullptr;
        }
    } loan{videoEncoder};

    // Encoders must know before the output exists whether the container wants global headers.
    const AVOutputFormat *rm = av_guess_format("rm", nullptr, nullptr);
    if (!rm)
        return QStringLiteral("这套 FFmpeg 库不能写 RealMedia 文件");
    const bool globalHeader = (rm->flags & AVFMT_GLOBALHEADER) != 0;
    if (useVideo) {
        if (QString error = OpenVideoEncoder(&videoEncoder, pass, globalHeader); !error.isEmpty())
            return error;
        video.encoderTimeBase = videoEncoder->time_base;
    }
    if (useAudio) {
        if (QString error = OpenAudioEncoder(&audioEncoder, globalHeader); !error.isEmpty())
            return error;
        audio.encoderTimeBase = audioEncoder->time_base;
        audio.frameSize = audioEncoder->frame_size;
    }
    if (finalPass) {
        if (QString error = OpenOutput(&output, videoEncoder.get(), audioEncoder.get(), &videoStream, &audioStream);
            !error.isEmpty())
            return error;
    }

    m_readSeconds = 0;
    m_readBytes = 0;
    m_goodPackets = 0;
    m_badPackets = 0;
    m_readError.clear();

    PacketPtr packet(av_packet_alloc());
    if (!packet)
        return QStringLiteral("内存不足，无法压缩 %1").arg(m_input);

    // About a second of pictures in flight is enough to keep both threads busy.
    FrameQueue queue(32);
    std::thread reader([&] { ReadAll(format, video, audio, queue); });

    QString writeError;
    const FrameQueue::Kind leading = useVideo ? FrameQueue::Kind::Video : FrameQueue::Kind::Audio;
    double reached = 0;
    const auto encode = [&](AVCodecContext *encoder, AVStream *stream, const AVFrame *frame) -> bool {
        int r = avcodec_send_frame(encoder, frame);
        if (r < 0 && r != AVERROR_EOF) {
            writeError = QStringLiteral("压缩 %1 时编码出错：%2").arg(m_input, reasonText(r));
            return false;
        }
        for (;;) {
            r = avcodec_receive_packet(encoder, packet.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
                return true;
            if (r < 0) {
                writeError = QStringLiteral("压缩 %1 时编码出错：%2").arg(m_input, reasonText(r));
                return false;
            }
            if (encoder == videoEncoder.get() && (encoder->flags & AV_CODEC_FLAG_PASS1) && encoder->stats_out)
                m_stats += encoder->stats_out;
            if (!output) {
                av_packet_unref(packet.get());
                continue;
            }
            // RealMedia's offsets are 32 bits and players read them signed: beyond 2 GiB the
            // index would point into nowhere.
            if (avio_tell(output->pb) > kMaxOutputBytes) {
                writeError = QStringLiteral("输出文件 %1 超过了 RealMedia 文件 2GB 的上限，请选择较低的压缩率或分段压缩").arg(m_output);
                return false;
            }
            av_packet_rescale_ts(packet.get(), encoder->time_base, stream->time_base);
            packet->stream_index = stream->index;
            r = av_interleaved_write_frame(output.get(), packet.get());
            if (r < 0) {
                if (m_abort)
                    writeError = QString::fromUtf8(kAbortedReason);
                else if (r == AVERROR_PATCHWELCOME)
                    writeError = QStringLiteral("输出文件 %1 的画面数据太大（RealMedia 每帧不能超过 64KB），请缩小画面尺寸").arg(m_output);
                else
                    writeError = outputFailure(r);
                return false;
            }
        }
    };

    bool ended = false;
    while (auto item = queue.Pop(m_abort)) {
        if (item->kind == FrameQueue::Kind::End) {
            ended = true;
            break;
        }
        AVFrame *frame = item->frame.get();
        const bool isVideo = item->kind == FrameQueue::Kind::Video;
        AVCodecContext *encoder = isVideo ? videoEncoder.get() : audioEncoder.get();
        frame->pict_type = AV_PICTURE_TYPE_NONE;
        if (!encode(encoder, isVideo ? videoStream : audioStream, frame))
            break;
        if (item->kind == leading && frame->pts != AV_NOPTS_VALUE) {
            const double length = isVideo ? 1.0 : frame->nb_samples;
            reached = std::max(reached, (static_cast<double>(frame->pts) + length) * av_q2d(encoder->time_base));
            const double duration = m_probe.duration;
            Transcoder::Status status{pass, m_plan.passes, reached, duration, 0};
            if (duration > 0)
                status.fraction = std::min(1.0, reached / duration);
            else if (m_inputSize > 0)
                status.fraction = std::min(1.0, static_cast<double>(m_readBytes.load()) / static_cast<double>(m_inputSize));
            m_progress(status);
        }
    }
    if (!ended)
        queue.Close();
    reader.join();

    if (m_abort)
        return QString::fromUtf8(kAbortedReason);
    {
        std::lock_guard lock(m_readMutex);
        if (!m_readError.isEmpty())
            return m_readError;
    }
    if (!writeError.isEmpty())
        return writeError;
    if (!ended)
        return QStringLiteral("压缩 %1 时意外中断").arg(m_input);

    if (videoEncoder && !encode(videoEncoder.get(), videoStream, nullptr))
        return writeError;
    if (audioEncoder && !encode(audioEncoder.get(), audioStream, nullptr))
        return writeError;

    // A file that stops well before the length its header promises was cut off.
    const double read = m_readSeconds.load();
    if (source.durationReliable && source.duration > 0 && read < source.duration - std::max(2.0, source.duration * 0.1))
        return QStringLiteral("输入文件 %1 不完整：只能读到 %2 秒，而它应有 %3 秒")
            .arg(m_input)
            .arg(read, 0, 'f', 1)
            .arg(source.duration, 0, 'f', 1);
    if (read <= 0)
        return QStringLiteral("输入文件 %1 中没有能解码的画面或声音").arg(m_input);

    if (output) {
        int r = av_write_trailer(output.get());
        if (r < 0)
            return outputFailure(r);
        r = avio_closep(&output->pb);
        if (r < 0)
            return outputFailure(r);
    }
    const double duration = m_probe.duration > 0 ? m_probe.duration : reached;
    m_progress(Transcoder::Status{pass, m_plan.passes, duration, duration, 1.0});
    return {};
}

QString Job::Run()
{
    if (QString error = Check(); !error.isEmpty())
        return error;
    if (QString error = Probe(); !error.isEmpty())
        return error;
    for (int pass = 1; pass <= m_plan.passes; ++pass) {
        QString error = RunPass(pass);
        if (!error.isEmpty()) {
            std::error_code ignored;
            std::filesystem::remove(fsPath(m_temp), ignored);
            return error;
        }
    }
    std::error_code error;
    std::filesystem::rename(fsPath(m_temp), fsPath(m_output), error);
    if (error) {
        std::error_code ignored;
        std::filesystem::remove(fsPath(m_temp), ignored);
        return QStringLiteral("无法把压缩好的文件保存为 %1：%2").arg(m_output, QString::fromStdString(error.message()));
    }
    return {};
}

} // namespace

Transcoder::Transcoder(const JobSettings &job, const AudienceDefinition &audience, const QString &input, const QString &output)
    : m_job(job), m_audience(audience), m_input(input), m_output(output)
{
}

QString Transcoder::Run(const std::atomic<bool> &abort, const ProgressFn &progress)
{
    Job job(m_job, m_audience, m_input, m_output, abort, progress);
    return job.Run();
}

QString Transcoder::TempPathFor(const QString &output)
{
    return output + QStringLiteral(".part");
}

} // namespace corva
