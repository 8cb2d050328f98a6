#include "rmff/RmChunks.h"

#include "rmff/RmError.h"

namespace corva::rmff {

std::string FourCcText(std::uint32_t tag)
{
    std::string s;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto c = static_cast<unsigned char>(tag >> shift);
        if (c >= 0x20 && c < 0x7f) {
            s += static_cast<char>(c);
        } else {
            static const char digits[] = "0123456789ABCDEF";
            s += "\\x";
            s += digits[c >> 4];
            s += digits[c & 15];
        }
    }
    return s;
}

namespace {

void RequireVersion0(const ChunkPreamble &pre, std::uint64_t at)
{
    if (pre.version != 0)
        throw RmError(ErrorKind::Unsupported,
                      FourCcText(pre.id) + " 块的版本 " + std::to_string(pre.version) + " 无法识别",
                      at);
}

std::vector<std::uint8_t> Begin(std::uint32_t id, std::uint16_t version = 0)
{
    std::vector<std::uint8_t> out;
    PutU32(out, id);
    PutU32(out, 0); // size, set by Finish()
    PutU16(out, version);
    return out;
}

std::vector<std::uint8_t> Finish(std::vector<std::uint8_t> out)
{
    SetU32At(out, 4, static_cast<std::uint32_t>(out.size()));
    return out;
}

void PutText16(std::vector<std::uint8_t> &out, const std::string &s, const char *what)
{
    if (s.size() > 0xFFFF)
        throw RmError(ErrorKind::Unsupported, std::string(what) + "超过 65535 字节");
    PutU16(out, static_cast<std::uint16_t>(s.size()));
    out.insert(out.end(), s.begin(), s.end());
}

void PutText8(std::vector<std::uint8_t> &out, const std::string &s, const char *what)
{
    if (s.size() > 0xFF)
        throw RmError(ErrorKind::Unsupported, std::string(what) + "超过 255 字节");
    PutU8(out, static_cast<std::uint8_t>(s.size()));
    out.insert(out.end(), s.begin(), s.end());
}

} // namespace

ChunkPreamble ParsePreamble(ByteReader &r)
{
    ChunkPreamble pre;
    pre.id = r.U32("标记");
    pre.size = r.U32("长度");
    pre.version = r.U16("版本");
    return pre;
}

FileHeader ParseFileHeader(ByteReader &r, const ChunkPreamble &pre)
{
    FileHeader h;
    h.objectVersion = pre.version;
    if (pre.version > 1)
        throw RmError(ErrorKind::Unsupported,
                      ".RMF 文件头的版本 " + std::to_string(pre.version) + " 无法识别",
                      r.FileOffset() - kPreambleSize);
    // Some writers store a 16-bit file version (a 16-byte header).
    h.fileVersion = r.Remaining() == 6 ? r.U16("file_version") : r.U32("file_version");
    h.numHeaders = r.U32("num_headers");
    return h;
}

Properties ParseProperties(ByteReader &r, const ChunkPreamble &pre)
{
    RequireVersion0(pre, r.FileOffset() - kPreambleSize);
    Properties p;
    p.maxBitRate = r.U32("max_bit_rate");
    p.avgBitRate = r.U32("avg_bit_rate");
    p.maxPacketSize = r.U32("max_packet_size");
    p.avgPacketSize = r.U32("avg_packet_size");
    p.numPackets = r.U32("num_packets");
    p.duration = r.U32("duration");
    p.preroll = r.U32("preroll");
    p.indexOffset = r.U32("index_offset");
    p.dataOffset = r.U32("data_offset");
    p.numStreams = r.U16("num_streams");
    p.flags = r.U16("flags");
    return p;
}

MediaProperties ParseMediaProperties(ByteReader &r, const ChunkPreamble &pre)
{
    RequireVersion0(pre, r.FileOffset() - kPreambleSize);
    MediaProperties m;
    m.streamNumber = r.U16("stream_number");
    m.maxBitRate = r.U32("max_bit_rate");
    m.avgBitRate = r.U32("avg_bit_rate");
    m.maxPacketSize = r.U32("max_packet_size");
    m.avgPacketSize = r.U32("avg_packet_size");
    m.startTime = r.U32("start_time");
    m.preroll = r.U32("preroll");
    m.duration = r.U32("duration");
    m.name = r.Text(r.U8("stream_name_size"), "stream_name");
    m.mime = r.Text(r.U8("mime_type_size"), "mime_type");
    const std::uint32_t length = r.U32("type_specific_len");
    const auto bytes = r.Bytes(length, "type_specific_data");
    m.typeSpecific.assign(bytes.begin(), bytes.end());
    return m;
}

Content ParseContent(ByteReader &r, const ChunkPreamble &pre)
{
    RequireVersion0(pre, r.FileOffset() - kPreambleSize);
    Content c;
    c.title = r.Text(r.U16("title_len"), "title");
    c.author = r.Text(r.U16("author_len"), "author");
    c.copyright = r.Text(r.U16("copyright_len"), "copyright");
    c.comment = r.Text(r.U16("comment_len"), "comment");
    return c;
}

