#pragma once

#include "rmff/ByteSink.h"
#include "rmff/RmLimits.h"
#include "rmff/RmObjects.h"
#include "rmff/RmWriter.h"
#include "rmff/StreamSetup.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace corva::rmff {

struct MuxVideo
{
    std::uint32_t fourcc = FourCc("RV40");
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint32_t framesPerSecond = 0;     // 16.16 fixed point
    std::vector<std::uint8_t> codecSetup; // the setup block from its byte 26 on
};

// AC-3, carried the way the readers of these files know it; or, with `cook`, RealAudio cook
// frames interleaved in "genr" blocks.
struct MuxAudio
{
    std::uint32_t sampleRate = 0;
    std::uint16_t channels = 0;
    std::uint32_t bitRate = 0; // bit/s, the encoder's nominal rate
    std::optional<CookSetupFields> cook = std::nullopt;
};

struct MuxOptions
{
    // A packet waits at most this long (in its stream's time) for the other stream to catch up.
    std::uint32_t interleaveWindowMs = 1000;
    // ...and the waiting packets together hold at most this many bytes.
    std::size_t maxBufferedBytes = std::size_t{8} << 20;
    std::uint32_t prerollMs = 0;
    // No packet is written that would take the file (with its index) past this size.
    std::uint64_t maxFileBytes = kMaxFileBytes;
};

struct MuxSummary
{
    std::uint32_t durationMs = 0;
    std::uint32_t packets = 0;
    std::uint64_t fileBytes = 0;
    std::uint32_t pictures = 0;
    std::uint32_t audioFrames = 0;
    std::uint32_t indexRecords = 0;
};

// Writes one RealMedia file with at most one RealVideo and one AC-3 stream. Pictures and audio
// frames may come at different paces: packets wait in a bounded buffer and go out in time order
// across the streams; each stream keeps the order it was given in (video times may step back
// after B-pictures). Every failure is an RmError (Output) with a sentence for the user. A refused
// picture or frame leaves nothing of itself behind and the muxer goes on; after a failing sink
// or a failing Finish() the file is not usable and only the caller's clean-up remains.
class RmMuxer final
{
public:
    // Checks everything that can be checked up front (a stream at all, text lengths, sizes),
    // then writes the headers. Nothing is written when it throws.
    RmMuxer(ByteSink &sink, std::optional<MuxVideo> video, std::optional<MuxAudio> audio,
            Content content, MuxOptions options = {});
    ~RmMuxer();

    // One picture: its slices in order (each whole; each must fit one packet).
    void WriteVideo(std::span<const std::vector<std::uint8_t>> slices, std::uint32_t timestampMs,
                    bool keyframe);
    // One AC-3 frame as the encoder gives it (sync word first); or one coded cook frame, in
    // order: a block's packets go out once its last frame is in, all at its first frame's time,
    // the first of them flagged as the keyframe.
    void WriteAudio(std::span<const std::uint8_t> frame, std::uint32_t timestampMs);
    // Where the sound really ends, when its last block is filled up with silence: the durations
    // in the headers say this, not the end of the padding.
    void SetAudioEnd(std::uint32_t ms);
    // Writes what is buffered, the index, and the headers with the totals.
    MuxSummary Finish();

    std::optional<std::uint16_t> VideoStreamNumber() const;
    std::optional<std::uint16_t> AudioStreamNumber() const;

private:
    struct Pending
    {
        PacketHeader header;
        std::vector<std::uint8_t> payload;
        std::uint32_t orderMs = 0; // never decreasing within a stream
        bool frameStart = false;
    };
    struct Stream
    {
        std::uint16_t number = 0;
        bool video = false;
        double unitMs = 0; // one picture or one audio frame
        std::deque<Pending> queue;
        std::uint32_t lastOrderMs = 0;
        bool any = false;
        std::uint64_t payloadBytes = 0;
        std::uint32_t packets = 0;
        std::uint32_t maxPayload = 0;
        std::uint32_t maxTs = 0;
        std::optional<std::uint32_t> lastIndexTs;
        std::map<std::uint32_t, std::uint64_t> bytesPerSecond;
    };

    // One picture's or audio block's payloads as packets at one time, the first starting the
    // unit and carrying `firstFlags`, the others `restFlags`. Throws, queueing nothing, where
    // the file would outgrow what RealMedia can address.
    void Queue(Stream &s, std::vector<std::vector<std::uint8_t>> payloads, std::uint32_t timestampMs,
               std::uint8_t firstFlags, std::uint8_t restFlags);
    void Enqueue(Stream &s, std::vector<Pending> packets);
    void WriteCookBlock();
    void Drain(bool all);
    void WriteOut(Stream &s);
    void CheckRoom(std::uint64_t packetBytes, std::size_t packets) const;
    void CheckOpen() const;

    ByteSink &m_sink;
    MuxOptions m_options;
    FileHeader m_file;
    Properties m_props;
    std::vector<MediaProperties> m_headers;
    std::unique_ptr<RmWriter> m_writer;
    std::vector<Stream> m_streams; // video first when there is one
    std::optional<std::size_t> m_video;
    std::optional<std::size_t> m_audio;
    std::uint64_t m_bufferedBytes = 0;  // with packet headers
    std::size_t m_bufferedPackets = 0;
    std::uint32_t m_indexRecords = 0;
    std::uint32_t m_pictures = 0;
    std::uint32_t m_audioFrames = 0;
    std::optional<CookSetupFields> m_cook;
    std::vector<std::vector<std::uint8_t>> m_cookBlock; // frames of the block being filled
    std::uint32_t m_cookBlockMs = 0;
    std::optional<std::uint32_t> m_audioEndMs;
    bool m_finished = false;
};

} // namespace corva::rmff
