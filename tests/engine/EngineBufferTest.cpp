#include "EngineRunner.h"
#include "MediaTools.h"

#include "engine/FfmpegEncodingEngine.h"
#include "../support/ToolRun.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

using namespace corva;
using corva::test::EngineRunner;
using corva::test::MediaTools;
using corva::test::Outcome;
using corva::test::RunTool;
using corva::test::ToolResult;

namespace {

struct BufferCase
{
    const char *name;
    const char *audience;
    int videoKbps;
    int fps; // the audience's picture rate for this 25-a-second source
    bool singlePass;
};

class EngineBuffer : public ::testing::TestWithParam<BufferCase>
{
};

// Noise no quantiser brings down to a constant rate: before, single pictures of several times
// the player's one-second buffer were written, and the film came out at three times its rate.
// Now no picture may run the buffer dry, read back by ffprobe and played through a model of
// the player's buffer, and the film keeps near its rate.
TEST_P(EngineBuffer, NoiseNeverRunsThePlayersBufferDry)
{
    const BufferCase &c = GetParam();
    QTemporaryDir dir;
    const QString input = dir.filePath("noise.mkv");
    QString error;
    ASSERT_TRUE(MediaTools::Generate({"-f", "lavfi", "-i", "nullsrc=size=352x288:rate=25:duration=5,geq=random(1)*255:128:128",
                                      "-c:v", "ffv1", input},
                                     &error))
        << error.toStdString();
    JobSettings job = EngineRunner::Job(input, dir.filePath("noise.rm"), QString::fromUtf8(c.audience));
    job.singlePass = c.singlePass;
    const Outcome o = EngineRunner::Encode(job, 300000);
    ASSERT_TRUE(o.succeeded) << o.reason.toStdString();

    const ToolResult r = RunTool(QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                                            "packet=size", "-of", "csv=p=0", job.output});
    ASSERT_EQ(r.exitCode, 0);
    const QList<QByteArray> sizes = r.out.split('\n');
    const double rate = c.videoKbps * 1000.0 / 8; // bytes a second
    const double fps = c.fps;
    double buffer = rate, total = 0, largest = 0;
    int dry = 0, pictures = 0;
    for (const QByteArray &line : sizes) {
        if (line.trimmed().isEmpty())
            continue;
        const double bytes = line.trimmed().toDouble();
        buffer = std::min(rate, buffer + rate / fps) - bytes;
        dry += buffer < 0;
        buffer = std::max(buffer, 0.0);
        total += bytes;
        largest = std::max(largest, bytes);
        ++pictures;
    }
    EXPECT_GT(pictures, 0);
    EXPECT_LE(largest, rate) << "a picture larger than the player's buffer";
    EXPECT_EQ(dry, 0) << "pictures that ran the player's buffer dry";
    EXPECT_LT(total / (rate * 5), 1.2) << total << " bytes";
}

INSTANTIATE_TEST_SUITE_P(Audiences, EngineBuffer,
                         ::testing::Values(BufferCase{"NarrowOnePass", "窄带上网 CBR 150Kbps", 118, 15, true},
                                           BufferCase{"NarrowTwoPasses", "窄带上网 CBR 150Kbps", 118, 15, false},
                                           BufferCase{"TopOnePass", "超高画质 CBR 1500Kbps", 1308, 25, true}),
                         [](const auto &i) { return std::string(i.param.name); });

} // namespace
