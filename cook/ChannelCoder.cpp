#include "cook/ChannelCoder.h"

#include "cook/Envelope.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <stdexcept>
#include <tuple>

namespace corva::cook {
namespace {

constexpr int kSpareTries = 4;      // envelope raises tried per frame
constexpr int kCandidates = 3;      // bands tried per raise

double Scale2(int qi) { return std::ldexp(1.0, qi); } // the band scale squared

} // namespace

struct ChannelCoder::Trial {
    bool fits = false;
    int vectors = 0;
    std::vector<BandCode> bands;
    int used = 0;   // bits of the whole substream
    double cost = 0; // error over masking, summed
};

ChannelCoder::ChannelCoder(const ChannelSetup &setup, const BitAllocation &allocation)
    : m_setup(setup), m_allocation(allocation)
{
}

std::vector<double> ChannelCoder::Spread(const std::vector<double> &power)
{
    const std::size_t n = power.size();
    double peak = 0;
    for (double p : power)
        peak = std::max(peak, p);
    std::vector<double> mask(n);
    for (std::size_t b = 0; b < n; ++b) {
        const double left = b > 0 ? power[b - 1] : power[b];
        const double right = b + 1 < n ? power[b + 1] : power[b];
        // Neighbours hide a band's error too; a floor keeps silent bands from ruling the choice.
        mask[b] = 0.25 * left + 0.5 * power[b] + 0.25 * right + 1e-4 * peak + 1.0;
    }
    return mask;
}

ChannelCoder::Trial ChannelCoder::Evaluate(const std::vector<int> &qi, const float *lines,
                                           const std::vector<double> &masking, int prefixBits) const
{
    const int bands = m_setup.bands;
    const int vectorCount = 1 << m_setup.log2Vectors;
    BitWriter counter = BitWriter::Counting();
    Envelope::Write(counter, qi, m_setup.jointStart);
    const int header = prefixBits + static_cast<int>(counter.BitCount()) + m_setup.log2Vectors;
    const int bitsLeft = m_setup.bits - header;
    const Allocation allocation = m_allocation.Categorize(qi, bitsLeft, m_setup.samplesPerChannel, vectorCount);

    std::vector<std::vector<float>> normalised(static_cast<std::size_t>(bands));
    for (int b = 0; b < bands; ++b) {
        const double inv = 1.0 / std::sqrt(Scale2(qi[b]));
        normalised[b].resize(kBandSize);
        for (int j = 0; j < kBandSize; ++j)
            normalised[b][j] = static_cast<float>(lines[b * kBandSize + j] * inv);
    }
    std::map<std::pair<int, int>, BandCode> cache;
    auto band = [&](int b, int category) -> const BandCode & {
        auto it = cache.find({b, category});
        if (it == cache.end()) {
            BandCode code;
            if (category >= 7) {
                code.category = 7;
                for (int j = 0; j < kBandSize; ++j)
                    code.error += static_cast<double>(normalised[b][j]) * normalised[b][j];
            } else {
                code = BandQuantiser::Quantise(normalised[b].data(), category);
            }
            it = cache.emplace(std::make_pair(b, category), code).first;
        }
        return it->second;
    };

    // The fewest steps toward coarser categories whose bands fit the bits.
    const int maxVectors = std::min(allocation.placed, vectorCount - 1);
    std::vector<int> categories = allocation.categories;
    int need = 0;
    for (int b = 0; b < bands; ++b)
        need += band(b, categories[b]).bits;
    int vectors = 0;
    while (need > bitsLeft && vectors < maxVectors) {
        const int b = allocation.steps[vectors];
        need -= band(b, categories[b]).bits;
        ++categories[b];
        need += band(b, categories[b]).bits;
        ++vectors;
    }

    Trial trial;
    trial.vectors = vectors;
    for (int b = 0; b < bands; ++b)
        trial.bands.push_back(band(b, categories[b]));
    // Out of steps and still too long (rare): the highest bands give up their vectors first.
    for (int b = bands - 1; need > bitsLeft && b >= 0; --b) {
        if (trial.bands[b].category >= 7)
            continue;
        const BandCode silent = BandQuantiser::Silent(normalised[b].data(), trial.bands[b].category);
        need += silent.bits - trial.bands[b].bits;
        trial.bands[b] = silent;
    }
    trial.fits = need <= bitsLeft;
    trial.used = header + need;
    for (int b = 0; b < bands; ++b)
        trial.cost += trial.bands[b].error * Scale2(qi[b]) / masking[b];
    return trial;
}

SubstreamRecord ChannelCoder::Code(const float *lines, const std::vector<double> &masking, BitWriter &out) const
{
    const int prefixBits = static_cast<int>(out.BitCount());
    std::vector<int> qi = Envelope::Measure(lines, m_setup.bands);
    Trial best = Evaluate(qi, lines, masking, prefixBits);
    if (!best.fits)
        throw std::logic_error("cook frame cannot fit its bits");

    // Spare bits: raise the envelope of a band that stands out from its neighbours, so the
    // decoder's allocation gives it a finer category, while the frame still fits and the
    // error over the masking drops.
    for (int attempt = 0; attempt < kSpareTries && best.used < m_setup.bits; ++attempt) {
        std::vector<std::pair<double, int>> ranked;
        for (int b = 0; b < m_setup.bands; ++b) {
            if (best.bands[b].category == 0)
                continue;
            const int left = b > 0 ? qi[b - 1] : qi[b];
            const int right = b + 1 < m_setup.bands ? qi[b + 1] : qi[b];
            ranked.emplace_back(qi[b] - 0.5 * (left + right) + 0.01 * qi[b], b);
        }
        std::sort(ranked.begin(), ranked.end(), std::greater<>());
        bool improved = false;
        for (int i = 0; i < std::min<int>(kCandidates, static_cast<int>(ranked.size())) && !improved; ++i) {
            std::vector<int> raised = qi;
            ++raised[ranked[i].second];
            if (!Envelope::Codable(raised))
                continue;
            Trial t = Evaluate(raised, lines, masking, prefixBits);
            if (t.fits && t.cost < best.cost) {
                best = std::move(t);
                qi = std::move(raised);
                improved = true;
            }
        }
        if (!improved)
            break;
    }

    Envelope::Write(out, qi, m_setup.jointStart);
    out.Put(static_cast<std::uint32_t>(best.vectors), m_setup.log2Vectors);
    for (const BandCode &b : best.bands)
        if (b.category < 7)
            BandQuantiser::Write(out, b);
    if (static_cast<int>(out.BitCount()) != best.used)
        throw std::logic_error("cook bit count differs from the written bits");

    SubstreamRecord record;
    record.qi = std::move(qi);
    record.bands = std::move(best.bands);
    record.vectors = best.vectors;
    record.bitsUsed = best.used;
    return record;
}

} // namespace corva::cook
