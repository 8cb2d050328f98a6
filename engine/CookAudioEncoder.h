#pragma once

#include "cook/Encoder.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/rational.h>
}

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>

namespace corva {

// The sound side of a job: RealAudio cook frames from filtered sound (planar float at the
// flavour's rate and channels), on our own encoder.
class CookAudioEncoder final
{
public:
    // Each coded frame with its time in ms; a non-empty return stops the encoding with that reason.
    using FrameFn = std::function<QString(std::span<const std::uint8_t>, std::uint32_t)>;

    QString Open(int flavour);
    const cook::Flavour &Flavour() const { return m_encoder->GetFlavour(); }
    // Samples per channel the encoder takes at a time.
    int FrameSize() const { return Flavour().frameSamples; }
    AVRational TimeBase() const { return AVRational{1, Flavour().sampleRate}; }
    // `frame` nullptr codes the rest and fills the last interleave block with silence.
    QString Encode(const AVFrame *frame, const FrameFn &out);
    // Where the sound ends, in ms of the output's clock (the block padding after it is silence).
    std::uint32_t EndMs() const;

private:
    QString Emit(const FrameFn &out);

    std::unique_ptr<cook::Encoder> m_encoder;
    std::optional<int64_t> m_firstSample; // the first frame's time, in samples
    int64_t m_framesOut = 0;
};

} // namespace corva
