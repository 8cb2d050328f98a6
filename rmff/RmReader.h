#pragma once

#include "rmff/ByteSource.h"
#include "rmff/RmError.h"
#include "rmff/RmObjects.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace corva::rmff {

struct Packet
{
    PacketHeader header;
    std::uint64_t offset = 0;              // of the packet header in the file
    std::span<const std::uint8_t> payload; // valid until the next NextPacket()
};

// Reads a RealMedia file through a ByteSource without holding more of it than one header
// object or one packet. The constructor reads the headers up to the first DATA chunk; the
// packets are then streamed, and the chunks after them (more DATA, INDX) are found on the way.
// Every failure is an RmError that names the file and the offset.
class RmReader final
{
public:
    RmReader(ByteSource &source, std::string name);

    const std::string &Name() const { return m_name; }
    std::uint64_t FileSize() const { return m_size; }
    const FileHeader &File() const { return m_fileHeader; }
    const Properties &Props() const { return m_props; }
    const std::vector<MediaProperties> &Streams() const { return m_streams; }
    const MediaProperties *Stream(std::uint16_t number) const;
    const std::optional<Content> &ContentDescription() const { return m_content; }
    bool HasData() const { return !m_data.empty(); }

    // The next media packet in file order, over every DATA chunk; false after the last.
    bool NextPacket(Packet &out);

    // Chunks met so far; complete once NextPacket() has returned false.
    const std::vector<DataHeader> &DataChunks() const { return m_data; }
    const std::vector<IndexHeader> &IndexChunks() const { return m_index; }
    // Damage that did not stop the reading (a broken index after the packets, a packet count
    // or a chunk size that disagrees with the packets), for the user.
    const std::vector<std::string> &Warnings() const { return m_warnings; }
    // Streams the records of one index chunk.
    void ReadIndex(const IndexHeader &chunk, const std::function<void(const IndexRecord &)> &each);

private:
    enum class State { InData, Done };

    void ReadHeaders();
    void WalkFrom(std::uint64_t pos);
    void BeginData(std::uint64_t pos, const ChunkPreamble &pre);
    void EndData(std::uint64_t endPos);
    bool OnlyPadding(std::uint64_t from, std::uint64_t to);
    // Damage that does not stop the reading, for the user.
    void Note(const std::string &detail, std::uint64_t offset);
    void AddIndex(std::uint64_t pos, const ChunkPreamble &pre);
    std::vector<std::uint8_t> ReadExact(std::uint64_t pos, std::size_t count);
    std::size_t ReadSome(std::uint64_t pos, std::span<std::uint8_t> out);
    [[noreturn]] void Fail(ErrorKind kind, const std::string &detail, std::uint64_t offset) const;

    ByteSource &m_source;
    std::string m_name;
    std::uint64_t m_size = 0;

    FileHeader m_fileHeader;
    Properties m_props;
    std::vector<MediaProperties> m_streams;
    std::map<std::uint16_t, std::size_t> m_streamByNumber;
    std::optional<Content> m_content;
    std::vector<DataHeader> m_data;
    std::vector<IndexHeader> m_index;
    std::vector<std::string> m_warnings;
    std::set<std::uint64_t> m_seenChunks;

    State m_state = State::Done;
    std::uint64_t m_pos = 0;        // next packet
    std::uint64_t m_dataEnd = 0;    // where the current chunk's packets must stop
    bool m_sizeTrusted = false;     // the current chunk's stored size can be skipped by
    std::uint32_t m_chunkCount = 0; // packets read from the current chunk
    std::uint64_t m_furthest = 0;   // the end of everything walked, for forward-only links
    std::vector<std::uint8_t> m_payload;
};

} // namespace corva::rmff
