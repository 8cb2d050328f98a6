#include "cook/Flavour.h"

namespace corva::cook {
namespace {

struct Row {
    int rate, channels, subbands, jointStart, jointBits, frameBytes, framesPerPacket, height;
};

// Flavours 0..29 as the era's players know them (interleave values as one public table has
// them; both demuxers need only their consistency).
constexpr Row kRows[30] = {
    {8000, 1, 12, 0, 0, 32, 9, 8},     {11025, 1, 12, 0, 0, 32, 11, 8},  {22050, 1, 18, 0, 0, 47, 12, 8},
    {22050, 1, 23, 0, 0, 60, 10, 9},   {44100, 1, 37, 0, 0, 93, 7, 14},   {44100, 1, 47, 0, 0, 128, 5, 16},
    {44100, 1, 47, 0, 0, 186, 4, 20},  {22050, 1, 24, 0, 0, 93, 6, 16},   {8000, 1, 9, 0, 0, 24, 12, 6},
    {11025, 2, 11, 0, 0, 58, 10, 10},  {22050, 2, 18, 0, 0, 94, 6, 14},   {22050, 2, 24, 0, 0, 128, 5, 16},
    {44100, 2, 37, 0, 0, 186, 4, 20},  {44100, 2, 47, 0, 0, 278, 3, 30},  {44100, 1, 47, 0, 0, 186, 4, 20},
    {44100, 1, 47, 0, 0, 60, 10, 9},   {44100, 1, 47, 0, 0, 93, 7, 14},   {22050, 2, 16, 1, 3, 48, 10, 10},
    {22050, 2, 20, 1, 3, 60, 10, 10},  {22050, 2, 23, 1, 3, 60, 10, 10},  {22050, 2, 24, 2, 4, 93, 5, 16},
    {44100, 2, 32, 2, 4, 93, 5, 16},   {44100, 2, 32, 5, 5, 128, 5, 16},  {44100, 2, 37, 2, 4, 128, 5, 16},
    {44100, 2, 37, 6, 5, 186, 5, 16},  {44100, 2, 37, 8, 5, 280, 5, 16},  {11025, 2, 9, 1, 2, 36, 11, 8},
    {44100, 2, 30, 17, 5, 186, 5, 16}, {44100, 2, 34, 19, 5, 280, 5, 16}, {22050, 2, 23, 17, 5, 128, 5, 16},
};

int FrameSamplesFor(int rate)
{
    if (rate <= 11025)
        return 256;
    if (rate <= 22050)
        return 512;
    return 1024;
}

} // namespace

ChannelMode Flavour::Mode() const
{
    if (channels == 1)
        return ChannelMode::Mono;
    return jointBits == 0 ? ChannelMode::DualMono : ChannelMode::Joint;
}

std::uint32_t Flavour::Version() const
{
    switch (Mode()) {
    case ChannelMode::Mono: return 0x01000001u;
    case ChannelMode::DualMono: return 0x01000002u;
    case ChannelMode::Joint: return 0x01000003u;
    }
    return 0;
}

int Flavour::BitRate() const
{
    return static_cast<int>(static_cast<long long>(frameBytes) * 8 * sampleRate / frameSamples);
}

std::vector<std::uint8_t> Flavour::SetupBytes() const
{
    std::vector<std::uint8_t> out;
    auto be32 = [&out](std::uint32_t v) {
        for (int s = 24; s >= 0; s -= 8)
            out.push_back(static_cast<std::uint8_t>(v >> s));
    };
    auto be16 = [&out](int v) {
        out.push_back(static_cast<std::uint8_t>(v >> 8));
        out.push_back(static_cast<std::uint8_t>(v));
    };
    be32(Version());
    be16(frameSamples * channels);
    be16(subbands);
    // The decoder reads further 16-byte records while bytes remain, so mono and dual mono stop
    // at 8 bytes; joint stereo needs the second half.
    if (Mode() == ChannelMode::Joint) {
        be32(0);
        be16(jointStart);
        be16(jointBits);
    }
    return out;
}

std::optional<Flavour> FlavourByIndex(int index)
{
    if (index < 0 || index >= 30)
        return std::nullopt;
    const Row &r = kRows[index];
    Flavour f;
    f.index = index;
    f.sampleRate = r.rate;
    f.channels = r.channels;
    f.frameSamples = FrameSamplesFor(r.rate);
    f.subbands = r.subbands;
    f.jointStart = r.jointStart;
    f.jointBits = r.jointBits;
    f.frameBytes = r.frameBytes;
    f.framesPerPacket = r.framesPerPacket;
    f.packetsPerBlock = r.height;
    return f;
}

} // namespace corva::cook
