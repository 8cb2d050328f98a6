#pragma once

#include "engine/FfmpegOwners.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <span>

namespace corva {

// The sound side of a job: AC-3 frames from filtered sound, on FFmpeg's encoder.
class Ac3AudioEncoder final
{
public:
    // Each coded frame with its time in ms; a non-empty return stops the encoding with that reason.
    using FrameFn = std::function<QString(std::span<const std::uint8_t>, std::uint32_t)>;

    QString Open(int sampleRate, int channels, int64_t bitRate);
    // Samples per frame the encoder takes (whole frames only).
    int FrameSize() const;
    AVRational TimeBase() const;
    // `frame` nullptr drains the encoder.
    QString Encode(const AVFrame *frame, const FrameFn &out);

private:
    CodecContextPtr m_context;
    PacketPtr m_packet;
};

} // namespace corva
