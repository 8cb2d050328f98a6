#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

#include <memory>

namespace corva {

// One deleter and one owner per FFmpeg type, so no early return can leak a context.
// What sits behind an AVIOContext of our own making (its opaque); freed with it.
class CustomInput
{
public:
    virtual ~CustomInput() = default;
};

// An AVIOContext made by us over a CustomInput: FFmpeg may have swapped its buffer, so the
// one it holds now is freed.
struct CustomIoDeleter
{
    void operator()(AVIOContext *io) const
    {
        delete static_cast<CustomInput *>(io->opaque);
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
};
using CustomIoPtr = std::unique_ptr<AVIOContext, CustomIoDeleter>;

struct InputFormatDeleter
{
    void operator()(AVFormatContext *context) const
    {
        // avformat_close_input leaves a caller's own I/O alone.
        CustomIoPtr io(context->flags & AVFMT_FLAG_CUSTOM_IO ? context->pb : nullptr);
        avformat_close_input(&context);
    }
};
using InputFormatPtr = std::unique_ptr<AVFormatContext, InputFormatDeleter>;

// The output owner also closes the file it writes; the success path closes it first itself
// so that a failing final flush (a full disk) is seen.
struct OutputFormatDeleter
{
    void operator()(AVFormatContext *context) const
    {
        if (context->pb && (context->flags & AVFMT_FLAG_CUSTOM_IO)) {
            // Our own I/O on a descriptor we do not own: free the context, close nothing.
            av_freep(&context->pb->buffer);
            avio_context_free(&context->pb);
        } else if (context->pb && !(context->oformat->flags & AVFMT_NOFILE)) {
            avio_closep(&context->pb);
        }
        avformat_free_context(context);
    }
};
using OutputFormatPtr = std::unique_ptr<AVFormatContext, OutputFormatDeleter>;

// The rest are freed by FFmpeg's own function of each, which takes the pointer's address.
template <auto Free>
struct FreedWith
{
    template <typename T>
    void operator()(T *object) const
    {
        Free(&object);
    }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, FreedWith<avcodec_free_context>>;
using FramePtr = std::unique_ptr<AVFrame, FreedWith<av_frame_free>>;
using PacketPtr = std::unique_ptr<AVPacket, FreedWith<av_packet_free>>;
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, FreedWith<avfilter_graph_free>>;
using FilterInOutPtr = std::unique_ptr<AVFilterInOut, FreedWith<avfilter_inout_free>>;
using DictionaryPtr = std::unique_ptr<AVDictionary, FreedWith<av_dict_free>>;

} // namespace corva
