#pragma once

#include "engine/JobSettings.h"
#include "engine/SubtitleText.h"

#include <QString>
#include <QTemporaryFile>

#include <memory>

namespace corva {

// The subtitles a job burns into its pictures: which file, its text checked and kept as UTF-8
// for the renderer for as long as the job runs, and the filter that draws it.
class SubtitleBurn final
{
public:
    // The file the job asks for: the one named with -sub, else the first of X.srt, X.ass,
    // X.ssa beside the source X.ext (names compared without regard to case). Empty when there
    // is none or subtitles are off; `error` is set when a named file is missing or is not a
    // regular file.
    static QString Find(const JobSettings &job, const QString &input, QString *error);
    // Why a subtitle file named by the user cannot be read as one (missing, a folder, a pipe,
    // a device); empty when it is a regular file.
    static QString FileProblem(const QString &path);

    // Reads `path`, finds its encoding and checks that it holds subtitles; empty on success,
    // else the reason for the user.
    QString Prepare(const QString &path);
    bool Active() const { return m_copy != nullptr; }
    SubtitleText::Encoding Encoding() const { return m_encoding; }
    int Events() const { return m_events; }

    // The libavfilter filter that draws the subtitles on pictures of `width` x `height`.
    QString Filter(int width, int height) const;

    // `value` quoted so that it survives both the filter's option parser and the graph parser.
    static QString QuoteForGraph(const QString &value);

    static constexpr qint64 kMaxFileBytes = 32 * 1024 * 1024;

private:
    QString Check(const QString &path);

    std::unique_ptr<QTemporaryFile> m_copy;
    SubtitleText::Encoding m_encoding = SubtitleText::Encoding::None;
    bool m_styled = false; // ASS/SSA: the file's own styles are kept
    int m_events = 0;
};

} // namespace corva
