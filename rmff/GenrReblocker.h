#pragma once

#include "rmff/GenrInterleaver.h"
#include "rmff/RmObjects.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace corva::rmff {

// Joins block-interleaved ("genr") sound frame by frame. Each input's blocks are taken apart into
// frames; the silence that filled an input's last block is dropped (its sound ends within the
// block), and the frames of the next input follow on in new blocks. Copying the blocks as they are
// would leave up to a block (almost two seconds) of silence, and a still picture, between parts.
class GenrReblocker final
{
public:
    // `frameMs`: how long one coded frame plays.
    GenrReblocker(int packetsPerBlock, int framesPerPacket, std::size_t frameBytes, double frameMs);

    // One packet of the current input, in file order, with its time in the input. A block that
    // does not come whole is dropped with a warning (the decoder could not read it either).
    void Add(const PacketHeader &header, std::span<const std::uint8_t> payload, std::uint64_t offset);
    // The input ends. Frames that start at or after `soundEndMs` (the input's time) only filled
    // its last block: they are dropped, and kept as the silence to fill gaps with.
    void EndInput(std::optional<double> soundEndMs);
    // The next input's first frame is to play at `ms` of the output: a gap up to there is filled
    // with silence (when any has been seen). The first call sets where the output's sound begins.
    void StartAt(double ms);
    // The output time the next frame plays at.
    double NextFrameMs() const;
    // Fills the last block with silence.
    void Finish();

    struct Block
    {
        std::uint32_t timestampMs = 0;
        std::vector<std::vector<std::uint8_t>> packets;
    };
    // Output blocks complete so far, in order.
    std::vector<Block> TakeBlocks();
    std::vector<std::string> TakeWarnings();

private:
    struct Frame
    {
        std::vector<std::uint8_t> bytes;
        double inputMs = 0; // when it plays in its input
    };
    void CloseBlock();
    void Release(std::size_t count);
    void Emit();

    GenrInterleaver m_interleaver;
    std::size_t m_frameBytes;
    double m_frameMs;
    int m_packetsPerBlock;
    int m_framesPerPacket;

    // The current input's block being gathered, and its frames not yet known to be sound.
    std::vector<std::vector<std::uint8_t>> m_packets;
    std::uint32_t m_blockTs = 0;
    std::uint64_t m_blockOffset = 0;
    bool m_strayTold = false; // packets outside a whole block have been warned of
    std::deque<Frame> m_held;

    std::deque<std::vector<std::uint8_t>> m_ready; // frames for the output, in order
    std::optional<double> m_originMs;              // when the output's first frame plays
    std::int64_t m_framesOut = 0;                  // frames placed in the output so far
    std::optional<std::vector<std::uint8_t>> m_silence;
    std::vector<Block> m_blocks;
    std::vector<std::string> m_warnings;
};

} // namespace corva::rmff
