#include "rmff/RmJoiner.h"

#include "rmff/FileSink.h"
#include "rmff/FileSource.h"
#include "rmff/RmLimits.h"
#include "platform/PathKind.h"
#include "platform/TemporaryOutput.h"

#include <filesystem>

namespace corva::rmff {

namespace {

OpenedInput OpenFileInput(const std::filesystem::path &path)
{
    OpenedInput in;
    in.source = std::make_unique<FileSource>(path);
    in.reader = std::make_unique<RmReader>(*in.source, PathText(path));
    return in;
}

} // namespace

JoinOutcome JoinFiles(const std::vector<std::filesystem::path> &inputs,
                      const std::filesystem::path &output, const JoinTexts &texts)
{
    JoinOutcome outcome;
    auto &problems = outcome.problems;
    RmJoiner joiner(texts);
    bool allRead = true;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        try {
            // Only the headers are kept; the files are opened again one by one to copy.
            OpenedInput in = OpenFileInput(inputs[i]);
            joiner.AddInput(*in.reader);
        } catch (const RmError &e) {
            problems.push_back(e);
            allRead = false;
        }
        std::error_code sameError;
        if (std::filesystem::equivalent(output, inputs[i], sameError))
            problems.emplace_back(ErrorKind::Output,
                                  "输出文件“" + PathText(output) + "”就是输入 " +
                                      std::to_string(i + 1) + "，不能用合并结果覆盖输入文件");
    }
    const PathKind::Kind outputKind = PathKind::Of(output);
    if (outputKind == PathKind::Kind::Folder)
        problems.emplace_back(ErrorKind::Output,
                              "输出路径“" + PathText(output) + "”是一个文件夹，请给出文件名");
    else if (PathKind::IsSpecial(outputKind))
        problems.emplace_back(ErrorKind::Output,
                              "输出路径" + PathKind::NotAFile(output, outputKind) + "，不能用合并结果替换它");
    if (allRead) {
        for (RmError &e : joiner.Check())
            problems.push_back(std::move(e));
    }
    // The join holds every input's packets; past the limit it would only fail late, with
    // most of it written.
    std::uint64_t inputBytes = 0;
    for (const std::filesystem::path &input : inputs) {
        std::error_code sizeError;
        const std::uintmax_t size = std::filesystem::file_size(input, sizeError);
        if (!sizeError)
            inputBytes += size;
    }
    if (inputBytes > kMaxFileBytes)
        problems.emplace_back(ErrorKind::Output, "输入文件合计 " + std::to_string(inputBytes) +
                                                     " 字节，合并后会超过 RealMedia 文件的上限 " +
                                                     MaxFileBytesText() + "，无法合并");
    if (!problems.empty())
        return outcome;

    TemporaryOutput temp(output);
    try {
        if (!temp.IsOpen()) {
            throw RmError(ErrorKind::Output, "无法在输出文件夹中创建文件：" + temp.Reason(),
                          std::nullopt, PathText(output));
        }
        FileSink sink(temp.Descriptor(), output);
        outcome.summary = joiner.Write(sink, [&inputs](std::size_t i) { return OpenFileInput(inputs[i]); });
        sink.Close();
        if (!temp.Commit())
            throw RmError(ErrorKind::Output, "无法把合并结果保存为输出文件：" + temp.Reason(),
                          std::nullopt, PathText(output));
        return outcome;
    } catch (const RmError &e) {
        problems.push_back(e);
    } catch (const std::bad_alloc &) {
        problems.emplace_back(ErrorKind::Output, "内存不足");
    } catch (const std::exception &e) {
        problems.emplace_back(ErrorKind::Output, std::string("写入输出文件失败：") + e.what(),
                              std::nullopt, PathText(output));
    }
    temp.Discard();
    outcome.summary = {};
    return outcome;
}

} // namespace corva::rmff
