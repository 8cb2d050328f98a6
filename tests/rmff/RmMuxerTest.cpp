// The muxer's files read back with our reader, and its fragment headers parsed here by hand,
// so that the writer and the checks do not share a mistake.

#include "rmff/MemorySink.h"
#include "rmff/MemorySource.h"
#include "rmff/RmError.h"
#include "rmff/RmMuxer.h"
#include "rmff/RmReader.h"
#include "rmff/StreamFormat.h"
#include "rmff/VideoFragments.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

using namespace corva::rmff;

namespace {

using Slices = std::vector<std::vector<std::uint8_t>>;

struct SubPacket
{
    unsigned type = 0;
    unsigned count = 0;
    unsigned fragment = 0;
    std::uint32_t total = 0;
    std::uint32_t where = 0; // offset (type 0) or length (type 2)
    unsigned sequence = 0;
    std::vector<std::uint8_t> data;
};

// Read the way the demuxers read: u16 with bit 15 cleared; at or above 0x4000 it is the
// 14-bit form, else a second u16 follows.
std::uint32_t ReadNumber(const std::vector<std::uint8_t> &p, std::size_t &at)
{
    std::uint32_t v = ((p.at(at) << 8) | p.at(at + 1)) & 0x7FFF;
    at += 2;
    if (v >= 0x4000)
        return v - 0x4000;
    v = (v << 16) | (p.at(at) << 8) | p.at(at + 1);
    at += 2;
    return v;
}

SubPacket Parse(const std::vector<std::uint8_t> &p)
{
    SubPacket s;
    s.type = p.at(0) >> 6;
    s.count = p.at(0) & 0x3F;
    s.fragment = p.at(1) & 0x7F;
    std::size_t at = 2;
    if (s.type != 1) {
        s.total = ReadNumber(p, at);
        s.where = ReadNumber(p, at);
        s.sequence = p.at(at++);
    }
    s.data.assign(p.begin() + static_cast<std::ptrdiff_t>(at), p.end());
    return s;
}

Slices MakeSlices(std::initializer_list<std::size_t> sizes, std::uint8_t seed = 1)
{
    Slices out;
    for (std::size_t n : sizes) {
        std::vector<std::uint8_t> s(n);
        for (std::size_t i = 0; i < n; ++i)
            s[i] = static_cast<std::uint8_t>(seed + i * 7 + out.size() * 31);
        out.push_back(std::move(s));
    }
    return out;
}

struct Read
{
    std::vector<Packet> packets;
    std::vector<std::vector<std::uint8_t>> payloads;
    Properties props;
    std::vector<MediaProperties> streams;
    std::optional<Content> content;
    std::map<std::uint16_t, std::vector<IndexRecord>> index;
};

Read ReadBack(const std::vector<std::uint8_t> &bytes)
{
    MemorySource src(bytes);
    RmReader r(src, "out.rm");
    Read out;
    Packet p;
    while (r.NextPacket(p)) {
        out.packets.push_back(p);
        out.payloads.emplace_back(p.payload.begin(), p.payload.end());
    }
    out.props = r.Props();
    out.streams = r.Streams();
    out.content = r.ContentDescription();
    for (const IndexHeader &h : r.IndexChunks())
        r.ReadIndex(h, [&](const IndexRecord &rec) { out.index[h.streamNumber].push_back(rec); });
    return out;
}

MuxVideo Video25()
{
    MuxVideo v;
    v.width = 176;
    v.height = 144;
    v.framesPerSecond = 25 << 16;
    v.codecSetup = {0, 0, 0, 0, 0x40, 0x00, 0x80, 0x00};
    return v;
}

MuxAudio Audio44()
{
    return MuxAudio{44100, 2, 64000};
}

// ---- fragment headers -------------------------------------------------------------------

struct FragmentCase
{
    const char *name;
    std::vector<std::size_t> sizes;
};

class FragmentPictureTest : public ::testing::TestWithParam<FragmentCase>
{
};

TEST_P(FragmentPictureTest, OneFragmentPerSliceThatRebuildsThePicture)
{
    Slices slices;
    for (std::size_t i = 0; i < GetParam().sizes.size(); ++i) {
        std::vector<std::uint8_t> s(GetParam().sizes[i]);
        std::iota(s.begin(), s.end(), static_cast<std::uint8_t>(i * 40));
        slices.push_back(std::move(s));
    }
    const std::uint32_t picture = 300; // its sequence byte wraps to 44
    const auto payloads = FragmentPicture(slices, picture);
    ASSERT_EQ(payloads.size(), slices.size());

    const std::size_t total = std::accumulate(GetParam().sizes.begin(), GetParam().sizes.end(), std::size_t{0});
    std::uint32_t offset = 0;
    for (std::size_t i = 0; i < payloads.size(); ++i) {
        const SubPacket s = Parse(payloads[i]);
        EXPECT_EQ(s.data, slices[i]) << "fragment " << i;
        if (slices.size() == 1) {
            EXPECT_EQ(s.type, 1u);
            EXPECT_EQ(s.fragment, 1u);
            continue;
        }
        const bool last = i + 1 == slices.size();
        EXPECT_EQ(s.type, last ? 2u : 0u);
        EXPECT_EQ(s.fragment, i + 1);
        EXPECT_EQ(s.total, total);
        EXPECT_EQ(s.where, last ? slices[i].size() : offset);
        EXPECT_EQ(s.sequence, picture % 256);
        // The decoders make room for 2 × count + 1 slices.
        EXPECT_GE(2 * s.count + 1, slices.size());
        offset += static_cast<std::uint32_t>(slices[i].size());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, FragmentPictureTest,
    ::testing::Values(FragmentCase{"OneSlice", {500}}, FragmentCase{"TwoSlices", {300, 20}},
                      FragmentCase{"ThreeSlices", {1, 2, 3}},
                      // Past 16383 bytes the length and the offsets take the 4-byte form.
                      FragmentCase{"LongPicture", {16000, 16000, 9000}},
                      FragmentCase{"ManySlices", std::vector<std::size_t>(127, 10)}),
    [](const auto &p) { return std::string(p.param.name); });

TEST(FragmentPicture, RefusesWhatNoFragmentHeaderCanSay)
{
    EXPECT_THROW(FragmentPicture(Slices{}, 0), RmError);
    EXPECT_THROW(FragmentPicture(MakeSlices({10, 0, 10}), 0), RmError);
    EXPECT_THROW(FragmentPicture(Slices(128, std::vector<std::uint8_t>(4, 1)), 0), RmError);
}

// Each slice's packet, 12 header bytes included, reaches 256 bytes with bytes that are never
// zero; a slice that fills its packet already is left as it is.
TEST(FragmentPicture, PaddedForSeekingFillsEveryShortPacket)
{
    for (const Slices &slices : {MakeSlices({20}), MakeSlices({30, 400, 5}), MakeSlices({16000, 3, 300})}) {
        ASSERT_TRUE(NeedsPaddingForSeeking(slices, true));
        const Slices padded = PaddedForSeeking(slices, true);
        ASSERT_EQ(padded.size(), slices.size());
        const auto payloads = FragmentPicture(padded, 7);
        for (std::size_t i = 0; i < slices.size(); ++i) {
            EXPECT_GE(12 + payloads[i].size(), kShortestVideoPacket) << "slice " << i;
            EXPECT_TRUE(std::equal(slices[i].begin(), slices[i].end(), padded[i].begin())) << "slice " << i;
            if (12 + FragmentPicture(slices, 7)[i].size() >= kShortestVideoPacket) {
                EXPECT_EQ(padded[i].size(), slices[i].size()) << "slice " << i;
            }
            EXPECT_TRUE(std::none_of(padded[i].begin() + static_cast<std::ptrdiff_t>(slices[i].size()), padded[i].end(),
                                     [](std::uint8_t b) { return b == 0; }));
        }
    }
}

// A slice ending in a zero byte, followed by the next packet's header, reads as a header a byte
// early: in any picture it gets one byte that is not zero, and nothing else changes. After two
// zero bytes, any byte would itself make a header: those are left.
TEST(FragmentPicture, PaddedForSeekingEndsNoSliceInAZeroByte)
{
    Slices slices = MakeSlices({40, 500, 30, 20});
    slices[3][18] = slices[3][19] = 0;
    EXPECT_FALSE(NeedsPaddingForSeeking(slices, false));
    slices[1].back() = 0;
    slices[2].back() = 0;
    ASSERT_TRUE(NeedsPaddingForSeeking(slices, false));
    const Slices padded = PaddedForSeeking(slices, false);
    ASSERT_EQ(padded.size(), slices.size());
    EXPECT_EQ(padded[0], slices[0]);
    EXPECT_EQ(padded[3], slices[3]);
    // a keyframe's slice that ends in two zero bytes is filled with zeros: 00 00 FF FF would
    // be a header with a leap of 65535 bytes
    const Slices key = PaddedForSeeking(Slices{slices[3]}, true);
    ASSERT_GT(key[0].size(), slices[3].size());
    EXPECT_TRUE(std::all_of(key[0].begin() + 18, key[0].end(), [](std::uint8_t b) { return b == 0; }));
    for (std::size_t i : {1u, 2u}) {
        ASSERT_EQ(padded[i].size(), slices[i].size() + 1) << "slice " << i;
        EXPECT_TRUE(std::equal(slices[i].begin(), slices[i].end(), padded[i].begin())) << "slice " << i;
        EXPECT_NE(padded[i].back(), 0) << "slice " << i;
    }
}

TEST(FragmentNumber, RoundTripsAtTheEdgesOfBothForms)
{
    for (std::uint32_t v : {0u, 1u, 0x3FFFu, 0x4000u, 0x12345u, (1u << 30) - 1}) {
        std::vector<std::uint8_t> bytes;
        PutFragmentNumber(bytes, v);
        EXPECT_EQ(bytes.size(), v < 0x4000 ? 2u : 4u) << v;
        std::size_t at = 0;
        EXPECT_EQ(ReadNumber(bytes, at), v);
        EXPECT_EQ(at, bytes.size());
    }
}

// ---- the muxer ----------------------------------------------------------------------------

TEST(RmMuxer, InterleavesByTimeAndKeepsEachStreamsOrder)
{
    MemorySink sink;
    RmMuxer mux(sink, Video25(), Audio44(), Content{"标题", "作者", "版权", ""});
    // Video runs ahead of audio by up to half a second, as an encoder with look-ahead gives it.
    // Pictures come in decoding order: I0 P3 B1 B2 P6 B4 B5 …, presentation times in ms.
    const std::vector<int> order{0, 3, 1, 2, 6, 4, 5, 9, 7, 8, 12, 10, 11};
    std::size_t audioFrame = 0;
    const auto audioTs = [](std::size_t n) { return static_cast<std::uint32_t>(n * 1536 * 1000 / 44100); };
    for (std::size_t i = 0; i < order.size(); ++i) {
        const bool key = order[i] % 6 == 0;
        const Slices slices = order[i] % 2 == 0 ? MakeSlices({100, 80, 60}) : MakeSlices({90});
        mux.WriteVideo(slices, static_cast<std::uint32_t>(order[i] * 40), key);
        while (audioTs(audioFrame) + 500 < i * 40) {
            std::vector<std::uint8_t> frame(278, static_cast<std::uint8_t>(audioFrame));
            frame[0] = 0x0B;
            frame[1] = 0x77;
            mux.WriteAudio(frame, audioTs(audioFrame++));
        }
    }
    while (audioTs(audioFrame) < 13 * 40) {
        std::vector<std::uint8_t> frame(279, 0x55);
        frame[0] = 0x0B;
        frame[1] = 0x77;
        mux.WriteAudio(frame, audioTs(audioFrame++));
    }
    const MuxSummary summary = mux.Finish();
    const Read r = ReadBack(sink.Bytes());

    ASSERT_EQ(r.streams.size(), 2u);
    const std::uint16_t v = *mux.VideoStreamNumber();
    const std::uint16_t a = *mux.AudioStreamNumber();
    EXPECT_NE(v, a);

    // Across streams, time never goes back except for the B-pictures' own step back.
    std::uint32_t runningVideo = 0;
    std::uint32_t last = 0;
    std::vector<std::uint32_t> videoTimes;
    std::vector<std::uint32_t> audioTimes;
    std::vector<unsigned> sequences;
    for (std::size_t i = 0; i < r.packets.size(); ++i) {
        const PacketHeader &h = r.packets[i].header;
        std::uint32_t t = h.timestamp;
        if (h.streamNumber == v) {
            runningVideo = std::max(runningVideo, t);
            t = runningVideo;
            const SubPacket s = Parse(r.payloads[i]);
            if (s.type == 1 || s.fragment == 1)
                videoTimes.push_back(h.timestamp);
            if (s.type != 1)
                sequences.push_back(s.sequence);
            const int pic = static_cast<int>(h.timestamp / 40);
            EXPECT_EQ((h.flags & kPacketKeyframe) != 0, pic % 6 == 0) << "packet " << i;
        } else {
            ASSERT_EQ(h.streamNumber, a);
            audioTimes.push_back(h.timestamp);
            EXPECT_EQ(h.flags & kPacketKeyframe, kPacketKeyframe);
            // Stored with the words swapped.
            EXPECT_EQ(r.payloads[i][0], 0x77);
            EXPECT_EQ(r.payloads[i][1], 0x0B);
        }
        EXPECT_GE(t, last) << "packet " << i << " goes back in time";
        last = std::max(last, t);
    }
    std::vector<std::uint32_t> expectedVideo;
    for (int o : order)
        expectedVideo.push_back(static_cast<std::uint32_t>(o * 40));
    EXPECT_EQ(videoTimes, expectedVideo);
    EXPECT_EQ(audioTimes.size(), audioFrame);
    EXPECT_TRUE(std::is_sorted(audioTimes.begin(), audioTimes.end()));
    // The three fragments of a picture share its sequence byte; pictures count up.
    ASSERT_FALSE(sequences.empty());
    for (std::size_t i = 0; i + 1 < sequences.size(); ++i)
        EXPECT_TRUE(sequences[i + 1] == sequences[i] || sequences[i + 1] > sequences[i]);

    // Index: every key picture, at its first fragment, and nothing for audio beside video.
    ASSERT_EQ(r.index.count(a), 0u);
    const auto &records = r.index.at(v);
    ASSERT_EQ(records.size(), 3u);
    for (const IndexRecord &rec : records) {
        const auto it = std::find_if(r.packets.begin(), r.packets.end(),
                                     [&](const Packet &p) { return p.offset == rec.offset; });
        ASSERT_NE(it, r.packets.end());
        EXPECT_EQ(it->header.timestamp, rec.timestamp);
        EXPECT_EQ(it->header.streamNumber, v);
        EXPECT_EQ(static_cast<std::uint32_t>(it - r.packets.begin()), rec.packetCount);
        EXPECT_EQ(Parse(r.payloads[rec.packetCount]).fragment, 1u);
    }

    // Totals: packets, sizes, durations (the last picture at 480 ms plus one period).
    EXPECT_EQ(r.props.numPackets, r.packets.size());
    EXPECT_EQ(summary.packets, r.packets.size());
    EXPECT_EQ(summary.fileBytes, sink.Size());
    std::size_t largest = 0;
    std::size_t sum = 0;
    for (const auto &p : r.payloads) {
        largest = std::max(largest, p.size());
        sum += p.size();
    }
    EXPECT_EQ(r.props.maxPacketSize, largest);
    EXPECT_EQ(r.props.avgPacketSize, sum / r.packets.size());
    const MediaProperties &vm = r.streams[v];
    const MediaProperties &am = r.streams[a];
    EXPECT_EQ(vm.duration, 12 * 40 + 40u);
    const double audioEnd = audioTs(audioFrame - 1) + 1536 * 1000.0 / 44100;
    EXPECT_NEAR(am.duration, audioEnd, 1.0);
    EXPECT_EQ(r.props.duration, std::max<std::uint32_t>(vm.duration, am.duration));
    EXPECT_GT(r.props.avgBitRate, 0u);
    EXPECT_GE(r.props.maxBitRate, r.props.avgBitRate);
    EXPECT_GE(vm.maxBitRate, vm.avgBitRate);
    EXPECT_EQ(r.props.flags & kFlagLive, 0);

    // What a joiner or a player would read from the setup blocks.
    const StreamFormat vf = StreamFormat::Of(vm);
    ASSERT_TRUE(vf.video);
    EXPECT_EQ(FourCcText(vf.video->codec), "RV40");
    EXPECT_EQ(vf.video->width, 176);
    EXPECT_EQ(vf.video->height, 144);
    EXPECT_EQ(vf.video->framesPerSecond, 25u << 16);
    EXPECT_EQ(vf.video->codecData, Video25().codecSetup);
    const StreamFormat af = StreamFormat::Of(am);
    ASSERT_TRUE(af.audio);
    EXPECT_EQ(FourCcText(af.audio->codec), "dnet");
    EXPECT_EQ(FourCcText(af.audio->interleaver), "Int0");
    EXPECT_EQ(af.audio->sampleRate, 44100);
    EXPECT_EQ(af.audio->channels, 2);
    EXPECT_EQ(af.audio->flavor, 2);
    EXPECT_EQ(af.audio->codedFrameSize, 278u);
    ASSERT_TRUE(r.content);
    EXPECT_EQ(r.content->title, "标题");
    EXPECT_EQ(r.content->copyright, "版权");
}

TEST(RmMuxer, GivesAudioOnlyFilesASeekPointASecond)
{
    MemorySink sink;
    RmMuxer mux(sink, std::nullopt, MuxAudio{48000, 1, 96000}, Content{});
    for (int i = 0; i < 100; ++i) // 3.2 s
        mux.WriteAudio(std::vector<std::uint8_t>(251, 7), static_cast<std::uint32_t>(i * 32));
    mux.Finish();
    const Read r = ReadBack(sink.Bytes());
    ASSERT_EQ(r.streams.size(), 1u);
    EXPECT_EQ(r.packets.size(), 100u);
    const auto &records = r.index.at(r.streams[0].streamNumber);
    std::vector<std::uint32_t> times;
    for (const IndexRecord &rec : records) {
        times.push_back(rec.timestamp);
        EXPECT_EQ(r.packets.at(rec.packetCount).offset, rec.offset);
    }
    EXPECT_EQ(times, (std::vector<std::uint32_t>{0, 1024, 2048, 3072}));
    EXPECT_EQ(r.props.duration, 99 * 32 + 32u);
    EXPECT_EQ(StreamFormat::Of(r.streams[0]).audio->flavor, 1);
}

TEST(RmMuxer, WritesVideoOnlyFilesThatReadBackPictureForPicture)
{
    MemorySink sink;
    RmMuxer mux(sink, Video25(), std::nullopt, Content{});
    for (int i = 0; i < 10; ++i)
        mux.WriteVideo(MakeSlices({static_cast<std::size_t>(50 + i)}), static_cast<std::uint32_t>(i * 40), i % 5 == 0);
    const MuxSummary s = mux.Finish();
    const Read r = ReadBack(sink.Bytes());
    ASSERT_EQ(r.packets.size(), 10u);
    EXPECT_EQ(s.pictures, 10u);
    for (std::size_t i = 0; i < 10; ++i) {
        const std::vector<std::uint8_t> data = Parse(r.payloads[i]).data;
        const std::vector<std::uint8_t> slice = MakeSlices({50 + i})[0];
        if (i % 5 != 0) {
            EXPECT_EQ(data, slice);
            continue;
        }
        // A keyframe's short first packet is made 256 bytes long after its slice, with bytes the
        // decoders leave unread and none of them zero (two zeros and the next packet's header
        // would read as a header a byte early).
        EXPECT_EQ(12 + r.payloads[i].size(), 256u);
        ASSERT_GT(data.size(), slice.size());
        EXPECT_TRUE(std::equal(slice.begin(), slice.end(), data.begin()));
        EXPECT_TRUE(std::none_of(data.begin() + static_cast<std::ptrdiff_t>(slice.size()), data.end(), [](std::uint8_t b) { return b == 0; }));
    }
    EXPECT_EQ(r.index.at(0).size(), 2u);
    EXPECT_EQ(r.props.duration, 400u);
}

TEST(RmMuxer, WritesAheadOfAStreamThatFallsSilent)
{
    // A film whose sound stops: the pictures must not pile up in memory waiting for it.
    MemorySink sink;
    MuxOptions o;
    o.interleaveWindowMs = 1000;
    RmMuxer mux(sink, Video25(), Audio44(), Content{}, o);
    mux.WriteAudio(std::vector<std::uint8_t>(100, 1), 0);
    const std::uint64_t afterHeaders = sink.Size();
    for (int i = 0; i < 100; ++i)
        mux.WriteVideo(MakeSlices({1000}), static_cast<std::uint32_t>(i * 40), i == 0);
    // Four seconds of pictures: all but the last second's are out.
    EXPECT_GT(sink.Size(), afterHeaders + 70 * 1000);
    EXPECT_LT(sink.Size(), afterHeaders + 90 * 1012);
    mux.Finish();
    EXPECT_EQ(ReadBack(sink.Bytes()).packets.size(), 101u);

    // However long the window, the waiting bytes stay bounded.
    MemorySink bounded;
    MuxOptions small;
    small.interleaveWindowMs = 3600000;
    small.maxBufferedBytes = 20000;
    RmMuxer mux2(bounded, Video25(), Audio44(), Content{}, small);
    for (int i = 0; i < 100; ++i)
        mux2.WriteVideo(MakeSlices({1000}), static_cast<std::uint32_t>(i * 40), i == 0);
    EXPECT_GT(bounded.Size(), 100 * 1012 - 21000);
}

// ---- refusals -----------------------------------------------------------------------------

TEST(RmMuxer, RefusesATooLongTextBeforeWritingAnything)
{
    for (int field = 0; field < 4; ++field) {
        Content c;
        std::string *texts[] = {&c.title, &c.author, &c.copyright, &c.comment};
        *texts[field] = std::string(65536, 'x');
        MemorySink sink;
        EXPECT_THROW(RmMuxer(sink, Video25(), Audio44(), c), RmError) << field;
        EXPECT_EQ(sink.Size(), 0u);
    }
    Content longest;
    longest.title = std::string(65535, 'x');
    MemorySink sink;
    RmMuxer mux(sink, Video25(), std::nullopt, longest);
    mux.Finish();
    EXPECT_EQ(ReadBack(sink.Bytes()).content->title.size(), 65535u);
}

TEST(RmMuxer, RefusesWhatCannotBeWritten)
{
    MemorySink empty;
    EXPECT_THROW(RmMuxer(empty, std::nullopt, std::nullopt, Content{}), RmError);
    EXPECT_EQ(empty.Size(), 0u);

    MemorySink sink;
    RmMuxer mux(sink, Video25(), std::nullopt, Content{});
    mux.WriteVideo(MakeSlices({65521}), 0, true); // the largest whole picture a packet holds
    const std::uint64_t size = sink.Size();
    // A slice too big for one packet fails the whole picture: nothing of it is kept.
    EXPECT_THROW(mux.WriteVideo(MakeSlices({100, 65521}), 40, false), RmError);
    EXPECT_THROW(mux.WriteVideo(MakeSlices({65522}), 40, false), RmError);
    EXPECT_THROW(mux.WriteAudio(std::vector<std::uint8_t>(10, 0), 40), RmError);
    mux.Finish();
    EXPECT_GE(sink.Size(), size);
    const Read r = ReadBack(sink.Bytes());
    ASSERT_EQ(r.packets.size(), 1u);
    EXPECT_EQ(r.packets[0].header.length, 0xFFFF);
}

TEST(RmMuxer, StopsBeforeTheSizeLimitIndexIncluded)
{
    MuxOptions o;
    o.maxFileBytes = 200000;
    MemorySink sink;
    RmMuxer mux(sink, Video25(), Audio44(), Content{}, o);
    std::uint32_t t = 0;
    bool refused = false;
    for (int i = 0; i < 1000 && !refused; ++i, t += 40) {
        try {
            mux.WriteVideo(MakeSlices({900, 900}), t, true);
            mux.WriteAudio(std::vector<std::uint8_t>(278, 3), t);
        } catch (const RmError &e) {
            refused = true;
            EXPECT_EQ(e.Kind(), ErrorKind::Output);
            EXPECT_NE(std::string(e.what()).find("2 GB"), std::string::npos);
        }
    }
    ASSERT_TRUE(refused);
    mux.Finish();
    EXPECT_LE(sink.Size(), o.maxFileBytes);
    EXPECT_GT(sink.Size(), o.maxFileBytes - 3000);
    EXPECT_NO_THROW(ReadBack(sink.Bytes()));
    EXPECT_EQ(kMaxFileBytes, 0x7FFFFFFFu);
}

// A sink that starts just short of the limit, to reach it without writing 2 GB.
class NearlyFullSink final : public ByteSink
{
public:
    explicit NearlyFullSink(std::uint64_t start) : m_size(start) {}
    void Write(std::span<const std::uint8_t> bytes) override { m_size += bytes.size(); }
    void WriteAt(std::uint64_t, std::span<const std::uint8_t>) override {}
    std::uint64_t Size() const override { return m_size; }

private:
    std::uint64_t m_size;
};

TEST(RmMuxer, KeepsFilesBelowTwoGigabytesByDefault)
{
    NearlyFullSink sink(kMaxFileBytes - 10000);
    RmMuxer mux(sink, Video25(), std::nullopt, Content{});
    mux.WriteVideo(MakeSlices({4000}), 0, true);
    mux.WriteVideo(MakeSlices({4000}), 40, false);
    EXPECT_THROW(mux.WriteVideo(MakeSlices({4000}), 80, false), RmError);
    mux.Finish();
    EXPECT_LE(sink.Size(), kMaxFileBytes);
}

} // namespace
