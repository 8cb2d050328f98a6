#include "engine/RateController.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace corva {

using rv40::PictureType;

namespace {

// How strongly bits follow a picture's difficulty: a constant-rate film keeps its pictures
// near the same size, a variable-rate one lets busy scenes take more.
double compressionFor(bool variableRate)
{
    return variableRate ? 0.7 : 0.35;
}

// Over how many seconds a shortfall or an excess is paid back.
double horizonSeconds(bool variableRate)
{
    return variableRate ? 8.0 : 2.0;
}

// The difficulty a picture is weighed against: the recent inter pictures', so a film growing
// busier does not give each new picture more than its share.
constexpr double kCostMemory = 0.96;
// How strongly one pass leans against its buffer's level: a full buffer raises the target by
// e^0.25, an empty one lowers it as much.
constexpr double kBufferLean = 0.5;
// The share of its bound a keyframe is aimed at, for the model's misses.
constexpr double kAimWithin = 0.8;

// Pictures a second; a plan without a rate has the usual 25.
double frameRateOf(const EncodePlan::Video &video)
{
    const double rate = av_q2d(video.frameRate);
    return rate <= 0 ? 25 : rate;
}

} // namespace

RateController::RateController(const EncodePlan::Video &video, bool measuring)
    : m_qmin(std::clamp(video.qmin, 0, 31)), m_qmax(std::clamp(video.qmax, m_qmin, 31)), m_frameRate(frameRateOf(video)),
      m_perPicture(std::max(1.0, double(video.bitRate) / m_frameRate)),
      m_buffer(double(video.bitRate), double(video.maxRate), m_frameRate, video.variableRate, m_perPicture),
      m_model(double(video.width) * video.height, m_perPicture), m_gop(std::max(1, video.gopSize)),
      m_lateKeyframe(video.lateKeyframe), m_filmPictures(video.pictures), m_bOffset(video.bQuantiserOffset),
      m_variableRate(video.variableRate), m_measuring(measuring)
{
}

int RateController::FirstPassQuantiser() const
{
    return std::clamp(BitModel::ThumbQuantiser(m_perPicture / m_model.Pixels()), m_qmin, m_qmax);
}

void RateController::SetFirstPass(std::vector<PassRecord> records)
{
    m_buffer.SetPlanned(!records.empty());
    m_plan = TwoPassPlan(std::move(records), m_perPicture, m_variableRate, m_qmax, m_model.Pixels(), m_buffer);
    m_model.TrustPlan();
    m_carry = 0;
}

double RateController::Saved() const
{
    if (!Reserving())
        return 0;
    return m_keyReserve * std::min(1.0, double(m_sinceKeyframe) / std::max(1, m_keySpan - 1));
}

double RateController::PerReference() const
{
    // the rate less what the B-pictures among the recent pictures took and what is set aside
    // for the next keyframe, over the rest
    const double perPicture = m_perPicture - (Reserving() ? m_keyReserve / std::max(1, m_keySpan - 1) : 0.0);
    const double bBits = m_model.BidirectionalBits();
    // The share as far as it is known: faded in from none, a film's first seconds aimed the
    // references as if there were no B-pictures and a still street at the top rate fell 4%
    // short. (A measuring pass keeps the faded share: second passes are planned on what it
    // measures so.)
    const double share = m_measuring ? m_bPictureShare : m_bPictureShare / std::max(m_bShareWeight, 1e-9);
    if (bBits <= 0 || share <= 0.01 || share >= 0.9)
        return perPicture;
    return std::max(m_perPicture * 0.5, (perPicture - share * bBits) / (1 - share));
}

