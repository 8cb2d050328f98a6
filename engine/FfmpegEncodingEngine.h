#pragma once

#include "engine/EncodingEngine.h"
#include "engine/JobSettings.h"

#include <QMutex>

#include <atomic>
#include <stop_token>
#include <thread>

namespace corva {

// The encoding engine on the FFmpeg libraries: RealVideo 2 and AC-3 in RealMedia.
// Each job runs on worker threads; notifications are queued to the thread that owns the engine.
class FfmpegEncodingEngine final : public EncodingEngine
{
    Q_OBJECT

public:
    explicit FfmpegEncodingEngine(QObject *parent = nullptr);
    ~FfmpegEncodingEngine() override;

    void SetAudiencesDirectory(const QString &folder) override;
    void SetOutputDirectory(const QString &folder) override;
    void SetJobFile(const QString &path) override;

    // Ignored while a job runs.
    void StartEncoding() override;
    // Starts a job handed over directly instead of through a job file (the producer tool's
    // own encode). Same notifications as StartEncoding.
    void StartJob(const JobSettings &job);
    // Returns once the worker has stopped (well under a second); EncodingFinished(false, ...)
    // follows through the event queue.
    void StopEncoding() override;
    int IsEncoding() const override;
    double SecondsDone() const override;
    double SecondsTotal() const override;
    bool LastJobSucceeded() const override;
    QString LastError() const override;

private:
    void Begin(const JobSettings *job, const QString &loadError);
    void Work(std::stop_token stop, quint64 id, JobSettings job, QString loadError, QString audiences,
              QString outputFolder);
    void End(quint64 id, bool succeeded, const QString &reason);
    void JoinWorker();

    QString m_audiencesDirectory;
    QString m_outputDirectory;
    QString m_jobFile;

    // Owner's thread only: tells a finished job's late end event from the current job.
    quint64 m_jobId = 0;
    std::jthread m_worker;
    std::atomic<int> m_encoding{0};
    std::atomic<int> m_doneTenths{0};
    std::atomic<int> m_totalTenths{0};

    mutable QMutex m_outcomeMutex;
    bool m_lastSucceeded = false;
    QString m_lastError;
};

} // namespace corva
