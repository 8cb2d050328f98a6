#include "engine/EncodePlan.h"

#include "cook/Flavour.h"
#include "engine/SubtitleBurn.h"

#include <algorithm>
#include <cmath>
#include <thread>

namespace corva {

namespace {

int roundToStep(double value, int step, int low, int high)
{
    const int rounded = static_cast<int>(std::lround(value / step)) * step;
    return std::clamp(rounded, low, high);
}

// A B-picture between each two references, and a second where they are very small; the
// picture-type decisions keep them only where they pay. (rv9 with one only was slower and, on
// real footage, up to 0.45 dB worse: a still camera's pictures are where two pay most.)
constexpr int kBPictures = 2;

// RealVideo 8's B-pictures are no one's reference and cost a bit a macroblock where they copy:
// far coarser than their references, they leave those the bits that everything is copied from.
int bQuantiserOffsetFor(CodecEffort codec)
{
    return codec == CodecEffort::Rv8 ? 5 : 2;
}

rv40::Effort effortFor(CodecEffort codec)
{
    switch (codec) {
    case CodecEffort::Rv8:
        return rv40::Effort::Brisk;
    case CodecEffort::Rv9:
        break;
    case CodecEffort::Rv10:
        return rv40::Effort::Thorough;
    }
    return rv40::Effort::Quick;
}

// Each picture is coded in as many bands as there are cores, up to four: beyond that a band's
// extra slice costs more than the time saved on a standard-definition picture.
int encoderThreads()
{
    return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 4);
}

AVRational pickFrameRate(VideoMode mode, AVRational source, int audienceMax)
{
    if (source.num <= 0 || source.den <= 0 || av_q2d(source) > 240)
        source = AVRational{25, 1};
    const auto atMost = [&](int fps) {
        return av_cmp_q(source, AVRational{fps, 1}) <= 0 ? source : AVRational{fps, 1};
    };
    switch (mode) {
    case VideoMode::Sharp:
        // Fewer pictures, more bits for each: crisper stills, jerkier motion.
        return atMost(std::min(audienceMax, 15));
    case VideoMode::Smooth:
        // Every source picture up to 30 per second, even above the audience's usual rate.
        return atMost(std::max(audienceMax, 30));
    case VideoMode::Slideshow:
        return atMost(1);
    case VideoMode::Normal:
        break;
    }
    return atMost(audienceMax);
}


} // namespace

namespace {

// The job's cook flavour: speech needs one channel; music the audience's channels, no more
// than the source has.
int soundFlavour(const JobSettings &job, const AudienceDefinition &audience, const SourceInfo &source)
{
    if (job.audioMode == AudioMode::Voice)
        return EncodePlan::CookFlavour(std::min(audience.audioKbps, 64), 1);
    const int sourceChannels = source.channels > 0 ? source.channels : 2;
    return EncodePlan::CookFlavour(audience.audioKbps, std::min(audience.audioChannels, std::min(sourceChannels, 2)));
}

} // namespace

int EncodePlan::CookFlavour(int audioKbps, int channels)
{
    if (channels == 1) {
        if (audioKbps >= 64)
            return 6;  // 64 kbit/s, 44.1 kHz, 47 bands
        if (audioKbps >= 44)
            return 5;  // 44 kbit/s, 44.1 kHz, 47 bands
        return 4;      // 32 kbit/s, 44.1 kHz, 37 bands
    }
    if (audioKbps >= 96)
        return 25;     // 96 kbit/s joint stereo, 37 bands: cook's highest
    if (audioKbps >= 64)
        return 24;     // 64 kbit/s joint stereo, 37 bands
    if (audioKbps >= 44)
        return 22;     // 44 kbit/s joint stereo, 32 bands
    if (audioKbps >= 32)
        return 21;     // 32 kbit/s joint stereo, 32 bands
    return 18;         // 20 kbit/s joint stereo at 22.05 kHz
}

