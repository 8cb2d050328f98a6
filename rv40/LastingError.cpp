#include "rv40/LastingError.h"

#include "rv40/Dsp.h"
#include "rv40/Picture.h"

#include <algorithm>

namespace corva::rv40 {

namespace {
// An error lasts where the reference's squared luma error is above this many times what the
// source changed since, plus a camera's noise over a macroblock (1 level in each of 256 pixels).
constexpr double kLastingRatio = 3.0;
constexpr double kNoise = 256.0;
// The lambda such a macroblock is decided with, as a share of the picture's.
constexpr double kLastingLambda = 0.35;
// Near the coarsest quantiser the rate is already short: the scale fades to none over the last
// steps before it, so that dearer pictures do not starve the film (at the coarsest, a film
// gives up its B-pictures).
constexpr int kFadeSteps = 4;
constexpr int kCoarsest = 31;
} // namespace

bool LastingError::Scales(const Picture &src, const Picture &ref, const Picture &refSrc,
                          const std::vector<std::int8_t> &stillOffsets, int mbw, int mbh, int quantiser,
                          std::vector<float> &scales)
{
    scales.assign(stillOffsets.size(), 1.0f);
    const double fade = std::clamp(double(kCoarsest - quantiser) / kFadeSteps, 0.0, 1.0);
    const float lasting = static_cast<float>(1 - (1 - kLastingLambda) * fade);
    if (lasting >= 1.0f)
        return false;
    bool any = false;
    const Plane &s = src.p[0], &r = ref.p[0], &rs = refSrc.p[0];
    for (int mby = 0; mby < mbh; ++mby)
        for (int mbx = 0; mbx < mbw; ++mbx) {
            const std::size_t i = static_cast<std::size_t>(mby * mbw + mbx);
            if (!stillOffsets[i])
                continue;
            const int x = 16 * mbx, y = 16 * mby;
            const auto error = dsp::Sse(s.At(x, y), s.stride, r.At(x, y), r.stride, 16, 16);
            const auto changed = dsp::Sse(s.At(x, y), s.stride, rs.At(x, y), rs.stride, 16, 16);
            if (double(error) > kLastingRatio * double(changed) + kNoise) {
                scales[i] = lasting;
                any = true;
            }
        }
    return any;
}

} // namespace corva::rv40
