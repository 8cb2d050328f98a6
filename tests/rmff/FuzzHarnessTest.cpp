#include "RmTestFiles.h"

#include "rmff/fuzz/FuzzOneInput.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

using namespace corva::rmff;
using namespace corva::rmff::test;

namespace {

// A harness that refused every input would fuzz nothing but the first header check.
TEST(FuzzHarness, JoinsGoodFilesAndTellsRefusedFromUnreadable)
{
    const Clip clip = MakeClip(8);
    SynthOptions indexed;
    indexed.index = true;
    for (const auto &bytes : {BuildFile(clip.streams, clip.packets), BuildFile(clip.streams, clip.packets, indexed)})
        EXPECT_EQ(FuzzOneInput(bytes.data(), bytes.size()), FuzzOutcome::Joined);

    std::ifstream sample(CORVA_SAMPLES_DIR "/header-only-cook.rm", std::ios::binary);
    const std::vector<std::uint8_t> header((std::istreambuf_iterator<char>(sample)), {});
    ASSERT_FALSE(header.empty());
    EXPECT_EQ(FuzzOneInput(header.data(), header.size()), FuzzOutcome::Refused);

    const std::vector<std::uint8_t> junk{'.', 'R', 'M', 'F', 0, 0, 0, 0xFF};
    EXPECT_EQ(FuzzOneInput(junk.data(), junk.size()), FuzzOutcome::Unreadable);
}

} // namespace
