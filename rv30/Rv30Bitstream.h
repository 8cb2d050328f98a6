#pragma once

#include "rv40/Bitstream.h"

namespace corva::rv30 {

// RealVideo 8: the older bitstream on the same core. Thirds of a pixel, one type code per MB,
// no halves and no bidirectional MBs, a plain average for direct MBs, its own mode codes,
// 16x16 DC quantiser and loop filter. Tests derive from it to put a fault where a check must
// find it.
class Rv30Bitstream : public rv40::Bitstream {
public:
    const char *Fourcc() const override { return "RV30"; }
    std::vector<std::uint8_t> SetupBytes() const override;
    int Modifiers() const override { return 1; } // the slice header has no modifier
    int LumaDcQuantiser(int q) const override;
    void WriteSliceHeader(rv40::BitWriter &w, const rv40::SliceHeader &h) const override;
    void WriteMb(rv40::BitWriter &w, const rv40::MbSite &at, const rv40::MbRecord &mb, int &run) const override;
    void EndSlice(rv40::BitWriter &, int &run) const override { run = 0; }
    std::size_t PendingBits(int) const override { return 0; }
    std::size_t RunBitsBeforeCoded() const override { return 0; } // a copy is a type code of its own
    bool Codes(int mbType) const override;
    int Intra4Modes(int top, int left, int modes[9]) const override;
    bool BackwardVectorShown() const override { return true; }
    rv40::MotionVector PredictB(const rv40::MbGrid &grid, int mbx, int mby, const rv40::Avail &av,
                                bool backward) const override;
    rv40::DirectWeights Direct(std::uint32_t ts, std::uint32_t refTs, std::uint32_t prevTs) const override;
    int VectorUnits() const override { return 3; }
    void LumaMc(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *ref, std::ptrdiff_t stride,
                const rv40::MotionVector &v, int w, int h) const override;
    void ChromaMc(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *ref, std::ptrdiff_t stride,
                  const rv40::MotionVector &v, int w, int h) const override;
    void Filter(std::uint8_t *const planes[3], const std::ptrdiff_t strides[3], int mbWidth, int mbHeight,
                const rv40::FilterMb *mbs, bool intraPicture, bool smallPicture) const override;

protected:
    void WriteCodedMb(rv40::BitWriter &w, const rv40::MbSite &at, const rv40::MbRecord &mb) const override;
};

} // namespace corva::rv30
