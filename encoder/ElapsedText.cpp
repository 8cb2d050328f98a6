#include "encoder/ElapsedText.h"

namespace corva {

namespace {

// The longest leading run of decimal digits in a piece; none reads as 0.
int leadingNumber(const QString &piece)
{
    int value = 0;
    for (const QChar c : piece) {
        if (c < u'0' || c > u'9')
            break;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

} // namespace

int ElapsedText::Seconds(const QString &t)
{
    return leadingNumber(t.mid(0, 2)) * 3600 + leadingNumber(t.mid(3, 2)) * 60 + leadingNumber(t.mid(6, 2));
}

QString ElapsedText::Between(const QString &startText, const QString &endText)
{
    int d = Seconds(endText) - Seconds(startText);
    // The texts carry no date: a run across midnight ends "earlier" than it began.
    if (d < 0)
        d += 24 * 3600;
    QString result;
    if (d >= 3600) {
        result += QString::number(d / 3600) + QStringLiteral("小时");
        d %= 3600;
    }
    if (d >= 60) {
        result += QString::number(d / 60) + QStringLiteral("分");
        d %= 60;
    }
    result += QString::number(d) + QStringLiteral("秒");
    return result;
}

} // namespace corva
