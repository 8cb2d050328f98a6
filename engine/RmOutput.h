#pragma once

#include "engine/JobSettings.h"
#include "rmff/RmMuxer.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace corva {

class TemporaryOutput;
namespace rmff {
class FileSink;
}

// The RealMedia file a job writes: our own muxer over a temporary output that takes the
// output's place only once the file is whole. Every failure comes back as a reason in words.
class RmOutput final
{
public:
    explicit RmOutput(QString output);
    ~RmOutput(); // discards an uncommitted file

    QString Open(const std::optional<rmff::MuxVideo> &video, const std::optional<rmff::MuxAudio> &audio,
                 const JobSettings &job);
    QString WriteVideo(std::span<const std::vector<std::uint8_t>> slices, std::uint32_t timestampMs, bool keyframe);
    QString WriteAudio(std::span<const std::uint8_t> frame, std::uint32_t timestampMs);
    // Where the sound ends when its last interleave block is padded with silence.
    void SetAudioEnd(std::uint32_t ms);
    // Writes the index and the totals, and flushes; the file is still temporary.
    QString Finish();
    // Puts the finished file in the output's place.
    QString Commit();
    void Discard();

private:
    QString Failure(const std::exception &e) const;

    const QString m_output;
    std::unique_ptr<TemporaryOutput> m_temp;
    std::unique_ptr<rmff::FileSink> m_sink;
    std::unique_ptr<rmff::RmMuxer> m_muxer;
};

} // namespace corva