bool EncodePlan::PlausiblePicture(int width, int height)
{
    return width > 0 && height > 0 && width <= kMaxSourceSide && height <= kMaxSourceSide
        && int64_t{width} * int64_t{height} <= kMaxSourceArea;
}

EncodePlan EncodePlan::Make(const JobSettings &job, const AudienceDefinition &audience, const SourceInfo &source,
                            const SubtitleBurn *subtitles)
{
    EncodePlan plan;

    Video &v = plan.video;
    v.enabled = source.hasVideo && !job.audioOnly && source.width > 0 && source.height > 0;
    if (v.enabled) {
        const double sar = source.sampleAspect.num > 0 && source.sampleAspect.den > 0 ? av_q2d(source.sampleAspect) : 1.0;
        const double displayWidth = source.width * sar;
        const double displayHeight = source.height;
        double w = displayWidth;
        double h = displayHeight;
        if (job.resizeWidth > 0 && job.resizeHeight > 0) {
            w = job.resizeWidth;
            h = job.resizeHeight;
        } else if (job.resizeWidth > 0) {
            w = job.resizeWidth;
            h = w * displayHeight / displayWidth;
        } else if (job.resizeHeight > 0) {
            h = job.resizeHeight;
            w = h * displayWidth / displayHeight;
        }
        // Shrink an oversized picture as a whole so its proportion survives the limits. Without
        // a size of the user's, a high-definition source is brought down to standard definition:
        // at these rates no more than that is worth carrying, and players of these files expect it.
        const bool userSize = job.resizeWidth > 0 || job.resizeHeight > 0;
        const double maxWidth = userSize ? kMaxWidth : kAutoMaxWidth;
        const double maxHeight = userSize ? kMaxHeight : kAutoMaxHeight;
        double scale = std::min({1.0, maxWidth / w, maxHeight / h});
        // A picture smaller than the encoder takes grows as a whole, so it keeps its shape.
        if (scale >= 1.0)
            scale = std::min(std::max({1.0, kMinSize / w, kMinSize / h}), std::min(maxWidth / w, maxHeight / h));
        v.width = roundToStep(w * scale, kSizeStep, kMinSize, kMaxWidth);
        v.height = roundToStep(h * scale, kSizeStep, kMinSize, kMaxHeight);

        v.frameRate = pickFrameRate(job.videoMode, source.frameRate, audience.maxFps);
        v.gopSize = std::max(1, static_cast<int>(std::lround(av_q2d(v.frameRate) * audience.keyframeSeconds)));
        // FFmpeg seeks past a file's last keyframe by scanning for it from ever further before
        // the end, at last from the file's start, where the data chunk's packet count reads as a
        // packet header whose "length" leaps over the first keyframe. So a film needs a keyframe
        // besides the first (with the first alone, no seek succeeds) and beyond that leap (a byte
        // for each packet): where the regular ones leave none in the film's second half, the
        // picture nine tenths in is made a keyframe too (the encoder also counts the keyframes it
        // puts at cuts). Late rather than earlier: a keyframe in a detailed pan throws away the
        // detail the pictures before it built up, and the fewer pictures after it, the less that
        // costs (a tree in the wind at the narrow audience: 0.15 dB below it three tenths in).
        const int pictures = static_cast<int>(std::lround(source.duration * av_q2d(v.frameRate)));
        v.pictures = std::max(0, pictures);
        if (pictures > 2 && (pictures - 1) / v.gopSize * v.gopSize < pictures / 2)
            v.lateKeyframe = static_cast<int>(std::lround(pictures * 0.9));

        const int64_t videoKbps = audience.videoKbps > 0 ? audience.videoKbps : std::max(audience.totalKbps - audience.audioKbps, 20);
        v.bitRate = videoKbps * 1000;
        // What the sound's flavour leaves of the audience's sound share goes to the picture.
        if (source.hasAudio) {
            const int64_t soundRate = cook::FlavourByIndex(soundFlavour(job, audience, source))->BitRate();
            v.bitRate += std::max<int64_t>(0, int64_t{audience.audioKbps} * 1000 - soundRate);
        }
        v.variableRate = audience.vbr;
        if (audience.vbr) {
            // Spend bits where the picture needs them, within the audience's quantizer and peak.
            v.maxRate = std::max(v.bitRate, audience.vbrPeakKbps > 0 ? int64_t{audience.vbrPeakKbps} * 1000 : v.bitRate * 2);
            v.qmin = audience.vbrQmin;
            v.qmax = audience.vbrQmax;
        } else {
            v.maxRate = v.bitRate;
        }

        // rv8 is chosen for players that know no later format: it writes RealVideo 8
        v.realVideo8 = job.codec == CodecEffort::Rv8;
        v.effort = effortFor(job.codec);
        v.bPictures = kBPictures;
        v.bQuantiserOffset = bQuantiserOffsetFor(job.codec);
        v.threads = encoderThreads();

        // Fields are woven back before anything looks at the picture as a whole; then pictures
        // are dropped so the costlier filters see only the ones that are kept.
        QStringList chain;
        if (source.fieldOrder == AV_FIELD_UNKNOWN)
            chain << QLatin1String(kDeinterlaceDetected);
        else if (source.fieldOrder != AV_FIELD_PROGRESSIVE)
            chain << QLatin1String(kDeinterlaceFlagged);
        chain << QStringLiteral("fps=fps=%1/%2").arg(v.frameRate.num).arg(v.frameRate.den);
        chain << QStringLiteral("scale=%1:%2:flags=%3")
                     .arg(v.width)
                     .arg(v.height)
                     .arg(job.highScaleQuality ? QStringLiteral("lanczos") : QStringLiteral("fast_bilinear"));
        chain << QStringLiteral("setsar=1");
        if (job.noiseFilter == NoiseFilter::Low)
            chain << QStringLiteral("hqdn3d=2:1.5:3:2.25");
        else if (job.noiseFilter == NoiseFilter::High)
            chain << QStringLiteral("hqdn3d=6:4.5:9:6.75");
        if (job.brighten)
            chain << QStringLiteral("eq=gamma=1.3:brightness=0.04");
        // Last, at the output size, so the letters stay sharp and keep their colours.
        if (subtitles && subtitles->Active())
            chain << subtitles->Filter(v.width, v.height);
        chain << QStringLiteral("format=yuv420p");
        v.filters = chain.join(u',');
    }

    Audio &a = plan.audio;
    a.enabled = source.hasAudio;
    if (a.enabled) {
        // The flavour fixes the rate; sound at another rate (no flavour has 32 or 48 kHz) is
        // resampled to it.
        a.cookFlavour = soundFlavour(job, audience, source);
        const cook::Flavour flavour = *cook::FlavourByIndex(a.cookFlavour);
        a.channels = flavour.channels;
        a.sampleRate = flavour.sampleRate;
        a.bitRate = flavour.BitRate();
        const QString layout = a.channels == 1 ? QStringLiteral("mono") : QStringLiteral("stereo");
        QStringList chain;
        if (job.gainDb != 0)
            chain << QStringLiteral("volume=%1dB").arg(job.gainDb);
        chain << QStringLiteral("aformat=channel_layouts=%1").arg(layout);
        if (job.highResampleQuality)
            chain << QStringLiteral("aresample=%1:resampler=soxr:precision=28").arg(a.sampleRate);
        else
            chain << QStringLiteral("aresample=%1:filter_size=8:phase_shift=6").arg(a.sampleRate);
        chain << QStringLiteral("aformat=sample_fmts=fltp:sample_rates=%1:channel_layouts=%2").arg(a.sampleRate).arg(layout);
        a.filters = chain.join(u',');
    }

    plan.passes = v.enabled && !job.singlePass ? 2 : 1;
    return plan;
}

} // namespace corva
