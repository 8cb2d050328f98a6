#pragma once

#include "rv40/Macroblock.h"

namespace corva::rv40 {

struct AnalysisContext;

// Intra macroblocks: the 16x16 mode or the sixteen 4x4 modes, chosen and coded into the record
// and the reconstruction.
class IntraAnalysis final {
public:
    explicit IntraAnalysis(AnalysisContext &ctx) : m_ctx(ctx) {}
    // Decides and codes an intra MB.
    void Code(int mbx, int mby, const Avail &av, MbRecord &mb);
    // The cheapest 16x16 mode's cost (SATD or SAD) and the mode.
    int Cost16(int mbx, int mby, const Avail &av, int &bestMode, bool satd);
    // Codes the MB as 16x16 with this mode, where the neighbours allow it.
    bool Code16With(int mbx, int mby, const Avail &av, int mode, MbRecord &mb);

private:
    // Whether the bitstream has a 4x4 mode for every block of the MB here.
    bool Possible4(int mbx, int mby, const Avail &av) const;
    void Code16(int mbx, int mby, const Avail &av, int mode, MbRecord &mb);
    // Picks and codes the 16 4x4 modes greedily block by block; returns the estimated cost.
    int Code4(int mbx, int mby, const Avail &av, MbRecord &mb, bool satd);
    // mode16: the 16x16 mode's chroma prediction; m4: the 4x4 modes instead.
    void CodeChroma(int mbx, int mby, const Avail &av, int mode16, const std::int8_t *m4, MbRecord &mb);

    AnalysisContext &m_ctx;
};

} // namespace corva::rv40
