#include "cook/JointStereo.h"

#include "cook/CodeTables.h"

#include <cmath>

namespace corva::cook {

JointStereo::JointStereo(const Flavour &flavour) : m_flavour(flavour)
{
    m_first = CodeTables::CouplingBand(flavour.jointStart);
    m_last = CodeTables::CouplingBand(flavour.subbands - 1);
}

std::pair<float, float> JointStereo::Gains(int value) const
{
    const int bits = m_flavour.jointBits;
    return {CodeTables::CouplingScale(bits, value + 1), CodeTables::CouplingScale(bits, (1 << bits) - 1 - value)};
}

std::vector<int> JointStereo::Choose(const float *left, const float *right) const
{
    const int bits = m_flavour.jointBits;
    const int values = (1 << bits) - 1;
    const int centre = values / 2;
    std::vector<int> coupling(20, centre);
    const CodeTables &tables = CodeTables::Get();
    for (int cb = m_first; cb <= m_last; ++cb) {
        double ll = 0, rr = 0, lr = 0;
        for (int b = m_flavour.jointStart; b < m_flavour.subbands; ++b) {
            if (CodeTables::CouplingBand(b) != cb)
                continue;
            for (int j = 0; j < kBandSize; ++j) {
                const double l = left[b * kBandSize + j];
                const double r = right[b * kBandSize + j];
                ll += l * l;
                rr += r * r;
                lr += l * r;
            }
        }
        const double total = ll + rr;
        if (total <= 0)
            continue;
        // What a value loses: the part of both channels a single panned band cannot carry.
        // A longer code must save more than a small share of the band's power.
        double bestCost = 0;
        int best = centre;
        for (int d = 0; d < values; ++d) {
            const auto [f1, f2] = Gains(d);
            const double norm = double(f1) * f1 + double(f2) * f2;
            const double kept = (f1 * f1 * ll + 2.0 * f1 * f2 * lr + f2 * f2 * rr) / norm;
            const double cost = (total - kept) / total + 0.002 * tables.Coupling(bits, d).length;
            if (d == 0 || cost < bestCost) {
                bestCost = cost;
                best = d;
            }
        }
        coupling[cb] = best;
    }
    return coupling;
}

std::vector<float> JointStereo::Combine(const float *left, const float *right, const std::vector<int> &coupling) const
{
    const int start = m_flavour.jointStart;
    std::vector<float> out(static_cast<std::size_t>(m_flavour.TotalBands() * kBandSize), 0.0f);
    for (int b = 0; b < start; ++b) {
        for (int j = 0; j < kBandSize; ++j) {
            out[(2 * b) * kBandSize + j] = left[b * kBandSize + j];
            out[(2 * b + 1) * kBandSize + j] = right[b * kBandSize + j];
        }
    }
    for (int b = start; b < m_flavour.subbands; ++b) {
        const auto [f1, f2] = Gains(coupling[CodeTables::CouplingBand(b)]);
        const double norm = double(f1) * f1 + double(f2) * f2;
        for (int j = 0; j < kBandSize; ++j)
            out[(start + b) * kBandSize + j] =
                static_cast<float>((f1 * left[b * kBandSize + j] + f2 * right[b * kBandSize + j]) / norm);
    }
    return out;
}

void JointStereo::Write(BitWriter &out, const std::vector<int> &coupling) const
{
    const int bits = m_flavour.jointBits;
    const CodeTables &tables = CodeTables::Get();
    int coded = 0;
    for (int cb = m_first; cb <= m_last; ++cb)
        coded += tables.Coupling(bits, coupling[cb]).length;
    const int raw = (m_last - m_first + 1) * bits;
    const bool huffman = m_last >= m_first && coded < raw;
    out.Put(huffman ? 1u : 0u, 1);
    for (int cb = m_first; cb <= m_last; ++cb) {
        if (huffman) {
            const Code &c = tables.Coupling(bits, coupling[cb]);
            out.Put(c.bits, c.length);
        } else {
            out.Put(static_cast<std::uint32_t>(coupling[cb]), bits);
        }
    }
}

} // namespace corva::cook
