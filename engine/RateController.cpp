#include "engine/RateController.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace corva {

namespace {

// The decoder's dequantiser step for each quantiser: roughly doubling every six.
constexpr double kSteps[32] = {60,  67,  76,  85,  96,  108, 121, 136, 152,  171,  192,  216,  242,  272,  305,  341,
                               383, 432, 481, 544, 606, 683, 767, 854, 963, 1074, 1212, 1392, 1566, 1708, 1978, 2211};

// How strongly bits follow a picture's difficulty: a constant-rate film keeps its pictures
// near the same size, a variable-rate one lets busy scenes take more.
double compressionFor(bool variableRate)
{
    return variableRate ? 0.7 : 0.35;
}

// The player's buffer, in seconds of the rate: a constant-rate stream allows a burst of about a
// second; a variable-rate one is measured against its peak over a few seconds.
double bufferSeconds(bool variableRate)
{
    return variableRate ? 3.0 : 1.0;
}
// Over how many seconds a shortfall or an excess is paid back.
double horizonSeconds(bool variableRate)
{
    return variableRate ? 8.0 : 2.0;
}

constexpr double kMemory = 0.85;
// The difficulty a picture is weighed against: the recent inter pictures', so a film growing
// busier does not give each new picture more than its share.
constexpr double kCostMemory = 0.96;

// A second pass plans steps: how strongly its pictures' bits follow their complexity, in
// steps ~ complexity^(1 - compression), for constant and variable rates.
double planCompressionFor(bool variableRate)
{
    return variableRate ? 0.7 : 0.5;
}
// Bits fall a little faster than the step grows.
constexpr double kBitsExponent = 1.1;
// Over how many pictures a second pass averages inter pictures' complexity (the spread of a
// bell), and how much finer than its followers an intra picture is coded.
constexpr double kBlurPictures = 8.0;
constexpr double kIntraStepRatio = 1.4;
// How much coarser a B-picture is coded than the references around it, as a step and (one
// pass) in quantisers.
constexpr double kBidirectionalStepRatio = 1.25;
constexpr int kBidirectionalOffset = 2;
// How slowly the second pass learns how its pictures differ from the first pass's.
constexpr double kRatioMemory = 0.95;
constexpr double kRatioPrior = 3.0;
// How far, and how fast per picture, a second pass may scale the plan's steps.
constexpr double kScaleLimit = 4.0;
constexpr double kScaleMove = 1.03;
// What a second pass aims at, as a share of its plan: a film that strays ends a little under
// its rate rather than above it.
constexpr double kAim = 0.99;
// Towards the end a plan closes on the rate by this share of a picture's bits per picture.
constexpr double kClosing = 0.5;
// How full a constant-rate buffer may run before pictures are coded finer to spend what arrives:
// a second pass follows a plan that kept the buffer within its walls; one pass, seeing nothing
// ahead, keeps a wider margin, as a picture coded too coarsely near the top loses its bits.
constexpr double kFullest = 0.98;
constexpr double kFullestOnePass = 0.95;
// How much of its buffer a constant-rate picture at the coarsest quantiser may spend beyond
// the film's budget.
constexpr double kBudgetSlack = 0.2;
// How strongly one pass leans against its buffer's level: a full buffer raises the target by
// e^0.25, an empty one lowers it as much.
constexpr double kBufferLean = 0.5;
// How strongly a second pass leans against its buffer straying from the plan's: a buffer's
// worth astray scales the steps by e.
constexpr double kAstrayGain = 1.0;

} // namespace

double RateController::Pixels() const
{
    return std::max(1.0, double(m_settings.width) * m_settings.height);
}

double RateController::Difficulty(double cost) const
{
    return std::max(cost, Pixels() * 0.25);
}

double RateController::Step(int quantiser)
{
    return kSteps[std::clamp(quantiser, 0, 31)];
}

