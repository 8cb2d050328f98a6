#include "joiner/JoinCommand.h"

#include "common/CommandLine.h"

namespace corva {

namespace {

void appendSwitch(QString &line, const char *name, const QString &value)
{
    line += QLatin1String(name);
    line += u' ';
    line += CommandLine::QuoteValue(value);
    line += u' ';
}

} // namespace

QString BuildJoinCommandLine(const JoinRequest &request)
{
    QString line = CommandLine::QuotePathIfNeeded(request.toolPath);
    line += u' ';
    for (const QString &input : request.inputs)
        appendSwitch(line, "-i", input);
    appendSwitch(line, "-o", request.output);
    appendSwitch(line, "-t", request.title);
    appendSwitch(line, "-a", request.author);
    appendSwitch(line, "-c", request.copyright);
    return line;
}

} // namespace corva
