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
    // with a core to spare, the B-pictures are coded beside the next reference
    if (video.threads > 1)
        m_companion = m_encoder.Companion();
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
    // whether B-pictures tried again pay says whether to hold this one back
    std::vector<Picture> out;
    if (m_group && m_group->retry)
        Collect(out);
    // the last picture in coding order: a B-picture still being coded stands at its guess
    PassRecord guessed;
    const PassRecord *last = m_records.empty() ? nullptr : &m_records.back();
    if (m_group && !m_group->frames.empty()) {
        const Decided &d = m_group->decided.back();
        guessed = {rv40::PictureType::Bidirectional, d.estimate, d.decision.quantiser, m_group->ahead.back().predicted,
                   d.display, d.estimate};
        last = &guessed;
    }
    const PictureTypeDecider::Recent recent{last, m_rate.BufferLevel()};
    const rv40::PictureType type = m_types.Decide(n, cost, static_cast<int>(m_waiting.size()), recent);

    if (type == rv40::PictureType::Intra) {
        // Nothing after a keyframe may lean on what came before it, so whatever waits is coded
        // as ordinary inter pictures first (after the B-pictures still being coded).
        Collect(out);
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
    // The later reference first, then the B-pictures that lean on it, in display order. With a
    // companion they are coded while this encoder codes the next reference; they go out before
    // it, and into the accounts then.
    // (until some are measured, a guess at B-pictures is a guess at inter pictures, several
    // times too large: the reference waits for them)
    if (!m_rate.KnowsBidirectional())
        Collect(out);
    const Decided d = Decide(frame, display, rv40::PictureType::Inter, estimate);
    rv40::EncodedPicture coded = m_encoder.Encode(viewOf(frame, m_video.width, m_video.height), d.decision, d.ms);
    Collect(out);
    out.push_back(Account(coded, d, nullptr));
    if (m_waiting.empty())
        return;
    const double reference = m_records.back().bits;
    if (m_companion) {
        Launch(reference);
        return;
    }
    for (Waiting &w : m_waiting) {
        out.push_back(Code(*w.frame, w.display, rv40::PictureType::Bidirectional, w.estimate));
        MeasureBidirectional(reference);
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
    if (!m_waiting.empty()) {
        Waiting last = std::move(m_waiting.back());
        m_waiting.pop_back();
        CodeWithWaiting(*last.frame, last.display, last.estimate, out);
    }
    Collect(out);
    return out;
}

std::uint32_t Rv40VideoEncoder::TimeOf(const AVFrame &frame, int display) const
{
    const AVRational rate = m_video.frameRate;
    const int64_t pts = frame.pts != AV_NOPTS_VALUE ? frame.pts : static_cast<int64_t>(display);
    return static_cast<std::uint32_t>(std::llround(double(pts) * 1000.0 * rate.den / rate.num));
}

Rv40VideoEncoder::Decided Rv40VideoEncoder::Decide(const AVFrame &frame, int display, rv40::PictureType type,
                                                   double estimate, std::optional<std::uint32_t> repeatAtMs)
{
    Decided d;
    d.display = display;
    d.estimate = estimate;
    d.repeatAt = repeatAtMs.has_value();
    rv40::PictureDecision &decision = d.decision;
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
    d.ms = repeatAtMs ? *repeatAtMs : TimeOf(frame, display);
    // Never more than the player's buffer holds: a picture that would run it dry is kept within
    // it at any cost to its quality, less what the stream adds to the slices (their table).
    // B-pictures still being coded count at what they were guessed at. A measuring pass
    // measures the pictures as they are.
    if (!m_measuring) {
        const double slack = 1 + 8.0 * (std::max(1, m_video.threads) + 2);
        decision.maxBytes = static_cast<std::size_t>(std::max(64.0, m_rate.MostBits(type, decision.quantiser) / 8 * kBoundShare - slack));
    }
    return d;
}

Rv40VideoEncoder::Picture Rv40VideoEncoder::Code(const AVFrame &frame, int display, rv40::PictureType type,
                                                 double estimate, std::optional<std::uint32_t> repeatAtMs)
{
    const Decided d = Decide(frame, display, type, estimate, repeatAtMs);
    rv40::EncodedPicture coded = m_encoder.Encode(viewOf(frame, m_video.width, m_video.height), d.decision, d.ms);
    return Account(coded, d, nullptr);
}

Rv40VideoEncoder::Picture Rv40VideoEncoder::Account(rv40::EncodedPicture &coded, const Decided &d,
                                                    const RateController::Ahead *ahead)
{
    // What the stream carries of a picture: a slice count and each slice's entry in the slice
    // table (as a demuxer hands it to a decoder) besides the slices; with several bands a
    // picture that would otherwise spend about 1% more than the rate.
    const double bits = double(coded.Bytes() + 1 + 8 * coded.slices.size()) * 8.0;
    m_bounded += coded.bounded;
    // what the picture took at the coarsest quantiser with all its levels says how it codes
    const bool coarsestKnown = coded.bounded && coded.coarsestBytes > 0;
    const double coarsest = double(coded.coarsestBytes + 1 + 8 * coded.slices.size()) * 8.0;
    if (ahead) {
        if (coarsestKnown)
            m_rate.Settle(*ahead, coarsest, bits);
        else
            m_rate.Settle(*ahead, bits);
    } else if (coarsestKnown) {
        m_rate.Update(coded.type, d.estimate, coded.quantiser, coarsest, bits);
    } else if (coded.bounded || (d.decision.repeat && coded.type == rv40::PictureType::Inter)) {
        m_rate.UpdateRepeated(bits);
        if (d.decision.repeat && !d.repeatAt)
            ++m_repeated;
    } else {
        m_rate.Update(coded.type, d.estimate, coded.quantiser, bits);
    }
    const auto intra = m_intraEstimates.find(d.display);
    m_records.push_back({coded.type, d.estimate, coded.quantiser, bits, d.display,
                         intra != m_intraEstimates.end() ? intra->second : d.estimate});
    if (intra != m_intraEstimates.end())
        m_intraEstimates.erase(intra);
    m_types.Coded(m_records.back());

    Picture out;
    out.slices = std::move(coded.slices);
    out.timestampMs = d.ms;
    out.keyframe = coded.type == rv40::PictureType::Intra;
    return out;
}

void Rv40VideoEncoder::MeasureBidirectional(double reference)
{
    if (m_records.back().type == rv40::PictureType::Bidirectional && reference > 0)
        m_types.CodedBidirectional(m_records.back().bits, reference);
}

void Rv40VideoEncoder::Launch(double reference)
{
    auto group = std::make_unique<Group>();
    group->reference = reference;
    group->retry = m_types.Retrying();
    group->frames = std::move(m_waiting);
    m_waiting.clear();
    for (const Waiting &w : group->frames) {
        group->decided.push_back(Decide(*w.frame, w.display, rv40::PictureType::Bidirectional, w.estimate));
        group->ahead.push_back(m_rate.UpdateAhead(w.estimate, group->decided.back().decision.quantiser));
    }
    m_companion->Follow(m_encoder);
    Group *g = group.get();
    // Whatever leaves the thread's body is rethrown where the group is collected; it must never
    // reach std::terminate.
    group->thread = std::jthread([this, g] {
        try {
            for (std::size_t i = 0; i < g->frames.size(); ++i)
                g->coded.push_back(m_companion->Encode(viewOf(*g->frames[i].frame, m_video.width, m_video.height),
                                                       g->decided[i].decision, g->decided[i].ms));
        } catch (...) {
            g->failure = std::current_exception();
        }
    });
    m_group = std::move(group);
}

void Rv40VideoEncoder::Collect(std::vector<Picture> &out)
{
    if (!m_group)
        return;
    const std::unique_ptr<Group> group = std::move(m_group);
    group->thread.join();
    if (group->failure)
        std::rethrow_exception(group->failure);
    for (std::size_t i = 0; i < group->coded.size(); ++i) {
        out.push_back(Account(group->coded[i], group->decided[i], &group->ahead[i]));
        MeasureBidirectional(group->reference);
    }
}

} // namespace corva
