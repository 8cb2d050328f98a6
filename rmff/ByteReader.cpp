#include "rmff/ByteReader.h"

#include "rmff/RmError.h"

namespace corva::rmff {

ByteReader::ByteReader(std::span<const std::uint8_t> data, std::uint64_t base, bool endIsFileEnd,
                       std::string context)
    : m_data(data), m_base(base), m_endIsFileEnd(endIsFileEnd), m_context(std::move(context))
{
}

void ByteReader::Need(std::size_t count, const char *field) const
{
    if (count <= m_data.size() - m_pos)
        return;
    if (m_endIsFileEnd)
        throw RmError(ErrorKind::Truncated,
                      m_context + " 的 " + field + " 在文件末尾之后", FileOffset());
    throw RmError(ErrorKind::Corrupt, m_context + " 的 " + field + " 超出了块的长度",
                  FileOffset());
}

std::uint8_t ByteReader::U8(const char *field)
{
    Need(1, field);
    return m_data[m_pos++];
}

std::uint16_t ByteReader::U16(const char *field)
{
    Need(2, field);
    const std::uint16_t v = GetU16(m_data.data() + m_pos);
    m_pos += 2;
    return v;
}

std::uint32_t ByteReader::U32(const char *field)
{
    Need(4, field);
    const std::uint32_t v = GetU32(m_data.data() + m_pos);
    m_pos += 4;
    return v;
}

std::span<const std::uint8_t> ByteReader::Bytes(std::size_t count, const char *field)
{
    Need(count, field);
    auto s = m_data.subspan(m_pos, count);
    m_pos += count;
    return s;
}

std::string ByteReader::Text(std::size_t count, const char *field)
{
    auto s = Bytes(count, field);
    return std::string(s.begin(), s.end());
}

void ByteReader::Skip(std::size_t count, const char *field)
{
    Need(count, field);
    m_pos += count;
}

ByteReader ByteReader::Sub(std::size_t count, const char *field, std::string context)
{
    Need(count, field);
    ByteReader sub(m_data.subspan(m_pos, count), FileOffset(), false, std::move(context));
    m_pos += count;
    return sub;
}

void PutU8(std::vector<std::uint8_t> &out, std::uint8_t v)
{
    out.push_back(v);
}

void PutU16(std::vector<std::uint8_t> &out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

void PutU32(std::vector<std::uint8_t> &out, std::uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void PutBytes(std::vector<std::uint8_t> &out, std::span<const std::uint8_t> bytes)
{
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void SetU32At(std::vector<std::uint8_t> &out, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

std::uint16_t GetU16(const std::uint8_t *p)
{
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

std::uint32_t GetU32(const std::uint8_t *p)
{
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

} // namespace corva::rmff
