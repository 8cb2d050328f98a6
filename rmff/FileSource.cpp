#include "rmff/FileSource.h"

#include "rmff/RmError.h"

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
    if (std::filesystem::is_directory(path, ec))
        throw RmError(ErrorKind::Io, "这是一个文件夹，不是文件", std::nullopt, m_name);
    m_file = OpenFile(path, "rb");
    if (!m_file)
        throw RmError(ErrorKind::Io, std::string("无法打开：") + std::strerror(errno),
                      std::nullopt, m_name);
    m_buffer.resize(kBufferSize);
    std::setvbuf(m_file.get(), m_buffer.data(), _IOFBF, m_buffer.size());
    const auto size = std::filesystem::file_size(path, ec);
    if (ec)
        throw RmError(ErrorKind::Io, "无法得到文件大小：" + ec.message(), std::nullopt, m_name);
    m_size = size;
}

std::size_t FileSource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out)
{
    if (offset >= m_size || out.empty())
        return 0;
    if (offset != m_pos) {
        if (!SeekFile(m_file.get(), offset))
            throw RmError(ErrorKind::Io, "无法定位读取位置", offset, m_name);
        m_pos = offset;
    }
    const std::size_t n = std::fread(out.data(), 1, out.size(), m_file.get());
    m_pos += n;
    if (n < out.size() && std::ferror(m_file.get()))
        throw RmError(ErrorKind::Io, std::string("读取失败：") + std::strerror(errno), offset,
                      m_name);
    return n;
}

} // namespace corva::rmff
