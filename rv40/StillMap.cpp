#include "rv40/StillMap.h"

#include "rv40/Dsp.h"
#include "rv40/Picture.h"

#include <algorithm>
#include <array>
#include <limits>

namespace corva::rv40 {

namespace {
// A macroblock whose luma moved by less than this on average (in levels of 255) between two
// references is still: a camera's noise moves it by about one.
constexpr int kStillMeanDifference = 2;
// The references in a row a macroblock must have stood still to be coded finer.
constexpr int kStillReferences = 2;
// A switch of quantiser costs a slice (a packet of its own: about 25 bytes with its headers) and
// what its macroblocks lose of their neighbours above: worth it for a run of about this many.
constexpr int kSwitchCost = 30;
} // namespace

bool StillMap::Observe(const Picture &src, const Picture *last)
{
    const Plane &y = src.p[0];
    const std::size_t count = m_run.size();
    std::vector<int> sads(count, 0);
    const bool first = last == nullptr;
    long total = 0;
    if (!first) {
        const Plane &l = last->p[0];
        for (int mby = 0; mby < m_mbh; ++mby)
            for (int mbx = 0; mbx < m_mbw; ++mbx) {
                const int sad = dsp::Sad16(y.At(mbx * 16, mby * 16), y.stride, l.At(mbx * 16, mby * 16), l.stride);
                sads[static_cast<std::size_t>(mby * m_mbw + mbx)] = sad;
                total += sad;
            }
    }
    // A repeated picture says nothing of what stands still: the film's picture rate is above its
    // source's, and what changes, changes at the next new picture.
    if (!first && total == 0)
        return false;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint16_t &run = m_run[i];
        if (first || sads[i] >= kStillMeanDifference * 256)
            run = 0;
        else if (run < std::numeric_limits<std::uint16_t>::max())
            ++run;
    }
    return true;
}

std::vector<bool> StillMap::Segment(const std::vector<bool> &wish, int switchCost, int mostRuns)
{
    const std::size_t n = wish.size();
    std::vector<bool> out(n, false);
    if (n == 0)
        return out;
    // The fewest macroblocks against their wish plus switchCost per switch, by dynamic
    // programming over the two states; the cost of a switch is raised until the finer runs are
    // few enough.
    for (int cost = switchCost;; cost *= 2) {
        std::vector<std::array<std::uint8_t, 2>> from(n);
        std::array<long, 2> best = {wish[0] ? 1 : 0, wish[0] ? 0 : 1};
        for (std::size_t i = 1; i < n; ++i) {
            std::array<long, 2> next{};
            for (int s = 0; s < 2; ++s) {
                const long stay = best[static_cast<std::size_t>(s)];
                const long change = best[static_cast<std::size_t>(1 - s)] + cost;
                from[i][static_cast<std::size_t>(s)] = static_cast<std::uint8_t>(stay <= change ? s : 1 - s);
                next[static_cast<std::size_t>(s)] = std::min(stay, change) + (wish[i] != (s == 1) ? 1 : 0);
            }
            best = next;
        }
        int s = best[1] < best[0] ? 1 : 0;
        for (std::size_t i = n; i-- > 0;) {
            out[i] = s == 1;
            s = from[i][static_cast<std::size_t>(s)];
        }
        int runs = 0;
        for (std::size_t i = 0; i < n; ++i)
            runs += out[i] && (i == 0 || !out[i - 1]) ? 1 : 0;
        if (runs <= mostRuns || cost > static_cast<int>(n))
            return runs <= mostRuns ? out : std::vector<bool>(n, false);
    }
}

std::vector<std::int8_t> StillMap::Offsets(int finer, int mostRuns) const
{
    std::vector<bool> wish(m_run.size());
    bool any = false;
    for (std::size_t i = 0; i < m_run.size(); ++i) {
        wish[i] = m_run[i] >= kStillReferences;
        any = any || wish[i];
    }
    std::vector<std::int8_t> offsets(m_run.size(), 0);
    if (!any || finer == 0)
        return offsets;
    const std::vector<bool> fine = Segment(wish, kSwitchCost, mostRuns);
    for (std::size_t i = 0; i < fine.size(); ++i)
        offsets[i] = fine[i] ? static_cast<std::int8_t>(finer) : std::int8_t{0};
    return offsets;
}

} // namespace corva::rv40
