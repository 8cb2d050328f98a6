#pragma once

#include "engine/JobSettings.h"

#include <QString>

#include <optional>

namespace corva {

// The job file between the producer tool and the engine: UTF-8 text, first line
// "corva-job 1", then one "key=value" line per setting, values escaped (\\, \n, \r).
class JobFile final
{
public:
    static constexpr int kVersion = 1;

    static QByteArray Format(const JobSettings &job);
    // On failure returns nothing and says why (naming `path` when given) in *error.
    static std::optional<JobSettings> ParseText(const QByteArray &text, const QString &path, QString *error);

    // Written to a temporary file beside `path` and renamed over it, so a reader never sees
    // half a job.
    static bool Write(const QString &path, const JobSettings &job, QString *error);
    static std::optional<JobSettings> Read(const QString &path, QString *error);
    // True when the file at `path` starts like a job file (so it is ours to remove).
    static bool LooksLikeJobFile(const QString &path);
};

} // namespace corva
