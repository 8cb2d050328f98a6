// Sound blocks taken apart and made anew across a join: frames in order, the fill of an input's
// last block left out and used as silence, times by frame count, broken blocks reported.
#include "rmff/GenrInterleaver.h"
#include "rmff/GenrReblocker.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace corva::rmff {
namespace {

constexpr int kH = 4, kF = 2, kPerBlock = kH * kF;
constexpr double kFrameMs = 23.22;

// Frames carry their number; fill frames (the silence of a last block) carry 0xFF.
std::vector<std::uint8_t> FrameOf(int n) { return {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8)}; }

void AddBlock(GenrReblocker &r, int firstFrame, int realFrames, std::uint32_t ts)
{
    std::vector<std::vector<std::uint8_t>> frames;
    for (int k = 0; k < kPerBlock; ++k)
        frames.push_back(k < realFrames ? FrameOf(firstFrame + k) : std::vector<std::uint8_t>{0xFF, 0xFF});
    const auto packets = GenrInterleaver(kH, kF).Interleave(frames);
    for (std::size_t p = 0; p < packets.size(); ++p) {
        PacketHeader h;
        h.timestamp = ts;
        h.flags = p == 0 ? kPacketKeyframe : 0;
        r.Add(h, packets[p], 1000 + p);
    }
}

std::vector<std::vector<std::uint8_t>> Frames(const std::vector<GenrReblocker::Block> &blocks)
{
    std::vector<std::vector<std::uint8_t>> out;
    for (const auto &b : blocks)
        for (auto &f : GenrInterleaver(kH, kF).Deinterleave(b.packets, 2))
            out.push_back(f);
    return out;
}

TEST(GenrReblocker, JoinsInputsFrameByFrameWithoutTheFillBetween)
{
    GenrReblocker r(kH, kF, 2, kFrameMs);
    r.StartAt(0);
    // Input 1: 11 frames of sound in two blocks, the last 5 of the second block fill.
    AddBlock(r, 0, kPerBlock, 0);
    AddBlock(r, 8, 3, 186);
    r.EndInput(11 * kFrameMs - 1);
    EXPECT_DOUBLE_EQ(r.NextFrameMs(), 11 * kFrameMs);
    // Input 2 starts 3 frames after input 1's sound ends: silence fills the gap.
    r.StartAt(14 * kFrameMs);
    AddBlock(r, 100, kPerBlock, 0);
    r.EndInput(std::nullopt);
    r.Finish();
    const auto blocks = r.TakeBlocks();
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[0].timestampMs, 0u);
    EXPECT_EQ(blocks[1].timestampMs, 185u); // 8 frames of 23.22 ms
    EXPECT_EQ(blocks[2].timestampMs, 371u);
    const auto frames = Frames(blocks);
    std::vector<std::vector<std::uint8_t>> want;
    for (int k = 0; k < 11; ++k)
        want.push_back(FrameOf(k));
    for (int k = 0; k < 3; ++k)
        want.push_back({0xFF, 0xFF});
    for (int k = 0; k < kPerBlock; ++k)
        want.push_back(FrameOf(100 + k));
    while (want.size() < 3 * kPerBlock)
        want.push_back({0xFF, 0xFF});
    EXPECT_EQ(frames, want);
    EXPECT_TRUE(r.TakeWarnings().empty());
}

TEST(GenrReblocker, BrokenBlocksAreLeftOutAndReported)
{
    GenrReblocker r(kH, kF, 2, kFrameMs);
    r.StartAt(0);
    AddBlock(r, 0, kPerBlock, 0);
    // A block whose last packet is lost, then one whose packet has the wrong size.
    PacketHeader h;
    h.flags = kPacketKeyframe;
    const std::vector<std::uint8_t> packet(2 * kF, 1);
    r.Add(h, packet, 5000);
    r.Add(PacketHeader{}, packet, 5010);
    AddBlock(r, 8, kPerBlock, 372);
    r.Add(h, std::vector<std::uint8_t>(3, 0), 6000);
    r.EndInput(std::nullopt);
    r.Finish();
    const auto frames = Frames(r.TakeBlocks());
    ASSERT_EQ(frames.size(), 2u * kPerBlock);
    EXPECT_EQ(frames[8], FrameOf(8));
    const auto warnings = r.TakeWarnings();
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_NE(warnings[0].find("5000"), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[1].find("6000"), std::string::npos) << warnings[1];
}

// Packets before an input's first block starts, or after a whole block, belong to no block the
// decoder could read: they are left out with a word, once for each run of them.
TEST(GenrReblocker, PacketsOutsideAnyBlockAreReported)
{
    GenrReblocker r(kH, kF, 2, kFrameMs);
    r.StartAt(0);
    const std::vector<std::uint8_t> packet(2 * kF, 1);
    r.Add(PacketHeader{}, packet, 700);
    r.Add(PacketHeader{}, packet, 710);
    AddBlock(r, 0, kPerBlock, 40);
    r.Add(PacketHeader{}, packet, 7000);
    r.EndInput(std::nullopt);
    r.Add(PacketHeader{}, packet, 800); // the next input's
    r.EndInput(std::nullopt);
    r.Finish();
    EXPECT_EQ(Frames(r.TakeBlocks()).size(), std::size_t{kPerBlock});
    const auto warnings = r.TakeWarnings();
    ASSERT_EQ(warnings.size(), 3u);
    EXPECT_NE(warnings[0].find("700"), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[1].find("7000"), std::string::npos) << warnings[1];
    EXPECT_NE(warnings[2].find("800"), std::string::npos) << warnings[2];
}

} // namespace
} // namespace corva::rmff
