#pragma once

#include "rv40/LoopFilter.h"
#include "rv40/Macroblock.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corva::rv40 {

// Every macroblock of the picture being coded: its record, and what its neighbours read of it
// (type, intra modes, vectors on the 8x8 grid, the slice it starts from, the loop filter's
// view). A band commits only its own macroblocks and reads no row above its first.
class MbGrid final {
public:
    // backwardShown: a backward B MB's vector is the one its neighbours and the filter read.
    MbGrid(int mbw, int mbh, bool backwardShown = false);

    int Width() const { return m_mbw; }
    int Height() const { return m_mbh; }
    int Count() const { return m_mbw * m_mbh; }
    bool LastMb(int mbx, int mby) const { return mby * m_mbw + mbx == Count() - 1; }

    // Which neighbours lie in the MB's slice.
    Avail AvailAt(int mbx, int mby) const;
    int SliceStart(int n) const { return m_sliceOf[static_cast<std::size_t>(n)]; }

    int Type(int n) const { return m_type[static_cast<std::size_t>(n)]; }
    const MbRecord &Record(int n) const { return m_records[static_cast<std::size_t>(n)]; }
    const MotionVector &Mv8(int bx, int by) const { return m_mv8[static_cast<std::size_t>(by * 2 * m_mbw + bx)]; }
    // Mode of a neighbouring 4x4 block (i, j relative to the MB; inside it, from modes) for the
    // mode contexts; -1 when outside the slice.
    int ModeCtx(int mbx, int mby, const Avail &av, const std::int8_t *modes, int i, int j) const;

    // A band's own macroblocks, the only ones it may change (std::logic_error on another).
    class Rows final {
    public:
        Rows(MbGrid &grid, int first, int end) : m_grid(grid), m_first(first), m_end(end) {}
        void SetSliceStart(int n, int start);
        // The MB is final: its record and what the neighbours and the loop filter read of it.
        void Commit(int mbx, int mby, const MbRecord &mb, int q);

    private:
        void Check(int n) const;
        MbGrid &m_grid;
        int m_first, m_end;
    };
    Rows Band(int first, int end) { return Rows(*this, first, end); }
    // Vector edges for the loop filter, once every vector is known, as the decoder derives them.
    void FinishFilter();

    const std::vector<std::uint8_t> &Types() const { return m_type; }
    const std::vector<MotionVector> &Vectors() const { return m_mv8; }
    const FilterMb *Filter() const { return m_filter.data(); }

private:
    void Commit(int mbx, int mby, const MbRecord &mb, int q);
    // The blocks on left edges and on top edges whose vectors differ from their neighbours'.
    void MvMasks(int mbx, int mby, int sliceStart, std::uint16_t &left, std::uint16_t &top) const;

    int m_mbw, m_mbh;
    bool m_backwardShown;
    std::vector<MbRecord> m_records;
    std::vector<std::uint8_t> m_type;
    std::vector<std::int8_t> m_modes4; // intra mode context per 4x4 block
    std::vector<MotionVector> m_mv8;   // vectors on the 8x8 grid
    std::vector<FilterMb> m_filter;
    std::vector<int> m_sliceOf;        // first MB of the slice each MB belongs to
};

} // namespace corva::rv40
