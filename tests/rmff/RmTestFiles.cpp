#include "RmTestFiles.h"

#include <algorithm>
#include <map>

namespace corva::rmff::test {

Bytes &Bytes::u8(std::uint32_t x)
{
    v.push_back(static_cast<std::uint8_t>(x));
    return *this;
}
Bytes &Bytes::u16(std::uint32_t x)
{
    return u8(x >> 8).u8(x);
}
Bytes &Bytes::u32(std::uint32_t x)
{
    return u16(x >> 16).u16(x);
}
Bytes &Bytes::tag(const char (&t)[5])
{
    v.insert(v.end(), t, t + 4);
    return *this;
}
Bytes &Bytes::raw(const std::vector<std::uint8_t> &b)
{
    v.insert(v.end(), b.begin(), b.end());
    return *this;
}
Bytes &Bytes::text(const std::string &s)
{
    v.insert(v.end(), s.begin(), s.end());
    return *this;
}

std::vector<std::uint8_t> Vido(const char (&codec)[5], std::uint16_t width, std::uint16_t height,
                               std::uint32_t fps)
{
    Bytes b;
    b.u32(34).tag("VIDO").tag(codec); // length, tag, codec
    b.u16(width).u16(height).u16(12); // size, bit count
    b.u16(0).u16(0);                  // padding width and height
    b.u32(fps << 16);                 // frames per second, 16.16
    b.u32(0).u32(0x20103001);         // option flags, stream version
    return b.v;
}

std::vector<std::uint8_t> RaBlock(const Ra4 &a)
{
    Bytes b;
    b.text(".ra\xFD").u16(4).u16(0);              // magic, version 4, revision
    b.text(".ra4").u32(0x01b53530);                // inner tag, data size
    b.u16(4).u16(0).u16(0x39);                     // version2, revision2, header bytes
    b.u16(a.flavor).u32(a.codedFrameSize);         // flavor, coded frame size
    b.u32(0x51540).u32(a.bytesPerMinute).u32(a.bytesPerMinute); // total, per minute ×2
    b.u16(a.subPacketH).u16(a.frameSize).u16(0).u16(0); // interleave h, frame size, sub size
    b.u16(a.sampleRate).u16(0).u16(16).u16(a.channels); // rate, 0, sample size, channels
    b.u8(4).text(a.interleaver).u8(4).text(a.codec);     // interleaver id, codec
    b.u8(0).u8(0).u8(0).u32(0).u16(0);             // flags and an empty codec setup
    return b.v;
}

std::vector<std::uint8_t> BuildFile(const std::vector<SynthStream> &streams,
                                    const std::vector<SynthPacket> &packets,
                                    const SynthOptions &options)
{
    Bytes head;
    head.tag(".RMF").u32(18).u16(0).u32(0).u32(4 + std::uint32_t(streams.size()));

    Bytes cont;
    cont.tag("CONT").u32(18 + 1 + 1).u16(0);
    cont.u16(1).text("T").u16(1).text("A").u16(0).u16(0); // title, author, copyright, comment

    Bytes mdprs;
    for (const SynthStream &s : streams) {
        const std::string name = "s";
        const auto size = 46 + name.size() + s.mime.size() + s.typeSpecific.size();
        mdprs.tag("MDPR").u32(std::uint32_t(size)).u16(0).u16(s.number);
        mdprs.u32(1000).u32(800).u32(100).u32(50);  // bit rates, packet sizes
        mdprs.u32(s.startTime).u32(0).u32(1234);    // start time, preroll, duration
        mdprs.u8(std::uint32_t(name.size())).text(name);
        mdprs.u8(std::uint32_t(s.mime.size())).text(s.mime);
        mdprs.u32(std::uint32_t(s.typeSpecific.size())).raw(s.typeSpecific);
    }

    const std::uint32_t dataOffset = std::uint32_t(head.size() + 50 + cont.size() + mdprs.size());
    Bytes data;
    std::map<std::uint16_t, std::vector<std::pair<std::uint32_t, std::uint32_t>>> keys;
    std::uint32_t count = 0;
    for (const SynthPacket &p : packets) {
        const std::uint32_t at = dataOffset + 18 + std::uint32_t(data.size());
        const std::uint32_t header = p.version == 0 ? 12 : 13;
        data.u16(p.version).u16(header + std::uint32_t(p.payload.size())).u16(p.stream).u32(p.ts);
        if (p.version == 0)
            data.u8(0);
        else
            data.u16(0);
        data.u8(p.flags).raw(p.payload);
        if (p.flags & 2)
            keys[p.stream].push_back({p.ts, at});
        ++count;
    }
    const std::uint32_t dataSize = options.dataSize.value_or(18 + std::uint32_t(data.size()));
    const std::uint32_t indexOffset = options.index ? dataOffset + 18 + std::uint32_t(data.size()) : 0;

    Bytes prop;
    prop.tag("PROP").u32(50).u16(0);
    prop.u32(1000).u32(800).u32(100).u32(50).u32(count); // rates, packet sizes, packets
    prop.u32(1234).u32(0).u32(indexOffset).u32(options.withData ? dataOffset : 0); // duration, preroll, offsets
    prop.u16(std::uint32_t(streams.size())).u16(0x0003);  // streams, flags

    Bytes file;
    file.raw(head.v).raw(prop.v).raw(cont.v).raw(mdprs.v);
    if (options.withData) {
        file.tag("DATA").u32(dataSize).u16(0).u32(options.numPackets.value_or(count)).u32(0);
        file.raw(data.v);
    }
    if (options.index) {
        std::uint32_t pos = indexOffset;
        std::size_t n = 0;
        for (const auto &[stream, list] : keys) {
            const std::uint32_t size = 20 + 14 * std::uint32_t(list.size());
            const bool lastChunk = ++n == keys.size();
            file.tag("INDX").u32(options.indexSizeQuirk ? 20 : size).u16(0);
            file.u32(std::uint32_t(list.size())).u16(stream).u32(lastChunk ? 0 : pos + size);
            for (const auto &[ts, at] : list)
                file.u16(0).u32(ts).u32(at).u32(0);
            pos += size;
        }
    }
    file.raw(options.trailer);
    file.v.resize(file.v.size() - std::min(options.truncateBy, file.v.size()));
    return file.v;
}

std::vector<std::uint8_t> WholeFrame(std::uint8_t fill, std::size_t size)
{
    std::vector<std::uint8_t> p(size, fill);
    p[0] = 0x40; // type 1: one whole frame
    return p;
}

std::vector<std::uint8_t> Fragment(bool last, std::uint8_t number, std::uint8_t fill,
                                   std::size_t size)
{
    std::vector<std::uint8_t> p(size, fill);
    p[0] = last ? 0x80 : 0x00; // type 2 or 0
    p[1] = number;
    return p;
}

Clip MakeClip(int frames, int gop, bool swapNumbers)
{
    Clip c;
    const std::uint16_t video = swapNumbers ? 1 : 0;
    const std::uint16_t audio = swapNumbers ? 0 : 1;
    SynthStream v{video, "video/x-pn-realvideo", Vido("RV20", 176, 144), 0};
    SynthStream a{audio, "audio/x-pn-realaudio", RaBlock(Ra4{}), 0};
    if (swapNumbers)
        c.streams = {a, v};
    else
        c.streams = {v, a};
    const int audioPackets = frames * 40 / 35;
    int ai = 0;
    for (int f = 0; f < frames; ++f) {
        const std::uint32_t ts = std::uint32_t(f) * 40;
        while (ai < audioPackets && std::uint32_t(ai) * 35 <= ts) {
            c.packets.push_back({audio, std::uint32_t(ai) * 35, 2, std::vector<std::uint8_t>(30, 0xA0)});
            ++ai;
        }
        const bool key = f % gop == 0;
        c.packets.push_back({video, ts, std::uint8_t(key ? 2 : 0), WholeFrame(std::uint8_t(f))});
    }
    return c;
}

} // namespace corva::rmff::test
