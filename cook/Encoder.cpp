#include "cook/Encoder.h"

#include "cook/ChannelCoder.h"
#include "cook/CodeTables.h"
#include "cook/Framing.h"
#include "cook/GainControl.h"

#include <stdexcept>

namespace corva::cook {
namespace {

int Log2Vectors(const Flavour &f)
{
    if (f.Mode() != ChannelMode::Joint)
        return 5;
    return f.frameSamples > 512 ? 7 : f.frameSamples > 256 ? 6 : 5;
}

// Mean line power of each band, in frequency order.
std::vector<double> BandPower(const float *lines, int bands)
{
    std::vector<double> power(static_cast<std::size_t>(bands), 0.0);
    for (int b = 0; b < bands; ++b) {
        for (int j = 0; j < kBandSize; ++j)
            power[b] += static_cast<double>(lines[b * kBandSize + j]) * lines[b * kBandSize + j];
        power[b] /= kBandSize;
    }
    return power;
}

} // namespace

Encoder::Encoder(const Flavour &flavour, const BitAllocation *allocation, bool leadIn)
    : m_flavour(flavour), m_allocation(allocation ? *allocation : m_decoderAllocation),
      m_mlt(flavour.frameSamples), m_joint(flavour), m_leadIn(leadIn ? 2 * flavour.frameSamples : 0)
{
    if (flavour.channels < 1 || flavour.channels > 2 || flavour.subbands < 1 || flavour.subbands > kMaxBands ||
        flavour.TotalBands() * kBandSize > flavour.frameSamples)
        throw std::invalid_argument("cook flavour out of range");
    m_pending.assign(static_cast<std::size_t>(flavour.channels),
                     std::vector<float>(static_cast<std::size_t>(m_leadIn), 0.0f));
    m_curve.assign(static_cast<std::size_t>(flavour.channels),
                   std::vector<float>(static_cast<std::size_t>(flavour.frameSamples), 1.0f));
    m_blockPower.assign(static_cast<std::size_t>(flavour.channels), 0.0);
}

void Encoder::Push(const float *const *planes, std::size_t samples)
{
    if (m_finished)
        throw std::logic_error("cook encoder already finished");
    const std::size_t n = static_cast<std::size_t>(m_flavour.frameSamples);
    for (int ch = 0; ch < m_flavour.channels; ++ch)
        m_pending[ch].insert(m_pending[ch].end(), planes[ch], planes[ch] + samples);
    m_samplesIn += static_cast<std::int64_t>(samples);
    while (m_pending[0].size() >= 2 * n + static_cast<std::size_t>(GainControl::LookAhead(m_flavour.frameSamples)))
        CodeFrame();
}

void Encoder::Finish()
{
    if (m_finished)
        return;
    m_finished = true;
    const std::int64_t n = m_flavour.frameSamples;
    // Enough frames that the decoder's output covers every input sample, then whole blocks.
    std::int64_t target = (m_samplesIn + m_leadIn + n - 1) / n;
    const std::int64_t block = m_flavour.FramesPerBlock();
    target = (target + block - 1) / block * block;
    while (m_framesCoded < target) {
        for (auto &p : m_pending)
            p.resize(static_cast<std::size_t>(2 * n + GainControl::LookAhead(m_flavour.frameSamples)), 0.0f);
        CodeFrame();
    }
}

void Encoder::CodeFrame()
{
    const int n = m_flavour.frameSamples;
    const int channels = m_flavour.channels;
    FrameRecord record;
    // Gain profiles for the block this frame looks ahead to: one for a joint pair, one per
    // channel otherwise (each dual mono half carries its own).
    const bool shared = m_flavour.Mode() == ChannelMode::Joint;
    std::vector<double> nextPower(static_cast<std::size_t>(channels), 0.0);
    for (int ch = 0; ch < channels; ++ch) {
        for (int i = 0; i < n; ++i)
            nextPower[ch] += double(m_pending[ch][n + i]) * m_pending[ch][n + i];
        nextPower[ch] /= n;
    }
    if (shared) {
        const std::vector<const float *> both = {m_pending[0].data() + n, m_pending[1].data() + n};
        record.gains.push_back(GainControl::Detect(both, n, 0.5 * (m_blockPower[0] + m_blockPower[1])));
    } else {
        for (int ch = 0; ch < channels; ++ch)
            record.gains.push_back(GainControl::Detect({m_pending[ch].data() + n}, n, m_blockPower[ch]));
    }
    // The frame's signal: the input divided by a curve continuous across the frame.
    std::vector<std::vector<float>> lines(static_cast<std::size_t>(channels), std::vector<float>(static_cast<std::size_t>(n)));
    std::vector<float> current(static_cast<std::size_t>(n)), next(static_cast<std::size_t>(n));
    for (int ch = 0; ch < channels; ++ch) {
        const GainProfile &gain = record.gains[shared ? 0 : static_cast<std::size_t>(ch)];
        const std::vector<float> curve = GainControl::Curve(gain, n);
        const float first = GainControl::Power(gain.level[0]);
        for (int i = 0; i < n; ++i) {
            current[i] = m_pending[ch][i] / (m_curve[ch][i] * first);
            next[i] = m_pending[ch][n + i] / curve[i];
        }
        m_mlt.Analyse(current.data(), next.data(), lines[ch].data());
        m_curve[ch] = curve;
        m_blockPower[ch] = nextPower[ch];
    }

    std::vector<BitWriter> substreams;
    ChannelSetup setup;
    setup.bits = Framing::SubstreamBits(m_flavour);
    setup.bands = m_flavour.TotalBands();
    setup.log2Vectors = Log2Vectors(m_flavour);
    setup.samplesPerChannel = n;
    switch (m_flavour.Mode()) {
    case ChannelMode::Mono:
    case ChannelMode::DualMono:
        for (int ch = 0; ch < channels; ++ch) {
            const ChannelCoder coder(setup, m_allocation);
            BitWriter out;
            GainControl::Write(out, record.gains[static_cast<std::size_t>(ch)]);
            const std::vector<double> masking = ChannelCoder::Spread(BandPower(lines[ch].data(), setup.bands));
            record.substreams.push_back(coder.Code(lines[ch].data(), masking, out));
            substreams.push_back(std::move(out));
        }
        break;
    case ChannelMode::Joint: {
        setup.jointStart = m_flavour.jointStart;
        const ChannelCoder coder(setup, m_allocation);
        record.coupling = m_joint.Choose(lines[0].data(), lines[1].data());
        const std::vector<float> pair = m_joint.Combine(lines[0].data(), lines[1].data(), record.coupling);
        BitWriter out;
        GainControl::Write(out, record.gains[0]);
        m_joint.Write(out, record.coupling);
        // Masking by frequency, from both channels, whichever way each band is coded.
        const std::vector<double> left = BandPower(lines[0].data(), m_flavour.subbands);
        const std::vector<double> right = BandPower(lines[1].data(), m_flavour.subbands);
        std::vector<double> power(left.size());
        for (std::size_t b = 0; b < power.size(); ++b)
            power[b] = 0.5 * (left[b] + right[b]);
        const std::vector<double> spread = ChannelCoder::Spread(power);
        std::vector<double> masking(static_cast<std::size_t>(setup.bands));
        for (int b = 0; b < setup.bands; ++b)
            masking[b] = spread[static_cast<std::size_t>(b < 2 * setup.jointStart ? b / 2 : b - setup.jointStart)];
        record.substreams.push_back(coder.Code(pair.data(), masking, out));
        substreams.push_back(std::move(out));
        break;
    }
    }
    m_frames.push_back(Framing::Assemble(m_flavour, substreams));
    if (m_keepRecords)
        m_records.push_back(std::move(record));
    ++m_framesCoded;
    for (auto &p : m_pending)
        p.erase(p.begin(), p.begin() + n);
}

std::vector<std::vector<std::uint8_t>> Encoder::TakeFrames()
{
    std::vector<std::vector<std::uint8_t>> out;
    out.swap(m_frames);
    return out;
}

std::vector<FrameRecord> Encoder::TakeRecords()
{
    std::vector<FrameRecord> out;
    out.swap(m_records);
    return out;
}

} // namespace corva::cook
