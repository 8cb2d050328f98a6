#include "rmff/RmMuxer.h"

#include "rmff/GenrInterleaver.h"
#include "rmff/RmChunks.h"
#include "rmff/RmError.h"
#include "rmff/StreamSetup.h"
#include "rmff/VideoFragments.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace corva::rmff {

namespace {

constexpr std::uint32_t kPacketHeaderBytes = 12;
constexpr std::size_t kLargestPayload = 0xFFFF - kPacketHeaderBytes;
// Audio-only files get one seek point a second, as jj gives them.
constexpr std::uint32_t kAudioIndexStepMs = 1000;
constexpr std::uint32_t kAc3SamplesPerFrame = 1536;
constexpr std::uint16_t kFlagsSaveAndPerfectPlay = 0x0003;

std::uint32_t Clamp32(std::uint64_t v)
{
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(v, UINT32_MAX));
}

void CheckText(const std::string &text, const char *what)
{
    if (text.size() > 0xFFFF)
        throw RmError(ErrorKind::Output, std::string(what) + "有 " + std::to_string(text.size()) +
                                             " 字节，超过了 RealMedia 允许的 65535 字节，请缩短");
}

[[noreturn]] void TooLarge()
{
    throw RmError(ErrorKind::Output,
                  "输出文件将超过 2 GB（RealMedia 文件的偏移量只有 32 位，播放器按有符号数读取），"
                  "无法继续写入；请降低码率或缩短影片");
}

} // namespace

RmMuxer::RmMuxer(ByteSink &sink, std::optional<MuxVideo> video, std::optional<MuxAudio> audio,
                 Content content, MuxOptions options)
    : m_sink(sink), m_options(options)
{
    if (!video && !audio)
        throw RmError(ErrorKind::Output, "输出文件既没有视频也没有音频");
    CheckText(content.title, "标题");
    CheckText(content.author, "作者");
    CheckText(content.copyright, "版权信息");
    CheckText(content.comment, "备注");

    if (video) {
        if (video->width == 0 || video->height == 0)
            throw RmError(ErrorKind::Output, "视频尺寸为 0");
        if (video->framesPerSecond == 0)
            throw RmError(ErrorKind::Output, "视频帧率为 0");
        MediaProperties m;
        m.streamNumber = static_cast<std::uint16_t>(m_streams.size());
        m.name = "Video Stream";
        m.mime = kRealVideoMime;
        m.typeSpecific = BuildVideoSetup(video->fourcc, video->width, video->height,
                                         video->framesPerSecond, video->codecSetup);
        m.preroll = options.prerollMs;
        Stream s;
        s.number = m.streamNumber;
        s.video = true;
        s.unitMs = 1000.0 * 65536.0 / video->framesPerSecond;
        m_video = m_streams.size();
        m_streams.push_back(std::move(s));
        m_headers.push_back(std::move(m));
    }
    if (audio) {
        if (audio->sampleRate == 0 || audio->sampleRate > 0xFFFF || audio->channels == 0)
            throw RmError(ErrorKind::Output, "音频的采样率或声道数无法写入 RealMedia 文件");
        MediaProperties m;
        m.streamNumber = static_cast<std::uint16_t>(m_streams.size());
        m.name = "Audio Stream";
        m.mime = kRealAudioMime;
        Stream s;
        s.number = m.streamNumber;
        if (audio->cook) {
            const CookSetupFields &c = *audio->cook;
            if (c.frameBytes == 0 || c.framesPerPacket == 0 || c.packetsPerBlock == 0 || c.frameSamples == 0 ||
                std::uint64_t{c.frameBytes} * c.framesPerPacket > kLargestPayload)
                throw RmError(ErrorKind::Output, "RealAudio 的交织设置无法写入 RealMedia 文件");
            m_cook = c;
            m.typeSpecific = BuildCookSetup(c);
            // A block is the unit: its packets share its first frame's time.
            s.unitMs = 1000.0 * c.frameSamples * c.framesPerPacket * c.packetsPerBlock / audio->sampleRate;
        } else {
            m.typeSpecific = BuildAc3Setup(audio->sampleRate, audio->channels, audio->bitRate);
            s.unitMs = 1000.0 * kAc3SamplesPerFrame / audio->sampleRate;
        }
        m.maxBitRate = m.avgBitRate = audio->bitRate;
        m.preroll = options.prerollMs;
        m_audio = m_streams.size();
        m_streams.push_back(std::move(s));
        m_headers.push_back(std::move(m));
    }

    m_file.numHeaders = static_cast<std::uint32_t>(4 + m_headers.size());
    m_props.numStreams = static_cast<std::uint16_t>(m_headers.size());
    m_props.flags = kFlagsSaveAndPerfectPlay;
    m_props.preroll = options.prerollMs;

    WriterOptions wo;
    wo.maxFileBytes = options.maxFileBytes;
    m_writer = std::make_unique<RmWriter>(sink, m_file, m_props, m_headers, std::move(content), wo);
    m_writer->Begin();
}

