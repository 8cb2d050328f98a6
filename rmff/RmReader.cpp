#include "rmff/RmReader.h"

#include "rmff/ByteReader.h"
#include "rmff/RmChunks.h"

#include <algorithm>
#include <array>

namespace corva::rmff {

namespace {

// Header objects are small; anything larger is a broken size field, not a real header.
constexpr std::uint32_t kMaxHeaderChunk = 4u << 20;
// Index records are streamed in blocks of this many.
constexpr std::size_t kIndexBlock = 4096;

} // namespace

RmReader::RmReader(ByteSource &source, std::string name)
    : m_source(source), m_name(std::move(name)), m_size(source.Size())
{
    try {
        ReadHeaders();
    } catch (const RmError &e) {
        throw e.WithFile(m_name);
    }
}

void RmReader::Fail(ErrorKind kind, const std::string &detail, std::uint64_t offset) const
{
    throw RmError(kind, detail, offset, m_name);
}

std::size_t RmReader::ReadSome(std::uint64_t pos, std::span<std::uint8_t> out)
{
    return m_source.ReadAt(pos, out);
}

std::vector<std::uint8_t> RmReader::ReadExact(std::uint64_t pos, std::size_t count)
{
    std::vector<std::uint8_t> bytes(count);
    bytes.resize(ReadSome(pos, bytes));
    return bytes;
}

const MediaProperties *RmReader::Stream(std::uint16_t number) const
{
    const auto it = m_streamByNumber.find(number);
    return it == m_streamByNumber.end() ? nullptr : &m_streams[it->second];
}

void RmReader::ReadHeaders()
{
    if (m_size == 0)
        Fail(ErrorKind::Unsupported, "文件是空的，不是 RealMedia 文件", 0);
    auto head = ReadExact(0, kFileHeaderSize);
    if (head.size() >= 4 && GetU32(head.data()) == FourCc(".ra\xFD"))
        Fail(ErrorKind::Unsupported, "这是旧式 RealAudio 文件（.ra），不是 RealMedia 文件", 0);
    if (head.size() < 4 || GetU32(head.data()) != kTagRmf)
        Fail(ErrorKind::Unsupported, "不是 RealMedia 文件（开头没有 .RMF 标记）", 0);
    {
        ByteReader r(head, 0, head.size() < kFileHeaderSize, ".RMF 文件头");
        const ChunkPreamble pre = ParsePreamble(r);
        if (pre.size < 16 || pre.size > kMaxHeaderChunk)
            Fail(ErrorKind::Corrupt, ".RMF 文件头的长度 " + std::to_string(pre.size) + " 不合理", 4);
        head = ReadExact(0, pre.size);
        ByteReader whole(head, 0, head.size() < pre.size, ".RMF 文件头");
        whole.Skip(kPreambleSize, "前导");
        m_fileHeader = ParseFileHeader(whole, pre);
        m_pos = pre.size;
    }

    bool haveProps = false;
    std::uint64_t pos = m_pos;
    while (m_size - pos >= kPreambleSize) {
        const auto preBytes = ReadExact(pos, kPreambleSize);
        ByteReader pr(preBytes, pos, true, "块");
        const ChunkPreamble pre = ParsePreamble(pr);
        if (pre.id == 0)
            break; // zero padding after the last object
        if (pre.id == kTagData) {
            if (!haveProps)
                Fail(ErrorKind::Corrupt, "DATA 块之前没有 PROP 块", pos);
            BeginData(pos, pre);
            return;
        }
        if (pre.size < kPreambleSize)
            Fail(ErrorKind::Corrupt,
                 FourCcText(pre.id) + " 块的长度 " + std::to_string(pre.size) + " 小于 10", pos);
        if (pre.id == kTagIndx) {
            AddIndex(pos, pre);
            pos = m_furthest;
            continue;
        }
        // Texts in a layout we do not know are only texts: input 1's would be replaced anyway.
        const bool known = pre.id == kTagProp || pre.id == kTagMdpr ||
                           (pre.id == kTagCont && pre.version == 0);
        if (!known) {
            // Metadata trailers (RMMD, TAG …) do not keep to the common framing: a size that
            // runs past the end marks the end of what we can walk.
            if (pre.size > m_size - pos)
                break;
            pos += pre.size;
            continue;
        }
        if (pre.size > kMaxHeaderChunk)
            Fail(ErrorKind::Corrupt,
                 FourCcText(pre.id) + " 块的长度 " + std::to_string(pre.size) + " 不合理", pos);
        const auto bytes = ReadExact(pos, pre.size);
        ByteReader r(bytes, pos, bytes.size() < pre.size, FourCcText(pre.id) + " 块");
        r.Skip(kPreambleSize, "前导");
        if (pre.id == kTagProp) {
            if (haveProps)
                Fail(ErrorKind::Corrupt, "文件中有两个 PROP 块", pos);
            m_props = ParseProperties(r, pre);
            haveProps = true;
        } else if (pre.id == kTagMdpr) {
            MediaProperties m = ParseMediaProperties(r, pre);
            if (m_streamByNumber.count(m.streamNumber) != 0)
                Fail(ErrorKind::Corrupt, "流号 " + std::to_string(m.streamNumber) + " 出现了两次",
                     pos);
            m_streamByNumber[m.streamNumber] = m_streams.size();
            m_streams.push_back(std::move(m));
        } else {
            if (m_content)
                Fail(ErrorKind::Corrupt, "文件中有两个 CONT 块", pos);
            m_content = ParseContent(r, pre);
        }
        if (bytes.size() < pre.size)
            Fail(ErrorKind::Truncated, FourCcText(pre.id) + " 块在文件末尾之后才结束", pos);
        pos += pre.size;
    }
    if (!haveProps)
        Fail(ErrorKind::Corrupt, "缺少 PROP 块", pos);
    m_state = State::Done;
}

void RmReader::BeginData(std::uint64_t pos, const ChunkPreamble &pre)
{
    const auto bytes = ReadExact(pos, kDataHeaderSize);
    ByteReader r(bytes, pos, true, "DATA 块");
    r.Skip(kPreambleSize, "前导");
    DataHeader d = ParseDataHeader(r, pre, pos);
    m_seenChunks.insert(pos);
    m_data.push_back(d);
    // A stored size of 0 (live capture) or past the end (some muxers overstate it) cannot be
    // used; the packets themselves then show where the chunk ends.
    m_sizeTrusted = d.size >= kDataHeaderSize && d.size <= m_size - pos;
    m_dataEnd = m_sizeTrusted ? pos + d.size : m_size;
    m_pos = pos + kDataHeaderSize;
    m_chunkCount = 0;
    m_furthest = std::max(m_furthest, m_pos);
    m_state = State::InData;
}

void RmReader::AddIndex(std::uint64_t pos, const ChunkPreamble &pre)
{
    const auto bytes = ReadExact(pos, kIndexHeaderSize);
    ByteReader r(bytes, pos, true, "INDX 块");
    r.Skip(kPreambleSize, "前导");
    IndexHeader h = ParseIndexHeader(r, pre, pos);
    const std::uint64_t records = std::uint64_t{h.numIndices} * kIndexRecordSize;
    // Some writers store 20 even though records follow.
    std::uint64_t size = h.size == kIndexHeaderSize ? kIndexHeaderSize + records : h.size;
    if (size < kIndexHeaderSize + records)
        Fail(ErrorKind::Corrupt,
             "INDX 块声明 " + std::to_string(h.numIndices) + " 条记录，超出了块的长度", pos);
    if (size > m_size - pos)
        Fail(ErrorKind::Truncated, "INDX 块在文件末尾之后才结束", pos);
    h.size = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, UINT32_MAX));
    if (m_seenChunks.insert(pos).second)
        m_index.push_back(h);
    m_furthest = std::max(m_furthest, pos + size);
}

