#include "engine/SourceReader.h"

#include "engine/AvText.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <chrono>
#include <thread>

namespace corva {

namespace {

int64_t pictureArea(const AVCodecParameters *par)
{
    return int64_t{par->width} * int64_t{par->height};
}

// How long a decoded frame lasts, in its stream's time base (0 when it does not say).
int64_t frameDuration(const AVFrame *frame)
{
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(57, 30, 100)
    return frame->duration;
#else
    return frame->pkt_duration;
#endif
}

} // namespace

SourceReader::SourceReader(const QString &input, AVRational frameRate, std::stop_token stop)
    : m_input(input), m_frameRate(frameRate), m_stop(std::move(stop))
{
}

QString SourceReader::Error()
{
    std::lock_guard lock(m_mutex);
    return m_error;
}

QString SourceReader::OpenDecoder(Lane &lane, bool video) const
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
            lane.decoder->thread_count = pictureArea(par) > 720 * 576 ? 0 : 1;
        r = avcodec_open2(lane.decoder.get(), codec, nullptr);
    }
    if (r < 0)
        return QStringLiteral("无法解码输入文件 %1 的%2：%3").arg(m_input, video ? QStringLiteral("视频") : QStringLiteral("音频"), AvText::Reason(r));
    return {};
}

void SourceReader::ReadFailed(const QString &reason)
{
    std::lock_guard lock(m_mutex);
    if (m_error.isEmpty())
        m_error = reason;
}

bool SourceReader::InitFilter(Lane &lane, const AVFrame *frame)
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
        const AVRational rate = m_frameRate;
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

bool SourceReader::Filter(Lane &lane, AVFrame *frame, FrameQueue &queue)
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

bool SourceReader::PadToFrameSize(const Lane &lane, FramePtr &frame)
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

bool SourceReader::Feed(Lane &lane, AVFrame *frame, int64_t endPts, FrameQueue &queue)
{
    int r = frame ? av_buffersrc_add_frame_flags(lane.source, frame, 0)
                  : av_buffersrc_close(lane.source, endPts, AV_BUFFERSRC_FLAG_PUSH);
    if (r < 0) {
        ReadFailed(QStringLiteral("处理输入文件 %1 的内容时出错：%2").arg(m_input, AvText::Reason(r)));
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
            ReadFailed(QStringLiteral("处理输入文件 %1 的内容时出错：%2").arg(m_input, AvText::Reason(r)));
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
        if (!queue.Push(FrameQueue::Item{lane.kind, std::move(out)}, m_stop))
            return false;
    }
}

bool SourceReader::DecodeAndFilter(Lane &lane, AVPacket *packet, FrameQueue &queue)
{
    int r = avcodec_send_packet(lane.decoder.get(), packet);
    if (r == AVERROR_INVALIDDATA) {
        ++m_badPackets;
    } else if (r < 0 && r != AVERROR(EAGAIN) && r != AVERROR_EOF) {
        ReadFailed(QStringLiteral("解码输入文件 %1 时出错：%2").arg(m_input, AvText::Reason(r)));
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
            ReadFailed(QStringLiteral("解码输入文件 %1 时出错：%2").arg(m_input, AvText::Reason(r)));
            return false;
        }
        int64_t pts = frame->best_effort_timestamp;
        if (pts == AV_NOPTS_VALUE)
            pts = lane.nextPts != AV_NOPTS_VALUE ? lane.nextPts : lane.startOffset;
        // Whole job on one clock starting at 0, audio and picture alike.
        frame->pts = pts - lane.startOffset;
        int64_t length = frameDuration(frame.get());
        if (lane.kind == FrameQueue::Kind::Audio && frame->sample_rate > 0)
            length = av_rescale_q(frame->nb_samples, AVRational{1, frame->sample_rate}, tb);
        else if (length <= 0 && m_frameRate.num > 0)
            length = av_rescale_q(1, av_inv_q(m_frameRate), tb);
        lane.nextPts = pts + std::max<int64_t>(length, 1);
        const double reached = static_cast<double>(frame->pts + length) * av_q2d(tb);
        if (reached > m_readSeconds.load())
            m_readSeconds.store(reached);
        if (!Filter(lane, frame.get(), queue))
            return false;
        av_frame_unref(frame.get());
    }
}

void SourceReader::ReadAll(AVFormatContext *format, Lane &video, Lane &audio, FrameQueue &queue)
{
    PacketPtr packet(av_packet_alloc());
    if (!packet) {
        ReadFailed(QStringLiteral("内存不足"));
        queue.Close();
        return;
    }
    bool ok = true;
    while (ok && !stopped()) {
        int r = av_read_frame(format, packet.get());
        if (r == AVERROR(EAGAIN)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        if (r == AVERROR_EOF)
            break;
        if (r < 0) {
            if (!stopped())
                ReadFailed(QStringLiteral("读取输入文件 %1 时出错，文件可能已损坏或不完整：%2").arg(m_input, AvText::Reason(r)));
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
        if (ok && !stopped() && lane->active())
            ok = DecodeAndFilter(*lane, nullptr, queue) && Filter(*lane, nullptr, queue);
    }
    if (ok && !stopped())
        queue.Push(FrameQueue::Item{FrameQueue::Kind::End, nullptr}, m_stop);
    else
        queue.Close();
}

} // namespace corva
