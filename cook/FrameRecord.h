#pragma once

#include "cook/BandQuantiser.h"
#include "cook/GainControl.h"

#include <vector>

namespace corva::cook {

// What the decoder reads from one substream of a frame: enough to predict its sound.
struct SubstreamRecord {
    std::vector<int> qi;
    std::vector<BandCode> bands; // category 7: no bits, noise only
    int vectors = 0;
    int bitsUsed = 0;
};

struct FrameRecord {
    std::vector<SubstreamRecord> substreams; // one, or two for dual mono
    std::vector<GainProfile> gains;          // per substream
    std::vector<int> coupling;               // joint stereo: value per coupling band
};

} // namespace corva::cook
