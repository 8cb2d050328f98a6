#pragma once

#include "cook/BitWriter.h"
#include "cook/Flavour.h"

#include <cstdint>
#include <vector>

namespace corva::cook {

// A coded frame as the decoder takes it: each substream padded to its share of the frame and
// XORed with the decoder's key from its own first byte.
class Framing final {
public:
    static void Scramble(std::uint8_t *data, std::size_t size);
    // One substream (mono, joint stereo) or two halves (dual mono).
    static std::vector<std::uint8_t> Assemble(const Flavour &flavour, const std::vector<BitWriter> &substreams);
    // The bits each substream of a frame has.
    static int SubstreamBits(const Flavour &flavour);
};

} // namespace corva::cook
