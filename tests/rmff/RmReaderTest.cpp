#include "RmTestFiles.h"

#include "rmff/ByteReader.h"
#include "rmff/FileSource.h"
#include "rmff/MemorySource.h"
#include "rmff/RmError.h"
#include "rmff/RmReader.h"
#include "rmff/StreamFormat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>

using namespace corva::rmff;
using namespace corva::rmff::test;

namespace {

std::vector<Packet> ReadPackets(RmReader &r, std::vector<std::vector<std::uint8_t>> *payloads = nullptr)
{
    std::vector<Packet> out;
    Packet p;
    while (r.NextPacket(p)) {
        out.push_back(p);
        if (payloads)
            payloads->emplace_back(p.payload.begin(), p.payload.end());
    }
    return out;
}

TEST(ByteReader, TellsAMissingEndOfFileFromAFieldOverrunningItsChunk)
{
    const std::vector<std::uint8_t> bytes{0x12, 0x34, 0x56, 0x78, 0x9A};
    ByteReader file(bytes, 100, true, "块");
    EXPECT_EQ(file.U16("a"), 0x1234);
    // A sub-reader ends where its chunk ends, although the file goes on.
    ByteReader chunk = file.Sub(2, "b", "子块");
    EXPECT_EQ(chunk.U8("c"), 0x56);
    try {
        chunk.U16("d");
        FAIL() << "read past the chunk";
    } catch (const RmError &e) {
        EXPECT_EQ(e.Kind(), ErrorKind::Corrupt);
        EXPECT_EQ(e.Offset(), 103u);
    }
    EXPECT_EQ(file.U8("e"), 0x9A);
    try {
        file.U32("f");
        FAIL() << "read past the file";
    } catch (const RmError &e) {
        EXPECT_EQ(e.Kind(), ErrorKind::Truncated);
        EXPECT_EQ(e.Offset(), 105u);
    }
    // A count near SIZE_MAX must not wrap the bound check.
    EXPECT_THROW(file.Skip(SIZE_MAX, "g"), RmError);
}

TEST(RmReader, ParsesAHandBuiltFileFieldByField)
{
    Bytes b;
    b.tag(".RMF").u32(18).u16(0);   // id, size, object version
    b.u32(0).u32(5);                // file version, num_headers
    b.tag("PROP").u32(50).u16(0);   // at 18
    b.u32(9000).u32(8000);          // max, avg bit rate
    b.u32(40).u32(30);              // max, avg packet size
    b.u32(2).u32(1500).u32(700);    // packets, duration, preroll
    b.u32(0).u32(194);              // index offset (none), data offset
    b.u16(1).u16(0x0009);           // streams, flags
    b.tag("MDPR").u32(46 + 2 + 20 + 34).u16(0); // at 68
    b.u16(3);                       // stream number
    b.u32(900).u32(800).u32(40).u32(30); // bit rates, packet sizes
    b.u32(0).u32(100).u32(1500);    // start time, preroll, duration
    b.u8(2).text("Vd");             // stream name
    b.u8(20).text("video/x-pn-realvideo");
    b.u32(34).raw(Vido("RV40", 320, 240, 30));
    b.tag("CONT").u32(18 + 1 + 2 + 0 + 3).u16(0); // at 170
    b.u16(1).text("T").u16(2).text("\xC4\xAB").u16(0).u16(3).text("c m");
    ASSERT_EQ(b.size(), 194u); // DATA follows the headers at the data offset
    b.tag("DATA").u32(18 + 16 + 14).u16(0);   // at 194
    b.u32(2).u32(0);                // packets, next data header
    b.u16(0).u16(16).u16(3).u32(40).u8(7).u8(2); // v0 packet: length, stream, ts, group, key
    b.raw(WholeFrame(1, 4));
    b.u16(1).u16(14).u16(3).u32(80).u16(0x0102).u8(0); // v1 packet: asm rule, flags
    b.u8(0x40);

    MemorySource src(b.v);
    RmReader r(src, "hand.rm");
    EXPECT_EQ(r.File().numHeaders, 5u);
    EXPECT_EQ(r.Props().maxBitRate, 9000u);
    EXPECT_EQ(r.Props().duration, 1500u);
    EXPECT_EQ(r.Props().preroll, 700u);
    EXPECT_EQ(r.Props().dataOffset, 194u);
    EXPECT_EQ(r.Props().flags, 0x0009);
    ASSERT_EQ(r.Streams().size(), 1u);
    const MediaProperties &m = r.Streams()[0];
    EXPECT_EQ(m.streamNumber, 3);
    EXPECT_EQ(m.preroll, 100u);
    EXPECT_EQ(m.name, "Vd");
    EXPECT_EQ(m.mime, "video/x-pn-realvideo");
    ASSERT_EQ(m.typeSpecific.size(), 34u);
    const auto video = StreamFormat::Of(m).video;
    ASSERT_TRUE(video);
    EXPECT_EQ(video->codec, FourCc("RV40"));
    EXPECT_EQ(video->width, 320);
    EXPECT_EQ(video->height, 240);
    EXPECT_NEAR(StreamFormat::Of(m).NominalUnitMs(), 33.333, 0.01);
    ASSERT_TRUE(r.ContentDescription());
    EXPECT_EQ(r.ContentDescription()->title, "T");
    EXPECT_EQ(r.ContentDescription()->author, "\xC4\xAB");
    EXPECT_EQ(r.ContentDescription()->comment, "c m");

    const auto packets = ReadPackets(r);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].offset, 212u);
    EXPECT_EQ(packets[0].header.timestamp, 40u);
    EXPECT_EQ(packets[0].header.asmRule, 7);
    EXPECT_EQ(packets[0].header.flags, 2);
    EXPECT_EQ(packets[0].payload.size(), 4u);
    EXPECT_EQ(packets[1].header.version, 1);
    EXPECT_EQ(packets[1].header.asmRule, 0x0102);
    EXPECT_EQ(packets[1].payload.size(), 1u);
    EXPECT_EQ(r.DataChunks().size(), 1u);
}

