#pragma once

#include "rmff/ByteSink.h"
#include "rmff/FileHandle.h"

#include <filesystem>
#include <string>
#include <vector>

namespace corva::rmff {

// A new file, created exclusively so that an existing file is never clobbered by accident.
class FileSink final : public ByteSink
{
public:
    // Throws RmError (Output) when the file exists already or cannot be created.
    explicit FileSink(const std::filesystem::path &path);
    // Writes through a copy of an open descriptor (a temporary output's); `name` is for messages.
    FileSink(int descriptor, const std::filesystem::path &name);

    void Write(std::span<const std::uint8_t> bytes) override;
    void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) override;
    std::uint64_t Size() const override { return m_size; }
    // Flushes and closes; a full disk often shows only here.
    void Close();
    // errno of the failure last thrown, so a caller can name the cause in its own words.
    int LastError() const { return m_error; }

private:
    [[noreturn]] void Fail(const char *what) const;

    std::string m_name;
    std::vector<char> m_buffer; // before m_file: it must outlive the stream that uses it
    FilePtr m_file;
    std::uint64_t m_size = 0;
    mutable int m_error = 0;
};

} // namespace corva::rmff
