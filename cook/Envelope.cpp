#include "cook/Envelope.h"

#include "cook/CodeTables.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace corva::cook {

std::vector<int> Envelope::Measure(const float *lines, int bands)
{
    std::vector<int> qi(static_cast<std::size_t>(bands));
    for (int b = 0; b < bands; ++b) {
        double energy = 0;
        for (int j = 0; j < kBandSize; ++j) {
            const double v = lines[b * kBandSize + j];
            energy += v * v;
        }
        energy /= kBandSize;
        // The scale nearest the band's RMS, on the logarithmic grid of the code.
        qi[b] = energy > 0 ? static_cast<int>(std::lround(std::log2(energy))) : kMinIndex;
        qi[b] = std::clamp(qi[b], kMinIndex, kMaxIndex);
    }
    Constrain(qi);
    return qi;
}

void Envelope::Constrain(std::vector<int> &qi)
{
    if (qi.empty())
        return;
    for (int &v : qi)
        v = std::clamp(v, kMinIndex, kMaxIndex);
    for (std::size_t b = qi.size() - 1; b > 0; --b)
        qi[b - 1] = std::max(qi[b - 1], qi[b] - 11);
    qi[0] = std::clamp(qi[0], -6, 57);
    for (std::size_t b = 1; b < qi.size(); ++b)
        qi[b] = std::max(qi[b], qi[b - 1] - 12);
}

bool Envelope::Codable(const std::vector<int> &qi)
{
    if (qi.empty() || qi[0] < -6 || qi[0] > 57)
        return false;
    for (std::size_t b = 1; b < qi.size(); ++b) {
        const int d = qi[b] - qi[b - 1];
        if (d < -12 || d > 11 || qi[b] < kMinIndex || qi[b] > kMaxIndex)
            return false;
    }
    return true;
}

int Envelope::TableFor(int band, int jointStart)
{
    int t = band;
    if (band >= 2 * jointStart)
        t = band - jointStart;
    else
        t = std::max(band / 2, 1);
    return std::min(t, 13) - 1;
}

void Envelope::Write(BitWriter &out, const std::vector<int> &qi, int jointStart)
{
    if (!Codable(qi))
        throw std::logic_error("cook envelope outside its code");
    const CodeTables &tables = CodeTables::Get();
    out.Put(static_cast<std::uint32_t>(qi[0] + 6), 6);
    for (std::size_t b = 1; b < qi.size(); ++b) {
        const Code &c = tables.Envelope(TableFor(static_cast<int>(b), jointStart), qi[b] - qi[b - 1] + 12);
        out.Put(c.bits, c.length);
    }
}

} // namespace corva::cook