RmMuxer::~RmMuxer() = default;

std::optional<std::uint16_t> RmMuxer::VideoStreamNumber() const
{
    return m_video ? std::optional<std::uint16_t>(m_streams[*m_video].number) : std::nullopt;
}

std::optional<std::uint16_t> RmMuxer::AudioStreamNumber() const
{
    return m_audio ? std::optional<std::uint16_t>(m_streams[*m_audio].number) : std::nullopt;
}

void RmMuxer::CheckOpen() const
{
    if (m_finished)
        throw std::logic_error("RmMuxer used after Finish()");
}

void RmMuxer::CheckRoom(std::uint64_t packetBytes, std::size_t packets) const
{
    // The index grows by at most one record a packet, and each indexed stream has a header.
    const std::uint64_t records = std::uint64_t{m_indexRecords} + m_bufferedPackets + packets;
    const std::uint64_t index = m_streams.size() * std::uint64_t{kIndexHeaderSize} +
                                records * kIndexRecordSize;
    const std::uint64_t total = m_sink.Size() + m_bufferedBytes + packetBytes + index;
    if (total > m_options.maxFileBytes)
        TooLarge();
}

void RmMuxer::WriteVideo(std::span<const std::vector<std::uint8_t>> slices,
                         std::uint32_t timestampMs, bool keyframe)
{
    CheckOpen();
    if (!m_video)
        throw RmError(ErrorKind::Output, "输出文件没有视频流，不能写入视频画面");
    // FFmpeg's seek starts a scan a byte past the header of each keyframe it finds; from there
    // a packet shorter than 256 bytes reads as a header of 256 times its length, and the scan
    // leaps over the keyframes after it. So a keyframe's packets are never that short, and no
    // packet ends in a zero byte.
    const auto payloads = NeedsPaddingForSeeking(slices, keyframe)
                              ? FragmentPicture(PaddedForSeeking(slices, keyframe), m_pictures)
                              : FragmentPicture(slices, m_pictures);
    for (std::size_t i = 0; i < payloads.size(); ++i)
        if (payloads[i].size() > kLargestPayload)
            throw RmError(ErrorKind::Output,
                          "一个视频片（slice）有 " + std::to_string(slices[i].size()) +
                              " 字节，一个 RealMedia 数据包装不下");

    const std::uint8_t flags = keyframe ? kPacketKeyframe : 0;
    Queue(m_streams[*m_video], std::move(payloads), timestampMs, flags, flags);
    ++m_pictures;
}

