#pragma once

#include "engine/EncodePlan.h"
#include "engine/FfmpegOwners.h"

#include <QString>

#include <cstdint>
#include <stop_token>

namespace corva {

// An opened source and what it holds: the film's picture stream, its sound, its length.
struct Source
{
    InputFormatPtr format;
    int videoIndex = -1;
    int audioIndex = -1;
    SourceInfo info;
    double duration = 0;
    bool durationReliable = false;
    int64_t startTime = 0; // AV_TIME_BASE
};

class SourceProbe final
{
public:
    // Opens `input` and picks its streams; an empty text on success, else the reason.
    // `stop` interrupts the opening and every later read of the source, so it must outlive it.
    static QString Open(const QString &input, const std::stop_token &stop, Source *source);
};

} // namespace corva
