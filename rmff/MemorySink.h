#pragma once

#include "rmff/ByteSink.h"

#include <vector>

namespace corva::rmff {

class MemorySink final : public ByteSink
{
public:
    void Write(std::span<const std::uint8_t> bytes) override;
    void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) override;
    std::uint64_t Size() const override { return m_bytes.size(); }
    const std::vector<std::uint8_t> &Bytes() const { return m_bytes; }

private:
    std::vector<std::uint8_t> m_bytes;
};

} // namespace corva::rmff
