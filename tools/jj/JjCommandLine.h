#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace corva {

// What jj was asked to do.
struct JjRequest
{
    QStringList inputs;
    QString output;
    std::optional<QString> title;
    std::optional<QString> author;
    std::optional<QString> copyright;
    bool help = false;
};

// jj -i A -i B [...] -o OUT [-t TITLE] [-a AUTHOR] [-c COPYRIGHT]
class JjCommandLine final
{
public:
    // `arguments` excludes the program. A single argument is taken as a whole command line,
    // as the joiner window builds it, and split by the Microsoft C runtime convention; a
    // leading program path in it is skipped. Problems go to `errors`, one line each.
    static std::optional<JjRequest> Parse(const QStringList &arguments, QStringList *errors);
    static QString Usage();
};

} // namespace corva
