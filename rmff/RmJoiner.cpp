#include "rmff/RmJoiner.h"

#include "rmff/GenrReblocker.h"
#include "rmff/StreamFormat.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace corva::rmff {

namespace {

// Audio and other streams get one seek point per this many ms; video one per key frame.
constexpr std::uint32_t kSparseIndexMs = 1000;
// How far into an input we look for each stream's first timestamp, when a stream is slow
// to show up.
constexpr int kBaseScanPackets = 4096;
constexpr std::uint64_t kBaseScanBytes = 4u << 20;

// Whether a RealVideo payload begins a frame: a whole frame (types 1 and 3) or the first
// fragment of one (types 0 and 2 with fragment number 1).
bool StartsVideoFrame(std::span<const std::uint8_t> payload)
{
    if (payload.empty())
        return false;
    const unsigned type = payload[0] >> 6;
    if (type == 1 || type == 3)
        return true;
    return payload.size() >= 2 && (payload[1] & 0x7F) == 1;
}

std::uint32_t Clamp32(std::uint64_t v)
{
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(v, UINT32_MAX));
}

bool SameLayout(const MediaProperties &a, const MediaProperties &b)
{
    return a.streamNumber == b.streamNumber && a.mime == b.mime && a.typeSpecific == b.typeSpecific;
}

} // namespace

struct RmJoiner::Input
{
    std::string name;
    FileHeader file;
    Properties props;
    std::vector<MediaProperties> streams;
    std::optional<Content> content;
    bool hasData = false;
    std::map<std::uint16_t, std::size_t> toOut; // input stream number -> output stream
};

struct RmJoiner::OutStream
{
    MediaProperties header;
    StreamFormat format;
    bool media = false; // false for the file-information pseudo-stream
    // Over the whole output.
    std::uint64_t bytes = 0;
    std::uint32_t packets = 0;
    std::uint32_t maxPayload = 0;
    std::uint32_t maxBitRate = 0;
    std::uint32_t maxPacketSize = 0;
    std::uint32_t preroll = 0;
    std::uint64_t end = 0;
    // Within the input being copied, in that input's time.
    bool seen = false;
    std::uint32_t maxTs = 0;
    std::optional<std::uint32_t> lastUnitTs;
    double minFrameStep = 0;
    double lastUnitStep = 0;
    std::optional<std::uint64_t> lastIndexTs;
    // Block-interleaved sound, joined frame by frame rather than copied block by block.
    std::optional<GenrReblocker> reblock;
    PacketHeader packetTemplate;

    void StartInput()
    {
        seen = false;
        maxTs = 0;
        lastUnitTs.reset();
        minFrameStep = 0;
        lastUnitStep = 0;
        lastIndexTs.reset();
    }

    // How long the last unit of this stream lasts: a frame for video, the observed step
    // between superblock (or packet) starts for audio, what the setup block says otherwise.
    double UnitMs() const
    {
        const double nominal = format.NominalUnitMs();
        if (format.kind == StreamKind::Video)
            return nominal > 0 ? nominal : minFrameStep;
        return lastUnitStep > 0 ? lastUnitStep : nominal;
    }
};

RmJoiner::RmJoiner(JoinTexts texts, WriterOptions options)
    : m_texts(std::move(texts)), m_options(options)
{
}

RmJoiner::~RmJoiner() = default;
RmJoiner::RmJoiner(RmJoiner &&) noexcept = default;

void RmJoiner::AddInput(const RmReader &input)
{
    Input in;
    in.name = input.Name();
    in.file = input.File();
    in.props = input.Props();
    in.streams = input.Streams();
    in.content = input.ContentDescription();
    in.hasData = input.HasData();
    m_inputs.push_back(std::move(in));
    m_checked = false;
}

std::string RmJoiner::Label(std::size_t index) const
{
    return "输入 " + std::to_string(index + 1) + "“" + m_inputs[index].name + "”";
}

