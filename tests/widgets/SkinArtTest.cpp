#include "WidgetTestSupport.h"

#include "widgets/SkinStrip.h"
#include "widgets/art/SkinArt.h"

#include <gtest/gtest.h>

#include <QDir>

namespace vantel_xp::test {
namespace {

TEST(SkinArtTest, ShippedStripsAreWhatTheGeneratorDrawsNow)
{
    const QDir art(QStringLiteral(CORVA_SOURCE_DIR "/widgets/art"));
    for (const auto &[name, drawn] : SkinArt::AllStrips()) {
        SCOPED_TRACE(name.toStdString());
        const QImage shipped(QStringLiteral(":/vantel_xp/") + name);
        ASSERT_FALSE(shipped.isNull()) << "not in the resources";
        EXPECT_TRUE(SameImage(shipped.convertToFormat(QImage::Format_RGB32), drawn))
            << "regenerate with generate_skin_art " << art.path().toStdString();
    }
}

TEST(SkinArtTest, StripsHaveTheCellGeometryTheButtonsCutBy)
{
    const SkinStrip push(SkinStrip::PushButtonResource(), 5);
    EXPECT_EQ(push.CellSize(), QSize(18, 21));
    EXPECT_EQ(push.Cell(4).size(), QSize(18, 21));
    EXPECT_TRUE(push.Cell(5).isNull());
    for (int set = 0; set < 4; ++set)
        EXPECT_EQ(SkinStrip(SkinStrip::TitleBarResource(set), 4).CellSize(), QSize(21, 21)) << set;
    EXPECT_EQ(SkinStrip(SkinStrip::HelpResource(), 3).CellSize(), QSize(21, 21));
}

struct ColourRow
{
    const char *what;
    int cell, x, y;
    QRgb colour;
};

class SkinArtColour : public ::testing::TestWithParam<ColourRow>
{
};

TEST_P(SkinArtColour, PushButtonCellsCarryTheirKeyColours)
{
    const ColourRow row = GetParam();
    const QImage cell = SkinStrip(SkinStrip::PushButtonResource(), 5).Cell(row.cell);
    EXPECT_EQ(cell.pixel(row.x, row.y) & 0xFFFFFF, row.colour) << row.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cells, SkinArtColour,
    ::testing::Values(ColourRow{"rest rim", 0, 8, 0, 0x003C74}, ColourRow{"rest face low", 0, 8, 19, 0xF0F0EA},
                      ColourRow{"pressed rim", 1, 0, 10, 0x003C74}, ColourRow{"pressed face", 1, 8, 10, 0xE2E1DA},
                      ColourRow{"disabled rim", 2, 8, 20, 0xC9C7BA}, ColourRow{"disabled face", 2, 8, 10, 0xF5F4EA},
                      ColourRow{"hover top", 3, 8, 1, 0xFFF0CF}, ColourRow{"hover side", 3, 2, 10, 0xFCCA69},
                      ColourRow{"hover bottom", 3, 8, 19, 0xE59700}, ColourRow{"emphasis top", 4, 8, 2, 0xCEE7FF},
                      ColourRow{"emphasis side", 4, 16, 10, 0xA0BEEC},
                      ColourRow{"emphasis bottom", 4, 8, 18, 0x6982EE}));

} // namespace
} // namespace vantel_xp::test
