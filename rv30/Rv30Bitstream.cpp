#include "rv30/Rv30Bitstream.h"

#include "rv30/Rv30LoopFilter.h"
#include "rv30/Rv30MbSyntax.h"
#include "rv30/Rv30Tables.h"
#include "rv30/ThirdPelMc.h"
#include "rv40/CodeTables.h"
#include "rv40/QuantSet.h"
#include "rv40/VectorPredictor.h"

namespace corva::rv30 {

using namespace rv40;

std::vector<std::uint8_t> Rv30Bitstream::SetupBytes() const
{
    // SPO flags 0 (no further picture sizes, so a one-bit size index in every slice), then the
    // version word players read as RealVideo 8: 0x30202002.
    return {0x00, 0x00, 0x00, 0x00, 0x30, 0x20, 0x20, 0x02};
}

int Rv30Bitstream::LumaDcQuantiser(int q) const
{
    return Rv30Tables::Get().lumaDcQuant[q];
}

// No picture size: the decoder takes it from the stream header.
void Rv30Bitstream::WriteSliceHeader(BitWriter &bw, const SliceHeader &h) const
{
    const CodeTables &T = CodeTables::Get();
    int sizeCode = 0;
    while (sizeCode < 5 && T.mbStartMax[sizeCode] < h.mbCount - 1)
        ++sizeCode;
    bw.Put(0, 3);
    bw.Put(h.kind == SliceKind::Intra ? 0 : (h.kind == SliceKind::Bidirectional ? 3 : 2), 2);
    bw.Put(0, 1);
    bw.Put(static_cast<std::uint32_t>(h.qs->q), 5);
    bw.Put(0, 1);
    bw.Put(h.timestamp & 0x1FFF, 13);
    bw.Put(0, 1); // the stream header's own size
    bw.Put(static_cast<std::uint32_t>(h.startMb), T.mbStartBits[sizeCode]);
    bw.Put(0, 1);
}

void Rv30Bitstream::WriteMb(BitWriter &w, const MbSite &at, const MbRecord &mb, int &run) const
{
    run = 0;
    Rv30MbSyntax::Write(w, at, mb);
}

void Rv30Bitstream::WriteCodedMb(BitWriter &w, const MbSite &at, const MbRecord &mb) const
{
    Rv30MbSyntax::Write(w, at, mb);
}

bool Rv30Bitstream::Codes(int mbType) const
{
    return mbType != kP16x8 && mbType != kP8x16 && mbType != kBBidir && mbType != kPMix;
}

int Rv30Bitstream::Intra4Modes(int top, int left, int modes[9]) const
{
    const std::int8_t *ranked = Rv30Tables::Get().modeOfRank[top + 1][left + 1];
    int n = 0;
    while (n < 9 && ranked[n] != Rv30Tables::kNone) {
        modes[n] = ranked[n];
        ++n;
    }
    return n;
}

MotionVector Rv30Bitstream::PredictB(const MbGrid &grid, int mbx, int mby, const Avail &av, bool) const
{
    return VectorPredictor(grid).Mb(mbx, mby, av);
}

DirectWeights Rv30Bitstream::Direct(std::uint32_t ts, std::uint32_t refTs, std::uint32_t prevTs) const
{
    DirectWeights w = DirectWeights::For(ts, refTs, prevTs);
    // the vectors scale by distance, the two predictions always average plainly
    w.weight1 = w.weight2 = 8192;
    w.scaled = false;
    return w;
}

void Rv30Bitstream::LumaMc(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *ref, std::ptrdiff_t stride,
                           const MotionVector &v, int w, int h) const
{
    ThirdPelMc::Luma(dst, ds, ref, stride, v.x, v.y, w, h);
}

void Rv30Bitstream::ChromaMc(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *ref, std::ptrdiff_t stride,
                             const MotionVector &v, int w, int h) const
{
    ThirdPelMc::Chroma(dst, ds, ref, stride, v.x, v.y, w, h);
}

void Rv30Bitstream::Filter(std::uint8_t *const planes[3], const std::ptrdiff_t strides[3], int mbWidth, int mbHeight,
                           const FilterMb *mbs, bool intraPicture, bool) const
{
    Rv30LoopFilter::Filter(planes, strides, mbWidth, mbHeight, mbs, intraPicture);
}

} // namespace corva::rv30
