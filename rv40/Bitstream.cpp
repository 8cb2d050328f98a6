#include "rv40/Bitstream.h"

namespace corva::rv40 {

std::size_t Bitstream::CodedMbBits(const MbSite &at, const MbRecord &mb) const
{
    BitWriter c = BitWriter::Counter();
    WriteCodedMb(c, at, mb);
    return c.BitCount();
}

} // namespace corva::rv40
