#include "about/GetKeyValue.h"

#include "FakeRegistry.h"

#include <gtest/gtest.h>

using corva::GetKeyValue;
using corva::Registry;
using corva::test::FakeRegistry;

namespace {

const std::string kKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";

struct ValueCase
{
    const char *name;
    FakeRegistry::Value stored;
    std::string expected;
};

// Rows are named by the test's suffix; this keeps the listing free of raw bytes.
void PrintTo(const ValueCase &, std::ostream *os)
{
    *os << "row";
}

class GetKeyValueFound : public ::testing::TestWithParam<ValueCase>
{
};

// Each stored form must come back as the caller expects and still count as found.
TEST_P(GetKeyValueFound, ReadsTheValueAsText)
{
    FakeRegistry registry;
    registry.Set(kKey, "PATH", GetParam().stored);
    std::string value = "caller's text";
    EXPECT_TRUE(GetKeyValue(registry, Registry::kLocalMachine, kKey, "PATH", value));
    EXPECT_EQ(value, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Types, GetKeyValueFound, ::testing::Values(
    ValueCase{"TextWithNul", FakeRegistry::Text("C:\\Program Files\\msinfo32.exe", true),
              "C:\\Program Files\\msinfo32.exe"},
    // Without a final NUL the last real character must not be eaten.
    ValueCase{"TextWithoutNul", FakeRegistry::Text("C:\\x.exe", false), "C:\\x.exe"},
    // Only one NUL is dropped.
    ValueCase{"TextWithTwoNuls", FakeRegistry::Raw(1, {'a', 'b', 0, 0}), std::string("ab\0", 3)},
    ValueCase{"EmptyText", FakeRegistry::Raw(1, {}), ""},
    // 0x00012A0F stored little-endian; the high zero byte is not lost to the NUL rule.
    ValueCase{"Number", FakeRegistry::Raw(4, {0x0F, 0x2A, 0x01, 0x00}), "&h12A0F"},
    ValueCase{"NumberZero", FakeRegistry::Raw(4, {0, 0, 0, 0}), "&h0"},
    ValueCase{"NumberAllBits", FakeRegistry::Raw(4, {0xFF, 0xFF, 0xFF, 0xFF}), "&hFFFFFFFF"},
    // Other types are found but leave the caller's text alone.
    ValueCase{"ExpandText", FakeRegistry::Raw(2, {'%', 'x', '%', 0}), "caller's text"},
    ValueCase{"Binary", FakeRegistry::Raw(3, {1, 2, 3}), "caller's text"}),
    [](const auto &row) { return std::string(row.param.name); });

TEST(GetKeyValue, MissingKeyEmptiesTheTextAndStillClosesTheNullKey)
{
    FakeRegistry registry;
    std::string value = "stale";
    EXPECT_FALSE(GetKeyValue(registry, Registry::kLocalMachine, kKey, "PATH", value));
    EXPECT_EQ(value, "");
    EXPECT_TRUE(registry.queried.empty());
    ASSERT_EQ(registry.closed.size(), 1u);
    EXPECT_EQ(registry.closed[0], 0u);
}

TEST(GetKeyValue, MissingValueEmptiesTheTextAndClosesTheKey)
{
    FakeRegistry registry;
    registry.Set(kKey, "OTHER", FakeRegistry::Text("x", true));
    std::string value = "stale";
    EXPECT_FALSE(GetKeyValue(registry, Registry::kLocalMachine, kKey, "PATH", value));
    EXPECT_EQ(value, "");
    ASSERT_EQ(registry.closed.size(), 1u);
    EXPECT_NE(registry.closed[0], 0u);
}

// Asking for all access is refused to a standard user under HKLM: the lookup would then
// never succeed. Read access is all that may be asked.
TEST(GetKeyValue, OpensForReadingOnly)
{
    FakeRegistry registry;
    registry.Set(kKey, "PATH", FakeRegistry::Text("C:\\m.exe", true));
    std::string value;
    ASSERT_TRUE(GetKeyValue(registry, Registry::kLocalMachine, kKey, "PATH", value));
    ASSERT_EQ(registry.accesses.size(), 1u);
    EXPECT_EQ(registry.accesses[0], 0x20019u);
    EXPECT_EQ(registry.closed.size(), 1u);
}

// A value filling the whole 1024-byte buffer is read completely.
TEST(GetKeyValue, ValueFillingTheBuffer)
{
    FakeRegistry registry;
    registry.Set(kKey, "PATH", FakeRegistry::Text(std::string(1023, 'p'), true));
    std::string value;
    ASSERT_TRUE(GetKeyValue(registry, Registry::kLocalMachine, kKey, "PATH", value));
    EXPECT_EQ(value.size(), 1023u);
}

} // namespace
