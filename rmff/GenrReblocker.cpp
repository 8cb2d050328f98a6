#include "rmff/GenrReblocker.h"

#include <cmath>

namespace corva::rmff {

GenrReblocker::GenrReblocker(int packetsPerBlock, int framesPerPacket, std::size_t frameBytes, double frameMs)
    : m_interleaver(packetsPerBlock, framesPerPacket), m_frameBytes(frameBytes), m_frameMs(frameMs),
      m_packetsPerBlock(packetsPerBlock), m_framesPerPacket(framesPerPacket)
{
}

void GenrReblocker::Add(const PacketHeader &header, std::span<const std::uint8_t> payload, std::uint64_t offset)
{
    const bool starts = (header.flags & kPacketKeyframe) != 0;
    if (starts && !m_packets.empty()) {
        m_warnings.push_back("偏移 " + std::to_string(m_blockOffset) + " 处的声音块不完整，已略去");
        m_packets.clear();
    }
    if (m_packets.empty()) {
        if (!starts) {
            // A packet outside any block: said once for the packets of a block already counted
            // as broken, and for those before an input's first block or after a whole one.
            if (!m_strayTold)
                m_warnings.push_back("偏移 " + std::to_string(offset) + " 处的声音数据包不在完整的声音块中，已略去");
            m_strayTold = true;
            return;
        }
        m_blockTs = header.timestamp;
        m_blockOffset = offset;
        m_strayTold = false;
    }
    if (payload.size() != m_frameBytes * static_cast<std::size_t>(m_framesPerPacket)) {
        m_warnings.push_back("偏移 " + std::to_string(offset) + " 处的声音数据包大小不符，其所在的声音块已略去");
        m_packets.clear();
        m_strayTold = true;
        return;
    }
    m_packets.emplace_back(payload.begin(), payload.end());
    if (m_packets.size() == static_cast<std::size_t>(m_packetsPerBlock))
        CloseBlock();
}

void GenrReblocker::CloseBlock()
{
    // A block after them: the frames held so far are the input's sound, not its last block's fill.
    Release(m_held.size());
    std::vector<std::vector<std::uint8_t>> frames = m_interleaver.Deinterleave(m_packets, m_frameBytes);
    for (std::size_t k = 0; k < frames.size(); ++k)
        m_held.push_back(Frame{std::move(frames[k]), m_blockTs + double(k) * m_frameMs});
    m_packets.clear();
}

void GenrReblocker::Release(std::size_t count)
{
    for (std::size_t k = 0; k < count; ++k) {
        m_ready.push_back(std::move(m_held.front().bytes));
        m_held.pop_front();
        ++m_framesOut;
    }
    Emit();
}

void GenrReblocker::EndInput(std::optional<double> soundEndMs)
{
    if (!m_packets.empty()) {
        m_warnings.push_back("偏移 " + std::to_string(m_blockOffset) + " 处的声音块不完整，已略去");
        m_packets.clear();
    }
    m_strayTold = false;
    std::size_t sound = m_held.size();
    if (soundEndMs) {
        sound = 0;
        while (sound < m_held.size() && m_held[sound].inputMs < *soundEndMs)
            ++sound;
    }
    Release(sound);
    if (!m_held.empty() && !m_silence)
        m_silence = m_held.front().bytes;
    m_held.clear();
}

void GenrReblocker::StartAt(double ms)
{
    if (!m_originMs) {
        m_originMs = ms;
        return;
    }
    // To the nearest frame: the next input's sound then plays within half a frame of its picture.
    while (m_silence && NextFrameMs() < ms - m_frameMs / 2) {
        m_ready.push_back(*m_silence);
        ++m_framesOut;
    }
    Emit();
}

double GenrReblocker::NextFrameMs() const
{
    return m_originMs.value_or(0) + double(m_framesOut) * m_frameMs;
}

void GenrReblocker::Emit()
{
    const std::size_t perBlock = static_cast<std::size_t>(m_interleaver.FramesPerBlock());
    while (m_ready.size() >= perBlock) {
        const std::int64_t first = m_framesOut - static_cast<std::int64_t>(m_ready.size());
        std::vector<std::vector<std::uint8_t>> frames(std::make_move_iterator(m_ready.begin()),
                                                      std::make_move_iterator(m_ready.begin() + static_cast<std::ptrdiff_t>(perBlock)));
        m_ready.erase(m_ready.begin(), m_ready.begin() + static_cast<std::ptrdiff_t>(perBlock));
        Block block;
        block.timestampMs = static_cast<std::uint32_t>(std::floor(m_originMs.value_or(0) + double(first) * m_frameMs));
        block.packets = m_interleaver.Interleave(frames);
        m_blocks.push_back(std::move(block));
    }
}

void GenrReblocker::Finish()
{
    if (!m_held.empty())
        Release(m_held.size());
    const std::size_t perBlock = static_cast<std::size_t>(m_interleaver.FramesPerBlock());
    if (m_ready.empty())
        return;
    if (!m_silence) {
        // Never the case for whole blocks; only broken ones leave a part without fill to hand.
        m_warnings.push_back("末尾不足一个声音块的 " + std::to_string(m_ready.size()) + " 帧声音已略去");
        m_ready.clear();
        return;
    }
    while (m_ready.size() < perBlock) {
        m_ready.push_back(*m_silence);
        ++m_framesOut;
    }
    Emit();
}

std::vector<GenrReblocker::Block> GenrReblocker::TakeBlocks()
{
    std::vector<Block> out;
    out.swap(m_blocks);
    return out;
}

std::vector<std::string> GenrReblocker::TakeWarnings()
{
    std::vector<std::string> out;
    out.swap(m_warnings);
    return out;
}

} // namespace corva::rmff
