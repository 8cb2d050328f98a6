// jj as the joiner window runs it: real clips from FFmpeg's rm muxer (and from our encoder
// pp), joined by the real program, checked with ffprobe, ffmpeg and mediainfo.

#include "rmff/FileSink.h"
#include "support/ToolRun.h"
#include "rmff/FileSource.h"
#include "rmff/RmReader.h"
#include "rmff/RmWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace corva::rmff;
using corva::test::RunTool;
using corva::test::ToolResult;

namespace {

QString Jj()
{
    return QStringLiteral(CORVA_APP_DIR "/jj");
}

// Clips are made once per build and shared by the tests (ctest runs each in its own process).
QString Media(const QString &name, const QStringList &ffmpegArgs, const QString &ext = QStringLiteral(".rm"))
{
    const QByteArray key = QCryptographicHash::hash(ffmpegArgs.join(u'|').toUtf8(), QCryptographicHash::Md5).toHex().left(8);
    const QString dir = QStringLiteral(CORVA_RMFF_MEDIA_DIR);
    QDir().mkpath(dir);
    const QString path = dir + u'/' + name + u'-' + QString::fromLatin1(key) + ext;
    if (QFileInfo::exists(path))
        return path;
    const QString part = path + QStringLiteral(".part") + QString::number(QCoreApplication::applicationPid()) + ext;
    QStringList args{QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y")};
    args << ffmpegArgs << part;
    const ToolResult r = RunTool(QStringLiteral("ffmpeg"), args);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    QFile::rename(part, path); // fails harmlessly when a parallel test got there first
    QFile::remove(part);
    return path;
}

QStringList Lavfi(const QString &video, const QString &audio, const QString &seconds)
{
    QStringList a;
    if (!video.isEmpty())
        a << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i") << video;
    if (!audio.isEmpty())
        a << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i") << audio;
    if (!video.isEmpty())
        a << QStringLiteral("-c:v") << QStringLiteral("rv20") << QStringLiteral("-b:v") << QStringLiteral("300k");
    if (!audio.isEmpty())
        a << QStringLiteral("-c:a") << QStringLiteral("ac3");
    a << QStringLiteral("-t") << seconds;
    return a;
}

const QString kVideo = QStringLiteral("testsrc=size=176x144:rate=25");
const QString kVideo2 = QStringLiteral("testsrc2=size=176x144:rate=25");
const QString kSine = QStringLiteral("sine=frequency=440");
const QString kSine2 = QStringLiteral("sine=frequency=1000");

// A clip encoded by our own producer tool from an FFmpeg-made source.
QString PpMedia(const QString &name, const QString &video, const QString &audio, const QString &seconds,
                const QString &audience, const QString &ext, const QStringList &extra = {})
{
    const QString pp = QStringLiteral(CORVA_APP_DIR "/pp");
    EXPECT_TRUE(QFileInfo::exists(pp)) << "pp was not built";
    QStringList source = Lavfi(video, audio, seconds);
    source[source.indexOf(QStringLiteral("rv20"))] = QStringLiteral("mpeg4");
    source[source.indexOf(QStringLiteral("ac3"))] = QStringLiteral("aac");
    const QString in = Media(name + QStringLiteral("-src"), source, QStringLiteral(".mp4"));
    const QString out = QStringLiteral(CORVA_RMFF_MEDIA_DIR "/") + name + ext;
    if (!QFileInfo::exists(out)) {
        const QString part = out + QStringLiteral(".part") + ext;
        const QStringList args = QStringList{QStringLiteral("-i"), in, QStringLiteral("-o"), part, QStringLiteral("-t"), QString(),
                                             QStringLiteral("-a"), QString(), QStringLiteral("-c"), QString(),
                                             QStringLiteral("-ad"), audience} + extra;
        const ToolResult r = RunTool(pp, args);
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        QFile::rename(part, out);
        QFile::remove(part);
    }
    return out;
}

QString AV1() { return Media(QStringLiteral("av1"), Lavfi(kVideo, kSine, QStringLiteral("2"))); }
QString AV2() { return Media(QStringLiteral("av2"), Lavfi(kVideo2, kSine2, QStringLiteral("1.6"))); }

struct StreamFacts
{
    QString codec;
    int frames = 0;
    int packets = 0;
};

struct Probe
{
    double duration = 0;
    std::vector<StreamFacts> streams;
};

Probe ProbeFile(const QString &file)
{
    const ToolResult r = RunTool(QStringLiteral("ffprobe"),
                      {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_frames"),
                       QStringLiteral("-count_packets"), QStringLiteral("-show_format"),
                       QStringLiteral("-show_streams"), QStringLiteral("-of"), QStringLiteral("json"), file});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QJsonObject root = QJsonDocument::fromJson(r.out).object();
    Probe p;
    p.duration = root[QStringLiteral("format")].toObject()[QStringLiteral("duration")].toString().toDouble();
    for (const QJsonValue &s : root[QStringLiteral("streams")].toArray()) {
        const QJsonObject o = s.toObject();
        p.streams.push_back({o[QStringLiteral("codec_name")].toString(),
                             o[QStringLiteral("nb_read_frames")].toString().toInt(),
                             o[QStringLiteral("nb_read_packets")].toString().toInt()});
    }
    return p;
}

// The first packet of the stream that ffprobe reads after seeking to `seconds`.
std::pair<double, bool> PacketAfterSeek(const QString &file, const QString &stream, double seconds)
{
    const ToolResult r = RunTool(QStringLiteral("ffprobe"),
                      {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-read_intervals"),
                       QString::number(seconds, 'f', 3) + QStringLiteral("%+#1"), QStringLiteral("-select_streams"),
                       stream, QStringLiteral("-show_entries"), QStringLiteral("packet=pts_time,flags"),
                       QStringLiteral("-of"), QStringLiteral("csv=p=0"), file});
    const QStringList fields = QString::fromUtf8(r.out).trimmed().split(u',');
    if (fields.size() < 2)
        return {-1, false};
    return {fields[0].toDouble(), fields[1].startsWith(u'K')};
}

// The longest stretch near `seconds` (within 0.3 s) where the decoded sound is quiet: under a
// twentieth of its level over the stretch, in 5 ms steps.
double QuietAround(const QString &file, double seconds)
{
    const QString raw = file + QStringLiteral(".f32");
    const ToolResult r = RunTool(QStringLiteral("ffmpeg"),
                             {QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"),
                              QStringLiteral("-i"), file, QStringLiteral("-map"), QStringLiteral("0:a"), QStringLiteral("-ac"),
                              QStringLiteral("1"), QStringLiteral("-ar"), QStringLiteral("8000"), QStringLiteral("-f"),
                              QStringLiteral("f32le"), raw});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    QFile f(raw);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray bytes = f.readAll();
    std::vector<float> v(static_cast<std::size_t>(bytes.size()) / 4);
    std::memcpy(v.data(), bytes.constData(), v.size() * 4);
    f.remove();
    const long from = std::max(0L, std::lround((seconds - 0.3) * 8000)), to = std::min(long(v.size()), std::lround((seconds + 0.3) * 8000));
    std::vector<double> level;
    for (long i = from; i + 40 <= to; i += 40) {
        double sum = 0;
        for (long k = i; k < i + 40; ++k)
            sum += double(v[std::size_t(k)]) * v[std::size_t(k)];
        level.push_back(std::sqrt(sum / 40));
    }
    const double loud = level.empty() ? 0 : *std::max_element(level.begin(), level.end());
    double longest = 0, run = 0;
    for (const double l : level) {
        run = l < loud / 20 ? run + 0.005 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

QString DecodeErrors(const QString &file)
{
    const ToolResult r = RunTool(QStringLiteral("ffmpeg"), {QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"),
                                                 QStringLiteral("-i"), file, QStringLiteral("-f"), QStringLiteral("null"),
                                                 QStringLiteral("-")});
    return r.exitCode == 0 ? r.err : QStringLiteral("exit %1: %2").arg(r.exitCode).arg(r.err);
}

// Copies a file packet by packet through our writer, e.g. into several DATA chunks.
void Rewrite(const QString &from, const QString &to, WriterOptions options)
{
    FileSource src(from.toStdString());
    RmReader in(src, from.toStdString());
    FileSink sink(to.toStdString());
    RmWriter out(sink, in.File(), in.Props(), in.Streams(), in.ContentDescription().value_or(Content{}), options);
    out.Begin();
    Packet p;
    while (in.NextPacket(p))
        out.WritePacket(p.header, p.payload);
    out.Finish(in.Props(), in.Streams());
    sink.Close();
}

class JjTest : public ::testing::Test
{
protected:
    QString Out(const QString &name) const { return m_dir.filePath(name); }
    QStringList Leftovers() const { return QDir(m_dir.path()).entryList(QDir::Files); }
    QTemporaryDir m_dir;
};

// One join, checked the way a user would: duration, counts, clean decode, mediainfo, seeking.
void CheckJoin(const QStringList &inputs, const QString &joined, const QString &seekStream)
{
    Probe sum;
    std::vector<double> starts;
    double start = 0;
    for (const QString &in : inputs) {
        const Probe p = ProbeFile(in);
        starts.push_back(start);
        // Each input follows the one before where its sound and picture end: the silence that
        // filled a cook input's last block is left out, its sound going on into the next.
        sum.duration = start + p.duration;
        start += p.duration;
        if (sum.streams.empty())
            sum.streams = p.streams;
        else
            for (std::size_t s = 0; s < p.streams.size(); ++s) {
                sum.streams[s].frames += p.streams[s].frames;
                sum.streams[s].packets += p.streams[s].packets;
            }
    }
    const double frame = 0.040;
    const Probe out = ProbeFile(joined);
    EXPECT_NEAR(out.duration, sum.duration, frame * double(inputs.size() - 1) + 0.001);
    ASSERT_EQ(out.streams.size(), sum.streams.size());
    bool cook = false;
    for (std::size_t s = 0; s < out.streams.size(); ++s) {
        EXPECT_EQ(out.streams[s].codec, sum.streams[s].codec);
        if (out.streams[s].codec == QStringLiteral("cook")) {
            // Blocks made anew: every frame of sound kept (1024 samples at 44.1 kHz, the decoder
            // keeping its first two to itself), at most one block filled up with silence at the end.
            cook = true;
            const double played = (out.streams[s].frames + 2) * 1024 / 44100.0;
            EXPECT_GE(played, sum.duration - 0.024 * double(inputs.size()));
            EXPECT_LE(played, sum.duration + 1.9);
            EXPECT_LE(out.streams[s].packets, sum.streams[s].packets);
            continue;
        }
        EXPECT_EQ(out.streams[s].frames, sum.streams[s].frames) << out.streams[s].codec.toStdString();
        EXPECT_EQ(out.streams[s].packets, sum.streams[s].packets) << out.streams[s].codec.toStdString();
    }
    // No silence where one input's sound gives way to the next: a frame or two of the seam at most.
    if (cook) {
        for (std::size_t k = 1; k < starts.size(); ++k)
            EXPECT_LE(QuietAround(joined, starts[k]), 0.06) << "seam " << k;
    }
    EXPECT_EQ(DecodeErrors(joined).toStdString(), "");

    const ToolResult info = RunTool(QStringLiteral("mediainfo"),
                         {QStringLiteral("--Inform=General;%Format%|%Duration%"), joined});
    const QStringList mi = QString::fromUtf8(info.out).trimmed().split(u'|');
    ASSERT_EQ(mi.size(), 2) << info.out.toStdString();
    EXPECT_EQ(mi[0], QStringLiteral("RealMedia"));
    EXPECT_NEAR(mi[1].toDouble() / 1000.0, sum.duration, frame * double(inputs.size()));

    // Every stream's index has a seek point where each input begins.
    {
        FileSource src(QFile::encodeName(joined).toStdString());
        RmReader r(src, "joined");
        Packet p;
        while (r.NextPacket(p)) {
        }
        EXPECT_EQ(r.IndexChunks().size(), out.streams.size());
        for (const IndexHeader &chunk : r.IndexChunks()) {
            std::vector<double> times;
            r.ReadIndex(chunk, [&](const IndexRecord &rec) { times.push_back(rec.timestamp / 1000.0); });
            // Cook blocks made anew run across the seams: the block holding a seam begins up to a
            // block (1.86 s) before it.
            const bool blocks = cook && std::any_of(r.Streams().begin(), r.Streams().end(), [&](const MediaProperties &m) {
                return m.streamNumber == chunk.streamNumber && m.mime.find("audio") != std::string::npos;
            });
            for (const double seam : starts)
                EXPECT_TRUE(std::any_of(times.begin(), times.end(),
                                        [&](double t) { return blocks ? t <= seam + frame && t > seam - 1.9 : std::abs(t - seam) <= frame; }))
                    << "stream " << chunk.streamNumber << " has no seek point at " << seam;
        }
    }

    // FFmpeg's rm demuxer cannot seek in files without video (not even in its own output),
    // so the seek itself is tried where there is video.
    if (seekStream.isEmpty())
        return;
    // Just past each seam, and in the middle of each later input, a seek must land on a key
    // packet of that input, not on one of the input before it.
    for (std::size_t k = 1; k < starts.size(); ++k) {
        const double seam = starts[k];
        const double length = (k + 1 < starts.size() ? starts[k + 1] : sum.duration) - seam;
        for (const double target : {seam + 0.1, seam + length / 2}) {
            const auto [pts, key] = PacketAfterSeek(joined, seekStream, target);
            EXPECT_TRUE(key) << "seek to " << target;
            EXPECT_GE(pts, seam - frame) << "seek to " << target << " left input " << k + 1;
            EXPECT_LE(pts, target + 0.001) << "seek to " << target;
        }
    }
}

struct JoinRow
{
    const char *name;
    std::function<QStringList()> inputs;
    const char *seekStream;
};

void PrintTo(const JoinRow &r, std::ostream *os)
{
    *os << r.name;
}

class JjJoins : public JjTest, public ::testing::WithParamInterface<JoinRow> {};

TEST_P(JjJoins, GivesOneFileThatDecodesCountsAndSeeksLikeItsParts)
{
    const QStringList inputs = GetParam().inputs();
    const QString joined = Out(QStringLiteral("joined.rm"));
    QStringList args;
    for (const QString &in : inputs)
        args << QStringLiteral("-i") << in;
    args << QStringLiteral("-o") << joined << QStringLiteral("-t") << QStringLiteral("合并") << QStringLiteral("-a")
         << QString() << QStringLiteral("-c") << QStringLiteral("墨川压缩合并 2004");
    const ToolResult r = RunTool(Jj(), args);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.err, QString());
    EXPECT_EQ(Leftovers(), QStringList{QStringLiteral("joined.rm")});
    CheckJoin(inputs, joined, QString::fromLatin1(GetParam().seekStream));
}

INSTANTIATE_TEST_SUITE_P(
    Clips, JjJoins,
    ::testing::Values(
        JoinRow{"two_clips", [] { return QStringList{AV1(), AV2()}; }, "v"},
        JoinRow{"three_clips", [] { return QStringList{AV2(), AV1(), AV2()}; }, "v"},
        JoinRow{"pp_rm",
                [] { return QStringList{PpMedia(QStringLiteral("pp-cbr1"), kVideo, kSine, QStringLiteral("2"), QStringLiteral("普通画质 CBR 300Kbps"), QStringLiteral(".rm")),
                                        PpMedia(QStringLiteral("pp-cbr2"), kVideo2, kSine2, QStringLiteral("1.5"), QStringLiteral("普通画质 CBR 300Kbps"), QStringLiteral(".rm"))}; },
                // FFmpeg's rm demuxer seeks by scanning the bytes for keyframes and gives up
                // where they are seconds apart, as in pp's films; the index points are checked.
                ""},
        JoinRow{"pp_rmvb",
                [] { return QStringList{PpMedia(QStringLiteral("pp-vbr1"), kVideo2, kSine, QStringLiteral("1.5"), QStringLiteral("DVD影碟 VBR 高画质 650Kbps"), QStringLiteral(".rmvb")),
                                        PpMedia(QStringLiteral("pp-vbr2"), kVideo, kSine2, QStringLiteral("2"), QStringLiteral("DVD影碟 VBR 高画质 650Kbps"), QStringLiteral(".rmvb"))}; },
                ""},
        JoinRow{"pp_audio_only",
                [] { return QStringList{PpMedia(QStringLiteral("pp-ao1"), kVideo, kSine, QStringLiteral("1"), QStringLiteral("普通画质 CBR 300Kbps"), QStringLiteral(".rm"), {QStringLiteral("-dv")}),
                                        PpMedia(QStringLiteral("pp-ao2"), kVideo2, kSine2, QStringLiteral("1.5"), QStringLiteral("普通画质 CBR 300Kbps"), QStringLiteral(".rm"), {QStringLiteral("-dv")})}; },
                ""},
        JoinRow{"video_only",
                [] { return QStringList{Media(QStringLiteral("v1"), Lavfi(kVideo, {}, QStringLiteral("1.2"))),
                                        Media(QStringLiteral("v2"), Lavfi(kVideo2, {}, QStringLiteral("2")))}; },
                "v"},
        JoinRow{"audio_only",
                [] { return QStringList{Media(QStringLiteral("a1"), Lavfi({}, kSine, QStringLiteral("1.5"))),
                                        Media(QStringLiteral("a2"), Lavfi({}, kSine2, QStringLiteral("2"))),
                                        Media(QStringLiteral("a1"), Lavfi({}, kSine, QStringLiteral("1.5")))}; },
                ""}),
    [](const auto &row) { return std::string(row.param.name); });

TEST_F(JjTest, JoinsFilesWithSeveralDataChunksAndNoIndex)
{
    const QString split = Out(QStringLiteral("split.rm"));
    Rewrite(AV1(), split, WriterOptions{7, false});
    {
        FileSource src(split.toStdString());
        RmReader check(src, "split.rm");
        Packet p;
        while (check.NextPacket(p)) {
        }
        ASSERT_GT(check.DataChunks().size(), 10u);
        ASSERT_EQ(check.Props().indexOffset, 0u);
    }
    const QString joined = Out(QStringLiteral("joined.rm"));
    const ToolResult r = RunTool(Jj(), {QStringLiteral("-i"), split, QStringLiteral("-i"), AV2(), QStringLiteral("-o"), joined});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    CheckJoin({AV1(), AV2()}, joined, QStringLiteral("v"));
}

TEST_F(JjTest, TakesTheWindowsCommandLineAndWritesTheTextsInGbk)
{
    QDir(m_dir.path()).mkdir(QStringLiteral("我的 影片"));
    const QString a = Out(QStringLiteral("我的 影片/第一 集.rm"));
    ASSERT_TRUE(QFile::copy(AV1(), a));
    const QString out = Out(QStringLiteral("我的 影片/第一 集_合并.rm"));
    const QString line = Jj() + QStringLiteral(" -i \"%1\" -i \"%2\" -o \"%3\" -t \"标题 一\" -a \"\" -c \"墨川压缩合并 2004\" ")
                                    .arg(a, AV2(), out);
    const ToolResult r = RunTool(Jj(), {line});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(QString::fromUtf8(r.out).contains(QStringLiteral("合并完成")));

    FileSource src(QFile::encodeName(out).toStdString());
    RmReader joined(src, "out");
    ASSERT_TRUE(joined.ContentDescription());
    QStringDecoder gbk("GBK");
    EXPECT_EQ(gbk.decode(QByteArray::fromStdString(joined.ContentDescription()->title)), QStringLiteral("标题 一"));
    EXPECT_EQ(joined.ContentDescription()->title, std::string("\xB1\xEA\xCC\xE2 \xD2\xBB"));
    EXPECT_EQ(joined.ContentDescription()->author, "");
    EXPECT_EQ(gbk.decode(QByteArray::fromStdString(joined.ContentDescription()->copyright)),
              QStringLiteral("墨川压缩合并 2004"));
}

struct RefusalRow
{
    const char *name;
    std::function<QStringList(const QString &dir)> args; // -o <dir>/out.rm is added
    int exitCode;
    const char *lastLine;
};

void PrintTo(const RefusalRow &r, std::ostream *os)
{
    *os << r.name;
}

class JjRefuses : public JjTest, public ::testing::WithParamInterface<RefusalRow> {};

TEST_P(JjRefuses, ExitsWithItsReasonOnTheLastLineAndWritesNothing)
{
    const RefusalRow &row = GetParam();
    QStringList args = row.args(m_dir.path());
    const QStringList before = Leftovers();
    if (!args.contains(QStringLiteral("-o")))
        args << QStringLiteral("-o") << Out(QStringLiteral("out.rm"));
    const ToolResult r = RunTool(Jj(), args);
    EXPECT_EQ(r.exitCode, row.exitCode) << r.err.toStdString();
    const QStringList lines = r.err.trimmed().split(u'\n');
    EXPECT_TRUE(lines.last().contains(QString::fromUtf8(row.lastLine))) << r.err.toStdString();
    EXPECT_EQ(r.out, QByteArray());
    EXPECT_EQ(Leftovers(), before);
}

QStringList Inputs(std::initializer_list<QString> files)
{
    QStringList a;
    for (const QString &f : files)
        a << QStringLiteral("-i") << f;
    return a;
}

// A pipe or a listening socket at `path`, made the way a user's tools would make them.
QString Fifo(const QString &path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0 ? path : QString();
}

QString Socket(const QString &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    if (name.size() >= qsizetype(sizeof address.sun_path))
        return {};
    std::copy(name.begin(), name.end(), address.sun_path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound = fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    if (fd >= 0)
        ::close(fd);
    return bound ? path : QString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JjRefuses,
    ::testing::Values(
        RefusalRow{"video_size",
                   [](const QString &) {
                       return Inputs({AV1(), Media(QStringLiteral("big"), Lavfi(QStringLiteral("testsrc=size=128x96:rate=25"), kSine, QStringLiteral("0.5")))});
                   },
                   3, "输入 2“"},
        RefusalRow{"sample_rate",
                   [](const QString &) {
                       return Inputs({AV1(), Media(QStringLiteral("48k"), Lavfi(kVideo, QStringLiteral("sine=sample_rate=48000"), QStringLiteral("0.5")))});
                   },
                   3, "的音频流与输入 1 不同：音频采样率为 48000，输入 1 为 44100"},
        RefusalRow{"video_codec",
                   [](const QString &) {
                       QStringList rv10 = Lavfi(kVideo, kSine, QStringLiteral("0.5"));
                       rv10[rv10.indexOf(QStringLiteral("rv20"))] = QStringLiteral("rv10");
                       return Inputs({AV1(), AV2(), Media(QStringLiteral("rv10"), rv10)});
                   },
                   3, "输入 3“"},
        RefusalRow{"streams_differ",
                   [](const QString &) { return Inputs({AV1(), Media(QStringLiteral("v1"), Lavfi(kVideo, {}, QStringLiteral("1.2")))}); },
                   3, "有 1 个媒体流，而输入 1 有 2 个"},
        RefusalRow{"past_two_gigabytes",
                   [](const QString &dir) {
                       // Sparse tails: the sizes of two 1 GiB files without writing them.
                       QStringList files;
                       for (const QString name : {QStringLiteral("/big1.rm"), QStringLiteral("/big2.rm")}) {
                           QFile::copy(AV1(), dir + name);
                           QFile f(dir + name);
                           if (!f.resize(qint64{1} << 30))
                               return QStringList();
                           files << dir + name;
                       }
                       return Inputs({files[0], files[1]});
                   },
                   4, "2 GB（2147483647 字节）"},
        RefusalRow{"header_only_sample",
                   [](const QString &) { return Inputs({QStringLiteral(CORVA_SAMPLES_DIR "/header-only-cook.rm"), AV1()}); },
                   3, "没有媒体数据（缺少 DATA 块）"},
        RefusalRow{"output_is_an_input",
                   [](const QString &dir) {
                       QFile::copy(AV1(), dir + QStringLiteral("/a.rm"));
                       return Inputs({dir + QStringLiteral("/a.rm"), AV1()}) << QStringLiteral("-o") << dir + QStringLiteral("/./a.rm");
                   },
                   4, "就是输入 1"},
        RefusalRow{"output_is_a_folder",
                   [](const QString &dir) { return Inputs({AV1(), AV2()}) << QStringLiteral("-o") << dir; }, 4,
                   "是一个文件夹"},
        // A pipe as input would hold jj in open() for ever; as output it would be replaced.
        RefusalRow{"fifo_input",
                   [](const QString &dir) { return Inputs({AV1(), Fifo(dir + QStringLiteral("/pipe.rm"))}); }, 2,
                   "是管道（FIFO），不是普通文件"},
        RefusalRow{"output_is_a_fifo",
                   [](const QString &dir) {
                       return Inputs({AV1(), AV2()}) << QStringLiteral("-o") << Fifo(dir + QStringLiteral("/pipe.rm"));
                   },
                   4, "pipe.rm”是管道（FIFO），不是普通文件"},
        RefusalRow{"output_is_a_socket",
                   [](const QString &dir) {
                       return Inputs({AV1(), AV2()}) << QStringLiteral("-o") << Socket(dir + QStringLiteral("/sock.rm"));
                   },
                   4, "sock.rm”是套接字，不是普通文件"},
        RefusalRow{"missing_input",
                   [](const QString &dir) { return Inputs({AV1(), dir + QStringLiteral("/none.rm")}); }, 2, "none.rm"},
        RefusalRow{"truncated_input",
                   [](const QString &dir) {
                       QFile in(AV2());
                       in.open(QIODevice::ReadOnly);
                       QFile cut(dir + QStringLiteral("/cut.rm"));
                       cut.open(QIODevice::WriteOnly);
                       cut.write(in.readAll().chopped(1000));
                       return Inputs({AV1(), cut.fileName()});
                   },
                   2, "被截断"},
        RefusalRow{"not_realmedia",
                   [](const QString &dir) {
                       QFile text(dir + QStringLiteral("/notes.rm"));
                       text.open(QIODevice::WriteOnly);
                       text.write("just text\n");
                       return Inputs({AV1(), text.fileName()});
                   },
                   3, "不是 RealMedia 文件"},
        RefusalRow{"one_input", [](const QString &) { return Inputs({AV1()}); }, 1, "至少需要两个输入文件"},
        RefusalRow{"unknown_switch", [](const QString &) { return Inputs({AV1(), AV1()}) << QStringLiteral("-x"); }, 1,
                   "命令行有误：无法识别的选项“-x”"},
        RefusalRow{"title_outside_gbk",
                   [](const QString &) { return Inputs({AV1(), AV1()}) << QStringLiteral("-t") << QStringLiteral("片名 \U0001F600"); },
                   1, "标题中的字符“\U0001F600”（U+1F600）无法用 GBK 编码表示"}),
    [](const auto &row) { return std::string(row.param.name); });

// An input whose only damage is its index after the packets joins with a note: the joined
// file gets an index of its own anyway.
struct IndexDamageRow
{
    const char *name;
    std::function<void(QByteArray &bytes, qsizetype indx)> spoil;
};

class JjIndexDamage : public JjTest, public ::testing::WithParamInterface<IndexDamageRow> {};

TEST_P(JjIndexDamage, WarnsAndJoins)
{
    // FFmpeg's muxer writes no index; ours does.
    const QString indexed = Out(QStringLiteral("indexed.rm"));
    const ToolResult made = RunTool(Jj(), {QStringLiteral("-i"), AV1(), QStringLiteral("-i"), AV1(), QStringLiteral("-o"), indexed});
    ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
    QFile in(indexed);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    QByteArray bytes = in.readAll();
    const qsizetype indx = bytes.lastIndexOf("INDX");
    ASSERT_GT(indx, 0);
    GetParam().spoil(bytes, indx);
    const QString damaged = Out(QStringLiteral("damaged.rm"));
    QFile out(damaged);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(bytes);
    out.close();

    const QString joined = Out(QStringLiteral("joined.rm"));
    const ToolResult r = RunTool(Jj(), {QStringLiteral("-i"), damaged, QStringLiteral("-i"), AV1(), QStringLiteral("-o"), joined});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("注意：")) && r.err.contains(QStringLiteral("INDX"))) << r.err.toStdString();
    CheckJoin({indexed, AV1()}, joined, QStringLiteral("v"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JjIndexDamage,
    ::testing::Values(
        IndexDamageRow{"count_too_large", [](QByteArray &b, qsizetype at) { b[at + 10] = '\x7F'; }},
        IndexDamageRow{"length_below_header",
                       [](QByteArray &b, qsizetype at) { b.replace(at + 4, 4, QByteArray("\0\0\0\4", 4)); }},
        IndexDamageRow{"cut_short", [](QByteArray &b, qsizetype) { b.chop(7); }}),
    [](const auto &row) { return std::string(row.param.name); });

// A data header that counts fewer packets than its chunk holds: every packet is joined, and
// the user is told the header was wrong.
struct CountRow
{
    const char *name;
    std::function<void(QByteArray &bytes, qsizetype data)> spoil;
};

class JjPacketCount : public JjTest, public ::testing::WithParamInterface<CountRow> {};

TEST_P(JjPacketCount, JoinsEveryPacketWithANote)
{
    QFile in(AV1());
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    QByteArray bytes = in.readAll();
    const qsizetype data = bytes.indexOf("DATA");
    ASSERT_GT(data, 0);
    GetParam().spoil(bytes, data);
    const QString miscounted = Out(QStringLiteral("miscounted.rm"));
    QFile out(miscounted);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(bytes);
    out.close();

    const QString joined = Out(QStringLiteral("joined.rm"));
    const ToolResult r = RunTool(Jj(), {QStringLiteral("-i"), miscounted, QStringLiteral("-i"), AV1(), QStringLiteral("-o"), joined});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("注意：")) && r.err.contains(QStringLiteral("miscounted.rm"))
                && r.err.contains(QStringLiteral("实际有")))
        << r.err.toStdString();
    CheckJoin({AV1(), AV1()}, joined, QStringLiteral("v"));
}

void SetU32(QByteArray &b, qsizetype at, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<char>(value >> (24 - 8 * i));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JjPacketCount,
    ::testing::Values(
        // DATA: tag, size (+4), version (+8), packet count (+10).
        CountRow{"count_5", [](QByteArray &b, qsizetype at) { SetU32(b, at + 10, 5); }},
        CountRow{"count_one_short",
                 [](QByteArray &b, qsizetype at) {
                     const quint32 count = quint32(uchar(b[at + 10])) << 24 | quint32(uchar(b[at + 11])) << 16
                                         | quint32(uchar(b[at + 12])) << 8 | quint32(uchar(b[at + 13]));
                     SetU32(b, at + 10, count - 1);
                 }},
        CountRow{"count_5_size_0", [](QByteArray &b, qsizetype at) {
                     SetU32(b, at + 4, 0);
                     SetU32(b, at + 10, 5);
                 }}),
    [](const auto &row) { return std::string(row.param.name); });

// A join stopped by the user, a kill or a closed terminal leaves no half file; with an unnamed
// temporary even KILL leaves nothing.
struct StopRow
{
    const char *name;
    int signal;
    bool named; // the temporary has a name, as on systems without unnamed files
};

class JjStopped : public JjTest, public ::testing::WithParamInterface<StopRow> {};

bool TemporaryOpen(qint64 pid, const QString &dir, bool named)
{
    if (named)
        return !QDir(dir).entryList({QStringLiteral("*.part")}, QDir::Files).isEmpty();
    for (const QFileInfo &fd : QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryInfoList(QDir::System | QDir::Files)) {
        const QString target = fd.symLinkTarget();
        if (target.startsWith(dir) && target.contains(QStringLiteral("(deleted)")))
            return true;
    }
    return false;
}

TEST_P(JjStopped, LeavesNothingBehind)
{
    // Many inputs make the join last long enough to be caught midway.
    const QString clip = Media(QStringLiteral("long"), Lavfi(kVideo, kSine, QStringLiteral("20")));
    QStringList args;
    // ...and caught early, so the signal never meets the last moments of a join that is
    // putting its file in place.
    for (int i = 0; i < 400; ++i)
        args << QStringLiteral("-i") << clip;
    args << QStringLiteral("-o") << Out(QStringLiteral("out.rm"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (GetParam().named)
        env.insert(QStringLiteral("CORVA_NAMED_TEMPORARY"), QStringLiteral("1"));
    else
        env.remove(QStringLiteral("CORVA_NAMED_TEMPORARY"));
    // On a loaded machine the signal may come only after the join has finished; such a run
    // says nothing about stopping midway, so it is tried again.
    bool stopped = false;
    for (int attempt = 0; attempt < 5 && !stopped; ++attempt) {
        QFile::remove(Out(QStringLiteral("out.rm")));
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(Jj(), args);
        ASSERT_TRUE(p.waitForStarted(5000));
        bool caught = false;
        for (int i = 0; i < 2000 && !caught && p.state() == QProcess::Running; ++i) {
            caught = TemporaryOpen(p.processId(), m_dir.path(), GetParam().named);
            if (!caught)
                QThread::msleep(2);
        }
        if (caught)
            ::kill(static_cast<pid_t>(p.processId()), GetParam().signal);
        ASSERT_TRUE(p.waitForFinished(10000));
        stopped = caught && p.exitStatus() == QProcess::CrashExit;
    }
    ASSERT_TRUE(stopped) << "the join always ended before it could be stopped";
    EXPECT_EQ(Leftovers(), QStringList());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JjStopped,
    ::testing::Values(StopRow{"interrupt", SIGINT, true}, StopRow{"terminate", SIGTERM, true},
                      StopRow{"hang_up", SIGHUP, true}, StopRow{"kill_unnamed", SIGKILL, false}),
    [](const auto &row) { return std::string(row.param.name); });

} // namespace
