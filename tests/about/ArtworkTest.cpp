#include "about/Artwork.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

struct PictureCase
{
    const char *name;
    std::function<QPixmap()> load;
    QSize size;
};

void PrintTo(const PictureCase &row, std::ostream *os)
{
    *os << row.name;
}

class ArtworkPicture : public ::testing::TestWithParam<PictureCase>
{
};

// The windows place these at fixed sizes; a redrawn picture of another size would be cut or
// stretched. Loading them also proves the static library registered its resources.
TEST_P(ArtworkPicture, LoadsAtItsDesignSize)
{
    const QPixmap picture = GetParam().load();
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.size(), GetParam().size);
}

INSTANTIATE_TEST_SUITE_P(All, ArtworkPicture, ::testing::Values(
    PictureCase{"EncoderBanner", corva::Artwork::EncoderBanner, QSize(708, 82)},
    PictureCase{"JoinerBanner", corva::Artwork::JoinerBanner, QSize(708, 82)},
    PictureCase{"ProgressBar", corva::Artwork::ProgressBar, QSize(688, 25)},
    PictureCase{"EncoderIcon", corva::Artwork::EncoderIcon, QSize(25, 25)},
    PictureCase{"AboutCodecBadge", corva::Artwork::AboutCodecBadge, QSize(32, 32)},
    PictureCase{"AboutDiscBadge", corva::Artwork::AboutDiscBadge, QSize(32, 32)}),
    [](const auto &row) { return std::string(row.param.name); });

TEST(Artwork, PathsWorkAfterRegistering)
{
    EXPECT_FALSE(QPixmap(corva::Artwork::Path("pbar2.png")).isNull());
    EXPECT_FALSE(corva::Artwork::EncoderWindowIcon().isNull());
}

} // namespace
