#pragma once

#include "rv40/IntraAnalysis.h"
#include "rv40/Macroblock.h"

#include <cstddef>

namespace corva::rv40 {

struct AnalysisContext;
class RdChooser;

// A copy of the reference (or, in a B-picture, of the direct prediction), without residual.
MbRecord CopyRecord();

// Macroblocks of P-pictures: the vector, the split into 8x8 blocks or halves, intra, or a copy
// of the reference, decided and coded into the record and the reconstruction.
class InterAnalysis final {
public:
    explicit InterAnalysis(AnalysisContext &ctx) : m_ctx(ctx), m_intra(ctx) {}
    MbRecord Decide(int mbx, int mby);
    // MB (mbx, mby) coded as one vector of zero with its residual: a copy's picture, in bits that
    // end the run of copies before it one MB earlier.
    MbRecord CodeStill(int mbx, int mby);
    // The same with the vector its neighbours predict (the shortest vector code).
    MbRecord CodePredicted(int mbx, int mby);

private:
    // Predicts and codes an inter MB of a type: one vector, or those of mv8 when partitioned.
    void Code(int mbx, int mby, int type, const MotionVector &v, MbRecord &m);
    // The same as a P-mix MB, its luma DCs in a block of their own: false, with nothing coded,
    // where the block would carry no shift of the whole MB (the MB is then better coded plain)
    // unless forced.
    bool CodeMix(int mbx, int mby, const MotionVector &v, MbRecord &m, bool force = false);
    // Whether the MB has nothing left to refine: its source is the reference's own there, and the
    // reference kept a copy of it at a quantiser no coarser than this one.
    bool Settled(int mbx, int mby) const;
    // A source shown again: its residual over the reference at no motion, or a copy.
    MbRecord Refine(int mbx, int mby, const Avail &av);
    // A coded candidate's bits, where copies come in runs with the run's code before it.
    std::size_t CandidateBits(int mbx, int mby, const Avail &av, const MbRecord &m) const;
    // The copy of the reference, its prediction put in the picture.
    MbRecord Copy(int mbx, int mby);
    // The copy, tried last (never the picture's last MB), else the best candidate.
    MbRecord CopyOrBest(RdChooser &rd, int mbx, int mby);
    // Whether the MB's brightness moved from the reference's by more than a copy should keep.
    bool Shifted(int mbx, int mby) const;
    // The two halves of a 16x8 (top, bottom) or 8x16 (left, right) MB: each searched from the
    // MB's vector, the second predicted from the first.
    void SearchHalves(int mbx, int mby, const Avail &av, int type, const MotionVector &start, MotionVector out[4]) const;
    // The candidates coded for real; distortion plus rate picks.
    MbRecord Choose(int mbx, int mby, const Avail &av, const MbRecord &searched, int type, const MotionVector &v,
                    bool tried8, bool split, bool tryIntra);

    AnalysisContext &m_ctx;
    IntraAnalysis m_intra;
};

} // namespace corva::rv40