std::vector<RmError> RmJoiner::Check()
{
    std::vector<RmError> problems;
    m_out.clear();
    m_warnings.clear();
    if (m_inputs.size() < 2) {
        problems.emplace_back(ErrorKind::Incompatible, "至少需要两个输入文件才能合并");
        return problems;
    }
    for (std::size_t i = 0; i < m_inputs.size(); ++i) {
        const Input &in = m_inputs[i];
        if (!in.hasData)
            problems.emplace_back(ErrorKind::Unsupported,
                                  Label(i) + "中没有媒体数据（缺少 DATA 块），无法合并");
        bool anyMedia = false;
        for (const MediaProperties &m : in.streams) {
            if (const auto why = UnsupportedReason(m))
                problems.emplace_back(ErrorKind::Unsupported, Label(i) + *why);
            anyMedia = anyMedia || StreamFormat::Of(m).kind != StreamKind::FileInfo;
        }
        if (!anyMedia)
            problems.emplace_back(ErrorKind::Unsupported, Label(i) + "中没有音频或视频流，无法合并");
    }
    if (!problems.empty())
        return problems;

    Input &first = m_inputs.front();
    first.toOut.clear();
    for (const MediaProperties &m : first.streams) {
        OutStream out;
        out.header = m;
        out.format = StreamFormat::Of(m);
        out.media = out.format.kind != StreamKind::FileInfo;
        if (out.media)
            first.toOut[m.streamNumber] = m_out.size();
        m_out.push_back(std::move(out));
    }
    for (std::size_t i = 1; i < m_inputs.size(); ++i)
        MapStreams(i, problems);
    m_checked = problems.empty();
    return problems;
}

void RmJoiner::MapStreams(std::size_t index, std::vector<RmError> &problems)
{
    Input &in = m_inputs[index];
    in.toOut.clear();
    std::vector<const MediaProperties *> mine;
    for (const MediaProperties &m : in.streams) {
        if (StreamFormat::Of(m).kind != StreamKind::FileInfo)
            mine.push_back(&m);
    }
    const auto wanted = static_cast<std::size_t>(
        std::count_if(m_out.begin(), m_out.end(), [](const OutStream &o) { return o.media; }));
    if (mine.size() != wanted) {
        problems.emplace_back(ErrorKind::Incompatible,
                              Label(index) + "有 " + std::to_string(mine.size()) +
                                  " 个媒体流，而输入 1 有 " + std::to_string(wanted) + " 个，无法合并");
        return;
    }
    // Streams pair up by type in the order they are declared; their numbers may differ.
    std::vector<bool> used(mine.size(), false);
    for (std::size_t o = 0; o < m_out.size(); ++o) {
        const OutStream &out = m_out[o];
        if (!out.media)
            continue;
        std::size_t match = mine.size();
        for (std::size_t k = 0; k < mine.size(); ++k) {
            if (!used[k] && mine[k]->mime == out.header.mime) {
                match = k;
                break;
            }
        }
        if (match == mine.size()) {
            problems.emplace_back(ErrorKind::Incompatible,
                                  Label(index) + "中没有与输入 1 对应的" + out.format.KindName() +
                                      "（" + out.header.mime + "），无法合并");
            continue;
        }
        used[match] = true;
        const MediaProperties &m = *mine[match];
        if (const auto diff = CompareFormats(out.header, m)) {
            std::string text = Label(index) + "的" + out.format.KindName() + "与输入 1 不同：" +
                               diff->what;
            text += diff->value.empty() ? "不同"
                                        : "为 " + diff->value + "，输入 1 为 " + diff->reference;
            problems.emplace_back(ErrorKind::Incompatible, text);
            continue;
        }
        const StreamFormat theirs = StreamFormat::Of(m);
        if (out.format.video && theirs.video &&
            out.format.video->framesPerSecond != theirs.video->framesPerSecond)
            m_warnings.push_back(Label(index) + "的帧率为 " +
                                 FrameRateText(theirs.video->framesPerSecond) + "，输入 1 为 " +
                                 FrameRateText(out.format.video->framesPerSecond) +
                                 "；合并后按各自的时间戳播放");
        if (m.startTime != out.header.startTime) {
            problems.emplace_back(ErrorKind::Incompatible,
                                  Label(index) + "的" + out.format.KindName() + "起始时间为 " +
                                      std::to_string(m.startTime) + " 毫秒，输入 1 为 " +
                                      std::to_string(out.header.startTime) + " 毫秒，无法合并");
            continue;
        }
        in.toOut[m.streamNumber] = o;
    }
}

