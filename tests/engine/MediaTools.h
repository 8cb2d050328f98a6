#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace corva::test {

// The outside readers the encoded files must satisfy, and the generator of test clips.
class MediaTools final
{
public:
    // Runs ffmpeg with `arguments` (after "-v error -y"); false and a message on failure.
    static bool Generate(const QStringList &arguments, QString *error);
    // A clip of `seconds` from FFmpeg's test sources, `size` like "320x240" (empty: no video),
    // `rate` audio sample rate (0: no audio).
    static bool MakeClip(const QString &path, double seconds, const QString &size, int fps, int rate, int channels,
                         QString *error);

    // ffprobe's -show_streams -show_format as JSON; the raw bytes of tag values are kept
    // (as Latin-1 code units) so GBK texts can be decoded by the caller.
    static QJsonObject Probe(const QString &path);
    static QByteArray ProbeTag(const QString &path, const QString &tag);
    // mediainfo --Output=JSON: media.track as a list of objects.
    static QList<QJsonObject> MediaInfoTracks(const QString &path);
    // What ffmpeg's full decode writes to stderr (empty when clean), or why it could not run.
    static QString DecodeErrors(const QString &path);
    // Mean loudness in dB (volumedetect) and mean luma 0..255 (signalstats), to see that the
    // gain and brightness switches act.
    static double MeanVolume(const QString &path);
    static double MeanLuma(const QString &path);
    // Video bytes in packets before and from `split` seconds.
    static std::pair<qint64, qint64> VideoBytesAround(const QString &path, double split);
    // Whether a named temporary of `output` (OUT.<tag>.part) is in its folder.
    static bool PartialOutputLeft(const QString &output);
    // Number of packets in the first stream of `type` ("v" or "a").
    static int PacketCount(const QString &path, const QString &type);
};

} // namespace corva::test
