#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace corva::rmff {

// The most slices one picture may have: the decoders size their slice table from the 6-bit
// count in the first byte of each fragment (2 × count + 1 entries).
inline constexpr std::size_t kMaxSlicesPerPicture = 127;

// The payloads that carry one RealVideo picture. One slice goes in a whole-frame sub-packet;
// several go one slice per fragment (every decoder turns each fragment into one slice table
// entry), the last fragment marked as such. `pictureNumber` is kept mod 256.
// Throws RmError (Output) for no slices, an empty slice, too many slices, or a picture whose
// length cannot be written.
std::vector<std::vector<std::uint8_t>> FragmentPicture(
    std::span<const std::vector<std::uint8_t>> slices, std::uint32_t pictureNumber);

// From the second byte of a packet shorter than this, header included, FFmpeg's scan for
// packet headers reads a header of 256 times that packet's length and leaps over what follows.
inline constexpr std::size_t kShortestVideoPacket = 256;

// `slices` with bytes the decoders leave unread (a slice ends at its last macroblock) where
// FFmpeg's scan for packet headers would misread them: one after a slice that ends in a single
// zero byte, and for a keyframe, up to kShortestVideoPacket for each packet shorter than that, as
// FragmentPicture then cuts them into packets. NeedsPaddingForSeeking says whether any is due.
bool NeedsPaddingForSeeking(std::span<const std::vector<std::uint8_t>> slices, bool keyframe);
std::vector<std::vector<std::uint8_t>> PaddedForSeeking(std::span<const std::vector<std::uint8_t>> slices, bool keyframe);

// The variable-length number of the fragment headers: 2 bytes below 0x4000, else 4 bytes
// (values below 2^30).
void PutFragmentNumber(std::vector<std::uint8_t> &out, std::uint32_t value);

} // namespace corva::rmff