RateController::RateController(const Settings &settings) : m_settings(settings)
{
    m_settings.qmin = std::clamp(m_settings.qmin, 0, 31);
    m_settings.qmax = std::clamp(m_settings.qmax, m_settings.qmin, 31);
    if (m_settings.frameRate <= 0)
        m_settings.frameRate = 25;
    m_perPicture = std::max(1.0, m_settings.bitRate / m_settings.frameRate);
    m_bufferSize = std::max(m_perPicture * 4, FillRate() * bufferSeconds(m_settings.variableRate));
    m_buffer = m_bufferSize; // the player starts once its buffer is full
}

int RateController::FirstPassQuantiser() const
{
    const double bitsPerPixel = m_perPicture / Pixels();
    const int q = static_cast<int>(std::lround(20.0 - 6.0 * std::log2(std::max(bitsPerPixel, 1e-4) / 0.05)));
    return std::clamp(q, m_settings.qmin, m_settings.qmax);
}

double RateController::FixedBits(std::size_t i) const
{
    return std::min(std::max(1.0, m_firstPass[i].bits) * 0.3, HeaderBits());
}

int RateController::TypeOf(const PassRecord &r)
{
    return r.intra ? 1 : (r.bidirectional ? 2 : 0);
}

double RateController::PlannedBits(std::size_t i, double step) const
{
    const PassRecord &r = m_firstPass[i];
    const double bits = std::max(1.0, r.bits);
    const double fixed = FixedBits(i);
    return fixed + (bits - fixed) * std::pow(Step(r.quantiser) / step, kBitsExponent);
}

double RateController::StepForBits(std::size_t i, double bits) const
{
    const PassRecord &r = m_firstPass[i];
    const double measured = std::max(1.0, r.bits);
    const double fixed = FixedBits(i);
    if (bits <= fixed + 1)
        return Step(m_settings.qmax);
    return Step(r.quantiser) * std::pow((measured - fixed) / (bits - fixed), 1.0 / kBitsExponent);
}

double RateController::NeighbourAverage(const std::vector<double> &values, std::size_t i, bool withOwn,
                                        const std::function<bool(std::size_t)> &counts,
                                        const std::function<bool(std::size_t)> &ends)
{
    // a bell over the pictures on either side, each side up to the first that ends the stretch
    const int reach = static_cast<int>(std::lround(kBlurPictures * 2));
    double sum = withOwn ? values[i] : 0, weights = withOwn ? 1 : 0;
    for (int dir = -1; dir <= 1; dir += 2)
        for (int d = 1; d <= reach; ++d) {
            const std::ptrdiff_t j = static_cast<std::ptrdiff_t>(i) + dir * d;
            if (j < 0 || j >= static_cast<std::ptrdiff_t>(values.size()) || ends(static_cast<std::size_t>(j)))
                break;
            if (!counts(static_cast<std::size_t>(j)))
                continue;
            const double w = std::exp(-0.5 * d * d / (kBlurPictures * kBlurPictures));
            sum += w * values[static_cast<std::size_t>(j)];
            weights += w;
        }
    return weights > 0 ? sum / weights : values[i];
}

double RateController::HeaderBits() const
{
    // a picture's header and about a bit per macroblock of skips, whatever its quantiser
    return 64 + Pixels() / 256.0;
}

