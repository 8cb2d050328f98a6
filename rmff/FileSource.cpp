#include "rmff/FileSource.h"

#include "platform/PathKind.h"
#include "platform/SystemError.h"
#include "rmff/RmError.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace corva::rmff {

namespace {
constexpr std::size_t kBufferSize = 1 << 20;
}

FileSource::FileSource(const std::filesystem::path &path)
    : m_name(PathText(path))
{
    std::error_code ec;
    const PathKind::Kind kind = PathKind::Of(path);
    if (kind == PathKind::Kind::Folder)
        throw RmError(ErrorKind::Io, "这是一个文件夹，不是文件", std::nullopt, m_name);
    // Checked before the open: opening a pipe waits for a writer, and a device never ends.
    if (PathKind::IsSpecial(kind))
        throw RmError(ErrorKind::Io, std::string("这是") + PathKind::Text(kind) + "，不是普通文件，无法读取",
                      std::nullopt, m_name);
    m_file = OpenFile(path, "rb");
    if (!m_file)
        throw RmError(ErrorKind::Io, "无法打开：" + SystemError::Text(errno), std::nullopt, m_name);
    // Our own buffer does the buffering; a second one in stdio would only copy.
    std::setvbuf(m_file.get(), nullptr, _IONBF, 0);
    const auto size = std::filesystem::file_size(path, ec);
    if (ec)
        throw RmError(ErrorKind::Io, "无法得到文件大小：" + SystemError::Text(ec.value()), std::nullopt, m_name);
    m_size = size;
    m_buffer.resize(kBufferSize);
}

std::size_t FileSource::ReadRaw(std::uint64_t offset, std::uint8_t *out, std::size_t count)
{
    if (offset != m_filePos) {
        if (!SeekFile(m_file.get(), offset))
            throw RmError(ErrorKind::Io, "无法定位读取位置", offset, m_name);
        m_filePos = offset;
    }
    const std::size_t n = std::fread(out, 1, count, m_file.get());
    m_filePos += n;
    if (n < count && std::ferror(m_file.get()))
        throw RmError(ErrorKind::Io, "读取失败：" + SystemError::Text(errno), offset, m_name);
    return n;
}

std::size_t FileSource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out)
{
    if (offset >= m_size || out.empty())
        return 0;
    std::size_t done = 0;
    while (done < out.size()) {
        const std::uint64_t at = offset + done;
        if (at >= m_bufferStart && at < m_bufferStart + m_bufferFill) {
            const std::size_t from = static_cast<std::size_t>(at - m_bufferStart);
            const std::size_t n = std::min(out.size() - done, m_bufferFill - from);
            std::memcpy(out.data() + done, m_buffer.data() + from, n);
            done += n;
            continue;
        }
        const std::size_t left = out.size() - done;
        if (left >= m_buffer.size())
            return done + ReadRaw(at, out.data() + done, left);
        m_bufferStart = at;
        m_bufferFill = ReadRaw(at, m_buffer.data(), m_buffer.size());
        if (m_bufferFill == 0)
            break;
    }
    return done;
}

} // namespace corva::rmff
