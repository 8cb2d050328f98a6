#include "TestSignals.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace corva::cook::test {

std::vector<std::vector<float>> FilmLikeSound(int rate, int channels, double seconds, std::uint32_t seed)
{
    const auto count = static_cast<std::size_t>(seconds * rate);
    std::vector<std::vector<float>> out(static_cast<std::size_t>(channels), std::vector<float>(count));
    std::uint32_t s = seed * 2654435761u + 1;
    auto noise = [&s]() {
        s = s * 1664525u + 1013904223u;
        return static_cast<double>(s >> 8) / double(1u << 24) * 2.0 - 1.0;
    };
    const double pi = std::numbers::pi;
    double hissL = 0, hissR = 0, phaseVoice = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double t = double(i) / rate;
        const double f0 = 180.0 * (1.0 + 0.03 * std::sin(2 * pi * 5.0 * t));
        phaseVoice += 2 * pi * f0 / rate;
        double voice = 0;
        for (int h = 1; h <= 12; ++h)
            voice += std::sin(h * phaseVoice) / h;
        voice *= 0.18 * (0.6 + 0.4 * std::sin(2 * pi * 1.5 * t));
        double chord = 0;
        for (double f : {440.0, 554.4, 659.3, 1760.0})
            chord += 0.06 * std::sin(2 * pi * f * t);
        const double top = rate * 0.45;
        const double sweep = 0.08 * std::sin(2 * pi * (100.0 * t + (top - 100.0) * t * t / (2 * seconds)));
        hissL = 0.6 * hissL + 0.4 * noise();
        hissR = 0.6 * hissR + 0.4 * noise();
        const double hiss = 0.05 * noise();
        // A click every 0.37 s: a short burst that a transform spreads in time.
        const double sinceClick = std::fmod(t, 0.37);
        const double click = sinceClick < 0.002 ? 0.5 * std::sin(2 * pi * 3000 * sinceClick) : 0.0;
        if (channels == 1) {
            out[0][i] = static_cast<float>(voice + chord + sweep + hiss + 0.03 * hissL + click);
        } else {
            out[0][i] = static_cast<float>(0.9 * voice + 0.3 * chord + sweep + hiss + 0.04 * hissL + click);
            out[1][i] = static_cast<float>(0.3 * voice + 0.9 * chord + 0.5 * sweep + hiss + 0.04 * hissR + 0.7 * click);
        }
    }
    for (auto &ch : out)
        for (float &v : ch)
            v = std::clamp(v, -0.9f, 0.9f);
    return out;
}

double SnrDb(const std::vector<std::vector<float>> &reference, const std::vector<std::vector<float>> &test,
             std::size_t skipFront)
{
    double signal = 0, error = 0;
    for (std::size_t ch = 0; ch < reference.size() && ch < test.size(); ++ch) {
        const std::size_t n = std::min(reference[ch].size(), test[ch].size());
        for (std::size_t i = skipFront; i < n; ++i) {
            const double d = double(test[ch][i]) - reference[ch][i];
            signal += double(reference[ch][i]) * reference[ch][i];
            error += d * d;
        }
    }
    if (error == 0)
        return std::numeric_limits<double>::infinity();
    return 10.0 * std::log10(signal / error);
}

} // namespace corva::cook::test
