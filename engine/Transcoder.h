#pragma once

#include "common/AudienceDefinition.h"
#include "engine/JobSettings.h"

#include <QString>

#include <functional>
#include <stop_token>

namespace corva {

// One job's whole encode on the FFmpeg libraries: probe, one or two passes of
// demux -> decode -> filter (on a reading thread) and encode -> mux (on the calling thread),
// written to a temporary output (unnamed where the system allows) that replaces the output
// only on success.
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
    // Returns early (with a reason) once a stop is requested. Throws nothing.
    QString Run(std::stop_token stop, const ProgressFn &progress);

private:
    JobSettings m_job;
    AudienceDefinition m_audience;
    QString m_input;
    QString m_output;
};

} // namespace corva
