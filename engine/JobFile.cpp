#include "engine/JobFile.h"

#include "engine/AvText.h"
#include "engine/SettingWords.h"
#include "platform/PathKind.h"
#include "platform/SystemError.h"
#include "platform/TemporaryOutput.h"

#include <QFile>
#include <QHash>

#include <cerrno>
#include <filesystem>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace corva {

namespace {

const QByteArray kMagic = QByteArrayLiteral("corva-job");

QString escape(const QString &value)
{
    QString out;
    out.reserve(value.size());
    for (const QChar c : value) {
        if (c == u'\\')
            out += QStringLiteral("\\\\");
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'\r')
            out += QStringLiteral("\\r");
        else
            out += c;
    }
    return out;
}

std::optional<QString> unescape(const QString &value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != u'\\') {
            out += value[i];
            continue;
        }
        if (++i == value.size())
            return std::nullopt;
        if (value[i] == u'\\')
            out += u'\\';
        else if (value[i] == u'n')
            out += u'\n';
        else if (value[i] == u'r')
            out += u'\r';
        else
            return std::nullopt;
    }
    return out;
}

QString flag(bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); }

// "beside", "none", or "file:" and the path.
QString subtitleText(const JobSettings &job)
{
    switch (job.subtitles) {
    case SubtitleChoice::None:
        return QStringLiteral("none");
    case SubtitleChoice::File:
        return QStringLiteral("file:") + job.subtitleFile;
    case SubtitleChoice::Beside:
        break;
    }
    return QStringLiteral("beside");
}

bool parseSubtitles(const QString &text, JobSettings *job)
{
    if (text == u"beside") {
        job->subtitles = SubtitleChoice::Beside;
    } else if (text == u"none") {
        job->subtitles = SubtitleChoice::None;
    } else if (text.startsWith(u"file:") && text.size() > 5) {
        job->subtitles = SubtitleChoice::File;
        job->subtitleFile = text.mid(5);
    } else {
        return false;
    }
    return true;
}

// A flag's value: 0 or 1.
template <auto Field>
bool readFlag(const QString &value, JobSettings &job)
{
    if (value != u"0" && value != u"1")
        return false;
    job.*Field = value == u"1";
    return true;
}

bool readSize(const QString &value, JobSettings &job)
{
    return SettingWords::ParseSize(value, &job.resizeWidth, &job.resizeHeight) &&
           SettingWords::SizeProblem(job.resizeWidth, job.resizeHeight).isEmpty();
}

bool readSubtitles(const QString &value, JobSettings &job)
{
    return parseSubtitles(value, &job);
}

// The keys a job file may leave out, in the order they are checked, each with how it is read.
using W = SettingWords;
using J = JobSettings;
const std::pair<const char *, bool (*)(const QString &, JobSettings &)> kOptionalKeys[] = {
    {"video_mode", W::Read<W::ParseVideoMode, &J::videoMode>},
    {"audio_mode", W::Read<W::ParseAudioMode, &J::audioMode>},
    {"single_pass", readFlag<&J::singlePass>},
    {"audio_only", readFlag<&J::audioOnly>},
    {"resample_quality", W::Read<W::ParseQuality, &J::highResampleQuality>},
    {"noise_filter", W::Read<W::ParseNoiseFilter, &J::noiseFilter>},
    {"brighten", readFlag<&J::brighten>},
    {"gain_db", W::Read<W::ParseGain, &J::gainDb>},
    {"resize", readSize},
    {"resize_quality", W::Read<W::ParseQuality, &J::highScaleQuality>},
    {"codec", W::Read<W::ParseCodec, &J::codec>},
    {"subtitles", readSubtitles},
};

} // namespace

QByteArray JobFile::Format(const JobSettings &job)
{
    const std::pair<const char *, QString> lines[] = {
        {"input", job.input},
        {"output", job.output},
        {"title", job.title},
        {"author", job.author},
        {"copyright", job.copyright},
        {"audience", job.audience},
        {"video_mode", SettingWords::Text(job.videoMode)},
        {"audio_mode", SettingWords::Text(job.audioMode)},
        {"single_pass", flag(job.singlePass)},
        {"audio_only", flag(job.audioOnly)},
        {"resample_quality", SettingWords::QualityText(job.highResampleQuality)},
        {"noise_filter", SettingWords::Text(job.noiseFilter)},
        {"brighten", flag(job.brighten)},
        {"gain_db", QString::number(job.gainDb)},
        {"resize", QStringLiteral("%1x%2").arg(job.resizeWidth).arg(job.resizeHeight)},
        {"resize_quality", SettingWords::QualityText(job.highScaleQuality)},
        {"codec", SettingWords::Text(job.codec)},
        {"subtitles", subtitleText(job)},
    };
    QByteArray text = kMagic + ' ' + QByteArray::number(kVersion) + '\n';
    for (const auto &[key, value] : lines)
        text += QByteArray(key) + '=' + escape(value).toUtf8() + '\n';
    return text;
}

