// Files from the muxer, checked by readers that share nothing with it: FFmpeg decodes real RV40
// pictures (re-muxed from tests/data) exactly as it decodes the original file, GStreamer's
// rmdemux and avdec_rv40 decode the same pictures, mediainfo names the codecs, seeking lands,
// and jj joins two such files.

#include "support/ToolRun.h"

#include "rmff/FileSink.h"
#include "rmff/FileSource.h"
#include "rmff/RmMuxer.h"
#include "rmff/RmReader.h"
#include "rmff/StreamSetup.h"

#include <gtest/gtest.h>

#include <QDir>

#include <algorithm>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

using namespace corva::rmff;
using corva::test::RunGstreamer;
using corva::test::RunTool;
using corva::test::ToolResult;

namespace {

std::string S(const QString &s)
{
    return s.toStdString();
}

constexpr int kWidth = 176;
constexpr int kHeight = 144;
constexpr qsizetype kPictureBytes = kWidth * kHeight * 3 / 2;

struct Picture
{
    std::vector<std::vector<std::uint8_t>> slices;
    std::uint32_t ts = 0;
    bool key = false;
};

// The pictures of a RealVideo file, slice by slice, read from the sub-packet headers.
std::vector<Picture> ReadPictures(const std::string &path)
{
    FileSource src(path);
    RmReader r(src, path);
    std::vector<Picture> out;
    Packet p;
    while (r.NextPacket(p)) {
        const auto &d = p.payload;
        const unsigned type = d[0] >> 6;
        std::size_t at = 2;
        if (type != 1) {
            for (int n = 0; n < 2; ++n)
                at += ((d[at] & 0x7F) << 8 | d[at + 1]) >= 0x4000 ? 2 : 4;
            ++at; // picture sequence byte
        }
        if (type == 1 || (d[1] & 0x7F) == 1)
            out.push_back(Picture{{}, p.header.timestamp, (p.header.flags & 2) != 0});
        out.back().slices.emplace_back(d.begin() + static_cast<std::ptrdiff_t>(at), d.end());
    }
    return out;
}

struct AudioFrame
{
    std::vector<std::uint8_t> bytes;
    std::uint32_t ts = 0;
};

// AC-3 frames made by FFmpeg, taken from its own RealMedia file (and swapped back to the
// order the encoder gives them in).
std::vector<AudioFrame> MakeAc3(const QString &dir, const QString &seconds)
{
    const QString file = dir + QStringLiteral("/ac3.rm");
    const ToolResult made = RunTool(QStringLiteral("ffmpeg"),
        {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100",
         "-ac", "2", "-c:a", "ac3", "-b:a", "96k", "-t", seconds, file});
    EXPECT_EQ(made.exitCode, 0) << made.err.toStdString();
    FileSource src(file.toStdString());
    RmReader r(src, "ac3.rm");
    std::vector<AudioFrame> out;
    Packet p;
    while (r.NextPacket(p)) {
        AudioFrame f{{p.payload.begin(), p.payload.end()}, p.header.timestamp};
        for (std::size_t i = 0; i + 1 < f.bytes.size(); i += 2)
            std::swap(f.bytes[i], f.bytes[i + 1]);
        out.push_back(std::move(f));
    }
    return out;
}

// Pictures and sound handed over in the uneven way an encoder does: sound in bursts.
void Mux(const QString &path, const std::vector<Picture> &pictures, const std::vector<AudioFrame> &audio)
{
    std::optional<MuxVideo> video;
    if (!pictures.empty())
        video = MuxVideo{FourCc("RV40"), kWidth, kHeight, 25u << 16, {0, 0, 0, 0, 0x40, 0, 0x80, 0}};
    std::optional<MuxAudio> sound;
    if (!audio.empty())
        sound = MuxAudio{44100, 2, 96000};
    FileSink sink(path.toStdString());
    RmMuxer mux(sink, video, sound, Content{"\xB2\xE2\xCA\xD4", "", "", ""}); // 测试 in GBK
    std::size_t a = 0;
    for (const Picture &p : pictures) {
        mux.WriteVideo(p.slices, p.ts, p.key);
        while (a < audio.size() && audio[a].ts < p.ts + 300)
            mux.WriteAudio(audio[a].bytes, audio[a].ts), ++a;
    }
    for (; a < audio.size(); ++a)
        mux.WriteAudio(audio[a].bytes, audio[a].ts);
    mux.Finish();
    sink.Close();
}

ToolResult DecodeVideo(const QString &file, const QStringList &before = {}, const QStringList &after = {})
{
    return RunTool(QStringLiteral("ffmpeg"), QStringList{"-nostdin", "-v", "error"} + before +
                                                 QStringList{"-i", file, "-map", "0:v"} + after +
                                                 // Pictures as they come: no copies to fill gaps.
                                                 QStringList{"-fps_mode", "passthrough", "-f", "rawvideo", "-pix_fmt", "yuv420p", "-"});
}

QString Info(const QString &file, const QString &form)
{
    return QString::fromUtf8(RunTool(QStringLiteral("mediainfo"), {QStringLiteral("--Inform=") + form, file}).out).trimmed();
}

class RmMuxerMedia : public ::testing::TestWithParam<const char *>
{
protected:
    QString Fixture() const { return QStringLiteral(CORVA_SOURCE_DIR "/tests/data/") + QLatin1String(GetParam()); }
    QTemporaryDir m_dir;
};

TEST_P(RmMuxerMedia, RealPicturesDecodeAsInTheOriginalWithSound)
{
    ASSERT_TRUE(m_dir.isValid());
    const std::vector<Picture> pictures = ReadPictures(Fixture().toStdString());
    ASSERT_GE(pictures.size(), 6u);
    const std::vector<AudioFrame> audio = MakeAc3(m_dir.path(), QStringLiteral("0.4"));
    ASSERT_GT(audio.size(), 10u);
    const QString out = m_dir.filePath(QStringLiteral("out.rm"));
    Mux(out, pictures, audio);

    // FFmpeg: every picture, without a message, equal to the original file's pictures.
    const ToolResult reference = DecodeVideo(Fixture());
    ASSERT_EQ(reference.exitCode, 0) << reference.err.toStdString();
    ASSERT_EQ(reference.out.size(), kPictureBytes * static_cast<qsizetype>(pictures.size()));
    const ToolResult decoded = DecodeVideo(out);
    EXPECT_EQ(decoded.exitCode, 0);
    EXPECT_EQ(S(decoded.err), "");
    EXPECT_TRUE(decoded.out == reference.out) << "decoded pictures differ from the original's";

    const ToolResult sound = RunTool(QStringLiteral("ffmpeg"),
        {"-nostdin", "-v", "error", "-i", out, "-map", "0:a", "-f", "s16le", "-ac", "2", "-"});
    EXPECT_EQ(sound.exitCode, 0);
    EXPECT_EQ(S(sound.err), "");
    EXPECT_EQ(sound.out.size(), static_cast<qsizetype>(audio.size()) * 1536 * 4);

    // ffprobe: the codec and size from the header, one packet per picture with its time and
    // key flag, in the order given.
    const ToolResult probe = RunTool(QStringLiteral("ffprobe"),
        {"-v", "error", "-select_streams", "v", "-show_entries", "stream=codec_name,width,height:packet=pts,flags",
         "-of", "csv=p=0", out});
    ASSERT_EQ(probe.exitCode, 0) << probe.err.toStdString();
    QStringList lines = QString::fromUtf8(probe.out).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(S(lines.takeLast()), "rv40,176,144");
    ASSERT_EQ(lines.size(), static_cast<qsizetype>(pictures.size()));
    for (std::size_t i = 0; i < pictures.size(); ++i)
        EXPECT_EQ(lines[static_cast<qsizetype>(i)],
                  QString::number(pictures[i].ts) + (pictures[i].key ? QStringLiteral(",K_") : QStringLiteral(",__")))
            << "picture " << i;

    // GStreamer: the same pictures through its own demuxer.
    const QString gstOut = m_dir.filePath(QStringLiteral("gst.yuv"));
    const ToolResult gst = RunGstreamer({"filesrc", "location=" + out, "!", "rmdemux", "name=d",
                                         "d.", "!", "queue", "!", "avdec_rv40", "!", "filesink", "location=" + gstOut,
                                         "d.", "!", "queue", "!", "avdec_ac3", "!", "fakesink"});
    EXPECT_EQ(gst.exitCode, 0) << gst.err.toStdString();
    QFile g(gstOut);
    ASSERT_TRUE(g.open(QIODevice::ReadOnly));
    EXPECT_TRUE(g.readAll() == reference.out) << "GStreamer decodes other pictures";

    EXPECT_EQ(Info(out, QStringLiteral("Video;%Format%|%Width%x%Height%")), QStringLiteral("RealVideo 4|176x144"));
    EXPECT_EQ(Info(out, QStringLiteral("Audio;%Format%|%Channel(s)%|%SamplingRate%")), QStringLiteral("AC-3|2|44100"));

    // Seeking to the second key picture lands on it.
    const auto second = std::find_if(pictures.begin() + 1, pictures.end(), [](const Picture &p) { return p.key; });
    ASSERT_NE(second, pictures.end());
    const ToolResult seek = DecodeVideo(out, {"-ss", QString::number(second->ts / 1000.0, 'f', 3)}, {"-frames:v", "1"});
    ASSERT_EQ(seek.out.size(), kPictureBytes) << S(seek.err);
    EXPECT_TRUE(seek.out == reference.out.mid(kPictureBytes * (second->ts / 40), kPictureBytes));

    // jj joins two of them; the result decodes whole.
    const QString joined = m_dir.filePath(QStringLiteral("joined.rm"));
    const ToolResult jj = RunTool(QStringLiteral(CORVA_APP_DIR "/jj"), {"-i", out, "-i", out, "-o", joined});
    ASSERT_EQ(jj.exitCode, 0) << jj.err.toStdString();
    const ToolResult both = DecodeVideo(joined);
    EXPECT_EQ(S(both.err), "");
    EXPECT_TRUE(both.out == reference.out + reference.out);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RmMuxerMedia,
                         ::testing::Values("rv40-176x144-3slices-ibbp.rm", "rv40-176x144-1slice-ipp.rm"),
                         [](const auto &p) { return std::string(p.index == 0 ? "ThreeSlicesWithB" : "OneSlice"); });

TEST(RmMuxerMediaAudio, AudioOnlyFilesDecodeAndSeek)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::vector<AudioFrame> audio = MakeAc3(dir.path(), QStringLiteral("20"));
    const QString out = dir.filePath(QStringLiteral("sound.rm"));
    Mux(out, {}, audio);

