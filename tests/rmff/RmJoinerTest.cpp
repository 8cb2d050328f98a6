#include "RmTestFiles.h"

#include "rmff/MemorySink.h"
#include "rmff/MemorySource.h"
#include "rmff/RmJoiner.h"
#include "rmff/RmReader.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

using namespace corva::rmff;
using namespace corva::rmff::test;

namespace {

using File = std::vector<std::uint8_t>;

struct Joined
{
    std::vector<RmError> problems;
    JoinSummary summary;
    File bytes;
};

Joined JoinInMemory(const std::vector<File> &inputs, JoinTexts texts = {}, WriterOptions options = {})
{
    Joined out;
    RmJoiner joiner(std::move(texts), options);
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        MemorySource src(inputs[i]);
        RmReader r(src, "in" + std::to_string(i + 1) + ".rm");
        joiner.AddInput(r);
    }
    out.problems = joiner.Check();
    if (!out.problems.empty())
        return out;
    MemorySink sink;
    out.summary = joiner.Write(sink, [&inputs](std::size_t i) {
        OpenedInput in;
        in.source = std::make_unique<MemorySource>(inputs[i]);
        in.reader = std::make_unique<RmReader>(*in.source, "in" + std::to_string(i + 1) + ".rm");
        return in;
    });
    out.bytes = sink.Bytes();
    return out;
}

struct Read
{
    std::vector<Packet> packets;
    std::vector<File> payloads;
    std::map<std::uint16_t, std::vector<IndexRecord>> index;
    std::vector<IndexHeader> indexChunks;
};

Read ReadAll(RmReader &r)
{
    Read out;
    Packet p;
    while (r.NextPacket(p)) {
        out.packets.push_back(p);
        out.payloads.emplace_back(p.payload.begin(), p.payload.end());
    }
    out.indexChunks = r.IndexChunks();
    for (const IndexHeader &h : r.IndexChunks())
        r.ReadIndex(h, [&](const IndexRecord &rec) { out.index[h.streamNumber].push_back(rec); });
    return out;
}

File ClipFile(int frames, bool swap = false, std::uint32_t shift = 0)
{
    Clip c = MakeClip(frames, 5, swap);
    for (SynthPacket &p : c.packets)
        p.ts += shift;
    return BuildFile(c.streams, c.packets);
}

