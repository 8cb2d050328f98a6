#pragma once

#include "rmff/ByteSink.h"
#include "rmff/RmLimits.h"
#include "rmff/RmObjects.h"

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

namespace corva::rmff {

struct WriterOptions
{
    // Start a new DATA chunk after this many packets; 0 writes one chunk. Only for producing
    // test material: the joiner always writes one chunk.
    std::uint32_t packetsPerDataChunk = 0;
    bool writeIndex = true;
    // Past this many records a stream's index keeps every other one, so that memory stays
    // bounded however long the file; real files stay far below it.
    std::size_t maxIndexRecordsPerStream = std::size_t{1} << 19;
    // Nothing is written past this size (never past the shared RealMedia limit).
    std::uint64_t maxFileBytes = kMaxFileBytes;
};

// Writes .RMF, PROP, MDPR…, CONT, DATA and INDX. The headers go out first with the values
// known then and are rewritten in place by Finish(), when the totals are known; their layout
// does not change, so nothing moves.
class RmWriter final
{
public:
    RmWriter(ByteSink &sink, FileHeader file, Properties props, std::vector<MediaProperties> streams,
             Content content, WriterOptions options = {});

    // Writes the headers and opens the DATA chunk.
    void Begin();
    // Appends one packet (its length field is set from the payload); returns its offset.
    std::uint64_t WritePacket(PacketHeader header, std::span<const std::uint8_t> payload);
    // Packets written so far, over all streams.
    std::uint32_t PacketCount() const { return m_packets; }
    void AddIndexRecord(std::uint16_t stream, const IndexRecord &record);
    // Closes DATA, writes the index and rewrites the headers from `props` and `streams`
    // (counts and offsets filled in here).
    void Finish(Properties props, std::vector<MediaProperties> streams);

private:
    std::vector<std::uint8_t> Headers(const Properties &props,
                                      const std::vector<MediaProperties> &streams) const;
    void OpenData();
    void CloseData(std::uint32_t next);
    void CheckRoom(std::uint64_t more) const;

    ByteSink &m_sink;
    FileHeader m_file;
    Properties m_props;
    std::vector<MediaProperties> m_streams;
    Content m_content;
    WriterOptions m_options;

    std::uint64_t m_headerSize = 0;
    std::uint64_t m_firstData = 0;
    std::uint64_t m_dataStart = 0; // of the open DATA chunk
    std::uint32_t m_dataPackets = 0;
    std::uint32_t m_packets = 0;
    std::map<std::uint16_t, std::vector<IndexRecord>> m_indexRecords;
};

} // namespace corva::rmff
