#pragma once

#include "engine/JobSettings.h"

#include <QString>
#include <QStringList>

namespace corva {

// The producer tool's switches:
//   -i IN -o OUT -t T -a A -c C -ad AUDIENCE [-vm sharp|smooth|slideshow|normal]
//   [-am voice|music] [-dt] [-dv] [-arq high|fast] [-nf low|high|None] [-bl]
//   [-ag -12..12] [-rs WxH -rq fast|high] -vco rv8|rv9|rv10 [-sub FILE|none] [-cj JOBPATH]
// Switch names are matched exactly; their word values without regard to case.
class ProducerOptions final
{
public:
    // `arguments` without the program name.
    static ProducerOptions Parse(const QStringList &arguments);
    // One command-line text, program first, split by the Microsoft C runtime convention.
    static ProducerOptions ParseCommandLine(const QString &commandLine);

    bool IsValid() const { return m_error.isEmpty(); }
    // Why the switches were refused, for the user.
    QString Error() const { return m_error; }
    const JobSettings &Settings() const { return m_settings; }
    // The -cj path; also set when other switches were refused, so a stale job file there
    // can be cleared.
    QString JobPath() const { return m_jobPath; }
    bool WritesJob() const { return !m_jobPath.isEmpty(); }

    // Why a job's title, author or copyright cannot go into the file's content header (empty
    // when they can); the engine asks the same of job files.
    static QString TextsProblem(const JobSettings &job);

private:
    JobSettings m_settings;
    QString m_jobPath;
    QString m_error;
};

} // namespace corva
