#pragma once

#include "cook/BitAllocation.h"
#include "cook/Flavour.h"
#include "cook/FrameRecord.h"
#include "cook/JointStereo.h"
#include "cook/Mlt.h"

#include <cstdint>
#include <vector>

namespace corva::cook {

// The cook encoder: planar float samples of the flavour's rate and channels in, coded frames of
// the flavour's size out. Frame k holds the sound of block k (N samples) as the decoder gives
// it back, and the decoder keeps its first two frames to itself. With a lead-in, two frames of
// silence come first, so decoded sample 0 is input sample 0; without, the first two blocks are
// not heard but every frame's time is its block's time, which is what a player's clock wants.
class Encoder final {
public:
    // `allocation` stands in for the decoder's allocation (a test's deliberately wrong one);
    // null takes the decoder's.
    explicit Encoder(const Flavour &flavour, const BitAllocation *allocation = nullptr, bool leadIn = true);

    const Flavour &GetFlavour() const { return m_flavour; }
    // Also keep what each frame tells the decoder, for a prediction of the decoded sound.
    void KeepRecords(bool keep) { m_keepRecords = keep; }

    void Push(const float *const *planes, std::size_t samples);
    // Codes what is left, then silence up to a whole interleave block.
    void Finish();

    std::vector<std::vector<std::uint8_t>> TakeFrames();
    std::vector<FrameRecord> TakeRecords();
    std::int64_t FramesCoded() const { return m_framesCoded; }
    std::int64_t SamplesIn() const { return m_samplesIn; }

private:
    void CodeFrame();

    Flavour m_flavour;
    BitAllocation m_decoderAllocation;
    const BitAllocation &m_allocation;
    Mlt m_mlt;
    JointStereo m_joint;
    bool m_keepRecords = false;
    std::vector<std::vector<float>> m_pending; // per channel, from the current frame's first block
    std::vector<std::vector<float>> m_curve;   // per channel: the last frame's gain curve
    std::vector<double> m_blockPower;          // per channel: mean power of the current first block
    std::vector<std::vector<std::uint8_t>> m_frames;
    std::vector<FrameRecord> m_records;
    std::int64_t m_framesCoded = 0;
    std::int64_t m_samplesIn = 0;
    std::int64_t m_leadIn = 0;
    bool m_finished = false;
};

} // namespace corva::cook
