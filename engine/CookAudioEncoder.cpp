#include "engine/CookAudioEncoder.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <vector>

namespace corva {

QString CookAudioEncoder::Open(int flavour)
{
    const std::optional<cook::Flavour> f = cook::FlavourByIndex(flavour);
    if (!f)
        return QStringLiteral("没有编号为 %1 的 RealAudio 编码档次").arg(flavour);
    // No lead-in: frame k then carries block k, so every frame's time is its sound's time.
    m_encoder = std::make_unique<cook::Encoder>(*f, nullptr, false);
    return {};
}

QString CookAudioEncoder::Emit(const FrameFn &out)
{
    const cook::Flavour &f = Flavour();
    for (const auto &frame : m_encoder->TakeFrames()) {
        const int64_t sample = m_firstSample.value_or(0) + m_framesOut * f.frameSamples;
        const auto ms = static_cast<std::uint32_t>(std::max<int64_t>(0, sample) * 1000 / f.sampleRate);
        ++m_framesOut;
        if (QString error = out(frame, ms); !error.isEmpty())
            return error;
    }
    return {};
}

QString CookAudioEncoder::Encode(const AVFrame *frame, const FrameFn &out)
{
    try {
        if (!frame) {
            m_encoder->Finish();
            return Emit(out);
        }
        if (frame->format != AV_SAMPLE_FMT_FLTP || frame->ch_layout.nb_channels != Flavour().channels)
            return QStringLiteral("压缩声音时出错：声音格式与 RealAudio 编码档次不符");
        if (!m_firstSample)
            m_firstSample = frame->pts != AV_NOPTS_VALUE ? std::max<int64_t>(frame->pts, 0) : 0;
        std::vector<const float *> planes;
        for (int ch = 0; ch < Flavour().channels; ++ch)
            planes.push_back(reinterpret_cast<const float *>(frame->extended_data[ch]));
        m_encoder->Push(planes.data(), static_cast<std::size_t>(frame->nb_samples));
        return Emit(out);
    } catch (const std::exception &e) {
        return QStringLiteral("压缩声音时编码出错：%1").arg(QString::fromLocal8Bit(e.what()));
    }
}

std::uint32_t CookAudioEncoder::EndMs() const
{
    const int64_t end = m_firstSample.value_or(0) + m_encoder->SamplesIn();
    return static_cast<std::uint32_t>((end * 1000 + Flavour().sampleRate - 1) / Flavour().sampleRate);
}

} // namespace corva
