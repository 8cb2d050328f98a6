#include "engine/AvText.h"

#include "platform/SystemError.h"

extern "C" {
#include <libavutil/error.h>
}

#include <QFileDevice>

#include <cerrno>
#include <utility>

namespace corva {

QString AvText::Error(int error)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return QString::fromUtf8(text);
}

QString AvText::Reason(int error)
{
    // The system's own failures (FFmpeg passes errno on, negated); FFmpeg's are tags far beyond.
    if (error < 0 && -error < 4096)
        return QString::fromUtf8(SystemError::Text(-error));
    if (error == AVERROR_INVALIDDATA)
        return QStringLiteral("数据无效或已损坏");
    if (error == AVERROR_EOF)
        return QStringLiteral("文件意外结束");
    return QStringLiteral("FFmpeg 报告错误（%1）").arg(Error(error));
}

QString AvText::FileReason(const QFileDevice &file)
{
    static const std::pair<QFileDevice::FileError, const char *> kWords[] = {
        {QFileDevice::PermissionsError, "没有访问权限"}, {QFileDevice::OpenError, "无法打开"},
        {QFileDevice::ReadError, "读取出错"},           {QFileDevice::WriteError, "写入出错"},
        {QFileDevice::ResourceError, "磁盘空间或系统资源不足"},
    };
    QString words = QStringLiteral("文件出错");
    for (const auto &[error, text] : kWords)
        if (file.error() == error)
            words = QString::fromUtf8(text);
    return QStringLiteral("%1（%2）").arg(words, file.errorString());
}

QString AvText::Cancelled()
{
    return QStringLiteral("压缩已取消");
}

} // namespace corva