void RateController::SetFirstPass(std::vector<PassRecord> records)
{
    m_firstPass = std::move(records);
    const std::size_t n = m_firstPass.size();
    m_plannedBits.assign(n, 0);
    m_plannedStep.assign(n, 0);
    if (n == 0)
        return;
    // Each picture gets a step from its complexity (the texture bits it would take at step 1),
    // steps ~ complexity^(1 - qc). Inter pictures use their complexity averaged over their
    // neighbours up to the next intra picture, so the quantiser follows scenes, not the ripple of
    // single pictures; an intra picture is coded finer than the pictures that follow and copy it.
    const double qc = planCompressionFor(m_settings.variableRate);
    std::vector<double> complexity(n);
    for (std::size_t i = 0; i < n; ++i) {
        const PassRecord &r = m_firstPass[i];
        complexity[i] = std::max(1.0, std::max(1.0, r.bits) - FixedBits(i)) * std::pow(Step(r.quantiser), kBitsExponent);
    }
    std::vector<double> shape(n, 0);
    auto isReference = [&](std::size_t j) { return !m_firstPass[j].intra && !m_firstPass[j].bidirectional; };
    auto isIntra = [&](std::size_t j) { return m_firstPass[j].intra; };
    for (std::size_t i = 0; i < n; ++i) {
        if (m_firstPass[i].intra)
            continue;
        // A B-picture takes the step of the inter pictures around it, a little coarser; an intra
        // picture ends the stretch: the scene behind it is another.
        const bool b = m_firstPass[i].bidirectional;
        const double average = NeighbourAverage(complexity, i, !b, isReference, isIntra);
        shape[i] = std::pow(average, 1.0 - qc) * (b ? kBidirectionalStepRatio : 1.0);
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (!m_firstPass[i].intra)
            continue;
        // the inter picture after it (or before it, at the end of the film) sets its step
        double follower = 0;
        for (std::size_t j = i + 1; j < n && !follower; ++j)
            if (isReference(j))
                follower = shape[j];
        for (std::size_t j = i; j-- > 0 && !follower;)
            if (isReference(j))
                follower = shape[j];
        shape[i] = (follower ? follower : std::pow(complexity[i], 1.0 - qc)) / kIntraStepRatio;
    }
    // the scale that spends the budget, found by halving the interval (bits fall as it grows)
    const double budget = m_perPicture * double(n);
    // Steps are planned beyond what the quantisers reach, so that the plan keeps its pictures'
    // relations where the rate asks for more or less than the quantisers can give; the
    // quantiser of each is bounded when it is coded.
    const double widest[2] = {Step(0) / 8, Step(31) * 8};
    auto planAt = [&](double logScale) {
        double total = 0;
        for (std::size_t i = 0; i < n; ++i) {
            m_plannedStep[i] = std::clamp(std::exp(logScale) * shape[i], widest[0], widest[1]);
            m_plannedBits[i] = PlannedBits(i, m_plannedStep[i]);
            total += m_plannedBits[i];
        }
        return total;
    };
    double lo = -60, hi = 60;
    for (int k = 0; k < 80; ++k) {
        const double mid = 0.5 * (lo + hi);
        (planAt(mid) > budget ? lo : hi) = mid;
    }
    planAt(hi);
    if (!m_settings.variableRate) {
        // The buffer's walls move single pictures' bits; the steps follow the change as averaged
        // over their neighbours, so that neighbours keep alike steps.
        FitPlanToBuffer();
        std::vector<double> moved(n);
        for (std::size_t i = 0; i < n; ++i)
            moved[i] = std::log(std::clamp(StepForBits(i, m_plannedBits[i]), widest[0], widest[1]) / m_plannedStep[i]);
        auto isInter = [&](std::size_t j) { return !m_firstPass[j].intra; };
        auto never = [](std::size_t) { return false; };
        for (std::size_t i = 0; i < n; ++i) {
            const double average = m_firstPass[i].intra ? moved[i] : NeighbourAverage(moved, i, true, isInter, never);
            m_plannedStep[i] = std::clamp(m_plannedStep[i] * std::exp(average), widest[0], widest[1]);
            m_plannedBits[i] = PlannedBits(i, m_plannedStep[i]);
        }
    }
    // the film's rate is what it aims at, whatever the buffer's walls moved
    m_planTotal = budget;
    m_plannedAhead.assign(n, 0);
    for (std::size_t i = 1; i < n; ++i)
        m_plannedAhead[i] = m_plannedAhead[i - 1] + m_plannedBits[i - 1] - m_perPicture;
    for (int t = 0; t < 3; ++t)
        m_restFixed[t] = m_restScaled[t] = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const int t = TypeOf(m_firstPass[i]);
        const double fixed = FixedBits(i);
        m_restFixed[t] += fixed;
        m_restScaled[t] += PlannedBits(i, m_plannedStep[i]) - fixed;
    }
    m_scale = 1;
    // until this pass has seen a few pictures of a type it trusts the first pass
    for (int t = 0; t < 3; ++t)
        m_ratio[t] = m_ratioWeight[t] = kRatioPrior * m_perPicture;
    std::fill(std::begin(m_qRatio), std::end(m_qRatio), 0.0);
    std::fill(std::begin(m_qRatioWeight), std::end(m_qRatioWeight), 0.0);
    m_carry = 0;
}

