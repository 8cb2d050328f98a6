#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corva::rv40 {

// The picture sizes the encoder codes: multiples of four, from 16x16 to 2048x1152.
inline constexpr int kSizeStep = 4;
inline constexpr int kMinSide = 16;
inline constexpr int kMaxWidth = 2048;
inline constexpr int kMaxHeight = 1152;

// Bidirectional: predicted from the two last references; never a reference itself.
enum class PictureType { Intra, Inter, Bidirectional };
// Quickest: small search, 16x16 blocks only. Quick: adds 8x8 motion and 4x4 intra.
// Thorough: wider search, SATD and rate-distortion checks on the final candidates.
enum class Effort { Quickest, Quick, Thorough };

struct EncoderSettings {
    int width = 0, height = 0;
    Effort effort = Effort::Quick;
    std::size_t maxSliceBytes = 30000;
    // Bands of MB rows coded at once, each its own slice; the output depends on it, not on timing.
    int threads = 1;
};

struct PictureDecision {
    PictureType type = PictureType::Intra;
    int quantiser = 16; // 0..31
    // Inter only: every MB copies the reference (the last is coded, as a picture of skips alone
    // does not decode), for a rate the pictures cannot otherwise keep.
    bool repeat = false;
    // When not 0, the most bytes the picture's slices may take: small levels are dropped, and
    // at the last an inter picture repeats its reference, to keep within it. A bound even a
    // picture of no levels cannot keep is exceeded as little as the syntax allows.
    std::size_t maxBytes = 0;
};

// Cost estimates in one unit (SATD of the best cheap prediction) for picture-type decisions.
struct PictureCost {
    double intra = 0, inter = 0;
};

struct EncodedPicture {
    PictureType type = PictureType::Intra;
    int quantiser = 0;
    // Each a whole slice: header, macroblock data, zero padding to a byte.
    std::vector<std::vector<std::uint8_t>> slices;
    // Levels were dropped (or the picture repeated) to keep within the decision's size; and
    // what it took at the coarsest quantiser with every level, which says how the picture codes.
    bool bounded = false;
    std::size_t coarsestBytes = 0;
    double intraShare = 0;          // share of macroblocks coded intra; 1 for intra pictures
    std::uint64_t sse[3] = {};      // reconstruction against the source, display area
    std::size_t Bytes() const;
};

} // namespace corva::rv40
