#pragma once

#include <filesystem>
#include <string>

namespace corva {

// What is at a path, told without opening it: opening a pipe for reading waits for a writer
// that may never come, and a device or a socket never ends, so neither is a source nor
// something an output may replace. Links are followed: what counts is what would be read or
// replaced. Standard C++ only: the container library and the tools share it.
class PathKind final
{
public:
    enum class Kind { Missing, Regular, Folder, Pipe, Device, Socket, Other, Unknown };

    // Unknown: the system would not say (a folder on the way that cannot be searched); the
    // open that follows then fails with its own reason.
    static Kind Of(const std::filesystem::path &path);
    // Pipes, devices, sockets and the like: never read as a file, never replaced by one.
    static bool IsSpecial(Kind kind);
    // The kind in words (UTF-8): "管道（FIFO）", "设备", "套接字", "文件夹" ...
    static const char *Text(Kind kind);
    // "“PATH”是管道（FIFO），不是普通文件" for a special kind or a folder, empty otherwise
    // (UTF-8, the path in its UTF-8 form).
    static std::string NotAFile(const std::filesystem::path &path, Kind kind);
};

} // namespace corva
