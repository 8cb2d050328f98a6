#pragma once

#include <QObject>
#include <QString>

namespace corva {

// The encoding engine as the encoder's window drives it: point it at the audience
// definitions, the output folder and a job file, start it, and follow its notifications.
// Notifications arrive on the thread that owns the engine (the window's thread).
class EncodingEngine : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    ~EncodingEngine() override = default;

    // AudiencesDirectory, OutputDirectory and JobFile are set-only: the window never reads them back.
    virtual void SetAudiencesDirectory(const QString &folder) = 0;
    // The folder, with its trailing separator, that a relative output path is taken in.
    virtual void SetOutputDirectory(const QString &folder) = 0;
    virtual void SetJobFile(const QString &path) = 0;

    // Loads the job file and returns at once; the work runs on worker threads.
    virtual void StartEncoding() = 0;
    // Aborts the running job promptly and removes its partial output.
    virtual void StopEncoding() = 0;
    // Nonzero from the return of StartEncoding until the job has ended; zero before
    // EncodingFinished of that job is handled.
    virtual int IsEncoding() const = 0;
    // Media seconds done and in all, kept to tenths.
    virtual double SecondsDone() const = 0;
    virtual double SecondsTotal() const = 0;

    // The outcome of the last job that ended, also readable inside the EncodingFinished handler.
    virtual bool LastJobSucceeded() const = 0;
    virtual QString LastError() const = 0;

Q_SIGNALS:
    void EncodingStarted();
    // pass: 1 or 2; percent: 0..100 across the whole job; text: a short status line.
    void EncodingProgress(int pass, int percent, double secondsDone, const QString &text);
    // succeeded false: reason says what went wrong, in words a user can act on.
    void EncodingFinished(bool succeeded, const QString &reason);
};

} // namespace corva
