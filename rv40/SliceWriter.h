#pragma once

#include "rv40/BitWriter.h"
#include "rv40/QuantSet.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace corva::rv40 {

class MbGrid;
struct PictureContext;

// Whether FFmpeg's RealMedia demuxer, scanning for a packet header inside these bytes, takes
// four of them for one: two zero bytes, then a length above 12. It then leaps by that length,
// over the keyframes after it and in a short film past the end, and its seek fails. The format
// has no escape for such bytes; the encoder codes a macroblock that writes them again.
bool ReadsAsPacketHeader(std::span<const std::uint8_t> bytes);
// Whether a slice's last bytes make such a header with the zero bytes the next packet's header
// begins with (a length below 3328 begins with a third).
bool EndsAsPacketHeader(std::span<const std::uint8_t> bytes);
// Either: the slice, as it stands in its packet, holds a header to that scan.
bool SliceReadsAsPacketHeader(std::span<const std::uint8_t> bytes);

// Writes a slice from the macroblock records: the first time, right after each is decided, and
// again for the rewrite with other code tables. A band owns one, its bits and its run of copies.
class SliceWriter final {
public:
    SliceWriter(const PictureContext &pc, const MbGrid &grid) : m_pc(pc), m_grid(grid) {}

    // Starts a slice at MB start, with the code tables qs selects.
    void Begin(int start, const QuantSet &qs);
    // MB n as its record in the grid says.
    void Write(int n);
    // What the slice takes so far, the copies not yet written included.
    std::size_t Bits() const;
    // The slice, closed and padded to a byte; the writer is then empty.
    std::vector<std::uint8_t> Finish();

    struct Mark {
        BitWriter::Mark bits;
        int run = 0;
    };
    Mark Position() const { return {m_bits.Position(), m_run}; }
    // Drops everything written after the mark (a macroblock that did not fit its slice).
    void Rewind(const Mark &m);
    // Whether the bits written after the mark add a place FFmpeg's RealMedia scan takes for a
    // packet header (ReadsAsPacketHeader), with the three bytes before them, counting zeros at
    // the end that would make one whatever bits came next.
    bool ReadsAsPacketHeaderSince(const Mark &m) const;
    // Whether the slice, closed now, holds such a header in what was written after the mark
    // (with the three bytes before it), or ends in one (EndsAsPacketHeader).
    bool ClosesAsPacketHeader(const Mark &since) const;

private:
    const PictureContext &m_pc;
    const MbGrid &m_grid;
    QuantSet m_qs;
    BitWriter m_bits;
    int m_run = 0;
};

} // namespace corva::rv40
