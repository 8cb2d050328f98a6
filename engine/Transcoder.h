#pragma once

#include "common/AudienceDefinition.h"
#include "engine/JobSettings.h"

#include <QString>

#include <atomic>
#include <functional>

namespace corva {

// One job's whole encode on the FFmpeg libraries: probe, one or two passes of
// demux -> decode -> filter (on a reading thread) and encode -> mux (on the calling thread),
// written to a temporary file beside the output and renamed over it only on success.
class Transcoder final
{
public:
    struct Status
    {
        int pass = 1;
        int passes = 1;
        // Media seconds the encoder has reached in this pass, and the source's length
        // (0 when the source does not say).
        double seconds = 0;
        double duration = 0;
        // 0..1 of this pass, by time when the length is known, else by bytes read.
        double fraction = 0;
    };
    using ProgressFn = std::function<void(const Status &)>;

    // `input` and `output` are absolute paths.
    Transcoder(const JobSettings &job, const AudienceDefinition &audience, const QString &input, const QString &output);

    // Returns an empty text on success, else the reason in words for the user.
    // Returns early (with a reason) once `abort` is set.
    QString Run(const std::atomic<bool> &abort, const ProgressFn &progress);

    // Where the output is written until it is complete.
    static QString TempPathFor(const QString &output);

private:
    JobSettings m_job;
    AudienceDefinition m_audience;
    QString m_input;
    QString m_output;
};

} // namespace corva