TEST(RmJoiner, ShiftsTimestampsByTheRunningLengthAndRebuildsHeadersAndIndex)
{
    // A: video 0..360 ms (+40 per frame), audio 0..350 ms (+35): 400 ms long.
    // B has its streams numbered the other way round and starts at 1000 ms.
    File a = ClipFile(10);
    a[18 + 49] = 0x07; // PROP flags with the live bit, which must not survive
    const File b = ClipFile(10, true, 1000);
    const Joined j = JoinInMemory({a, b}, JoinTexts{std::string("\xB1\xEA"), std::nullopt, std::string("")});
    ASSERT_TRUE(j.problems.empty()) << j.problems.front().what();
    EXPECT_EQ(j.summary.inputStarts, (std::vector<std::uint32_t>{0, 400}));
    EXPECT_EQ(j.summary.durationMs, 800u);

    MemorySource src(j.bytes);
    RmReader out(src, "out.rm");
    const Read r = ReadAll(out);
    const std::size_t perInput = MakeClip(10).packets.size();
    ASSERT_EQ(r.packets.size(), 2 * perInput);
    EXPECT_EQ(out.Props().numPackets, 2 * perInput);
    ASSERT_EQ(out.DataChunks().size(), 1u);
    EXPECT_EQ(out.DataChunks()[0].numPackets, 2 * perInput);
    EXPECT_EQ(out.DataChunks()[0].size, out.Props().indexOffset - out.Props().dataOffset);
    EXPECT_EQ(out.Props().duration, 800u);
    EXPECT_EQ(out.Props().flags, 0x0003);
    EXPECT_EQ(out.Props().avgBitRate, (20u * 20 + 30u * 22) * 8000 / 800);
    EXPECT_EQ(out.Props().maxBitRate, out.Props().avgBitRate);
    EXPECT_EQ(out.Props().maxPacketSize, 100u); // the inputs' stored value is larger
    EXPECT_EQ(out.Props().avgPacketSize, (20u * 20 + 30u * 22) / (2 * perInput));
    ASSERT_EQ(out.Streams().size(), 2u);
    EXPECT_EQ(out.Streams()[0].streamNumber, 0);
    EXPECT_EQ(out.Streams()[0].duration, 800u);
    EXPECT_EQ(out.Streams()[1].duration, 785u); // 400 + 350 + one 35 ms packet
    ASSERT_TRUE(out.ContentDescription());
    EXPECT_EQ(out.ContentDescription()->title, "\xB1\xEA");
    EXPECT_EQ(out.ContentDescription()->author, "A"); // not given: input 1's
    EXPECT_EQ(out.ContentDescription()->copyright, "");

    // Input 1 unchanged, input 2 moved to 400 ms and onto input 1's stream numbers.
    const Clip clip = MakeClip(10);
    for (std::size_t i = 0; i < r.packets.size(); ++i) {
        const SynthPacket &want = clip.packets[i % perInput];
        const std::uint32_t shift = i < perInput ? 0 : 400;
        EXPECT_EQ(r.packets[i].header.streamNumber, want.stream) << i;
        EXPECT_EQ(r.packets[i].header.timestamp, want.ts + shift) << i;
        EXPECT_EQ(r.packets[i].header.flags, want.flags) << i;
        EXPECT_EQ(r.payloads[i], want.payload) << i;
    }

    // Video: every key frame; audio: the first of each input, then one a second.
    ASSERT_EQ(r.indexChunks.size(), 2u);
    EXPECT_EQ(r.indexChunks[0].nextIndexHeader, r.indexChunks[1].offset);
    EXPECT_EQ(r.indexChunks[1].nextIndexHeader, 0u);
    std::vector<std::uint32_t> videoTimes;
    for (const IndexRecord &rec : r.index.at(0))
        videoTimes.push_back(rec.timestamp);
    EXPECT_EQ(videoTimes, (std::vector<std::uint32_t>{0, 200, 400, 600}));
    ASSERT_EQ(r.index.at(1).size(), 2u);
    EXPECT_EQ(r.index.at(1)[1].timestamp, 400u);
    for (const auto &[stream, records] : r.index) {
        for (const IndexRecord &rec : records) {
            const auto it = std::find_if(r.packets.begin(), r.packets.end(),
                                         [&](const Packet &p) { return p.offset == rec.offset; });
            ASSERT_NE(it, r.packets.end());
            EXPECT_EQ(it->header.streamNumber, stream);
            EXPECT_EQ(it->header.timestamp, rec.timestamp);
            EXPECT_EQ(rec.packetCount, std::uint32_t(it - r.packets.begin()));
        }
    }
}

TEST(RmJoiner, IndexesAFragmentedKeyFrameAtItsFirstFragmentOnly)
{
    const std::vector<SynthStream> streams{{0, "video/x-pn-realvideo", Vido("RV40", 64, 48), 0}};
    const std::vector<SynthPacket> packets{
        {0, 0, 2, Fragment(false, 1, 1)},  // key frame, fragment 1
        {0, 0, 2, Fragment(true, 2, 1)},   // key frame, last fragment
        {0, 40, 0, WholeFrame(2)},         // inter frame
        {0, 80, 2, Fragment(false, 1, 3)}, // key frame again
        {0, 80, 2, Fragment(false, 2, 3)},
        {0, 80, 2, Fragment(true, 3, 3)},
    };
    const File a = BuildFile(streams, packets);
    const Joined j = JoinInMemory({a, a, a});
    ASSERT_TRUE(j.problems.empty());
    MemorySource src(j.bytes);
    RmReader out(src, "out.rm");
    const Read r = ReadAll(out);
    std::vector<std::uint32_t> counts;
    for (const IndexRecord &rec : r.index.at(0))
        counts.push_back(rec.packetCount);
    EXPECT_EQ(counts, (std::vector<std::uint32_t>{0, 3, 6, 9, 12, 15}));
    EXPECT_EQ(j.summary.inputStarts, (std::vector<std::uint32_t>{0, 120, 240}));
}

