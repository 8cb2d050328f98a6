#include "rv40/Rv40Types.h"

namespace corva::rv40 {

EffortTools EffortTools::Of(Effort e)
{
    EffortTools t;
    // the finer steps refine a still background where a keyframe left it coarse (the keyframe
    // is held to the player's buffer); the first pass codes so too, so that its bits are the
    // ones the plan scales
    t.stillFiner = 6;
    if (e == Effort::Quickest)
        return t;
    // (not in a measuring pass: what it measures of a picture shown again is what the plan spends)
    t.settledCopies = true;
    t.searchRange = 16;
    t.satdIntra = true;
    t.intra4 = true;
    t.intraBeside = 1;
    t.bCoded = 2;
    // what the coded B-macroblocks gain lies in the choice among the coded candidates; most
    // copies the estimate finds are copies still, at a fraction of the time (on real footage a
    // fifth of rv9's and rv10's, for no more than 0.01 dB)
    t.bCopyFirst = true;
    t.split8 = true;
    if (e == Effort::Brisk) {
        t.bIntraClose = 1;
        // a split into 8x8 pays in RV30 only with its parts refined from whole pixels, and
        // coded beside the whole MB (the search's estimate leaves out the residual)
        t.splitByRd = true;
        t.refineSquare = true;
        return t;
    }
    t.bBidir = true;
    if (e == Effort::Quick) {
        // The quicker of the two RealVideo 9/10 efforts trades a little for time: one B
        // candidate coded, intra coded beside it only where close, and a slice written again
        // only where it reads as a packet header. On real footage a twelfth less time for
        // 0.07 dB (two passes at two rates, four clips).
        t.bCoded = 1;
        t.bIntraClose = 1;
        return t;
    }
    // Thorough
    t.rewriteModifiers = true;
    t.searchRange = 32;
    t.exhaustive = true;
    t.intraByRd = true;
    t.splitByRd = true;
    t.refineSquare = true;
    t.intraBeside = 2;
    t.bCoded = 9;
    return t;
}

std::size_t EncodedPicture::Bytes() const
{
    std::size_t total = 0;
    for (const auto &s : slices)
        total += s.size();
    return total;
}

} // namespace corva::rv40
