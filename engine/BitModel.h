#pragma once

#include "rv40/Rv40Types.h"

namespace corva {

// What a picture is expected to take at a quantiser. One form throughout: a picture seen to
// take some bits at one step takes, at another, a part that does not follow the step (headers,
// skips) and a part that falls with the step. What it was seen at differs by pass: one pass
// learns per type from the pictures coded so far (bits against the encoder's cost estimate);
// a second pass scales what the first measured of the very picture, corrected by how this pass
// compares; a B-picture follows the last B-picture coded.
class BitModel final
{
public:
    // Bits fall a little faster than the step grows.
    static constexpr double kBitsExponent = 1.1;

    BitModel(double pixels, double perPicture);

    // The decoder's dequantiser step for a quantiser.
    static double Step(int quantiser);
    // Bits at `step` of a picture that took `bits` at `seenStep`, `fixed` of them whatever the step.
    static double Scaled(double bits, double fixed, double seenStep, double step);

    // The rule of thumb before anything is learnt, both ways: the quantiser for bits per pixel
    // (not yet clamped to any bounds), and a picture's bits at a quantiser.
    static int ThumbQuantiser(double bitsPerPixel);
    double ThumbBits(int quantiser) const;

    // A picture's cost estimate, never below a floor: a black picture still costs its headers.
    double Difficulty(double cost) const;
    double Pixels() const { return m_pixels; }

    // One pass: by what was learnt of the type (a B-picture from the last one coded, once there
    // is one; otherwise as an inter picture).
    double Predict(rv40::PictureType type, double cost, int quantiser) const;
    // Second pass: `planned`, what the plan expects of the picture at this quantiser, as this
    // pass's pictures of the type compare with the plan.
    double PredictPlanned(rv40::PictureType type, double planned, int quantiser) const;

    // One pass: an intra or inter picture coded at a quantiser.
    void Learn(rv40::PictureType type, double cost, int quantiser, double bits);
    // Second pass: a picture took `bits` where the plan expected `expected`.
    void LearnPlanned(rv40::PictureType type, double expected, int quantiser, double bits);
    // A B-picture took `bits` at a quantiser.
    void LearnBidirectional(double bits, int quantiser);
    // A second pass starts: until it has seen a few pictures of a type it trusts the first.
    void TrustPlan();

    // How this pass's pictures of a type compare with the plan.
    double PlanRatio(rv40::PictureType type) const;
    bool KnowsBidirectional() const { return m_lastBidirectionalQ >= 0; }
    // What a B-picture took, faded; 0 before the first.
    double BidirectionalBits() const { return m_bBits; }

private:
    static int Slot(rv40::PictureType type) { return static_cast<int>(type); }
    double RatioAt(rv40::PictureType type, int quantiser) const;

    double m_pixels = 1;
    double m_perPicture = 1;
    // one pass: bits ~ coefficient * cost / step, learnt per type with a fading memory
    double m_coefficient[3] = {0, 0, 0};
    double m_weight[3] = {0, 0, 0};
    // second pass: this pass's bits against the plan's at the same step, per type; and for
    // inter pictures per quantiser
    double m_ratio[3] = {1, 1, 1};
    double m_ratioWeight[3] = {1, 1, 1};
    double m_qRatio[32] = {};
    double m_qRatioWeight[32] = {};
    // B-pictures: what the last took, faded, and at which quantiser
    double m_bBits = 0;
    int m_lastBidirectionalQ = -1;
};

} // namespace corva
