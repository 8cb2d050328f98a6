#include "engine/Rv40VideoEncoder.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

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
}

void Rv40VideoEncoder::SetFirstPass(std::vector<RateController::PassRecord> records)
{
    for (const RateController::PassRecord &r : records) {
        if (r.display < 0)
            continue;
        const auto at = static_cast<std::size_t>(r.display);
        if (at >= m_firstPassKinds.size())
            m_firstPassKinds.resize(at + 1, Kind::Inter);
        m_firstPassKinds[at] = r.intra ? Kind::Intra : (r.bidirectional ? Kind::Bidirectional : Kind::Inter);
    }
    m_rate.SetFirstPass(std::move(records));
}

namespace {

rv40::PictureView viewOf(const AVFrame &frame, int width, int height)
{
    rv40::PictureView view;
    view.width = width;
    view.height = height;
    for (int p = 0; p < 3; ++p) {
        view.plane[p] = frame.data[p];
        view.stride[p] = frame.linesize[p];
    }
    return view;
}

} // namespace

std::vector<Rv40VideoEncoder::Picture> Rv40VideoEncoder::Encode(const AVFrame &frame)
{
    const int n = m_displayed++;
    if (n == 0 && !m_settings.measuring) {
        m_first.reset(av_frame_clone(&frame));
        if (!m_first)
            throw std::runtime_error("out of memory keeping the first picture");
    } else {
        m_first.reset();
    }
    const rv40::PictureCost cost = m_encoder.Analyse(viewOf(frame, m_settings.width, m_settings.height));
    const double ratio = cost.intra > 0 ? cost.inter / cost.intra : 0.0;
    bool intra = false;
    const Kind measured = static_cast<std::size_t>(n) < m_firstPassKinds.size() ? m_firstPassKinds[static_cast<std::size_t>(n)] : Kind::Inter;
    if (!m_firstPassKinds.empty()) {
        // The second pass keeps the first pass's picture types, so its budget fits them.
        intra = measured == Kind::Intra;
    } else {
        const bool cut = n > 1 && m_lastRatio >= 0 && ratio >= kSceneCutRatio && ratio > kSceneCutJump * m_lastRatio;
        const bool late = n == m_settings.lateKeyframe && m_lastKeyframe < n * 3 / 4;
        intra = n == 0 || n - m_lastKeyframe >= m_settings.keyframeInterval || cut || late;
    }
    if (n > 0)
        m_lastRatio = intra ? -1 : (m_lastRatio < 0 ? ratio : 0.7 * m_lastRatio + 0.3 * ratio);

    std::vector<Picture> out;
    if (intra) {
        // Nothing after a keyframe may lean on what came before it, so whatever waits is coded
        // as ordinary inter pictures first.
        for (Waiting &w : m_waiting)
            out.push_back(Code(*w.frame, w.display, Kind::Inter, w.estimate));
        m_waiting.clear();
        out.push_back(Code(frame, n, Kind::Intra, cost.intra));
        return out;
    }
    bool hold = false;
    if (!m_firstPassKinds.empty()) {
        hold = measured == Kind::Bidirectional;
    } else if (static_cast<int>(m_waiting.size()) < std::clamp(m_settings.bPictures, 0, 2) && n > 0) {
        // B-pictures pay where they come out much smaller than the reference after them; where
        // they do not (fast or erratic motion; a rate even the coarsest quantisers exceed, where
        // two references further apart cost more than the B-picture saves), the
        // pictures are coded plain, and B-pictures are tried again now and then.
        const bool starved = !m_records.empty() && m_records.back().quantiser >= m_settings.rate.qmax - 1;
        // Nor where the references are as fine as they go and the buffer is full all the same:
        // what a B-picture saves could never be spent.
        const bool flooded = !m_records.empty() && m_records.back().quantiser <= m_settings.rate.qmin &&
                             !m_settings.rate.variableRate && m_rate.BufferLevel() > kFloodedAbove;
        const bool plain = starved || flooded;
        if (m_waiting.empty()) {
            const bool paying = m_bShare < kBPaysBelow && !plain;
            hold = paying || (n - m_lastBTry >= kBRetryPictures && !plain);
            if (hold)
                m_lastBTry = n;
            m_bRetrying = hold && !paying;
        } else {
            // a second one only where they come out very small, as on a slow pan
            hold = m_bShare < kSecondBBelow && !plain;
        }
    }
    if (hold) {
        FramePtr copy(av_frame_clone(&frame));
        if (!copy)
            throw std::runtime_error("out of memory holding a picture back");
        m_waiting.push_back({std::move(copy), n, cost.inter});
        return out;
    }
    CodeWithWaiting(frame, n, cost.inter, out);
    return out;
}

void Rv40VideoEncoder::CodeWithWaiting(const AVFrame &frame, int display, double estimate, std::vector<Picture> &out)
{
    // the later reference first, then the B-pictures that lean on it, in display order
    out.push_back(Code(frame, display, Kind::Inter, estimate));
    const double reference = m_records.back().bits;
    for (Waiting &w : m_waiting) {
        out.push_back(Code(*w.frame, w.display, Kind::Bidirectional, w.estimate));
        if (m_records.back().bidirectional && reference > 0) {
            // A retry stands on its own measure: the old one is of another stretch of the film.
            const double share = m_records.back().bits / reference;
            m_bShare = m_bRetrying ? share : kBShareMemory * m_bShare + (1 - kBShareMemory) * share;
            m_bRetrying = false;
        }
    }
    m_waiting.clear();
}

