#include "cook/Framing.h"

#include <stdexcept>

namespace corva::cook {

void Framing::Scramble(std::uint8_t *data, std::size_t size)
{
    static constexpr std::uint8_t kKey[4] = {0x37, 0xC5, 0x11, 0xF2};
    for (std::size_t i = 0; i < size; ++i)
        data[i] ^= kKey[i & 3];
}

int Framing::SubstreamBits(const Flavour &flavour)
{
    const int bits = flavour.frameBytes * 8;
    return flavour.Mode() == ChannelMode::DualMono ? bits >> 1 : bits;
}

std::vector<std::uint8_t> Framing::Assemble(const Flavour &flavour, const std::vector<BitWriter> &substreams)
{
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(flavour.frameBytes), 0);
    if (flavour.Mode() == ChannelMode::DualMono) {
        if (substreams.size() != 2)
            throw std::logic_error("dual mono frame needs two halves");
        const std::size_t half = static_cast<std::size_t>(flavour.frameBytes / 2);
        const std::size_t halfBytes = static_cast<std::size_t>(SubstreamBits(flavour) / 8);
        for (std::size_t s = 0; s < 2; ++s) {
            const std::vector<std::uint8_t> bytes = substreams[s].Bytes(halfBytes);
            std::copy(bytes.begin(), bytes.end(), frame.begin() + static_cast<std::ptrdiff_t>(s * half));
            Scramble(frame.data() + s * half, halfBytes);
        }
        return frame;
    }
    if (substreams.size() != 1)
        throw std::logic_error("frame needs one substream");
    frame = substreams[0].Bytes(frame.size());
    Scramble(frame.data(), frame.size());
    return frame;
}

} // namespace corva::cook
