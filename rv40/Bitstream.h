#pragma once

#include "rv40/BitWriter.h"
#include "rv40/InterPrediction.h"
#include "rv40/LoopFilter.h"
#include "rv40/Macroblock.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corva::rv40 {

class MbGrid;
struct QuantSet;

enum class SliceKind { Intra, Inter, Bidirectional };

struct SliceHeader {
    SliceKind kind = SliceKind::Intra;
    const QuantSet *qs = nullptr;
    std::uint32_t timestamp = 0; // ms; the header keeps what its field holds
    int startMb = 0;
    int width = 0, height = 0, mbCount = 0;
};

// Where a macroblock is written: its neighbours (in the grid), the slice's code tables.
struct MbSite {
    const MbGrid &grid;
    const QuantSet &qs;
    SliceKind kind;
    int mbx = 0, mby = 0;
    Avail av;
};

// What one RealVideo bitstream does its own way: the headers, how a macroblock's kind, intra
// modes and vectors are coded, the interpolation and the loop filter. Search, decisions,
// residual coding, coefficient codes and bands are shared by every bitstream and reach it only
// through here.
class Bitstream {
public:
    virtual ~Bitstream() = default;

    virtual const char *Fourcc() const = 0;
    // The bytes the RealMedia VIDO block carries from its offset 26 on.
    virtual std::vector<std::uint8_t> SetupBytes() const = 0;

    // How many code-table modifiers a slice may be written with (the rewrite keeps the shortest).
    virtual int Modifiers() const = 0;
    // The quantiser of the 16x16 DC block; of an inter MB's DC block (negative: there is none).
    virtual int LumaDcQuantiser(int q) const = 0;
    virtual int InterDcQuantiser(int) const { return -1; }
    // The steps of a slice at quantiser q.
    QuantSet Steps(int q) const;
    virtual void WriteSliceHeader(BitWriter &w, const SliceHeader &h) const = 0;
    // A macroblock in its slice: a copy only counts into run, a coded one is written.
    virtual void WriteMb(BitWriter &w, const MbSite &at, const MbRecord &mb, int &run) const = 0;
    // What a slice still owes at its end (the copies not yet written), and its size.
    virtual void EndSlice(BitWriter &w, int &run) const = 0;
    virtual std::size_t PendingBits(int run) const = 0;
    // A coded macroblock's own bits, for the decisions.
    std::size_t CodedMbBits(const MbSite &at, const MbRecord &mb) const;
    // What coding a macroblock adds beyond its own bits: the run of copies before it, where
    // copies are counted in runs (its code is there even when no copy came before).
    virtual std::size_t RunBitsBeforeCoded() const = 0;
    // Whether the bitstream has a macroblock type at all: the decisions try only those.
    virtual bool Codes(int mbType) const = 0;
    // The 4x4 intra modes a block may take, most likely first, where the block above has mode
    // top and the block to the left mode left (-1: outside the slice). None: the block cannot
    // be coded 4x4 there.
    virtual int Intra4Modes(int top, int left, int modes[9]) const = 0;
    // Whether a backward B MB's vector is the one its neighbours and the loop filter read (else
    // they read its forward vector, zero).
    virtual bool BackwardVectorShown() const = 0;
    // The vector a B MB's forward or backward vector is coded against.
    virtual MotionVector PredictB(const MbGrid &grid, int mbx, int mby, const Avail &av, bool backward) const = 0;
    // Direct MBs' vector scales and blend weights from the three pictures' 13-bit times.
    virtual DirectWeights Direct(std::uint32_t ts, std::uint32_t refTs, std::uint32_t prevTs) const = 0;

    // Vector units to a luma pixel (4: quarter pixels).
    virtual int VectorUnits() const = 0;
    // Prediction of a w x h block from ref (at the block's own position) by a vector.
    virtual void LumaMc(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *ref, std::ptrdiff_t stride,
                        const MotionVector &v, int w, int h) const = 0;
    virtual void ChromaMc(std::uint8_t *dst, std::ptrdiff_t ds, const std::uint8_t *ref, std::ptrdiff_t stride,
                          const MotionVector &v, int w, int h) const = 0;
    virtual void Filter(std::uint8_t *const planes[3], const std::ptrdiff_t strides[3], int mbWidth, int mbHeight,
                        const FilterMb *mbs, bool intraPicture, bool smallPicture) const = 0;

protected:
    virtual void WriteCodedMb(BitWriter &w, const MbSite &at, const MbRecord &mb) const = 0;
};

} // namespace corva::rv40
