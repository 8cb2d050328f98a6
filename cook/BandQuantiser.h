#pragma once

#include "cook/BitWriter.h"
#include "cook/CodeTables.h"

#include <array>
#include <cstdint>

namespace corva::cook {

// One band as coded at one category: an index per line (0: zero, or noise where the category
// has dither), its sign, and what it costs.
struct BandCode {
    int category = 7;
    std::array<std::int8_t, kBandSize> index{};
    std::array<bool, kBandSize> negative{};
    std::array<int, 10> symbol{}; // one per vector
    int bits = 0;
    double error = 0; // squared error in units of the band's scale, noise counted as expected
};

class BandQuantiser final {
public:
    // Quantises 20 lines already divided by the band's scale: each line to the reconstruction
    // value nearest it (the expected error of a noise-filled zero counted), then vectors the
    // decoder has no code for brought down to the nearest one it has.
    static BandCode Quantise(const float *normalised, int category);
    // The band's cheapest form: every vector zero.
    static BandCode Silent(const float *normalised, int category);
    static void Write(BitWriter &out, const BandCode &band);
};

} // namespace corva::cook