TEST(RmWriter, WritesSeveralDataChunksAndNoIndexThatReadBackWhole)
{
    const File a = ClipFile(9);
    // Rewrite A through the writer: DATA chunks of four packets, no index.
    const Joined j = JoinInMemory({a, a}, {}, WriterOptions{4, false});
    ASSERT_TRUE(j.problems.empty());
    MemorySource src(j.bytes);
    RmReader split(src, "split.rm");
    const Read r = ReadAll(split);
    const std::size_t n = 2 * MakeClip(9).packets.size();
    ASSERT_EQ(r.packets.size(), n);
    EXPECT_EQ(split.DataChunks().size(), (n + 3) / 4);
    for (std::size_t i = 0; i + 1 < split.DataChunks().size(); ++i) {
        EXPECT_EQ(split.DataChunks()[i].nextDataHeader, split.DataChunks()[i + 1].offset);
        EXPECT_EQ(split.DataChunks()[i].numPackets, 4u);
    }
    EXPECT_EQ(split.DataChunks().back().nextDataHeader, 0u);
    EXPECT_EQ(split.Props().indexOffset, 0u);
    EXPECT_TRUE(split.IndexChunks().empty());

    // Such a file joins like any other, and the result is back to one chunk with an index.
    const Joined again = JoinInMemory({j.bytes, a});
    ASSERT_TRUE(again.problems.empty());
    MemorySource src2(again.bytes);
    RmReader joined(src2, "again.rm");
    const Read r2 = ReadAll(joined);
    EXPECT_EQ(r2.packets.size(), n + n / 2);
    EXPECT_EQ(joined.DataChunks().size(), 1u);
    EXPECT_EQ(joined.IndexChunks().size(), 2u);
    EXPECT_EQ(again.summary.inputStarts.back(), 2 * 360u);
}

// Input 2 varies from a two-stream clip in one way that forbids joining.
struct Refusal
{
    const char *name;
    std::function<void(Clip &)> change;
    ErrorKind kind;
    const char *message;
};

void PrintTo(const Refusal &r, std::ostream *os)
{
    *os << r.name;
}

class RmJoinerRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(RmJoinerRefuses, SaysWhichInputDiffersInWhat)
{
    const Refusal &row = GetParam();
    Clip b = MakeClip(4);
    row.change(b);
    SynthOptions o;
    o.withData = std::string(row.name) != "no media data";
    const Joined j = JoinInMemory({ClipFile(4), BuildFile(b.streams, b.packets, o)});
    ASSERT_EQ(j.problems.size(), 1u);
    EXPECT_EQ(j.problems[0].Kind(), row.kind);
    const std::string text = j.problems[0].what();
    EXPECT_NE(text.find("输入 2“in2.rm”"), std::string::npos) << text;
    EXPECT_NE(text.find(row.message), std::string::npos) << text;
}

