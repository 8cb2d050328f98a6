#include "platform/PathKind.h"

#include <system_error>

namespace corva {

PathKind::Kind PathKind::Of(const std::filesystem::path &path)
{
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    switch (status.type()) {
    case std::filesystem::file_type::not_found:
        return Kind::Missing;
    case std::filesystem::file_type::regular:
        return Kind::Regular;
    case std::filesystem::file_type::directory:
        return Kind::Folder;
    case std::filesystem::file_type::fifo:
        return Kind::Pipe;
    case std::filesystem::file_type::block:
    case std::filesystem::file_type::character:
        return Kind::Device;
    case std::filesystem::file_type::socket:
        return Kind::Socket;
    case std::filesystem::file_type::none:
    case std::filesystem::file_type::unknown:
        return error ? Kind::Unknown : Kind::Other;
    default:
        break;
    }
    return Kind::Other;
}

bool PathKind::IsSpecial(Kind kind)
{
    return kind == Kind::Pipe || kind == Kind::Device || kind == Kind::Socket || kind == Kind::Other;
}

const char *PathKind::Text(Kind kind)
{
    switch (kind) {
    case Kind::Missing:
        return "不存在的文件";
    case Kind::Regular:
        return "普通文件";
    case Kind::Folder:
        return "文件夹";
    case Kind::Pipe:
        return "管道（FIFO）";
    case Kind::Device:
        return "设备";
    case Kind::Socket:
        return "套接字";
    case Kind::Other:
    case Kind::Unknown:
        break;
    }
    return "特殊文件";
}

std::string PathKind::NotAFile(const std::filesystem::path &path, Kind kind)
{
    if (!IsSpecial(kind) && kind != Kind::Folder)
        return {};
    const std::u8string name = path.u8string();
    return "“" + std::string(name.begin(), name.end()) + "”是" + Text(kind) + "，不是普通文件";
}

} // namespace corva
