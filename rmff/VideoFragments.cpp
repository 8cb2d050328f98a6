#include "rmff/VideoFragments.h"

#include "rmff/RmError.h"

#include <algorithm>
#include <string>

namespace corva::rmff {

namespace {
constexpr std::uint32_t kLargestFragmentNumber = (std::uint32_t{1} << 30) - 1;
constexpr std::uint8_t kWholeFrame = 0x40;
constexpr std::uint8_t kLastFragment = 0x80;
constexpr std::size_t kPacketHeaderBytes = 12;
constexpr std::uint8_t kPadding = 0xFF;
} // namespace

void PutFragmentNumber(std::vector<std::uint8_t> &out, std::uint32_t value)
{
    if (value < 0x4000) {
        const std::uint32_t v = 0x4000 | value;
        out.push_back(static_cast<std::uint8_t>(v >> 8));
        out.push_back(static_cast<std::uint8_t>(v));
        return;
    }
    out.push_back(static_cast<std::uint8_t>(value >> 24));
    out.push_back(static_cast<std::uint8_t>(value >> 16));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

std::vector<std::vector<std::uint8_t>> FragmentPicture(
    std::span<const std::vector<std::uint8_t>> slices, std::uint32_t pictureNumber)
{
    if (slices.empty())
        throw RmError(ErrorKind::Output, "视频画面没有任何片（slice）");
    if (slices.size() > kMaxSlicesPerPicture)
        throw RmError(ErrorKind::Output, "一幅视频画面有 " + std::to_string(slices.size()) +
                                             " 个片，超过了 RealVideo 允许的 " +
                                             std::to_string(kMaxSlicesPerPicture) + " 个");
    std::uint64_t total = 0;
    for (const auto &s : slices) {
        if (s.empty())
            throw RmError(ErrorKind::Output, "视频画面含有空的片（slice）");
        total += s.size();
    }
    if (total > kLargestFragmentNumber)
        throw RmError(ErrorKind::Output, "视频画面过大，无法写入 RealMedia 文件");

    std::vector<std::vector<std::uint8_t>> out;
    if (slices.size() == 1) {
        std::vector<std::uint8_t> p{kWholeFrame, 0x01};
        p.insert(p.end(), slices[0].begin(), slices[0].end());
        out.push_back(std::move(p));
        return out;
    }

    const auto count = static_cast<std::uint8_t>(std::min<std::size_t>(63, slices.size() - 1));
    const auto sequence = static_cast<std::uint8_t>(pictureNumber & 0xFF);
    std::uint32_t offset = 0;
    for (std::size_t i = 0; i < slices.size(); ++i) {
        const bool last = i + 1 == slices.size();
        const auto &slice = slices[i];
        std::vector<std::uint8_t> p;
        p.reserve(slice.size() + 11);
        p.push_back(static_cast<std::uint8_t>((last ? kLastFragment : 0) | count));
        p.push_back(static_cast<std::uint8_t>(i + 1));
        PutFragmentNumber(p, static_cast<std::uint32_t>(total));
        // A middle fragment says where it starts; the last one says how long it is.
        PutFragmentNumber(p, last ? static_cast<std::uint32_t>(slice.size()) : offset);
        p.push_back(sequence);
        p.insert(p.end(), slice.begin(), slice.end());
        offset += static_cast<std::uint32_t>(slice.size());
        out.push_back(std::move(p));
    }
    return out;
}

namespace {

// Zero bytes at the end of a slice, counted up to two. One, with the next packet's two zero bytes
// and the first of its length, reads as a header that starts a byte early and leaps over the real
// one: a byte after it mends that. After two, any byte but zero would make a header of its own.
int TrailingZeroBytes(const std::vector<std::uint8_t> &slice)
{
    const std::size_t n = slice.size();
    return n > 0 && slice[n - 1] == 0 ? (n > 1 && slice[n - 2] == 0 ? 2 : 1) : 0;
}

bool EndsInOneZeroByte(const std::vector<std::uint8_t> &slice) { return TrailingZeroBytes(slice) == 1; }

} // namespace

bool NeedsPaddingForSeeking(std::span<const std::vector<std::uint8_t>> slices, bool keyframe)
{
    return keyframe || std::any_of(slices.begin(), slices.end(), EndsInOneZeroByte);
}

std::vector<std::vector<std::uint8_t>> PaddedForSeeking(std::span<const std::vector<std::uint8_t>> slices, bool keyframe)
{
    std::vector<std::vector<std::uint8_t>> out(slices.begin(), slices.end());
    for (auto &slice : out)
        if (EndsInOneZeroByte(slice))
            slice.push_back(kPadding);
    if (!keyframe)
        return out;
    // Padding can only lengthen the other fragments' headers (the picture's length in them).
    const auto payloads = FragmentPicture(out, 0);
    for (std::size_t i = 0; i < payloads.size(); ++i)
        if (kPacketHeaderBytes + payloads[i].size() < kShortestVideoPacket) {
            // Two zero bytes and any two after them read as a header to that scan too, so the
            // padding has no zero byte, unless the slice ends in two already.
            const std::uint8_t fill = TrailingZeroBytes(out[i]) == 2 ? 0 : kPadding;
            out[i].resize(out[i].size() + kShortestVideoPacket - kPacketHeaderBytes - payloads[i].size(), fill);
        }
    return out;
}

} // namespace corva::rmff
