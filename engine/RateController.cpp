#include "engine/RateController.h"

#include <algorithm>
#include <cmath>

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
    const double fillRate = m_settings.variableRate ? std::max(m_settings.peakRate, m_settings.bitRate) : m_settings.bitRate;
    m_bufferSize = std::max(m_perPicture * 4, fillRate * bufferSeconds(m_settings.variableRate));
    m_buffer = m_bufferSize; // the player starts once its buffer is full
}

int RateController::FirstPassQuantiser() const
{
    const double bitsPerPixel = m_perPicture / Pixels();
    const int q = static_cast<int>(std::lround(20.0 - 6.0 * std::log2(std::max(bitsPerPixel, 1e-4) / 0.05)));
    return std::clamp(q, m_settings.qmin, m_settings.qmax);
}

void RateController::SetFirstPass(std::vector<PassRecord> records)
{
    m_firstPass = std::move(records);
    m_plannedBits.assign(m_firstPass.size(), 0);
    if (m_firstPass.empty())
        return;
    // A picture's complexity is what it would take at step 1; each gets complexity^qc of
    // the budget, kept within what the quantiser bounds allow.
    const double qc = compressionFor(m_settings.variableRate);
    const double budget = m_perPicture * double(m_firstPass.size());
    std::vector<double> complexity(m_firstPass.size());
    for (std::size_t i = 0; i < m_firstPass.size(); ++i)
        complexity[i] = std::max(1.0, m_firstPass[i].bits) * Step(m_firstPass[i].quantiser);
    const double most = 1.0 / Step(m_settings.qmin);
    const double least = 1.0 / Step(m_settings.qmax);
    double scale = 0;
    for (double c : complexity)
        scale += std::pow(c, qc);
    scale = budget / scale;
    // The bounds take bits from some pictures or give them to others; spread the difference
    // over the rest until it settles.
    for (int round = 0; round < 8; ++round) {
        double total = 0;
        double freeShare = 0;
        for (std::size_t i = 0; i < complexity.size(); ++i) {
            const double wanted = scale * std::pow(complexity[i], qc);
            const double bits = std::clamp(wanted, complexity[i] * least, complexity[i] * most);
            m_plannedBits[i] = bits;
            total += bits;
            if (bits == wanted)
                freeShare += bits;
        }
        if (freeShare <= 0 || std::abs(total - budget) < budget * 0.001)
            break;
        scale *= 1.0 + (budget - total) / freeShare;
    }
    if (!m_settings.variableRate)
        FitPlanToBuffer();
    // The first pass's measure is the best predictor the second has: start from it.
    for (int t = 0; t < 2; ++t) {
        m_coefficient[t] = 0;
        m_weight[t] = 0;
    }
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
        const double closing = m_perPicture * 0.5 * double(n - 1 - i);
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
    const std::size_t i = static_cast<std::size_t>(m_pictures);
    if (i < m_firstPass.size()) {
        // What the first pass took, moved to this step, corrected by how far this pass has
        // strayed from it so far.
        const PassRecord &r = m_firstPass[i];
        const double ratio = m_weight[t] > 0 ? m_coefficient[t] / m_weight[t] : 1.0;
        return std::max(1.0, r.bits) * Step(r.quantiser) / Step(quantiser) * ratio;
    }
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

double RateController::TargetBits(bool intra, double cost)
{
    const std::size_t i = static_cast<std::size_t>(m_pictures);
    const double horizon = std::max(1.0, horizonSeconds(m_settings.variableRate) * m_settings.frameRate);
    const double correction = (m_allotted - m_spent) / horizon;
    double target = 0;
    if (i < m_plannedBits.size()) {
        target = m_plannedBits[i] + correction;
    } else {
        const double qc = compressionFor(m_settings.variableRate);
        const double weight = std::pow(Difficulty(cost), qc);
        // The share of the rate a picture of average difficulty gets, from what was seen.
        const double average = m_pictures > 0 ? m_costSum / double(m_pictures) : weight;
        target = m_perPicture * weight / std::max(average, 1e-9) + correction;
        if (intra)
            target *= 3.0;
    }
    target = std::clamp(target, m_perPicture * 0.15, m_perPicture * (intra ? 12.0 : 4.0));
    // Never take more than the buffer holds, keeping a margin for the pictures that follow.
    const double room = m_buffer + m_perPicture - m_bufferSize * 0.1;
    return std::max(m_perPicture * 0.1, std::min(target, room));
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
        } else if (m_firstPass.empty() || m_pictures >= static_cast<std::int64_t>(m_firstPass.size())) {
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

int RateController::ChooseQuantiser(bool intra, double cost)
{
    return QuantiserFor(intra, cost, TargetBits(intra, cost));
}

void RateController::Update(bool intra, double cost, int quantiser, double bits)
{
    const int t = intra ? 1 : 0;
    const std::size_t i = static_cast<std::size_t>(m_pictures);
    double sample = 0;
    if (i < m_firstPass.size()) {
        const PassRecord &r = m_firstPass[i];
        sample = bits / (std::max(1.0, r.bits) * Step(r.quantiser) / Step(quantiser));
    } else {
        sample = bits * Step(quantiser) / Difficulty(cost);
    }
    m_coefficient[t] = m_coefficient[t] * kMemory + sample;
    m_weight[t] = m_weight[t] * kMemory + 1.0;

    const double qc = compressionFor(m_settings.variableRate);
    m_costSum += std::pow(Difficulty(cost), qc);
    ++m_pictures;
    m_spent += bits;
    m_allotted += i < m_plannedBits.size() ? m_plannedBits[i] : m_perPicture;
    // Bits a still scene could not use are not owed to the next busy one: a player's buffer
    // holds only so much, and a burst past it would stall playback. A second pass planned
    // them where they fit.
    const double bank = m_settings.variableRate ? m_bufferSize : m_perPicture * m_settings.frameRate * 0.5;
    if (i >= m_plannedBits.size() && m_allotted - m_spent > bank)
        m_spent = m_allotted - bank;
    // An intra picture starts a scene (or a stretch of one): the pictures after it follow its quantiser.
    m_lastInterQ = intra ? quantiser + 2 : quantiser;

    const double fillRate = m_settings.variableRate ? std::max(m_settings.peakRate, m_settings.bitRate) : m_settings.bitRate;
    m_buffer = std::min(m_bufferSize, m_buffer + fillRate / m_settings.frameRate) - bits;
    if (m_buffer < 0) {
        ++m_underflows;
        m_buffer = 0; // the player waited until the picture had arrived
    }
}

} // namespace corva