    const ToolResult sound = RunTool(QStringLiteral("ffmpeg"),
        {"-nostdin", "-v", "error", "-i", out, "-f", "s16le", "-ac", "2", "-"});
    EXPECT_EQ(sound.exitCode, 0);
    EXPECT_EQ(S(sound.err), "");
    EXPECT_EQ(sound.out.size(), static_cast<qsizetype>(audio.size()) * 1536 * 4);

    const ToolResult probe = RunTool(QStringLiteral("ffprobe"),
        {"-v", "error", "-show_entries", "stream=codec_name,sample_rate,channels:format=duration", "-of", "csv=p=0", out});
    EXPECT_EQ(QString::fromUtf8(probe.out).split(u'\n', Qt::SkipEmptyParts),
              QStringList({"ac3,44100,2", QString::number((audio.back().ts + 35) / 1000.0, 'f', 6)}));
    EXPECT_EQ(Info(out, QStringLiteral("Audio;%Format%")), QStringLiteral("AC-3"));

    // A seek lands within the second before the target, where the index has a point.
    for (const double target : {2.0, 7.5, 13.3}) {
        const ToolResult seek = RunTool(QStringLiteral("ffprobe"),
            {"-v", "error", "-read_intervals", QString::number(target, 'f', 3) + "%+#1", "-show_entries", "packet=pts",
             "-of", "csv=p=0", out});
        const QString pts = QString::fromUtf8(seek.out).trimmed();
        ASSERT_FALSE(pts.isEmpty()) << target << ": " << S(seek.err);
        EXPECT_LE(pts.toInt(), target * 1000) << target;
        EXPECT_GE(pts.toInt(), target * 1000 - 1000) << target;
    }

