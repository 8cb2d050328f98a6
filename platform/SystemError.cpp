#include "platform/SystemError.h"

#include <cerrno>
#include <system_error>

namespace corva {

namespace {

const char *words(int code)
{
    switch (code) {
    case ENOENT:
        return "文件或文件夹不存在";
    case EACCES:
    case EPERM:
        return "没有访问权限";
    // A file past what the disk (or the user's limit) allows is a full disk to the user.
    case ENOSPC:
    case EFBIG:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return "磁盘空间不足";
    case EROFS:
        return "磁盘是只读的";
    case EISDIR:
        return "这是一个文件夹";
    case ENOTDIR:
        return "路径中有一项不是文件夹";
    case EBUSY:
        return "设备或文件正被占用";
#ifdef ETXTBSY
    case ETXTBSY:
        return "文件正被使用";
#endif
    case EEXIST:
        return "已有同名的文件";
    case EXDEV:
        return "不能移到另一个磁盘";
    case ENAMETOOLONG:
        return "文件名太长";
#ifdef ELOOP
    case ELOOP:
        return "链接层层相连，找不到真正的文件";
#endif
    case EMFILE:
    case ENFILE:
        return "同时打开的文件太多";
    case ENOMEM:
        return "内存不足";
    case EIO:
        return "读写出错，磁盘或光盘可能已损坏";
    case ENXIO:
    case ENODEV:
        return "设备不存在或没有准备好";
    case EAGAIN:
        return "资源暂时不可用";
    case EINTR:
        return "操作被打断";
    case EINVAL:
        return "系统不接受这个操作";
    default:
        break;
    }
    return nullptr;
}

} // namespace

std::string SystemError::Text(int code)
{
    // The category's text is the C library's and safe from any thread, unlike strerror.
    const std::string system = std::generic_category().message(code);
    const char *own = words(code);
    if (!own)
        return "系统错误 " + std::to_string(code) + "（" + system + "）";
    return std::string(own) + "（" + system + "）";
}

} // namespace corva