bool RmReader::NextPacket(Packet &out)
{
    try {
        while (m_state == State::InData) {
            // The chunk's packet count only says what its writer meant to write: packets
            // beyond it are read too (EndData notes the difference), so none is lost quietly.
            if (m_dataEnd - m_pos < 12) {
                EndData(m_pos);
                continue;
            }
            std::array<std::uint8_t, 13> hb{};
            const std::size_t got = ReadSome(m_pos, hb);
            const std::uint16_t version = GetU16(hb.data());
            const std::uint16_t length = GetU16(hb.data() + 2);
            const std::uint16_t headerSize = version == 0 ? 12 : 13;
            // A following chunk tag ("IN", "DA", "RM") or padding fails these tests.
            if (version > 1 || length < headerSize || got < headerSize) {
                EndData(m_pos);
                continue;
            }
            if (length > m_dataEnd - m_pos) {
                if (length > m_size - m_pos)
                    Fail(ErrorKind::Truncated, "数据包在文件末尾之后才结束", m_pos);
                // A packet inside the chunk that runs past its stated end: the stated size is
                // the wrong one, and the packets themselves show where the chunk ends.
                const DataHeader &chunk = m_data.back();
                Note("DATA 块声明的长度 " + std::to_string(chunk.size) + " 字节容不下其中的数据包，已按数据包读取",
                     chunk.offset);
                m_sizeTrusted = false;
                m_dataEnd = m_size;
            }
            ByteReader r(std::span<const std::uint8_t>(hb.data(), got), m_pos, true, "数据包");
            out.header = ParsePacketHeader(r);
            if (!Stream(out.header.streamNumber))
                Fail(ErrorKind::Corrupt,
                     "数据包的流号 " + std::to_string(out.header.streamNumber) + " 没有对应的流",
                     m_pos);
            const std::size_t payloadSize = length - headerSize;
            m_payload.resize(payloadSize);
            if (ReadSome(m_pos + headerSize, m_payload) != payloadSize)
                Fail(ErrorKind::Truncated, "数据包在文件末尾之后才结束", m_pos);
            out.offset = m_pos;
            out.payload = m_payload;
            m_pos += length;
            m_furthest = std::max(m_furthest, m_pos);
            ++m_chunkCount;
            return true;
        }
        return false;
    } catch (const RmError &e) {
        m_state = State::Done;
        throw e.WithFile(m_name);
    }
}