// Files as they occur: damaged, padded, written by careless muxers.
struct RobustCase
{
    const char *name;
    std::function<std::vector<std::uint8_t>()> build;
    std::size_t packets;                   // expected when no error
    std::optional<ErrorKind> error;
    std::size_t indexChunks = 0;
    // Damage that the reading survives (a broken trailing index, a header that disagrees
    // with the packets), each warning naming what it is about.
    std::size_t warnings = 0;
    const char *warningWord = "INDX";
};

std::vector<std::uint8_t> Clip12(const std::function<void(SynthOptions &)> &set)
{
    SynthOptions o;
    set(o);
    const Clip c = MakeClip(6, 3);
    return BuildFile(c.streams, c.packets, o);
}
const std::size_t kClipPackets = MakeClip(6, 3).packets.size();

void PrintTo(const RobustCase &c, std::ostream *os)
{
    *os << c.name;
}

class RobustReading : public ::testing::TestWithParam<RobustCase> {};

TEST_P(RobustReading, ReadsWhatCanBeReadAndNamesWhatCannot)
{
    const RobustCase &c = GetParam();
    const auto bytes = c.build();
    MemorySource src(bytes);
    try {
        RmReader r(src, "x.rm");
        const auto packets = ReadPackets(r);
        ASSERT_FALSE(c.error) << "no error for " << c.name;
        EXPECT_EQ(packets.size(), c.packets);
        EXPECT_EQ(r.IndexChunks().size(), c.indexChunks);
        EXPECT_EQ(r.Warnings().size(), c.warnings);
        for (const std::string &w : r.Warnings()) {
            EXPECT_NE(w.find(c.warningWord), std::string::npos) << w;
            EXPECT_NE(w.find("x.rm"), std::string::npos) << w;
        }
        for (const IndexHeader &h : r.IndexChunks()) {
            r.ReadIndex(h, [&](const IndexRecord &rec) {
                // Every record must name the header of a keyframe packet of its stream.
                const auto it = std::find_if(packets.begin(), packets.end(),
                                             [&](const Packet &p) { return p.offset == rec.offset; });
                ASSERT_NE(it, packets.end());
                EXPECT_EQ(it->header.streamNumber, h.streamNumber);
                EXPECT_EQ(it->header.timestamp, rec.timestamp);
            });
        }
    } catch (const RmError &e) {
        ASSERT_TRUE(c.error) << c.name << ": " << e.what();
        EXPECT_EQ(e.Kind(), *c.error) << e.what();
        EXPECT_EQ(e.File(), "x.rm");
        EXPECT_TRUE(e.Offset().has_value()) << e.what();
    }
}

