#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace corva::cook {

enum class ChannelMode { Mono, DualMono, Joint };

// One standard cook flavour: what the decoder is told in the set-up bytes, and how the frames
// are interleaved into packets.
struct Flavour {
    int index = 0;
    int sampleRate = 0;
    int channels = 0;
    int frameSamples = 0;      // N, per channel
    int subbands = 0;          // coded bands per channel
    int jointStart = 0;        // first coupled band (joint stereo only)
    int jointBits = 0;         // width of a coupling value (joint stereo only)
    int frameBytes = 0;        // one coded frame, both channels
    int framesPerPacket = 0;
    int packetsPerBlock = 0;   // the interleaver's height

    ChannelMode Mode() const;
    std::uint32_t Version() const;
    // Bands the frame codes per substream: the joint pair codes its low bands twice.
    int TotalBands() const { return Mode() == ChannelMode::Joint ? subbands + jointStart : subbands; }
    int PacketBytes() const { return framesPerPacket * frameBytes; }
    int FramesPerBlock() const { return framesPerPacket * packetsPerBlock; }
    int BitRate() const; // bits per second the frames take
    // The codec set-up bytes: 8 for mono and dual mono, 16 for joint stereo.
    std::vector<std::uint8_t> SetupBytes() const;
    // The highest frequency the coded bands reach.
    double Bandwidth() const { return 20.0 * subbands * sampleRate / (2.0 * frameSamples); }
};

// The standard flavour of an index 0..29, if there is one.
std::optional<Flavour> FlavourByIndex(int index);

} // namespace corva::cook
