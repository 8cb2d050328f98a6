#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corva::rmff {

// Four-character codes as they appear in the file, read big-endian.
constexpr std::uint32_t FourCc(const char (&s)[5])
{
    return (std::uint32_t(std::uint8_t(s[0])) << 24) | (std::uint32_t(std::uint8_t(s[1])) << 16) |
           (std::uint32_t(std::uint8_t(s[2])) << 8) | std::uint32_t(std::uint8_t(s[3]));
}
// The same from the first four characters of a name known at run time (a bitstream's FOURCC).
constexpr std::uint32_t FourCc(std::string_view s)
{
    return s.size() < 4 ? 0
                        : (std::uint32_t(std::uint8_t(s[0])) << 24) | (std::uint32_t(std::uint8_t(s[1])) << 16) |
                              (std::uint32_t(std::uint8_t(s[2])) << 8) | std::uint32_t(std::uint8_t(s[3]));
}
std::string FourCcText(std::uint32_t tag);

constexpr std::uint32_t kTagRmf = FourCc(".RMF");
constexpr std::uint32_t kTagProp = FourCc("PROP");
constexpr std::uint32_t kTagMdpr = FourCc("MDPR");
constexpr std::uint32_t kTagCont = FourCc("CONT");
constexpr std::uint32_t kTagData = FourCc("DATA");
constexpr std::uint32_t kTagIndx = FourCc("INDX");

constexpr std::uint32_t kPreambleSize = 10;
constexpr std::uint32_t kFileHeaderSize = 18;
constexpr std::uint32_t kPropertiesSize = 50;
constexpr std::uint32_t kDataHeaderSize = 18;
constexpr std::uint32_t kIndexHeaderSize = 20;
constexpr std::uint32_t kIndexRecordSize = 14;

constexpr std::uint16_t kFlagLive = 0x0004;
constexpr std::uint8_t kPacketKeyframe = 0x02;

struct ChunkPreamble
{
    std::uint32_t id = 0;
    std::uint32_t size = 0; // the whole object, preamble included
    std::uint16_t version = 0;
};

struct FileHeader
{
    std::uint16_t objectVersion = 0;
    std::uint32_t fileVersion = 0;
    std::uint32_t numHeaders = 0;
};

struct Properties
{
    std::uint32_t maxBitRate = 0;
    std::uint32_t avgBitRate = 0;
    std::uint32_t maxPacketSize = 0;
    std::uint32_t avgPacketSize = 0;
    std::uint32_t numPackets = 0;
    std::uint32_t duration = 0; // ms
    std::uint32_t preroll = 0;
    std::uint32_t indexOffset = 0;
    std::uint32_t dataOffset = 0;
    std::uint16_t numStreams = 0;
    std::uint16_t flags = 0;
};

struct MediaProperties
{
    std::uint16_t streamNumber = 0;
    std::uint32_t maxBitRate = 0;
    std::uint32_t avgBitRate = 0;
    std::uint32_t maxPacketSize = 0;
    std::uint32_t avgPacketSize = 0;
    std::uint32_t startTime = 0;
    std::uint32_t preroll = 0;
    std::uint32_t duration = 0;
    std::string name;
    std::string mime;
    std::vector<std::uint8_t> typeSpecific;
};

// Texts in whatever code page the producer used; lengths are byte counts.
struct Content
{
    std::string title;
    std::string author;
    std::string copyright;
    std::string comment;
};

struct DataHeader
{
    std::uint64_t offset = 0; // of the chunk
    std::uint32_t size = 0;   // as stored; may be 0 or wrong
    std::uint32_t numPackets = 0;
    std::uint32_t nextDataHeader = 0;
};

struct IndexHeader
{
    std::uint64_t offset = 0;
    std::uint32_t size = 0;
    std::uint32_t numIndices = 0;
    std::uint16_t streamNumber = 0;
    std::uint32_t nextIndexHeader = 0;
};

struct IndexRecord
{
    std::uint32_t timestamp = 0;
    std::uint32_t offset = 0;      // of the packet header, from the start of the file
    std::uint32_t packetCount = 0; // packets of all streams before this one
};

struct PacketHeader
{
    std::uint16_t version = 0; // 0: 12-byte header, 1: 13-byte header
    std::uint16_t length = 0;  // header included
    std::uint16_t streamNumber = 0;
    std::uint32_t timestamp = 0;
    std::uint16_t asmRule = 0; // packet_group in version 0
    std::uint8_t flags = 0;

    std::uint16_t HeaderSize() const { return version == 0 ? 12 : 13; }
};

} // namespace corva::rmff