void RmMuxer::WriteAudio(std::span<const std::uint8_t> frame, std::uint32_t timestampMs)
{
    CheckOpen();
    if (!m_audio)
        throw RmError(ErrorKind::Output, "输出文件没有音频流，不能写入音频");
    if (frame.empty() || frame.size() > kLargestPayload)
        throw RmError(ErrorKind::Output, "一个音频帧有 " + std::to_string(frame.size()) +
                                             " 字节，无法写入一个 RealMedia 数据包");
    if (m_cook) {
        if (frame.size() != m_cook->frameBytes)
            throw RmError(ErrorKind::Output, "一个 RealAudio 帧有 " + std::to_string(frame.size()) + " 字节，应为 " +
                                                 std::to_string(m_cook->frameBytes) + " 字节");
        if (m_cookBlock.empty())
            m_cookBlockMs = timestampMs;
        m_cookBlock.emplace_back(frame.begin(), frame.end());
        ++m_audioFrames;
        if (m_cookBlock.size() == std::size_t{m_cook->framesPerPacket} * m_cook->packetsPerBlock)
            WriteCookBlock();
        return;
    }
    std::vector<std::vector<std::uint8_t>> one;
    one.push_back(SwapAc3Words(frame));
    // every AC-3 frame stands alone
    Queue(m_streams[*m_audio], std::move(one), timestampMs, kPacketKeyframe, kPacketKeyframe);
    ++m_audioFrames;
}

void RmMuxer::SetAudioEnd(std::uint32_t ms)
{
    m_audioEndMs = ms;
}

void RmMuxer::WriteCookBlock()
{
    const GenrInterleaver interleaver(m_cook->packetsPerBlock, m_cook->framesPerPacket);
    // A short last block (an encoder that stopped early) is filled with its own last frame:
    // both demuxers wait for whole blocks.
    while (m_cookBlock.size() < static_cast<std::size_t>(interleaver.FramesPerBlock()))
        m_cookBlock.push_back(m_cookBlock.back());
    auto payloads = interleaver.Interleave(m_cookBlock);
    m_cookBlock.clear();
    // Only a block's first packet is flagged: the readers start a new block at every flagged packet.
    Queue(m_streams[*m_audio], std::move(payloads), m_cookBlockMs, kPacketKeyframe, 0);
}

void RmMuxer::Queue(Stream &s, std::vector<std::vector<std::uint8_t>> payloads, std::uint32_t timestampMs,
                    std::uint8_t firstFlags, std::uint8_t restFlags)
{
    std::vector<Pending> packets;
    std::uint64_t bytes = 0;
    for (std::size_t i = 0; i < payloads.size(); ++i) {
        Pending p;
        p.header.streamNumber = s.number;
        p.header.timestamp = timestampMs;
        p.header.flags = i == 0 ? firstFlags : restFlags;
        p.frameStart = i == 0;
        p.payload = std::move(payloads[i]);
        bytes += kPacketHeaderBytes + p.payload.size();
        packets.push_back(std::move(p));
    }
    CheckRoom(bytes, packets.size());
    Enqueue(s, std::move(packets));
}

void RmMuxer::Enqueue(Stream &s, std::vector<Pending> packets)
{
    for (Pending &p : packets) {
        // B-pictures step back in time; they keep their place behind the picture before them.
        s.lastOrderMs = s.any ? std::max(s.lastOrderMs, p.header.timestamp) : p.header.timestamp;
        s.any = true;
        p.orderMs = s.lastOrderMs;
        m_bufferedBytes += kPacketHeaderBytes + p.payload.size();
        ++m_bufferedPackets;
        s.queue.push_back(std::move(p));
    }
    Drain(false);
}

void RmMuxer::Drain(bool all)
{
    for (;;) {
        Stream *pick = nullptr;
        if (m_streams.size() == 1) {
            if (!m_streams[0].queue.empty())
                pick = &m_streams[0];
        } else {
            Stream &a = m_streams[0];
            Stream &b = m_streams[1];
            if (!a.queue.empty() && !b.queue.empty()) {
                pick = b.queue.front().orderMs < a.queue.front().orderMs ? &b : &a;
            } else if (!a.queue.empty() || !b.queue.empty()) {
                Stream &q = a.queue.empty() ? b : a;
                const Stream &other = a.queue.empty() ? a : b;
                const Pending &head = q.queue.front();
                // What the other stream sends from now on is no earlier than what it sent last.
                const bool safe = other.any && head.orderMs <= other.lastOrderMs;
                const bool overdue = q.lastOrderMs - head.orderMs > m_options.interleaveWindowMs ||
                                     m_bufferedBytes > m_options.maxBufferedBytes;
                if (all || safe || overdue)
                    pick = &q;
            }
        }
        if (pick == nullptr)
            return;
        WriteOut(*pick);
    }
}

