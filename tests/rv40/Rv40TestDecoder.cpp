#include "Rv40TestDecoder.h"

#include "engine/FfmpegOwners.h"
#include "../support/FfmpegErrorLog.h"

#include "rv40/Bitstream.h"
#include "rv40/Encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/cpu.h>
}

#include <cstring>
#include <memory>
#include <string>

namespace corva::rv40::test {

namespace {

void PutLe32(std::vector<std::uint8_t> &out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

} // namespace

struct Rv40TestDecoder::Impl {
    CodecContextPtr ctx;
    PacketPtr pkt{av_packet_alloc()};
    FramePtr frame{av_frame_alloc()};
};

Rv40TestDecoder::Rv40TestDecoder(int width, int height, Arithmetic arithmetic, const Bitstream *format)
    : m_impl(new Impl)
{
    // A one-picture stream makes frame threading print this; it says nothing about the data.
    corva::test::FfmpegErrorLog::Install({"Context scratch buffers could not be allocated"});
    const bool rv30 = format && std::string(format->Fourcc()) == "RV30";
    const AVCodec *codec = avcodec_find_decoder(rv30 ? AV_CODEC_ID_RV30 : AV_CODEC_ID_RV40);
    if (!codec)
        throw std::runtime_error("FFmpeg has no decoder for the bitstream");
    m_impl->ctx.reset(avcodec_alloc_context3(codec));
    AVCodecContext *c = m_impl->ctx.get();
    c->width = width;
    c->height = height;
    const std::vector<std::uint8_t> setup = format ? format->SetupBytes() : CodecSetupBytes();
    c->extradata = static_cast<std::uint8_t *>(av_mallocz(setup.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::memcpy(c->extradata, setup.data(), setup.size());
    c->extradata_size = static_cast<int>(setup.size());
    // The decoder picks its processor-specific functions when it opens; forcing no processor
    // features gives FFmpeg's portable C code, the exact arithmetic.
    if (arithmetic == Arithmetic::PortableC)
        av_force_cpu_flags(0);
    const int opened = avcodec_open2(c, codec, nullptr);
    if (arithmetic == Arithmetic::PortableC)
        av_force_cpu_flags(-1);
    if (opened < 0)
        throw std::runtime_error("cannot open FFmpeg's decoder");
}

Rv40TestDecoder::~Rv40TestDecoder()
{
    delete m_impl;
}

std::vector<std::uint8_t> Rv40TestDecoder::PacketFor(const EncodedPicture &picture)
{
    std::vector<std::uint8_t> out;
    out.push_back(static_cast<std::uint8_t>(picture.slices.size() - 1));
    std::uint32_t offset = 0;
    for (const auto &s : picture.slices) {
        PutLe32(out, 1);
        PutLe32(out, offset);
        offset += static_cast<std::uint32_t>(s.size());
    }
    for (const auto &s : picture.slices)
        out.insert(out.end(), s.begin(), s.end());
    return out;
}

bool Rv40TestDecoder::Send(const EncodedPicture &picture, std::int64_t pts)
{
    const std::vector<std::uint8_t> data = PacketFor(picture);
    AVPacket *p = m_impl->pkt.get();
    if (av_new_packet(p, static_cast<int>(data.size())) < 0)
        return false;
    std::memcpy(p->data, data.data(), data.size());
    p->pts = pts;
    p->dts = pts;
    if (picture.type == PictureType::Intra)
        p->flags |= AV_PKT_FLAG_KEY;
    const int r = avcodec_send_packet(m_impl->ctx.get(), p);
    av_packet_unref(p);
    if (r < 0)
        return false;
    return Drain();
}

bool Rv40TestDecoder::Flush()
{
    if (avcodec_send_packet(m_impl->ctx.get(), nullptr) < 0)
        return false;
    return Drain();
}

bool Rv40TestDecoder::Drain()
{
    for (;;) {
        const int r = avcodec_receive_frame(m_impl->ctx.get(), m_impl->frame.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            return true;
        if (r < 0)
            return false;
        const AVFrame *f = m_impl->frame.get();
        // A slice the decoder rejects without a message still leaves this mark: the picture shown
        // was painted by error concealment, however close it looks to what we coded.
        if (f->decode_error_flags)
            corva::test::FfmpegErrorLog::Add("picture " + std::to_string(m_frames.size()) + " decoded with error flags " +
                                             std::to_string(f->decode_error_flags));
        YuvFrame y;
        y.width = f->width;
        y.height = f->height;
        for (int c = 0; c < 3; ++c) {
            const int w = c ? f->width / 2 : f->width, h = c ? f->height / 2 : f->height;
            y.plane[c].resize(static_cast<std::size_t>(w * h));
            for (int row = 0; row < h; ++row)
                std::memcpy(y.plane[c].data() + row * w, f->data[c] + row * f->linesize[c], static_cast<std::size_t>(w));
        }
        m_frames.push_back(std::move(y));
        av_frame_unref(m_impl->frame.get());
    }
}

std::vector<std::string> Rv40TestDecoder::TakeErrors()
{
    return corva::test::FfmpegErrorLog::Take();
}

} // namespace corva::rv40::test
