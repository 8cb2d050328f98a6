#include "engine/TwoPassPlan.h"

#include <algorithm>
#include <cmath>

namespace corva {

using rv40::PictureType;

namespace {

// The order the rest of the plan is summed in, type by type.
constexpr PictureType kTypes[3] = {PictureType::Inter, PictureType::Intra, PictureType::Bidirectional};
// How strongly a reference's step follows what the pictures after it take from it: in quantiser
// steps per doubling of its worth.
constexpr double kReuseStrength = 2.0;

int slot(PictureType type)
{
    return static_cast<int>(type);
}

} // namespace

TwoPassPlan::TwoPassPlan(std::vector<PassRecord> records, double perPicture, bool variableRate, int qmax,
                         double pixels, const PlayerBuffer &buffer)
    : m_records(std::move(records)), m_perPicture(perPicture), m_variableRate(variableRate), m_qmax(qmax),
      m_pixels(std::max(1.0, pixels))
{
    Plan(buffer);
}

double TwoPassPlan::FixedBits(std::size_t i) const
{
    // a picture's header and about a bit per macroblock of skips, whatever its quantiser
    const double header = 64 + m_pixels / 256.0;
    return std::min(std::max(1.0, m_records[i].bits) * 0.3, header);
}

double TwoPassPlan::BitsAt(std::size_t i, double step) const
{
    const PassRecord &r = m_records[i];
    return BitModel::Scaled(std::max(1.0, r.bits), FixedBits(i), BitModel::Step(r.quantiser), step);
}

double TwoPassPlan::StepForBits(std::size_t i, double bits) const
{
    const PassRecord &r = m_records[i];
    const double measured = std::max(1.0, r.bits);
    const double fixed = FixedBits(i);
    if (bits <= fixed + 1)
        return BitModel::Step(m_qmax);
    return BitModel::Step(r.quantiser) * std::pow((measured - fixed) / (bits - fixed), 1.0 / BitModel::kBitsExponent);
}

double TwoPassPlan::NeighbourAverage(const std::vector<double> &values, std::size_t i, bool withOwn,
                                     const std::function<bool(std::size_t)> &counts,
                                     const std::function<bool(std::size_t)> &ends)
{
    // a bell over the pictures on either side, each side up to the first that ends the stretch,
    // its spread this many pictures
    constexpr double kBlurPictures = 8.0;
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

std::vector<double> TwoPassPlan::ReuseFactors() const
{
    // What each reference gives the pictures that predict from it, in the estimates' unit: an
    // inter picture takes the share of its intra estimate that prediction saves, of its own
    // worth and of what it gives on in turn (a B-picture half from each of its references).
    // Walked backwards in coding order, so that a picture has all it gives before it passes it on.
    const std::size_t n = m_records.size();
    std::vector<double> given(n, 0.0);
    std::ptrdiff_t later = -1, earlier = -1; // the references before picture j in coding order
    std::vector<std::ptrdiff_t> laterOf(n, -1), earlierOf(n, -1);
    for (std::size_t j = 0; j < n; ++j) {
        laterOf[j] = later;
        earlierOf[j] = earlier;
        if (m_records[j].type != PictureType::Bidirectional) {
            earlier = later;
            later = static_cast<std::ptrdiff_t>(j);
        }
    }
    for (std::size_t j = n; j-- > 0;) {
        const PassRecord &r = m_records[j];
        if (r.type == PictureType::Intra || laterOf[j] < 0)
            continue;
        const double intra = std::max({1.0, r.intra, r.cost});
        const double saved = std::clamp(1.0 - r.cost / intra, 0.0, 1.0);
        const double worth = (intra + given[j]) * saved;
        if (r.type == PictureType::Bidirectional && earlierOf[j] >= 0) {
            given[static_cast<std::size_t>(laterOf[j])] += worth / 2;
            given[static_cast<std::size_t>(earlierOf[j])] += worth / 2;
        } else {
            given[static_cast<std::size_t>(laterOf[j])] += worth;
        }
    }
    // A picture that gives as much again as it is worth itself is coded a third of a doubling of
    // the step finer (two quantiser steps of RealVideo's 12% each).
    std::vector<double> factors(n, 1.0);
    for (std::size_t i = 0; i < n; ++i) {
        const double own = std::max({1.0, m_records[i].intra, m_records[i].cost});
        factors[i] = std::pow(1.0 + given[i] / own, -kReuseStrength / 6.0);
    }
    return factors;
}

void TwoPassPlan::Plan(const PlayerBuffer &buffer)
{
    const std::size_t n = m_records.size();
    m_bits.assign(n, 0);
    m_step.assign(n, 0);
    if (n == 0)
        return;
    // Each picture gets a step from its complexity (the texture bits it would take at step 1),
    // steps ~ complexity^(1 - qc). Inter pictures use their complexity averaged over their
    // neighbours up to the next intra picture, so the quantiser follows scenes, not the ripple of
    // single pictures; an intra picture is coded finer than the pictures that follow and copy it,
    // a B-picture coarser than the references around it. A variable rate follows the complexity
    // more closely.
    const double qc = m_variableRate ? 0.7 : 0.5;
    constexpr double kIntraStepRatio = 1.4;
    constexpr double kBidirectionalStepRatio = 1.25;
    std::vector<double> complexity(n);
    for (std::size_t i = 0; i < n; ++i) {
        const PassRecord &r = m_records[i];
        complexity[i] = std::max(1.0, std::max(1.0, r.bits) - FixedBits(i)) *
                        std::pow(BitModel::Step(r.quantiser), BitModel::kBitsExponent);
    }
    std::vector<double> shape(n, 0);
    auto isReference = [&](std::size_t j) { return m_records[j].type == PictureType::Inter; };
    auto isIntra = [&](std::size_t j) { return m_records[j].type == PictureType::Intra; };
    for (std::size_t i = 0; i < n; ++i) {
        if (isIntra(i))
            continue;
        // A B-picture takes the step of the inter pictures around it, a little coarser; an intra
        // picture ends the stretch: the scene behind it is another.
        const bool b = m_records[i].type == PictureType::Bidirectional;
        const double average = NeighbourAverage(complexity, i, !b, isReference, isIntra);
        shape[i] = std::pow(average, 1.0 - qc) * (b ? kBidirectionalStepRatio : 1.0);
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (!isIntra(i))
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
    m_reuse = ReuseFactors();
    for (std::size_t i = 0; i < n; ++i)
        shape[i] *= m_reuse[i];
    // the scale that spends the budget, found by halving the interval (bits fall as it grows)
    const double budget = m_perPicture * double(n);
    // Steps are planned beyond what the quantisers reach, so that the plan keeps its pictures'
    // relations where the rate asks for more or less than the quantisers can give; the
    // quantiser of each is bounded when it is coded.
    const double widest[2] = {BitModel::Step(0) / 8, BitModel::Step(31) * 8};
    // Every step `base` times one scale e^s, s found between lo and hi by halving the interval
    // `rounds` times: the finest that keeps within the budget.
    auto scaleToBudget = [&](const std::vector<double> &base, double lo, double hi, int rounds) {
        auto planAt = [&](double logScale) {
            double total = 0;
            for (std::size_t i = 0; i < n; ++i) {
                m_step[i] = std::clamp(std::exp(logScale) * base[i], widest[0], widest[1]);
                m_bits[i] = BitsAt(i, m_step[i]);
                total += m_bits[i];
            }
            return total;
        };
        for (int k = 0; k < rounds; ++k) {
            const double mid = 0.5 * (lo + hi);
            (planAt(mid) > budget ? lo : hi) = mid;
        }
        planAt(hi);
    };
    scaleToBudget(shape, -60, 60, 80);
    if (!m_variableRate) {
        // The buffer's walls move single pictures' bits; the steps follow the change as averaged
        // over their neighbours, so that neighbours keep alike steps. Each weighs by its bits: a
        // picture of a few bytes (a copy) that a wall gives thousands would otherwise move its
        // neighbours' steps by the hundredfold its own must move.
        // Averaged so, the moves may leave a long calm stretch (a pan whose B-pictures a wall
        // filled to the rate) behind the rate by more than the buffer carries forward, bits the
        // player turns away: a 20 s film fell two and a half buffers behind and spent 9% under
        // its rate. A plan far behind has its walls fitted again to what the steps now spend,
        // until it is within a quarter of a buffer. (Within a buffer or so, as real clips are, the second
        // pass's own buffer makes its steps finer where it would overflow, and the plan keeps
        // the shape it was given.)
        constexpr int kFitRounds = 12;
        auto isInter = [&](std::size_t j) { return !isIntra(j); };
        auto never = [](std::size_t) { return false; };
        std::vector<double> moved(n), weighted(n);
        const bool farBehind = buffer.Behind(m_bits) > 2 * buffer.Size();
        for (int round = 0; round < kFitRounds && (round == 0 || (farBehind && buffer.Behind(m_bits) > buffer.Size() / 4));
             ++round) {
            const std::vector<double> before = m_bits;
            buffer.Fit(m_bits);
            for (std::size_t i = 0; i < n; ++i) {
                moved[i] = std::log(std::clamp(StepForBits(i, m_bits[i]), widest[0], widest[1]) / m_step[i]);
                weighted[i] = moved[i] * before[i];
            }
            for (std::size_t i = 0; i < n; ++i) {
                const double average = isIntra(i) ? moved[i]
                                                  : NeighbourAverage(weighted, i, true, isInter, never) /
                                                        NeighbourAverage(before, i, true, isInter, never);
                m_step[i] = std::clamp(m_step[i] * std::exp(average), widest[0], widest[1]);
                m_bits[i] = BitsAt(i, m_step[i]);
            }
        }
        // Where a wall gave bits to pictures that cannot take them (copies), the steps, which
        // follow their neighbours, spend less than the budget: all are then made finer alike
        // until they spend it.
        double total = 0;
        for (const double bits : m_bits)
            total += bits;
        if (total < budget)
            scaleToBudget(std::vector<double>(m_step), -10, 0, 50);
    }
    // the film's rate is what it aims at, whatever the buffer's walls moved
    m_total = budget;
    double planned = 0;
    for (const double bits : m_bits)
        planned += bits;
    m_budgetShare = planned > budget ? budget / planned : 1.0;
    m_ahead.assign(n, 0);
    for (std::size_t i = 1; i < n; ++i)
        m_ahead[i] = m_ahead[i - 1] + m_bits[i - 1] - m_perPicture;
    for (std::size_t i = 0; i < n; ++i) {
        const int t = slot(m_records[i].type);
        const double fixed = FixedBits(i);
        m_restFixed[t] += fixed;
        m_restScaled[t] += BitsAt(i, m_step[i]) - fixed;
    }
}

double TwoPassPlan::StepFor(std::size_t i, double spent, const BitModel &model, const PlayerBuffer &buffer)
{
    // How this pass's pictures compare with the first pass's at the same step (it may search
    // harder and so spend less), for each type apart; from that, the one scale of every step
    // that spends what the plan has left on the pictures left. It aims a little under: a film
    // that strays ends under its rate rather than above it. The scale moves only so far, and so
    // fast per picture: at 3% a picture a keyframe near the end that came out cheaper than
    // planned left a street camera's film 4.3% under its constant rate, with two B-pictures in
    // a row; a variable rate, which need not spend it all, keeps its steps steadier.
    constexpr double kAim = 0.99;
    constexpr double kScaleLimit = 4.0;
    const double scaleMove = m_variableRate ? 1.03 : 1.06;
    double left = m_total * kAim - spent, scaled = 0;
    for (const PictureType type : kTypes) {
        const double r = model.PlanRatio(type);
        left -= r * m_restFixed[slot(type)];
        scaled += r * m_restScaled[slot(type)];
    }
    const double fit = left > 0 && scaled > 0 ? std::pow(scaled / left, 1.0 / BitModel::kBitsExponent) : kScaleLimit;
    m_scale = std::clamp(std::clamp(fit, m_scale / scaleMove, m_scale * scaleMove), 1.0 / kScaleLimit, kScaleLimit);
    // Where the buffer strays from where the plan had it (bits falling off a cliff with the
    // quantiser, as noise does, make single pictures unpredictable), the steps lean against it
    // at once rather than over the rest of the film: a buffer's worth astray scales the steps by e.
    const double astray = m_variableRate ? 0.0 : (spent - m_perPicture * double(i) - m_ahead[i]) / buffer.Size();
    return m_step[i] * m_scale * std::exp(std::clamp(astray, -1.0, 1.0));
}

void TwoPassPlan::Coded(std::size_t i)
{
    const int t = slot(m_records[i].type);
    const double fixed = FixedBits(i);
    m_restFixed[t] -= fixed;
    m_restScaled[t] -= BitsAt(i, m_step[i]) - fixed;
}

} // namespace corva
