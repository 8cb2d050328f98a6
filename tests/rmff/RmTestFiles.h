#pragma once

// Hand-built RealMedia bytes for the tests, written field by field without the library's
// writer, so that a writer fault cannot hide a reader fault.

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace corva::rmff::test {

struct Bytes
{
    std::vector<std::uint8_t> v;
    Bytes &u8(std::uint32_t x);
    Bytes &u16(std::uint32_t x);
    Bytes &u32(std::uint32_t x);
    Bytes &tag(const char (&t)[5]);
    Bytes &raw(const std::vector<std::uint8_t> &b);
    Bytes &text(const std::string &s);
    std::size_t size() const { return v.size(); }
};

// A RealVideo setup block as FFmpeg's muxer writes it (34 bytes).
std::vector<std::uint8_t> Vido(const char (&codec)[5], std::uint16_t width, std::uint16_t height,
                               std::uint32_t fps = 25);
// A version-4 RealAudio setup block (73 bytes), AC-3-like unless told otherwise.
struct Ra4
{
    std::string interleaver = "Int0";
    std::string codec = "dnet";
    std::uint16_t flavor = 2;
    std::uint32_t codedFrameSize = 417;
    std::uint32_t bytesPerMinute = 720000;
    std::uint16_t subPacketH = 1;
    std::uint16_t frameSize = 417;
    std::uint16_t sampleRate = 44100;
    std::uint16_t channels = 1;
};
std::vector<std::uint8_t> RaBlock(const Ra4 &a);

struct SynthStream
{
    std::uint16_t number = 0;
    std::string mime;
    std::vector<std::uint8_t> typeSpecific;
    std::uint32_t startTime = 0;
};

struct SynthPacket
{
    std::uint16_t stream = 0;
    std::uint32_t ts = 0;
    std::uint8_t flags = 0;
    std::vector<std::uint8_t> payload;
    std::uint16_t version = 0;
};

struct SynthOptions
{
    std::optional<std::uint32_t> dataSize;   // instead of the true size
    std::optional<std::uint32_t> numPackets; // instead of the true count
    bool withData = true;
    bool index = false;              // one INDX per stream over its keyframe packets
    bool indexSizeQuirk = false;     // store 20 as the INDX size although records follow
    std::vector<std::uint8_t> trailer; // bytes after everything
    std::size_t truncateBy = 0;      // cut this many bytes off the end
};

// .RMF, PROP, CONT, MDPR…, DATA, [INDX…], trailer.
std::vector<std::uint8_t> BuildFile(const std::vector<SynthStream> &streams,
                                    const std::vector<SynthPacket> &packets,
                                    const SynthOptions &options = {});

// A RealVideo payload that is one whole frame (sub-packet type 1).
std::vector<std::uint8_t> WholeFrame(std::uint8_t fill, std::size_t size = 20);
// A fragment of a frame: type 0 (more follow) or 2 (last), with its fragment number.
std::vector<std::uint8_t> Fragment(bool last, std::uint8_t number, std::uint8_t fill,
                                   std::size_t size = 20);

// A typical two-stream clip: video 0 (RV20 176x144 at 25 fps), audio 1 (AC-3 like), frames
// every 40 ms from `first`, audio every 35 ms, keyframes each `gop` frames.
struct Clip
{
    std::vector<SynthStream> streams;
    std::vector<SynthPacket> packets;
};
Clip MakeClip(int frames, int gop = 5, bool swapNumbers = false);

} // namespace corva::rmff::test
