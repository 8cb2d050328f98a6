#pragma once

#include "rv40/BitWriter.h"
#include "rv40/QuantSet.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corva::rv40 {

class MbGrid;
struct PictureContext;

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

private:
    const PictureContext &m_pc;
    const MbGrid &m_grid;
    QuantSet m_qs;
    BitWriter m_bits;
    int m_run = 0;
};

} // namespace corva::rv40