Ra4 AudioWith(const std::function<void(Ra4 &)> &set)
{
    Ra4 a;
    set(a);
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RmJoinerRefuses,
    ::testing::Values(
        Refusal{"video codec", [](Clip &c) { c.streams[0].typeSpecific = Vido("RV30", 176, 144); },
                ErrorKind::Incompatible, "视频编码为 RV30，输入 1 为 RV20"},
        Refusal{"video size", [](Clip &c) { c.streams[0].typeSpecific = Vido("RV20", 176, 120); },
                ErrorKind::Incompatible, "视频尺寸为 176x120，输入 1 为 176x144"},
        Refusal{"audio flavor",
                [](Clip &c) { c.streams[1].typeSpecific = RaBlock(AudioWith([](Ra4 &a) { a.flavor = 5; })); },
                ErrorKind::Incompatible, "flavor）为 5，输入 1 为 2"},
        Refusal{"interleaver",
                [](Clip &c) { c.streams[1].typeSpecific = RaBlock(AudioWith([](Ra4 &a) { a.interleaver = "genr"; })); },
                ErrorKind::Incompatible, "音频交织方式为 genr，输入 1 为 Int0"},
        Refusal{"interleave block",
                [](Clip &c) { c.streams[1].typeSpecific = RaBlock(AudioWith([](Ra4 &a) { a.frameSize = 600; })); },
                ErrorKind::Incompatible, "frame size）为 600，输入 1 为 417"},
        Refusal{"sample rate",
                [](Clip &c) { c.streams[1].typeSpecific = RaBlock(AudioWith([](Ra4 &a) { a.sampleRate = 48000; })); },
                ErrorKind::Incompatible, "音频采样率为 48000，输入 1 为 44100"},
        Refusal{"channels",
                [](Clip &c) { c.streams[1].typeSpecific = RaBlock(AudioWith([](Ra4 &a) { a.channels = 2; })); },
                ErrorKind::Incompatible, "音频声道数为 2，输入 1 为 1"},
        Refusal{"stream count",
                [](Clip &c) {
                    c.streams.pop_back();
                    std::erase_if(c.packets, [](const SynthPacket &p) { return p.stream == 1; });
                },
                ErrorKind::Incompatible, "有 1 个媒体流，而输入 1 有 2 个"},
        Refusal{"stream kind",
                [](Clip &c) { c.streams[0].mime = "audio/x-pn-realaudio"; c.streams[0].typeSpecific = RaBlock(Ra4{}); },
                ErrorKind::Incompatible, "没有与输入 1 对应的视频流"},
        Refusal{"multi-rate",
                [](Clip &c) {
                    c.streams[0].typeSpecific = Bytes().tag("MLTI").u16(0).u16(1).u32(34).raw(Vido("RV20", 176, 144)).v;
                },
                ErrorKind::Unsupported, "多码率"},
        Refusal{"logical stream",
                [](Clip &c) { c.streams.push_back({7, "logical-audio/x-pn-multirate-realaudio", {}, 0}); },
                ErrorKind::Unsupported, "多码率"},
        Refusal{"encrypted",
                [](Clip &c) { c.streams[1].mime = "audio/x-pn-realaudio-encrypted"; },
                ErrorKind::Unsupported, "加密"},
        Refusal{"start time", [](Clip &c) { c.streams[1].startTime = 500; }, ErrorKind::Incompatible,
                "起始时间为 500 毫秒"},
        Refusal{"no media data", [](Clip &) {}, ErrorKind::Unsupported, "没有媒体数据（缺少 DATA 块）"}),
    [](const auto &row) {
        std::string n = row.param.name;
        for (char &ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return n;
    });

TEST(RmJoiner, AcceptsStreamsThatDifferOnlyInWhatDoesNotMatter)
{
    // A different frame rate, bit count or "bytes total" keeps the streams joinable, and the
    // file-information pseudo-stream may be missing from one input.
    Clip b = MakeClip(4);
    File vido = Vido("RV20", 176, 144, 30);
    vido[16] = 24; // bit count
    b.streams[0].typeSpecific = vido;
    b.streams[1].typeSpecific[28] ^= 0xFF; // bytes total
    Clip a = MakeClip(4);
    a.streams.push_back({5, "logical-fileinfo", {0, 0, 0, 10, 0, 0, 0, 0, 0, 0}, 0});
    const Joined j = JoinInMemory({BuildFile(a.streams, a.packets), BuildFile(b.streams, b.packets)});
    ASSERT_TRUE(j.problems.empty()) << j.problems.front().what();
    MemorySource src(j.bytes);
    RmReader out(src, "out.rm");
    ASSERT_EQ(out.Streams().size(), 3u);
    EXPECT_EQ(out.Streams()[2].mime, "logical-fileinfo"); // input 1's, unchanged
    EXPECT_EQ(out.Streams()[2].typeSpecific, a.streams[2].typeSpecific);
}

// The file level: nothing at OUT unless the whole join succeeded.
class JoinFilesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = std::filesystem::temp_directory_path() /
                ("rmff-join-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                 "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::filesystem::path Put(const std::string &name, const File &bytes)
    {
        const auto path = m_dir / name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()),
                                                    std::streamsize(bytes.size()));
        return path;
    }
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const auto &e : std::filesystem::directory_iterator(m_dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::filesystem::path m_dir;
};