std::vector<std::uint8_t> WithPatch(std::vector<std::uint8_t> bytes, std::size_t at,
                                    std::vector<std::uint8_t> patch)
{
    std::copy(patch.begin(), patch.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    return bytes;
}

// Offset of the first MDPR's type_specific_len in Clip12 files: .RMF 18 + PROP 50 + CONT 20,
// then 40 bytes of fixed fields, name "s" (2) and the mime (1 + 20).
const std::size_t kTypeSpecificLen = 18 + 50 + 20 + 40 + 2 + 21;
// Then both MDPRs (46 fixed, name, mime, setup block) and the DATA header.
const std::size_t kFirstPacket = 18 + 50 + 20 + (46 + 1 + 20 + Vido("RV20", 1, 1).size()) +
                                 (46 + 1 + 20 + RaBlock(Ra4{}).size()) + 18;

std::size_t FindTag(const std::vector<std::uint8_t> &b, const char (&tag)[5])
{
    const auto it = std::search(b.begin(), b.end(), tag, tag + 4);
    return static_cast<std::size_t>(it - b.begin());
}

// The DATA chunk's true size in a Clip12 file without index or trailer.
std::uint32_t TrueDataSize()
{
    return std::uint32_t(Clip12([](SynthOptions &) {}).size() - (kFirstPacket - 18));
}

// A Clip12 file whose second packet's header is spoilt (version 7), in a chunk that counts
// no packets, so that only the bytes tell where the packets stop.
std::vector<std::uint8_t> SecondPacketSpoilt(std::optional<std::uint32_t> dataSize)
{
    auto b = Clip12([&](SynthOptions &o) { o.numPackets = 0; o.dataSize = dataSize; });
    const std::size_t second = kFirstPacket + (std::size_t(b[kFirstPacket + 2]) << 8 | b[kFirstPacket + 3]);
    return WithPatch(b, second, {0, 7});
}

std::vector<std::uint8_t> IndexCount(bool sizeQuirk)
{
    auto b = Clip12([sizeQuirk](SynthOptions &o) { o.index = true; o.indexSizeQuirk = sizeQuirk; });
    return WithPatch(b, FindTag(b, "INDX") + 10, {0x10, 0, 0, 0}); // num_indices
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RobustReading,
    ::testing::Values(
        RobustCase{"data size 0", [] { return Clip12([](SynthOptions &o) { o.dataSize = 0; }); }, kClipPackets, {}},
        RobustCase{"data size past the end",
                   [] { return Clip12([](SynthOptions &o) { o.dataSize = 0x7FFFFFFF; }); }, kClipPackets, {}},
        RobustCase{"packet count 0", [] { return Clip12([](SynthOptions &o) { o.numPackets = 0; }); }, kClipPackets, {}},
        RobustCase{"index with size 20", [] { return Clip12([](SynthOptions &o) { o.index = true; o.indexSizeQuirk = true; }); },
                   kClipPackets, {}, 2},
        RobustCase{"index", [] { return Clip12([](SynthOptions &o) { o.index = true; }); }, kClipPackets, {}, 2},
        RobustCase{"eight zero bytes after",
                   [] { return Clip12([](SynthOptions &o) { o.trailer = std::vector<std::uint8_t>(8, 0); }); }, kClipPackets, {}},
        RobustCase{"metadata trailer",
                   [] { return Clip12([](SynthOptions &o) { o.index = true; o.trailer = Bytes().tag("RMMD").u32(0xFFFFFF).u32(7).v; }); },
                   kClipPackets, {}, 2},
        RobustCase{"texts of an unknown layout",
                   [] { return WithPatch(Clip12([](SynthOptions &) {}), 18 + 50 + 8, {0, 1}); }, // CONT version
                   kClipPackets, {}},
        // A packet count below what the chunk holds must not hide the rest of the packets.
        RobustCase{"packet count 5 of more",
                   [] { return Clip12([](SynthOptions &o) { o.numPackets = 5; }); }, kClipPackets, {}, 0, 1, "实际有"},
        RobustCase{"packet count one short",
                   [] { return Clip12([](SynthOptions &o) { o.numPackets = std::uint32_t(kClipPackets - 1); }); },
                   kClipPackets, {}, 0, 1, "实际有"},
        RobustCase{"packet count 5 of more, data size 0",
                   [] { return Clip12([](SynthOptions &o) { o.numPackets = 5; o.dataSize = 0; }); }, kClipPackets, {}, 0, 1,
                   "实际有"},
        RobustCase{"packet count 5 of more, index follows",
                   [] { return Clip12([](SynthOptions &o) { o.numPackets = 5; o.index = true; }); }, kClipPackets, {}, 2, 1,
                   "实际有"},
        RobustCase{"data size short of its packets",
                   [] { return Clip12([](SynthOptions &o) { o.dataSize = TrueDataSize() - 10; }); }, kClipPackets, {}, 0, 1,
                   "DATA 块声明的长度"},
        RobustCase{"zero padding at the end of the data chunk",
                   [] {
                       return Clip12([](SynthOptions &o) {
                           o.dataSize = TrueDataSize() + 8;
                           o.trailer = std::vector<std::uint8_t>(8, 0);
                       });
                   },
                   kClipPackets, {}},
        RobustCase{"spoilt packet header inside a chunk of stated size", [] { return SecondPacketSpoilt({}); }, 0,
                   ErrorKind::Corrupt},
        RobustCase{"last packet cut short", [] { return Clip12([](SynthOptions &o) { o.truncateBy = 5; }); }, 0,
                   ErrorKind::Truncated},
        RobustCase{"fewer packets than declared, at the end",
                   [] { return Clip12([](SynthOptions &o) { o.numPackets = std::uint32_t(kClipPackets + 3); }); }, 0,
                   ErrorKind::Truncated},
        RobustCase{"fewer packets than declared, index follows",
                   [] { return Clip12([](SynthOptions &o) { o.numPackets = std::uint32_t(kClipPackets + 3); o.index = true; }); },
                   0, ErrorKind::Corrupt},
        RobustCase{"packet of an unknown stream",
                   [] { return WithPatch(Clip12([](SynthOptions &) {}), kFirstPacket + 4, {0, 9}); }, 0,
                   ErrorKind::Corrupt},
        RobustCase{"packet length below its header",
                   [] { return WithPatch(Clip12([](SynthOptions &) {}), kFirstPacket + 2, {0, 5}); }, 0,
                   ErrorKind::Corrupt},
        RobustCase{"setup data overruns its MDPR",
                   [] { return WithPatch(Clip12([](SynthOptions &) {}), kTypeSpecificLen, {0, 0, 1, 0}); }, 0,
                   ErrorKind::Corrupt},
        RobustCase{"setup data length near 4 GB",
                   [] { return WithPatch(Clip12([](SynthOptions &) {}), kTypeSpecificLen, {0xFF, 0xFF, 0xFF, 0xF0}); },
                   0, ErrorKind::Corrupt},
        RobustCase{"file ends inside the headers",
                   [] { auto b = Clip12([](SynthOptions &) {}); b.resize(kTypeSpecificLen + 10); return b; }, 0,
                   ErrorKind::Truncated},
        RobustCase{"five bytes", [] { return std::vector<std::uint8_t>{'.', 'R', 'M', 'F', 0}; }, 0,
                   ErrorKind::Truncated},
        RobustCase{"empty file", [] { return std::vector<std::uint8_t>{}; }, 0, ErrorKind::Unsupported},
        RobustCase{"old RealAudio", [] { return Bytes().text(".ra\xFD").u16(4).u32(0).v; }, 0,
                   ErrorKind::Unsupported},
        RobustCase{"another format", [] { return Bytes().tag("RIFF").u32(4).tag("AVI ").v; }, 0,
                   ErrorKind::Unsupported},
        // The packets are all there: a broken index after them is noted, not fatal.
        RobustCase{"index count beyond its chunk", [] { return IndexCount(false); }, kClipPackets, {}, 0, 1},
        RobustCase{"index count beyond the file", [] { return IndexCount(true); }, kClipPackets, {}, 0, 1},
        RobustCase{"index length below its header",
                   [] {
                       auto b = Clip12([](SynthOptions &o) { o.index = true; });
                       return WithPatch(b, FindTag(b, "INDX") + 4, {0, 0, 0, 4});
                   },
                   kClipPackets, {}, 0, 1},
        RobustCase{"last index cut short", [] { return Clip12([](SynthOptions &o) { o.index = true; o.truncateBy = 5; }); },
                   kClipPackets, {}, 1, 1}),
    [](const auto &row) {
        std::string n = row.param.name;
        for (char &ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return n;
    });

TEST(RmReader, ReadsVersionOnePacketsWithTheirLongerHeader)
{
    const std::vector<SynthStream> streams{{0, "audio/x-pn-realaudio", RaBlock(Ra4{}), 0}};
    const std::vector<SynthPacket> packets{{0, 0, 2, {1, 2, 3}, 1}, {0, 35, 2, {4, 5}, 0},
                                           {0, 70, 2, {6}, 1}};
    const auto bytes = BuildFile(streams, packets);
    MemorySource src(bytes);
    RmReader r(src, "v1.rm");
    std::vector<std::vector<std::uint8_t>> payloads;
    const auto read = ReadPackets(r, &payloads);
    ASSERT_EQ(read.size(), 3u);
    EXPECT_EQ(payloads[0], (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(payloads[1], (std::vector<std::uint8_t>{4, 5}));
    EXPECT_EQ(read[2].header.timestamp, 70u);
    EXPECT_EQ(payloads[2], (std::vector<std::uint8_t>{6}));
}

TEST(RmReader, ReadsTheHeadersOfAThirdPartyFileWithoutMediaData)
{
    FileSource src(std::filesystem::path(CORVA_SAMPLES_DIR) / "header-only-cook.rm");
    RmReader r(src, "header-only-cook.rm");
    EXPECT_EQ(r.File().objectVersion, 1);
    EXPECT_EQ(r.Props().numStreams, 2);
    EXPECT_FALSE(r.HasData());
    ASSERT_EQ(r.Streams().size(), 2u);
    const StreamFormat audio = StreamFormat::Of(r.Streams()[0]);
    EXPECT_EQ(audio.kind, StreamKind::Audio);
    ASSERT_TRUE(audio.audio);
    EXPECT_EQ(audio.audio->version, 5);
    EXPECT_EQ(audio.audio->codec, FourCc("cook"));
    EXPECT_EQ(audio.audio->interleaver, FourCc("genr"));
    EXPECT_EQ(audio.audio->sampleRate, 44100);
    EXPECT_EQ(audio.audio->channels, 2);
    EXPECT_EQ(audio.audio->subPacketH, 16);
    EXPECT_EQ(audio.audio->frameSize, 465);
    EXPECT_EQ(audio.audio->subPacketSize, 93);
    EXPECT_EQ(StreamFormat::Of(r.Streams()[1]).kind, StreamKind::FileInfo);
    ASSERT_TRUE(r.ContentDescription());
    EXPECT_EQ(r.ContentDescription()->title, "A title");
    EXPECT_EQ(r.ContentDescription()->comment, "A comment");
    Packet p;
    EXPECT_FALSE(r.NextPacket(p));
}

} // namespace

namespace {

// The setup blocks field by field, and every cut before the end of their fixed part refused
// rather than read past.
TEST(SetupBlocks, NamedFieldsComeFromTheirPlacesAndShortBlocksAreRefused)
{
    const auto video = Vido("RV40", 352, 288, 30);
    const auto v = ParseVideoFormat(video);
    ASSERT_TRUE(v);
    EXPECT_EQ(FourCcText(v->codec), "RV40");
    EXPECT_EQ(v->width, 352);
    EXPECT_EQ(v->height, 288);
    EXPECT_EQ(v->framesPerSecond, 30u << 16);
    EXPECT_EQ(v->codecData, std::vector<std::uint8_t>(video.begin() + 26, video.end()));

    Ra4 block;
    block.interleaver = "genr";
    block.codec = "cook";
    block.flavor = 7;
    block.codedFrameSize = 600;
    block.bytesPerMinute = 123456;
    block.subPacketH = 16;
    block.frameSize = 1200;
    block.sampleRate = 22050;
    block.channels = 2;
    const auto audio = RaBlock(block);
    const auto a = ParseAudioFormat(audio);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->version, 4);
    EXPECT_EQ(a->flavor, 7);
    EXPECT_EQ(a->codedFrameSize, 600u);
    EXPECT_EQ(a->bytesPerMinute, 123456u);
    EXPECT_EQ(a->subPacketH, 16);
    EXPECT_EQ(a->frameSize, 1200);
    EXPECT_EQ(a->sampleRate, 22050);
    EXPECT_EQ(a->sampleSize, 16);
    EXPECT_EQ(a->channels, 2);
    EXPECT_EQ(FourCcText(a->interleaver), "genr");
    EXPECT_EQ(FourCcText(a->codec), "cook");
    EXPECT_EQ(a->codecData, std::vector<std::uint8_t>(audio.begin() + 66, audio.end()));

    for (std::size_t n = 0; n < 26; ++n)
        EXPECT_FALSE(ParseVideoFormat(std::span(video).first(n))) << n;
    for (std::size_t n = 0; n < 66; ++n)
        EXPECT_FALSE(ParseAudioFormat(std::span(audio).first(n))) << n;
    // A code whose length byte is not 4 is a layout we do not know.
    auto odd = audio;
    odd[61] = 5;
    EXPECT_FALSE(ParseAudioFormat(odd));
    auto other = audio;
    other[5] = 3; // version 3
    EXPECT_FALSE(ParseAudioFormat(other));
}

} // namespace