void RmReader::Note(const std::string &detail, std::uint64_t offset)
{
    m_warnings.push_back(RmError(ErrorKind::Unsupported, detail, offset, m_name).what());
}

void RmReader::EndData(std::uint64_t endPos)
{
    const DataHeader &chunk = m_data.back();
    if (chunk.numPackets != 0 && m_chunkCount < chunk.numPackets) {
        const std::string detail = "DATA 块声明有 " + std::to_string(chunk.numPackets) +
                                   " 个数据包，只找到 " + std::to_string(m_chunkCount) + " 个";
        if (m_size - endPos < 12)
            Fail(ErrorKind::Truncated, detail, endPos);
        Fail(ErrorKind::Corrupt, detail, endPos);
    }
    if (chunk.numPackets != 0 && m_chunkCount > chunk.numPackets)
        Note("DATA 块声明有 " + std::to_string(chunk.numPackets) + " 个数据包，实际有 " +
                 std::to_string(m_chunkCount) + " 个；已全部读取",
             chunk.offset);
    std::uint64_t next = endPos;
    if (m_sizeTrusted && m_dataEnd - endPos >= 12 && !OnlyPadding(endPos, m_dataEnd)) {
        // What is left of the chunk could hold packets but is neither packets nor padding. A
        // chunk that begins there means the stated size ran over it; anything else is damage
        // that would hide packets.
        const auto tag = ReadExact(endPos, 4);
        const std::uint32_t id = tag.size() == 4 ? GetU32(tag.data()) : 0;
        const bool trailer = id == FourCc("RMMD") || (id >> 8) == (FourCc("TAG ") >> 8);
        if (id != kTagIndx && id != kTagData && !trailer)
            Fail(ErrorKind::Corrupt,
                 "DATA 块在这里还剩 " + std::to_string(m_dataEnd - endPos) + " 字节，但它们不是数据包",
                 endPos);
    } else if (m_sizeTrusted) {
        next = chunk.offset + chunk.size;
    }
    m_state = State::Done;
    WalkFrom(next);
}

// Zero bytes fill out some writers' chunks.
bool RmReader::OnlyPadding(std::uint64_t from, std::uint64_t to)
{
    std::array<std::uint8_t, 4096> block{};
    while (from < to) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), to - from));
        const std::size_t got = ReadSome(from, std::span<std::uint8_t>(block.data(), want));
        if (got == 0)
            return true;
        if (std::any_of(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(got), [](std::uint8_t b) { return b != 0; }))
            return false;
        from += got;
    }
    return true;
}

void RmReader::WalkFrom(std::uint64_t pos)
{
    for (;;) {
        m_furthest = std::max(m_furthest, pos);
        if (m_size - pos >= kPreambleSize) {
            const auto preBytes = ReadExact(pos, kPreambleSize);
            ByteReader pr(preBytes, pos, true, "块");
            const ChunkPreamble pre = ParsePreamble(pr);
            if (pre.id == kTagData && m_seenChunks.count(pos) == 0) {
                BeginData(pos, pre);
                return;
            }
            if (pre.id == kTagIndx) {
                // The packets are all read by now: a broken index only ends the walk.
                try {
                    if (pre.size < kPreambleSize)
                        Fail(ErrorKind::Corrupt, "INDX 块的长度 " + std::to_string(pre.size) + " 小于 10", pos);
                    AddIndex(pos, pre);
                    pos = m_furthest;
                    continue;
                } catch (const RmError &e) {
                    m_warnings.push_back(std::string(e.WithFile(m_name).what()) + "；索引已忽略");
                    return;
                }
            }
        }
        // Anything else ends the walk, but a forward link may still lead to more packets.
        for (const DataHeader &d : m_data) {
            const std::uint64_t next = d.nextDataHeader;
            if (next >= m_furthest && next <= m_size - kDataHeaderSize &&
                m_seenChunks.count(next) == 0) {
                const auto preBytes = ReadExact(next, kPreambleSize);
                ByteReader pr(preBytes, next, true, "DATA 块");
                const ChunkPreamble pre = ParsePreamble(pr);
                if (pre.id == kTagData) {
                    BeginData(next, pre);
                    return;
                }
            }
        }
        return;
    }
}

void RmReader::ReadIndex(const IndexHeader &chunk,
                         const std::function<void(const IndexRecord &)> &each)
{
    try {
        std::uint64_t pos = chunk.offset + kIndexHeaderSize;
        std::uint32_t left = chunk.numIndices;
        while (left != 0) {
            const std::size_t n = std::min<std::size_t>(left, kIndexBlock);
            const auto bytes = ReadExact(pos, n * kIndexRecordSize);
            ByteReader r(bytes, pos, true, "INDX 记录");
            for (std::size_t i = 0; i < n; ++i)
                each(ParseIndexRecord(r));
            pos += n * kIndexRecordSize;
            left -= static_cast<std::uint32_t>(n);
        }
    } catch (const RmError &e) {
        throw e.WithFile(m_name);
    }
}

} // namespace corva::rmff
