#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace corva::rmff {

// The MIME types of the streams we write.
inline constexpr char kRealVideoMime[] = "video/x-pn-realvideo";
inline constexpr char kRealAudioMime[] = "audio/x-pn-realaudio";

// The VIDO block of a RealVideo stream: the codec's own setup bytes follow the fixed fields
// (they start at offset 26 of the block).
std::vector<std::uint8_t> BuildVideoSetup(std::uint32_t fourcc, std::uint16_t width,
                                          std::uint16_t height, std::uint32_t framesPerSecond16_16,
                                          std::span<const std::uint8_t> codecSetup);

// The version-4 ".ra" block that AC-3 ("dnet", not interleaved) travels under, with the values
// the existing readers expect for it: flavor = the sample-rate family, coded frame size = the
// mean bytes of one 1536-sample frame.
std::vector<std::uint8_t> BuildAc3Setup(std::uint32_t sampleRate, std::uint16_t channels,
                                        std::uint32_t bitRate);

// The version-5 ".ra" block of a cook stream: flavour, interleave sizes ("genr": h packets of
// `framesPerPacket` coded frames each), and the codec's set-up bytes.
struct CookSetupFields
{
    std::uint16_t flavour = 0;
    std::uint32_t sampleRate = 0;
    std::uint16_t channels = 0;
    std::uint32_t frameSamples = 0; // per channel
    std::uint16_t frameBytes = 0;
    std::uint16_t framesPerPacket = 0;
    std::uint16_t packetsPerBlock = 0;
    std::vector<std::uint8_t> codecSetup;
};
std::vector<std::uint8_t> BuildCookSetup(const CookSetupFields &cook);

// AC-3 frames are stored with their 16-bit words byte-swapped; an odd last byte stays put.
std::vector<std::uint8_t> SwapAc3Words(std::span<const std::uint8_t> frame);

} // namespace corva::rmff
