#pragma once

#include "rmff/ByteReader.h"
#include "rmff/RmObjects.h"

#include <cstdint>
#include <span>
#include <vector>

namespace corva::rmff {

// One parse function per object. Each takes a reader bounded to its object, standing just
// after the 10-byte preamble, and throws RmError on anything it cannot accept.
ChunkPreamble ParsePreamble(ByteReader &r);
FileHeader ParseFileHeader(ByteReader &r, const ChunkPreamble &pre);
Properties ParseProperties(ByteReader &r, const ChunkPreamble &pre);
MediaProperties ParseMediaProperties(ByteReader &r, const ChunkPreamble &pre);
Content ParseContent(ByteReader &r, const ChunkPreamble &pre);
// DATA and INDX headers only: their packets and records are read as a stream.
DataHeader ParseDataHeader(ByteReader &r, const ChunkPreamble &pre, std::uint64_t chunkOffset);
IndexHeader ParseIndexHeader(ByteReader &r, const ChunkPreamble &pre, std::uint64_t chunkOffset);
IndexRecord ParseIndexRecord(ByteReader &r);
// `r` holds at least the header bytes; checks the version and the length against it.
PacketHeader ParsePacketHeader(ByteReader &r);

// The writer's side: whole objects, preamble included.
std::vector<std::uint8_t> SerializeFileHeader(const FileHeader &h);
std::vector<std::uint8_t> SerializeProperties(const Properties &p);
std::vector<std::uint8_t> SerializeMediaProperties(const MediaProperties &m);
std::vector<std::uint8_t> SerializeContent(const Content &c);
std::vector<std::uint8_t> SerializeDataHeader(std::uint32_t size, std::uint32_t numPackets,
                                              std::uint32_t next);
std::vector<std::uint8_t> SerializeIndex(std::uint16_t stream, std::uint32_t next,
                                         std::span<const IndexRecord> records);
std::vector<std::uint8_t> SerializePacketHeader(const PacketHeader &h);

} // namespace corva::rmff
