#pragma once

#include "rmff/ByteSource.h"
#include "rmff/FileHandle.h"

#include <filesystem>
#include <string>
#include <vector>

namespace corva::rmff {

// A file read in place through a fixed buffer: memory use does not grow with the file.
class FileSource final : public ByteSource
{
public:
    // Throws RmError (Io) when the file cannot be opened or sized.
    explicit FileSource(const std::filesystem::path &path);

    std::uint64_t Size() const override { return m_size; }
    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override;

private:
    std::string m_name;
    std::vector<char> m_buffer; // before m_file: it must outlive the stream that uses it
    FilePtr m_file;
    std::uint64_t m_size = 0;
    std::uint64_t m_pos = 0; // where the stream stands, to skip needless seeks
};

} // namespace corva::rmff
