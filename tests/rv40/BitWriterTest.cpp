// The bit writer and the canonical code construction: a wrong bit order, Exp-Golomb layout or
// symbol order within a code length desynchronises every decoder at once.
#include "rv40/BitWriter.h"
#include "rv40/CodeTables.h"
#include "rv40/RawTables.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corva::rv40 {
namespace {

std::string Bits(BitWriter &w)
{
    const std::size_t n = w.BitCount();
    const std::vector<std::uint8_t> bytes = w.Take();
    std::string s;
    for (std::size_t i = 0; i < n; ++i)
        s += ((bytes[i / 8] >> (7 - i % 8)) & 1) ? '1' : '0';
    return s;
}

struct GolombCase {
    int value;
    bool isSigned;
    const char *bits;
};

class Golomb : public ::testing::TestWithParam<GolombCase> {};

TEST_P(Golomb, WritesTheInterleavedCode)
{
    const GolombCase c = GetParam();
    BitWriter w;
    if (c.isSigned)
        w.Se(c.value);
    else
        w.Ue(static_cast<std::uint32_t>(c.value));
    EXPECT_EQ(Bits(w), c.bits);
    const int expected = static_cast<int>(std::string(c.bits).size());
    EXPECT_EQ(c.isSigned ? BitWriter::SeBits(c.value) : BitWriter::UeBits(static_cast<std::uint32_t>(c.value)), expected);
}

INSTANTIATE_TEST_SUITE_P(Codes, Golomb,
                         ::testing::Values(GolombCase{0, false, "1"}, GolombCase{1, false, "001"},
                                           GolombCase{2, false, "011"}, GolombCase{3, false, "00001"},
                                           GolombCase{4, false, "00011"}, GolombCase{6, false, "01011"},
                                           GolombCase{7, false, "0000001"}, GolombCase{0, true, "1"},
                                           GolombCase{1, true, "001"}, GolombCase{-1, true, "011"},
                                           GolombCase{2, true, "00001"}, GolombCase{-2, true, "00011"}));

TEST(BitWriter, PacksMostSignificantFirstAndPadsWithZeros)
{
    BitWriter w;
    w.Put(0x5, 3);
    w.Put(0x1234, 16);
    w.PutBit(true);
    EXPECT_EQ(w.BitCount(), 20u);
    const std::vector<std::uint8_t> b = w.Take();
    ASSERT_EQ(b.size(), 3u);
    // 101 0001001000110100 1 then four zero bits
    EXPECT_EQ(b[0], 0xA2);
    EXPECT_EQ(b[1], 0x46);
    EXPECT_EQ(b[2], 0x90);
    EXPECT_EQ(w.BitCount(), 0u);
}

TEST(BitWriter, LongGolombCodesAndRewind)
{
    BitWriter w;
    w.Put(1, 1);
    const BitWriter::Mark m = w.Position();
    w.Ue(100000); // 33 bits: needs the long path
    EXPECT_EQ(w.BitCount(), 1u + 33u);
    w.Rewind(m);
    w.Put(0, 2);
    EXPECT_EQ(Bits(w), "100");
}

// The decisions weigh a macroblock's bits with a counter fed the very calls that write it; a
// counter that drifts from the writer mis-prices every candidate.
TEST(BitWriter, CounterCountsWhatTheWriterWrites)
{
    auto feed = [](BitWriter &w) {
        w.Put(5, 3);
        w.Put(0, 0);
        w.PutBit(true);
        for (const std::uint32_t v : {0u, 1u, 2u, 254u, 70000u, 0xFFFFFFFFu})
            w.Ue(v);
        for (const int v : {0, 1, -1, 17, -300, 2147483647})
            w.Se(v);
        w.Put(0xABCDu, 16);
    };
    BitWriter w;
    BitWriter c = BitWriter::Counter();
    feed(w);
    feed(c);
    EXPECT_EQ(c.BitCount(), w.BitCount());
    EXPECT_TRUE(c.Take().empty()) << "a counter holds no bytes";
}

TEST(CanonicalCodes, RejectsLengthsThatAreNoPrefixCode)
{
    const std::int32_t lengths[3] = {1, 1, 1};
    Vlc out[3];
    EXPECT_FALSE(BuildCanonical(lengths, 3, out));
}

// Each row: file, row, used symbols, sum of all codes, last used symbol, its length and code.
TEST(CanonicalCodes, MatchTheTablesCheckVectors)
{
    struct Source {
        const std::int32_t *data;
        std::size_t count, rowLen;
    };
    const Source files[12] = {
        {raw::intra_cbppat_len, raw::intra_cbppat_len_count, 1296}, {raw::intra_cbp_len, raw::intra_cbp_len_count, 16},
        {raw::intra_firstpat_len, raw::intra_firstpat_len_count, 864},
        {raw::intra_secondpat_len, raw::intra_secondpat_len_count, 108},
        {raw::intra_thirdpat_len, raw::intra_thirdpat_len_count, 108},
        {raw::intra_coeff_len, raw::intra_coeff_len_count, 32}, {raw::inter_cbppat_len, raw::inter_cbppat_len_count, 1296},
        {raw::inter_cbp_len, raw::inter_cbp_len_count, 16}, {raw::inter_firstpat_len, raw::inter_firstpat_len_count, 864},
        {raw::inter_secondpat_len, raw::inter_secondpat_len_count, 108},
        {raw::inter_thirdpat_len, raw::inter_thirdpat_len_count, 108},
        {raw::inter_coeff_len, raw::inter_coeff_len_count, 32}};
    ASSERT_EQ(raw::canonical_testvectors_count % 7, 0u);
    std::size_t checked = 0;
    std::vector<Vlc> codes;
    for (std::size_t i = 0; i < raw::canonical_testvectors_count; i += 7) {
        const std::int32_t *v = raw::canonical_testvectors + i;
        ASSERT_LT(v[0], 12);
        const Source &s = files[v[0]];
        const std::size_t row = static_cast<std::size_t>(v[1]);
        ASSERT_LE((row + 1) * s.rowLen, s.count);
        codes.assign(s.rowLen, {});
        ASSERT_TRUE(BuildCanonical(s.data + row * s.rowLen, s.rowLen, codes.data()));
        long long used = 0, sum = 0;
        int last = -1;
        for (std::size_t k = 0; k < s.rowLen; ++k)
            if (codes[k].len) {
                ++used;
                sum += codes[k].code;
                last = static_cast<int>(k);
            }
        SCOPED_TRACE("file " + std::to_string(v[0]) + " row " + std::to_string(v[1]));
        EXPECT_EQ(used, v[2]);
        EXPECT_EQ(sum, v[3]);
        ASSERT_EQ(last, v[4]);
        EXPECT_EQ(codes[static_cast<std::size_t>(last)].len, v[5]);
        EXPECT_EQ(codes[static_cast<std::size_t>(last)].code, v[6]);
        ++checked;
    }
    EXPECT_EQ(checked, 179u);
}

} // namespace
} // namespace corva::rv40