void RateController::FitPlanToBuffer()
{
    // Through a player's buffer the pictures may run ahead of the rate only by what the buffer
    // holds, counted from the lowest point so far (where it was last full), and bits a calm
    // stretch leaves unused beyond that much cannot be spent later. The plan is walked in order
    // with each picture kept between those walls; towards the end they close in on the rate, so
    // that the film as a whole spends what it should.
    const double room = m_bufferSize * 0.9;
    const std::size_t n = m_plannedBits.size();
    double ahead = 0;  // bits spent beyond the rate so far
    double lowest = 0; // the least of it so far
    for (std::size_t i = 0; i < n; ++i) {
        const double closing = m_perPicture * kClosing * double(n - 1 - i);
        const double floor = -std::min(room, closing);
        const double ceiling = std::min(lowest + room, closing);
        const double wanted = std::clamp(m_plannedBits[i], m_perPicture + floor - ahead, m_perPicture + ceiling - ahead);
        m_plannedBits[i] = std::max(wanted, 1.0);
        ahead += m_plannedBits[i] - m_perPicture;
        lowest = std::min(lowest, ahead);
    }
}

double RateController::PredictBits(bool intra, double cost, int quantiser) const
{
    const int t = intra ? 1 : 0;
    const double pixels = Pixels();
    const double c = Difficulty(cost);
    if (m_weight[t] > 0)
        return m_coefficient[t] / m_weight[t] * c / Step(quantiser);
    if (m_weight[1 - t] > 0) {
        // Nothing learnt of this type yet: an intra picture costs several inter ones.
        const double other = m_coefficient[1 - t] / m_weight[1 - t] * c / Step(quantiser);
        return intra ? other * 1.5 : other;
    }
    // Nothing learnt at all: the same rule of thumb the first-pass quantiser follows.
    const double guess = pixels * 0.05 * std::exp2((20.0 - quantiser) / 6.0);
    return intra ? guess * 3.0 : guess;
}

double RateController::RatioAt(int type, int quantiser) const
{
    // How this pass's pictures compare with the plan, from those of the type coded at this very
    // quantiser where there were some: bits may fall off a cliff between two quantisers (noise
    // that a coarser step no longer codes), which no single exponent follows.
    const double ratio = m_ratio[type] / m_ratioWeight[type];
    if (type != 0)
        return ratio;
    const auto q = static_cast<std::size_t>(std::clamp(quantiser, 0, 31));
    return (m_qRatio[q] + ratio * m_perPicture) / (m_qRatioWeight[q] + m_perPicture);
}

double RateController::Fullest() const
{
    return m_firstPass.empty() ? kFullestOnePass : kFullest;
}

double RateController::Spill() const
{
    // What the next picture must take for a constant-rate buffer to have room for what arrives
    // after it.
    if (m_settings.variableRate)
        return 0;
    return std::min(m_bufferSize, m_buffer + m_perPicture) + m_perPicture - m_bufferSize * Fullest();
}

double RateController::PerReference() const
{
    // the rate less what the B-pictures among the recent pictures took, over the rest
    if (m_bBits <= 0 || m_bShare <= 0.01 || m_bShare >= 0.9)
        return m_perPicture;
    return std::max(m_perPicture * 0.5, (m_perPicture - m_bShare * m_bBits) / (1 - m_bShare));
}

