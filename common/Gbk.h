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
};

} // namespace corva
