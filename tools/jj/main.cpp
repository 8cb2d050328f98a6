#include "common/Gbk.h"
#include "platform/TemporaryOutput.h"
#include "rmff/RmJoiner.h"
#include "tools/jj/JjCommandLine.h"

#include <QCoreApplication>
#include <QFile>

#include <csignal>
#include <cstdio>
#include <filesystem>

using namespace corva;

namespace {

enum Exit { kOk = 0, kUsage = 1, kInput = 2, kRefused = 3, kOutput = 4 };

void ErrorLine(const QString &line)
{
    std::fputs(line.toUtf8().constData(), stderr);
    std::fputc('\n', stderr);
}

std::filesystem::path ToPath(const QString &text)
{
#ifdef _WIN32
    return std::filesystem::path(text.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(text).toStdString());
#endif
}

int ExitFor(rmff::ErrorKind kind)
{
    switch (kind) {
    case rmff::ErrorKind::Io:
    case rmff::ErrorKind::Truncated:
    case rmff::ErrorKind::Corrupt: return kInput;
    case rmff::ErrorKind::Unsupported:
    case rmff::ErrorKind::Incompatible: return kRefused;
    case rmff::ErrorKind::Output: break;
    }
    return kOutput;
}

// The players read these texts as GBK; a character GBK cannot hold would come out as '?'.
std::optional<std::string> EncodeText(const std::optional<QString> &text, const QString &what,
                                      QStringList *errors)
{
    if (!text)
        return std::nullopt;
    if (const QString problem = Gbk::TextProblem(*text, what); !problem.isEmpty())
        errors->append(problem);
    return Gbk::Encode(*text).toStdString();
}

// A join stopped by the user or a closed terminal removes its unfinished file, then ends the
// way the signal would have ended it.
void OnStopSignal(int signal)
{
    TemporaryOutput::RemoveOpenFromSignal();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace

int main(int argc, char *argv[])
{
    // The window that started us may be gone; a closed stderr must not kill the join
    // before it has cleaned up its temporary file.
    std::signal(SIGPIPE, SIG_IGN);
    for (int stop : {SIGINT, SIGTERM, SIGHUP})
        std::signal(stop, OnStopSignal);
    QCoreApplication app(argc, argv);
    QStringList errors;
    const auto request = JjCommandLine::Parse(app.arguments().mid(1), &errors);
    if (!request) {
        for (const QString &e : errors)
            ErrorLine(e);
        ErrorLine(QStringLiteral("命令行有误：%1（用 jj -h 查看用法）").arg(errors.front()));
        return kUsage;
    }
    if (request->help) {
        std::fputs(JjCommandLine::Usage().toUtf8().constData(), stdout);
        return kOk;
    }
    if (!Gbk::Available()) {
        ErrorLine(QStringLiteral("无法把文字转换为 GBK 编码：这个 Qt 没有 GBK 支持"));
        return kUsage;
    }

    rmff::JoinTexts texts;
    texts.title = EncodeText(request->title, QStringLiteral("标题"), &errors);
    texts.author = EncodeText(request->author, QStringLiteral("作者"), &errors);
    texts.copyright = EncodeText(request->copyright, QStringLiteral("版权"), &errors);
    if (!errors.isEmpty()) {
        for (const QString &e : errors)
            ErrorLine(e);
        return kUsage;
    }

    std::vector<std::filesystem::path> inputs;
    for (const QString &i : request->inputs)
        inputs.push_back(ToPath(i));
    const rmff::JoinOutcome outcome = rmff::JoinFiles(inputs, ToPath(request->output), texts);
    for (const std::string &w : outcome.summary.warnings)
        ErrorLine(QStringLiteral("注意：") + QString::fromStdString(w));
    if (!outcome.Ok()) {
        for (const rmff::RmError &e : outcome.problems)
            ErrorLine(QString::fromStdString(e.what()));
        if (outcome.problems.size() > 1)
            ErrorLine(QStringLiteral("无法合并：%1（共 %2 个问题）")
                          .arg(QString::fromStdString(outcome.problems.front().what()))
                          .arg(outcome.problems.size()));
        return ExitFor(outcome.problems.front().Kind());
    }
    const auto &s = outcome.summary;
    std::printf("%s\n", QStringLiteral("合并完成：%1 个文件 → %2，时长 %3 秒，%4 个数据包")
                            .arg(inputs.size())
                            .arg(request->output)
                            .arg(s.durationMs / 1000.0, 0, 'f', 3)
                            .arg(s.packets)
                            .toUtf8()
                            .constData());
    return kOk;
}
