#include "engine/TitleSet.h"
#include "engine/TitleSetIo.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corva;

namespace {

const QStringList kFolder = {"VIDEO_TS.IFO", "VTS_01_0.VOB", "VTS_01_1.VOB", "VTS_01_2.VOB", "VTS_01_3.VOB",
                             "VTS_01_5.VOB", "VTS_02_1.VOB", "VTS_02_2.VOB", "VTS_01_1.IFO", "VTS_011_2.VOB"};

} // namespace

TEST(TitleSet, PiecesFollowWithoutAGapAndStayInTheirTitle)
{
    // Piece 5 lies past the gap at 4; title 02 and the three-digit name are not title 01.
    EXPECT_EQ(TitleSet::PieceNames("VTS_01_1.VOB", kFolder), QStringList({"VTS_01_1.VOB", "VTS_01_2.VOB", "VTS_01_3.VOB"}));
    EXPECT_EQ(TitleSet::PieceNames("VTS_01_2.VOB", kFolder), QStringList({"VTS_01_2.VOB", "VTS_01_3.VOB"}));
    EXPECT_EQ(TitleSet::PieceNames("VTS_02_1.VOB", kFolder), QStringList({"VTS_02_1.VOB", "VTS_02_2.VOB"}));
    EXPECT_EQ(TitleSet::PieceNames("VTS_01_5.VOB", kFolder), QStringList({"VTS_01_5.VOB"}));
}

TEST(TitleSet, MenuNeverJoinsAndOtherNamesStandAlone)
{
    EXPECT_EQ(TitleSet::PieceNames("VTS_01_0.VOB", kFolder), QStringList({"VTS_01_0.VOB"}));
    for (const char *name : {"VTS_01_1.IFO", "VTS_011_2.VOB", "VTS_1_1.VOB", "film.vob", "VTS_01_1.VOB.bak", "xVTS_01_1.VOB"})
        EXPECT_EQ(TitleSet::PieceNames(name, kFolder), QStringList({name})) << name;
}

TEST(TitleSet, CaseDoesNotMatterAndNamesKeepTheirSpelling)
{
    const QStringList folder = {"vts_03_1.vob", "Vts_03_2.Vob", "VTS_03_3.VOB", "vts_03_0.vob"};
    EXPECT_EQ(TitleSet::PieceNames("vts_03_1.vob", folder), QStringList({"vts_03_1.vob", "Vts_03_2.Vob", "VTS_03_3.VOB"}));
}

TEST(TitleSet, PiecesAreFoundInThePickedFilesFolder)
{
    QTemporaryDir dir;
    for (const char *name : {"vts_04_1.vob", "VTS_04_2.VOB", "VTS_04_0.VOB", "VTS_04_4.VOB"}) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    QDir(dir.path()).mkdir("VTS_04_3.VOB"); // a folder is no piece: the title stops before it
    const QString picked = dir.filePath("vts_04_1.vob");
    EXPECT_EQ(TitleSet::Pieces(picked), QStringList({picked, dir.filePath("VTS_04_2.VOB")}));
    const QString other = dir.filePath("film.mpg");
    EXPECT_EQ(TitleSet::Pieces(other), QStringList({other}));
}

// FFmpeg reads the pieces through our context as if they were one file: every byte in order,
// reads that cross a piece's end, seeks back over pieces, the whole size, and a stop.
TEST(TitleSetIo, PiecesReadAndSeekAsOneStream)
{
    QTemporaryDir dir;
    QByteArray whole;
    QStringList paths;
    const int sizes[] = {5000, 1, 70000};
    for (int i = 0; i < 3; ++i) {
        QByteArray part;
        for (int b = 0; b < sizes[i]; ++b)
            part.append(char((b * 7 + i * 13) & 0xff));
        whole += part;
        paths << dir.filePath(QStringLiteral("VTS_01_%1.VOB").arg(i + 1));
        QFile f(paths.last());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(part), part.size());
    }
    std::stop_source stopper;
    const std::stop_token stop = stopper.get_token();
    CustomIoPtr io;
    ASSERT_TRUE(TitleSetIo::Open(paths, stop, &io).isEmpty());
    EXPECT_EQ(avio_size(io.get()), whole.size());

    QByteArray got(whole.size() + 10, '\0');
    int total = 0;
    for (int r; (r = avio_read(io.get(), reinterpret_cast<unsigned char *>(got.data()) + total, 3001)) > 0;)
        total += r;
    EXPECT_EQ(total, whole.size());
    EXPECT_TRUE(got.left(total) == whole);
    EXPECT_TRUE(avio_feof(io.get()));

    for (const qsizetype at : {qsizetype(4999), qsizetype(5000), qsizetype(5001), qsizetype(12), whole.size() - 3}) {
        ASSERT_EQ(avio_seek(io.get(), at, SEEK_SET), at);
        unsigned char bytes[3] = {};
        ASSERT_EQ(avio_read(io.get(), bytes, 3), 3) << at;
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(char(bytes[k]), whole[at + k]) << at;
    }

    ASSERT_EQ(avio_seek(io.get(), 0, SEEK_SET), 0);
    stopper.request_stop();
    unsigned char byte = 0;
    EXPECT_EQ(avio_read(io.get(), &byte, 1), AVERROR_EXIT);
}

TEST(TitleSetIo, AMissingPieceIsNamed)
{
    QTemporaryDir dir;
    const QString present = dir.filePath("VTS_01_1.VOB");
    QFile f(present);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    std::stop_source stopper;
    const std::stop_token stop = stopper.get_token();
    CustomIoPtr io;
    const QString missing = dir.filePath("VTS_01_2.VOB");
    const QString error = TitleSetIo::Open({present, missing}, stop, &io);
    EXPECT_TRUE(error.contains(missing)) << error.toStdString();
    EXPECT_FALSE(io);
}
