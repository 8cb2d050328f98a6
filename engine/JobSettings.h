#pragma once

#include <QString>

namespace corva {

enum class VideoMode { Normal, Sharp, Smooth, Slideshow };
enum class AudioMode { Music, Voice };
enum class NoiseFilter { None, Low, High };
enum class CodecEffort { Rv8, Rv9, Rv10 };
// Beside: the subtitle file named like the source, when there is one.
enum class SubtitleChoice { Beside, None, File };

// Everything one encoding job needs besides the audience's numbers: what the producer's
// switches say, kept in the job file between the tool and the engine.
struct JobSettings
{
    QString input;
    QString output;
    QString title;
    QString author;
    QString copyright;
    QString audience;
    VideoMode videoMode = VideoMode::Normal;
    AudioMode audioMode = AudioMode::Music;
    bool singlePass = false;
    bool audioOnly = false;
    bool highResampleQuality = false;
    NoiseFilter noiseFilter = NoiseFilter::None;
    bool brighten = false;
    int gainDb = 0;
    // 0 x 0 keeps the source size; one of them 0 keeps the proportion.
    int resizeWidth = 0;
    int resizeHeight = 0;
    bool highScaleQuality = true;
    CodecEffort codec = CodecEffort::Rv9;
    SubtitleChoice subtitles = SubtitleChoice::Beside;
    QString subtitleFile; // with SubtitleChoice::File

    bool operator==(const JobSettings &) const = default;
};

} // namespace corva
