// The RV30 parts a decoder cannot show one by one: the slice header's fields where players'
// parsers look for them, the set-up bytes, and which 4x4 modes a block without neighbours may
// take (where a wrong choice is refused by the decoder rather than drawn wrong).
#include "rv30/Rv30Bitstream.h"
#include "rv40/BitWriter.h"
#include "rv40/QuantSet.h"

#include <gtest/gtest.h>

#include <vector>

namespace corva::rv30 {
namespace {

using rv40::SliceKind;

std::uint32_t Bits(const std::vector<std::uint8_t> &b, int from, int count)
{
    std::uint32_t v = 0;
    for (int i = from; i < from + count; ++i)
        v = (v << 1) | ((b[static_cast<std::size_t>(i / 8)] >> (7 - i % 8)) & 1u);
    return v;
}

// The packet parser reads the picture type from bits 28..27 and the time from bits 19..7 of
// the first 32; the rest as the decoder reads it: three zero bits, a zero, the quantiser, a
// zero, one bit of size index, the start MB (7 bits for 99 MBs) and a closing zero.
TEST(Rv30SliceHeader, FieldsWhereParsersReadThem)
{
    const Rv30Bitstream bs;
    for (const auto &[kind, code] : {std::pair{SliceKind::Intra, 0u}, std::pair{SliceKind::Inter, 2u},
                                     std::pair{SliceKind::Bidirectional, 3u}}) {
        const rv40::QuantSet qs = rv40::QuantSet::For(23, bs.LumaDcQuantiser(23));
        rv40::SliceHeader h;
        h.kind = kind;
        h.qs = &qs;
        h.timestamp = 8192 + 5000;
        h.startMb = 77;
        h.width = 176;
        h.height = 144;
        h.mbCount = 99;
        rv40::BitWriter w;
        bs.WriteSliceHeader(w, h);
        EXPECT_EQ(w.BitCount(), 34u);
        const std::vector<std::uint8_t> b = w.Take();
        const std::uint32_t first = Bits(b, 0, 32);
        EXPECT_EQ((first >> 27) & 3, code);
        EXPECT_EQ((first >> 7) & 0x1FFF, 5000u);
        EXPECT_EQ(Bits(b, 0, 3), 0u);
        EXPECT_EQ(Bits(b, 5, 1), 0u);
        EXPECT_EQ(Bits(b, 6, 5), 23u);
        EXPECT_EQ(Bits(b, 11, 1), 0u);
        EXPECT_EQ(Bits(b, 25, 1), 0u);
        EXPECT_EQ(Bits(b, 26, 7), 77u);
        EXPECT_EQ(Bits(b, 33, 1), 0u);
    }
}

// SPO flags without further sizes (so the one-bit size index above), then the version word
// other demuxers map to RealVideo 8.
TEST(Rv30SliceHeader, SetupBytesNameRealVideo8)
{
    const Rv30Bitstream bs;
    EXPECT_EQ(std::string(bs.Fourcc()), "RV30");
    EXPECT_EQ(bs.SetupBytes(), (std::vector<std::uint8_t>{0, 0, 0, 0, 0x30, 0x20, 0x20, 0x02}));
}

// Without the block above only DC and horizontal, and only after a DC or horizontal block;
// without the left one only DC and vertical, and only below a DC or vertical block; with both
// every mode. RV40 differs: there a block without a left neighbour may always be DC.
TEST(Rv30IntraModes, BlocksAtSliceEdgesKeepToTheirFewModes)
{
    const Rv30Bitstream bs;
    int m[9];
    ASSERT_EQ(bs.Intra4Modes(-1, -1, m), 1);
    EXPECT_EQ(m[0], 0);
    for (int left = 0; left < 9; ++left) {
        const int n = bs.Intra4Modes(-1, left, m);
        EXPECT_EQ(n, left == 0 || left == 2 ? 2 : 0) << "left " << left;
        for (int k = 0; k < n; ++k)
            EXPECT_TRUE(m[k] == 0 || m[k] == 2);
    }
    for (int above = 0; above < 9; ++above) {
        const int n = bs.Intra4Modes(above, -1, m);
        EXPECT_EQ(n, above < 2 ? 2 : 0) << "above " << above;
        for (int k = 0; k < n; ++k)
            EXPECT_TRUE(m[k] == 0 || m[k] == 1);
    }
    for (int above = 0; above < 9; ++above)
        for (int left = 0; left < 9; ++left) {
            ASSERT_EQ(bs.Intra4Modes(above, left, m), 9);
            int seen = 0;
            for (int k = 0; k < 9; ++k)
                seen |= 1 << m[k];
            EXPECT_EQ(seen, 0x1FF) << "above " << above << " left " << left;
        }
}

} // namespace
} // namespace corva::rv30
