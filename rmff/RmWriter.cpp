#include "rmff/RmWriter.h"

#include "rmff/RmChunks.h"
#include "rmff/RmError.h"
#include "rmff/RmLimits.h"

#include <algorithm>

namespace corva::rmff {

RmWriter::RmWriter(ByteSink &sink, FileHeader file, Properties props,
                   std::vector<MediaProperties> streams, Content content, WriterOptions options)
    : m_sink(sink), m_file(file), m_props(props), m_streams(std::move(streams)),
      m_content(std::move(content)), m_options(options)
{
}

std::vector<std::uint8_t> RmWriter::Headers(const Properties &props,
                                            const std::vector<MediaProperties> &streams) const
{
    std::vector<std::uint8_t> out = SerializeFileHeader(m_file);
    const auto append = [&out](const std::vector<std::uint8_t> &chunk) {
        out.insert(out.end(), chunk.begin(), chunk.end());
    };
    append(SerializeProperties(props));
    for (const MediaProperties &m : streams)
        append(SerializeMediaProperties(m));
    append(SerializeContent(m_content));
    return out;
}

void RmWriter::CheckRoom(std::uint64_t more) const
{
    // The tests of the writer may set a smaller limit; nothing ever passes the shared one.
    const std::uint64_t limit = std::min(m_options.maxFileBytes, kMaxFileBytes);
    if (m_sink.Size() > limit || more > limit - m_sink.Size())
        throw RmError(ErrorKind::Output, "合并后的文件将超过 " + MaxFileBytesText() +
                                             "，播放器把 RealMedia 文件中的偏移量当作有符号 32 位数读取，无法写入");
}

void RmWriter::Begin()
{
    Properties props = m_props;
    props.dataOffset = 0;
    props.indexOffset = 0;
    const auto headers = Headers(props, m_streams);
    m_headerSize = headers.size();
    m_sink.Write(headers);
    m_firstData = m_sink.Size();
    OpenData();
}

void RmWriter::OpenData()
{
    CheckRoom(kDataHeaderSize);
    m_dataStart = m_sink.Size();
    m_dataPackets = 0;
    m_sink.Write(SerializeDataHeader(kDataHeaderSize, 0, 0));
}

void RmWriter::CloseData(std::uint32_t next)
{
    const std::uint64_t size = m_sink.Size() - m_dataStart;
    m_sink.WriteAt(m_dataStart,
                   SerializeDataHeader(static_cast<std::uint32_t>(size), m_dataPackets, next));
}

std::uint64_t RmWriter::WritePacket(PacketHeader header, std::span<const std::uint8_t> payload)
{
    const std::size_t length = header.HeaderSize() + payload.size();
    if (length > 0xFFFF)
        throw RmError(ErrorKind::Output, "数据包超过 65535 字节");
    if (m_options.packetsPerDataChunk != 0 && m_dataPackets == m_options.packetsPerDataChunk) {
        CloseData(static_cast<std::uint32_t>(m_sink.Size()));
        OpenData();
    }
    CheckRoom(length);
    header.length = static_cast<std::uint16_t>(length);
    const std::uint64_t offset = m_sink.Size();
    m_sink.Write(SerializePacketHeader(header));
    m_sink.Write(payload);
    ++m_dataPackets;
    ++m_packets;
    return offset;
}

void RmWriter::AddIndexRecord(std::uint16_t stream, const IndexRecord &record)
{
    if (!m_options.writeIndex)
        return;
    auto &records = m_indexRecords[stream];
    records.push_back(record);
    if (records.size() > m_options.maxIndexRecordsPerStream && records.size() >= 2) {
        std::size_t kept = 0;
        for (std::size_t i = 0; i < records.size(); i += 2)
            records[kept++] = records[i];
        records.resize(kept);
    }
}

void RmWriter::Finish(Properties props, std::vector<MediaProperties> streams)
{
    CloseData(0);
    props.dataOffset = static_cast<std::uint32_t>(m_firstData);
    props.numPackets = m_packets;
    props.indexOffset = 0;

    // One chunk per stream that has records, in the order of the stream headers.
    std::vector<std::uint16_t> order;
    for (const MediaProperties &m : streams) {
        const auto it = m_indexRecords.find(m.streamNumber);
        if (it != m_indexRecords.end() && !it->second.empty())
            order.push_back(m.streamNumber);
    }
    for (std::size_t i = 0; i < order.size(); ++i) {
        const auto &records = m_indexRecords[order[i]];
        const std::uint64_t size = kIndexHeaderSize + std::uint64_t{records.size()} * kIndexRecordSize;
        CheckRoom(size);
        const std::uint64_t at = m_sink.Size();
        if (i == 0)
            props.indexOffset = static_cast<std::uint32_t>(at);
        const std::uint32_t next = i + 1 < order.size() ? static_cast<std::uint32_t>(at + size) : 0;
        m_sink.Write(SerializeIndex(order[i], next, records));
    }

    const auto headers = Headers(props, streams);
    if (headers.size() != m_headerSize)
        throw RmError(ErrorKind::Output, "文件头的长度在写入过程中改变了");
    m_sink.WriteAt(0, headers);
}

} // namespace corva::rmff
