#pragma once

#include "engine/FfmpegOwners.h"
#include "engine/FrameQueue.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <QString>

#include <atomic>
#include <mutex>
#include <stop_token>

namespace corva {

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

// The reading side of a pass: demux, decode and filter the source's picture and sound into
// the frame queue, on a thread of its own; the encoding side takes them from the queue.
class SourceReader final
{
public:
    // `frameRate`: the source's picture rate as the probe found it (for frames that say no length).
    SourceReader(const QString &input, AVRational frameRate, std::stop_token stop);

    QString OpenDecoder(Lane &lane, bool video) const;
    // Reads the whole source; ends the queue with End, or closes it on failure or stop.
    void ReadAll(AVFormatContext *format, Lane &video, Lane &audio, FrameQueue &queue);
    // Records the first failure of the pass.
    void ReadFailed(const QString &reason);

    QString Error();
    double SecondsRead() const { return m_readSeconds.load(); }
    int64_t BytesRead() const { return m_readBytes.load(); }

private:
    bool DecodeAndFilter(Lane &lane, AVPacket *packet, FrameQueue &queue);
    bool Filter(Lane &lane, AVFrame *frame, FrameQueue &queue);
    bool Feed(Lane &lane, AVFrame *frame, int64_t endPts, FrameQueue &queue);
    bool PadToFrameSize(const Lane &lane, FramePtr &frame);
    bool InitFilter(Lane &lane, const AVFrame *frame);
    bool stopped() const { return m_stop.stop_requested(); }

    const QString m_input;
    const AVRational m_frameRate;
    const std::stop_token m_stop;

    std::mutex m_mutex;
    QString m_error;
    std::atomic<double> m_readSeconds{0};
    std::atomic<int64_t> m_readBytes{0};
    int m_goodPackets = 0;
    int m_badPackets = 0;
};

} // namespace corva