TEST_F(JoinFilesTest, ReplacesAnExistingOutputOnlyWhenTheJoinSucceeds)
{
    const auto a = Put("a.rm", ClipFile(5));
    const auto out = Put("out.rm", {'o', 'l', 'd'});
    const JoinOutcome ok = JoinFiles({a, a}, out, {});
    ASSERT_TRUE(ok.Ok()) << ok.problems.front().what();
    EXPECT_GT(std::filesystem::file_size(out), 2 * std::filesystem::file_size(a) - 400);
    EXPECT_EQ(Names(), (std::vector<std::string>{"a.rm", "out.rm"})); // no temporary left

    // A truncated second input fails while copying, after the temporary file was begun.
    File cut = ClipFile(5);
    cut.resize(cut.size() - 7);
    const auto b = Put("b.rm", cut);
    const auto before = std::filesystem::file_size(out);
    const JoinOutcome bad = JoinFiles({a, b}, out, {});
    ASSERT_FALSE(bad.Ok());
    EXPECT_EQ(bad.problems.front().Kind(), ErrorKind::Truncated);
    EXPECT_EQ(bad.problems.front().File(), b.string());
    EXPECT_EQ(std::filesystem::file_size(out), before);
    EXPECT_EQ(Names(), (std::vector<std::string>{"a.rm", "b.rm", "out.rm"}));
}

TEST_F(JoinFilesTest, RefusesAnOutputThatIsAnInputUnderAnotherName)
{
    const auto a = Put("a.rm", ClipFile(5));
    const auto b = Put("b.rm", ClipFile(5));
    std::filesystem::create_hard_link(b, m_dir / "link.rm");
    const auto sameByDots = m_dir / "." / "b.rm";
    for (const auto &out : {m_dir / "link.rm", sameByDots}) {
        const JoinOutcome r = JoinFiles({a, b}, out, {});
        ASSERT_EQ(r.problems.size(), 1u) << out;
        EXPECT_EQ(r.problems[0].Kind(), ErrorKind::Output);
        EXPECT_NE(std::string(r.problems[0].what()).find("就是输入 2"), std::string::npos);
    }
    EXPECT_EQ(std::filesystem::file_size(b), ClipFile(5).size());
}

TEST_F(JoinFilesTest, RefusesInputsThatAddUpPastTwoGigabytesBeforeWritingAnything)
{
    // Sparse tails make the sizes without the bytes; the headers stay readable.
    const File clip = ClipFile(5);
    const auto a = Put("a.rm", clip);
    const auto b = Put("b.rm", clip);
    const std::uint64_t half = std::uint64_t{1} << 30;
    std::filesystem::resize_file(a, half);
    std::filesystem::resize_file(b, half); // together one byte past the limit
    const JoinOutcome past = JoinFiles({a, b}, m_dir / "o.rm", {});
    ASSERT_FALSE(past.Ok());
    const RmError &last = past.problems.back();
    EXPECT_EQ(last.Kind(), ErrorKind::Output);
    EXPECT_NE(std::string(last.what()).find("2 GB（2147483647 字节）"), std::string::npos) << last.what();
    EXPECT_NE(std::string(last.what()).find(std::to_string(2 * half)), std::string::npos) << last.what();
    EXPECT_EQ(Names(), (std::vector<std::string>{"a.rm", "b.rm"}));

    // Exactly at the limit passes this rule; the folder as output stops the join before it copies.
    std::filesystem::resize_file(b, half - 1);
    const JoinOutcome at = JoinFiles({a, b}, m_dir, {});
    ASSERT_EQ(at.problems.size(), 1u);
    EXPECT_EQ(std::string(at.problems[0].what()).find("2 GB"), std::string::npos) << at.problems[0].what();
}

