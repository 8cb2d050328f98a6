#pragma once

#include "engine/RateController.h"
#include "rv40/Encoder.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/rational.h>
}

#include <cstdint>
#include <memory>
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
        RateController::Settings rate;
        // A first pass of two only measures: one quantiser throughout, the quickest effort.
        bool measuring = false;
        // Bands of each picture coded at once; the bytes depend on it, so it is chosen per job.
        int threads = 1;
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
    // `frame`: 4:2:0 at the settings' size, pts counted in pictures.
    Picture Encode(const AVFrame &frame);

    const std::vector<RateController::PassRecord> &Records() const { return m_records; }

    // A picture starts a new scene when predicting it from the last one saves almost nothing
    // (its inter cost is at least this share of its intra cost) and much less than it did for
    // the pictures before: a detailed pan keeps a high share all along, a cut jumps to it.
    static constexpr double kSceneCutRatio = 0.85;
    static constexpr double kSceneCutJump = 1.6;

private:
    Settings m_settings;
    rv40::Encoder m_encoder;
    RateController m_rate;
    std::vector<RateController::PassRecord> m_records;
    int m_sinceKeyframe = 0;
    int m_fixedQuantiser = 0;
    double m_lastRatio = -1; // inter/intra of the recent pictures, faded
};

} // namespace corva
