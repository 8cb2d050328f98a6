#pragma once

#include "cook/BitWriter.h"

#include <vector>

namespace corva::cook {

// Band envelope: one power index qi per band of 20 lines (the decoder scales the band by
// 2^(qi/2)), sent as a 6-bit start and Huffman-coded steps of -12..+11.
class Envelope final {
public:
    static constexpr int kMinIndex = -63;
    static constexpr int kMaxIndex = 63;

    // The indices of `bands` bands of `lines`, within what the code can carry.
    static std::vector<int> Measure(const float *lines, int bands);
    // Brings indices within the codable steps. A band is raised in front of a sharp rise, never
    // lowered, so no peak is clipped by the step limit.
    static void Constrain(std::vector<int> &qi);
    // Whether the indices can be sent as they are.
    static bool Codable(const std::vector<int> &qi);
    // The delta table (0..12) the decoder reads band `band` (>= 1) with.
    static int TableFor(int band, int jointStart);
    static void Write(BitWriter &out, const std::vector<int> &qi, int jointStart);
};

} // namespace corva::cook
