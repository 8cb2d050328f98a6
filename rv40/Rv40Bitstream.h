#pragma once

#include "rv40/Bitstream.h"

namespace corva::rv40 {

// RealVideo 9/10: the bitstream this encoder writes. Tests derive from it to put a fault where
// a check must find it.
class Rv40Bitstream : public Bitstream {
public:
    const char *Fourcc() const override { return "RV40"; }
    std::vector<std::uint8_t> SetupBytes() const override;
    int Modifiers() const override { return 3; } // 3 selects the same tables as 1
    int LumaDcQuantiser(int q) const override;
    int InterDcQuantiser(int q) const override;
    void WriteSliceHeader(BitWriter &w, const SliceHeader &h) const override;
    void WriteMb(BitWriter &w, const MbSite &at, const MbRecord &mb, int &run) const override;
    void EndSlice(BitWriter &w, int &run) const override;
    std::size_t PendingBits(int run) const override;
    std::size_t RunBitsBeforeCoded() const override { return 1; }
    bool Codes(int) const override { return true; }
    int Intra4Modes(int top, int left, int modes[9]) const override;
    bool BackwardVectorShown() const override { return false; }
    MotionVector PredictB(const MbGrid &grid, int mbx, int mby, const Avail &av, bool backward) const override;
    DirectWeights Direct(std::uint32_t ts, std::uint32_t refTs, std::uint32_t prevTs) const override;
    int VectorUnits() const override { return 4; }
    void LumaMc(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *ref, std::ptrdiff_t stride,
                const MotionVector &v, int w, int h) const override;
    void ChromaMc(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *ref, std::ptrdiff_t stride,
                  const MotionVector &v, int w, int h) const override;
    void Filter(std::uint8_t *const planes[3], const std::ptrdiff_t strides[3], int mbWidth, int mbHeight,
                const FilterMb *mbs, bool intraPicture, bool smallPicture) const override;

protected:
    void WriteCodedMb(BitWriter &w, const MbSite &at, const MbRecord &mb) const override;

private:
    static void WriteSize(BitWriter &w, int width, int height);
};

} // namespace corva::rv40
