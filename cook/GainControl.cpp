#include "cook/GainControl.h"

#include <algorithm>
#include <cmath>

namespace corva::cook {
namespace {

constexpr int kSegments = 8;
constexpr double kAttackRatio = 16.0; // 12 dB above everything before it
constexpr int kMinLevel = 2;          // a smaller step is not worth its ten bits
constexpr double kAttackLift = 2.0;   // log2 of the most the attack's own segment is lifted

} // namespace

float GainControl::Power(int level)
{
    return static_cast<float>(std::pow(2.0, level));
}

GainProfile GainControl::Detect(const std::vector<const float *> &block, int n, double before)
{
    const int seg = n / kSegments;
    // The block's eight segments and the first of the block after it.
    std::array<double, kSegments + 1> power{};
    for (const float *ch : block)
        for (int s = 0; s <= kSegments; ++s)
            for (int i = 0; i < seg; ++i)
                power[s] += double(ch[s * seg + i]) * ch[s * seg + i];
    for (double &p : power)
        p /= double(seg * static_cast<int>(block.size()));
    GainProfile profile;
    double floor = std::max(before, 1e-9);
    for (int s = 0; s <= kSegments; ++s) {
        if (power[s] > kAttackRatio * floor) {
            const int level = std::clamp(static_cast<int>(std::floor(0.5 * std::log2(power[s] / floor))), 0, 7);
            if (level < kMinLevel)
                return profile;
            if (s == kSegments) {
                // The attack opens the next block: only this block can be lowered before it, all
                // of it, rising back over its last segment (a profile always ends level).
                for (int i = 0; i < kSegments; ++i)
                    profile.level[i] = -level;
                return profile;
            }
            // Where in its segment the attack starts: the first sample well above the quiet.
            const double threshold = std::sqrt(kAttackRatio * floor);
            int onset = seg;
            for (const float *ch : block)
                for (int i = 0; i < seg; ++i)
                    if (std::fabs(ch[s * seg + i]) > threshold) {
                        onset = std::min(onset, i);
                        break;
                    }
            // The decoder ramps between levels over a segment. The stretch before the attack's
            // segment is lowered fully; the attack's own segment ramps from a smaller step, which
            // lowers the noise right up to the attack but lifts the attack in the coded signal
            // (and with it the noise of the whole frame), so that step is kept to a factor of
            // about four where the attack starts: more lowers the stretch before a click little
            // more and spoils the click itself.
            const int near = std::min(level, static_cast<int>(kAttackLift * seg / (seg - onset + 1)));
            for (int i = 0; i < s; ++i)
                profile.level[i] = -level;
            profile.level[s] = -near;
            return profile;
        }
        floor = std::max(floor, power[s]);
    }
    return profile;
}

void GainControl::Write(BitWriter &out, const GainProfile &profile)
{
    // Runs of one level, each sent as the last segment it reaches; the tail is 0 by default.
    struct Entry {
        int index, level;
    };
    std::vector<Entry> entries;
    int last = 8;
    while (last >= 0 && profile.level[last] == 0)
        --last;
    for (int i = 0; i <= last; ++i) {
        if (i == last || profile.level[i + 1] != profile.level[i])
            entries.push_back({i, profile.level[i]});
    }
    for (std::size_t i = 0; i < entries.size(); ++i)
        out.Put(1, 1);
    out.Put(0, 1);
    for (const Entry &e : entries) {
        out.Put(static_cast<std::uint32_t>(e.index), 3);
        if (e.level == -1) {
            out.Put(0, 1);
        } else {
            out.Put(1, 1);
            out.Put(static_cast<std::uint32_t>(e.level + 7), 4);
        }
    }
}

std::vector<float> GainControl::Curve(const GainProfile &profile, int n)
{
    const int seg = n / kSegments;
    std::vector<float> curve(static_cast<std::size_t>(n), 1.0f);
    for (int s = 0; s < kSegments; ++s) {
        const int a = profile.level[s];
        const int b = profile.level[s + 1];
        if (a == 0 && b == 0)
            continue;
        float f = Power(a);
        // The decoder's per-sample step: 2^((b - a) / seg), worked out in double, kept as float.
        const float step = a == b ? 1.0f : static_cast<float>(std::pow(static_cast<double>(Power(b - a)), 1.0 / seg));
        for (int i = 0; i < seg; ++i) {
            curve[s * seg + i] = f;
            if (a != b)
                f *= step;
        }
    }
    return curve;
}

} // namespace corva::cook
