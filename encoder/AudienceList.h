#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace corva {

// The audience names of audi.txt: one per line, in the system's ANSI code page (GBK),
// each line taken unchanged.
class AudienceList final
{
public:
    // Lines end at CR LF, or at a lone CR or LF. The last line's terminator adds no item;
    // an empty line after it does. A UTF-8 byte-order mark switches to UTF-8.
    static QStringList Parse(const QByteArray &bytes);

    // Reads the file; nothing (and a reason in *error) when it is missing, unreadable or empty.
    static std::optional<QStringList> Load(const QString &path, QString *error);
};

} // namespace corva
