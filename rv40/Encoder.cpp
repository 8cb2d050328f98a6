#include "rv40/Encoder.h"

#include "rv40/DecisionPolicy.h"
#include "rv40/Dsp.h"
#include "rv40/LastingError.h"
#include "rv40/LookAhead.h"
#include "rv40/MbGrid.h"
#include "rv40/Picture.h"
#include "rv40/PictureCoder.h"
#include "rv40/PictureContext.h"
#include "rv40/Rv40Bitstream.h"
#include "rv40/StillMap.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

namespace corva::rv40 {

namespace {

// The rungs of a picture kept within a size (the first two at the picture's own quantiser and at
// the coarsest): small levels go first; then intra MBs are coded whole, whose one mode costs less
// than sixteen, keeping their low frequencies, then only each MB's mean and its colour blocks'
// means. With nothing left at all a keyframe shows flat gray.
constexpr LevelLimit kRungs[] = {
    {}, {}, {1}, {2}, {4}, {8}, {2, 2, LevelLimit::kAll, true}, {1, 1, 1, true}, {1 << 20, 0, 0, true},
};
constexpr int kCoarsest = 31;
// How far the quantiser is raised, in turn, before the coarsest.
constexpr int kStepsUp[] = {3, 6, 10};
// A picture is cut into as many slices as there are threads only where the last reference of its
// kind gave each at least this much (a B-picture taking half an inter picture's): each slice
// travels in a packet of its own, and FFmpeg's seek can take a byte inside a packet shorter than
// 256 bytes for a header and leap far beyond it; one slice also costs fewer bits.
constexpr std::size_t kBytesPerBand = 640;
// Runs of a finer quantiser for still macroblocks a picture may have: each costs a slice (a
// packet of its own, about 25 bytes with its headers).
constexpr int kMostQuantiserRuns = 4;
// A quantiser above every one: an MB the reference coded "at" it is settled at none.
constexpr int kUnsettled = 32;

const EncoderSettings &Checked(const EncoderSettings &s)
{
    if (s.width < kMinSide || s.height < kMinSide || s.width > kMaxWidth || s.height > kMaxHeight || s.width % kSizeStep ||
        s.height % kSizeStep)
        throw std::invalid_argument("rv40: picture size " + std::to_string(s.width) + "x" + std::to_string(s.height) +
                                    " cannot be coded (multiples of 4 from 16x16 to 2048x1152)");
    return s;
}

} // namespace

struct Encoder::Impl {
    EncoderSettings settings;
    // shared with a companion, which reads them only, as the bands do
    std::shared_ptr<const Bitstream> bitstream;
    bool ownPolicy = false;
    std::shared_ptr<DecisionPolicy> policy;
    CopyPolicy copies;
    int mbw = 0, mbh = 0;
    VectorBounds bounds;
    bool small = false;
    // ref: the last coded I/P picture, prev: the one before it (B-pictures predict from both)
    Picture src, cur, ref, prev;
    MbGrid grid;
    std::vector<MotionVector> refMv8;    // the reference picture's vectors and MB types
    std::vector<std::uint8_t> refMbType;
    // The reference's source and the quantiser each of its MBs was coded at; and, for the
    // picture being coded, which MBs show what the reference's source showed there.
    Picture refSrc;
    std::vector<std::uint8_t> refQuant, sameSource;
    bool haveRef = false, haveRecon = false, showCur = false;
    int refCount = 0;
    std::uint32_t refTs = 0, prevTs = 0; // their 13-bit times
    // The film's motion per picture as the last coded inter picture had it, and how many repeats
    // (copies, with no motion of their own) came since: a picture after them has moved that much
    // further, beyond where its neighbours' vectors point the search.
    MotionVector motionPerPicture;
    int repeatsSince = 0;
    // The bytes of the last keyframe and inter picture (none yet: 0); a B-picture, which
    // changes nothing for the pictures after it, leaves them alone. And the settings that code a
    // picture in one band.
    std::size_t lastBytes[2] = {};
    EncoderSettings oneBand;
    // which macroblocks have stood still, and the quantiser offsets that follows for a reference
    StillMap still;
    std::vector<std::int8_t> quantOffsets;
    // each macroblock's lambda scale where a still reference's error lasts
    std::vector<float> lambdaScale;

