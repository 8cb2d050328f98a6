#include "engine/Rv40VideoEncoder.h"

#include <algorithm>
#include <cmath>

namespace corva {

namespace {

rv40::EncoderSettings encoderSettings(const Rv40VideoEncoder::Settings &s)
{
    rv40::EncoderSettings e;
    e.width = s.width;
    e.height = s.height;
    e.effort = s.measuring ? rv40::Effort::Quickest : s.effort;
    e.threads = s.threads;
    return e;
}

} // namespace

Rv40VideoEncoder::Rv40VideoEncoder(const Settings &settings)
    : m_settings(settings), m_encoder(encoderSettings(settings)), m_rate(settings.rate)
{
    m_settings.keyframeInterval = std::max(1, m_settings.keyframeInterval);
    m_fixedQuantiser = m_rate.FirstPassQuantiser();
}

void Rv40VideoEncoder::SetFirstPass(std::vector<RateController::PassRecord> records)
{
    m_rate.SetFirstPass(std::move(records));
}

Rv40VideoEncoder::Picture Rv40VideoEncoder::Encode(const AVFrame &frame)
{
    rv40::PictureView view;
    view.width = m_settings.width;
    view.height = m_settings.height;
    for (int p = 0; p < 3; ++p) {
        view.plane[p] = frame.data[p];
        view.stride[p] = frame.linesize[p];
    }

    const std::size_t n = m_records.size();
    const rv40::PictureCost cost = m_encoder.Analyse(view);
    const double ratio = cost.intra > 0 ? cost.inter / cost.intra : 0.0;
    bool intra = false;
    if (const auto &firstPass = m_rate.FirstPass(); n < firstPass.size()) {
        // The second pass keeps the first pass's picture types, so its budget fits them.
        intra = firstPass[n].intra;
    } else {
        const bool cut = n > 1 && m_lastRatio >= 0 && ratio >= kSceneCutRatio && ratio > kSceneCutJump * m_lastRatio;
        intra = n == 0 || m_sinceKeyframe + 1 >= m_settings.keyframeInterval || cut;
    }
    if (n > 0)
        m_lastRatio = intra ? -1 : (m_lastRatio < 0 ? ratio : 0.7 * m_lastRatio + 0.3 * ratio);
    const double estimate = intra ? cost.intra : cost.inter;

    rv40::PictureDecision decision;
    decision.type = intra ? rv40::PictureType::Intra : rv40::PictureType::Inter;
    decision.quantiser = m_settings.measuring ? m_fixedQuantiser : m_rate.ChooseQuantiser(intra, estimate);

    const AVRational rate = m_settings.frameRate;
    const int64_t pts = frame.pts != AV_NOPTS_VALUE ? frame.pts : static_cast<int64_t>(n);
    const auto ms = static_cast<std::uint32_t>(std::llround(double(pts) * 1000.0 * rate.den / rate.num));

    rv40::EncodedPicture coded = m_encoder.Encode(view, decision, ms);
    const bool codedIntra = coded.type == rv40::PictureType::Intra;
    const double bits = double(coded.Bytes()) * 8.0;
    m_rate.Update(codedIntra, estimate, coded.quantiser, bits);
    m_records.push_back({codedIntra, estimate, coded.quantiser, bits});
    m_sinceKeyframe = codedIntra ? 0 : m_sinceKeyframe + 1;

    Picture out;
    out.slices = std::move(coded.slices);
    out.timestampMs = ms;
    out.keyframe = codedIntra;
    return out;
}

} // namespace corva