JoinSummary RmJoiner::Write(ByteSink &sink, const InputOpener &open)
{
    if (!m_checked)
        throw RmError(ErrorKind::Incompatible, "输入文件尚未通过检查，不能合并");
    JoinSummary summary;
    summary.warnings = m_warnings;
    const Input &first = m_inputs.front();

    Content content = first.content.value_or(Content{});
    if (m_texts.title)
        content.title = *m_texts.title;
    if (m_texts.author)
        content.author = *m_texts.author;
    if (m_texts.copyright)
        content.copyright = *m_texts.copyright;

    std::vector<MediaProperties> headers;
    for (const OutStream &o : m_out)
        headers.push_back(o.header);
    Properties props = first.props;
    props.flags = static_cast<std::uint16_t>(props.flags & ~kFlagLive);
    props.maxPacketSize = 0;
    props.maxBitRate = 0;
    props.preroll = 0;

    RmWriter writer(sink, first.file, props, headers, content, m_options);
    writer.Begin();
    for (OutStream &o : m_out) {
        o.reblock.reset();
        const std::optional<AudioFormat> &a = o.format.audio;
        const double blockMs = o.format.NominalUnitMs();
        if (a && a->interleaver == FourCc("genr") && a->subPacketH > 0 && a->subPacketSize > 0 &&
            a->frameSize % a->subPacketSize == 0 && blockMs > 0) {
            const int perPacket = a->frameSize / a->subPacketSize;
            o.reblock.emplace(a->subPacketH, perPacket, a->subPacketSize, blockMs / (double(a->subPacketH) * perPacket));
        }
    }

    std::uint64_t bytes = 0;
    std::uint32_t maxPayload = 0;
    std::uint64_t offset = 0;
    std::uint64_t lastEnd = 0; // where the last input's content ends
    std::uint64_t nextOffset = 0;
    // Writes the sound blocks a reblocker has completed, as the packets of its stream.
    const auto writeBlocks = [&](OutStream &o) {
        for (GenrReblocker::Block &block : o.reblock->TakeBlocks()) {
            for (std::size_t k = 0; k < block.packets.size(); ++k) {
                PacketHeader h = o.packetTemplate;
                h.streamNumber = o.header.streamNumber;
                h.timestamp = block.timestampMs;
                h.flags = k == 0 ? kPacketKeyframe : 0;
                const std::uint32_t before = writer.PacketCount();
                const std::uint64_t at = writer.WritePacket(h, block.packets[k]);
                const auto size = static_cast<std::uint32_t>(block.packets[k].size());
                o.bytes += size;
                ++o.packets;
                o.maxPayload = std::max(o.maxPayload, size);
                bytes += size;
                maxPayload = std::max(maxPayload, size);
                if (k == 0 && (!o.lastIndexTs || block.timestampMs >= *o.lastIndexTs + kSparseIndexMs)) {
                    writer.AddIndexRecord(h.streamNumber, IndexRecord{block.timestampMs, static_cast<std::uint32_t>(at), before});
                    o.lastIndexTs = block.timestampMs;
                }
            }
            o.end = std::max<std::uint64_t>(o.end, block.timestampMs + static_cast<std::uint64_t>(std::ceil(o.format.NominalUnitMs())));
        }
    };
    for (std::size_t i = 0; i < m_inputs.size(); ++i) {
        const Input &in = m_inputs[i];
        props.maxBitRate = std::max(props.maxBitRate, in.props.maxBitRate);
        props.maxPacketSize = std::max(props.maxPacketSize, in.props.maxPacketSize);
        props.preroll = std::max(props.preroll, in.props.preroll);

        // The inputs were checked from their headers; a file changed since then is not
        // the file that was checked.
        const auto sameFile = [&in](const RmReader &r) {
            return r.Streams().size() == in.streams.size() &&
                   std::equal(in.streams.begin(), in.streams.end(), r.Streams().begin(), SameLayout);
        };
        const auto changed = [&in] {
            return RmError(ErrorKind::Io, "文件在合并过程中被改变了", std::nullopt, in.name);
        };

        // Each stream's time starts at the earliest first timestamp, normally 0.
        std::uint32_t base = UINT32_MAX;
        {
            OpenedInput scan = open(i);
            if (!sameFile(*scan.reader))
                throw changed();
            std::map<std::uint16_t, std::uint32_t> firstSeen;
            Packet p;
            std::uint64_t scanned = 0;
            for (int n = 0; n < kBaseScanPackets && scanned < kBaseScanBytes &&
                            firstSeen.size() < in.toOut.size() && scan.reader->NextPacket(p);
                 ++n) {
                scanned += p.payload.size();
                if (firstSeen.emplace(p.header.streamNumber, p.header.timestamp).second)
                    base = std::min(base, p.header.timestamp);
            }
            if (firstSeen.empty())
                throw RmError(ErrorKind::Unsupported, "DATA 块中没有任何数据包，无法合并",
                              std::nullopt, in.name);
            // An input starts where the one before ends, and no sooner than its sound can follow
            // on the sound before it; that sound's last frame is followed by silence up to the
            // start of this one's.
            offset = nextOffset;
            for (const auto &[number, ts] : firstSeen) {
                const auto it = in.toOut.find(number);
                if (it == in.toOut.end() || !m_out[it->second].reblock || i == 0)
                    continue;
                const double follow = m_out[it->second].reblock->NextFrameMs() - double(ts - base);
                offset = std::max<std::uint64_t>(offset, static_cast<std::uint64_t>(std::max(0.0, std::ceil(follow - 0.5))));
            }
            for (const auto &[number, ts] : firstSeen) {
                const auto it = in.toOut.find(number);
                if (it != in.toOut.end() && m_out[it->second].reblock)
                    m_out[it->second].reblock->StartAt(double(offset) + double(ts - base));
            }
        }

        OpenedInput opened = open(i);
        RmReader &reader = *opened.reader;
        if (!sameFile(reader))
            throw changed();
        for (OutStream &o : m_out)
            o.StartInput();
        for (const MediaProperties &m : in.streams) {
            const auto it = in.toOut.find(m.streamNumber);
            if (it == in.toOut.end())
                continue;
            OutStream &o = m_out[it->second];
            o.maxBitRate = std::max(o.maxBitRate, m.maxBitRate);
            o.maxPacketSize = std::max(o.maxPacketSize, m.maxPacketSize);
            o.preroll = std::max(o.preroll, m.preroll);
        }

        Packet p;
        while (reader.NextPacket(p)) {
            const auto it = in.toOut.find(p.header.streamNumber);
            if (it == in.toOut.end())
                throw RmError(ErrorKind::Corrupt,
                              "流号 " + std::to_string(p.header.streamNumber) +
                                  " 是文件信息流，不应有数据包",
                              p.offset, in.name);
            OutStream &o = m_out[it->second];
            const std::uint32_t ts = p.header.timestamp;
            const std::uint32_t rel = ts >= base ? ts - base : 0;
            const std::uint64_t newTs = offset + rel;
            if (newTs > UINT32_MAX)
                throw RmError(ErrorKind::Output, "合并后的时长超出了 RealMedia 时间戳的范围");

            PacketHeader h = p.header;
            h.streamNumber = o.header.streamNumber;
            h.timestamp = static_cast<std::uint32_t>(newTs);
            const bool key = (h.flags & kPacketKeyframe) != 0;
            if (o.reblock) {
                if (o.packets == 0 && !o.seen)
                    o.packetTemplate = p.header;
                o.reblock->Add(p.header, p.payload, p.offset);
                writeBlocks(o);
            }
            const std::uint32_t before = writer.PacketCount();
            const std::uint64_t at = o.reblock ? 0 : writer.WritePacket(h, p.payload);
            if (!o.reblock) {
                const auto size = static_cast<std::uint32_t>(p.payload.size());
                o.bytes += size;
                ++o.packets;
                o.maxPayload = std::max(o.maxPayload, size);
                bytes += size;
                maxPayload = std::max(maxPayload, size);
            }

            const bool video = o.format.kind == StreamKind::Video;
            const bool realVideo = video && o.header.mime == "video/x-pn-realvideo";
            const bool unitStart = realVideo ? StartsVideoFrame(p.payload) : (video || key);
            if (unitStart) {
                if (o.lastUnitTs && rel > *o.lastUnitTs) {
                    const double step = rel - *o.lastUnitTs;
                    o.lastUnitStep = step;
                    o.minFrameStep = o.minFrameStep == 0 ? step : std::min(o.minFrameStep, step);
                }
                o.lastUnitTs = rel;
            }
            o.seen = true;
            o.maxTs = std::max(o.maxTs, rel);

            bool indexIt = false;
            if (key && unitStart && !o.reblock) {
                indexIt = video || !o.lastIndexTs || newTs >= *o.lastIndexTs + kSparseIndexMs;
            }
            if (indexIt) {
                writer.AddIndexRecord(h.streamNumber,
                                      IndexRecord{h.timestamp, static_cast<std::uint32_t>(at), before});
                o.lastIndexTs = newTs;
            }
        }

        double length = 0;
        for (OutStream &o : m_out) {
            if (!o.seen)
                continue;
            const double streamEnd = o.maxTs + o.UnitMs();
            length = std::max(length, streamEnd);
            o.end = std::max<std::uint64_t>(
                o.end, offset + static_cast<std::uint64_t>(std::ceil(streamEnd)));
        }
        // A damaged index after the packets costs nothing: ours is rebuilt from the packets.
        for (const std::string &w : reader.Warnings())
            summary.warnings.push_back(w);
        const auto whole = static_cast<std::uint64_t>(std::ceil(length));
        // Sound interleaved in blocks ends in a block filled up with silence; its header says
        // where the sound really ends, within that last block. The next input still starts
        // after the block, or the two would overlap.
        double unit = 0;
        for (const OutStream &o : m_out)
            if (o.seen)
                unit = std::max(unit, o.UnitMs());
        const bool padded = in.props.duration != 0 && in.props.duration < whole &&
                            double(whole - in.props.duration) <= unit + 1;
        lastEnd = offset + (padded ? in.props.duration : whole);
        bool reblocked = false;
        for (OutStream &o : m_out) {
            if (!o.reblock || !o.seen)
                continue;
            reblocked = true;
            o.reblock->EndInput(padded ? std::optional<double>(double(in.props.duration)) : std::nullopt);
            writeBlocks(o);
            for (const std::string &w : o.reblock->TakeWarnings())
                summary.warnings.push_back(in.name + "：" + w);
        }
        if (!padded && in.props.duration != 0 && (whole > std::uint64_t{in.props.duration} + 1000 ||
                                                  whole + 1000 < in.props.duration))
            summary.warnings.push_back(in.name + "：文件头记录的时长为 " +
                                       std::to_string(in.props.duration) + " 毫秒，数据包给出 " +
                                       std::to_string(whole) + " 毫秒；按数据包计算");
        summary.inputStarts.push_back(static_cast<std::uint32_t>(offset));
        // Sound copied block by block starts the next input after this one's last block.
        nextOffset = reblocked ? lastEnd : offset + whole;
        if (nextOffset > UINT32_MAX)
            throw RmError(ErrorKind::Output, "合并后的时长超出了 RealMedia 时间戳的范围");
    }

    for (OutStream &o : m_out) {
        if (!o.reblock)
            continue;
        o.reblock->Finish();
        writeBlocks(o);
        for (const std::string &w : o.reblock->TakeWarnings())
            summary.warnings.push_back(w);
    }
    const std::uint32_t packets = writer.PacketCount();
    const auto duration = static_cast<std::uint32_t>(lastEnd);
    const auto rate = [](std::uint64_t payload, std::uint64_t ms) {
        return ms == 0 ? 0u : Clamp32(payload * 8000 / ms);
    };
    props.duration = duration;
    props.avgBitRate = rate(bytes, duration);
    props.maxBitRate = std::max(props.maxBitRate, props.avgBitRate);
    props.maxPacketSize = std::max(props.maxPacketSize, maxPayload);
    props.avgPacketSize = packets == 0 ? 0 : Clamp32(bytes / packets);
    for (std::size_t k = 0; k < m_out.size(); ++k) {
        const OutStream &o = m_out[k];
        if (!o.media)
            continue;
        MediaProperties &m = headers[k];
        m.duration = Clamp32(std::min(o.end, lastEnd));
        m.avgBitRate = rate(o.bytes, o.end);
        m.maxBitRate = std::max(o.maxBitRate, m.avgBitRate);
        m.maxPacketSize = std::max(o.maxPacketSize, o.maxPayload);
        if (o.packets != 0)
            m.avgPacketSize = Clamp32(o.bytes / o.packets);
        m.preroll = o.preroll;
    }
    writer.Finish(props, headers);

    summary.durationMs = duration;
    summary.packets = packets;
    summary.bytes = sink.Size();
    return summary;
}

} // namespace corva::rmff
