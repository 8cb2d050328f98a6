#include "rmff/FileHandle.h"

#include <string>

namespace corva::rmff {

FilePtr OpenFile(const std::filesystem::path &path, const char *mode)
{
#ifdef _WIN32
    std::wstring wmode(mode, mode + std::char_traits<char>::length(mode));
    return FilePtr(_wfopen(path.c_str(), wmode.c_str()));
#else
    return FilePtr(std::fopen(path.c_str(), mode));
#endif
}

bool SeekFile(std::FILE *f, std::uint64_t offset)
{
#ifdef _WIN32
    return _fseeki64(f, static_cast<long long>(offset), SEEK_SET) == 0;
#else
    return fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

std::string PathText(const std::filesystem::path &path)
{
    const std::u8string s = path.u8string();
    return std::string(s.begin(), s.end());
}

} // namespace corva::rmff
