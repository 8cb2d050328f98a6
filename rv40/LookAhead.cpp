#include "rv40/LookAhead.h"

#include "rv40/Dsp.h"
#include "rv40/MotionSearch.h"
#include "rv40/Picture.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace corva::rv40 {

PictureCost LookAhead::Estimate(const PictureView &view, const Picture *ref, const VectorBounds &bounds)
{
    // Works on the caller's picture directly; only whole MBs inside it are measured.
    PictureCost cost;
    const int fullW = view.width / 16, fullH = view.height / 16;
    const std::uint8_t *Y = view.plane[0];
    const std::ptrdiff_t ys = view.stride[0];
    std::uint8_t pred[256];
    static constexpr int kCross[4][2] = {{0, -1}, {1, 0}, {0, 1}, {-1, 0}};
    for (int mby = 0; mby < std::max(fullH, 1); ++mby)
        for (int mbx = 0; mbx < std::max(fullW, 1); ++mbx) {
            if (mbx * 16 + 16 > view.width || mby * 16 + 16 > view.height)
                continue;
            const std::uint8_t *s = Y + mby * 16 * ys + mbx * 16;
            // intra: DC prediction from the source's own neighbours
            int sum = 0, n = 0;
            if (mby) {
                for (int i = 0; i < 16; ++i)
                    sum += s[i - ys];
                n += 16;
            }
            if (mbx) {
                for (int i = 0; i < 16; ++i)
                    sum += s[i * ys - 1];
                n += 16;
            }
            std::memset(pred, n ? (sum + n / 2) / n : 128, sizeof pred);
            cost.intra += dsp::Satd(s, ys, pred, 16, 16, 16);
            if (!ref) {
                cost.inter += dsp::Satd(s, ys, pred, 16, 16, 16);
                continue;
            }
            const Plane &R = ref->p[0];
            const std::uint8_t *r0 = R.At(mbx * 16, mby * 16);
            auto sad = [&](int x, int y) { return dsp::Sad16(s, ys, r0 + y * R.stride + x, R.stride); };
            int bx = 0, by = 0;
            MotionSearch::Diamond(kCross, 4, 2, 8, INT_MAX, bounds, mbx, mby, bx, by, sad(0, 0), sad);
            cost.inter += dsp::Satd(s, ys, r0 + by * R.stride + bx, R.stride, 16, 16);
        }
    return cost;
}

} // namespace corva::rv40