    Impl(const EncoderSettings &s, std::unique_ptr<Bitstream> b, std::unique_ptr<DecisionPolicy> p)
        : settings(Checked(s)), bitstream(b ? std::move(b) : std::make_unique<Rv40Bitstream>()), ownPolicy(!p),
          policy(p ? std::move(p) : std::make_unique<DecisionPolicy>()), mbw((s.width + 15) / 16),
          mbh((s.height + 15) / 16), bounds(mbw * 16, mbh * 16, bitstream->VectorUnits()), small(s.width * s.height <= 176 * 144),
          grid(mbw, mbh, bitstream->BackwardVectorShown()), oneBand(settings), still(mbw, mbh)
    {
        oneBand.threads = 1;
        for (Picture *picture : {&src, &cur, &ref, &prev, &refSrc})
            picture->Init(mbw * 16, mbh * 16);
        refMv8.assign(static_cast<std::size_t>(mbw * mbh * 4), {});
        refMbType.assign(static_cast<std::size_t>(mbw * mbh), kI16);
        refQuant.assign(static_cast<std::size_t>(mbw * mbh), 0);
    }

    // a companion starts as a copy of its encoder (settings, bitstream and decisions shared)
    Impl(const Impl &) = default;

    EncodedPicture Encode(const PictureView &view, const PictureDecision &decision, std::uint32_t ts);
    // The squared error of plane c of the picture just coded against its source.
    std::uint64_t PlaneError(int c) const;
    // How far the picture just coded (before the loop filter) is from its source.
    std::uint64_t Error() const;
    void MeasureMotion();
    // Which MBs of the source show exactly what the reference's source showed there.
    void MarkSameSource();
};

EncodedPicture Encoder::Impl::Encode(const PictureView &view, const PictureDecision &decision, std::uint32_t ts)
{
    if (decision.quantiser < 0 || decision.quantiser > 31)
        throw std::invalid_argument("rv40: quantiser " + std::to_string(decision.quantiser) + " outside 0..31");
    if (view.width != settings.width || view.height != settings.height)
        throw std::invalid_argument("rv40: picture size differs from the encoder's");
    src.Load(view);
    const bool intraPicture = decision.type == PictureType::Intra || !haveRef;
    const bool bPicture = !intraPicture && decision.type == PictureType::Bidirectional && refCount >= 2;
    const bool repeat = decision.repeat && !intraPicture && !bPicture;
    PictureContext pc{*bitstream, settings.effort, settings.width, settings.height, src, ref, prev, refMv8, refMbType,
                      bounds};
    pc.kind = intraPicture ? SliceKind::Intra : (bPicture ? SliceKind::Bidirectional : SliceKind::Inter);
    pc.timestamp = ts;
    pc.haveCatchUp = !intraPicture && !bPicture && !repeat && repeatsSince > 0;
    pc.catchUp = {motionPerPicture.x * (repeatsSince + 1), motionPerPicture.y * (repeatsSince + 1)};
    if (bPicture)
        pc.direct = bitstream->Direct(ts & 0x1FFF, refTs, prevTs);
    pc.qs = bitstream->Steps(decision.quantiser);
    if (pc.tools.stillFiner && !bPicture) {
        // B-pictures, which no picture copies, are coded at one quantiser
        // (a repeat, or a picture like the last, is coded at one quantiser)
        if (still.Observe(src, haveRef ? &refSrc : nullptr) && !repeat) {
            quantOffsets = still.Offsets(-pc.tools.stillFiner, kMostQuantiserRuns);
            const bool any = std::any_of(quantOffsets.begin(), quantOffsets.end(), [](std::int8_t o) { return o != 0; });
            pc.quantOffsets = any ? quantOffsets.data() : nullptr;
            if (any && !intraPicture &&
                LastingError::Scales(src, ref, refSrc, quantOffsets, mbw, mbh, decision.quantiser, lambdaScale))
                pc.lambdaScale = lambdaScale.data();
        }
    }
    // (an effort without settled copies, as a measuring pass, has no use for it)
    if (pc.tools.settledCopies && !intraPicture && !bPicture && !repeat) {
        MarkSameSource();
        pc.sameSource = sameSource.data();
        pc.sourceRepeats = std::all_of(sameSource.begin(), sameSource.end(), [](std::uint8_t s) { return s != 0; });
        pc.refQuant = refQuant.data();
    }
    EncodedPicture out;
    out.type = intraPicture ? PictureType::Intra : (bPicture ? PictureType::Bidirectional : PictureType::Inter);

    // Where the picture must keep within a size, it is coded again at ever coarser
    // quantisers, then with ever more of its small levels dropped, down to none at all; an
    // inter picture that still does not fit repeats its reference. Every rung decodes: only
    // levels go, never syntax.
    // A keyframe cannot repeat, and which rung shows it best depends on the picture (MB means
    // suit a smooth one, a few large levels a detailed one), so once its levels must go every
    // rung is tried and the one closest to the source that fits is kept.
    bool repeatNow = repeat;
    const std::size_t kind = intraPicture ? 0 : 1;
    const std::size_t expected = bPicture ? lastBytes[kind] / 2 : lastBytes[kind];
    const bool banded = lastBytes[kind] == 0 || expected >= kBytesPerBand * static_cast<std::size_t>(settings.threads);
    const EncoderSettings &coding = banded && !repeat ? settings : oneBand;
    std::size_t rung = decision.quantiser == kCoarsest ? 1 : 0;
    std::size_t stepsUp = 0;
    std::size_t best = 0;
    std::uint64_t bestError = 0;
    auto code = [&] {
        pc.levels = kRungs[rung];
        DecisionPolicy &decide = repeatNow ? static_cast<DecisionPolicy &>(copies) : *policy;
        decide.Restart();
        out.slices = PictureCoder::Code(pc, cur, grid, decide, coding);
    };
    for (;;) {
        code();
        if (rung == 1 && !repeatNow)
            out.coarsestBytes = out.Bytes();
        const bool fits = decision.maxBytes == 0 || out.Bytes() <= decision.maxBytes;
        if (intraPicture && rung > 1) {
            const std::uint64_t error = Error();
            if (fits && (!best || error < bestError)) {
                best = rung;
                bestError = error;
            }
            if (rung + 1 < std::size(kRungs)) {
                ++rung;
                continue;
            }
            if (best && best != rung) {
                rung = best;
                code();
            }
            break;
        }
        if (fits || repeatNow)
            break;
        if (rung == 0) {
            // coarser steps first, so a picture a little over its size loses little
            const int q = stepsUp < std::size(kStepsUp)
                              ? std::min(kCoarsest, decision.quantiser + kStepsUp[stepsUp++])
                              : kCoarsest;
            pc.qs = bitstream->Steps(q);
            if (q == kCoarsest)
                rung = 1;
            continue;
        }
        if (rung + 1 < std::size(kRungs)) {
            ++rung;
        } else if (!intraPicture && !bPicture) {
            repeatNow = true;
            rung = 1;
        } else {
            break;
        }
    }
    out.quantiser = pc.qs.q;
    if (!repeatNow && !bPicture) // a repeat says nothing of how the next picture codes
        lastBytes[kind] = out.Bytes();
    out.bounded = rung > 1 || (repeatNow && !repeat);

    int intraMbs = 0;
    for (int n = 0; n < grid.Count(); ++n)
        intraMbs += IsIntra(grid.Type(n));
    if (!intraPicture)
        grid.FinishFilter();
    out.intraShare = static_cast<double>(intraMbs) / grid.Count();
    std::uint8_t *planes[3] = {cur.p[0].o, cur.p[1].o, cur.p[2].o};
    const std::ptrdiff_t strides[3] = {cur.p[0].stride, cur.p[1].stride, cur.p[2].stride};
    bitstream->Filter(planes, strides, mbw, mbh, grid.Filter(), intraPicture, small);
    for (int c = 0; c < 3; ++c)
        out.sse[c] = PlaneError(c);
    cur.Extend();
    haveRecon = true;
    showCur = bPicture;
    if (bPicture)
        return out; // not a reference: both stay as they are
    if (repeatNow)
        ++repeatsSince;
    else
        MeasureMotion();
    std::swap(prev, ref);
    std::swap(cur, ref);
    refMv8 = grid.Vectors();
    refMbType = grid.Types();
    // a copy forced on a picture (a repeat, levels dropped to keep within a size) settles nothing
    for (int n = 0; n < grid.Count(); ++n)
        refQuant[static_cast<std::size_t>(n)] = static_cast<std::uint8_t>(out.bounded || repeatNow ? kUnsettled : pc.QuantAt(n).q);
    std::swap(refSrc, src);
    prevTs = refTs;
    refTs = ts & 0x1FFF;
    ++refCount;
    haveRef = true;
    return out;
}

void Encoder::Impl::MarkSameSource()
{
    sameSource.assign(static_cast<std::size_t>(mbw * mbh), 0);
    if (!haveRef)
        return;
    auto same = [&](int c, int x, int y, int size) {
        const Plane &a = src.p[c], &b = refSrc.p[c];
        for (int r = 0; r < size; ++r)
            if (std::memcmp(a.At(x, y + r), b.At(x, y + r), static_cast<std::size_t>(size)) != 0)
                return false;
        return true;
    };
    for (int mby = 0; mby < mbh; ++mby)
        for (int mbx = 0; mbx < mbw; ++mbx)
            sameSource[static_cast<std::size_t>(mby * mbw + mbx)] =
                same(0, 16 * mbx, 16 * mby, 16) && same(1, 8 * mbx, 8 * mby, 8) && same(2, 8 * mbx, 8 * mby, 8);
}

std::uint64_t Encoder::Impl::PlaneError(int c) const
{
    const int w = c ? settings.width / 2 : settings.width, h = c ? settings.height / 2 : settings.height;
    return dsp::Sse(cur.p[c].o, cur.p[c].stride, src.p[c].o, src.p[c].stride, w, h);
}

std::uint64_t Encoder::Impl::Error() const
{
    // colour counts four times a chroma sample: a rung that keeps the shapes and drops the
    // colours would otherwise often win, and a film that turns gray for a picture is what shows
    return PlaneError(0) + 4 * (PlaneError(1) + PlaneError(2));
}

// The median vector of the inter MBs just coded, per picture since the reference.
void Encoder::Impl::MeasureMotion()
{
    std::vector<int> xs, ys;
    for (int n = 0; n < grid.Count(); ++n) {
        const int t = grid.Type(n);
        if (t != kP16 && t != kPMix && !Partitioned(t))
            continue;
        const MotionVector &v = grid.Mv8(2 * (n % mbw), 2 * (n / mbw));
        xs.push_back(v.x);
        ys.push_back(v.y);
    }
    motionPerPicture = {};
    if (!xs.empty()) {
        auto median = [](std::vector<int> &v) {
            std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
            return v[v.size() / 2];
        };
        motionPerPicture = {median(xs) / (repeatsSince + 1), median(ys) / (repeatsSince + 1)};
    }
    repeatsSince = 0;
}

Encoder::Encoder(const EncoderSettings &settings) : Encoder(settings, nullptr, nullptr) {}

Encoder::Encoder(const EncoderSettings &settings, std::unique_ptr<Bitstream> bitstream,
                 std::unique_ptr<DecisionPolicy> policy)
    : m_impl(std::make_unique<Impl>(settings, std::move(bitstream), std::move(policy)))
{
}

Encoder::Encoder(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

Encoder::~Encoder() = default;

std::unique_ptr<Encoder> Encoder::Companion() const
{
    // a caller's policy may draw, or count, as it goes: it keeps to the caller's thread
    if (!m_impl->ownPolicy)
        return nullptr;
    return std::unique_ptr<Encoder>(new Encoder(std::make_unique<Impl>(*m_impl)));
}

void Encoder::Follow(const Encoder &main)
{
    Impl &d = *m_impl;
    const Impl &m = *main.m_impl;
    // what a B-picture reads: both references, the later one's motion and types, their times,
    // and how large the pictures of its kind have come (whether it is cut into bands)
    d.ref = m.ref;
    d.prev = m.prev;
    d.refMv8 = m.refMv8;
    d.refMbType = m.refMbType;
    d.haveRef = m.haveRef;
    d.refCount = m.refCount;
    d.refTs = m.refTs;
    d.prevTs = m.prevTs;
    d.lastBytes[0] = m.lastBytes[0];
    d.lastBytes[1] = m.lastBytes[1];
}

EncodedPicture Encoder::Encode(const PictureView &source, const PictureDecision &decision, std::uint32_t timestampMs)
{
    return m_impl->Encode(source, decision, timestampMs);
}

PictureCost Encoder::Analyse(const PictureView &source) const
{
    const Impl &d = *m_impl;
    if (source.width != d.settings.width || source.height != d.settings.height || !source.plane[0])
        throw std::invalid_argument("rv40: picture size differs from the encoder's");
    return LookAhead::Estimate(source, d.haveRef ? &d.ref : nullptr, d.bounds);
}

PictureView Encoder::Reconstruction() const
{
    PictureView v;
    if (!m_impl->haveRecon)
        return v;
    v.width = m_impl->settings.width;
    v.height = m_impl->settings.height;
    const Picture &shown = m_impl->showCur ? m_impl->cur : m_impl->ref;
    for (int c = 0; c < 3; ++c) {
        v.plane[c] = shown.p[c].o;
        v.stride[c] = shown.p[c].stride;
    }
    return v;
}

std::vector<std::uint8_t> CodecSetupBytes()
{
    return Rv40Bitstream().SetupBytes();
}

} // namespace corva::rv40