double RateController::TargetBits(PictureType type, double cost)
{
    const bool intra = type == PictureType::Intra;
    const double perPicture = PerReference();
    const double horizon = std::max(1.0, horizonSeconds(m_variableRate) * m_frameRate);
    const double correction = (m_allotted - m_spent - (intra ? 0.0 : Saved())) / horizon;
    const double qc = compressionFor(m_variableRate);
    const double weight = std::pow(m_model.Difficulty(cost), qc);
    // The share of the rate a picture of average difficulty gets, from what was seen.
    const double average = m_costAverage > 0 ? m_costAverage : weight;
    double target = perPicture * weight / std::max(average, 1e-9) + correction;
    // A constant-rate buffer filling up says the estimates run high (or low, emptying): lean
    // against it before the walls do.
    if (!m_variableRate)
        target *= std::exp(kBufferLean * (BufferLevel() - 0.5));
    // (a keyframe the pictures before it set bits aside for spends them)
    if (intra)
        target = m_keyReserve > 0 ? std::max(target * 3.0, m_allotted - m_spent + m_perPicture) : target * 3.0;
    target = std::clamp(target, perPicture * 0.15, perPicture * (intra ? 12.0 : 4.0));
    target = m_buffer.Clamp(target, m_perPicture * 0.1);
    // A keyframe is aimed within the bound it is then held to: aimed past it, it is coded again
    // ever coarser and, far past it (the film's budget spent), at the coarsest quantiser, a gray
    // keyframe the pictures after it climb back from. A measuring pass holds none to a bound and
    // measures it where it would code; inter pictures keep their aim there too, as they may
    // repeat their reference where a bound holds them.
    return intra && !m_measuring ? std::min(target, kAimWithin * MostBits(type, m_qmax)) : target;
}

int RateController::QuantiserFor(PictureType type, double cost, double target) const
{
    int low = m_qmin;
    int high = m_qmax;
    // Neighbouring pictures keep neighbouring quantisers, so quality does not pump; a buffer
    // running low may raise it at once.
    if (m_lastInterQ >= 0) {
        if (type == PictureType::Intra) {
            low = std::max(low, m_lastInterQ - 4);
        } else {
            // (twice as fast down where the last was far coarser than inter pictures have
            // been and the buffer is four fifths full again: after a picture squeezed by an
            // empty buffer the film recovers within a few pictures)
            const bool squeezed = m_interQAverage >= 0 && m_lastInterQ > m_interQAverage + 6 && BufferLevel() > 0.8;
            low = std::max(low, m_lastInterQ - (squeezed ? 6 : 3));
            if (BufferLevel() > 0.3)
                high = std::min(high, m_lastInterQ + 3);
        }
    }
    low = std::min(low, high);
    for (int q = low; q <= high; ++q) {
        if (m_model.Predict(type, cost, q) <= target)
            return q;
    }
    return high;
}

int RateController::ChooseQuantiser(PictureType type, double cost)
{
    if (type == PictureType::Bidirectional && m_lastReferenceQ >= 0) {
        // A B-picture follows the reference coded just before it (its later one): finer, it
        // would take bits the references need, and they are what everything is copied from.
        // What B-pictures leave unspent goes to the references.
        const int q = std::clamp(m_lastReferenceQ + m_bOffset, m_qmin, m_qmax);
        // Unless a constant-rate buffer would overflow while the references are as fine as they
        // go: bits it turns away are never spent. (Finer B-pictures otherwise take what the
        // references after them need.)
        if (m_lastReferenceQ > m_qmin || !m_model.KnowsBidirectional())
            return q;
        return m_buffer.Finer(q, m_qmin, INT_MAX, [&](int quantiser) { return m_model.Predict(type, cost, quantiser); });
    }
    if (Planned())
        return PlannedQuantiser(type);
    if (type == PictureType::Intra)
        m_keyNeed = m_model.Predict(type, cost, m_qmax);
    return QuantiserFor(type, cost, TargetBits(type, cost));
}

int RateController::PlannedQuantiser(PictureType type)
{
    const std::size_t i = static_cast<std::size_t>(m_pictures);
    const double step = m_plan.StepFor(i, m_spent, m_model, m_buffer);

    // The quantiser whose step is nearest on the log scale, as a fraction; the fraction left is
    // carried to the next inter pictures, so that on average they come out at the planned step.
    double wanted = m_qmax;
    for (int q = 0; q < 31; ++q)
        if (step < Step(q + 1)) {
            wanted = q + std::clamp(std::log(step / Step(q)) / std::log(Step(q + 1) / Step(q)), 0.0, 1.0);
            break;
        }
    const bool inter = type == PictureType::Inter;
    const double carried = inter ? wanted + m_carry : wanted;
    const int rounded = std::clamp(static_cast<int>(std::lround(carried)), m_qmin, m_qmax);
    auto predicted = [&](int quantiser) {
        return m_model.PredictPlanned(type, m_plan.BitsAt(i, Step(quantiser)), quantiser);
    };
    // Never take more than the buffer holds; nor, a single step at most, leave it overflowing.
    int q = m_buffer.Coarser(rounded, m_qmax, predicted);
    if (q == rounded)
        q = m_buffer.Finer(q, m_qmin, 1, predicted);
    if (inter)
        m_carry = q != rounded ? 0.0 : std::clamp(carried - q, -1.0, 1.0);
    return q;
}

