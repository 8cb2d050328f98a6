#pragma once

#include "rmff/RmObjects.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace corva::rmff {

enum class StreamKind { Video, Audio, FileInfo, Other };

// The RealVideo setup block ("VIDO"), as far as joining needs it.
struct VideoFormat
{
    std::uint32_t codec = 0;
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint16_t padWidth = 0;
    std::uint16_t padHeight = 0;
    std::uint32_t framesPerSecond = 0; // 16.16 fixed point
    std::vector<std::uint8_t> codecData; // option flags, stream version and what follows
};

// The RealAudio setup block (".ra" 0xFD, versions 4 and 5).
struct AudioFormat
{
    std::uint16_t version = 0;
    std::uint16_t flavor = 0;
    std::uint32_t codedFrameSize = 0;
    std::uint32_t bytesPerMinute = 0;
    std::uint16_t subPacketH = 0;
    std::uint16_t frameSize = 0;
    std::uint16_t subPacketSize = 0;
    std::uint16_t sampleRate = 0;
    std::uint16_t sampleSize = 0;
    std::uint16_t channels = 0;
    std::uint32_t interleaver = 0;
    std::uint32_t codec = 0;
    std::vector<std::uint8_t> codecData; // from the flags after the codec code to the end
};

// 16.16 fixed point as a decimal text.
std::string FrameRateText(std::uint32_t fixed);

std::optional<VideoFormat> ParseVideoFormat(std::span<const std::uint8_t> block);
std::optional<AudioFormat> ParseAudioFormat(std::span<const std::uint8_t> block);

// What one MDPR describes, with its setup block decoded where we know it.
struct StreamFormat
{
    StreamKind kind = StreamKind::Other;
    std::optional<VideoFormat> video;
    std::optional<AudioFormat> audio;

    static StreamFormat Of(const MediaProperties &m);
    // The nominal length of one unit (a video frame, an audio superblock or packet) in ms;
    // 0 when the setup block does not tell.
    double NominalUnitMs() const;
    std::string KindName() const;
};

// Why a stream cannot be joined at all (multi-rate, encrypted), or nothing.
std::optional<std::string> UnsupportedReason(const MediaProperties &m);

// The first way stream `b` differs from stream `a` that forbids joining them.
struct FormatDifference
{
    std::string what;      // the property, for a user ("视频尺寸")
    std::string value;     // as `b` has it; empty when not worth showing
    std::string reference; // as `a` has it
};
std::optional<FormatDifference> CompareFormats(const MediaProperties &a, const MediaProperties &b);

} // namespace corva::rmff
