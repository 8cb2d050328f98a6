#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace corva {

// Chooses each picture's quantiser (0..31, RealVideo 9/10's scale) so that a film spends the
// audience's rate: a constant-rate audience evenly, with a player's buffer never run dry for
// long; a variable-rate one where the pictures need it, within its quantiser bounds and peak.
// Plain arithmetic on the encoder's own cost estimates and the bytes each picture took.
class RateController final
{
public:
    struct Settings
    {
        double bitRate = 0;   // video bits per second
        double frameRate = 25;
        bool variableRate = false;
        double peakRate = 0;  // variable rate: the most a few seconds may average
        int qmin = 0;
        int qmax = 31;
        int width = 0;
        int height = 0;
    };

    // What one picture of a first pass measured.
    struct PassRecord
    {
        bool intra = false;
        double cost = 0;
        int quantiser = 0;
        double bits = 0;
        // A B-picture: coded from the references on both sides and itself none.
        bool bidirectional = false;
        // Where the picture shows, counted in pictures (coding order differs with B-pictures).
        int display = -1;
    };

    explicit RateController(const Settings &settings);

    // Second pass: allocate the film's budget by what the first pass measured, picture by
    // picture in coding order. Without it the controller works on what it has seen so far.
    void SetFirstPass(std::vector<PassRecord> records);
    const std::vector<PassRecord> &FirstPass() const { return m_firstPass; }

    // `cost`: the encoder's estimate of how hard the picture is to code as the type chosen.
    // A B-picture is coded a little coarser than the references around it: nothing copies it.
    int ChooseQuantiser(bool intra, double cost, bool bidirectional = false);
    // After the picture is coded: what it took at the quantiser; `spent`, where the stream took
    // less than that (levels dropped to keep the buffer), what it did take.
    void Update(bool intra, double cost, int quantiser, double bits, bool bidirectional = false, double spent = -1);

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
    double MostBits() const;
    // And for a picture at this quantiser: at the coarsest, no more than the budget allows.
    double MostBits(int quantiser) const;

    // The player's buffer as a share of its size: below 0 it ran dry.
    double BufferLevel() const { return m_buffer / m_bufferSize; }
    int Underflows() const { return m_underflows; }

    static double Step(int quantiser);

private:
    double FillRate() const; // bits a second the player's buffer fills with
    void FitPlanToBuffer();
    // Second pass: picture i's bits at a step, by what the first pass measured, and back.
    double PlannedBits(std::size_t i, double step) const;
    double StepForBits(std::size_t i, double bits) const;
    double HeaderBits() const;
    // The bell-weighted average of values around picture i: neighbours that `counts`, on each
    // side up to the first that `ends` the stretch; picture i itself when withOwn.
    static double NeighbourAverage(const std::vector<double> &values, std::size_t i, bool withOwn,
                                   const std::function<bool(std::size_t)> &counts,
                                   const std::function<bool(std::size_t)> &ends);
    int PlannedQuantiser(int type);
    double PerReference() const;
    double Spill() const;
    double Fullest() const;
    double Room() const;
    // the buffer and the budget after a picture, whatever it was
    void Account(double bits, bool bidirectional);
    double RatioAt(int type, int quantiser) const;
    double FixedBits(std::size_t i) const;
    static int TypeOf(const PassRecord &r);
    double PredictBits(bool intra, double cost, int quantiser) const;
    double TargetBits(bool intra, double cost);
    int QuantiserFor(bool intra, double cost, double target) const;
    double Pixels() const;
    // A picture's cost estimate, never below a floor: a black picture still costs its headers.
    double Difficulty(double cost) const;

    Settings m_settings;
    double m_perPicture = 0;
    double m_bufferSize = 0;
    double m_buffer = 0; // bits the player holds, filled at the rate, emptied by each picture
    int m_underflows = 0;

    // bits ~ coefficient * cost / step, learnt per picture type with a fading memory.
    double m_coefficient[2] = {0, 0};
    double m_weight[2] = {0, 0};

    std::int64_t m_pictures = 0;
    double m_spent = 0;
    double m_allotted = 0;
    double m_bShare = 0; // one pass: the share of B-pictures among recent pictures, faded
    double m_bBits = 0;  // and what one takes
    double m_costAverage = 0; // one pass: recent inter pictures' weights, faded
    int m_lastInterQ = -1;
    int m_lastReferenceQ = -1;
    int m_lastBidirectionalQ = -1;

    std::vector<PassRecord> m_firstPass;
    std::vector<double> m_plannedBits; // second pass: per picture
    std::vector<double> m_plannedAhead; // second pass: bits beyond the rate before each picture
    std::vector<double> m_plannedStep;
    // this pass's bits against the plan's at the same step, for inter, intra and B-pictures
    double m_ratio[3] = {1, 1, 1};
    double m_ratioWeight[3] = {1, 1, 1};
    // second pass: what the plan expects of the pictures not yet coded, by type: the part that
    // does not follow the step and the part that does; the film's budget; the steps' scale
    double m_restFixed[3] = {0, 0, 0};
    double m_restScaled[3] = {0, 0, 0};
    double m_planTotal = 0;
    double m_scale = 1;
    // second pass: bits against the plan of the inter pictures coded at each quantiser
    double m_qRatio[32] = {};
    double m_qRatioWeight[32] = {};
    double m_carry = 0;         // the part of a quantiser the last inter picture rounded away
};

} // namespace corva
