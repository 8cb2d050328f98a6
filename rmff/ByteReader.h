#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace corva::rmff {

// Big-endian reads over a span that can never leave it. Every read checks
// `count <= size - pos` and throws RmError: Truncated when the span ends where the file
// ends (the bytes are missing), Corrupt when it ends where a chunk says it ends (a field
// overruns its chunk).
class ByteReader final
{
public:
    // `base` is the file offset of data[0], so that errors name file offsets.
    ByteReader(std::span<const std::uint8_t> data, std::uint64_t base, bool endIsFileEnd,
               std::string context);

    std::uint8_t U8(const char *field);
    std::uint16_t U16(const char *field);
    std::uint32_t U32(const char *field);
    std::span<const std::uint8_t> Bytes(std::size_t count, const char *field);
    std::string Text(std::size_t count, const char *field);
    void Skip(std::size_t count, const char *field);

    // A reader over the next `count` bytes, which ends where they end.
    ByteReader Sub(std::size_t count, const char *field, std::string context);

    std::size_t Pos() const { return m_pos; }
    std::size_t Remaining() const { return m_data.size() - m_pos; }
    std::uint64_t FileOffset() const { return m_base + m_pos; }

private:
    void Need(std::size_t count, const char *field) const;

    std::span<const std::uint8_t> m_data;
    std::uint64_t m_base = 0;
    bool m_endIsFileEnd = false;
    std::string m_context;
    std::size_t m_pos = 0;
};

// Big-endian stores for the writer.
void PutU8(std::vector<std::uint8_t> &out, std::uint8_t v);
void PutU16(std::vector<std::uint8_t> &out, std::uint16_t v);
void PutU32(std::vector<std::uint8_t> &out, std::uint32_t v);
void PutBytes(std::vector<std::uint8_t> &out, std::span<const std::uint8_t> bytes);
void SetU32At(std::vector<std::uint8_t> &out, std::size_t at, std::uint32_t v);
std::uint16_t GetU16(const std::uint8_t *p);
std::uint32_t GetU32(const std::uint8_t *p);

} // namespace corva::rmff
