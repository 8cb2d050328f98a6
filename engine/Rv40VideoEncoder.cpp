#include "engine/Rv40VideoEncoder.h"

#include "rv30/Rv30Bitstream.h"
#include "rv40/DecisionPolicy.h"
#include "rv40/Rv40Bitstream.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace corva {

namespace {

// The one place the plan becomes the picture encoder's settings.
rv40::EncoderSettings encoderSettings(const EncodePlan::Video &video, bool measuring)
{
    rv40::EncoderSettings e;
    e.width = video.width;
    e.height = video.height;
    e.effort = measuring ? rv40::Effort::Quickest : video.effort;
    e.threads = video.threads;
    return e;
}

} // namespace

std::unique_ptr<rv40::Bitstream> Rv40VideoEncoder::BitstreamFor(const EncodePlan::Video &video)
{
    if (video.realVideo8)
        return std::make_unique<rv30::Rv30Bitstream>();
    return std::make_unique<rv40::Rv40Bitstream>();
}

// A first pass measures in the bitstream the second writes: RV30's pictures cost differently.
Rv40VideoEncoder::Rv40VideoEncoder(const EncodePlan::Video &video, bool measuring)
    : m_video(video), m_measuring(measuring), m_encoder(encoderSettings(video, measuring), BitstreamFor(video), nullptr),
      m_rate(video, measuring), m_types(video)
{
}

void Rv40VideoEncoder::SetFirstPass(std::vector<PassRecord> records)
{
    m_types.Follow(records);
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
    if (n == 0 && !m_measuring) {
        m_first.reset(av_frame_clone(&frame));
        if (!m_first)
            throw std::runtime_error("out of memory keeping the first picture");
    } else {
        m_first.reset();
    }
    const rv40::PictureCost cost = m_encoder.Analyse(viewOf(frame, m_video.width, m_video.height));
    m_intraEstimates[n] = cost.intra;
    const PictureTypeDecider::Recent recent{m_records.empty() ? nullptr : &m_records.back(), m_rate.BufferLevel()};
    const rv40::PictureType type = m_types.Decide(n, cost, static_cast<int>(m_waiting.size()), recent);

    std::vector<Picture> out;
    if (type == rv40::PictureType::Intra) {
        // Nothing after a keyframe may lean on what came before it, so whatever waits is coded
        // as ordinary inter pictures first.
        for (Waiting &w : m_waiting)
            out.push_back(Code(*w.frame, w.display, rv40::PictureType::Inter, w.estimate));
        m_waiting.clear();
        out.push_back(Code(frame, n, rv40::PictureType::Intra, cost.intra));
        return out;
    }
    if (type == rv40::PictureType::Bidirectional) {
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
    out.push_back(Code(frame, display, rv40::PictureType::Inter, estimate));
    const double reference = m_records.back().bits;
    for (Waiting &w : m_waiting) {
        out.push_back(Code(*w.frame, w.display, rv40::PictureType::Bidirectional, w.estimate));
        if (m_records.back().type == rv40::PictureType::Bidirectional && reference > 0)
            m_types.CodedBidirectional(m_records.back().bits, reference);
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
        const AVRational rate = m_video.frameRate;
        const std::uint32_t halfPictureMs = static_cast<std::uint32_t>(std::max<int64_t>(1, 500LL * rate.den / rate.num));
        out.push_back(Code(*m_first, 1, rv40::PictureType::Inter, 0, TimeOf(*m_first, 0) + halfPictureMs));
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
    const AVRational rate = m_video.frameRate;
    const int64_t pts = frame.pts != AV_NOPTS_VALUE ? frame.pts : static_cast<int64_t>(display);
    return static_cast<std::uint32_t>(std::llround(double(pts) * 1000.0 * rate.den / rate.num));
}

Rv40VideoEncoder::Picture Rv40VideoEncoder::Code(const AVFrame &frame, int display, rv40::PictureType type,
                                                 double estimate, std::optional<std::uint32_t> repeatAtMs)
{
    rv40::PictureDecision decision;
    decision.type = type;
    // A measuring pass keeps to the rate as one pass would, so that each picture is measured
    // near the quantiser the second pass will give it.
    decision.quantiser = m_rate.ChooseQuantiser(type, estimate);
    decision.quantiser = std::clamp(decision.quantiser, 0, 31);
    // A measuring pass codes every picture, so that it measures them all.
    decision.repeat = repeatAtMs ||
                      (type == rv40::PictureType::Inter && !m_measuring && m_rate.RepeatInstead(estimate));
    if (decision.repeat)
        decision.quantiser = m_video.qmax;
    const std::uint32_t ms = repeatAtMs ? *repeatAtMs : TimeOf(frame, display);
    // Never more than the player's buffer holds: a picture that would run it dry is kept within
    // it at any cost to its quality, less what the stream adds to the slices (their table).
    // A measuring pass measures the pictures as they are.
    if (!m_measuring) {
        const double slack = 1 + 8.0 * (std::max(1, m_video.threads) + 2);
        decision.maxBytes = static_cast<std::size_t>(std::max(64.0, m_rate.MostBits(type, decision.quantiser) / 8 * kBoundShare - slack));
    }

    rv40::EncodedPicture coded = m_encoder.Encode(viewOf(frame, m_video.width, m_video.height), decision, ms);
    // What the stream carries of a picture: a slice count and each slice's entry in the slice
    // table (as a demuxer hands it to a decoder) besides the slices; with several bands a
    // picture that would otherwise spend about 1% more than the rate.
    const double bits = double(coded.Bytes() + 1 + 8 * coded.slices.size()) * 8.0;
    m_bounded += coded.bounded;
    if (coded.bounded && coded.coarsestBytes > 0) {
        // what the picture took at the coarsest quantiser with all its levels says how it codes
        const double coarsest = double(coded.coarsestBytes + 1 + 8 * coded.slices.size()) * 8.0;
        m_rate.Update(coded.type, estimate, coded.quantiser, coarsest, bits);
    } else if (coded.bounded || (decision.repeat && coded.type == rv40::PictureType::Inter)) {
        m_rate.UpdateRepeated(bits);
        if (decision.repeat && !repeatAtMs)
            ++m_repeated;
    } else {
        m_rate.Update(coded.type, estimate, coded.quantiser, bits);
    }
    const auto intra = m_intraEstimates.find(display);
    m_records.push_back({coded.type, estimate, coded.quantiser, bits, display,
                         intra != m_intraEstimates.end() ? intra->second : estimate});
    if (intra != m_intraEstimates.end())
        m_intraEstimates.erase(intra);
    m_types.Coded(m_records.back());

    Picture out;
    out.slices = std::move(coded.slices);
    out.timestampMs = ms;
    out.keyframe = coded.type == rv40::PictureType::Intra;
    return out;
}

} // namespace corva
