#pragma once

#include <QString>
#include <QStringList>

namespace corva {

// One command-line text <-> an argument list, by the Microsoft C runtime convention,
// so that a line built here reads back the same on every platform the tools run on.
class CommandLine final
{
public:
    // A value between double quotes. Ordinary values come out as "value"; backslashes are
    // doubled only where they precede a quote, and an inner quote is written as \".
    static QString QuoteValue(const QString &value);

    // A path in program or job position: left bare unless it holds blanks or quotes.
    static QString QuotePathIfNeeded(const QString &path);

    // Splits a command-line text into its arguments (the first is the program).
    static QStringList Split(const QString &commandLine);

    // Joins arguments so that Split() gives them back exactly.
    static QString Join(const QStringList &arguments);
};

} // namespace corva