void RmMuxer::WriteOut(Stream &s)
{
    Pending p = std::move(s.queue.front());
    s.queue.pop_front();
    m_bufferedBytes -= kPacketHeaderBytes + p.payload.size();
    --m_bufferedPackets;

    const std::uint32_t before = m_writer->PacketCount();
    const std::uint64_t at = m_writer->WritePacket(p.header, p.payload);
    const auto size = static_cast<std::uint32_t>(p.payload.size());
    const std::uint32_t ts = p.header.timestamp;
    s.payloadBytes += size;
    ++s.packets;
    s.maxPayload = std::max(s.maxPayload, size);
    s.maxTs = std::max(s.maxTs, ts);
    s.bytesPerSecond[ts / 1000] += size;

    bool indexIt = false;
    if (s.video)
        indexIt = p.frameStart && (p.header.flags & kPacketKeyframe) != 0;
    else if (!m_video)
        indexIt = (p.header.flags & kPacketKeyframe) != 0 &&
                  (!s.lastIndexTs || ts >= *s.lastIndexTs + kAudioIndexStepMs);
    if (indexIt) {
        m_writer->AddIndexRecord(s.number, IndexRecord{ts, static_cast<std::uint32_t>(at), before});
        s.lastIndexTs = ts;
        ++m_indexRecords;
    }
}

MuxSummary RmMuxer::Finish()
{
    CheckOpen();
    if (m_cook && !m_cookBlock.empty())
        WriteCookBlock();
    Drain(true);
    m_finished = true;

    std::uint64_t bytes = 0;
    std::uint32_t packets = 0;
    std::uint32_t maxPayload = 0;
    std::uint64_t duration = 0;
    std::map<std::uint32_t, std::uint64_t> fileBytesPerSecond;
    for (std::size_t k = 0; k < m_streams.size(); ++k) {
        const Stream &s = m_streams[k];
        MediaProperties &m = m_headers[k];
        std::uint64_t end = 0;
        if (s.packets != 0)
            end = static_cast<std::uint64_t>(std::ceil(s.maxTs + s.unitMs));
        // The rate is over what the packets span; the length is where the sound ends.
        const std::uint64_t span = end;
        if (m_audio && k == *m_audio && m_audioEndMs && s.packets != 0)
            end = std::min<std::uint64_t>(end, std::max<std::uint64_t>(*m_audioEndMs, 1));
        m.duration = Clamp32(end);
        m.maxPacketSize = s.maxPayload;
        m.avgPacketSize = s.packets == 0 ? 0 : Clamp32(s.payloadBytes / s.packets);
        std::uint64_t peak = 0;
        for (const auto &[second, b] : s.bytesPerSecond) {
            peak = std::max(peak, b);
            fileBytesPerSecond[second] += b;
        }
        m.avgBitRate = span == 0 ? m.avgBitRate : Clamp32(s.payloadBytes * 8000 / span);
        m.maxBitRate = std::max(m.avgBitRate, Clamp32(peak * 8));
        bytes += s.payloadBytes;
        packets += s.packets;
        maxPayload = std::max(maxPayload, s.maxPayload);
        duration = std::max(duration, end);
    }
    std::uint64_t peak = 0;
    for (const auto &[second, b] : fileBytesPerSecond)
        peak = std::max(peak, b);

    Properties props = m_props;
    props.duration = Clamp32(duration);
    props.avgBitRate = duration == 0 ? 0 : Clamp32(bytes * 8000 / duration);
    props.maxBitRate = std::max(props.avgBitRate, Clamp32(peak * 8));
    props.maxPacketSize = maxPayload;
    props.avgPacketSize = packets == 0 ? 0 : Clamp32(bytes / packets);
    m_writer->Finish(props, m_headers);

    MuxSummary summary;
    summary.durationMs = props.duration;
    summary.packets = m_writer->PacketCount();
    summary.fileBytes = m_sink.Size();
    summary.pictures = m_pictures;
    summary.audioFrames = m_audioFrames;
    summary.indexRecords = m_indexRecords;
    return summary;
}

} // namespace corva::rmff
