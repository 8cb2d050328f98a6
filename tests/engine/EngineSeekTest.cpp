#include "EngineRunner.h"
#include "MediaTools.h"

#include "engine/FfmpegEncodingEngine.h"
#include "../support/ToolRun.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corva;
using corva::test::EngineRunner;
using corva::test::MediaTools;
using corva::test::Outcome;
using corva::test::RunTool;
using corva::test::ToolResult;

namespace {

const QString kNarrow = QStringLiteral("窄带上网 CBR 150Kbps");
const QString kStandard = QStringLiteral("标准画质 CBR 450Kbps");

// Where the keyframes show, in seconds, as ffprobe reads them.
std::vector<double> keyframeTimes(const QString &path)
{
    const ToolResult r = RunTool(QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                                            "packet=pts_time,flags", "-of", "csv=p=0", path});
    std::vector<double> times;
    for (const QByteArray &line : r.out.split('\n')) {
        const QList<QByteArray> f = line.trimmed().split(',');
        if (f.size() >= 2 && f[1].startsWith('K'))
            times.push_back(f[0].toDouble());
    }
    return times;
}

QByteArray bytesOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The packets of a file's data chunk, read from their RealMedia headers directly.
struct PacketAt {
    qsizetype at = 0;
    int length = 0, stream = 0, flags = 0;
    quint32 time = 0;
};

std::vector<PacketAt> packetsOf(const QByteArray &d)
{
    auto be = [&](qsizetype at, int n) {
        quint32 v = 0;
        for (int i = 0; i < n; ++i)
            v = v << 8 | static_cast<quint8>(d[at + i]);
        return v;
    };
    std::vector<PacketAt> packets;
    const qsizetype data = d.indexOf("DATA");
    if (data < 0)
        return packets;
    for (qsizetype at = data + 18; at + 12 <= d.size();) {
        const int length = int(be(at + 2, 2));
        if (be(at, 2) != 0 || length < 12)
            break;
        packets.push_back({at, length, int(be(at + 4, 2)), int(be(at + 11, 1)), be(at + 6, 4)});
        at += length;
    }
    return packets;
}

// The length of every video packet that starts a keyframe.
std::vector<int> keyframePacketLengths(const QString &path, int videoStream)
{
    std::vector<int> lengths;
    bool previousKey = false;
    std::uint32_t previousTime = ~0u;
    for (const PacketAt &p : packetsOf(bytesOf(path))) {
        const bool key = p.flags & 2;
        if (p.stream == videoStream) {
            if (key && !(previousKey && previousTime == p.time))
                lengths.push_back(p.length);
            previousKey = key;
            previousTime = p.time;
        }
    }
    return lengths;
}

