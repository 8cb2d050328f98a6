#include "rv30/Rv30LoopFilter.h"

#include "rv30/Rv30Tables.h"
#include "rv40/Dsp.h"

#include <algorithm>
#include <vector>

namespace corva::rv30 {

using rv40::FilterMb;

void Rv30LoopFilter::Edge(std::uint8_t *p, std::ptrdiff_t step, std::ptrdiff_t along, int lim)
{
    for (int i = 0; i < 4; ++i, p += along) {
        const int d = std::clamp(((p[-2 * step] - p[step]) - (p[-step] - p[0]) * 4) >> 3, -lim, lim);
        p[-step] = rv40::dsp::Clip8(p[-step] + d);
        p[0] = rv40::dsp::Clip8(p[0] - d);
    }
}

void Rv30LoopFilter::Filter(std::uint8_t *const planes[3], const std::ptrdiff_t strides[3], int mbWidth, int mbHeight,
                            const FilterMb *mbs, bool intraPicture)
{
    const Rv30Tables &T = Rv30Tables::Get();
    const auto count = static_cast<std::size_t>(mbWidth * mbHeight);
    // Which 4x4 blocks have their edges filtered: coded ones, all of an intra MB, and those on
    // either side of an 8x8 edge whose vectors differ (marked into the left and upper MBs too).
    std::vector<std::uint16_t> luma(count);
    std::vector<std::uint8_t> chroma(count);
    for (std::size_t n = 0; n < count; ++n) {
        const FilterMb &f = mbs[n];
        luma[n] = f.cbpLuma;
        chroma[n] = f.cbpChroma;
    }
    if (!intraPicture)
        for (std::size_t n = 0; n < count; ++n) {
            const FilterMb &f = mbs[n];
            const int left = f.mvLeft | ((f.mvLeft & 0x4444) >> 1);
            const int top = f.mvTop | ((f.mvTop & 0x0F00) >> 4);
            luma[n] = static_cast<std::uint16_t>(luma[n] | left | top);
            if (n % static_cast<std::size_t>(mbWidth))
                luma[n - 1] = static_cast<std::uint16_t>(luma[n - 1] | ((left & 0x1111) << 3));
            if (n >= static_cast<std::size_t>(mbWidth))
                luma[n - mbWidth] = static_cast<std::uint16_t>(luma[n - mbWidth] | ((top & 0xF) << 12));
        }
    for (std::size_t n = 0; n < count; ++n)
        if (mbs[n].strong || intraPicture) {
            luma[n] = 0xFFFF;
            chroma[n] = 0xFF;
        }
    auto limit = [&](std::size_t n) { return T.filterLimit[mbs[n].q]; };
    std::uint8_t *Y = planes[0];
    const std::ptrdiff_t ys = strides[0], cs = strides[1];
    for (int row = 0; row < mbHeight; ++row) {
        // vertical edges
        for (int mbx = 0; mbx < mbWidth; ++mbx) {
            const std::size_t n = static_cast<std::size_t>(row * mbWidth + mbx);
            const int cur = limit(n), leftLim = mbx ? limit(n - 1) : 0;
            for (int j = 0; j < 16; j += 4)
                for (int i = mbx ? 0 : 1; i < 4; ++i) {
                    const int ij = i + j;
                    int lim = 0;
                    if (luma[n] & (1 << ij))
                        lim = cur;
                    else if (!i && (luma[n - 1] & (1 << (ij + 3))))
                        lim = leftLim;
                    else if (i && (luma[n] & (1 << (ij - 1))))
                        lim = cur;
                    if (lim)
                        Edge(Y + (row * 16 + j) * ys + mbx * 16 + 4 * i, 1, ys, lim);
                }
            for (int k = 0; k < 2; ++k) {
                const int own = (chroma[n] >> (4 * k)) & 0xF;
                const int left = mbx ? (chroma[n - 1] >> (4 * k)) & 0xF : 0;
                std::uint8_t *C = planes[1 + k];
                for (int j = 0; j < 8; j += 4)
                    for (int i = mbx ? 0 : 1; i < 2; ++i) {
                        const int ij = i + (j >> 1);
                        int lim = 0;
                        if (own & (1 << ij))
                            lim = cur;
                        else if (!i && (left & (1 << (ij + 1))))
                            lim = leftLim;
                        else if (i && (own & (1 << (ij - 1))))
                            lim = cur;
                        if (lim)
                            Edge(C + (row * 8 + j) * cs + mbx * 8 + 4 * i, 1, cs, lim);
                    }
            }
        }
        // horizontal edges
        for (int mbx = 0; mbx < mbWidth; ++mbx) {
            const std::size_t n = static_cast<std::size_t>(row * mbWidth + mbx);
            const int cur = limit(n), topLim = row ? limit(n - mbWidth) : 0;
            for (int j = row ? 0 : 4; j < 16; j += 4)
                for (int i = 0; i < 4; ++i) {
                    const int ij = i + j;
                    int lim = 0;
                    if (luma[n] & (1 << ij))
                        lim = cur;
                    else if (!j && (luma[n - mbWidth] & (1 << (ij + 12))))
                        lim = topLim;
                    else if (j && (luma[n] & (1 << (ij - 4))))
                        lim = cur;
                    if (lim)
                        Edge(Y + (row * 16 + j) * ys + mbx * 16 + 4 * i, ys, 1, lim);
                }
            for (int k = 0; k < 2; ++k) {
                const int own = (chroma[n] >> (4 * k)) & 0xF;
                const int top = row ? (chroma[n - mbWidth] >> (4 * k)) & 0xF : 0;
                std::uint8_t *C = planes[1 + k];
                for (int j = row ? 0 : 4; j < 8; j += 4)
                    for (int i = 0; i < 2; ++i) {
                        const int ij = i + (j >> 1);
                        int lim = 0;
                        // the block's own mark is read from the first plane's bits for both
                        // planes, as the decoder does
                        if (chroma[n] & (1 << ij))
                            lim = cur;
                        else if (!j && (top & (1 << (ij + 2))))
                            lim = topLim;
                        else if (j && (own & (1 << (ij - 2))))
                            lim = cur;
                        if (lim)
                            Edge(C + (row * 8 + j) * cs + mbx * 8 + 4 * i, cs, 1, lim);
                    }
            }
        }
    }
}

} // namespace corva::rv30
