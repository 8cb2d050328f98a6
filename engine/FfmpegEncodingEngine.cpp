#include "engine/FfmpegEncodingEngine.h"

#include "common/AudienceDefinition.h"
#include "engine/JobFile.h"
#include "engine/Transcoder.h"

extern "C" {
#include <libavutil/log.h>
}

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMetaObject>
#include <QMutexLocker>
#include <QPointer>

#include <algorithm>
#include <cmath>

namespace corva {

namespace {

int tenths(double seconds)
{
    return static_cast<int>(std::lround(std::max(0.0, seconds) * 10.0));
}

} // namespace

FfmpegEncodingEngine::FfmpegEncodingEngine(QObject *parent) : EncodingEngine(parent)
{
    // Our own reasons tell the user what went wrong; the libraries' chatter would only
    // clutter the producer tool's terminal.
    av_log_set_level(qEnvironmentVariableIsSet("CORVA_FFMPEG_LOG") ? AV_LOG_INFO : AV_LOG_QUIET);
}

FfmpegEncodingEngine::~FfmpegEncodingEngine()
{
    m_worker.request_stop();
    JoinWorker();
}

void FfmpegEncodingEngine::SetAudiencesDirectory(const QString &folder) { m_audiencesDirectory = folder; }
void FfmpegEncodingEngine::SetOutputDirectory(const QString &folder) { m_outputDirectory = folder; }
void FfmpegEncodingEngine::SetJobFile(const QString &path) { m_jobFile = path; }

void FfmpegEncodingEngine::StartEncoding()
{
    if (m_encoding)
        return;
    QString error;
    const std::optional<JobSettings> job = JobFile::Read(m_jobFile, &error);
    Begin(job ? &*job : nullptr, error);
}

void FfmpegEncodingEngine::StartJob(const JobSettings &job)
{
    if (m_encoding)
        return;
    Begin(&job, QString());
}

void FfmpegEncodingEngine::Begin(const JobSettings *job, const QString &loadError)
{
    JoinWorker(); // the last job's thread has ended its work; collect it
    m_doneTenths = 0;
    m_totalTenths = 0;
    m_encoding = 1;
    const quint64 id = ++m_jobId;
    m_worker = std::jthread([this, id, job = job ? *job : JobSettings{}, loadError = job ? QString() : loadError,
                             audiences = m_audiencesDirectory, output = m_outputDirectory](std::stop_token stop) {
        // Nothing may leave a thread's body: it would end the program.
        try {
            Work(stop, id, job, loadError, audiences, output);
        } catch (const std::bad_alloc &) {
            End(id, false, QStringLiteral("内存不足，压缩失败"));
        } catch (const std::exception &e) {
            End(id, false, QStringLiteral("压缩时出现内部错误：%1").arg(QString::fromLocal8Bit(e.what())));
        } catch (...) {
            End(id, false, QStringLiteral("压缩时出现内部错误"));
        }
    });
}

void FfmpegEncodingEngine::Work(std::stop_token stop, quint64 id, JobSettings job, QString loadError, QString audiences,
                                QString outputFolder)
{
    QMetaObject::invokeMethod(
        this,
        [this, id] {
            if (id == m_jobId)
                Q_EMIT EncodingStarted();
        },
        Qt::QueuedConnection);
    if (!loadError.isEmpty()) {
        End(id, false, loadError);
        return;
    }

    QString error;
    const std::optional<AudienceDefinition> audience = AudienceDefinition::Find(audiences, job.audience, &error);
    if (!audience) {
        End(id, false, error);
        return;
    }
    const QString input = QFileInfo(job.input).absoluteFilePath();
    QString output = job.output;
    if (QDir::isRelativePath(output) && !outputFolder.isEmpty())
        output = QDir(outputFolder).filePath(output);
    output = QDir::cleanPath(QFileInfo(output).absoluteFilePath());

    QElapsedTimer sinceReport;
    sinceReport.start();
    bool reported = false;
    const auto progress = [&](const Transcoder::Status &status) {
        const int passTenths = tenths(status.duration);
        m_totalTenths = passTenths * status.passes;
        const int done = passTenths * (status.pass - 1) + std::min(tenths(status.seconds), passTenths > 0 ? passTenths : INT32_MAX);
        m_doneTenths = done;
        const double overall = (status.pass - 1 + status.fraction) / status.passes;
        const int percent = std::clamp(static_cast<int>(overall * 100.0), 0, 100);
        // A few notifications a second keep the window lively without flooding its queue.
        if (reported && sinceReport.elapsed() < 250 && percent < 100)
            return;
        reported = true;
        sinceReport.restart();
        const double seconds = done / 10.0;
        const QString text = status.passes > 1
            ? QStringLiteral("第 %1/%2 遍：%3 秒").arg(status.pass).arg(status.passes).arg(seconds)
            : QStringLiteral("%1 秒").arg(seconds);
        const int pass = status.pass;
        QMetaObject::invokeMethod(
            this,
            [this, id, pass, percent, seconds, text] {
                if (id == m_jobId)
                    Q_EMIT EncodingProgress(pass, percent, seconds, text);
            },
            Qt::QueuedConnection);
    };

    Transcoder transcoder(job, *audience, input, output);
    error = transcoder.Run(stop, progress);
    End(id, error.isEmpty(), error);
}

void FfmpegEncodingEngine::End(quint64 id, bool succeeded, const QString &reason)
{
    // The job ends on the owner's thread, in two hops: IsEncoding stays nonzero until the
    // caller's event loop runs (even for a job that fails at once), and whoever polls it
    // between event passes sees zero before the end notification is handled.
    QMetaObject::invokeMethod(
        this,
        [this, id, succeeded, reason] {
            // A stopped job whose end arrives after the next job began has nothing more to say:
            // the outcome and the notification belong to the job now running.
            if (id != m_jobId)
                return;
            {
                QMutexLocker lock(&m_outcomeMutex);
                m_lastSucceeded = succeeded;
                m_lastError = reason;
            }
            m_encoding = 0;
            QMetaObject::invokeMethod(
                this,
                [this, id, succeeded, reason] {
                    if (id == m_jobId)
                        Q_EMIT EncodingFinished(succeeded, reason);
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void FfmpegEncodingEngine::StopEncoding()
{
    if (!m_worker.joinable())
        return;
    m_worker.request_stop();
    JoinWorker();
    // The end notification still follows through the queue.
    m_encoding = 0;
}

void FfmpegEncodingEngine::JoinWorker()
{
    if (m_worker.joinable())
        m_worker.join();
}

int FfmpegEncodingEngine::IsEncoding() const { return m_encoding.load(); }
double FfmpegEncodingEngine::SecondsDone() const { return m_doneTenths.load() / 10.0; }
double FfmpegEncodingEngine::SecondsTotal() const { return m_totalTenths.load() / 10.0; }

bool FfmpegEncodingEngine::LastJobSucceeded() const
{
    QMutexLocker lock(&m_outcomeMutex);
    return m_lastSucceeded;
}

QString FfmpegEncodingEngine::LastError() const
{
    QMutexLocker lock(&m_outcomeMutex);
    return m_lastError;
}

} // namespace corva
