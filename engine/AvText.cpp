#include "engine/AvText.h"

extern "C" {
#include <libavutil/error.h>
}

#include <cerrno>

namespace corva {

QString AvText::Error(int error)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return QString::fromUtf8(text);
}

QString AvText::Reason(int error)
{
    if (error == AVERROR(ENOENT))
        return QStringLiteral("文件不存在");
    if (error == AVERROR(EACCES) || error == AVERROR(EPERM))
        return QStringLiteral("没有访问权限");
    if (error == AVERROR(ENOSPC) || error == AVERROR(EFBIG) || error == AVERROR(EDQUOT))
        return QStringLiteral("磁盘空间不足");
    if (error == AVERROR(EROFS))
        return QStringLiteral("磁盘是只读的");
    if (error == AVERROR(EISDIR))
        return QStringLiteral("这是一个文件夹");
    if (error == AVERROR_INVALIDDATA)
        return QStringLiteral("数据无效或已损坏");
    if (error == AVERROR(ENOMEM))
        return QStringLiteral("内存不足");
    if (error == AVERROR(EIO))
        return QStringLiteral("读写出错");
    return Error(error);
}

QString AvText::Cancelled()
{
    return QStringLiteral("压缩已取消");
}

} // namespace corva
