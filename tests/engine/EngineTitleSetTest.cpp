#include "EngineRunner.h"
#include "MediaTools.h"

#include "engine/FfmpegEncodingEngine.h"

#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corva;
using corva::test::EngineRunner;
using corva::test::MediaTools;
using corva::test::Outcome;

namespace {

Outcome encode(const QString &input, const QString &output)
{
    JobSettings job = EngineRunner::Job(input, output, QStringLiteral("标准画质 CBR 450Kbps"));
    job.singlePass = true;
    return EngineRunner::Encode(job);
}

double probedSeconds(const QString &path)
{
    return MediaTools::Probe(path).value("format").toObject().value("duration").toString().toDouble();
}

// A DVD program stream of `seconds`, MPEG-2 video and AC-3 sound.
bool makeVob(const QString &path, double seconds, const QString &source, QString *error)
{
    return MediaTools::Generate({"-f", "lavfi", "-i", QStringLiteral("%1=size=176x144:rate=25:duration=%2").arg(source).arg(seconds),
                                 "-f", "lavfi", "-i", QStringLiteral("sine=frequency=440:duration=%1").arg(seconds),
                                 "-c:v", "mpeg2video", "-b:v", "400k", "-c:a", "ac3", "-b:a", "96k", "-f", "vob", path},
                                error);
}

// Cuts `whole` at a sector boundary near its middle into `first` and `second`, as a DVD
// recorder cuts a title at its 1 GB pieces.
bool split(const QString &whole, const QString &first, const QString &second)
{
    QFile in(whole);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = in.readAll();
    const qsizetype cut = bytes.size() / 2 / 2048 * 2048;
    QFile a(first), b(second);
    return cut > 0 && a.open(QIODevice::WriteOnly) && b.open(QIODevice::WriteOnly) && a.write(bytes.left(cut)) == cut
        && b.write(bytes.mid(cut)) == bytes.size() - cut;
}

// A title in two pieces beside a menu and another title; `upper` spells the names in capitals.
void makeFolder(const QTemporaryDir &dir, bool upper)
{
    const auto name = [&](const char *n) { return dir.filePath(upper ? QString::fromLatin1(n).toUpper() : QString::fromLatin1(n)); };
    QString error;
    const QString whole = dir.filePath("whole.mpg");
    ASSERT_TRUE(makeVob(whole, 10, "testsrc2", &error)) << error.toStdString();
    ASSERT_TRUE(split(whole, name("vts_01_1.vob"), name("vts_01_2.vob")));
    ASSERT_TRUE(QFile::remove(whole));
    ASSERT_TRUE(makeVob(name("vts_01_0.vob"), 2, "rgbtestsrc", &error)) << error.toStdString();
    ASSERT_TRUE(makeVob(name("vts_02_1.vob"), 3, "smptebars", &error)) << error.toStdString();
}

class EngineTitleSet : public ::testing::TestWithParam<bool>
{
};

} // namespace

// Picking the first piece gives the whole title, neither the menu nor the other title, and
// the progress runs over the whole of it; picking the second gives the title from there.
TEST_P(EngineTitleSet, PiecesAreEncodedAsOneFilm)
{
    QTemporaryDir dir;
    makeFolder(dir, GetParam());
    if (HasFatalFailure())
        return;
    const QString first = dir.filePath(GetParam() ? "VTS_01_1.VOB" : "vts_01_1.vob");
    const QString second = dir.filePath(GetParam() ? "VTS_01_2.VOB" : "vts_01_2.vob");

    const QString whole = dir.filePath("title.rm");
    const Outcome o = encode(first, whole);
    ASSERT_TRUE(o.succeeded) << o.reason.toStdString();
    EXPECT_NEAR(probedSeconds(whole), 10.0, 0.5);
    EXPECT_TRUE(MediaTools::DecodeErrors(whole).isEmpty()) << MediaTools::DecodeErrors(whole).toStdString();
    EXPECT_NEAR(o.secondsTotal, 10.0, 0.5);
    // Each report measures against the whole title: halfway through is about half done.
    ASSERT_GE(o.percents.size(), 2);
    int before = 0;
    for (qsizetype i = 0; i < o.percents.size(); ++i) {
        EXPECT_NEAR(o.percents[i], o.seconds[i] * 10.0, 12.0) << "at " << o.seconds[i] << " s";
        EXPECT_GE(o.percents[i], before);
        before = o.percents[i];
    }
    EXPECT_EQ(o.percents.last(), 100);

    const QString rest = dir.filePath("rest.rm");
    const Outcome r = encode(second, rest);
    ASSERT_TRUE(r.succeeded) << r.reason.toStdString();
    // The cut falls by bytes, not seconds: the piece itself says how long it lasts.
    const double pieceSeconds = probedSeconds(second);
    EXPECT_GT(pieceSeconds, 3.0);
    EXPECT_LT(pieceSeconds, 7.0);
    EXPECT_NEAR(probedSeconds(rest), pieceSeconds, 0.5);
}

INSTANTIATE_TEST_SUITE_P(Spellings, EngineTitleSet, ::testing::Bool(),
                         [](const auto &row) { return row.param ? "UpperCase" : "LowerCase"; });

// A DVD's sound track 1 is stream 0x80, even when a richer track 2 would look better.
TEST(EngineTitleSetSound, TrackOneOfAProgramStreamIsTaken)
{
    QTemporaryDir dir;
    const QString input = dir.filePath("VTS_01_1.VOB");
    QString error;
    ASSERT_TRUE(MediaTools::Generate({"-f", "lavfi", "-i", "testsrc2=size=176x144:rate=25:duration=3", "-f", "lavfi", "-i",
                                      "sine=frequency=440:duration=3", "-f", "lavfi", "-i",
                                      "anullsrc=channel_layout=5.1:sample_rate=48000", "-map", "0:v", "-map", "1:a", "-map",
                                      "2:a", "-t", "3", "-c:v", "mpeg2video", "-c:a", "ac3", "-b:a:0", "64k", "-b:a:1",
                                      "448k", "-f", "vob", input},
                                     &error))
        << error.toStdString();
    const QString output = dir.filePath("sound.rm");
    const Outcome o = encode(input, output);
    ASSERT_TRUE(o.succeeded) << o.reason.toStdString();
    // The sine is loud; the other track is silence.
    EXPECT_GT(MediaTools::MeanVolume(output), -30.0);
}
