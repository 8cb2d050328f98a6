#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace corva::rmff {

// Why a file could not be read, joined or written. The kinds map onto jj's exit codes.
enum class ErrorKind {
    Truncated,    // the file ends before the structure it announces
    Corrupt,      // a field contradicts the layout (chunk overruns, impossible counts)
    Unsupported,  // valid RealMedia that we do not join (multi-rate, encrypted, no media data)
    Incompatible, // inputs that cannot share one set of headers
    Output,       // the output cannot be created, written or renamed
    Io            // an input cannot be opened or read
};

// One problem, as a sentence a user can act on. The text is Simplified Chinese UTF-8.
class RmError final : public std::runtime_error
{
public:
    RmError(ErrorKind kind, std::string detail, std::optional<std::uint64_t> offset = std::nullopt,
            std::string file = {});

    ErrorKind Kind() const { return m_kind; }
    const std::string &Detail() const { return m_detail; }
    const std::string &File() const { return m_file; }
    std::optional<std::uint64_t> Offset() const { return m_offset; }

    // The parsers know offsets but not names; the reader adds its file's name on the way out.
    RmError WithFile(const std::string &file) const;

private:
    static std::string Compose(ErrorKind kind, const std::string &detail,
                               std::optional<std::uint64_t> offset, const std::string &file);

    ErrorKind m_kind;
    std::string m_detail;
    std::optional<std::uint64_t> m_offset;
    std::string m_file;
};

} // namespace corva::rmff
