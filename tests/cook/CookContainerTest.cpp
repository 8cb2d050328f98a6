// Cook frames through our muxer and back: our reader with the interleaver's inverse, and
// FFmpeg's RealMedia demuxer and cook decoder, must both give the encoder's frames in order;
// the joiner must refuse files of two flavours, naming both.
#include "CookTestDecoder.h"
#include "TestSignals.h"

#include "cook/Encoder.h"
#include "cook/Prediction.h"
#include "rmff/GenrInterleaver.h"
#include "rmff/MemorySink.h"
#include "rmff/MemorySource.h"
#include "rmff/RmJoiner.h"
#include "rmff/RmMuxer.h"
#include "rmff/RmReader.h"
#include "rmff/StreamFormat.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include <unistd.h>

namespace corva::cook::test {
namespace {

using Frames = std::vector<std::vector<std::uint8_t>>;

rmff::CookSetupFields SetupOf(const Flavour &f)
{
    rmff::CookSetupFields c;
    c.flavour = static_cast<std::uint16_t>(f.index);
    c.sampleRate = static_cast<std::uint32_t>(f.sampleRate);
    c.channels = static_cast<std::uint16_t>(f.channels);
    c.frameSamples = static_cast<std::uint32_t>(f.frameSamples);
    c.frameBytes = static_cast<std::uint16_t>(f.frameBytes);
    c.framesPerPacket = static_cast<std::uint16_t>(f.framesPerPacket);
    c.packetsPerBlock = static_cast<std::uint16_t>(f.packetsPerBlock);
    c.codecSetup = f.SetupBytes();
    return c;
}

struct Muxed {
    std::vector<std::uint8_t> file;
    Frames frames;
    std::vector<FrameRecord> records;
};

// `seconds` of sound coded at `flavour` and muxed alone, each frame at its block's time.
Muxed Make(int flavourIndex, double seconds)
{
    const Flavour f = *FlavourByIndex(flavourIndex);
    const auto sound = FilmLikeSound(f.sampleRate, f.channels, seconds, 5);
    Encoder encoder(f);
    encoder.KeepRecords(true);
    std::vector<const float *> planes;
    for (const auto &ch : sound)
        planes.push_back(ch.data());
    encoder.Push(planes.data(), sound[0].size());
    encoder.Finish();
    Muxed m;
    m.frames = encoder.TakeFrames();
    m.records = encoder.TakeRecords();
    rmff::MemorySink sink;
    rmff::MuxAudio audio{static_cast<std::uint32_t>(f.sampleRate), static_cast<std::uint16_t>(f.channels),
                         static_cast<std::uint32_t>(f.BitRate()), SetupOf(f)};
    rmff::RmMuxer mux(sink, std::nullopt, audio, rmff::Content{});
    for (std::size_t k = 0; k < m.frames.size(); ++k)
        mux.WriteAudio(m.frames[k], static_cast<std::uint32_t>(k * f.frameSamples * 1000 / f.sampleRate));
    mux.SetAudioEnd(static_cast<std::uint32_t>(seconds * 1000));
    mux.Finish();
    m.file = sink.Bytes();
    return m;
}

class CookContainer : public ::testing::TestWithParam<int> {};

TEST_P(CookContainer, OurReaderGetsTheFramesBack)
{
    const Flavour f = *FlavourByIndex(GetParam());
    const Muxed m = Make(f.index, 2.5);
    rmff::MemorySource source(m.file);
    rmff::RmReader reader(source, "cook.rm");
    ASSERT_EQ(reader.Streams().size(), 1u);
    const rmff::StreamFormat format = rmff::StreamFormat::Of(reader.Streams()[0]);
    ASSERT_TRUE(format.audio);
    const rmff::AudioFormat &a = *format.audio;
    EXPECT_EQ(a.version, 5);
    EXPECT_EQ(rmff::FourCcText(a.codec), "cook");
    EXPECT_EQ(rmff::FourCcText(a.interleaver), "genr");
    EXPECT_EQ(a.flavor, f.index);
    EXPECT_EQ(a.subPacketH, f.packetsPerBlock);
    EXPECT_EQ(a.frameSize, f.PacketBytes());
    EXPECT_EQ(a.codedFrameSize, static_cast<std::uint32_t>(f.PacketBytes()));
    EXPECT_EQ(a.subPacketSize, f.frameBytes);
    EXPECT_EQ(a.sampleRate, f.sampleRate);
    EXPECT_EQ(a.channels, f.channels);
    const std::vector<std::uint8_t> setup = f.SetupBytes();
    ASSERT_GE(a.codecData.size(), setup.size());
    EXPECT_TRUE(std::equal(setup.begin(), setup.end(), a.codecData.end() - static_cast<std::ptrdiff_t>(setup.size())));
    // The duration is the sound's, not its padded last block's.
    EXPECT_EQ(reader.Streams()[0].duration, 2500u);

    const rmff::GenrInterleaver genr(f.packetsPerBlock, f.framesPerPacket);
    Frames back, block;
    std::uint32_t blockTs = 0;
    rmff::Packet p;
    std::size_t count = 0;
    while (reader.NextPacket(p)) {
        const bool first = count % static_cast<std::size_t>(f.packetsPerBlock) == 0;
        // Only a block's first packet is a keyframe; all of a block share its time.
        EXPECT_EQ((p.header.flags & rmff::kPacketKeyframe) != 0, first) << count;
        if (first)
            blockTs = p.header.timestamp;
        EXPECT_EQ(p.header.timestamp, blockTs) << count;
        EXPECT_EQ(p.payload.size(), static_cast<std::size_t>(f.PacketBytes()));
        block.emplace_back(p.payload.begin(), p.payload.end());
        if (block.size() == static_cast<std::size_t>(f.packetsPerBlock)) {
            // The block's time is its first frame's.
            EXPECT_EQ(blockTs, static_cast<std::uint32_t>(back.size() * f.frameSamples * 1000 / f.sampleRate));
            for (auto &frame : genr.Deinterleave(block, static_cast<std::size_t>(f.frameBytes)))
                back.push_back(std::move(frame));
            block.clear();
        }
        ++count;
    }
    EXPECT_TRUE(block.empty());
    EXPECT_EQ(back, m.frames);
    // Audio alone: seek points only at block starts.
    for (const auto &chunk : reader.IndexChunks())
        reader.ReadIndex(chunk, [&](const rmff::IndexRecord &r) {
            EXPECT_EQ(r.packetCount % static_cast<std::uint32_t>(f.packetsPerBlock), 0u);
        });
}

// FFmpeg's demuxer undoes the interleaving and its decoder gives the predicted sound.
TEST_P(CookContainer, FfmpegDemuxesAndDecodesAsPredicted)
{
    const Flavour f = *FlavourByIndex(GetParam());
    const Muxed m = Make(f.index, 2.5);
    // A file of our own, created exclusively, for the demuxer to open by name.
    std::string name = (std::filesystem::temp_directory_path() / "corva-cook-XXXXXX.rm").string();
    const int fd = ::mkstemps(name.data(), 3);
    ASSERT_GE(fd, 0);
    const std::filesystem::path path = name;
    const bool written = ::write(fd, m.file.data(), m.file.size()) == static_cast<ssize_t>(m.file.size());
    ::close(fd);
    ASSERT_TRUE(written);
    struct Remove {
        std::filesystem::path p;
        ~Remove() { std::filesystem::remove(p); }
    } remove{path};

    AVFormatContext *format = nullptr;
    ASSERT_GE(avformat_open_input(&format, path.c_str(), nullptr, nullptr), 0);
    ASSERT_GE(avformat_find_stream_info(format, nullptr), 0);
    const AVCodecParameters *par = format->streams[0]->codecpar;
    EXPECT_EQ(par->codec_id, AV_CODEC_ID_COOK);
    EXPECT_EQ(par->sample_rate, f.sampleRate);
    EXPECT_EQ(par->ch_layout.nb_channels, f.channels);
    EXPECT_EQ(par->block_align, f.frameBytes);
    Frames demuxed;
    AVPacket *packet = av_packet_alloc();
    while (av_read_frame(format, packet) >= 0) {
        demuxed.emplace_back(packet->data, packet->data + packet->size);
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&format);
    EXPECT_EQ(demuxed, m.frames);

    CookTestDecoder::TakeErrors();
    CookTestDecoder decoder(f);
    FfmpegNoise noise;
    Prediction prediction(f, noise);
    std::vector<std::vector<float>> predicted(static_cast<std::size_t>(f.channels));
    for (std::size_t k = 0; k < demuxed.size(); ++k) {
        EXPECT_TRUE(decoder.Send(demuxed[k]));
        const auto out = prediction.Decode(m.records[k]);
        if (k >= 2)
            for (int ch = 0; ch < f.channels; ++ch)
                predicted[ch].insert(predicted[ch].end(), out[ch].begin(), out[ch].end());
    }
    EXPECT_TRUE(CookTestDecoder::TakeErrors().empty());
    EXPECT_GT(SnrDb(decoder.Samples(), predicted), 60.0);
}

INSTANTIATE_TEST_SUITE_P(Flavours, CookContainer, ::testing::Values(4, 22, 24, 25, 12),
                         [](const auto &p) { return "flavour" + std::to_string(p.param); });

// An encoder that stops inside a block: the muxer fills the block with its last frame, so both
// demuxers still get whole blocks; a frame of another size is refused and leaves nothing behind.
TEST(CookMuxer, ShortLastBlockIsFilledAndWrongSizesRefused)
{
    const Flavour f = *FlavourByIndex(24);
    const Muxed m = Make(f.index, 2.5); // two blocks of frames
    rmff::MemorySink sink;
    rmff::MuxAudio audio{44100, 2, static_cast<std::uint32_t>(f.BitRate()), SetupOf(f)};
    rmff::RmMuxer mux(sink, std::nullopt, audio, rmff::Content{});
    const std::size_t given = static_cast<std::size_t>(f.FramesPerBlock()) + 7;
    ASSERT_GE(m.frames.size(), given);
    for (std::size_t k = 0; k < given; ++k)
        mux.WriteAudio(m.frames[k], static_cast<std::uint32_t>(k * 1024 * 1000 / 44100));
    EXPECT_THROW(mux.WriteAudio(std::vector<std::uint8_t>(static_cast<std::size_t>(f.frameBytes) - 1, 0), 9999),
                 rmff::RmError);
    const rmff::MuxSummary summary = mux.Finish();
    EXPECT_EQ(summary.audioFrames, given);
    rmff::MemorySource source(sink.Bytes());
    rmff::RmReader reader(source, "short.rm");
    const rmff::GenrInterleaver genr(f.packetsPerBlock, f.framesPerPacket);
    Frames packets, back;
    rmff::Packet p;
    while (reader.NextPacket(p))
        packets.emplace_back(p.payload.begin(), p.payload.end());
    ASSERT_EQ(packets.size(), 2u * static_cast<std::size_t>(f.packetsPerBlock));
    for (std::size_t b = 0; b < 2; ++b) {
        const auto block = genr.Deinterleave(std::span(packets).subspan(b * f.packetsPerBlock, f.packetsPerBlock),
                                             static_cast<std::size_t>(f.frameBytes));
        back.insert(back.end(), block.begin(), block.end());
    }
    for (std::size_t k = 0; k < back.size(); ++k)
        EXPECT_EQ(back[k], m.frames[std::min(k, given - 1)]) << k;
}

// Two flavours of the same rate and channels cannot be joined: the reason names both.
TEST(CookJoin, DifferentFlavoursAreRefusedNamingBoth)
{
    const Muxed a = Make(24, 1.0);
    const Muxed b = Make(22, 1.0);
    const Muxed c = Make(24, 1.5);
    rmff::MemorySource sa(a.file), sb(b.file), sc(c.file);
    rmff::RmReader ra(sa, "a.rm"), rb(sb, "b.rm"), rc(sc, "c.rm");
    {
        rmff::RmJoiner joiner({});
        joiner.AddInput(ra);
        joiner.AddInput(rb);
        const auto problems = joiner.Check();
        ASSERT_EQ(problems.size(), 1u);
        const std::string text = problems[0].what();
        EXPECT_NE(text.find("flavor"), std::string::npos) << text;
        EXPECT_NE(text.find("22"), std::string::npos) << text;
        EXPECT_NE(text.find("24"), std::string::npos) << text;
    }
    // The same flavour joins.
    rmff::RmJoiner joiner({});
    joiner.AddInput(ra);
    joiner.AddInput(rc);
    EXPECT_TRUE(joiner.Check().empty());
}

} // namespace
} // namespace corva::cook::test
