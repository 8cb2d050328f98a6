#pragma once

#include <QByteArray>
#include <QString>

namespace corva {

// The code page that the files of these programs and their players use (GBK).
class Gbk final
{
public:
    static QString Decode(const QByteArray &bytes);
    static QByteArray Encode(const QString &text);
    // False when this Qt build cannot convert GBK at all.
    static bool Available();
    // The rule for the clip texts (title, author, copyright, comment) that both tools write into
    // a content header: every character must exist in GBK and the result fit the header's
    // 16-bit length. Empty when `text` is fine, else the reason naming `what` and the culprit.
    static QString TextProblem(const QString &text, const QString &what);
    static constexpr qsizetype kMaxTextBytes = 0xFFFF;
};

} // namespace corva
