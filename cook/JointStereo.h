#pragma once

#include "cook/BitWriter.h"
#include "cook/Flavour.h"

#include <utility>
#include <vector>

namespace corva::cook {

// Joint stereo (cook version 2): the low bands of both channels are coded side by side, the
// bands from the flavour's start up are coded once and panned back by a gain pair chosen per
// coupling band.
class JointStereo final {
public:
    explicit JointStereo(const Flavour &flavour);

    int FirstCouplingBand() const { return m_first; }
    int LastCouplingBand() const { return m_last; }
    // The decoder's gains (left, right) for a coupling value.
    std::pair<float, float> Gains(int value) const;

    // Per coupling band (indexed 0..19), the value whose gains lose least of the two channels,
    // the bits of its code weighed in.
    std::vector<int> Choose(const float *left, const float *right) const;
    // The pair's bands in the order the decoder reads them: left and right low bands
    // alternating, then one band per coupled band, the least-squares fit to both channels.
    std::vector<float> Combine(const float *left, const float *right, const std::vector<int> &coupling) const;
    // The coupling values, Huffman-coded or raw, whichever is shorter.
    void Write(BitWriter &out, const std::vector<int> &coupling) const;

private:
    Flavour m_flavour;
    int m_first = 0;
    int m_last = -1;
};

} // namespace corva::cook
