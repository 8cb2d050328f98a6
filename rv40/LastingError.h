#pragma once

#include <cstdint>
#include <vector>

namespace corva::rv40 {

struct Picture;

// On a still background every picture copies what its reference shows, so an error the
// reference left there stays on screen until some picture codes it away; at the quantisers a
// low rate gives, the decisions each picture makes alone keep copying it (a still street stayed
// 2 dB behind where nothing moved). Where a still macroblock's reference is much further from
// the source than the source itself moved since, coding it pays in every picture after, so it
// is decided with a smaller lambda.
class LastingError final {
public:
    // Each macroblock's lambda scale for an inter picture at `quantiser`: below 1 where the
    // macroblock is in a still run (its offset non-zero) and its reference's error lasts; 1
    // elsewhere. `ref` is the reference as decoded, `refSrc` its source. False where none is
    // below 1.
    static bool Scales(const Picture &src, const Picture &ref, const Picture &refSrc,
                       const std::vector<std::int8_t> &stillOffsets, int mbw, int mbh, int quantiser,
                       std::vector<float> &scales);
};

} // namespace corva::rv40
