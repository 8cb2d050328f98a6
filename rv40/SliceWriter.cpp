#include "rv40/SliceWriter.h"

#include <algorithm>

#include "rv40/MbGrid.h"
#include "rv40/PictureContext.h"

namespace corva::rv40 {

void SliceWriter::Begin(int start, const QuantSet &qs)
{
    m_qs = qs;
    m_run = 0;
    SliceHeader h;
    h.kind = m_pc.kind;
    h.qs = &m_qs;
    h.timestamp = m_pc.timestamp;
    h.startMb = start;
    h.width = m_pc.width;
    h.height = m_pc.height;
    h.mbCount = m_grid.Count();
    m_pc.bitstream.WriteSliceHeader(m_bits, h);
}

void SliceWriter::Write(int n)
{
    const int mbx = n % m_grid.Width(), mby = n / m_grid.Width();
    const MbSite at{m_grid, m_qs, m_pc.kind, mbx, mby, m_grid.AvailAt(mbx, mby)};
    m_pc.bitstream.WriteMb(m_bits, at, m_grid.Record(n), m_run);
}

std::size_t SliceWriter::Bits() const
{
    return m_bits.BitCount() + m_pc.bitstream.PendingBits(m_run);
}

std::vector<std::uint8_t> SliceWriter::Finish()
{
    m_pc.bitstream.EndSlice(m_bits, m_run);
    m_run = 0;
    return m_bits.Take();
}

namespace {

// FFmpeg's scan, a byte at a time: the places it takes for a packet header.
struct HeaderScan {
    std::uint32_t state = 0xFFFFFFFF;
    int found = 0;
    void Feed(std::uint8_t b)
    {
        state = state << 8 | b;
        if (state <= 0xFFFF && state > 12)
            ++found;
    }
    // The bits not yet a whole byte, and the two bytes after them, as ones: whether the zeros
    // written so far make a header whatever follows (almost anything does after two zero bytes).
    int WithTail(std::uint64_t acc, int held)
    {
        HeaderScan tail = *this;
        if (held)
            tail.Feed(static_cast<std::uint8_t>(acc << (8 - held) | 0xFFu >> held));
        tail.Feed(0xFF);
        tail.Feed(0xFF);
        return tail.found;
    }
};

} // namespace

bool ReadsAsPacketHeader(std::span<const std::uint8_t> bytes)
{
    HeaderScan scan;
    for (std::uint8_t b : bytes)
        scan.Feed(b);
    return scan.found > 0;
}

bool SliceWriter::ReadsAsPacketHeaderSince(const Mark &m) const
{
    // What stands before the mark is the earlier macroblocks' doing: only a header more than
    // they already make, or would make whatever came next, counts against this one.
    const std::span<const std::uint8_t> bytes = m_bits.Bytes();
    const std::size_t from = m.bits.bytes < 3 ? 0 : m.bits.bytes - 3;
    HeaderScan scan;
    for (std::size_t i = from; i < m.bits.bytes; ++i)
        scan.Feed(bytes[i]);
    const int before = scan.WithTail(m.bits.acc, m.bits.held);
    for (std::size_t i = m.bits.bytes; i < bytes.size(); ++i)
        scan.Feed(bytes[i]);
    const BitWriter::Mark now = m_bits.Position();
    return scan.WithTail(now.acc, now.held) > before;
}

bool EndsAsPacketHeader(std::span<const std::uint8_t> bytes)
{
    HeaderScan scan;
    for (std::size_t i = bytes.size() < 3 ? 0 : bytes.size() - 3; i < bytes.size(); ++i)
        scan.Feed(bytes[i]);
    // the next packet's header: two zero bytes, and a length below 3328 begins with a third
    for (int i = 0; i < 3; ++i)
        scan.Feed(0);
    return scan.found > 0;
}

bool SliceReadsAsPacketHeader(std::span<const std::uint8_t> bytes)
{
    return ReadsAsPacketHeader(bytes) || EndsAsPacketHeader(bytes);
}

bool SliceWriter::ClosesAsPacketHeader(const Mark &since) const
{
    SliceWriter closed = *this;
    const std::vector<std::uint8_t> bytes = closed.Finish();
    const std::size_t from = since.bits.bytes < 3 ? 0 : since.bits.bytes - 3;
    // (the end is among what was written since, or the three bytes before it)
    return SliceReadsAsPacketHeader(std::span(bytes).subspan(std::min(from, bytes.size())));
}

void SliceWriter::Rewind(const Mark &m)
{
    m_bits.Rewind(m.bits);
    m_run = m.run;
}

} // namespace corva::rv40
