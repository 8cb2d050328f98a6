// pp: the producer tool. With -cj it checks the switches and writes the job file for the engine;
// without it, it encodes the job itself and shows its progress on stderr.

#include "common/AppPaths.h"
#include "common/AudienceDefinition.h"
#include "engine/FfmpegEncodingEngine.h"
#include "engine/JobFile.h"
#include "engine/ProducerOptions.h"
#include "engine/SubtitleBurn.h"
#include "platform/PathKind.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// Exit statuses, for scripts.
enum Exit : int {
    kOk = 0,
    kEncodeFailed = 1,
    kBadSwitches = 2,
    kBadAudience = 3,
    kBadInput = 4,
    kJobNotWritten = 5,
    kInterrupted = 130,
};

std::atomic<bool> g_interrupted{false};

void onInterrupt(int)
{
    g_interrupted = true;
}

std::filesystem::path ToPath(const QString &text)
{
#ifdef _WIN32
    return std::filesystem::path(text.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(text).toStdString());
#endif
}

void printError(const QString &text)
{
    std::fputs(("pp: " + text + "\n").toUtf8().constData(), stderr);
    std::fflush(stderr);
}

QString clock(double seconds)
{
    const int s = static_cast<int>(seconds + 0.5);
    return QStringLiteral("%1:%2").arg(s / 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'));
}

int encode(const corva::JobSettings &job, const QString &audiences)
{
    QCoreApplication *app = QCoreApplication::instance();
    corva::FfmpegEncodingEngine engine;
    engine.SetAudiencesDirectory(audiences);
    engine.SetOutputDirectory(QDir::currentPath());
    QElapsedTimer clockRunning;
    int status = kEncodeFailed;

    QObject::connect(&engine, &corva::EncodingEngine::EncodingStarted, app, [&] { clockRunning.start(); });
    QObject::connect(&engine, &corva::EncodingEngine::EncodingProgress, app, [&](int pass, int percent, double, const QString &) {
        const double elapsed = clockRunning.elapsed() / 1000.0;
        const double done = engine.SecondsDone();
        const double total = engine.SecondsTotal();
        const double speed = elapsed > 0.2 ? done / elapsed : 0;
        const double left = speed > 0 && total > done ? (total - done) / speed : 0;
        constexpr int width = 30;
        const int filled = percent * width / 100;
        const QString bar = QString(filled, u'#') + QString(width - filled, u'.');
        const QString line = QStringLiteral("\r[%1] %2%  第%3遍  速度 %4x  剩余 %5 ")
                                 .arg(bar)
                                 .arg(percent, 3)
                                 .arg(pass)
                                 .arg(speed, 0, 'f', 1)
                                 .arg(clock(left));
        std::fputs(line.toUtf8().constData(), stderr);
        std::fflush(stderr);
    });
    QObject::connect(&engine, &corva::EncodingEngine::EncodingFinished, app, [&](bool succeeded, const QString &reason) {
        std::fputs("\n", stderr);
        if (g_interrupted) {
            printError(QStringLiteral("已中断，未写入输出文件"));
            status = kInterrupted;
        } else if (succeeded) {
            std::fputs(QStringLiteral("完成，用时 %1\n").arg(clock(clockRunning.elapsed() / 1000.0)).toUtf8().constData(), stderr);
            status = kOk;
        } else {
            printError(reason);
        }
        app->quit();
    });

    // Ctrl+C, a kill or a closed terminal stop the engine cleanly so no partial file is left
    // behind.
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
#ifdef SIGHUP
    std::signal(SIGHUP, onInterrupt);
#endif
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, app, [&] {
        if (g_interrupted && engine.IsEncoding())
            engine.StopEncoding();
    });
    watch.start(100);

    engine.StartJob(job);
    app->exec();
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
#ifdef _WIN32
    // Messages are written in UTF-8; tell the console so.
    SetConsoleOutputCP(CP_UTF8);
#else
    // A window that started us and then quit leaves our stderr closed; finish the job anyway.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    QStringList arguments = app.arguments();
    arguments.removeFirst();
    const corva::ProducerOptions options = corva::ProducerOptions::Parse(arguments);

    // What is at a path, in words when it is neither a regular file nor missing.
    const auto notAFile = [](const QString &path) {
        return QString::fromUtf8(corva::PathKind::NotAFile(ToPath(path), corva::PathKind::Of(ToPath(path))));
    };
    // A job file left from an earlier run must not be taken for this one.
    const auto fail = [&](int status, const QString &reason) {
        printError(reason);
        if (options.WritesJob() && corva::JobFile::LooksLikeJobFile(options.JobPath()))
            QFile::remove(options.JobPath());
        return status;
    };

    if (!options.IsValid())
        return fail(kBadSwitches, options.Error());

    corva::JobSettings job = options.Settings();
    const QString audiences = corva::AppPaths::InAppDir(QStringLiteral("Audiences"));
    QString error;
    if (!corva::AudienceDefinition::Find(audiences, job.audience, &error))
        return fail(kBadAudience, error);

    const QFileInfo input(job.input);
    if (!input.exists())
        return fail(kBadInput, QStringLiteral("找不到输入文件 %1").arg(job.input));
    // Checked before any open: opening a pipe for reading waits for a writer forever.
    if (const QString problem = notAFile(job.input); !problem.isEmpty() && !input.isDir())
        return fail(kBadInput, QStringLiteral("输入%1，无法压缩").arg(problem));
    QFile probe(job.input);
    if (input.isDir() || !probe.open(QIODevice::ReadOnly))
        return fail(kBadInput, QStringLiteral("无法读取输入文件 %1").arg(job.input));
    probe.close();
    job.input = QDir::toNativeSeparators(input.absoluteFilePath());
    if (job.subtitles == corva::SubtitleChoice::File) {
        if (const QString problem = corva::SubtitleBurn::FileProblem(job.subtitleFile); !problem.isEmpty())
            return fail(kBadInput, problem);
        // The engine may run elsewhere than here.
        job.subtitleFile = QDir::toNativeSeparators(QFileInfo(job.subtitleFile).absoluteFilePath());
    }
    // Nothing but a regular file of ours ever takes an output's place. A relative -o in a job
    // file is placed by the engine, which checks it there.
    if (!options.WritesJob() || QDir::isAbsolutePath(job.output)) {
        if (const QString problem = notAFile(job.output); !problem.isEmpty())
            return fail(kBadSwitches, QStringLiteral("输出路径%1，不能用压缩结果替换它").arg(problem));
    }
    if (options.WritesJob()) {
        if (const QString problem = notAFile(options.JobPath()); !problem.isEmpty()) {
            // Not through fail(): what is there is not ours to remove.
            printError(QStringLiteral("任务文件路径%1，不能写入任务文件").arg(problem));
            return kJobNotWritten;
        }
    }

    if (options.WritesJob()) {
        // By identity, so that another spelling or a link of the source is caught too.
        std::error_code sameError;
        if (std::filesystem::equivalent(ToPath(options.JobPath()), ToPath(job.input), sameError))
        {
            // Not through fail(): that clears the job path, and this one is the source.
            printError(QStringLiteral("任务文件 %1 就是输入文件本身，请换一个任务文件名").arg(options.JobPath()));
            return kJobNotWritten;
        }
        if (!corva::JobFile::Write(options.JobPath(), job, &error))
            return fail(kJobNotWritten, error);
        return kOk;
    }
    return encode(job, audiences);
}
