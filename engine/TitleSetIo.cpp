#include "engine/TitleSetIo.h"

#include "engine/AvText.h"

#include <algorithm>
#include <cerrno>

namespace corva {

namespace {

constexpr int kBufferSize = 64 * 1024;

} // namespace

QString TitleSetIo::Open(const QStringList &pieces, const std::stop_token &stop, CustomIoPtr *io)
{
    std::unique_ptr<TitleSetIo> reader(new TitleSetIo(stop));
    for (const QString &path : pieces) {
        auto file = std::make_unique<QFile>(path);
        if (!file->open(QIODevice::ReadOnly))
            return QStringLiteral("无法打开输入文件 %1：%2").arg(path, AvText::FileReason(*file));
        reader->m_starts.push_back(reader->m_size);
        reader->m_size += file->size();
        reader->m_files.push_back(std::move(file));
    }
    auto *buffer = static_cast<unsigned char *>(av_malloc(kBufferSize));
    if (!buffer)
        return QStringLiteral("内存不足，无法打开输入文件 %1").arg(pieces.value(0));
    AVIOContext *context = avio_alloc_context(buffer, kBufferSize, 0, reader.get(), readPacket, nullptr, seek);
    if (!context) {
        av_free(buffer);
        return QStringLiteral("内存不足，无法打开输入文件 %1").arg(pieces.value(0));
    }
    reader.release();
    io->reset(context);
    return {};
}

int TitleSetIo::readPacket(void *opaque, uint8_t *buffer, int size)
{
    return static_cast<TitleSetIo *>(opaque)->read(buffer, size);
}

int TitleSetIo::read(uint8_t *buffer, int size)
{
    // FFmpeg asks its interrupt callback only of its own protocols, not of this reader.
    if (m_stop.stop_requested())
        return AVERROR_EXIT;
    if (m_position >= m_size)
        return AVERROR_EOF;
    // The piece holding the position: the last whose start is not beyond it.
    const auto it = std::upper_bound(m_starts.begin(), m_starts.end(), m_position);
    const std::size_t piece = static_cast<std::size_t>(it - m_starts.begin()) - 1;
    const int64_t pieceEnd = piece + 1 < m_starts.size() ? m_starts[piece + 1] : m_size;
    QFile &file = *m_files[piece];
    const int64_t within = m_position - m_starts[piece];
    if (file.pos() != within && !file.seek(within))
        return AVERROR(EIO);
    const int64_t wanted = std::min<int64_t>(size, pieceEnd - m_position);
    const int64_t got = file.read(reinterpret_cast<char *>(buffer), wanted);
    if (got < 0)
        return AVERROR(EIO);
    if (got == 0)
        return AVERROR_EOF; // the piece shrank since it was opened
    m_position += got;
    return static_cast<int>(got);
}

int64_t TitleSetIo::seek(void *opaque, int64_t offset, int whence)
{
    auto *self = static_cast<TitleSetIo *>(opaque);
    int64_t target = 0;
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return self->m_size;
    case SEEK_SET:
        target = offset;
        break;
    case SEEK_CUR:
        target = self->m_position + offset;
        break;
    case SEEK_END:
        target = self->m_size + offset;
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (target < 0)
        return AVERROR(EINVAL);
    self->m_position = target;
    return target;
}

} // namespace corva
