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
    constexpr std::size_t kFixedPart = 26;
    if (block.size() < kFixedPart)
        return std::nullopt;
    ByteReader r(block, 0, false, "视频设置块");
    r.U32("block size");
    if (r.U32("tag") != kVido)
        return std::nullopt;
    VideoFormat v;
    v.codec = r.U32("codec");
    v.width = r.U16("width");
    v.height = r.U16("height");
    r.U16("bits per pixel");
    v.padWidth = r.U16("pad width");
    v.padHeight = r.U16("pad height");
    v.framesPerSecond = r.U32("frames per second");
    const auto rest = r.Bytes(r.Remaining(), "codec data");
    v.codecData.assign(rest.begin(), rest.end());
    return v;
}

namespace {

// A four-byte code stored with its length byte before it; false when the length is not 4.
bool ReadPrefixedCode(ByteReader &r, const char *field, std::uint32_t &code)
{
    if (r.U8(field) != 4)
        return false;
    code = r.U32(field);
    return true;
}

} // namespace

std::optional<AudioFormat> ParseAudioFormat(std::span<const std::uint8_t> block)
{
    if (block.size() < 6)
        return std::nullopt;
    ByteReader r(block, 0, false, "音频设置块");
    if (r.U32("magic") != kRaMagic)
        return std::nullopt;
    AudioFormat a;
    a.version = r.U16("version");
    // Whole fixed parts only: version 4 up to its codec code, version 5 likewise.
    if ((a.version == 4 && block.size() < 66) || (a.version == 5 && block.size() < 70) ||
        (a.version != 4 && a.version != 5))
        return std::nullopt;
    r.U16("revision");
    r.U32("header tag");
    r.U32("data size");
    r.U16("header version");
    r.U32("header size");
    a.flavor = r.U16("flavor");
    a.codedFrameSize = r.U32("coded frame size");
    r.U32("reserved");
    a.bytesPerMinute = r.U32("bytes per minute");
    r.U32("bytes per minute (second copy)");
    a.subPacketH = r.U16("sub_packet_h");
    a.frameSize = r.U16("frame size");
    a.subPacketSize = r.U16("sub_packet_size");
    r.U16("reserved");
    if (a.version == 4) {
        a.sampleRate = r.U16("sample rate");
        r.U16("reserved");
        a.sampleSize = r.U16("sample size");
        a.channels = r.U16("channels");
        // Length-prefixed codes; anything but four bytes is a layout we do not know.
        if (!ReadPrefixedCode(r, "interleaver", a.interleaver) || !ReadPrefixedCode(r, "codec", a.codec))
            return std::nullopt;
    } else {
        r.Skip(6, "reserved");
        a.sampleRate = r.U16("sample rate");
        r.U16("reserved");
        a.sampleSize = r.U16("sample size");
        a.channels = r.U16("channels");
        a.interleaver = r.U32("interleaver");
        a.codec = r.U32("codec");
    }
    const auto rest = r.Bytes(r.Remaining(), "codec data");
    a.codecData.assign(rest.begin(), rest.end());
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
