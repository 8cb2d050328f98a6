#include "MediaTools.h"

#include "engine/SourceCompleteness.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

using namespace corva;
using corva::test::MediaTools;

namespace {

// A real file of each kind, then spoilt the way the row says: what the header check must make
// of it, down to the byte counts in the reason.
struct CompletenessCase
{
    const char *name;
    const char *file;
    QStringList codecs;
    // Changes the whole file's bytes; returns how many bytes to keep.
    std::function<qsizetype(QByteArray &)> spoil;
    bool refused;
    // Written through a pipe: the header states no length at all.
    bool streamed = false;
};

class SourceCompletenessCheck : public ::testing::TestWithParam<CompletenessCase>
{
};

qsizetype asfFileProperties(const QByteArray &b)
{
    return b.indexOf(QByteArray::fromHex("A1DCAB8C47A9CF118EE400C00C205365"));
}

TEST_P(SourceCompletenessCheck, TellsCutOffFromWholeAndStreamed)
{
    QTemporaryDir dir;
    const QString whole = dir.filePath(QStringLiteral("whole.") + GetParam().file);
    QString error;
    ASSERT_TRUE(MediaTools::Generate(QStringList{"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25", "-f", "lavfi", "-i", "sine",
                                                 "-t", "2"}
                                         + GetParam().codecs + QStringList{whole},
                                     &error))
        << error.toStdString();
    QFile in(whole);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    QByteArray bytes = in.readAll();
    const qsizetype declared = bytes.size();
    const qsizetype keep = GetParam().spoil(bytes);
    const QString path = dir.filePath(QStringLiteral("test.") + GetParam().file);
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(bytes.left(keep));
    out.close();

    EXPECT_EQ(SourceCompleteness::Streamed(path), GetParam().streamed);
    const auto shortfall = SourceCompleteness::Check(path);
    ASSERT_EQ(shortfall.has_value(), GetParam().refused);
    if (shortfall) {
        EXPECT_EQ(shortfall->present, keep);
        EXPECT_EQ(shortfall->declared, declared);
        const QString reason = SourceCompleteness::Reason(path, *shortfall);
        EXPECT_TRUE(reason.contains(path) && reason.contains(QStringLiteral("不完整"))
                    && reason.contains(QString::number(keep)))
            << reason.toStdString();
    }
}

const QStringList kAvi = {"-c:v", "mpeg4", "-c:a", "pcm_s16le"};
const QStringList kWav = {"-vn", "-c:a", "pcm_s16le"};
const QStringList kWmv = {"-c:v", "wmv2", "-c:a", "wmav2"};
const auto half = [](QByteArray &b) { return b.size() / 2; };
const auto whole = [](QByteArray &b) { return b.size(); };
const auto lastByte = [](QByteArray &b) { return b.size() - 1; };
// What a writer to a pipe leaves: it cannot go back to fill in the length.
const auto riffUnknown = [](QByteArray &b) {
    b.replace(4, 4, QByteArray(4, '\xFF'));
    return b.size() / 2;
};
const auto asfBroadcast = [](QByteArray &b) {
    b[asfFileProperties(b) + 88] = static_cast<char>(b[asfFileProperties(b) + 88] | 1);
    return b.size() / 2;
};

INSTANTIATE_TEST_SUITE_P(
    Cases, SourceCompletenessCheck,
    ::testing::Values(CompletenessCase{"HalfAvi", "avi", kAvi, half, true},
                      CompletenessCase{"AviLastByteMissing", "avi", kAvi, lastByte, true},
                      CompletenessCase{"WholeAvi", "avi", kAvi, whole, false},
                      CompletenessCase{"HalfWav", "wav", kWav, half, true},
                      CompletenessCase{"WholeWav", "wav", kWav, whole, false},
                      CompletenessCase{"StreamedWavCut", "wav", kWav, riffUnknown, false, true},
                      CompletenessCase{"StreamedAviCut", "avi", kAvi, riffUnknown, false, true},
                      CompletenessCase{"HalfWmv", "wmv", kWmv, half, true},
                      CompletenessCase{"WholeWmv", "wmv", kWmv, whole, false},
                      CompletenessCase{"BroadcastWmvCut", "wmv", kWmv, asfBroadcast, false},
                      CompletenessCase{"HalfMkvLeftToTheDurationCheck", "mkv", {"-c:v", "mpeg4", "-c:a", "aac"}, half, false}),
    [](const auto &row) { return std::string(row.param.name); });

} // namespace