double RateController::TargetBits(bool intra, double cost)
{
    const double perPicture = PerReference();
    const double horizon = std::max(1.0, horizonSeconds(m_settings.variableRate) * m_settings.frameRate);
    const double correction = (m_allotted - m_spent) / horizon;
    const double qc = compressionFor(m_settings.variableRate);
    const double weight = std::pow(Difficulty(cost), qc);
    // The share of the rate a picture of average difficulty gets, from what was seen.
    const double average = m_costAverage > 0 ? m_costAverage : weight;
    double target = perPicture * weight / std::max(average, 1e-9) + correction;
    // A constant-rate buffer filling up says the estimates run high (or low, emptying): lean
    // against it before the walls do.
    if (!m_settings.variableRate)
        target *= std::exp(kBufferLean * (BufferLevel() - 0.5));
    if (intra)
        target *= 3.0;
    target = std::clamp(target, perPicture * 0.15, perPicture * (intra ? 12.0 : 4.0));
    // Never take more than the buffer holds, keeping a margin for the pictures that follow,
    // nor so little that a constant-rate buffer overflows.
    return std::max({m_perPicture * 0.1, std::min(target, Room()), Spill()});
}

int RateController::QuantiserFor(bool intra, double cost, double target) const
{
    int low = m_settings.qmin;
    int high = m_settings.qmax;
    // Neighbouring pictures keep neighbouring quantisers, so quality does not pump; a buffer
    // running low may raise it at once.
    if (m_lastInterQ >= 0) {
        if (intra) {
            low = std::max(low, m_lastInterQ - 4);
        } else {
            low = std::max(low, m_lastInterQ - 3);
            if (BufferLevel() > 0.3)
                high = std::min(high, m_lastInterQ + 3);
        }
    }
    low = std::min(low, high);
    for (int q = low; q <= high; ++q) {
        if (PredictBits(intra, cost, q) <= target)
            return q;
    }
    return high;
}

int RateController::ChooseQuantiser(bool intra, double cost, bool bidirectional)
{
    if (bidirectional && !intra && m_lastReferenceQ >= 0) {
        // A B-picture follows the reference coded just before it (its later one): finer, it
        // would take bits the references need, and they are what everything is copied from.
        // What B-pictures leave unspent goes to the references.
        int q = std::clamp(m_lastReferenceQ + kBidirectionalOffset, m_settings.qmin, m_settings.qmax);
        // Unless a constant-rate buffer would overflow while the references are as fine as they
        // go: bits it turns away are never spent. (Finer B-pictures otherwise take what the
        // references after them need.)
        const double spill = Spill();
        auto predicted = [&](int quantiser) {
            return m_bBits * std::pow(Step(m_lastBidirectionalQ) / Step(quantiser), kBitsExponent);
        };
        while (m_lastReferenceQ <= m_settings.qmin && m_lastBidirectionalQ >= 0 && q > m_settings.qmin &&
               predicted(q) < spill)
            --q;
        return q;
    }
    if (static_cast<std::size_t>(m_pictures) < m_firstPass.size())
        return PlannedQuantiser(intra ? 1 : (bidirectional ? 2 : 0));
    return QuantiserFor(intra, cost, TargetBits(intra, cost));
}

