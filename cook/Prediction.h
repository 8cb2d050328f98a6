#pragma once

#include "cook/Flavour.h"
#include "cook/FrameRecord.h"
#include "cook/JointStereo.h"
#include "cook/Mlt.h"
#include "cook/NoiseSource.h"

#include <vector>

namespace corva::cook {

// The sound a decoder makes of the frames, worked out from what the encoder decided: the
// decoder's dequantisation (in its float arithmetic), noise fill, decoupling and synthesis.
class Prediction final {
public:
    Prediction(const Flavour &flavour, NoiseSource &noise);

    // The frame's samples, planar (channels x N), clipped as the decoder clips. The decoder
    // keeps its first two frames to itself; the caller drops them the same way.
    std::vector<std::vector<float>> Decode(const FrameRecord &frame);

private:
    void Dequantise(const SubstreamRecord &substream, std::vector<float> &lines);

    Flavour m_flavour;
    NoiseSource &m_noise;
    Mlt m_mlt;
    JointStereo m_joint;
    std::vector<std::vector<double>> m_overlap;
    std::vector<std::vector<float>> m_curve; // per channel: the last frame's gain curve
};

} // namespace corva::cook
