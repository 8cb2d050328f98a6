#pragma once

#include "engine/PassRecord.h"
#include "rv40/Rv40Types.h"

#include <vector>

namespace corva {

// Which type each picture is coded as: a keyframe at a scene cut and at least every keyframe
// interval, B-pictures where they pay; a second pass keeps the first pass's types, so that its
// budget fits them. Decided in display order, before the rate control picks a quantiser.
class PictureTypeDecider final
{
public:
    struct Settings
    {
        int keyframeInterval = 250; // pictures
        int lateKeyframe = -1;      // a picture made a keyframe unless one came in the film's second half
        int bPictures = 0;          // at most this many B-pictures (0 to 2) between two references
        // The rate's quantiser bounds and whether it is variable: B-pictures do not pay at either end.
        int qmin = 0;
        int qmax = 31;
        bool variableRate = false;
    };

    // What was last coded and how full the player's buffer is, where B-pictures are weighed.
    struct Recent
    {
        const PassRecord *last = nullptr; // none yet
        double bufferLevel = 1;
    };

    explicit PictureTypeDecider(const Settings &settings);

    // Second pass: the first pass's picture types, by display position.
    void Follow(const std::vector<PassRecord> &records);

    // The type of the picture shown at `display`, with `waiting` B-pictures held back before it.
    // Bidirectional: hold the picture back until its later reference is coded.
    rv40::PictureType Decide(int display, const rv40::PictureCost &cost, int waiting, const Recent &recent);
    // A picture was coded (the encoder may code another type than asked).
    void Coded(const PassRecord &record);
    // A B-picture took `bits` against its later reference's.
    void CodedBidirectional(double bits, double referenceBits);

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

private:
    bool Keyframe(int display, double ratio) const;
    bool HoldBack(int display, int waiting, const Recent &recent);

    Settings m_settings;
    std::vector<rv40::PictureType> m_firstPassTypes; // second pass: by display position
    int m_lastKeyframe = 0;   // where the last keyframe shows
    double m_lastRatio = -1;  // inter/intra of the recent pictures, faded
    double m_bToReference = 0; // B-pictures' bits against their later reference's, faded
    int m_lastBTry = 0;        // where B-pictures were last tried
    bool m_bRetrying = false;  // the B-picture waiting is a retry
};

} // namespace corva
