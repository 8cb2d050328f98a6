#pragma once

// What FFmpeg prints at error level or worse while a test decodes, collected instead of printed,
// so that a test can require a decoder to have said nothing.

extern "C" {
#include <libavutil/log.h>
}

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace corva::test {

class FfmpegErrorLog final
{
public:
    // From now on FFmpeg's errors are collected; a message containing one of `ignored` is not.
    static void Install(std::vector<std::string> ignored = {})
    {
        {
            std::lock_guard<std::mutex> lock(s_mutex);
            s_ignored = std::move(ignored);
        }
        av_log_set_callback(Callback);
    }
    // A fault the test itself sees, reported with FFmpeg's.
    static void Add(std::string text)
    {
        std::lock_guard<std::mutex> lock(s_mutex);
        s_errors.push_back(std::move(text));
    }
    static std::vector<std::string> Take()
    {
        std::lock_guard<std::mutex> lock(s_mutex);
        std::vector<std::string> out;
        out.swap(s_errors);
        return out;
    }

private:
    static void Callback(void *, int level, const char *fmt, va_list args)
    {
        if (level > AV_LOG_ERROR)
            return;
        char line[1024];
        std::vsnprintf(line, sizeof line, fmt, args);
        std::string text(line);
        std::lock_guard<std::mutex> lock(s_mutex);
        for (const std::string &ignored : s_ignored)
            if (text.find(ignored) != std::string::npos)
                return;
        s_errors.push_back(std::move(text));
    }

    inline static std::mutex s_mutex;
    inline static std::vector<std::string> s_errors;
    inline static std::vector<std::string> s_ignored;
};

} // namespace corva::test
