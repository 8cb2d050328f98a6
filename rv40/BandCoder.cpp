#include "rv40/BandCoder.h"

#include "rv40/AnalysisContext.h"
#include "rv40/BidirAnalysis.h"
#include "rv40/InterAnalysis.h"
#include "rv40/IntraAnalysis.h"
#include "rv40/SliceWriter.h"

namespace corva::rv40 {

std::vector<CodedSlice> BandCoder::Code(int first, int end)
{
    AnalysisContext ctx(m_pc, m_cur, m_grid, m_policy);
    IntraAnalysis intra(ctx);
    InterAnalysis inter(ctx);
    BidirAnalysis bidir(ctx);
    SliceWriter writer(m_pc, m_grid);
    MbGrid::Rows rows = m_grid.Band(first, end);
    const int mbw = m_grid.Width();
    // decide (reconstructing as it goes), commit, write
    auto codeMb = [&](int n) {
        const int mbx = n % mbw, mby = n / mbw;
        MbRecord mb;
        if (m_pc.kind == SliceKind::Intra)
            intra.Code(mbx, mby, m_grid.AvailAt(mbx, mby), mb);
        else if (m_pc.kind == SliceKind::Inter)
            mb = inter.Decide(mbx, mby);
        else
            mb = bidir.Decide(mbx, mby);
        rows.Commit(mbx, mby, mb, m_pc.qs.q);
        writer.Write(n);
    };
    std::vector<CodedSlice> slices;
    int start = first;
    writer.Begin(start, m_pc.qs);
    const std::size_t limitBits = m_maxSliceBytes * 8;
    MbPixels saved;
    for (int n = first; n < end; ++n) {
        const int mbx = n % mbw, mby = n / mbw;
        const SliceWriter::Mark mark = writer.Position();
        m_cur.SaveMb(mbx, mby, saved);
        rows.SetSliceStart(n, start);
        codeMb(n);
        if (writer.Bits() > limitBits && n > start) {
            // this MB does not fit: close the slice before it and code it again as the first
            // MB of a new one, where its neighbours and so its prediction differ
            writer.Rewind(mark);
            slices.push_back({start, n, writer.Finish()});
            m_cur.PutMb(mbx, mby, saved);
            start = n;
            rows.SetSliceStart(n, start);
            writer.Begin(n, m_pc.qs);
            codeMb(n);
        }
    }
    slices.push_back({start, end, writer.Finish()});
    return slices;
}

} // namespace corva::rv40
