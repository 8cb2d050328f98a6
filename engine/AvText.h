#pragma once

#include <QString>

class QFileDevice;

namespace corva {

// FFmpeg's error codes in words: the user's words first, then the system's or FFmpeg's own
// text in brackets for whoever must look it up.
class AvText final
{
public:
    static QString Error(int error);
    static QString Reason(int error);
    // A failed QFile the same way: the user's words, then Qt's text of the system's reason.
    static QString FileReason(const QFileDevice &file);
    // What a job stopped by the user ends with.
    static QString Cancelled();
};

} // namespace corva
