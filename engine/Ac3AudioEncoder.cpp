#include "engine/Ac3AudioEncoder.h"

#include "engine/AvText.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <cmath>

namespace corva {

QString Ac3AudioEncoder::Open(int sampleRate, int channels, int64_t bitRate)
{
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_AC3);
    if (!codec)
        return QStringLiteral("这套 FFmpeg 库没有 AC-3 音频编码器");
    m_context.reset(avcodec_alloc_context3(codec));
    m_packet.reset(av_packet_alloc());
    AVCodecContext *c = m_context.get();
    if (!c || !m_packet)
        return QStringLiteral("内存不足，无法准备音频编码");
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    c->sample_rate = sampleRate;
    av_channel_layout_default(&c->ch_layout, channels);
    c->bit_rate = bitRate;
    c->time_base = AVRational{1, sampleRate};
    const int r = avcodec_open2(c, codec, nullptr);
    if (r < 0)
        return QStringLiteral("无法打开 AC-3 音频编码器（%1 Hz，%2 声道）：%3").arg(sampleRate).arg(channels).arg(AvText::Reason(r));
    return {};
}

int Ac3AudioEncoder::FrameSize() const
{
    return m_context->frame_size;
}

AVRational Ac3AudioEncoder::TimeBase() const
{
    return m_context->time_base;
}

QString Ac3AudioEncoder::Encode(const AVFrame *frame, const FrameFn &out)
{
    int r = avcodec_send_frame(m_context.get(), frame);
    if (r < 0 && r != AVERROR_EOF)
        return QStringLiteral("压缩声音时编码出错：%1").arg(AvText::Reason(r));
    for (;;) {
        r = avcodec_receive_packet(m_context.get(), m_packet.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            return {};
        if (r < 0)
            return QStringLiteral("压缩声音时编码出错：%1").arg(AvText::Reason(r));
        const AVRational tb = m_context->time_base;
        const int64_t pts = m_packet->pts != AV_NOPTS_VALUE ? m_packet->pts : 0;
        const auto ms = static_cast<std::uint32_t>(std::llround(double(std::max<int64_t>(pts, 0)) * 1000.0 * tb.num / tb.den));
        QString error = out(std::span<const std::uint8_t>(m_packet->data, static_cast<std::size_t>(m_packet->size)), ms);
        av_packet_unref(m_packet.get());
        if (!error.isEmpty())
            return error;
    }
}

} // namespace corva
