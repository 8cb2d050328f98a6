#pragma once

#include "common/AudienceDefinition.h"
#include "engine/JobSettings.h"
#include "rv40/Rv40Types.h"

extern "C" {
#include <libavcodec/codec_par.h>
#include <libavutil/rational.h>
}

#include <QString>

#include <cstdint>
#include <string>

namespace corva {

class SubtitleBurn;

// What the probe found in the source.
struct SourceInfo
{
    bool hasVideo = false;
    int width = 0;
    int height = 0;
    AVRational sampleAspect{1, 1};
    AVRational frameRate{0, 1};
    AVFieldOrder fieldOrder = AV_FIELD_UNKNOWN;
    bool hasAudio = false;
    int sampleRate = 0;
    int channels = 0;
    double duration = 0; // seconds; 0 where the source does not say it reliably
};

// The encoder settings and filter chains one job comes down to, worked out from the switches,
// the audience and the source before anything is decoded: everything the encoders are given.
struct EncodePlan
{
    struct Video
    {
        bool enabled = false;
        int width = 0;
        int height = 0;
        AVRational frameRate{25, 1};
        int gopSize = 250;
        // A picture that is made a keyframe as well, so that one falls in the film's second
        // half (-1: none needed, or the film's length is not known).
        int lateKeyframe = -1;
        // The film's length in pictures (0: not known).
        int pictures = 0;
        bool variableRate = false;
        int64_t bitRate = 0;
        int64_t maxRate = 0;
        // Bounds of the RealVideo 9/10 quantiser (0..31).
        int qmin = 0;
        int qmax = 31;
        // RealVideo 8 (RV30) rather than RealVideo 9/10 (RV40): for players that know only the
        // older format.
        bool realVideo8 = false;
        // How hard the encoder works, and B-pictures between two references (0 to 2): each
        // waits for the later reference, which is coded first.
        rv40::Effort effort = rv40::Effort::Quick;
        int bPictures = 0;
        // How many quantiser steps a B-picture sits above the reference coded before it.
        int bQuantiserOffset = 2;
        // Bands of each picture coded at once; the bytes depend on it.
        int threads = 1;
        // libavfilter chain from the decoded picture to the encoder's input.
        QString filters;
    };
    struct Audio
    {
        bool enabled = false;
        int cookFlavour = 24; // the RealAudio cook flavour; rate and channels are its own
        int sampleRate = 44100;
        int channels = 2;
        int64_t bitRate = 64000;
        QString filters;
    };

    Video video;
    Audio audio;
    int passes = 1;

    // `subtitles`, when given and active, are drawn on the finished picture.
    static EncodePlan Make(const JobSettings &job, const AudienceDefinition &audience, const SourceInfo &source,
                           const SubtitleBurn *subtitles = nullptr);

    // The cook flavour for an audience's sound share and channels: the standard flavour of the
    // most bits that share allows (joint stereo for two channels), none above 96 kbit/s.
    static int CookFlavour(int audioKbps, int channels);

    // Deinterlacing, one picture out for each in, of the pictures marked interlaced only. A source
    // that says it is interlaced marks its pictures itself; one that says nothing has a detector
    // mark the combed ones, with a threshold high enough that fine detail in fast motion is not
    // taken for combing. A source that says it is progressive is left alone.
    static constexpr const char *kDeinterlaceFlagged = "bwdif=mode=send_frame:parity=auto:deint=interlaced";
    static constexpr const char *kDeinterlaceDetected = "idet=intl_thres=2,bwdif=mode=send_frame:parity=auto:deint=interlaced";


    // A source picture a header may declare: larger on a side, or in all, is a broken or
    // hostile header, not a film. Computed without overflow for any two ints.
    static bool PlausiblePicture(int width, int height);
    static constexpr int64_t kMaxSourceSide = 16384;
    static constexpr int64_t kMaxSourceArea = int64_t{16384} * 8192;

    // RealVideo 9/10 codes sizes in multiples of 4; beyond 2048x1152 no player of these files decodes.
    static constexpr int kSizeStep = rv40::kSizeStep;
    static constexpr int kMinSize = rv40::kMinSide;
    static constexpr int kMaxWidth = rv40::kMaxWidth;
    static constexpr int kMaxHeight = rv40::kMaxHeight;
    // The largest picture kept when no size is asked for.
    static constexpr int kAutoMaxWidth = 720;
    static constexpr int kAutoMaxHeight = 576;
};

} // namespace corva
