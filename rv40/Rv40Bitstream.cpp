#include "rv40/Rv40Bitstream.h"

#include "rv40/CodeTables.h"
#include "rv40/Dsp.h"
#include "rv40/QuantSet.h"
#include "rv40/Rv40MbSyntax.h"
#include "rv40/VectorPredictor.h"

namespace corva::rv40 {

namespace {

void Explicit(BitWriter &bw, int v)
{
    v /= 4;
    while (v >= 255) {
        bw.Put(255, 8);
        v -= 255;
    }
    bw.Put(static_cast<std::uint32_t>(v), 8);
}

} // namespace

std::vector<std::uint8_t> Rv40Bitstream::SetupBytes() const
{
    // SPO flags 0, then the bitstream version word 0x40008000 (RV40, minor 0, release 8).
    return {0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x80, 0x00};
}

int Rv40Bitstream::LumaDcQuantiser(int q) const
{
    return CodeTables::Get().lumaDcQuantIntra[q];
}

int Rv40Bitstream::InterDcQuantiser(int q) const
{
    return CodeTables::Get().lumaDcQuantInter[q];
}

void Rv40Bitstream::WriteSliceHeader(BitWriter &bw, const SliceHeader &h) const
{
    const CodeTables &T = CodeTables::Get();
    int sizeCode = 0;
    while (sizeCode < 5 && T.mbStartMax[sizeCode] < h.mbCount - 1)
        ++sizeCode;
    bw.Put(0, 1);
    bw.Put(h.kind == SliceKind::Intra ? 0 : (h.kind == SliceKind::Bidirectional ? 3 : 2), 2);
    bw.Put(static_cast<std::uint32_t>(h.qs->q), 5);
    bw.Put(0, 2);
    bw.Put(static_cast<std::uint32_t>(h.qs->modifier), 2);
    bw.Put(0, 1);
    bw.Put(h.timestamp & 0x1FFF, 13);
    if (h.kind != SliceKind::Intra)
        bw.Put(1, 1); // same size as before
    else
        WriteSize(bw, h.width, h.height);
    bw.Put(static_cast<std::uint32_t>(h.startMb), T.mbStartBits[sizeCode]);
}

void Rv40Bitstream::WriteSize(BitWriter &bw, int w, int h)
{
    const CodeTables &T = CodeTables::Get();
    int wc = 7;
    for (int i = 0; i < 7; ++i)
        if (T.standardWidths[i] == w)
            wc = i;
    bw.Put(static_cast<std::uint32_t>(wc), 3);
    if (wc == 7)
        Explicit(bw, w);
    for (int i = 0; i < 6; ++i)
        if (T.standardHeights[i] == h) {
            bw.Put(static_cast<std::uint32_t>(i), 3);
            return;
        }
    if (h == T.standardHeights[8] || h == T.standardHeights[9]) {
        bw.Put(6, 3);
        bw.Put(h == T.standardHeights[9] ? 1 : 0, 1);
    } else if (h == T.standardHeights[10]) {
        bw.Put(7, 3);
        bw.Put(0, 1);
    } else {
        bw.Put(7, 3);
        bw.Put(1, 1);
        Explicit(bw, h);
    }
}

// Without the block above only DC and horizontal have codes; without the left one DC, and
// vertical where the block above is DC or vertical.
int Rv40Bitstream::Intra4Modes(int top, int left, int modes[9]) const
{
    int n = 0;
    if (top < 0) {
        modes[n++] = dsp::kDc;
        modes[n++] = dsp::kHor;
    } else if (left < 0) {
        modes[n++] = dsp::kDc;
        if (top < 2)
            modes[n++] = dsp::kVert;
    } else {
        for (int k = 0; k < 9; ++k)
            modes[n++] = k;
    }
    return n;
}

void Rv40Bitstream::WriteMb(BitWriter &w, const MbSite &at, const MbRecord &mb, int &run) const
{
    Rv40MbSyntax::Write(w, at, mb, run);
}

void Rv40Bitstream::WriteCodedMb(BitWriter &w, const MbSite &at, const MbRecord &mb) const
{
    Rv40MbSyntax::WriteCoded(w, at, mb);
}

void Rv40Bitstream::EndSlice(BitWriter &w, int &run) const
{
    Rv40MbSyntax::PutRun(w, run, false);
}

std::size_t Rv40Bitstream::PendingBits(int run) const
{
    return run ? static_cast<std::size_t>(BitWriter::UeBits(static_cast<std::uint32_t>(run))) : 0;
}

MotionVector Rv40Bitstream::PredictB(const MbGrid &grid, int mbx, int mby, const Avail &av, bool backward) const
{
    return VectorPredictor(grid).B(mbx, mby, av, backward);
}

DirectWeights Rv40Bitstream::Direct(std::uint32_t ts, std::uint32_t refTs, std::uint32_t prevTs) const
{
    return DirectWeights::For(ts, refTs, prevTs);
}

void Rv40Bitstream::LumaMc(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *ref, std::ptrdiff_t stride,
                           const MotionVector &v, int w, int h) const
{
    dsp::LumaMc(dst, ds, ref, stride, v.x, v.y, w, h);
}

void Rv40Bitstream::ChromaMc(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *ref, std::ptrdiff_t stride,
                             const MotionVector &v, int w, int h) const
{
    dsp::ChromaMc(dst, ds, ref, stride, v.x, v.y, w, h);
}

void Rv40Bitstream::Filter(std::uint8_t *const planes[3], const std::ptrdiff_t strides[3], int mbWidth, int mbHeight,
                           const FilterMb *mbs, bool intraPicture, bool smallPicture) const
{
    LoopFilter(planes, strides, mbWidth, mbHeight, mbs, intraPicture, smallPicture);
}

} // namespace corva::rv40