void RateController::Update(PictureType type, double cost, int quantiser, double bits, double spent)
{
    const std::size_t i = static_cast<std::size_t>(m_pictures);
    if (Planned())
        m_model.LearnPlanned(type, m_plan.BitsAt(i, Step(quantiser)), quantiser, bits);
    else if (type != PictureType::Bidirectional)
        m_model.Learn(type, cost, quantiser, bits);
    if (type == PictureType::Inter) {
        m_interQAverage = m_interQAverage < 0 ? quantiser : m_interQAverage * kCostMemory + (1 - kCostMemory) * quantiser;
        const double weight = std::pow(m_model.Difficulty(cost), compressionFor(m_variableRate));
        m_costAverage = m_costAverage > 0 ? m_costAverage * kCostMemory + (1 - kCostMemory) * weight : weight;
    }
    // An intra picture starts a scene (or a stretch of one): the pictures after it follow its quantiser.
    if (type != PictureType::Bidirectional) {
        m_lastInterQ = type == PictureType::Intra ? quantiser + 2 : quantiser;
        m_lastReferenceQ = quantiser;
    }
    if (type == PictureType::Intra) {
        m_sinceKeyframe = 0;
        m_keyframeCost = cost;
        // the next regular keyframe, or the late one (which a keyframe in the film's last
        // quarter before it makes unneeded), within the film where its length is known
        std::int64_t next = m_pictures + m_gop;
        if (m_lateKeyframe > m_pictures && m_pictures < m_lateKeyframe * 3 / 4)
            next = std::min<std::int64_t>(next, m_lateKeyframe);
        m_keySpan = m_filmPictures > 0 && next >= m_filmPictures ? 0 : static_cast<int>(next - m_pictures);
    }
    ReserveForKeyframe(quantiser);
    Account(spent >= 0 ? spent : bits, type, quantiser);
}

double RateController::MostBits(PictureType type, int quantiser) const
{
    // A keyframe crushed to a few hundred bytes to pay a debt back at once showed flat gray: it
    // keeps at least a picture's share, and the pictures after it pay. Those shares alone spend
    // no more than the rate.
    const double least = type == PictureType::Intra ? m_perPicture : 0;
    // One pass sees no end coming: what the first pictures borrow from the player's full buffer,
    // at any quantiser, would never be paid back in a short film (a cut at every picture at the
    // narrow audience spent 7% over five seconds), so every constant-rate picture keeps within
    // what is left of the film's budget and a little of the buffer besides.
    // A keyframe a second or more after the last (a cut the pictures before did not see coming)
    // keeps at least what it takes at the coarsest quantiser, as far as the buffer holds it:
    // held to what is left of the budget, it lost its levels and showed flat gray, and the
    // pictures after it copied that (a cut every second at the narrow audience: 16 dB). The
    // pictures after it pay the debt back; cuts closer together keep the budget's bound.
    if (OnePassConstantRate()) {
        const bool secondOn = type == PictureType::Intra && double(m_sinceKeyframe) >= m_frameRate;
        return m_buffer.MostBitsOf(m_allotted - m_spent + m_perPicture + m_buffer.Slack(),
                                   secondOn ? std::max(least, m_keyNeed) : least);
    }
    // A second pass borrows from the buffer where its plan says; at the coarsest quantiser,
    // where no coarser step is left, a picture's budget is its share of the film's budget and
    // what the pictures before left of theirs. (Bounded by the buffer alone, a short film of
    // pictures the coarsest step cannot bring down to the plan spent the whole buffer on top of
    // its rate.) Half its share is always left to it: those halves alone leave half the budget
    // to pay back with.
    if (!m_variableRate && quantiser >= m_qmax && Planned()) {
        const double share = m_plan.Budgeted(static_cast<std::size_t>(m_pictures));
        return m_buffer.MostBitsOf(m_allotted - m_spent + share + m_buffer.Slack(), std::max(least, share * 0.5));
    }
    return m_buffer.MostBits();
}

