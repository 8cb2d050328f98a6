#pragma once

#include "cook/BitAllocation.h"
#include "cook/BitWriter.h"
#include "cook/FrameRecord.h"

#include <vector>

namespace corva::cook {

struct ChannelSetup {
    int bits = 0;              // the substream's bits, prefix included
    int bands = 0;             // bands coded
    int jointStart = 0;        // envelope tables of a joint pair; 0 otherwise
    int log2Vectors = 5;
    int samplesPerChannel = 0;
};

// Codes one substream's bands: envelope, the vector count that makes the decoder's allocation
// fit the bits, the band vectors. Bits the fitting count leaves are offered to the bands that
// stand out from their neighbours, where a finer step is heard most.
class ChannelCoder final {
public:
    ChannelCoder(const ChannelSetup &setup, const BitAllocation &allocation);

    // `lines`: bands x 20 coefficients in the order the decoder reads them; `masking`: per band,
    // the power that hides its error (same units as the squared lines). `out` holds the
    // substream's prefix (gain, coupling) already.
    SubstreamRecord Code(const float *lines, const std::vector<double> &masking, BitWriter &out) const;

    // A band's masking power from the mean line powers of the bands in frequency order.
    static std::vector<double> Spread(const std::vector<double> &power);

private:
    struct Trial;
    Trial Evaluate(const std::vector<int> &qi, const float *lines, const std::vector<double> &masking,
                   int prefixBits) const;

    ChannelSetup m_setup;
    const BitAllocation &m_allocation;
};

} // namespace corva::cook
