#pragma once

#include <QString>
#include <QStringList>

namespace corva {

// What became of a program started by RunAndWait.
struct RunResult
{
    QString program;          // the program path as taken from the command line
    bool started = false;     // false: missing, not executable, or an empty command line
    bool crashed = false;     // ended by a signal rather than by exiting
    int exitCode = -1;
    QStringList errorLines;   // the last lines it wrote to stderr, oldest first

    bool Succeeded() const { return started && !crashed && exitCode == 0; }
    // A short reason for a failed run, fit to show a user.
    QString Reason() const;
};

// Starts a command line (split by the Microsoft C runtime convention) and returns once the
// process has exited. The caller's window goes on handling its events meanwhile: the wait is a
// nested event loop that sleeps until something happens, so it costs no processor time.
// windowStyle: 0 hidden, 1 shown normally; a console-less platform starts both alike.
RunResult RunAndWait(const QString &commandLine, int windowStyle);

} // namespace corva
