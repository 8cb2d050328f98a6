#pragma once

#include "engine/EncodingEngine.h"

#include <QFile>
#include <QStringList>
#include <QTimer>

namespace corva::test {

// An engine that encodes nothing: it records what the window set and ends each job on cue,
// or by itself with the outcome the job file asks for ("fail" in it fails the job).
class FakeEngine final : public EncodingEngine
{
public:
    bool autoRun = true;
    QStringList audiencesDirs, outputDirs, jobFiles, jobContents;
    int starts = 0;
    int stops = 0;
    double done = 12.5;
    double total = 100;

    void SetAudiencesDirectory(const QString &d) override { audiencesDirs << d; }
    void SetOutputDirectory(const QString &d) override { outputDirs << d; }
    void SetJobFile(const QString &p) override { jobFiles << p; }
    void StartEncoding() override
    {
        ++starts;
        m_encoding = 1;
        QFile f(jobFiles.isEmpty() ? QString() : jobFiles.last());
        const QString content = f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
        jobContents << content;
        if (!autoRun)
            return;
        const bool fail = content.contains(QStringLiteral("fail"));
        QTimer::singleShot(1, this, [this] { Q_EMIT EncodingStarted(); });
        QTimer::singleShot(2, this, [this] { Q_EMIT EncodingProgress(1, 50, done, QString()); });
        QTimer::singleShot(3, this, [this, fail] { Finish(!fail, fail ? QStringLiteral("输入文件已损坏") : QString()); });
    }
    void StopEncoding() override
    {
        ++stops;
        m_encoding = 0;
    }
    int IsEncoding() const override { return m_encoding; }
    double SecondsDone() const override { return done; }
    double SecondsTotal() const override { return total; }
    bool LastJobSucceeded() const override { return m_ok; }
    QString LastError() const override { return m_error; }

    void Finish(bool ok, const QString &reason)
    {
        m_encoding = 0;
        m_ok = ok;
        m_error = reason;
        Q_EMIT EncodingFinished(ok, reason);
    }

private:
    int m_encoding = 0;
    bool m_ok = true;
    QString m_error;
};

} // namespace corva::test
