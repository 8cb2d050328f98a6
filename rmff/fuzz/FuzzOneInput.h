#pragma once

#include <cstddef>
#include <cstdint>

namespace corva::rmff {

enum class FuzzOutcome { Unreadable, Refused, Joined };

// Reads `data` as a RealMedia file the way jj does: headers, every packet, every index
// record, then joins the file with itself and reads the result back. Bad input may be
// refused with an RmError, which is caught here; anything else escaping, a crash, or a joined
// file that does not read back with twice the packets is a fault. The outcome tells how far
// the input got, so that a test can keep the harness from refusing everything.
FuzzOutcome FuzzOneInput(const std::uint8_t *data, std::size_t size);

} // namespace corva::rmff
