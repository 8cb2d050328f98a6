#pragma once

#include "rv40/Rv40Types.h"

#include <cstdint>
#include <string>
#include <vector>

namespace corva::rv40 {
class Bitstream;
}

namespace corva::rv40::test {

// One decoded picture, planes tightly packed.
struct YuvFrame {
    int width = 0, height = 0;
    std::vector<std::uint8_t> plane[3];
};

// FFmpeg's RV40 decoder fed the way its RealMedia demuxer feeds it: per picture one buffer with
// the slice count, a table of slice offsets, then the slices. Collects every message the decoder
// prints at error level or worse.
class Rv40TestDecoder final {
public:
    // Installed: the decoder as players use it, with this processor's SIMD functions.
    // PortableC: FFmpeg's C functions only.
    enum class Arithmetic { Installed, PortableC };
    // format: the bitstream whose FOURCC picks FFmpeg's decoder (RV40 or RV30) and whose set-up
    // bytes it opens with; none: RV40.
    Rv40TestDecoder(int width, int height, Arithmetic arithmetic = Arithmetic::Installed,
                    const Bitstream *format = nullptr);
    ~Rv40TestDecoder();
    Rv40TestDecoder(const Rv40TestDecoder &) = delete;
    Rv40TestDecoder &operator=(const Rv40TestDecoder &) = delete;

    // False with a message in Errors() when the decoder refused the data.
    bool Send(const EncodedPicture &picture, std::int64_t pts);
    bool Flush();
    std::vector<YuvFrame> &Frames() { return m_frames; }
    static std::vector<std::string> TakeErrors();

    static std::vector<std::uint8_t> PacketFor(const EncodedPicture &picture);

private:
    bool Drain();
    struct Impl;
    Impl *m_impl;
    std::vector<YuvFrame> m_frames;
};

} // namespace corva::rv40::test
