#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace corva {

// Whether a source holds as many bytes as its own header says it has. Containers whose
// demuxers read a cut-off file quietly to its end (RIFF: AVI and WAV; ASF: WMV and WMA) state
// their length up front; a file shorter than that was cut off in copying or downloading.
class SourceCompleteness final
{
public:
    struct Shortfall
    {
        std::int64_t present = 0;  // bytes in the file
        std::int64_t declared = 0; // bytes its header promises
    };

    // Nothing when the file is whole, or its container states no length we trust (a stream
    // written to a pipe leaves 0 or all ones).
    static std::optional<Shortfall> Check(const QString &path);
    // Whether the source is a RIFF file (AVI, WAV) written through a pipe: its writer could
    // not go back to fill in the lengths, so the length FFmpeg reads from its header is a
    // placeholder, not the film's.
    static bool Streamed(const QString &path);
    // The reason for the user, naming the file and how much of it is there.
    static QString Reason(const QString &path, const Shortfall &shortfall);
};

} // namespace corva
