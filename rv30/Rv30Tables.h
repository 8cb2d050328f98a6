#pragma once

#include <cstdint>

namespace corva::rv30 {

// RV30's own tables, read once from the embedded data: the 4x4 mode ranks per context, the
// pair codes, the loop filter limits and the 16x16 DC quantiser.
struct Rv30Tables {
    static constexpr int kNone = 9; // no mode at this rank

    // modeOfRank[above + 1][left + 1][rank]; above/left -1: outside the slice
    std::int8_t modeOfRank[10][10][9] = {};
    // The same inverted: the rank of a mode in a context, -1 where the context has no such mode.
    std::int8_t rankOfMode[10][10][9] = {};
    // The Exp-Golomb value of a pair of ranks.
    std::uint8_t pairCode[9][9] = {};
    int filterLimit[32] = {};
    int lumaDcQuant[32] = {};

    static const Rv30Tables &Get();
};

} // namespace corva::rv30