std::optional<JobSettings> JobFile::ParseText(const QByteArray &text, const QString &path, QString *error)
{
    QString dummy;
    if (!error)
        error = &dummy;
    const QString where = path.isEmpty() ? QStringLiteral("任务文件") : QStringLiteral("任务文件 %1").arg(path);
    const auto fail = [&](const QString &why) {
        *error = QStringLiteral("%1%2").arg(where, why);
        return std::nullopt;
    };

    QList<QByteArray> lines = text.split('\n');
    const QByteArray first = lines.isEmpty() ? QByteArray() : lines.first().trimmed();
    if (!first.startsWith(kMagic + ' '))
        return fail(QStringLiteral("不是本程序的任务文件，请重新生成"));
    bool ok = false;
    const int version = first.mid(kMagic.size() + 1).toInt(&ok);
    if (!ok || version != kVersion)
        return fail(QStringLiteral("的格式版本“%1”不受支持").arg(QString::fromUtf8(first.mid(kMagic.size() + 1))));

    QHash<QString, QString> values;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            continue;
        const qsizetype eq = line.indexOf('=');
        if (eq <= 0)
            return fail(QStringLiteral("第 %1 行无法识别").arg(i + 1));
        const auto value = unescape(QString::fromUtf8(line.mid(eq + 1)));
        if (!value)
            return fail(QStringLiteral("第 %1 行的转义字符无效").arg(i + 1));
        values.insert(QString::fromUtf8(line.left(eq)), *value);
    }

    const char *const required[] = {"input", "output", "audience"};
    for (const char *key : required) {
        if (values.value(QString::fromLatin1(key)).isEmpty())
            return fail(QStringLiteral("缺少 %1").arg(QString::fromLatin1(key)));
    }

    JobSettings job;
    job.input = values.value(QStringLiteral("input"));
    job.output = values.value(QStringLiteral("output"));
    job.title = values.value(QStringLiteral("title"));
    job.author = values.value(QStringLiteral("author"));
    job.copyright = values.value(QStringLiteral("copyright"));
    job.audience = values.value(QStringLiteral("audience"));

    // A missing optional key keeps its default; a present one must be valid.
    const auto bad = [&](const char *key) {
        return fail(QStringLiteral("中 %1 的值“%2”无效")
                        .arg(QString::fromLatin1(key), values.value(QString::fromLatin1(key))));
    };
    for (const auto &[key, read] : kOptionalKeys) {
        const QString name = QString::fromLatin1(key);
        if (values.contains(name) && !read(values.value(name), job))
            return bad(key);
    }
    return job;
}

bool JobFile::Write(const QString &path, const JobSettings &job, QString *error)
{
    const auto failWith = [&](const std::string &why) {
        if (error)
            *error = QStringLiteral("无法写入任务文件 %1：%2").arg(path, QString::fromUtf8(why));
        return false;
    };
    const auto fail = [&](int code) { return failWith(SystemError::Text(code)); };
    // Complete before it has the name, and never written through a link or into a file of
    // somebody else's.
    TemporaryOutput file(std::filesystem::path(QFile::encodeName(path).toStdString()));
    if (!file.IsOpen())
        return failWith(file.Reason());
    const QByteArray text = Format(job);
    qsizetype done = 0;
    while (done < text.size()) {
        const auto n = ::write(file.Descriptor(), text.constData() + done, static_cast<size_t>(text.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail(n < 0 ? errno : ENOSPC);
        done += n;
    }
    if (!file.Commit())
        return failWith(file.Reason());
    return true;
}

std::optional<JobSettings> JobFile::Read(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.exists()) {
        if (error)
            *error = QStringLiteral("找不到任务文件 %1").arg(path);
        return std::nullopt;
    }
    // Opening a pipe would wait for a writer for ever.
    const std::filesystem::path where(QFile::encodeName(path).toStdString());
    if (const std::string notAFile = PathKind::NotAFile(where, PathKind::Of(where)); !notAFile.empty()) {
        if (error)
            *error = QStringLiteral("无法读取任务文件：%1").arg(QString::fromUtf8(notAFile));
        return std::nullopt;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("无法读取任务文件 %1：%2").arg(path, AvText::FileReason(file));
        return std::nullopt;
    }
    // A job is a few hundred bytes; anything huge is not one of ours.
    const QByteArray text = file.read(1 << 20);
    return ParseText(text, path, error);
}

bool JobFile::LooksLikeJobFile(const QString &path)
{
    // A pipe or device would block the open, and is no job file of ours anyway.
    if (PathKind::Of(std::filesystem::path(QFile::encodeName(path).toStdString())) != PathKind::Kind::Regular)
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return file.read(kMagic.size() + 1) == kMagic + ' ';
}

} // namespace corva
