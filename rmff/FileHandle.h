#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>

namespace corva::rmff {

struct FileCloser
{
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// fopen that takes non-ASCII paths on every platform; null on failure (errno set).
FilePtr OpenFile(const std::filesystem::path &path, const char *mode);
// 64-bit positioning; false on failure.
bool SeekFile(std::FILE *f, std::uint64_t offset);
// UTF-8 form of a path, for messages.
std::string PathText(const std::filesystem::path &path);

} // namespace corva::rmff
