#include "rv40/InterPrediction.h"

#include "rv40/Bitstream.h"

namespace corva::rv40 {

MbTarget MbTarget::Into(Picture &pic, int mbx, int mby)
{
    return {pic.p[0].At(mbx * 16, mby * 16), pic.p[1].At(mbx * 8, mby * 8), pic.p[2].At(mbx * 8, mby * 8),
            pic.p[0].stride, pic.p[1].stride};
}

MbTarget MbTarget::Into(MbPixels &px)
{
    return {px.y, px.u, px.v, 16, 8};
}

DirectWeights DirectWeights::For(std::uint32_t ts, std::uint32_t refTs, std::uint32_t prevTs)
{
    auto dist = [](std::uint32_t a, std::uint32_t b) { return static_cast<int>((a + 8192 - b) & 0x1FFF); };
    const int refDist = dist(refTs, prevTs), d0 = dist(ts, prevTs), d1 = dist(refTs, ts);
    DirectWeights w;
    w.allowed = refDist && d0 <= refDist && d1 <= refDist;
    if (!refDist)
        return w;
    w.mvWeight1 = (d0 << 14) / refDist;
    w.mvWeight2 = (d1 << 14) / refDist;
    w.weight1 = w.mvWeight1;
    w.weight2 = w.mvWeight2;
    if (!((w.mvWeight1 | w.mvWeight2) & 511)) {
        w.weight1 >>= 9;
        w.weight2 >>= 9;
        w.scaled = true;
    }
    return w;
}

void InterPrediction::Predict(const Picture &from, int mbx, int mby, const MotionVector v[4], const MbTarget &out) const
{
    const bool one = v[1] == v[0] && v[2] == v[0] && v[3] == v[0];
    const int size = one ? 16 : 8;
    for (int k = 0; k < (one ? 1 : 4); ++k) {
        const int ox = 8 * (k & 1), oy = 8 * (k >> 1);
        const int x = mbx * 16 + ox, y = mby * 16 + oy;
        m_bitstream.LumaMc(out.y + oy * out.ys + ox, out.ys, from.p[0].At(x, y), from.p[0].stride, v[k], size, size);
        const std::ptrdiff_t at = (oy / 2) * out.cs + ox / 2;
        m_bitstream.ChromaMc(out.u + at, out.cs, from.p[1].At(x / 2, y / 2), from.p[1].stride, v[k], size / 2, size / 2);
        m_bitstream.ChromaMc(out.v + at, out.cs, from.p[2].At(x / 2, y / 2), from.p[2].stride, v[k], size / 2, size / 2);
    }
}

void InterPrediction::Predict(const Picture &from, int mbx, int mby, const MotionVector &v, const MbTarget &out) const
{
    const MotionVector v4[4] = {v, v, v, v};
    Predict(from, mbx, mby, v4, out);
}

void InterPrediction::PredictB(const Picture &prev, const Picture &ref, const DirectWeights &dw, int mbx, int mby,
                               int type, const MotionVector &fwd, const MotionVector &bwd, const MotionVector df[4],
                               const MotionVector db[4], MbPixels &out) const
{
    if (type == kBFwd) {
        Predict(prev, mbx, mby, fwd, MbTarget::Into(out));
        return;
    }
    if (type == kBBwd) {
        Predict(ref, mbx, mby, bwd, MbTarget::Into(out));
        return;
    }
    const bool direct = type != kBBidir;
    const MotionVector f4[4] = {fwd, fwd, fwd, fwd}, b4[4] = {bwd, bwd, bwd, bwd};
    MbPixels b;
    Predict(prev, mbx, mby, direct ? df : f4, MbTarget::Into(out));
    Predict(ref, mbx, mby, direct ? db : b4, MbTarget::Into(b));
    const bool weighted = direct && dw.weight1 != 8192;
    auto blend = [&](std::uint8_t *a, const std::uint8_t *c, int count) {
        for (int i = 0; i < count; ++i) {
            if (!weighted)
                a[i] = static_cast<std::uint8_t>((a[i] + c[i] + 1) >> 1);
            else if (dw.scaled)
                a[i] = static_cast<std::uint8_t>((dw.weight2 * a[i] + dw.weight1 * c[i] + 16) >> 5);
            else
                a[i] = static_cast<std::uint8_t>((((dw.weight2 * a[i]) >> 9) + ((dw.weight1 * c[i]) >> 9) + 16) >> 5);
        }
    };
    blend(out.y, b.y, 256);
    blend(out.u, b.u, 64);
    blend(out.v, b.v, 64);
}

} // namespace corva::rv40
