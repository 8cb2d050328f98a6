#pragma once

#include "engine/FfmpegEncodingEngine.h"

#include <QList>
#include <QString>

namespace corva::test {

// Everything a test wants to know about one job, gathered from the notifications.
struct Outcome
{
    bool ended = false;
    bool succeeded = false;
    QString reason;
    int started = 0;
    int startedBeforeEnd = 0;
    // Read inside the end handler: the window relies on both.
    int isEncodingInHandler = -1;
    bool lastSucceededInHandler = false;
    QString lastErrorInHandler;
    QList<int> passes;
    QList<int> percents;
    QList<double> seconds;
    // Milliseconds from the start to each progress notification.
    QList<qint64> arrivals;
    double secondsDone = 0;
    double secondsTotal = 0;
    int isEncodingAfterStart = 0;
};

// Starts the job (through `start`) and runs the event loop until EncodingFinished or the timeout.
class EngineRunner final
{
public:
    template <typename Start>
    static Outcome Run(FfmpegEncodingEngine &engine, Start start, int timeoutMs = 60000);

    // The audiences the built application carries.
    static QString Audiences() { return QStringLiteral(CORVA_APP_DIR "/Audiences"); }
    // One job through a fresh engine that reads those audiences (or others).
    static Outcome Encode(const JobSettings &job, int timeoutMs = 120000, const QString &audiences = Audiences())
    {
        FfmpegEncodingEngine engine;
        engine.SetAudiencesDirectory(audiences);
        return Run(engine, [&] { engine.StartJob(job); }, timeoutMs);
    }
    // A job of `input` to `output` at `audience`, every other switch as the tool leaves it.
    static JobSettings Job(const QString &input, const QString &output, const QString &audience)
    {
        JobSettings job;
        job.input = input;
        job.output = output;
        job.audience = audience;
        return job;
    }
};

} // namespace corva::test

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace corva::test {

template <typename Start>
Outcome EngineRunner::Run(FfmpegEncodingEngine &engine, Start start, int timeoutMs)
{
    Outcome o;
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&engine, &EncodingEngine::EncodingStarted, &loop, [&] { ++o.started; });
    QObject::connect(&engine, &EncodingEngine::EncodingProgress, &loop,
                     [&](int pass, int percent, double seconds, const QString &) {
                         o.passes << pass;
                         o.percents << percent;
                         o.seconds << seconds;
                         o.arrivals << clock.elapsed();
                     });
    QObject::connect(&engine, &EncodingEngine::EncodingFinished, &loop, [&](bool succeeded, const QString &reason) {
        o.ended = true;
        o.succeeded = succeeded;
        o.reason = reason;
        o.startedBeforeEnd = o.started;
        o.isEncodingInHandler = engine.IsEncoding();
        o.lastSucceededInHandler = engine.LastJobSucceeded();
        o.lastErrorInHandler = engine.LastError();
        o.secondsDone = engine.SecondsDone();
        o.secondsTotal = engine.SecondsTotal();
        loop.quit();
    });
    start();
    o.isEncodingAfterStart = engine.IsEncoding();
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return o;
}

} // namespace corva::test
