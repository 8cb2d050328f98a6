#include "rv40/MbGrid.h"

#include <cstdlib>
#include <stdexcept>

namespace corva::rv40 {

MbGrid::MbGrid(int mbw, int mbh, bool backwardShown) : m_mbw(mbw), m_mbh(mbh), m_backwardShown(backwardShown)
{
    const auto n = static_cast<std::size_t>(mbw * mbh);
    m_records.assign(n, {});
    m_type.assign(n, kI16);
    m_modes4.assign(n * 16, 0);
    m_mv8.assign(n * 4, {});
    m_filter.assign(n, {});
    m_sliceOf.assign(n, 0);
}

Avail MbGrid::AvailAt(int mbx, int mby) const
{
    const int n = mby * m_mbw + mbx;
    const int d = n - m_sliceOf[static_cast<std::size_t>(n)];
    return {mbx > 0 && d >= 1, d >= m_mbw, mbx < m_mbw - 1 && d >= m_mbw - 1, mbx > 0 && d > m_mbw};
}

int MbGrid::ModeCtx(int mbx, int mby, const Avail &av, const std::int8_t *modes, int i, int j) const
{
    if (i >= 0 && i < 4 && j >= 0 && j < 4)
        return modes[4 * j + i];
    if (j < 0) {
        if (!av.top || 4 * mbx + i >= 4 * m_mbw)
            return -1;
        return m_modes4[static_cast<std::size_t>((4 * mby - 1) * 4 * m_mbw + 4 * mbx + i)];
    }
    if (i < 0)
        return av.left ? m_modes4[static_cast<std::size_t>((4 * mby + j) * 4 * m_mbw + 4 * mbx - 1)] : -1;
    return -1;
}

void MbGrid::Rows::Check(int n) const
{
    if (n < m_first || n >= m_end)
        throw std::logic_error("rv40: a band wrote a macroblock outside its rows");
}

void MbGrid::Rows::SetSliceStart(int n, int start)
{
    Check(n);
    m_grid.m_sliceOf[static_cast<std::size_t>(n)] = start;
}

void MbGrid::Rows::Commit(int mbx, int mby, const MbRecord &mb, int q)
{
    Check(mby * m_grid.m_mbw + mbx);
    m_grid.Commit(mbx, mby, mb, q);
}

void MbGrid::Commit(int mbx, int mby, const MbRecord &mb, int q)
{
    const auto n = static_cast<std::size_t>(mby * m_mbw + mbx);
    m_records[n] = mb;
    const bool intra = IsIntra(mb.type);
    m_type[n] = static_cast<std::uint8_t>(mb.type);
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i)
            m_modes4[static_cast<std::size_t>((4 * mby + j) * 4 * m_mbw + 4 * mbx + i)] =
                mb.type == kI4 ? mb.modes[4 * j + i] : (mb.type == kI16 ? static_cast<std::int8_t>(mb.i16Mode) : 0);
    for (int j = 0; j < 2; ++j)
        for (int i = 0; i < 2; ++i)
            m_mv8[static_cast<std::size_t>((2 * mby + j) * 2 * m_mbw + 2 * mbx + i)] =
                intra ? MotionVector{}
                      : (Partitioned(mb.type) ? mb.mv8[i + 2 * j]
                                              : (mb.type == kBBwd && m_backwardShown ? mb.mvB : mb.mv));
    FilterMb &f = m_filter[n];
    f.cbpLuma = static_cast<std::uint16_t>(mb.cbp & 0xFFFF);
    f.cbpChroma = static_cast<std::uint8_t>(mb.cbp >> 16);
    f.strong = intra || SeparateDc(mb.type);
    f.intra = intra;
    f.q = static_cast<std::uint8_t>(q);
    f.mvMask = 0;
    f.mvLeft = 0;
    f.mvTop = 0;
}

void MbGrid::MvMasks(int mbx, int mby, int sliceStart, std::uint16_t &left, std::uint16_t &top) const
{
    auto diff = [](const MotionVector &a, const MotionVector &b) {
        return std::abs(a.x - b.x) > 3 || std::abs(a.y - b.y) > 3;
    };
    std::uint16_t h = 0, v = 0;
    for (int j = 0; j < 2; ++j)
        for (int i = 0; i < 2; ++i) {
            const int bx = 2 * mbx + i, by = 2 * mby + j;
            if (bx > 0 && diff(Mv8(bx, by), Mv8(bx - 1, by)))
                v = static_cast<std::uint16_t>(v | (0x11 << (8 * j + 2 * i)));
            if ((j || mby) && diff(Mv8(bx, by), Mv8(bx, by - 1)))
                h = static_cast<std::uint16_t>(h | (0x03 << (8 * j + 2 * i)));
        }
    const int n = mby * m_mbw + mbx;
    if (n - sliceStart < m_mbw)
        h &= ~0x000F;
    if (!mbx)
        v &= ~0x1111;
    left = v;
    top = h;
}

void MbGrid::FinishFilter()
{
    for (int n = 0; n < Count(); ++n) {
        FilterMb &f = m_filter[static_cast<std::size_t>(n)];
        MvMasks(n % m_mbw, n / m_mbw, SliceStart(n), f.mvLeft, f.mvTop);
        f.mvMask = static_cast<std::uint16_t>(f.mvLeft | f.mvTop);
    }
}

} // namespace corva::rv40