bool RateController::RepeatInstead(double cost) const
{
    const std::size_t i = static_cast<std::size_t>(m_pictures);
    const int q = m_qmax;
    const double predicted = Planned() ? m_model.PredictPlanned(PictureType::Inter, m_plan.BitsAt(i, Step(q)), q)
                                       : m_model.Predict(PictureType::Inter, cost, q);
    return m_buffer.Repeat(predicted);
}

void RateController::UpdateRepeated(double bits)
{
    // the picture did not fit even at the coarsest quantiser, so the next starts from there
    m_lastInterQ = m_lastReferenceQ = m_qmax;
    Account(bits, PictureType::Inter, m_qmax);
}

RateController::Ahead RateController::UpdateAhead(double cost, int quantiser)
{
    const PictureType type = PictureType::Bidirectional;
    Ahead ahead;
    ahead.index = static_cast<std::size_t>(m_pictures);
    ahead.quantiser = quantiser;
    ahead.planned = Planned();
    ahead.predicted = ahead.planned
                          ? m_model.PredictPlanned(type, m_plan.BitsAt(ahead.index, Step(quantiser)), quantiser)
                          : m_model.Predict(type, cost, quantiser);
    Account(ahead.predicted, type, quantiser, false);
    return ahead;
}

void RateController::Settle(const Ahead &ahead, double bits, double spent)
{
    const PictureType type = PictureType::Bidirectional;
    if (ahead.planned)
        m_model.LearnPlanned(type, m_plan.BitsAt(ahead.index, Step(ahead.quantiser)), ahead.quantiser, bits);
    const double took = spent >= 0 ? spent : bits;
    m_model.LearnBidirectional(took, ahead.quantiser);
    m_spent += took - ahead.predicted;
    if (!ahead.planned && m_allotted - m_spent > m_buffer.Bank())
        m_spent = m_allotted - m_buffer.Bank();
    m_buffer.Correct(ahead.predicted - took);
}

void RateController::ReserveForKeyframe(int quantiser)
{
    // One constant-rate pass keeps each picture within what is left of the budget, so a keyframe
    // coming after pictures that spent their shares gets hardly more than its own: crushed,
    // with every picture after it copying its blur. The pictures before the next one set aside
    // what it would take beyond its share near the inter pictures' quantiser.
    m_keyReserve = 0;
    if (m_measuring || !OnePassConstantRate() || m_keySpan < 2)
        return;
    const int q = m_interQAverage >= 0 ? static_cast<int>(std::lround(m_interQAverage)) : quantiser;
    const double wanted = m_model.Predict(PictureType::Intra, m_keyframeCost, std::clamp(q, m_qmin, m_qmax)) - m_perPicture;
    m_keyReserve = std::clamp(wanted, 0.0, m_buffer.Bank() - m_buffer.Slack());
}

void RateController::Account(double bits, PictureType type, int quantiser, bool learn)
{
    const std::size_t i = static_cast<std::size_t>(m_pictures);
    const bool planned = Planned();
    if (planned)
        m_plan.Coded(i);
    // one pass: what B-pictures take, so that the references are aimed at the rest
    const bool b = type == PictureType::Bidirectional;
    m_bPictureShare = m_bPictureShare * kCostMemory + (1 - kCostMemory) * (b ? 1.0 : 0.0);
    m_bShareWeight = m_bShareWeight * kCostMemory + (1 - kCostMemory);
    if (b && learn)
        m_model.LearnBidirectional(bits, quantiser);
    ++m_pictures;
    ++m_sinceKeyframe;
    m_spent += bits;
    // A second pass owes against its shares of the budget only what pictures at the coarsest
    // step overspent: the steps of the others already aim at what the film has left. One pass
    // gives every picture, of whatever type, its share of the rate: the references' aim holds
    // what the B-pictures leave only as well as the B-pictures' share is known (it is learnt
    // from none at the start), and the budget then sees what it missed.
    m_allotted += planned ? m_plan.Budgeted(i) : m_perPicture;
    // Bits a still scene could not use are not owed to the next busy one: a player's buffer
    // holds only so much, and a burst past it would stall playback. A second pass planned
    // them where they fit.
    if (!planned && m_allotted - m_spent > m_buffer.Bank())
        m_spent = m_allotted - m_buffer.Bank();
    m_buffer.Drain(bits);
}

} // namespace corva