int RateController::PlannedQuantiser(int t)
{
    const std::size_t i = static_cast<std::size_t>(m_pictures);
    // How this pass's pictures compare with the first pass's at the same step (it may search
    // harder and so spend less), for each type apart; from that, the one scale of every step
    // that spends what the plan has left on the pictures left. Moved a little at a time, so
    // that neighbouring pictures keep alike steps.
    double left = m_planTotal * kAim - m_spent, scaled = 0;
    for (int k = 0; k < 3; ++k) {
        const double r = m_ratio[k] / m_ratioWeight[k];
        left -= r * m_restFixed[k];
        scaled += r * m_restScaled[k];
    }
    const double fit = left > 0 && scaled > 0 ? std::pow(scaled / left, 1.0 / kBitsExponent) : kScaleLimit;
    m_scale = std::clamp(std::clamp(fit, m_scale / kScaleMove, m_scale * kScaleMove), 1.0 / kScaleLimit, kScaleLimit);
    // Where the buffer strays from where the plan had it (bits falling off a cliff with the
    // quantiser, as noise does, make single pictures unpredictable), the steps lean against it
    // at once rather than over the rest of the film.
    const double astray = m_settings.variableRate ? 0.0 : (m_spent - m_perPicture * double(i) - m_plannedAhead[i]) / m_bufferSize;
    const double step = m_plannedStep[i] * m_scale * std::exp(std::clamp(kAstrayGain * astray, -1.0, 1.0));

    // The quantiser whose step is nearest on the log scale, as a fraction; the fraction left is
    // carried to the next inter pictures, so that on average they come out at the planned step.
    double wanted = m_settings.qmax;
    for (int q = 0; q < 31; ++q)
        if (step < Step(q + 1)) {
            wanted = q + std::clamp(std::log(step / Step(q)) / std::log(Step(q + 1) / Step(q)), 0.0, 1.0);
            break;
        }
    const double carried = t == 0 ? wanted + m_carry : wanted;
    int q = std::clamp(static_cast<int>(std::lround(carried)), m_settings.qmin, m_settings.qmax);
    // Never take more than the buffer holds, keeping a margin for the pictures that follow.
    const double room = Room();
    bool forced = false;
    auto predicted = [&](int quantiser) { return PlannedBits(i, Step(quantiser)) * RatioAt(t, quantiser); };
    while (q < m_settings.qmax && predicted(q) > room) {
        ++q;
        forced = true;
    }
    // Nor leave it overflowing: a constant-rate stream cannot spend later what a full buffer
    // turned away, so the film would end short of its rate.
    const double spill = Spill();
    while (!forced && q > m_settings.qmin && predicted(q) < spill) {
        --q;
        forced = true;
    }
    if (t == 0)
        m_carry = forced ? 0.0 : std::clamp(carried - q, -1.0, 1.0);
    return q;
}

void RateController::Update(bool intra, double cost, int quantiser, double bits, bool bidirectional, double spent)
{
    const bool b = bidirectional && !intra;
    const int t = intra ? 1 : (b ? 2 : 0);
    const std::size_t i = static_cast<std::size_t>(m_pictures);
    if (i < m_firstPass.size()) {
        // far from the first pass's quantiser the measure says little: one picture moves it only so far
        // A ratio of sums, not a mean of ratios: where bits fall off a cliff with the quantiser
        // (noise that vanishes at a coarse step), a few large pictures must not outweigh the many
        // that came out tiny.
        const double expected = PlannedBits(i, Step(quantiser));
        m_ratio[t] = m_ratio[t] * kRatioMemory + std::clamp(bits, expected / 3, expected * 3);
        m_ratioWeight[t] = m_ratioWeight[t] * kRatioMemory + expected;
        if (t == 0) {
            const auto q = static_cast<std::size_t>(std::clamp(quantiser, 0, 31));
            m_qRatio[q] = m_qRatio[q] * kRatioMemory + bits;
            m_qRatioWeight[q] = m_qRatioWeight[q] * kRatioMemory + expected;
        }
    } else if (!b) {
        m_coefficient[t] = m_coefficient[t] * kMemory + bits * Step(quantiser) / Difficulty(cost);
        m_weight[t] = m_weight[t] * kMemory + 1.0;
    }
    const double qc = compressionFor(m_settings.variableRate);
    if (!intra && !b) {
        const double weight = std::pow(Difficulty(cost), qc);
        m_costAverage = m_costAverage > 0 ? m_costAverage * kCostMemory + (1 - kCostMemory) * weight : weight;
    }
    if (b)
        m_lastBidirectionalQ = quantiser;
    // An intra picture starts a scene (or a stretch of one): the pictures after it follow its quantiser.
    if (!b) {
        m_lastInterQ = intra ? quantiser + 2 : quantiser;
        m_lastReferenceQ = quantiser;
    }
    Account(spent >= 0 ? spent : bits, b);
}

