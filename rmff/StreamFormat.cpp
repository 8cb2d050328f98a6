#include "rmff/StreamFormat.h"

#include "rmff/ByteReader.h"

#include <cstdio>

namespace corva::rmff {

namespace {

constexpr std::uint32_t kVido = FourCc("VIDO");
constexpr std::uint32_t kRaMagic = FourCc(".ra\xFD");

bool IsInterleaved(std::uint32_t interleaver)
{
    return interleaver == FourCc("genr") || interleaver == FourCc("Int4") ||
           interleaver == FourCc("sipr");
}

std::string Number(std::uint64_t v)
{
    return std::to_string(v);
}

} // namespace

std::string FrameRateText(std::uint32_t fixed)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", fixed / 65536.0);
    return text;
}

namespace {

bool StartsWith(const std::string &s, const char *prefix)
{
    return s.rfind(prefix, 0) == 0;
}

} // namespace

std::optional<VideoFormat> ParseVideoFormat(std::span<const std::uint8_t> block)
{
    if (block.size() < 26 || GetU32(block.data() + 4) != kVido)
        return std::nullopt;
    const std::uint8_t *p = block.data();
    VideoFormat v;
    v.codec = GetU32(p + 8);
    v.width = GetU16(p + 12);
    v.height = GetU16(p + 14);
    v.padWidth = GetU16(p + 18);
    v.padHeight = GetU16(p + 20);
    v.framesPerSecond = GetU32(p + 22);
    v.codecData.assign(block.begin() + 26, block.end());
    return v;
}

std::optional<AudioFormat> ParseAudioFormat(std::span<const std::uint8_t> block)
{
    if (block.size() < 6 || GetU32(block.data()) != kRaMagic)
        return std::nullopt;
    const std::uint8_t *p = block.data();
    AudioFormat a;
    a.version = GetU16(p + 4);
    std::size_t tail = 0;
    if (a.version == 4) {
        // Length-prefixed codes; anything but four bytes is a layout we do not know.
        if (block.size() < 66 || p[56] != 4 || p[61] != 4)
            return std::nullopt;
        a.sampleRate = GetU16(p + 48);
        a.sampleSize = GetU16(p + 52);
        a.channels = GetU16(p + 54);
        a.interleaver = GetU32(p + 57);
        a.codec = GetU32(p + 62);
        tail = 66;
    } else if (a.version == 5) {
        if (block.size() < 70)
            return std::nullopt;
        a.sampleRate = GetU16(p + 54);
        a.sampleSize = GetU16(p + 58);
        a.channels = GetU16(p + 60);
        a.interleaver = GetU32(p + 62);
        a.codec = GetU32(p + 66);
        tail = 70;
    } else {
        return std::nullopt;
    }
    a.flavor = GetU16(p + 22);
    a.codedFrameSize = GetU32(p + 24);
    a.bytesPerMinute = GetU32(p + 32);
    a.subPacketH = GetU16(p + 40);
    a.frameSize = GetU16(p + 42);
    a.subPacketSize = GetU16(p + 44);
    a.codecData.assign(block.begin() + static_cast<std::ptrdiff_t>(tail), block.end());
    return a;
}

StreamFormat StreamFormat::Of(const MediaProperties &m)
{
    StreamFormat f;
    if (m.mime == "logical-fileinfo") {
        f.kind = StreamKind::FileInfo;
    } else if (m.mime == "video/x-pn-realvideo") {
        f.kind = StreamKind::Video;
        f.video = ParseVideoFormat(m.typeSpecific);
    } else if (m.mime == "audio/x-pn-realaudio") {
        f.kind = StreamKind::Audio;
        f.audio = ParseAudioFormat(m.typeSpecific);
    } else if (StartsWith(m.mime, "video/")) {
        f.kind = StreamKind::Video;
    } else if (StartsWith(m.mime, "audio/")) {
        f.kind = StreamKind::Audio;
    }
    return f;
}

double StreamFormat::NominalUnitMs() const
{
    if (video && video->framesPerSecond >= 0x10000 && video->framesPerSecond <= 240 * 0x10000)
        return 1000.0 * 65536.0 / video->framesPerSecond;
    if (audio && audio->bytesPerMinute != 0) {
        const double bytes = IsInterleaved(audio->interleaver)
                                 ? double(audio->subPacketH) * audio->frameSize
                                 : double(audio->frameSize);
        return bytes * 60000.0 / audio->bytesPerMinute;
    }
    return 0;
}

