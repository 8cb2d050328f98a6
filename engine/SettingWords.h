#pragma once

#include "engine/JobSettings.h"

#include <QString>

#include <optional>

namespace corva {

// The words the producer's switches take, shared by its parser and the job file so the two
// can never drift apart. Reading is case-insensitive ("None" and "none" alike).
class SettingWords final
{
public:
    static QString Text(VideoMode mode);
    static QString Text(AudioMode mode);
    static QString Text(NoiseFilter filter);
    static QString Text(CodecEffort codec);
    static QString QualityText(bool high);

    static std::optional<VideoMode> ParseVideoMode(const QString &word);
    static std::optional<AudioMode> ParseAudioMode(const QString &word);
    static std::optional<NoiseFilter> ParseNoiseFilter(const QString &word);
    static std::optional<CodecEffort> ParseCodec(const QString &word);
    // "high" is true, "fast" false.
    static std::optional<bool> ParseQuality(const QString &word);
    // "WxH" with two non-negative whole numbers.
    static bool ParseSize(const QString &text, int *width, int *height);
    // Empty when the encoder can make a picture of this size (0 on a side keeps the source's
    // proportion), else the reason with the allowed range.
    static QString SizeProblem(int width, int height);
    // The gains the window offers lie in -12..12 dB; scripts may use any whole number there.
    static std::optional<int> ParseGain(const QString &text);

    // A job's setting read from its word with `Parse`: false, and the job untouched, for a word
    // that is none of the allowed.
    template <auto Parse, auto Field>
    static bool Read(const QString &word, JobSettings &job)
    {
        const auto value = Parse(word);
        if (value)
            job.*Field = *value;
        return value.has_value();
    }
};

} // namespace corva
