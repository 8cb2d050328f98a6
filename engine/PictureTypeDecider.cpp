#include "engine/PictureTypeDecider.h"

#include <algorithm>

namespace corva {

using rv40::PictureType;

PictureTypeDecider::PictureTypeDecider(const EncodePlan::Video &video)
    : m_keyframeInterval(std::max(1, video.gopSize)), m_lateKeyframe(video.lateKeyframe),
      m_bPictures(std::clamp(video.bPictures, 0, 2)), m_qmin(video.qmin), m_qmax(video.qmax),
      m_variableRate(video.variableRate)
{
}

void PictureTypeDecider::Follow(const std::vector<PassRecord> &records)
{
    for (const PassRecord &r : records) {
        if (r.display < 0)
            continue;
        const auto at = static_cast<std::size_t>(r.display);
        if (at >= m_firstPassTypes.size())
            m_firstPassTypes.resize(at + 1, PictureType::Inter);
        m_firstPassTypes[at] = r.type;
    }
}

bool PictureTypeDecider::Keyframe(int n, double ratio) const
{
    // A picture starts a new scene when predicting it from the last one saves almost nothing
    // (its inter cost is at least this share of its intra cost) and much less than it did for
    // the pictures before: a detailed pan keeps a high share all along, a cut jumps to it.
    constexpr double kSceneCutRatio = 0.85;
    constexpr double kSceneCutJump = 1.6;
    const bool cut = n > 1 && m_lastRatio >= 0 && ratio >= kSceneCutRatio && ratio > kSceneCutJump * m_lastRatio;
    const bool late = n == m_lateKeyframe && m_lastKeyframe < n * 3 / 4;
    return n == 0 || n - m_lastKeyframe >= m_keyframeInterval || cut || late;
}

bool PictureTypeDecider::HoldBack(int n, int waiting, const Recent &recent)
{
    if (waiting >= m_bPictures || n == 0)
        return false;
    // B-pictures pay where they come out much smaller than the reference after them; where
    // they do not (fast or erratic motion; a rate even the coarsest quantisers exceed, where
    // two references further apart cost more than the B-picture saves), the
    // pictures are coded plain, and B-pictures are tried again now and then. They pay while they
    // take less than this share of their later reference's bits (two in a row, the lower share).
    constexpr double kBPaysBelow = 0.65;
    constexpr double kSecondBBelow = 0.35;
    constexpr int kBRetryPictures = 25;
    const bool starved = recent.last && recent.last->quantiser >= m_qmax - 1;
    // Nor where the references are as fine as they go and the buffer is full all the same:
    // what a B-picture saves could never be spent.
    constexpr double kFloodedAbove = 0.9;
    const bool flooded = recent.last && recent.last->quantiser <= m_qmin && !m_variableRate &&
                         recent.bufferLevel > kFloodedAbove;
    const bool plain = starved || flooded;
    if (waiting > 0) {
        // a second one only where they come out very small, as on a slow pan
        return m_bToReference < kSecondBBelow && !plain;
    }
    const bool paying = m_bToReference < kBPaysBelow && !plain;
    const bool hold = paying || (n - m_lastBTry >= kBRetryPictures && !plain);
    // (a retry is marked until its B-picture is measured: pictures after it may be decided
    // while it is still being coded)
    if (hold) {
        m_lastBTry = n;
        m_bRetrying = !paying;
    }
    return hold;
}

PictureType PictureTypeDecider::Decide(int n, const rv40::PictureCost &cost, int waiting, const Recent &recent)
{
    const double ratio = cost.intra > 0 ? cost.inter / cost.intra : 0.0;
    const bool following = !m_firstPassTypes.empty();
    const PictureType measured =
        static_cast<std::size_t>(n) < m_firstPassTypes.size() ? m_firstPassTypes[static_cast<std::size_t>(n)] : PictureType::Inter;
    const bool intra = following ? measured == PictureType::Intra : Keyframe(n, ratio);
    if (n > 0)
        m_lastRatio = intra ? -1 : (m_lastRatio < 0 ? ratio : 0.7 * m_lastRatio + 0.3 * ratio);
    if (intra)
        return PictureType::Intra;
    const bool hold = following ? measured == PictureType::Bidirectional : HoldBack(n, waiting, recent);
    return hold ? PictureType::Bidirectional : PictureType::Inter;
}

void PictureTypeDecider::Coded(const PassRecord &record)
{
    if (record.type == PictureType::Intra)
        m_lastKeyframe = record.display;
}

void PictureTypeDecider::CodedBidirectional(double bits, double referenceBits)
{
    // A retry stands on its own measure: the old one is of another stretch of the film.
    constexpr double kBShareMemory = 0.7;
    const double share = bits / referenceBits;
    m_bToReference = m_bRetrying ? share : kBShareMemory * m_bToReference + (1 - kBShareMemory) * share;
    m_bRetrying = false;
}

} // namespace corva
