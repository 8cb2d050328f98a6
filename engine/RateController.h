#pragma once

#include "engine/BitModel.h"
#include "engine/EncodePlan.h"
#include "engine/PassRecord.h"
#include "engine/PlayerBuffer.h"
#include "engine/TwoPassPlan.h"
#include "rv40/Rv40Types.h"

#include <cstdint>
#include <vector>

namespace corva {

// Chooses each picture's quantiser (0..31, RealVideo 9/10's scale) so that a film spends the
// audience's rate: a constant-rate audience evenly, with a player's buffer never run dry for
// long; a variable-rate one where the pictures need it, within its quantiser bounds and peak.
// Plain arithmetic on the encoder's own cost estimates and the bytes each picture took: the bits
// a picture will take come from the bit model, the bounds from the player's buffer, and a second
// pass follows its plan.
class RateController final
{
public:
    // From the plan: the rate, its peak where it is variable, the quantiser bounds, the picture size.
    // `measuring`: a first pass that codes every picture as it comes, held to no bound.
    explicit RateController(const EncodePlan::Video &video, bool measuring = false);

    // Second pass: allocate the film's budget by what the first pass measured, picture by
    // picture in coding order. Without it the controller works on what it has seen so far.
    void SetFirstPass(std::vector<PassRecord> records);
    const std::vector<PassRecord> &FirstPass() const { return m_plan.Records(); }

    // `cost`: the encoder's estimate of how hard the picture is to code as the type chosen.
    int ChooseQuantiser(rv40::PictureType type, double cost);
    // After the picture is coded: what it took at the quantiser; `spent`, where the stream took
    // less than that (levels dropped to keep the buffer), what it did take.
    void Update(rv40::PictureType type, double cost, int quantiser, double bits, double spent = -1);

    // A B-picture coded while the next reference is: accounted now at the bits the model
    // predicts, so that the reference is decided a picture further on; Settle() then puts in
    // what it took, as Update() would have had it.
    struct Ahead
    {
        std::size_t index = 0;
        int quantiser = 0;
        double predicted = 0;
        bool planned = false;
    };
    Ahead UpdateAhead(double cost, int quantiser);
    // Whether a B-picture's bits can be guessed from B-pictures already coded.
    bool KnowsBidirectional() const { return m_model.KnowsBidirectional(); }
    void Settle(const Ahead &ahead, double bits, double spent = -1);
    // A constant-rate inter picture that even at the coarsest quantiser would take more than the
    // player's buffer can give: better it repeats the picture before it (a copy costs a few
    // bytes) than playback stalls.
    bool RepeatInstead(double cost) const;
    // After a repeated picture: what it took. It says nothing of how the film's pictures code.
    void UpdateRepeated(double bits);

    // A constant quantiser for a first pass that only measures.
    int FirstPassQuantiser() const;

    // The most bits the next picture may take without running the player's buffer dry: what
    // the buffer holds once the picture's share of the rate has arrived.
    double MostBits() const { return m_buffer.MostBits(); }
    // And for a picture of this type at this quantiser: no more than the budget allows (one
    // pass at any quantiser, a second pass at the coarsest), yet a keyframe, which cannot repeat
    // its reference, never less than one picture's share of the rate while the buffer holds it
    // (in one pass, a second or more after the last keyframe, than what it takes at the coarsest
    // quantiser, as the keyframe's ChooseQuantiser predicted).
    double MostBits(rv40::PictureType type, int quantiser) const;

    // The player's buffer as a share of its size: below 0 it ran dry.
    double BufferLevel() const { return m_buffer.Level(); }
    int Underflows() const { return m_buffer.Underflows(); }

    static double Step(int quantiser) { return BitModel::Step(quantiser); }

private:
    bool Planned() const { return m_plan.Covers(static_cast<std::size_t>(m_pictures)); }
    // One constant-rate pass: no plan to follow, and none followed so far.
    bool OnePassConstantRate() const { return !m_variableRate && !Planned() && m_plan.Records().empty(); }
    int PlannedQuantiser(rv40::PictureType type);
    double PerReference() const;
    // one constant-rate pass: what the pictures since the last keyframe set aside for the next
    double Saved() const;
    // (a keyframe that did not come when it was due frees what was set aside for it)
    bool Reserving() const { return m_keyReserve > 0 && m_sinceKeyframe <= m_keySpan; }
    void ReserveForKeyframe(int quantiser);
    // the buffer and the budget after a picture, whatever it was
    void Account(double bits, rv40::PictureType type, int quantiser, bool learn = true);
    double TargetBits(rv40::PictureType type, double cost);
    int QuantiserFor(rv40::PictureType type, double cost, double target) const;

    int m_qmin = 0; // the plan's bounds, within 0..31
    int m_qmax = 31;
    double m_frameRate = 25;
    double m_perPicture = 0;
    PlayerBuffer m_buffer;
    BitModel m_model;

    int m_gop = 250; // pictures from one regular keyframe to the next
    int m_lateKeyframe = -1;
    int m_filmPictures = 0; // 0: not known
    int m_keySpan = 0;      // pictures from the last keyframe to the next within the film
    std::int64_t m_pictures = 0;
    std::int64_t m_sinceKeyframe = 0;
    double m_keyReserve = 0; // what the next keyframe takes beyond its share
    double m_keyframeCost = 0; // the last keyframe's
    double m_keyNeed = 0;      // what the keyframe being chosen takes at the coarsest quantiser
    double m_spent = 0;
    double m_allotted = 0;
    double m_bPictureShare = 0; // one pass: the share of B-pictures among recent pictures, faded
    double m_bShareWeight = 0;  // and the weight faded the same way, which the share is divided by
    double m_costAverage = 0;   // one pass: recent inter pictures' weights, faded
    int m_lastInterQ = -1;
    double m_interQAverage = -1; // coded inter pictures' quantisers, faded
    int m_lastReferenceQ = -1;
    int m_bOffset = 2; // how much coarser a B-picture is coded than the reference before it
    double m_carry = 0; // the part of a quantiser the last inter picture rounded away
    bool m_variableRate = false;
    bool m_measuring = false;
    TwoPassPlan m_plan; // a second pass's
};

} // namespace corva