std::string StreamFormat::KindName() const
{
    switch (kind) {
    case StreamKind::Video: return "视频流";
    case StreamKind::Audio: return "音频流";
    case StreamKind::FileInfo: return "文件信息流";
    case StreamKind::Other: break;
    }
    return "数据流";
}

std::optional<std::string> UnsupportedReason(const MediaProperties &m)
{
    if (m.mime.find("encrypted") != std::string::npos)
        return "含有加密的流（" + m.mime + "），无法合并";
    if ((StartsWith(m.mime, "logical-") && m.mime != "logical-fileinfo") ||
        m.mime.find("multirate") != std::string::npos)
        return "是多码率（SureStream）文件（" + m.mime + "），无法合并";
    if (m.typeSpecific.size() >= 4 && GetU32(m.typeSpecific.data()) == FourCc("MLTI"))
        return "是多码率（SureStream）文件，无法合并";
    return std::nullopt;
}

std::optional<FormatDifference> CompareFormats(const MediaProperties &a, const MediaProperties &b)
{
    if (a.mime != b.mime)
        return FormatDifference{"流类型", b.mime, a.mime};
    const StreamFormat fa = StreamFormat::Of(a);
    const StreamFormat fb = StreamFormat::Of(b);
    if (fa.video && fb.video) {
        const VideoFormat &va = *fa.video;
        const VideoFormat &vb = *fb.video;
        if (va.codec != vb.codec)
            return FormatDifference{"视频编码", FourCcText(vb.codec), FourCcText(va.codec)};
        if (va.width != vb.width || va.height != vb.height)
            return FormatDifference{"视频尺寸", Number(vb.width) + "x" + Number(vb.height),
                                    Number(va.width) + "x" + Number(va.height)};
        if (va.padWidth != vb.padWidth || va.padHeight != vb.padHeight)
            return FormatDifference{"视频填充尺寸", Number(vb.padWidth) + "x" + Number(vb.padHeight),
                                    Number(va.padWidth) + "x" + Number(va.padHeight)};
        if (va.codecData != vb.codecData)
            return FormatDifference{"视频编码参数", {}, {}};
        return std::nullopt;
    }
    if (fa.audio && fb.audio) {
        const AudioFormat &x = *fa.audio;
        const AudioFormat &y = *fb.audio;
        struct Field { const char *what; std::uint64_t a, b; bool fourcc; };
        const Field fields[] = {
            {"音频头版本", x.version, y.version, false},
            {"音频编码", x.codec, y.codec, true},
            {"音频交织方式", x.interleaver, y.interleaver, true},
            {"音频采样率", x.sampleRate, y.sampleRate, false},
            {"音频声道数", x.channels, y.channels, false},
            {"音频采样位数", x.sampleSize, y.sampleSize, false},
            {"音频编码档次（flavor）", x.flavor, y.flavor, false},
            {"音频码率（字节/分钟）", x.bytesPerMinute, y.bytesPerMinute, false},
            {"音频编码帧长度", x.codedFrameSize, y.codedFrameSize, false},
            {"音频交织块数（sub_packet_h）", x.subPacketH, y.subPacketH, false},
            {"音频交织块大小（frame size）", x.frameSize, y.frameSize, false},
            {"音频子包大小（sub_packet_size）", x.subPacketSize, y.subPacketSize, false},
        };
        for (const Field &f : fields) {
            if (f.a == f.b)
                continue;
            if (f.fourcc)
                return FormatDifference{f.what, FourCcText(std::uint32_t(f.b)),
                                        FourCcText(std::uint32_t(f.a))};
            return FormatDifference{f.what, Number(f.b), Number(f.a)};
        }
        if (x.codecData != y.codecData)
            return FormatDifference{"音频编码参数", {}, {}};
        return std::nullopt;
    }
    // A setup block we cannot read: only identical bytes are known to be safe.
    if (a.typeSpecific != b.typeSpecific)
        return FormatDifference{fa.KindName() + "的编码设置", {}, {}};
    return std::nullopt;
}

} // namespace corva::rmff
