#pragma once

#include "rv40/QuantSet.h"

#include <cstdint>
#include <vector>

namespace corva::rv40 {

class DecisionPolicy;
class MbGrid;
struct Picture;
struct PictureContext;

struct CodedSlice {
    int start = 0, end = 0;
    QuantSet qs; // its quantiser
    std::vector<std::uint8_t> bytes;
};

// Codes a band of whole macroblock rows as one slice, or several where one would outgrow its
// packet: each macroblock decided, committed and written in turn. A band reads nothing across
// its first slice's start and writes only its own macroblocks, so bands run at the same time.
class BandCoder final {
public:
    BandCoder(const PictureContext &pc, Picture &cur, MbGrid &grid, DecisionPolicy &policy, std::size_t maxSliceBytes)
        : m_pc(pc), m_cur(cur), m_grid(grid), m_policy(policy), m_maxSliceBytes(maxSliceBytes)
    {
    }
    std::vector<CodedSlice> Code(int first, int end);

private:
    const PictureContext &m_pc;
    Picture &m_cur;
    MbGrid &m_grid;
    DecisionPolicy &m_policy;
    std::size_t m_maxSliceBytes;
};

} // namespace corva::rv40