    const ToolResult gst = RunGstreamer({"filesrc", "location=" + out, "!", "rmdemux", "!", "avdec_ac3", "!", "fakesink"});
    EXPECT_EQ(gst.exitCode, 0) << gst.err.toStdString();
}

// The audio header must be the one the readers know from FFmpeg's own files, byte for byte.
struct Ac3Case
{
    std::uint32_t rate;
    std::uint16_t channels;
    std::uint32_t bitRate;
};

class Ac3Header : public ::testing::TestWithParam<Ac3Case>
{
};

TEST_P(Ac3Header, EqualsTheOneFfmpegWrites)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const Ac3Case c = GetParam();
    const QString file = dir.filePath(QStringLiteral("a.rm"));
    const ToolResult made = RunTool(QStringLiteral("ffmpeg"),
        {"-nostdin", "-v", "error", "-f", "lavfi", "-i", "sine=sample_rate=" + QString::number(c.rate), "-t", "0.2",
         "-ac", QString::number(c.channels), "-c:a", "ac3", "-b:a", QString::number(c.bitRate), file});
    ASSERT_EQ(made.exitCode, 0) << S(made.err);
    FileSource src(file.toStdString());
    RmReader r(src, "a.rm");
    ASSERT_EQ(r.Streams().size(), 1u);
    EXPECT_EQ(r.Streams()[0].mime, kRealAudioMime);
    EXPECT_EQ(BuildAc3Setup(c.rate, c.channels, c.bitRate), r.Streams()[0].typeSpecific);
}

