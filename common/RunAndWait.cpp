#include "common/RunAndWait.h"

#include "common/CommandLine.h"

#include <QEventLoop>
#include <QProcess>

namespace corva {

namespace {
constexpr qsizetype kKeptErrorLines = 6;

void keepTail(QStringList &lines, QByteArray &pending, const QByteArray &chunk, bool flush)
{
    pending += chunk;
    qsizetype nl;
    while ((nl = pending.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(pending.left(nl)).trimmed();
        pending.remove(0, nl + 1);
        if (!line.isEmpty())
            lines << line;
    }
    if (flush && !pending.trimmed().isEmpty()) {
        lines << QString::fromUtf8(pending).trimmed();
        pending.clear();
    }
    while (lines.size() > kKeptErrorLines)
        lines.removeFirst();
}
} // namespace

QString RunResult::Reason() const
{
    if (!started)
        return QStringLiteral("无法启动程序：%1").arg(program);
    if (!errorLines.isEmpty())
        return errorLines.last();
    if (crashed)
        return QStringLiteral("程序意外终止：%1").arg(program);
    return QStringLiteral("程序以错误码 %1 退出：%2").arg(exitCode).arg(program);
}

RunResult RunAndWait(const QString &commandLine, int windowStyle)
{
    Q_UNUSED(windowStyle);
    RunResult result;
    QStringList args = CommandLine::Split(commandLine);
    if (args.isEmpty())
        return result;
    result.program = args.takeFirst();

    QProcess process;
    process.setProgram(result.program);
    process.setArguments(args);
    // The tool's ordinary output goes where ours goes; its complaints are kept for the caller.
    process.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    process.setStandardInputFile(QProcess::nullDevice());

    QEventLoop loop;
    bool done = false;
    QByteArray pending;
    QObject::connect(&process, &QProcess::readyReadStandardError, &loop, [&] {
        keepTail(result.errorLines, pending, process.readAllStandardError(), false);
    });
    QObject::connect(&process, &QProcess::finished, &loop, [&](int code, QProcess::ExitStatus status) {
        result.exitCode = code;
        result.crashed = status == QProcess::CrashExit;
        done = true;
        loop.quit();
    });
    QObject::connect(&process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            done = true;
            loop.quit();
        }
    });

    process.start();
    if (!done)
        loop.exec();
    result.started = process.error() != QProcess::FailedToStart;
    keepTail(result.errorLines, pending, process.readAllStandardError(), true);
    return result;
}

} // namespace corva
