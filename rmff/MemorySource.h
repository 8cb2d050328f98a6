#pragma once

#include "rmff/ByteSource.h"

namespace corva::rmff {

// Bytes already in memory: tests and the fuzz target. The bytes must outlive the source.
class MemorySource final : public ByteSource
{
public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
    std::uint64_t Size() const override { return m_bytes.size(); }
    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override;

private:
    std::span<const std::uint8_t> m_bytes;
};

} // namespace corva::rmff
