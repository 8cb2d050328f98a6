#include "engine/BitModel.h"

#include <algorithm>
#include <cmath>

namespace corva {

using rv40::PictureType;

namespace {

// The decoder's dequantiser step for each quantiser: roughly doubling every six.
constexpr double kSteps[32] = {60,  67,  76,  85,  96,  108, 121, 136, 152,  171,  192,  216,  242,  272,  305,  341,
                               383, 432, 481, 544, 606, 683, 767, 854, 963, 1074, 1212, 1392, 1566, 1708, 1978, 2211};

// The rule of thumb: at this quantiser a picture takes this many bits a pixel, twice as many
// every so many quantisers finer.
constexpr double kThumbQuantiser = 20.0;
constexpr double kThumbBitsPerPixel = 0.05;
constexpr double kThumbDoubling = 6.0;

// How quickly one pass forgets what it learnt of earlier pictures.
constexpr double kMemory = 0.85;

} // namespace

BitModel::BitModel(double pixels, double perPicture) : m_pixels(std::max(1.0, pixels)), m_perPicture(perPicture)
{
}

double BitModel::Step(int quantiser)
{
    return kSteps[std::clamp(quantiser, 0, 31)];
}

double BitModel::Scaled(double bits, double fixed, double seenStep, double step)
{
    return fixed + (bits - fixed) * std::pow(seenStep / step, kBitsExponent);
}

int BitModel::ThumbQuantiser(double bitsPerPixel)
{
    return static_cast<int>(
        std::lround(kThumbQuantiser - kThumbDoubling * std::log2(std::max(bitsPerPixel, 1e-4) / kThumbBitsPerPixel)));
}

double BitModel::ThumbBits(int quantiser) const
{
    return m_pixels * kThumbBitsPerPixel * std::exp2((kThumbQuantiser - quantiser) / kThumbDoubling);
}

double BitModel::Difficulty(double cost) const
{
    return std::max(cost, m_pixels * 0.25);
}

double BitModel::Predict(PictureType type, double cost, int quantiser) const
{
    if (type == PictureType::Bidirectional && KnowsBidirectional())
        return Scaled(m_bBits, 0, Step(m_lastBidirectionalQ), Step(quantiser));
    const bool intra = type == PictureType::Intra;
    const int t = Slot(intra ? PictureType::Intra : PictureType::Inter);
    const int other = Slot(intra ? PictureType::Inter : PictureType::Intra);
    const double c = Difficulty(cost);
    if (m_weight[t] > 0)
        return m_coefficient[t] / m_weight[t] * c / Step(quantiser);
    if (m_weight[other] > 0) {
        // Nothing learnt of this type yet: an intra picture costs several inter ones.
        const double guess = m_coefficient[other] / m_weight[other] * c / Step(quantiser);
        return intra ? guess * 1.5 : guess;
    }
    const double guess = ThumbBits(quantiser);
    return intra ? guess * 3.0 : guess;
}

double BitModel::PredictPlanned(PictureType type, double planned, int quantiser) const
{
    return planned * RatioAt(type, quantiser);
}

double BitModel::RatioAt(PictureType type, int quantiser) const
{
    // How this pass's pictures compare with the plan, from those of the type coded at this very
    // quantiser where there were some: bits may fall off a cliff between two quantisers (noise
    // that a coarser step no longer codes), which no single exponent follows.
    const double ratio = PlanRatio(type);
    if (type != PictureType::Inter)
        return ratio;
    const auto q = static_cast<std::size_t>(std::clamp(quantiser, 0, 31));
    return (m_qRatio[q] + ratio * m_perPicture) / (m_qRatioWeight[q] + m_perPicture);
}

double BitModel::PlanRatio(PictureType type) const
{
    return m_ratio[Slot(type)] / m_ratioWeight[Slot(type)];
}

void BitModel::Learn(PictureType type, double cost, int quantiser, double bits)
{
    const int t = Slot(type);
    m_coefficient[t] = m_coefficient[t] * kMemory + bits * Step(quantiser) / Difficulty(cost);
    m_weight[t] = m_weight[t] * kMemory + 1.0;
}

void BitModel::LearnPlanned(PictureType type, double expected, int quantiser, double bits)
{
    // A ratio of sums, not a mean of ratios: where bits fall off a cliff with the quantiser
    // (noise that vanishes at a coarse step), a few large pictures must not outweigh the many
    // that came out tiny. Far from the first pass's quantiser the measure says little: one
    // picture moves it only so far. It learns slowly: the first pass measured every picture.
    constexpr double kRatioMemory = 0.95;
    const int t = Slot(type);
    m_ratio[t] = m_ratio[t] * kRatioMemory + std::clamp(bits, expected / 3, expected * 3);
    m_ratioWeight[t] = m_ratioWeight[t] * kRatioMemory + expected;
    if (type == PictureType::Inter) {
        const auto q = static_cast<std::size_t>(std::clamp(quantiser, 0, 31));
        m_qRatio[q] = m_qRatio[q] * kRatioMemory + bits;
        m_qRatioWeight[q] = m_qRatioWeight[q] * kRatioMemory + expected;
    }
}

void BitModel::LearnBidirectional(double bits, int quantiser)
{
    m_bBits = m_bBits > 0 ? m_bBits * kMemory + (1 - kMemory) * bits : bits;
    m_lastBidirectionalQ = quantiser;
}

void BitModel::TrustPlan()
{
    // as much as a few pictures' worth of this pass would say
    constexpr double kRatioPrior = 3.0;
    for (int t = 0; t < 3; ++t)
        m_ratio[t] = m_ratioWeight[t] = kRatioPrior * m_perPicture;
    std::fill(std::begin(m_qRatio), std::end(m_qRatio), 0.0);
    std::fill(std::begin(m_qRatioWeight), std::end(m_qRatioWeight), 0.0);
}

} // namespace corva
