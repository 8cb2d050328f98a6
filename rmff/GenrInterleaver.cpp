#include "rmff/GenrInterleaver.h"

#include <stdexcept>

namespace corva::rmff {

GenrInterleaver::GenrInterleaver(int packetsPerBlock, int framesPerPacket)
    : m_h(packetsPerBlock), m_f(framesPerPacket)
{
    if (m_h < 1 || m_f < 1)
        throw std::invalid_argument("genr interleaver needs at least one packet of one frame");
}

int GenrInterleaver::FrameAt(int packet, int slot) const
{
    return m_h * slot + ((m_h + 1) / 2) * (packet & 1) + (packet >> 1);
}

std::vector<std::vector<std::uint8_t>> GenrInterleaver::Interleave(std::span<const std::vector<std::uint8_t>> frames) const
{
    if (frames.size() != static_cast<std::size_t>(FramesPerBlock()))
        throw std::invalid_argument("genr block needs exactly its number of frames");
    std::vector<std::vector<std::uint8_t>> packets(static_cast<std::size_t>(m_h));
    for (int y = 0; y < m_h; ++y) {
        for (int x = 0; x < m_f; ++x) {
            const auto &frame = frames[static_cast<std::size_t>(FrameAt(y, x))];
            if (frame.size() != frames[0].size())
                throw std::invalid_argument("genr frames differ in size");
            packets[y].insert(packets[y].end(), frame.begin(), frame.end());
        }
    }
    return packets;
}

std::vector<std::vector<std::uint8_t>> GenrInterleaver::Deinterleave(std::span<const std::vector<std::uint8_t>> packets,
                                                                     std::size_t frameBytes) const
{
    if (packets.size() != static_cast<std::size_t>(m_h))
        throw std::invalid_argument("genr block needs exactly its number of packets");
    std::vector<std::vector<std::uint8_t>> frames(static_cast<std::size_t>(FramesPerBlock()));
    for (int y = 0; y < m_h; ++y) {
        if (packets[y].size() != frameBytes * static_cast<std::size_t>(m_f))
            throw std::invalid_argument("genr packet of the wrong size");
        for (int x = 0; x < m_f; ++x) {
            const auto begin = packets[y].begin() + static_cast<std::ptrdiff_t>(frameBytes * x);
            frames[static_cast<std::size_t>(FrameAt(y, x))].assign(begin, begin + static_cast<std::ptrdiff_t>(frameBytes));
        }
    }
    return frames;
}

} // namespace corva::rmff
