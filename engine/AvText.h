#pragma once

#include <QString>

namespace corva {

// FFmpeg's error codes in words: the few causes a user can do something about get words of
// their own, the rest FFmpeg's text.
class AvText final
{
public:
    static QString Error(int error);
    static QString Reason(int error);
    // What a job stopped by the user ends with.
    static QString Cancelled();
};

} // namespace corva
