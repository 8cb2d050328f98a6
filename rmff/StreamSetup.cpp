#include "rmff/StreamSetup.h"

#include "rmff/RmObjects.h"

#include <utility>

namespace corva::rmff {

namespace {

void Put16(std::vector<std::uint8_t> &out, std::uint32_t v)
{
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

void Put32(std::vector<std::uint8_t> &out, std::uint32_t v)
{
    Put16(out, v >> 16);
    Put16(out, v & 0xFFFF);
}

void PutTag(std::vector<std::uint8_t> &out, std::uint32_t tag)
{
    Put32(out, tag);
}

constexpr std::uint32_t kAc3SamplesPerFrame = 1536;

} // namespace

std::vector<std::uint8_t> BuildVideoSetup(std::uint32_t fourcc, std::uint16_t width,
                                          std::uint16_t height, std::uint32_t framesPerSecond16_16,
                                          std::span<const std::uint8_t> codecSetup)
{
    std::vector<std::uint8_t> out;
    Put32(out, static_cast<std::uint32_t>(26 + codecSetup.size()));
    PutTag(out, FourCc("VIDO"));
    PutTag(out, fourcc);
    Put16(out, width);
    Put16(out, height);
    Put16(out, 12); // bit count: 4:2:0
    Put16(out, 0);  // pad width
    Put16(out, 0);  // pad height
    Put32(out, framesPerSecond16_16);
    out.insert(out.end(), codecSetup.begin(), codecSetup.end());
    return out;
}

std::vector<std::uint8_t> BuildAc3Setup(std::uint32_t sampleRate, std::uint16_t channels,
                                        std::uint32_t bitRate)
{
    // The readers take the flavor as a sample-rate family code for AC-3.
    std::uint16_t family = 2;
    switch (sampleRate) {
    case 48000: case 24000: case 12000: family = 1; break;
    case 32000: case 16000: case 8000: family = 3; break;
    default: break;
    }
    std::uint32_t frameBytes =
        sampleRate == 0 ? 0
                        : static_cast<std::uint32_t>(std::uint64_t{bitRate} * kAc3SamplesPerFrame /
                                                     (8 * std::uint64_t{sampleRate}));
    // 44.1 kHz at 128 kbit/s gives 557.3; the files readers know carry 556 there.
    if (frameBytes == 557)
        --frameBytes;
    const std::uint32_t bytesPerMinute = bitRate / 8 * 60;

    std::vector<std::uint8_t> out{'.', 'r', 'a', 0xFD};
    Put16(out, 4); // version
    Put16(out, 0); // revision
    PutTag(out, FourCc(".ra4"));
    Put32(out, 0x01B53530); // stream length: a fixed placeholder, as readers expect it
    Put16(out, 4);          // version again
    Put16(out, 0);          // revision again
    Put16(out, 0x39);       // header bytes
    Put16(out, family);
    Put32(out, frameBytes);
    Put32(out, 0x51540);    // bytes total, placeholder
    Put32(out, bytesPerMinute);
    Put32(out, bytesPerMinute);
    Put16(out, 1);          // one frame a block: no interleaving
    Put16(out, frameBytes);
    Put16(out, 0);          // sub-packet size
    Put16(out, 0);
    Put16(out, static_cast<std::uint16_t>(sampleRate));
    Put16(out, 0);
    Put16(out, 16);         // sample size
    Put16(out, channels);
    out.push_back(4);
    PutTag(out, FourCc("Int0"));
    out.push_back(4);
    PutTag(out, FourCc("dnet"));
    // Empty title, author and copyright of the old layout, then the end byte.
    out.insert(out.end(), {0, 0, 0, 0, 0, 0, 0});
    return out;
}

std::vector<std::uint8_t> BuildCookSetup(const CookSetupFields &cook)
{
    const std::uint32_t packetBytes = std::uint32_t{cook.frameBytes} * cook.framesPerPacket;
    const std::uint32_t bytesPerMinute =
        cook.frameSamples == 0 ? 0
                               : static_cast<std::uint32_t>((std::uint64_t{cook.frameBytes} * cook.sampleRate * 60 +
                                                             cook.frameSamples / 2) / cook.frameSamples);
    std::vector<std::uint8_t> out{'.', 'r', 'a', 0xFD};
    Put16(out, 5); // version
    Put16(out, 0); // revision
    PutTag(out, FourCc(".ra5"));
    Put32(out, 0); // data size: unknown while writing
    Put16(out, 5); // version again
    Put32(out, static_cast<std::uint32_t>(78 + cook.codecSetup.size() - 16)); // header bytes after this field's block
    Put16(out, cook.flavour);
    // One reader takes this as the packet size, the other checks it against the interleave.
    Put32(out, packetBytes);
    Put32(out, 0);
    Put32(out, bytesPerMinute);
    Put32(out, bytesPerMinute);
    Put16(out, cook.packetsPerBlock);
    Put16(out, static_cast<std::uint16_t>(packetBytes));
    Put16(out, cook.frameBytes); // one coded frame: what the decoder takes at a time
    Put16(out, 0);
    Put16(out, 0); // three words version 5 adds
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<std::uint16_t>(cook.sampleRate));
    Put16(out, 0);
    Put16(out, 16); // sample size
    Put16(out, cook.channels);
    PutTag(out, FourCc("genr"));
    PutTag(out, FourCc("cook"));
    out.insert(out.end(), {1, 0, 0, 0}); // flags
    Put32(out, static_cast<std::uint32_t>(cook.codecSetup.size()));
    out.insert(out.end(), cook.codecSetup.begin(), cook.codecSetup.end());
    return out;
}

std::vector<std::uint8_t> SwapAc3Words(std::span<const std::uint8_t> frame)
{
    std::vector<std::uint8_t> out(frame.begin(), frame.end());
    for (std::size_t i = 0; i + 1 < out.size(); i += 2)
        std::swap(out[i], out[i + 1]);
    return out;
}

} // namespace corva::rmff
