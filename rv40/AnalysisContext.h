#pragma once

#include "rv40/Bitstream.h"
#include "rv40/InterPrediction.h"
#include "rv40/MbGrid.h"
#include "rv40/MotionSearch.h"
#include "rv40/PictureContext.h"
#include "rv40/ResidualCoder.h"

namespace corva::rv40 {

class DecisionPolicy;

// One band's tools for deciding its macroblocks: the picture (read only), the band's own
// reconstruction rows, the grid (to read), the policy, and the shared parts that search, predict
// and code the residual.
struct AnalysisContext {
    AnalysisContext(const PictureContext &pc, Picture &cur, const MbGrid &grid, DecisionPolicy &policy);

    MbSite Site(int mbx, int mby, const Avail &av) const { return {grid, qs, pc.kind, mbx, mby, av}; }
    // A coded MB's bits as the writer would write them.
    std::size_t Bits(int mbx, int mby, const Avail &av, const MbRecord &mb) const;
    // A search of `from` for the MB: zero, the prediction, the neighbours and one more start.
    MotionResult Search(const Picture &from, int mbx, int mby, const Avail &av, const MotionVector &pred,
                        const MotionVector &extra) const;
    // One part of the MB refined around start (its square or cross as the effort says).
    MotionResult SearchPart(int mbx, int mby, int ox, int oy, int w, int h, const MotionVector &start,
                            const MotionVector &pred) const;
    // Moves a vector at random by up to `reach` in each direction, where it stays in range.
    void Jitter(int mbx, int mby, MotionVector &v, int reach);

    const PictureContext &pc;
    Picture &cur;
    const MbGrid &grid; // the band commits, the analysis only reads
    DecisionPolicy &policy;
    // The quantiser of the slice the MB is in (the residual coder reads it)
    QuantSet qs;
    ResidualCoder residual;
    InterPrediction prediction;
    MotionSearch search;
};

} // namespace corva::rv40