INSTANTIATE_TEST_SUITE_P(Rates, Ac3Header,
                         ::testing::Values(Ac3Case{44100, 2, 96000}, Ac3Case{48000, 1, 64000},
                                           Ac3Case{32000, 2, 192000},
                                           // the one rate whose frame size FFmpeg rounds down once more
                                           Ac3Case{44100, 2, 128000}, Ac3Case{48000, 2, 448000}),
                         [](const auto &p) {
                             return std::to_string(p.param.rate) + "Hz" + std::to_string(p.param.channels) + "ch" +
                                    std::to_string(p.param.bitRate / 1000) + "k";
                         });

// Pictures of made-up slices, large enough for the 4-byte length form: FFmpeg's demuxer must
// put each picture back together whole (its packet = 1 + 8 bytes a slice + the slices). Key
// flags are checked on real pictures only: FFmpeg's parser reads them from the slice bytes.
TEST(RmMuxerMediaFragments, FfmpegRebuildsEveryPictureWhole)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // (keyframes are even; a keyframe's packets are never short, so theirs are not)
    const std::vector<std::vector<std::size_t>> sizes{{30000}, {16000, 16000, 9000}, {300, 250}, {20000, 100, 3, 40000}, {65000}};
    std::vector<Picture> pictures;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        Picture p;
        p.ts = static_cast<std::uint32_t>(i * 40);
        p.key = i % 2 == 0;
        for (std::size_t n : sizes[i]) {
            std::vector<std::uint8_t> slice(n);
            for (std::size_t k = 0; k < n; ++k)
                slice[k] = static_cast<std::uint8_t>((k * 131 + i * 17 + n) >> 3);
            p.slices.push_back(std::move(slice));
        }
        pictures.push_back(std::move(p));
    }
    const QString out = dir.filePath(QStringLiteral("made.rm"));
    Mux(out, pictures, {});

    const ToolResult probe = RunTool(QStringLiteral("ffprobe"),
        {"-v", "quiet", "-show_entries", "packet=size", "-of", "csv=p=0", out});
    ASSERT_EQ(probe.exitCode, 0);
    QStringList expected;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        std::size_t total = 1 + 8 * sizes[i].size();
        for (std::size_t n : sizes[i])
            total += n;
        expected << QString::number(total);
    }
    EXPECT_EQ(S(QString::fromUtf8(probe.out).split(u'\n', Qt::SkipEmptyParts).join(u' ')), S(expected.join(u' ')));

    // Our reader takes the same pictures apart again.
    const std::vector<Picture> back = ReadPictures(out.toStdString());
    ASSERT_EQ(back.size(), pictures.size());
    for (std::size_t i = 0; i < back.size(); ++i)
        EXPECT_TRUE(back[i].slices == pictures[i].slices) << "picture " << i;
}

} // namespace
