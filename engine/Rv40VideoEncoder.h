#pragma once

#include "engine/FfmpegOwners.h"
#include "engine/RateController.h"
#include "rv40/Encoder.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/rational.h>
}

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace corva {

// The picture side of a job: RealVideo 9/10 pictures from filtered frames, with the picture
// types (a keyframe at a scene cut and at least every keyframe interval) and the quantiser
// of each picture decided here.
class Rv40VideoEncoder final
{
public:
    struct Settings
    {
        int width = 0;
        int height = 0;
        AVRational frameRate{25, 1};
        rv40::Effort effort = rv40::Effort::Quick;
        int keyframeInterval = 250; // pictures
        int lateKeyframe = -1;      // a picture made a keyframe unless one came in the film's second half
        RateController::Settings rate;
        // A first pass of two only measures, at the quickest effort.
        bool measuring = false;
        // Bands of each picture coded at once; the bytes depend on it, so it is chosen per job.
        int threads = 1;
        // B-pictures between two references (0 to 2): each waits for the later reference,
        // which is coded first.
        int bPictures = 0;
    };

    struct Picture
    {
        std::vector<std::vector<std::uint8_t>> slices;
        std::uint32_t timestampMs = 0;
        bool keyframe = false;
    };

    // Throws std::invalid_argument for a size the format cannot carry.
    explicit Rv40VideoEncoder(const Settings &settings);

    // Second pass: the first pass's pictures, whose types are kept and whose sizes guide the budget.
    void SetFirstPass(std::vector<RateController::PassRecord> records);
    // `frame`: 4:2:0 at the settings' size, pts counted in pictures. Returns the pictures now
    // ready, in coding order (none while a B-picture waits for its later reference).
    std::vector<Picture> Encode(const AVFrame &frame);
    // At the end of the film: what still waits.
    std::vector<Picture> Flush();

    const std::vector<RateController::PassRecord> &Records() const { return m_records; }
    // Inter pictures that repeated the one before, the rate leaving nothing for them; and how
    // often the player's buffer ran dry all the same.
    int Repeated() const { return m_repeated; }
    // Pictures whose small levels were dropped to keep them within what the buffer holds.
    int Bounded() const { return m_bounded; }
    int Underflows() const { return m_rate.Underflows(); }

    // A picture starts a new scene when predicting it from the last one saves almost nothing
    // (its inter cost is at least this share of its intra cost) and much less than it did for
    // the pictures before: a detailed pan keeps a high share all along, a cut jumps to it.
    static constexpr double kSceneCutRatio = 0.85;
    static constexpr double kSceneCutJump = 1.6;
    // B-pictures are kept while they take less than this share of their later reference's
    // bits, and tried again every so many pictures when they did not.
    static constexpr double kBPaysBelow = 0.65;
    static constexpr double kSecondBBelow = 0.35;
    static constexpr double kBShareMemory = 0.7;
    static constexpr int kBRetryPictures = 25;
    static constexpr double kFloodedAbove = 0.9;
    // The share of what the player's buffer holds a picture may take at most.
    static constexpr double kBoundShare = 0.97;

private:
    enum class Kind { Intra, Inter, Bidirectional };
    std::uint32_t TimeOf(const AVFrame &frame, int display) const;
    // `repeatAtMs`: the picture repeats the one before it, shown at that time.
    Picture Code(const AVFrame &frame, int display, Kind kind, double estimate,
                 std::optional<std::uint32_t> repeatAtMs = std::nullopt);
    // Codes an inter picture and then, as B-pictures, the pictures waiting for it.
    void CodeWithWaiting(const AVFrame &frame, int display, double estimate, std::vector<Picture> &out);

    struct Waiting
    {
        FramePtr frame;
        int display = 0;
        double estimate = 0;
    };

    Settings m_settings;
    rv40::Encoder m_encoder;
    RateController m_rate;
    std::vector<RateController::PassRecord> m_records;
    int m_lastKeyframe = 0;  // where the last keyframe shows
    double m_lastRatio = -1; // inter/intra of the recent pictures, faded
    int m_displayed = 0;     // pictures received
    std::vector<Waiting> m_waiting;
    std::vector<Kind> m_firstPassKinds; // second pass: the first's picture types, by display position
    double m_bShare = 0;  // B-pictures' bits against their later reference's, faded
    int m_lastBTry = 0;   // where B-pictures were last tried
    bool m_bRetrying = false; // the B-picture waiting is a retry
    int m_repeated = 0;
    int m_bounded = 0;
    FramePtr m_first; // the first picture, while it is the only one
};

} // namespace corva