DataHeader ParseDataHeader(ByteReader &r, const ChunkPreamble &pre, std::uint64_t chunkOffset)
{
    RequireVersion0(pre, chunkOffset);
    DataHeader d;
    d.offset = chunkOffset;
    d.size = pre.size;
    d.numPackets = r.U32("num_packets");
    d.nextDataHeader = r.U32("next_data_header");
    return d;
}

IndexHeader ParseIndexHeader(ByteReader &r, const ChunkPreamble &pre, std::uint64_t chunkOffset)
{
    RequireVersion0(pre, chunkOffset);
    IndexHeader h;
    h.offset = chunkOffset;
    h.size = pre.size;
    h.numIndices = r.U32("num_indices");
    h.streamNumber = r.U16("stream_number");
    h.nextIndexHeader = r.U32("next_index_header");
    return h;
}

IndexRecord ParseIndexRecord(ByteReader &r)
{
    const std::uint64_t at = r.FileOffset();
    const std::uint16_t version = r.U16("索引记录版本");
    if (version != 0)
        throw RmError(ErrorKind::Corrupt, "索引记录的版本 " + std::to_string(version) + " 无法识别",
                      at);
    IndexRecord rec;
    rec.timestamp = r.U32("timestamp");
    rec.offset = r.U32("offset");
    rec.packetCount = r.U32("packet_count");
    return rec;
}

PacketHeader ParsePacketHeader(ByteReader &r)
{
    const std::uint64_t at = r.FileOffset();
    PacketHeader h;
    h.version = r.U16("数据包版本");
    if (h.version > 1)
        throw RmError(ErrorKind::Corrupt, "数据包的版本 " + std::to_string(h.version) + " 无法识别",
                      at);
    h.length = r.U16("数据包长度");
    h.streamNumber = r.U16("流号");
    h.timestamp = r.U32("时间戳");
    if (h.version == 0)
        h.asmRule = r.U8("packet_group");
    else
        h.asmRule = r.U16("asm_rule");
    h.flags = r.U8("flags");
    if (h.length < h.HeaderSize())
        throw RmError(ErrorKind::Corrupt,
                      "数据包长度 " + std::to_string(h.length) + " 小于包头长度", at);
    return h;
}

std::vector<std::uint8_t> SerializeFileHeader(const FileHeader &h)
{
    auto out = Begin(kTagRmf, h.objectVersion);
    PutU32(out, h.fileVersion);
    PutU32(out, h.numHeaders);
    return Finish(std::move(out));
}

std::vector<std::uint8_t> SerializeProperties(const Properties &p)
{
    auto out = Begin(kTagProp);
    for (std::uint32_t v : {p.maxBitRate, p.avgBitRate, p.maxPacketSize, p.avgPacketSize,
                            p.numPackets, p.duration, p.preroll, p.indexOffset, p.dataOffset})
        PutU32(out, v);
    PutU16(out, p.numStreams);
    PutU16(out, p.flags);
    return Finish(std::move(out));
}

std::vector<std::uint8_t> SerializeMediaProperties(const MediaProperties &m)
{
    auto out = Begin(kTagMdpr);
    PutU16(out, m.streamNumber);
    for (std::uint32_t v : {m.maxBitRate, m.avgBitRate, m.maxPacketSize, m.avgPacketSize,
                            m.startTime, m.preroll, m.duration})
        PutU32(out, v);
    PutText8(out, m.name, "流名称");
    PutText8(out, m.mime, "MIME 类型");
    PutU32(out, static_cast<std::uint32_t>(m.typeSpecific.size()));
    PutBytes(out, m.typeSpecific);
    return Finish(std::move(out));
}

std::vector<std::uint8_t> SerializeContent(const Content &c)
{
    auto out = Begin(kTagCont);
    PutText16(out, c.title, "标题");
    PutText16(out, c.author, "作者");
    PutText16(out, c.copyright, "版权");
    PutText16(out, c.comment, "注释");
    return Finish(std::move(out));
}

std::vector<std::uint8_t> SerializeDataHeader(std::uint32_t size, std::uint32_t numPackets,
                                              std::uint32_t next)
{
    auto out = Begin(kTagData);
    PutU32(out, numPackets);
    PutU32(out, next);
    SetU32At(out, 4, size);
    return out;
}

std::vector<std::uint8_t> SerializeIndex(std::uint16_t stream, std::uint32_t next,
                                         std::span<const IndexRecord> records)
{
    auto out = Begin(kTagIndx);
    PutU32(out, static_cast<std::uint32_t>(records.size()));
    PutU16(out, stream);
    PutU32(out, next);
    for (const IndexRecord &rec : records) {
        PutU16(out, 0);
        PutU32(out, rec.timestamp);
        PutU32(out, rec.offset);
        PutU32(out, rec.packetCount);
    }
    return Finish(std::move(out));
}

std::vector<std::uint8_t> SerializePacketHeader(const PacketHeader &h)
{
    std::vector<std::uint8_t> out;
    PutU16(out, h.version);
    PutU16(out, h.length);
    PutU16(out, h.streamNumber);
    PutU32(out, h.timestamp);
    if (h.version == 0)
        PutU8(out, static_cast<std::uint8_t>(h.asmRule));
    else
        PutU16(out, h.asmRule);
    PutU8(out, h.flags);
    return out;
}

} // namespace corva::rmff
