#pragma once

#include <cstdint>
#include <span>

namespace corva::rmff {

// Output that is written forward and patched in place once the totals are known.
class ByteSink
{
public:
    virtual ~ByteSink() = default;
    // Both throw RmError (Output) when the medium fails.
    virtual void Write(std::span<const std::uint8_t> bytes) = 0;
    // Overwrites bytes already written; the next Write() still appends at the end.
    virtual void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) = 0;
    virtual std::uint64_t Size() const = 0;
};

} // namespace corva::rmff
