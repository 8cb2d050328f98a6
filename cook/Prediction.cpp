#include "cook/Prediction.h"

#include "cook/CodeTables.h"

#include <algorithm>
#include <cmath>

namespace corva::cook {

Prediction::Prediction(const Flavour &flavour, NoiseSource &noise)
    : m_flavour(flavour), m_noise(noise), m_mlt(flavour.frameSamples), m_joint(flavour),
      m_overlap(static_cast<std::size_t>(flavour.channels), std::vector<double>(static_cast<std::size_t>(flavour.frameSamples), 0.0)),
      m_curve(static_cast<std::size_t>(flavour.channels), std::vector<float>(static_cast<std::size_t>(flavour.frameSamples), 1.0f))
{
}

void Prediction::Dequantise(const SubstreamRecord &substream, std::vector<float> &lines)
{
    for (std::size_t b = 0; b < substream.bands.size(); ++b) {
        const BandCode &band = substream.bands[b];
        const int c = band.category;
        // The decoder's table: sqrt(2^qi) worked out in double, kept as float.
        const float scale = static_cast<float>(std::sqrt(std::pow(2.0, substream.qi[b])));
        for (int j = 0; j < kBandSize; ++j) {
            const int index = c < 7 ? band.index[j] : 0;
            float f;
            if (index != 0) {
                f = CodeTables::Centroid(c, index);
                if (band.negative[j])
                    f = -f;
            } else {
                f = CodeTables::Dither(c);
                if (m_noise.Next() < 0x80000000u)
                    f = -f;
            }
            lines[b * kBandSize + j] = f * scale;
        }
    }
}

std::vector<std::vector<float>> Prediction::Decode(const FrameRecord &frame)
{
    const int n = m_flavour.frameSamples;
    const int channels = m_flavour.channels;
    std::vector<std::vector<float>> lines(static_cast<std::size_t>(channels), std::vector<float>(static_cast<std::size_t>(n), 0.0f));
    switch (m_flavour.Mode()) {
    case ChannelMode::Mono:
        Dequantise(frame.substreams.at(0), lines[0]);
        break;
    case ChannelMode::DualMono:
        Dequantise(frame.substreams.at(0), lines[0]);
        Dequantise(frame.substreams.at(1), lines[1]);
        break;
    case ChannelMode::Joint: {
        std::vector<float> pair(static_cast<std::size_t>(std::max(n, m_flavour.TotalBands() * kBandSize)), 0.0f);
        Dequantise(frame.substreams.at(0), pair);
        const int start = m_flavour.jointStart;
        for (int b = 0; b < start; ++b) {
            for (int j = 0; j < kBandSize; ++j) {
                lines[0][b * kBandSize + j] = pair[(2 * b) * kBandSize + j];
                lines[1][b * kBandSize + j] = pair[(2 * b + 1) * kBandSize + j];
            }
        }
        for (int b = start; b < m_flavour.subbands; ++b) {
            const auto [f1, f2] = m_joint.Gains(frame.coupling.at(static_cast<std::size_t>(CodeTables::CouplingBand(b))));
            for (int j = 0; j < kBandSize; ++j) {
                const float m = pair[(start + b) * kBandSize + j];
                lines[0][b * kBandSize + j] = f1 * m;
                lines[1][b * kBandSize + j] = f2 * m;
            }
        }
        break;
    }
    }
    std::vector<std::vector<float>> out(static_cast<std::size_t>(channels), std::vector<float>(static_cast<std::size_t>(n)));
    std::vector<double> samples(static_cast<std::size_t>(n));
    for (int ch = 0; ch < channels; ++ch) {
        // A joint pair shares one profile; dual mono has one per channel.
        const GainProfile &gain = frame.gains.at(frame.gains.size() > 1 ? static_cast<std::size_t>(ch) : 0);
        m_mlt.Synthesise(lines[ch].data(), m_overlap[ch], samples.data(), GainControl::Power(gain.level[0]));
        // The last frame's profile describes this block.
        for (int i = 0; i < n; ++i)
            out[ch][i] = static_cast<float>(std::clamp(samples[i] * m_curve[ch][i], -1.0, 1.0));
        m_curve[ch] = GainControl::Curve(gain, n);
    }
    return out;
}

} // namespace corva::cook
