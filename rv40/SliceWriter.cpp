#include "rv40/SliceWriter.h"

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

bool ReadsAsPacketHeader(std::span<const std::uint8_t> bytes)
{
    std::uint32_t state = 0xFFFFFFFF;
    for (std::uint8_t b : bytes) {
        state = state << 8 | b;
        if (state <= 0xFFFF && state > 12)
            return true;
    }
    return false;
}

bool SliceWriter::ReadsAsPacketHeaderSince(const Mark &m) const
{
    const std::span<const std::uint8_t> bytes = m_bits.Bytes();
    const std::size_t from = m.bits.bytes < 3 ? 0 : m.bits.bytes - 3;
    return bytes.size() > m.bits.bytes && ReadsAsPacketHeader(bytes.subspan(from));
}

void SliceWriter::Rewind(const Mark &m)
{
    m_bits.Rewind(m.bits);
    m_run = m.run;
}

} // namespace corva::rv40
