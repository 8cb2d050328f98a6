#pragma once

#include "engine/EncodePlan.h"
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
    // What was last coded and how full the player's buffer is, where B-pictures are weighed.
    struct Recent
    {
        const PassRecord *last = nullptr; // none yet
        double bufferLevel = 1;
    };

    // From the plan: the keyframe interval, the late keyframe, B-pictures, and the rate's
    // quantiser bounds and whether it is variable (B-pictures do not pay at either end).
    explicit PictureTypeDecider(const EncodePlan::Video &video);

    // Second pass: the first pass's picture types, by display position.
    void Follow(const std::vector<PassRecord> &records);

    // The type of the picture shown at `display`, with `waiting` B-pictures held back before it.
    // Bidirectional: hold the picture back until its later reference is coded.
    rv40::PictureType Decide(int display, const rv40::PictureCost &cost, int waiting, const Recent &recent);
    // A picture was coded (the encoder may code another type than asked).
    void Coded(const PassRecord &record);
    // A B-picture took `bits` against its later reference's.
    void CodedBidirectional(double bits, double referenceBits);
    // The B-pictures held last are a try where they did not pay before: until they are measured,
    // no more should be decided.
    bool Retrying() const { return m_bRetrying; }

private:
    bool Keyframe(int display, double ratio) const;
    bool HoldBack(int display, int waiting, const Recent &recent);

    int m_keyframeInterval = 250;
    int m_lateKeyframe = -1;
    int m_bPictures = 0;
    int m_qmin = 0;
    int m_qmax = 31;
    bool m_variableRate = false;
    std::vector<rv40::PictureType> m_firstPassTypes; // second pass: by display position
    int m_lastKeyframe = 0;   // where the last keyframe shows
    double m_lastRatio = -1;  // inter/intra of the recent pictures, faded
    double m_bToReference = 0; // B-pictures' bits against their later reference's, faded
    int m_lastBTry = 0;        // where B-pictures were last tried
    bool m_bRetrying = false;  // the B-picture waiting is a retry
};

} // namespace corva
