#pragma once

#include "rv40/IntraAnalysis.h"
#include "rv40/Macroblock.h"
#include "rv40/Picture.h"

namespace corva::rv40 {

struct AnalysisContext;

// Macroblocks of B-pictures: forward, backward, both, direct (from the later reference's
// motion), a direct copy without residual, or intra.
class BidirAnalysis final {
public:
    explicit BidirAnalysis(AnalysisContext &ctx) : m_ctx(ctx), m_intra(ctx) {}
    MbRecord Decide(int mbx, int mby);

private:
    struct Searched {
        MotionVector vf, vb, pf, pb;
        int cf = 0, cb = 0;
        bool directOk = false, skipOk = false;
        MbPixels direct;
    };
    // A direct MB's vectors per 8x8 block, scaled from the later reference's co-located MB (zero
    // where that one is intra or skipped); false when one reaches further out than motion may.
    bool DirectVectors(int mbx, int mby, MotionVector f[4], MotionVector b[4]) const;
    // Predicts and codes a B MB of an inter type (a copy without residual) into m and the picture.
    void Code(int mbx, int mby, int type, const Searched &s, MbRecord &m);
    // The encoder's own choice. Quickest compares the prediction costs only; Quick codes the
    // two cheapest candidates for real and Thorough all of them, distortion plus rate picking.
    MbRecord Choose(int mbx, int mby, const Avail &av, const Searched &s);

    AnalysisContext &m_ctx;
    IntraAnalysis m_intra;
};

} // namespace corva::rv40
