#pragma once

#include <QString>

namespace corva {

// Time taken between two HH:MM:SS texts, as "1小时5秒", "26分56秒" or "0秒".
class ElapsedText final
{
public:
    static QString Between(const QString &startText, const QString &endText);
    // Seconds since midnight of an HH:MM:SS text; each unreadable piece counts as 0.
    static int Seconds(const QString &timeText);
};

} // namespace corva