std::vector<Rv40VideoEncoder::Picture> Rv40VideoEncoder::Flush()
{
    std::vector<Picture> out;
    if (m_first) {
        // A film of one picture shows it twice, the second time half a picture later as a
        // repeat of a few bytes: FFmpeg's frame threads, given one picture alone, complain that
        // they cannot size their buffers.
        const AVRational rate = m_settings.frameRate;
        const std::uint32_t halfPictureMs = static_cast<std::uint32_t>(std::max<int64_t>(1, 500LL * rate.den / rate.num));
        out.push_back(Code(*m_first, 1, Kind::Inter, 0, TimeOf(*m_first, 0) + halfPictureMs));
        m_first.reset();
        return out;
    }
    // The last picture waiting becomes the later reference of those before it.
    if (m_waiting.empty())
        return out;
    Waiting last = std::move(m_waiting.back());
    m_waiting.pop_back();
    CodeWithWaiting(*last.frame, last.display, last.estimate, out);
    return out;
}

std::uint32_t Rv40VideoEncoder::TimeOf(const AVFrame &frame, int display) const
{
    const AVRational rate = m_settings.frameRate;
    const int64_t pts = frame.pts != AV_NOPTS_VALUE ? frame.pts : static_cast<int64_t>(display);
    return static_cast<std::uint32_t>(std::llround(double(pts) * 1000.0 * rate.den / rate.num));
}

Rv40VideoEncoder::Picture Rv40VideoEncoder::Code(const AVFrame &frame, int display, Kind kind, double estimate,
                                                 std::optional<std::uint32_t> repeatAtMs)
{
    const bool intra = kind == Kind::Intra;
    const bool bidirectional = kind == Kind::Bidirectional;
    rv40::PictureDecision decision;
    decision.type = intra ? rv40::PictureType::Intra
                          : (bidirectional ? rv40::PictureType::Bidirectional : rv40::PictureType::Inter);
    // A measuring pass keeps to the rate as one pass would, so that each picture is measured
    // near the quantiser the second pass will give it.
    decision.quantiser = m_rate.ChooseQuantiser(intra, estimate, bidirectional);
    decision.quantiser = std::clamp(decision.quantiser, 0, 31);
    // A measuring pass codes every picture, so that it measures them all.
    decision.repeat = repeatAtMs || (kind == Kind::Inter && !m_settings.measuring && m_rate.RepeatInstead(estimate));
    if (decision.repeat)
        decision.quantiser = m_settings.rate.qmax;
    const std::uint32_t ms = repeatAtMs ? *repeatAtMs : TimeOf(frame, display);
    // Never more than the player's buffer holds: a picture that would run it dry is kept within
    // it at any cost to its quality, less what the stream adds to the slices (their table).
    // A measuring pass measures the pictures as they are.
    if (!m_settings.measuring) {
        const double slack = 1 + 8.0 * (std::max(1, m_settings.threads) + 2);
        decision.maxBytes = static_cast<std::size_t>(std::max(64.0, m_rate.MostBits(decision.quantiser) / 8 * kBoundShare - slack));
    }

    rv40::EncodedPicture coded = m_encoder.Encode(viewOf(frame, m_settings.width, m_settings.height), decision, ms);
    const bool codedIntra = coded.type == rv40::PictureType::Intra;
    const bool codedB = coded.type == rv40::PictureType::Bidirectional;
    // What the stream carries of a picture: a slice count and each slice's entry in the slice
    // table (as a demuxer hands it to a decoder) besides the slices; with several bands a
    // picture that would otherwise spend about 1% more than the rate.
    const double bits = double(coded.Bytes() + 1 + 8 * coded.slices.size()) * 8.0;
    m_bounded += coded.bounded;
    if (coded.bounded && coded.coarsestBytes > 0) {
        // what the picture took at the coarsest quantiser with all its levels says how it codes
        const double coarsest = double(coded.coarsestBytes + 1 + 8 * coded.slices.size()) * 8.0;
        m_rate.Update(codedIntra, estimate, coded.quantiser, coarsest, codedB, bits);
    } else if (coded.bounded || (decision.repeat && coded.type == rv40::PictureType::Inter)) {
        m_rate.UpdateRepeated(bits);
        if (decision.repeat && !repeatAtMs)
            ++m_repeated;
    } else {
        m_rate.Update(codedIntra, estimate, coded.quantiser, bits, codedB);
    }
    m_records.push_back({codedIntra, estimate, coded.quantiser, bits, codedB, display});
    if (codedIntra)
        m_lastKeyframe = display;

    Picture out;
    out.slices = std::move(coded.slices);
    out.timestampMs = ms;
    out.keyframe = codedIntra;
    return out;
}

} // namespace corva
