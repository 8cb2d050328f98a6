#pragma once

// Runs the independent readers the tests check files with (ffmpeg, ffprobe, mediainfo,
// GStreamer's gst-launch-1.0) and collects what they say.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace corva::test {

struct ToolResult
{
    int exitCode = -1; // -2: crashed; -1: did not start or did not end in time
    QByteArray out;
    QString err;
};

inline ToolResult RunTool(const QString &program, const QStringList &args, int timeoutMs = 120000)
{
    QProcess p;
    p.start(program, args);
    ToolResult r;
    if (!p.waitForStarted(10000)) {
        r.err = QStringLiteral("did not start: ") + program;
        return r;
    }
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(5000);
        r.err = QStringLiteral("did not finish in time: ") + program;
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = p.readAllStandardOutput();
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// One gst-launch-1.0 pipeline, given as its words ("filesrc", "location=…", "!", …). Quiet,
// so that stdout holds only what the pipeline itself writes there.
inline ToolResult RunGstreamer(const QStringList &pipeline, int timeoutMs = 60000)
{
    return RunTool(QStringLiteral("gst-launch-1.0"), QStringList{QStringLiteral("-q")} + pipeline,
                   timeoutMs);
}

} // namespace corva::test
