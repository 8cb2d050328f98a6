#include "rv40/BandCoder.h"

#include "rv40/AnalysisContext.h"
#include "rv40/BidirAnalysis.h"
#include "rv40/DecisionPolicy.h"
#include "rv40/InterAnalysis.h"
#include "rv40/IntraAnalysis.h"
#include "rv40/SliceWriter.h"

#include <memory>

namespace corva::rv40 {

namespace {

// The tools that decide a macroblock, over a context of their own.
struct Deciders {
    PictureContext pc;
    AnalysisContext ctx;
    IntraAnalysis intra{ctx};
    InterAnalysis inter{ctx};
    BidirAnalysis bidir{ctx};
    Deciders(const PictureContext &p, Picture &cur, const MbGrid &grid, DecisionPolicy &policy)
        : pc(p), ctx(pc, cur, grid, policy)
    {
    }
};

// A macroblock whose bytes read as a packet header is coded again with its levels of 1 dropped,
// then those of 2. (A copy instead would write nothing of its own: the run of copies it lengthens
// is written with the next MB, which would then be coded again in turn.)
constexpr int kRecodeFloors = 2;

bool AllLevels(const LevelLimit &l)
{
    const LevelLimit all;
    return l.floor == all.floor && l.band == all.band && l.dcBand == all.dcBand && l.whole == all.whole;
}

} // namespace

std::vector<CodedSlice> BandCoder::Code(int first, int end)
{
    Deciders deciders(m_pc, m_cur, m_grid, m_policy);
    // made only when a macroblock needs them
    std::unique_ptr<Deciders> floors[kRecodeFloors];
    SliceWriter writer(m_pc, m_grid);
    MbGrid::Rows rows = m_grid.Band(first, end);
    const int mbw = m_grid.Width();
    // decide (reconstructing as it goes), commit, write
    auto codeWith = [&](Deciders &d, int n) {
        const int mbx = n % mbw, mby = n / mbw;
        MbRecord mb;
        if (m_pc.kind == SliceKind::Intra)
            d.intra.Code(mbx, mby, m_grid.AvailAt(mbx, mby), mb);
        else if (m_pc.kind == SliceKind::Inter)
            mb = d.inter.Decide(mbx, mby);
        else
            mb = d.bidir.Decide(mbx, mby);
        rows.Commit(mbx, mby, mb, m_pc.qs.q);
        writer.Write(n);
    };
    auto codeMb = [&](int n) { codeWith(deciders, n); };
    auto recodeMb = [&](int n, int attempt) {
        if (!floors[attempt]) {
            PictureContext pc = m_pc;
            pc.levels.floor = attempt + 1;
            floors[attempt] = std::make_unique<Deciders>(pc, m_cur, m_grid, m_policy);
        }
        codeWith(*floors[attempt], n);
    };
    // A picture kept within a size has lost levels already: it is left as its rung has it. So
    // are the random decisions of the tests.
    const int recodes = AllLevels(m_pc.levels) && !m_policy.Random() ? kRecodeFloors : 0;

    std::vector<CodedSlice> slices;
    int start = first;
    writer.Begin(start, m_pc.qs);
    const std::size_t limitBits = m_maxSliceBytes * 8;
    MbPixels saved;
    for (int n = first; n < end; ++n) {
        const int mbx = n % mbw, mby = n / mbw;
        SliceWriter::Mark mark = writer.Position();
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
            mark = writer.Position();
            codeMb(n);
        }
        for (int attempt = 0; attempt < recodes && writer.ReadsAsPacketHeaderSince(mark); ++attempt) {
            writer.Rewind(mark);
            m_cur.PutMb(mbx, mby, saved);
            recodeMb(n, attempt);
        }
    }
    slices.push_back({start, end, writer.Finish()});
    return slices;
}

} // namespace corva::rv40
