#include "rmff/RmError.h"

namespace corva::rmff {

RmError::RmError(ErrorKind kind, std::string detail, std::optional<std::uint64_t> offset,
                 std::string file)
    : std::runtime_error(Compose(kind, detail, offset, file)),
      m_kind(kind), m_detail(std::move(detail)), m_offset(offset), m_file(std::move(file))
{
}

RmError RmError::WithFile(const std::string &file) const
{
    if (!m_file.empty())
        return *this;
    return RmError(m_kind, m_detail, m_offset, file);
}

std::string RmError::Compose(ErrorKind kind, const std::string &detail,
                             std::optional<std::uint64_t> offset, const std::string &file)
{
    std::string text;
    if (!file.empty())
        text += "文件“" + file + "”";
    if (offset)
        text += (file.empty() ? "偏移 " : " 偏移 ") + std::to_string(*offset) + " 处";
    if (!text.empty())
        text += "：";
    text += detail;
    if (kind == ErrorKind::Truncated)
        text += "（文件不完整，可能被截断）";
    else if (kind == ErrorKind::Corrupt)
        text += "（文件已损坏）";
    return text;
}

} // namespace corva::rmff
