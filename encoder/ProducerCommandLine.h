#pragma once

#include "encoder/EncoderOptions.h"

#include <QString>

namespace corva {

// The producer tool's command line for one task.
class ProducerCommandLine final
{
public:
    // appDir without a trailing separator; jobFile the full path the tool writes the job to.
    static QString BuildCommandLine(const EncoderOptions &options, const QString &appDir,
                                    const QString &separator, const QString &jobFile);

    // A width or height text read as a number, reduced to its integer part toward minus
    // infinity; text that is not a number reads as 0.
    static long long IntegerPart(const QString &text);
};

} // namespace corva
