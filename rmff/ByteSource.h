#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace corva::rmff {

// Random-access input, so that the reader can stream a file of any size (or fuzz bytes in
// memory) through the same parsing code.
class ByteSource
{
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t Size() const = 0;
    // Fills `out` from `offset`; returns fewer bytes only at the end of the source.
    // Throws RmError (Io) when the medium fails.
    virtual std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) = 0;
};

} // namespace corva::rmff
