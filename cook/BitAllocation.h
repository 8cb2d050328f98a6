#pragma once

#include <vector>

namespace corva::cook {

// The decoder's categories of a frame: the finest allocation, and the list of one-step changes
// of which the frame's vector count takes the first ones.
struct Allocation {
    std::vector<int> categories; // per band, 0..7
    std::vector<int> steps;      // vector-count - 1 entries; unplaced ones read as band 0
    int placed = 0;              // entries the decoder actually placed
};

// The allocation the decoder derives from the envelope and the bits left; the encoder runs the
// same integer steps so that it knows how every band will be read. Virtual only so that a test
// can hand the coder a wrong one and see the decoded sound part from the prediction.
class BitAllocation {
public:
    virtual ~BitAllocation() = default;
    virtual Allocation Categorize(const std::vector<int> &qi, int bitsLeft, int samplesPerChannel,
                                  int vectorCount) const;
    // The categories after the first `vectors` steps of the list.
    static std::vector<int> Expand(const Allocation &allocation, int vectors);
};

} // namespace corva::cook
