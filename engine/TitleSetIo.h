#pragma once

#include "engine/FfmpegOwners.h"

#include <QFile>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <stop_token>
#include <vector>

namespace corva {

// The pieces of a DVD title read as one stream: FFmpeg sees their bytes end to end, seeks
// across them and learns their total size. Our own reader rather than FFmpeg's concat
// protocol, whose list syntax cannot carry a path holding '|'.
class TitleSetIo final : public CustomInput
{
public:
    // Opens every piece read-only and makes the AVIOContext over them (it owns this reader);
    // an empty text on success, else the reason. `stop` ends any read under way, so it
    // must outlive the context.
    static QString Open(const QStringList &pieces, const std::stop_token &stop, CustomIoPtr *io);

    int64_t Size() const { return m_size; }

private:
    explicit TitleSetIo(const std::stop_token &stop) : m_stop(stop) {}

    static int readPacket(void *opaque, uint8_t *buffer, int size);
    static int64_t seek(void *opaque, int64_t offset, int whence);
    int read(uint8_t *buffer, int size);

    const std::stop_token &m_stop;
    std::vector<std::unique_ptr<QFile>> m_files;
    std::vector<int64_t> m_starts; // where each piece begins in the whole stream
    int64_t m_size = 0;
    int64_t m_position = 0;
};

} // namespace corva
