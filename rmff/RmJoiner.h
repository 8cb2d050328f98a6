#pragma once

#include "rmff/ByteSink.h"
#include "rmff/ByteSource.h"
#include "rmff/RmError.h"
#include "rmff/RmObjects.h"
#include "rmff/RmReader.h"
#include "rmff/RmWriter.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corva::rmff {

// Texts for the joined clip's CONT, already in the players' code page. Left out: input 1's.
struct JoinTexts
{
    std::optional<std::string> title;
    std::optional<std::string> author;
    std::optional<std::string> copyright;
};

struct JoinSummary
{
    std::uint32_t durationMs = 0;
    std::uint32_t packets = 0;
    std::uint64_t bytes = 0;
    std::vector<std::uint32_t> inputStarts; // where each input begins in the output, ms
    std::vector<std::string> warnings;
};

// An input opened for streaming: the reader reads through the source it is given.
struct OpenedInput
{
    std::unique_ptr<ByteSource> source;
    std::unique_ptr<RmReader> reader;
};
using InputOpener = std::function<OpenedInput(std::size_t index)>;

// Joins RealMedia inputs without touching their payloads: every packet is copied in order,
// with its stream number mapped onto input 1's and its timestamp moved by the length of the
// inputs before it; the headers and the index are made anew.
class RmJoiner final
{
public:
    explicit RmJoiner(JoinTexts texts, WriterOptions options = {});
    ~RmJoiner();
    RmJoiner(RmJoiner &&) noexcept;

    // Takes the headers of the next input. A reader that failed to open is reported by the
    // caller instead.
    void AddInput(const RmReader &input);
    // Every reason the inputs cannot be joined, one per problem; empty when they can.
    std::vector<RmError> Check();
    // Writes the join. Inputs are opened one at a time, so memory does not grow with their
    // number. Check() must have passed. Throws RmError.
    JoinSummary Write(ByteSink &out, const InputOpener &open);

private:
    struct Input;
    struct OutStream;

    void MapStreams(std::size_t index, std::vector<RmError> &problems);
    std::string Label(std::size_t index) const;

    JoinTexts m_texts;
    WriterOptions m_options;
    std::vector<Input> m_inputs;
    std::vector<OutStream> m_out;
    std::vector<std::string> m_warnings;
    bool m_checked = false;
};

struct JoinOutcome
{
    std::vector<RmError> problems; // empty on success
    JoinSummary summary;
    bool Ok() const { return problems.empty(); }
};

// The whole job on files: checks every input before anything is written, refuses an output
// that is one of the inputs, writes to a temporary file beside `output` and renames it when
// complete, so that a failed join leaves no output behind.
JoinOutcome JoinFiles(const std::vector<std::filesystem::path> &inputs,
                      const std::filesystem::path &output, const JoinTexts &texts);

} // namespace corva::rmff
