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

// A macroblock whose bytes read as a packet header to FFmpeg's seek is coded again, until they do
// not: with its levels of 1 dropped, then those of 2; as a still MB or with its predicted vector;
// as intra; then with a copy of the run before it coded as a still MB; at last as the first MB of
// a slice of its own. Never as a copy: that writes nothing of its own (the run of copies it
// lengthens is written with the next MB), and it gives up the change the MB was coded for.
constexpr int kRecodeFloors = 2;
// Room a still MB needs in its slice: type, vector and a little residual.
constexpr std::size_t kStillMbBits = 256;
// Slices a band may add to be rid of such bytes: a picture has at most 127.
constexpr int kMostSplits = 8;

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
    // the quantiser of the slice being written, which every decider codes with
    QuantSet qs = m_pc.QuantAt(first);
    deciders.ctx.qs = qs;
    // decide (reconstructing as it goes), commit, write
    auto codeWith = [&](Deciders &d, int n) {
        const int mbx = n % mbw, mby = n / mbw;
        MbRecord mb;
        // the macroblock's own lambda, the slice's again after it
        const QuantSet keep = d.ctx.qs;
        if (m_pc.lambdaScale) {
            d.ctx.qs.lambda *= m_pc.lambdaScale[n];
            d.ctx.qs.lambdaSse *= m_pc.lambdaScale[n];
        }
        if (m_pc.kind == SliceKind::Intra)
            d.intra.Code(mbx, mby, m_grid.AvailAt(mbx, mby), mb);
        else if (m_pc.kind == SliceKind::Inter)
            mb = d.inter.Decide(mbx, mby);
        else
            mb = d.bidir.Decide(mbx, mby);
        d.ctx.qs = keep;
        rows.Commit(mbx, mby, mb, qs.q);
        writer.Write(n);
    };
    auto codeMb = [&](int n) { codeWith(deciders, n); };
    auto recodeMb = [&](int n, int attempt) {
        if (!floors[attempt]) {
            PictureContext pc = m_pc;
            pc.levels.floor = attempt + 1;
            floors[attempt] = std::make_unique<Deciders>(pc, m_cur, m_grid, m_policy);
        }
        floors[attempt]->ctx.qs = qs;
        codeWith(*floors[attempt], n);
    };
    // A picture kept within a size has lost levels already: it is left as its rung has it. So
    // are the random decisions of the tests.
    const int recodes = AllLevels(m_pc.levels) && !m_policy.Random() ? kRecodeFloors : 0;
    auto commit = [&](int n, const MbRecord &mb) {
        rows.Commit(n % mbw, n / mbw, mb, qs.q);
        writer.Write(n);
    };
    // A copy coded instead as an MB of the same picture, or near it: a still inter MB in a
    // P-picture, intra in a B-picture. The run of copies it was in ends one MB earlier.
    auto codeCopyAgain = [&](int n) {
        const int x = n % mbw, y = n / mbw;
        MbRecord mb;
        if (m_pc.kind == SliceKind::Inter)
            mb = deciders.inter.CodeStill(x, y);
        else
            deciders.intra.Code(x, y, m_grid.AvailAt(x, y), mb);
        commit(n, mb);
    };

    std::vector<CodedSlice> slices;
    int start = first;
    int splits = 0;
    // Closes the slice before MB n, at the writer's mark. Where the run of copies written last
    // would end it in bytes that read as a header with the next packet's, the last copy is
    // coded again.
    auto closeSlice = [&](int n, const SliceWriter::Mark &mark) {
        writer.Rewind(mark);
        if (recodes && mark.run > 0 && writer.ClosesAsPacketHeader(mark)) {
            writer.Rewind({mark.bits, mark.run - 1});
            codeCopyAgain(n - 1);
        }
        slices.push_back({start, n, qs, writer.Finish()});
    };
    writer.Begin(start, qs);
    const std::size_t limitBits = m_maxSliceBytes * 8;
    MbPixels saved;
    for (int n = first; n < end; ++n) {
        const int mbx = n % mbw, mby = n / mbw;
        if (const QuantSet want = m_pc.QuantAt(n); want.q != qs.q) {
            // another quantiser: another slice
            closeSlice(n, writer.Position());
            start = n;
            qs = want;
            deciders.ctx.qs = qs;
            writer.Begin(n, qs);
        }
        SliceWriter::Mark mark = writer.Position();
        m_cur.SaveMb(mbx, mby, saved);
        rows.SetSliceStart(n, start);
        codeMb(n);
        // closes the slice before this MB and codes it again as the first MB of a new one,
        // where its neighbours and so its prediction differ
        auto newSliceAtMb = [&] {
            closeSlice(n, mark);
            m_cur.PutMb(mbx, mby, saved);
            start = n;
            rows.SetSliceStart(n, start);
            writer.Begin(n, qs);
            mark = writer.Position();
            codeMb(n);
        };
        if (writer.Bits() > limitBits && n > start)
            newSliceAtMb(); // this MB does not fit
        // what the MB adds that reads as a packet header; the band's last MB closes its slice
        auto readsAsHeader = [&](const SliceWriter::Mark &since) {
            return writer.ReadsAsPacketHeaderSince(since) || (n + 1 == end && writer.ClosesAsPacketHeader(since));
        };
        if (!recodes || !readsAsHeader(mark))
            continue;
        // Its bytes read as a packet header. Other codings of the MB are tried in turn, keeping
        // the first that does not, but never a copy: the change it was coded for stays. code()
        // says whether it coded the MB at all.
        auto retry = [&](auto &&code) {
            writer.Rewind(mark);
            m_cur.PutMb(mbx, mby, saved);
            return code() && !readsAsHeader(mark) && m_grid.Record(n).type != kSkip;
        };
        auto coded = [&](const MbRecord &mb) {
            commit(n, mb);
            return true;
        };
        const Avail av = m_grid.AvailAt(mbx, mby);
        bool done = false;
        for (int attempt = 0; attempt < recodes && !done; ++attempt)
            done = retry([&] {
                recodeMb(n, attempt);
                return true;
            });
        if (!done && m_pc.kind == SliceKind::Inter)
            done = retry([&] { return coded(deciders.inter.CodeStill(mbx, mby)); }) ||
                   retry([&] { return coded(deciders.inter.CodePredicted(mbx, mby)); });
        for (int mode = -1; mode < 4 && !done && m_pc.kind != SliceKind::Intra; ++mode)
            done = retry([&] {
                MbRecord mb;
                if (mode < 0)
                    deciders.intra.Code(mbx, mby, av, mb); // intra as it would choose
                else if (!deciders.intra.Code16With(mbx, mby, av, mode, mb))
                    return false;
                return coded(mb);
            });
        if (done)
            continue;
        retry([&] { // the MB as it was decided
            codeMb(n);
            return true;
        });
        // What is left may be the run of copies written before this MB, with the bits before
        // it: one copy of the run, the last or else the first, is coded as a still MB instead,
        // and all is put back as it was where that does not help.
        const SliceWriter::Mark runStart{mark.bits, 0};
        const int firstCopy = n - mark.run;
        auto stillInRun = [&](int m) {
            MbPixels copied;
            writer.Rewind(runStart);
            m_cur.PutMb(mbx, mby, saved);
            m_cur.SaveMb(m % mbw, m / mbw, copied);
            for (int k = firstCopy; k < n; ++k)
                k == m ? codeCopyAgain(k) : commit(k, CopyRecord());
            codeMb(n);
            if (!readsAsHeader(runStart))
                return true;
            writer.Rewind(runStart);
            m_cur.PutMb(m % mbw, m / mbw, copied);
            for (int k = firstCopy; k < n; ++k)
                commit(k, CopyRecord());
            mark = writer.Position();
            m_cur.PutMb(mbx, mby, saved);
            codeMb(n);
            return false;
        };
        if (mark.run > 0 && writer.Bits() + kStillMbBits < limitBits &&
            (stillInRun(n - 1) || (mark.run > 1 && stillInRun(firstCopy))))
            continue;
        auto endsCleanBefore = [&] {
            SliceWriter before = writer;
            before.Rewind(mark);
            return !before.ClosesAsPacketHeader(mark);
        };
        if (n > start && splits < kMostSplits && (mark.run > 0 || endsCleanBefore())) {
            // The last resort: a slice of its own, whose header puts the MB's bits at another
            // place in their bytes and ends any run of copies before it (unless the slice
            // before would then end in such bytes, and no copy is there to code again).
            newSliceAtMb();
            ++splits;
        }
    }
    closeSlice(end, writer.Position());
    return slices;
}

} // namespace corva::rv40
