#include "rmff/FileSink.h"

#include "platform/SystemError.h"
#include "rmff/RmError.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace corva::rmff {

namespace {
constexpr std::size_t kBufferSize = 1 << 20;
}

FileSink::FileSink(const std::filesystem::path &path)
    : m_name(PathText(path))
{
    m_file = OpenFile(path, "wbx");
    if (!m_file)
        Fail("无法创建");
    m_buffer.resize(kBufferSize);
    std::setvbuf(m_file.get(), m_buffer.data(), _IOFBF, m_buffer.size());
}

FileSink::FileSink(int descriptor, const std::filesystem::path &name)
    : m_name(PathText(name))
{
#ifdef _WIN32
    const int copy = descriptor >= 0 ? _dup(descriptor) : -1;
    m_file.reset(copy >= 0 ? _fdopen(copy, "wb") : nullptr);
    if (!m_file && copy >= 0)
        _close(copy);
#else
    const int copy = descriptor >= 0 ? dup(descriptor) : -1;
    m_file.reset(copy >= 0 ? fdopen(copy, "wb") : nullptr);
    if (!m_file && copy >= 0)
        close(copy);
#endif
    if (!m_file)
        Fail("无法创建");
    m_buffer.resize(kBufferSize);
    std::setvbuf(m_file.get(), m_buffer.data(), _IOFBF, m_buffer.size());
}

void FileSink::Fail(const char *what) const
{
    m_error = errno;
    throw RmError(ErrorKind::Output, std::string(what) + "：" + SystemError::Text(m_error), std::nullopt,
                  m_name);
}

void FileSink::Write(std::span<const std::uint8_t> bytes)
{
    if (!m_file)
        Fail("文件已关闭");
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), m_file.get()) != bytes.size())
        Fail("写入失败");
    m_size += bytes.size();
}

void FileSink::WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes)
{
    if (!m_file)
        Fail("文件已关闭");
    if (offset > m_size || bytes.size() > m_size - offset)
        throw RmError(ErrorKind::Output, "改写位置超出已写内容", offset, m_name);
    if (!SeekFile(m_file.get(), offset) ||
        std::fwrite(bytes.data(), 1, bytes.size(), m_file.get()) != bytes.size() ||
        !SeekFile(m_file.get(), m_size))
        Fail("改写文件头失败");
}

void FileSink::Close()
{
    if (!m_file)
        return;
    const bool ok = std::fflush(m_file.get()) == 0;
    const bool closed = std::fclose(m_file.release()) == 0;
    if (!ok || !closed)
        Fail("写入失败");
}

} // namespace corva::rmff
