#pragma once

#include "engine/EncodePlan.h"
#include "engine/FfmpegOwners.h"
#include "engine/PassRecord.h"
#include "engine/PictureTypeDecider.h"
#include "engine/RateController.h"
#include "rv40/Bitstream.h"
#include "rv40/Encoder.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/rational.h>
}

#include <cstdint>
#include <exception>
#include <memory>
#include <map>
#include <optional>
#include <thread>
#include <vector>

namespace corva {

// The picture side of a job: RealVideo 9/10 (or 8) pictures from filtered frames, each of the type the
// picture-type decisions give it, at the quantiser the rate control chooses.
class Rv40VideoEncoder final
{
public:
    struct Picture
    {
        std::vector<std::vector<std::uint8_t>> slices;
        std::uint32_t timestampMs = 0;
        bool keyframe = false;
    };

    // The plan's video: size, rate, effort, B-pictures, threads. A first pass of two only
    // measures (`measuring`), at the quickest effort.
    // Throws std::invalid_argument for a size the format cannot carry.
    Rv40VideoEncoder(const EncodePlan::Video &video, bool measuring);

    // The bitstream the plan's video is written in (RV40, or RV30 for RealVideo 8): the encoder's
    // and the stream header's.
    static std::unique_ptr<rv40::Bitstream> BitstreamFor(const EncodePlan::Video &video);

    // Second pass: the first pass's pictures, whose types are kept and whose sizes guide the budget.
    void SetFirstPass(std::vector<PassRecord> records);
    // `frame`: 4:2:0 at the settings' size, pts counted in pictures. Returns the pictures now
    // ready, in coding order (none while a B-picture waits for its later reference).
    std::vector<Picture> Encode(const AVFrame &frame);
    // At the end of the film: what still waits.
    std::vector<Picture> Flush();

    const std::vector<PassRecord> &Records() const { return m_records; }
    // Inter pictures that repeated the one before, the rate leaving nothing for them; and how
    // often the player's buffer ran dry all the same.
    int Repeated() const { return m_repeated; }
    // Pictures whose small levels were dropped to keep them within what the buffer holds.
    int Bounded() const { return m_bounded; }
    int Underflows() const { return m_rate.Underflows(); }

    // The share of what the player's buffer holds a picture may take at most.
    static constexpr double kBoundShare = 0.97;

private:
    std::uint32_t TimeOf(const AVFrame &frame, int display) const;
    struct Decided
    {
        rv40::PictureDecision decision;
        std::uint32_t ms = 0;
        int display = 0;
        double estimate = 0;
        bool repeatAt = false; // a repeat at a time of its own
    };
    // The picture's quantiser, bound and time, from the rate as it stands.
    Decided Decide(const AVFrame &frame, int display, rv40::PictureType type, double estimate,
                   std::optional<std::uint32_t> repeatAtMs = std::nullopt);
    // Into the rate, the records and the picture-type decisions; `ahead`: a B-picture accounted
    // at a guess while it was coded.
    Picture Account(rv40::EncodedPicture &coded, const Decided &d, const RateController::Ahead *ahead);
    // `repeatAtMs`: the picture repeats the one before it, shown at that time.
    Picture Code(const AVFrame &frame, int display, rv40::PictureType type, double estimate,
                 std::optional<std::uint32_t> repeatAtMs = std::nullopt);
    // The picture just accounted, if coded as a B-picture, against the bits of the reference it
    // leans on: whether B-pictures pay.
    void MeasureBidirectional(double reference);
    // Codes an inter picture and then, as B-pictures, the pictures waiting for it.
    void CodeWithWaiting(const AVFrame &frame, int display, double estimate, std::vector<Picture> &out);

    struct Waiting
    {
        FramePtr frame;
        int display = 0;
        double estimate = 0;
    };
    // The B-pictures leaning on the last reference, coded by the companion on a thread of
    // their own while this encoder codes the next reference.
    struct Group
    {
        std::vector<Waiting> frames;
        std::vector<Decided> decided;
        std::vector<RateController::Ahead> ahead;
        std::vector<rv40::EncodedPicture> coded;
        double reference = 0; // the bits of the reference they lean on
        bool retry = false;   // B-pictures tried again where they had not paid
        std::exception_ptr failure;
        std::jthread thread; // last: joined before the rest goes
    };
    // Hands the waiting pictures to the companion, decided and accounted at a guess.
    void Launch(double reference);
    // Waits for the group being coded, if any, and accounts its pictures into `out`.
    void Collect(std::vector<Picture> &out);

    EncodePlan::Video m_video;
    bool m_measuring = false;
    rv40::Encoder m_encoder;
    RateController m_rate;
    PictureTypeDecider m_types;
    std::vector<PassRecord> m_records;
    // each picture's intra estimate until it is coded, by where it shows
    std::map<int, double> m_intraEstimates;
    int m_displayed = 0; // pictures received
    std::vector<Waiting> m_waiting;
    int m_repeated = 0;
    int m_bounded = 0;
    FramePtr m_first; // the first picture, while it is the only one
    std::unique_ptr<rv40::Encoder> m_companion; // none with one core
    std::unique_ptr<Group> m_group;             // last: its thread reads the members above
};

} // namespace corva
