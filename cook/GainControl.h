#pragma once

#include "cook/BitWriter.h"

#include <array>
#include <vector>

namespace corva::cook {

// A frame's gain profile: a power-of-two level at each of the 9 boundaries of the 8 segments of
// the block it looks ahead to (the decoder ramps between them). All zero: no gain changes.
struct GainProfile {
    std::array<int, 9> level{};
    bool operator==(const GainProfile &) const = default;
};

// Gain control against pre-echo. Before a sharp attack the decoder is told to turn its output
// down; the encoder turns the same stretch up by as much before the transform, so the
// quantisation noise the attack spreads backwards comes out quieter by that much. The frame's
// signal is the input divided by a curve that is continuous across the frame: over its first
// block the last frame's curve times 2^level[0], over its second block its own curve.
class GainControl final {
public:
    // The profile for a block about to be coded (per channel, N samples each, and readable on
    // for the first segment, N/8 samples, of the block after it): the segments before the first
    // attack well above everything before it are lowered; an attack that opens the next block
    // lowers all of this one. `before` is the mean power of the block in front of it.
    static GainProfile Detect(const std::vector<const float *> &block, int n, double before);
    // Samples Detect reads past the block.
    static int LookAhead(int n) { return n / 8; }
    static void Write(BitWriter &out, const GainProfile &profile);
    // The decoder's curve over a block, in its float arithmetic (1 where the profile is flat).
    static std::vector<float> Curve(const GainProfile &profile, int n);
    // 2^level as the decoder's table holds it.
    static float Power(int level);
};

} // namespace corva::cook