// FFmpeg's seek reads a keyframe's time by scanning forward from a byte of the file for a
// packet header: any four bytes 00 00 LL LL with a length above 12. A packet of the film's is
// read and passed over; anything else that reads as one makes the scan leap by its "length",
// and one leap past the last keyframe fails the seek. The bytes from which the scan reaches no
// video keyframe, counted up to the last one and outside the packet headers (whose own
// timestamps and flags read so, in FFmpeg's files too).
int bytesFromWhichNoKeyframeIsFound(const QString &path)
{
    const QByteArray d = bytesOf(path);
    const qsizetype size = d.size();
    auto at = [&](qsizetype i) { return static_cast<quint8>(d[i]); };
    const qsizetype data = d.indexOf("DATA");
    if (data < 0)
        return -1;
    std::vector<qint32> packetLength(static_cast<std::size_t>(size), 0); // at each packet's start
    std::vector<bool> inHeader(static_cast<std::size_t>(size), false), videoKey(static_cast<std::size_t>(size), false);
    qsizetype lastKey = -1;
    for (const PacketAt &p : packetsOf(d)) {
        packetLength[std::size_t(p.at)] = p.length;
        for (int i = 1; i < 12; ++i)
            inHeader[std::size_t(p.at + i)] = true;
        if (p.stream == 0 && p.length >= 14 && p.at + 14 <= size && (p.flags & 2) &&
            ((at(p.at + 12) & 0x40) || (at(p.at + 13) & 0x7F) == 1)) {
            videoKey[std::size_t(p.at)] = true;
            lastKey = p.at;
        }
    }
    // the next place the scan stops at, from each byte on
    std::vector<qsizetype> next(static_cast<std::size_t>(size) + 1, size);
    for (qsizetype p = size - 4; p >= 0; --p) {
        const quint32 v = quint32(at(p)) << 24 | at(p + 1) << 16 | at(p + 2) << 8 | at(p + 3);
        next[std::size_t(p)] = v > 12 && v <= 0xFFFF ? p : next[std::size_t(p) + 1];
    }
    std::vector<qint8> reaches(static_cast<std::size_t>(size), -1); // by stopping place
    auto scan = [&](qsizetype p) {
        std::vector<qsizetype> passed;
        bool found = false;
        for (;;) {
            const qsizetype stop = p < size ? next[std::size_t(p)] : size;
            if (stop >= size)
                break;
            if (reaches[std::size_t(stop)] >= 0) {
                found = reaches[std::size_t(stop)] > 0;
                break;
            }
            passed.push_back(stop);
            if (videoKey[std::size_t(stop)]) {
                found = true;
                break;
            }
            const int packet = packetLength[std::size_t(stop)];
            p = stop + (packet ? packet : (at(stop + 2) << 8 | at(stop + 3)));
        }
        for (qsizetype s : passed)
            reaches[std::size_t(s)] = found ? 1 : 0;
        return found;
    };
    int misses = 0;
    for (qsizetype p = data + 18; p < lastKey; ++p)
        misses += !inHeader[std::size_t(p)] && !scan(p);
    return misses;
}

// What FFmpeg says when it is asked to start `seconds` into the file: its demuxer's complaints
// about seeking ("could not seek", "read_timestamp() failed") come as warnings.
QString seekComplaints(const QString &path, double seconds)
{
    const ToolResult r = RunTool(QStringLiteral("ffmpeg"), {"-v", "warning", "-ss", QString::number(seconds), "-i", path,
                                                           "-an", "-frames:v", "1", "-f", "null", "-"});
    if (r.exitCode != 0)
        return QStringLiteral("ffmpeg exited with %1: %2").arg(r.exitCode).arg(r.err);
    return r.err.trimmed();
}

// FFmpeg finds a time past a file's last keyframe by scanning for that keyframe from ever
// further before the end, at last from the file's start, which leaps over the first keyframe:
// so a keyframe comes in the film's second half too, and every time after it can be sought. A
// keyframe's first packet is never short enough for the scan to take a byte inside it for a
// header.
void expectSeekable(const QString &path, double seconds)
{
    const std::vector<double> keys = keyframeTimes(path);
    ASSERT_GE(keys.size(), 2u) << path.toStdString();
    EXPECT_GE(keys.back(), seconds / 2) << path.toStdString();
    for (double t = keys.back() + 0.1; t < seconds - 0.1; t += 0.3)
        EXPECT_EQ(seekComplaints(path, t), QString()) << path.toStdString() << " at " << t << " s";
    const std::vector<int> lengths = keyframePacketLengths(path, 0);
    EXPECT_EQ(lengths.size(), keys.size()) << path.toStdString();
    for (int length : lengths)
        EXPECT_GE(length, 256) << path.toStdString();
    // The coded pictures hold nothing that reads as a header (the slices' ends with the next
    // packet's header included): from any byte of them the scan finds a keyframe.
    EXPECT_EQ(bytesFromWhichNoKeyframeIsFound(path), 0) << path.toStdString();
}

