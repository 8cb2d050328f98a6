#pragma once

#include "encoder/EncoderOptions.h"

#include <QString>

namespace corva {

namespace platform {
class OpticalDrives;
}

// The checks a job passes before it is started or queued, one question at a time, so the
// window can show each message and move the focus in order.
class JobChecks final
{
public:
    enum class Verdict { Pass, SamePath, EmptyPath, OpticalOutput, UnknownFormat, BadSize };

    // Checks 1 to 3: identical paths, empty paths, output on an optical drive.
    static Verdict CheckPaths(const EncoderOptions &o, const platform::OpticalDrives &drives);
    // The source, where it exists, must be a plain file: a pipe, device or socket is refused
    // with the message to show; empty when the source may go on to the other checks.
    static QString SourceKindProblem(const QString &inputFile);
    // Check 4: the last three characters of the source occur in the input filter as they stand.
    static bool IsKnownFormat(const QString &inputFile, const QString &inputFilter);
    // Check 5: width and height as 16-bit numbers, neither negative.
    static bool SizeIsValid(const QString &width, const QString &height);
    // A width or height text as a 16-bit number; nothing for empty, junk or out of range.
    static bool ToInt16(const QString &text, int *value);

    static QString Message(Verdict verdict);
};

} // namespace corva