double RateController::Room() const
{
    // what the buffer holds once the next picture's share has arrived, less a margin for the
    // pictures that follow
    return m_buffer + m_perPicture - m_bufferSize * 0.1;
}

double RateController::FillRate() const
{
    return m_settings.variableRate ? std::max(m_settings.peakRate, m_settings.bitRate) : m_settings.bitRate;
}

double RateController::MostBits() const
{
    return std::min(m_bufferSize, m_buffer + FillRate() / m_settings.frameRate);
}

double RateController::MostBits(int quantiser) const
{
    double most = MostBits();
    // At the coarsest quantiser one pass has no coarser step left, so a constant-rate picture
    // takes no more than the film still has of its budget and a little of the buffer besides:
    // what a hard stretch overspends stays small and is paid back by the pictures after it. A
    // second pass borrows from the buffer where its plan says, and only the buffer bounds it.
    if (!m_settings.variableRate && m_firstPass.empty() && quantiser >= m_settings.qmax)
        most = std::min(most, std::max(m_perPicture * 0.25, m_allotted - m_spent + m_perPicture + kBudgetSlack * m_bufferSize));
    return most;
}

bool RateController::RepeatInstead(double cost) const
{
    // A full buffer gains nothing by waiting longer: the picture is coded, whatever it takes, so
    // that a film no quantiser fits into the buffer still moves.
    if (m_settings.variableRate || m_buffer >= m_bufferSize * Fullest())
        return false;
    const std::size_t i = static_cast<std::size_t>(m_pictures);
    const int q = m_settings.qmax;
    const double predicted = i < m_firstPass.size() ? PlannedBits(i, Step(q)) * RatioAt(0, q) : PredictBits(false, cost, q);
    return predicted > Room();
}

void RateController::UpdateRepeated(double bits)
{
    // the picture did not fit even at the coarsest quantiser, so the next starts from there
    m_lastInterQ = m_lastReferenceQ = m_settings.qmax;
    Account(bits, false);
}

void RateController::Account(double bits, bool bidirectional)
{
    const std::size_t i = static_cast<std::size_t>(m_pictures);
    if (i < m_firstPass.size()) {
        const int planned = TypeOf(m_firstPass[i]);
        const double fixed = FixedBits(i);
        m_restFixed[planned] -= fixed;
        m_restScaled[planned] -= PlannedBits(i, m_plannedStep[i]) - fixed;
    }
    // one pass: what B-pictures take, so that the references are given the rest
    const double perReference = PerReference();
    m_bShare = m_bShare * kCostMemory + (1 - kCostMemory) * (bidirectional ? 1.0 : 0.0);
    if (bidirectional)
        m_bBits = m_bBits > 0 ? m_bBits * kMemory + (1 - kMemory) * bits : bits;
    ++m_pictures;
    m_spent += bits;
    m_allotted += i < m_plannedBits.size() ? m_plannedBits[i] : (bidirectional ? bits : perReference);
    // Bits a still scene could not use are not owed to the next busy one: a player's buffer
    // holds only so much, and a burst past it would stall playback. A second pass planned
    // them where they fit.
    const double bank = m_bufferSize * (m_settings.variableRate ? 1.0 : 0.8);
    if (i >= m_plannedBits.size() && m_allotted - m_spent > bank)
        m_spent = m_allotted - bank;

    m_buffer = MostBits() - bits;
    if (m_buffer < 0) {
        ++m_underflows;
        m_buffer = 0; // the player waited until the picture had arrived
    }
}

} // namespace corva