TEST_F(JoinFilesTest, ReportsEveryUnreadableInputAndAMissingOutputFolder)
{
    const auto a = Put("a.rm", ClipFile(5));
    const JoinOutcome missing = JoinFiles({a, m_dir / "none.rm", m_dir}, m_dir / "o.rm", {});
    ASSERT_EQ(missing.problems.size(), 2u);
    EXPECT_EQ(missing.problems[0].Kind(), ErrorKind::Io);
    EXPECT_EQ(missing.problems[1].Kind(), ErrorKind::Io);

    const JoinOutcome noFolder = JoinFiles({a, a}, m_dir / "no" / "o.rm", {});
    ASSERT_EQ(noFolder.problems.size(), 1u);
    EXPECT_EQ(noFolder.problems[0].Kind(), ErrorKind::Output);
    EXPECT_EQ(Names(), (std::vector<std::string>{"a.rm"}));
}

} // namespace

namespace {

// Pretends to hold `base` bytes already, so that the 32-bit limits can be reached cheaply.
class FarSink final : public ByteSink
{
public:
    explicit FarSink(std::uint64_t base) : m_size(base) {}
    void Write(std::span<const std::uint8_t> bytes) override { m_size += bytes.size(); }
    void WriteAt(std::uint64_t, std::span<const std::uint8_t>) override {}
    std::uint64_t Size() const override { return m_size; }

private:
    std::uint64_t m_size;
};

TEST(RmWriter, RefusesToGrowPastTheReachOfItsOffsets)
{
    // Players read the offsets signed: the file must end below 2 GiB, not 4.
    FarSink sink(0x7FFFFFFFull - 100000);
    RmWriter w(sink, FileHeader{}, Properties{}, {}, Content{});
    w.Begin();
    const std::vector<std::uint8_t> payload(60000, 0);
    w.WritePacket(PacketHeader{}, payload);
    try {
        w.WritePacket(PacketHeader{}, payload);
        FAIL() << "wrote past 2 GB";
    } catch (const RmError &e) {
        EXPECT_EQ(e.Kind(), ErrorKind::Output);
        EXPECT_NE(std::string(e.what()).find("2 GB（2147483647 字节）"), std::string::npos) << e.what();
    }
    EXPECT_LE(sink.Size(), 0x7FFFFFFFull);
    EXPECT_THROW(w.WritePacket(PacketHeader{}, std::vector<std::uint8_t>(65524, 0)), RmError);
}

TEST(RmJoiner, RefusesTimestampsThatWouldPassThirtyTwoBits)
{
    const std::vector<SynthStream> streams{{0, "audio/x-pn-realaudio", RaBlock(Ra4{}), 0}};
    const File late = BuildFile(streams, {{0, 0, 2, {1}}, {0, 0xFFFFFF00u, 2, {2}}});
    try {
        JoinInMemory({late, late});
        FAIL() << "joined past the timestamp range";
    } catch (const RmError &e) {
        EXPECT_EQ(e.Kind(), ErrorKind::Output);
    }
}

TEST(RmJoiner, WarnsWhenTheFrameRatesDiffer)
{
    Clip b = MakeClip(4);
    b.streams[0].typeSpecific = Vido("RV20", 176, 144, 30);
    const Joined j = JoinInMemory({ClipFile(4), BuildFile(b.streams, b.packets)});
    ASSERT_TRUE(j.problems.empty());
    EXPECT_TRUE(std::any_of(j.summary.warnings.begin(), j.summary.warnings.end(), [](const std::string &w) {
        return w.find("输入 2“in2.rm”的帧率为 30.000，输入 1 为 25.000") != std::string::npos;
    }));
}

} // namespace
