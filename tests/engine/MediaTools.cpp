#include "MediaTools.h"

#include "../support/ToolRun.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

namespace corva::test {

bool MediaTools::Generate(const QStringList &arguments, QString *error)
{
    const ToolResult r = RunTool(QStringLiteral("ffmpeg"), QStringList{"-v", "error", "-y"} + arguments);
    if (r.exitCode != 0 && error)
        *error = r.err;
    return r.exitCode == 0;
}

bool MediaTools::MakeClip(const QString &path, double seconds, const QString &size, int fps, int rate, int channels,
                          QString *error)
{
    QStringList args;
    const QString d = QString::number(seconds);
    if (!size.isEmpty())
        args << "-f" << "lavfi" << "-i" << QStringLiteral("testsrc=size=%1:rate=%2:duration=%3").arg(size).arg(fps).arg(d);
    if (rate > 0)
        args << "-f" << "lavfi" << "-i" << QStringLiteral("sine=frequency=440:sample_rate=%1:duration=%2").arg(rate).arg(d)
             << "-ac" << QString::number(channels);
    if (!size.isEmpty() && !path.endsWith(".wav"))
        args << "-c:v" << "mpeg4" << "-q:v" << "5";
    args << path;
    return Generate(args, error);
}

QJsonObject MediaTools::Probe(const QString &path)
{
    const QByteArray out = RunTool(QStringLiteral("ffprobe"),
                                   {"-v", "error", "-show_streams", "-show_format", "-of", "json=string_validation=ignore", path})
                               .out;
    // Tags hold GBK bytes that are not UTF-8; Latin-1 keeps every byte for ProbeTag.
    return QJsonDocument::fromJson(QString::fromLatin1(out).toUtf8()).object();
}

QByteArray MediaTools::ProbeTag(const QString &path, const QString &tag)
{
    const QJsonObject tags = Probe(path).value("format").toObject().value("tags").toObject();
    return tags.value(tag).toString().toLatin1();
}

QList<QJsonObject> MediaTools::MediaInfoTracks(const QString &path)
{
    const QByteArray out = RunTool(QStringLiteral("mediainfo"), {"--Output=JSON", path}).out;
    QList<QJsonObject> tracks;
    const QJsonArray array = QJsonDocument::fromJson(out).object().value("media").toObject().value("track").toArray();
    for (const QJsonValue &v : array)
        tracks << v.toObject();
    return tracks;
}

QString MediaTools::DecodeErrors(const QString &path)
{
    const ToolResult r = RunTool(QStringLiteral("ffmpeg"), {"-v", "error", "-i", path, "-f", "null", "-"});
    if (r.exitCode != 0 && r.err.isEmpty())
        return QStringLiteral("ffmpeg exited with %1").arg(r.exitCode);
    return r.err;
}

double MediaTools::MeanVolume(const QString &path)
{
    const QByteArray errors =
        RunTool(QStringLiteral("ffmpeg"), {"-v", "info", "-i", path, "-vn", "-af", "volumedetect", "-f", "null", "-"}).err.toUtf8();
    const qsizetype at = errors.indexOf("mean_volume:");
    if (at < 0)
        return 0;
    return errors.mid(at + 12, errors.indexOf("dB", at) - at - 12).trimmed().toDouble();
}

double MediaTools::MeanLuma(const QString &path)
{
    const QByteArray errors = RunTool(QStringLiteral("ffmpeg"), {"-v", "info", "-i", path, "-an", "-vf",
                                                                 "signalstats,metadata=print:key=lavfi.signalstats.YAVG", "-f", "null", "-"})
                                  .err.toUtf8();
    double sum = 0;
    int count = 0;
    const QByteArray key = "lavfi.signalstats.YAVG=";
    for (qsizetype at = errors.indexOf(key); at >= 0; at = errors.indexOf(key, at + 1)) {
        const qsizetype end = errors.indexOf('\n', at);
        sum += errors.mid(at + key.size(), end - at - key.size()).trimmed().toDouble();
        ++count;
    }
    return count ? sum / count : 0;
}

std::pair<qint64, qint64> MediaTools::VideoBytesAround(const QString &path, double split)
{
    const QByteArray out = RunTool(QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                                               "packet=pts_time,size", "-of", "csv=p=0", path})
                               .out;
    std::pair<qint64, qint64> bytes{0, 0};
    for (const QByteArray &line : out.split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split(',');
        if (fields.size() < 2)
            continue;
        (fields[0].toDouble() < split ? bytes.first : bytes.second) += fields[1].toLongLong();
    }
    return bytes;
}

int MediaTools::PacketCount(const QString &path, const QString &type)
{
    const QByteArray out = RunTool(QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", type + ":0", "-count_packets",
                                                               "-show_entries", "stream=nb_read_packets", "-of", "csv=p=0", path})
                               .out;
    return out.trimmed().toInt();
}

bool MediaTools::PartialOutputLeft(const QString &output)
{
    const QFileInfo out(output);
    return !QDir(out.absolutePath()).entryList({out.fileName() + QStringLiteral(".*.part")}, QDir::Files | QDir::System).isEmpty();
}

} // namespace corva::test