// Films shorter than a keyframe interval, whose only keyframe used to be the first, so that
// FFmpeg could not seek in them at all; a pan whose keyframes are a few hundred bytes; a join
// of two short films. Two passes, as the window encodes.
TEST(EngineSeek, FfmpegSeeksInShortFilmsAndTheirJoin)
{
    QTemporaryDir dir;
    const QString still = dir.filePath("still.mkv");
    const QString pan = dir.filePath("pan.mkv");
    QString error;
    ASSERT_TRUE(MediaTools::Generate({"-f", "lavfi", "-i", "testsrc2=size=352x288:rate=25:duration=4", "-c:v", "ffv1", still}, &error))
        << error.toStdString();
    ASSERT_TRUE(MediaTools::Generate({"-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=25:duration=6,crop=352:288:x='t*100':y=0",
                                      "-c:v", "ffv1", pan},
                                     &error))
        << error.toStdString();

    struct Film
    {
        QString input;
        QString audience;
        double seconds;
        QString output;
    };
    std::vector<Film> films{{still, kNarrow, 4, dir.filePath("still-narrow.rm")},
                            {still, kStandard, 4, dir.filePath("still-standard.rm")},
                            {pan, kNarrow, 6, dir.filePath("pan-narrow.rm")}};
    int complaints = 0, seeks = 0;
    for (Film &f : films) {
        const Outcome o = EngineRunner::Encode(EngineRunner::Job(f.input, f.output, f.audience));
        ASSERT_TRUE(o.succeeded) << o.reason.toStdString();
        expectSeekable(f.output, f.seconds);
        // Anywhere else FFmpeg's scan may still take bytes inside a picture for a packet header
        // now and then (its own files too): most times must seek.
        for (double t = 0.5; t < f.seconds - 0.2; t += 0.5, ++seeks)
            complaints += !seekComplaints(f.output, t).isEmpty();
    }
    EXPECT_LE(complaints * 10, seeks) << complaints << " of " << seeks << " seeks failed";

    const QString joined = dir.filePath("joined.rm");
    const ToolResult jj = RunTool(QStringLiteral(CORVA_APP_DIR "/jj"), {"-i", films[0].output, "-i", films[0].output, "-o", joined});
    ASSERT_EQ(jj.exitCode, 0) << jj.err.toStdString();
    expectSeekable(joined, 8);
}

// One picture alone: FFmpeg's frame threads (its default) complain that they cannot size
// their buffers unless a second picture follows; the film still shows the one picture.
TEST(EngineSeek, OnePictureFilmDecodesQuietlyWithDefaultThreads)
{
    QTemporaryDir dir;
    const QString input = dir.filePath("one.mkv");
    QString error;
    ASSERT_TRUE(MediaTools::Generate({"-f", "lavfi", "-i", "testsrc2=size=352x288:rate=25", "-frames:v", "1", "-c:v", "ffv1", input}, &error))
        << error.toStdString();
    for (const QString &audience : {kNarrow, kStandard}) {
        const QString output = dir.filePath(audience == kNarrow ? "narrow.rm" : "standard.rm");
        const Outcome o = EngineRunner::Encode(EngineRunner::Job(input, output, audience));
        ASSERT_TRUE(o.succeeded) << o.reason.toStdString();
        for (const QString &threads : {QStringLiteral("0"), QStringLiteral("3")}) {
            const ToolResult r = RunTool(QStringLiteral("ffmpeg"), {"-v", "error", "-threads", threads, "-i", output, "-f", "null", "-"});
            EXPECT_EQ(r.exitCode, 0);
            EXPECT_TRUE(r.err.trimmed().isEmpty()) << threads.toStdString() << " threads: " << r.err.toStdString();
        }
        // The second picture is shown within the first one's time: the film lasts less than
        // two pictures.
        const QJsonObject probe = MediaTools::Probe(output);
        const QStringList rate = probe.value("streams").toArray().first().toObject().value("r_frame_rate").toString().split('/');
        ASSERT_EQ(rate.size(), 2);
        const double picture = rate[1].toDouble() / rate[0].toDouble();
        const double duration = probe.value("format").toObject().value("duration").toString().toDouble();
        EXPECT_GT(duration, 0);
        EXPECT_LT(duration, 2 * picture) << output.toStdString();
        EXPECT_EQ(MediaTools::PacketCount(output, QStringLiteral("v")), 2);
    }
}

} // namespace
