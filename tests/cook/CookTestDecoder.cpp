#include "CookTestDecoder.h"

#include "engine/FfmpegOwners.h"
#include "../support/FfmpegErrorLog.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/lfg.h>
}

#include <cstring>
#include <stdexcept>

namespace corva::cook::test {

struct CookTestDecoder::Impl {
    CodecContextPtr ctx;
    PacketPtr packet{av_packet_alloc()};
    FramePtr frame{av_frame_alloc()};
};

CookTestDecoder::CookTestDecoder(const Flavour &flavour) : m_impl(std::make_unique<Impl>())
{
    corva::test::FfmpegErrorLog::Install();
    const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_COOK);
    if (!codec)
        throw std::runtime_error("FFmpeg has no cook decoder");
    m_impl->ctx.reset(avcodec_alloc_context3(codec));
    AVCodecContext *c = m_impl->ctx.get();
    c->sample_rate = flavour.sampleRate;
    av_channel_layout_default(&c->ch_layout, flavour.channels);
    // What the demuxer hands over: one coded frame per block, the set-up bytes as extradata.
    c->block_align = flavour.frameBytes;
    const std::vector<std::uint8_t> setup = flavour.SetupBytes();
    c->extradata = static_cast<std::uint8_t *>(av_mallocz(setup.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::memcpy(c->extradata, setup.data(), setup.size());
    c->extradata_size = static_cast<int>(setup.size());
    if (avcodec_open2(c, codec, nullptr) < 0)
        throw std::runtime_error("FFmpeg's cook decoder refused the set-up");
    m_samples.resize(static_cast<std::size_t>(flavour.channels));
}

CookTestDecoder::~CookTestDecoder() = default;

bool CookTestDecoder::Send(const std::vector<std::uint8_t> &data)
{
    AVPacket *p = m_impl->packet.get();
    if (av_new_packet(p, static_cast<int>(data.size())) < 0)
        return false;
    std::memcpy(p->data, data.data(), data.size());
    const int sent = avcodec_send_packet(m_impl->ctx.get(), p);
    av_packet_unref(p);
    if (sent < 0)
        return false;
    for (;;) {
        const int r = avcodec_receive_frame(m_impl->ctx.get(), m_impl->frame.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            return true;
        if (r < 0)
            return false;
        const AVFrame *f = m_impl->frame.get();
        if (f->format != AV_SAMPLE_FMT_FLTP)
            throw std::runtime_error("cook decoder gave an unexpected sample format");
        for (std::size_t ch = 0; ch < m_samples.size(); ++ch) {
            const auto *s = reinterpret_cast<const float *>(f->extended_data[ch]);
            m_samples[ch].insert(m_samples[ch].end(), s, s + f->nb_samples);
        }
        av_frame_unref(m_impl->frame.get());
    }
}

std::vector<std::string> CookTestDecoder::TakeErrors()
{
    return corva::test::FfmpegErrorLog::Take();
}

struct FfmpegNoise::State {
    AVLFG lfg;
};

FfmpegNoise::FfmpegNoise() : m_state(std::make_unique<State>())
{
    av_lfg_init(&m_state->lfg, 0);
}

FfmpegNoise::~FfmpegNoise() = default;

std::uint32_t FfmpegNoise::Next() { return av_lfg_get(&m_state->lfg); }

} // namespace corva::cook::test
