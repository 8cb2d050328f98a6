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
// Quickest: small search, 16x16 blocks only. Quick: adds 8x8 motion and 4x4 intra, intra coded
// beside the vector where close, B-macroblocks settled by distortion plus rate. Brisk: Quick
// with the 8x8 split coded beside the whole MB, and B-macroblocks the estimate calls copies
// left copies (RealVideo 8's effort, where the split and the copies weigh most). Thorough:
// wider search, SATD and rate-distortion checks on the final candidates.
enum class Effort { Quickest, Brisk, Quick, Thorough };

// What an effort does, tool by tool: the analysis asks these, never the effort itself.
struct EffortTools {
    int searchRange = 8;       // whole pixels the diamond may walk from the best start
    bool exhaustive = false;   // a full look near the winner; SATD in the search and what it is compared with
    bool satdIntra = false;    // SATD rather than SAD among the intra modes
    bool intra4 = false;       // 4x4 intra tried against 16x16
    bool intraByRd = false;    // 16x16 and 4x4 intra both coded, settled by distortion plus rate
    bool split8 = false;       // 8x8 vectors tried where one vector leaves a visible error
    bool splitByRd = false;    // the MB coded whole, split and in halves, the cheapest kept
    bool refineSquare = false; // a part's fractions refined over the square rather than the cross
    int intraBeside = 0;       // intra coded beside the vector: 0 where estimated cheaper, 1 also where close, 2 always
    int bCoded = 0;            // B candidates coded and settled by distortion plus rate (0: by estimate alone; 9: all)
    bool bCopyFirst = false;   // with bCoded, a copy the estimate prefers is taken before any is coded
    int bIntraClose = 3;       // with bCoded, intra coded too where its estimate is below this many times the best
    bool bBidir = false;       // bidirectional B MBs, where the bitstream has them
    bool rewriteModifiers = false; // every slice written again with each code-table modifier
    int stillFiner = 0;        // quantiser steps finer for macroblocks that have stood still (references only)
    bool settledCopies = false; // a source shown again: what the reference settled as a copy is one again, the rest refined at no motion, unsearched

    static EffortTools Of(Effort e);
};

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
