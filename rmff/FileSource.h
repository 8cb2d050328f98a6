#pragma once

#include "rmff/ByteSource.h"
#include "rmff/FileHandle.h"

#include <filesystem>
#include <string>
#include <vector>

namespace corva::rmff {

// A file read in place through one fixed buffer: memory use does not grow with the file.
// Reads are served from the buffer while they fall inside it; large reads bypass it.
class FileSource final : public ByteSource
{
public:
    // Throws RmError (Io) when the file cannot be opened or sized.
    explicit FileSource(const std::filesystem::path &path);

    std::uint64_t Size() const override { return m_size; }
    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override;

private:
    std::size_t ReadRaw(std::uint64_t offset, std::uint8_t *out, std::size_t count);

    std::string m_name;
    FilePtr m_file;
    std::uint64_t m_size = 0;
    std::uint64_t m_filePos = 0; // where the stream stands, to skip needless seeks
    std::vector<std::uint8_t> m_buffer;
    std::uint64_t m_bufferStart = 0;
    std::size_t m_bufferFill = 0;
};

} // namespace corva::rmff
