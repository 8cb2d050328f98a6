#pragma once

#include <QString>
#include <QStringList>

namespace corva {

// Everything one run of the join tool is given.
struct JoinRequest
{
    QString toolPath;   // the join tool in the application folder
    QStringList inputs; // in join order; the same file may occur more than once
    QString output;
    QString title;
    QString author;
    QString copyright;
};

// The join tool's command line:
//   jj -i "A" -i "B" -o "OUT" -t "T" -a "A" -c "C" (ending in a blank)
// Each value is quoted so that it reads back unchanged by the Microsoft C runtime rules, also
// when it holds quotes or ends in a backslash; the tool path is quoted only when it holds a
// blank, as the program position needs.
QString BuildJoinCommandLine(const JoinRequest &request);

} // namespace corva
