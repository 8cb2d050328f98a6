#include "engine/SourceCompleteness.h"

#include <QFile>

#include <cstring>

namespace corva {

namespace {

std::uint64_t little(const char *bytes, int count)
{
    std::uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    return value;
}

const char kAsfHeader[16] = {'\x30', '\x26', '\xB2', '\x75', '\x8E', '\x66', '\xCF', '\x11',
                             '\xA6', '\xD9', '\x00', '\xAA', '\x00', '\x62', '\xCE', '\x6C'};
const char kAsfFileProperties[16] = {'\xA1', '\xDC', '\xAB', '\x8C', '\x47', '\xA9', '\xCF', '\x11',
                                     '\x8E', '\xE4', '\x00', '\xC0', '\x0C', '\x20', '\x53', '\x65'};

// RIFF: the first chunk's length covers the whole of an ordinary file (a large AVI's further
// RIFF chunks follow it, so the file may be longer, never shorter).
std::optional<std::int64_t> riffLength(const QByteArray &head)
{
    if (head.size() < 12 || !head.startsWith("RIFF"))
        return std::nullopt;
    const std::uint64_t size = little(head.constData() + 4, 4);
    if (size == 0 || size == 0xFFFFFFFFu || size < 4)
        return std::nullopt;
    return static_cast<std::int64_t>(size + 8);
}

// ASF: the file properties object states the file's size unless the file is a broadcast.
std::optional<std::int64_t> asfLength(const QByteArray &head)
{
    if (head.size() < 30 || std::memcmp(head.constData(), kAsfHeader, 16) != 0)
        return std::nullopt;
    const std::uint64_t headerSize = little(head.constData() + 16, 8);
    qsizetype at = 30;
    while (at + 24 <= head.size() && static_cast<std::uint64_t>(at) < headerSize) {
        const char *object = head.constData() + at;
        const std::uint64_t size = little(object + 16, 8);
        if (size < 24)
            return std::nullopt;
        if (std::memcmp(object, kAsfFileProperties, 16) == 0) {
            if (at + 104 > head.size())
                return std::nullopt;
            const std::uint64_t fileSize = little(object + 40, 8);
            const std::uint64_t flags = little(object + 88, 4);
            if ((flags & 1) || fileSize == 0 || fileSize > (std::uint64_t{1} << 62))
                return std::nullopt;
            return static_cast<std::int64_t>(fileSize);
        }
        if (size > static_cast<std::uint64_t>(head.size()))
            return std::nullopt;
        at += static_cast<qsizetype>(size);
    }
    return std::nullopt;
}

} // namespace

std::optional<SourceCompleteness::Shortfall> SourceCompleteness::Check(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const std::int64_t present = file.size();
    // The file properties come early in an ASF header; 64 KB holds them with room to spare.
    const QByteArray head = file.read(64 * 1024);
    std::optional<std::int64_t> declared = riffLength(head);
    if (!declared)
        declared = asfLength(head);
    if (!declared || *declared <= present)
        return std::nullopt;
    return Shortfall{present, *declared};
}

bool SourceCompleteness::Streamed(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(12);
    return head.size() == 12 && head.startsWith("RIFF") && !riffLength(head);
}

QString SourceCompleteness::Reason(const QString &path, const Shortfall &shortfall)
{
    const double percent = 100.0 * static_cast<double>(shortfall.present) / static_cast<double>(shortfall.declared);
    return QStringLiteral("输入文件 %1 不完整：只有 %2 字节，而文件头说它应有 %3 字节（只有 %4%），可能没有复制或下载完")
        .arg(path)
        .arg(shortfall.present)
        .arg(shortfall.declared)
        .arg(percent, 0, 'f', 1);
}

} // namespace corva
