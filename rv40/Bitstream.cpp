#include "rv40/Bitstream.h"

#include "rv40/QuantSet.h"

namespace corva::rv40 {

std::size_t Bitstream::CodedMbBits(const MbSite &at, const MbRecord &mb) const
{
    BitWriter c = BitWriter::Counter();
    WriteCodedMb(c, at, mb);
    return c.BitCount();
}

QuantSet Bitstream::Steps(int q) const
{
    return QuantSet::For(q, LumaDcQuantiser(q), InterDcQuantiser(q));
}

} // namespace corva::rv40
