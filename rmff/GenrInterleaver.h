#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace corva::rmff {

// The "genr" interleaver of RealAudio: a block of h packets of F coded frames each, where the
// frames of a block are spread over its packets so that a lost packet costs scattered frames
// instead of a run. Packet y carries, in slot x, frame h*x + ((h+1)/2)*(y&1) + (y>>1).
class GenrInterleaver final
{
public:
    GenrInterleaver(int packetsPerBlock, int framesPerPacket);

    int FramesPerBlock() const { return m_h * m_f; }
    // The block frame a packet's slot carries.
    int FrameAt(int packet, int slot) const;
    // One block of frames (time order, all of one size) as its h packet payloads.
    std::vector<std::vector<std::uint8_t>> Interleave(std::span<const std::vector<std::uint8_t>> frames) const;
    // The inverse: a block's packet payloads back to frames in time order.
    std::vector<std::vector<std::uint8_t>> Deinterleave(std::span<const std::vector<std::uint8_t>> packets,
                                                        std::size_t frameBytes) const;

private:
    int m_h = 0;
    int m_f = 0;
};

} // namespace corva::rmff
