#include "common/CommandLine.h"
#include "encoder/ProducerCommandLine.h"

#include <gtest/gtest.h>

using namespace corva;

namespace {

EncoderOptions example()
{
    EncoderOptions o;
    o.inputFile = QStringLiteral("E:\\film.avi");
    o.outputFile = QStringLiteral("E:\\film.rm");
    o.copyright = QStringLiteral("墨川压缩2005");
    o.audience = QStringLiteral("A1");
    return o;
}

QString build(const EncoderOptions &o)
{
    return ProducerCommandLine::BuildCommandLine(o, QStringLiteral("D:\\Enc"), QStringLiteral("\\"), QStringLiteral("D:\\Enc\\1.rpjf"));
}

TEST(ProducerCommandLine, ExampleLineByteForByte)
{
    EXPECT_EQ(build(example()),
              QStringLiteral("D:\\Enc\\pp -i \"E:\\film.avi\" -o \"E:\\film.rm\" -t \"\" -a \"\" -c \"墨川压缩2005\" "
                             "-ad \"A1\" -dt -vco rv9 -cj D:\\Enc\\1.rpjf"));
}

struct PieceCase
{
    const char *name;
    void (*change)(EncoderOptions &);
    const char *present; // must occur, or nullptr
    const char *absent;  // must not occur, or nullptr
};

class ProducerCommandLinePieces : public ::testing::TestWithParam<PieceCase>
{
};

TEST_P(ProducerCommandLinePieces, SwitchesFollowTheirWidgets)
{
    EncoderOptions o = example();
    GetParam().change(o);
    const QString line = build(o);
    if (GetParam().present) {
        EXPECT_TRUE(line.contains(QString::fromUtf8(GetParam().present))) << line.toStdString();
    }
    if (GetParam().absent) {
        EXPECT_FALSE(line.contains(QString::fromUtf8(GetParam().absent))) << line.toStdString();
    }
    EXPECT_TRUE(line.endsWith(QStringLiteral("\\1.rpjf")));
}

INSTANTIATE_TEST_SUITE_P(Grammar, ProducerCommandLinePieces, ::testing::Values(
    PieceCase{"sharp", [](EncoderOptions &o) { o.videoModeIndex = 1; o.videoMode = QStringLiteral("sharp"); }, "\"A1\" -vm sharp -dt ", nullptr},
    PieceCase{"normal", [](EncoderOptions &) {}, nullptr, "-vm"},
    PieceCase{"voice", [](EncoderOptions &o) { o.audioModeIndex = 1; o.audioMode = QStringLiteral("voice"); }, "-am voice -dt ", nullptr},
    PieceCase{"gainMinus12", [](EncoderOptions &o) { o.gainIndex = 0; o.gain = QStringLiteral("-12"); }, "-ag -12 -vco", nullptr},
    PieceCase{"gain12", [](EncoderOptions &o) { o.gainIndex = 4; o.gain = QStringLiteral("12"); }, "-ag 12 -vco", nullptr},
    PieceCase{"gain0", [](EncoderOptions &) {}, nullptr, "-ag"},
    PieceCase{"noResize", [](EncoderOptions &o) { o.resizeQuality = QStringLiteral("fast"); }, nullptr, "-rq"},
    PieceCase{"heightOnly", [](EncoderOptions &o) { o.height = QStringLiteral("480"); }, "-dt -rs 0x480 -rq high -vco rv9 ", nullptr},
    PieceCase{"width640", [](EncoderOptions &o) { o.width = QStringLiteral("640"); }, "-rs 640x0 -rq high ", nullptr},
    PieceCase{"halfWidth", [](EncoderOptions &o) { o.width = QStringLiteral("0.5"); }, nullptr, "-rs"},
    PieceCase{"negativeHalf", [](EncoderOptions &o) { o.width = QStringLiteral("-0.5"); }, "-rs -0.5x0 ", nullptr},
    PieceCase{"notANumber", [](EncoderOptions &o) { o.width = QStringLiteral("abc"); }, nullptr, "-rs"},
    PieceCase{"grey", [](EncoderOptions &o) { o.singlePass = 2; o.audioOnly = 2; o.brightness = 2; }, nullptr, "-d"},
    PieceCase{"checkOrder", [](EncoderOptions &o) {
                  o.audioOnly = 1; o.brightness = 1; o.resampleIndex = 1; o.resample = QStringLiteral("high");
                  o.noiseIndex = 2; o.noise = QStringLiteral("high"); }, "-dt -dv -arq high -nf high -bl -vco", nullptr},
    PieceCase{"rv10", [](EncoderOptions &o) { o.codec = QStringLiteral("rv10"); }, "-vco rv10 -cj", nullptr},
    PieceCase{"blanksKept", [](EncoderOptions &o) { o.audience = QStringLiteral(" A1 "); }, "-ad \" A1 \" ", nullptr}),
    [](const auto &row) { return std::string(row.param.name); });

// Quotes and trailing backslashes in a value would let it leak into other switches.
TEST(ProducerCommandLine, HostileValuesSplitBackExactly)
{
    EncoderOptions o = example();
    o.inputFile = QStringLiteral("E:\\dir with blanks\\");
    o.outputFile = QStringLiteral("-dv");
    o.title = QStringLiteral("a\" -o \"x");
    o.author = QStringLiteral("tab\tand 中文");
    o.copyright = QString();
    o.audience = QStringLiteral("\\\"");
    o.width = QStringLiteral("320");
    const QString line = ProducerCommandLine::BuildCommandLine(o, QStringLiteral("/opt/my apps"), QStringLiteral("/"),
                                                               QStringLiteral("/opt/my apps/1.rpjf"));
    const QStringList expected = {QStringLiteral("/opt/my apps/pp"),
                                  QStringLiteral("-i"), o.inputFile, QStringLiteral("-o"), o.outputFile,
                                  QStringLiteral("-t"), o.title, QStringLiteral("-a"), o.author,
                                  QStringLiteral("-c"), QString(), QStringLiteral("-ad"), o.audience,
                                  QStringLiteral("-dt"), QStringLiteral("-rs"), QStringLiteral("320x0"),
                                  QStringLiteral("-rq"), QStringLiteral("high"), QStringLiteral("-vco"),
                                  QStringLiteral("rv9"), QStringLiteral("-cj"), QStringLiteral("/opt/my apps/1.rpjf")};
    EXPECT_EQ(CommandLine::Split(line), expected);
}

TEST(ProducerCommandLine, IntegerPartRoundsDownAndReadsJunkAsZero)
{
    EXPECT_EQ(ProducerCommandLine::IntegerPart(QStringLiteral("0.5")), 0);
    EXPECT_EQ(ProducerCommandLine::IntegerPart(QStringLiteral("-0.5")), -1);
    EXPECT_EQ(ProducerCommandLine::IntegerPart(QStringLiteral("608")), 608);
    EXPECT_EQ(ProducerCommandLine::IntegerPart(QStringLiteral("")), 0);
    EXPECT_EQ(ProducerCommandLine::IntegerPart(QStringLiteral("12px")), 0);
    EXPECT_EQ(ProducerCommandLine::IntegerPart(QStringLiteral("1e400")), 0);
}

} // namespace
