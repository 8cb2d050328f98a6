#include "BitExactRun.h"

#include "rv40/Encoder.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace corva::rv40::test {

std::ostream &operator<<(std::ostream &os, const Scenario &s)
{
    return os << s.name;
}

FirstDifference Compare(const YuvFrame &a, const YuvFrame &b)
{
    for (int c = 0; c < 3; ++c) {
        const int w = c ? a.width / 2 : a.width;
        for (std::size_t i = 0; i < a.plane[c].size(); ++i)
            if (a.plane[c][i] != b.plane[c][i])
                return {c, static_cast<int>(i) % w, static_cast<int>(i) / w};
    }
    return {};
}

std::vector<int> CodingOrder(int frames, int bFrames)
{
    std::vector<int> order{0};
    for (int n = 1; n < frames;) {
        const int r = std::min(n + bFrames, frames - 1);
        order.push_back(r);
        for (int b = n; b < r; ++b)
            order.push_back(b);
        n = r + 1;
    }
    return order;
}

RunResult EncodeAndDecode(const Scenario &s)
{
    RunResult res;
    EncoderSettings settings;
    settings.width = s.width;
    settings.height = s.height;
    settings.effort = s.effort;
    settings.maxSliceBytes = s.maxSliceBytes;
    settings.threads = s.threads;
    Encoder enc(settings, s.bitstream ? s.bitstream() : nullptr, std::make_unique<ForcedPolicy>(s.choices));
    // the decoder for the bitstream's own FOURCC, opened with its set-up bytes
    const std::unique_ptr<Bitstream> format = s.bitstream ? s.bitstream() : nullptr;
    Rv40TestDecoder dec(s.width, s.height, Rv40TestDecoder::Arithmetic::Installed, format.get());
    Rv40TestDecoder::TakeErrors();
    std::vector<YuvFrame> recon(static_cast<std::size_t>(s.frames));
    const std::vector<int> order = CodingOrder(s.frames, s.bFrames);
    int lastReference = -1;
    for (std::size_t i = 0; i < order.size(); ++i) {
        const int n = order[i];
        const YuvFrame src = MakeFrame(s.content, s.width, s.height, n, s.frames);
        PictureDecision d;
        const bool reference = n > lastReference;
        lastReference = std::max(lastReference, n);
        d.type = !reference ? PictureType::Bidirectional
                            : ((n == 0 || (s.intraEvery && n % s.intraEvery == 0)) ? PictureType::Intra : PictureType::Inter);
        d.quantiser = s.q(n);
        d.repeat = s.repeatEvery && n % s.repeatEvery == 0;
        d.maxBytes = s.maxBytes;
        const std::uint32_t ts = static_cast<std::uint32_t>(n * 40);
        EncodedPicture pic = enc.Encode(ViewOf(src), d, ts);
        EXPECT_EQ(pic.type, d.type) << "picture " << n;
        if (!s.maxBytes) {
            EXPECT_EQ(pic.quantiser, d.quantiser) << "picture " << n;
        }
        recon[static_cast<std::size_t>(n)] = CopyOf(enc.Reconstruction());
        res.psnr.push_back(Psnr(pic.sse[0], static_cast<std::size_t>(s.width * s.height)));
        if (s.maxBytes) {
            EXPECT_LE(pic.Bytes(), s.maxBytes) << "picture " << n;
            res.bounded += pic.bounded;
        }
        EXPECT_TRUE(dec.Send(pic, n)) << "decoder refused picture " << n;
        for (const auto &slice : pic.slices)
            EXPECT_LE(slice.size(), std::max<std::size_t>(s.maxSliceBytes, 1600)) << "picture " << n;
        res.pictures.push_back(std::move(pic));
    }
    EXPECT_TRUE(dec.Flush());
    const auto errors = Rv40TestDecoder::TakeErrors();
    for (const auto &e : errors)
        ADD_FAILURE() << "decoder: " << e;
    EXPECT_EQ(dec.Frames().size(), recon.size());
    for (std::size_t n = 0; n < std::min(dec.Frames().size(), recon.size()); ++n) {
        const YuvFrame &d = dec.Frames()[n];
        EXPECT_EQ(d.width, s.width);
        EXPECT_EQ(d.height, s.height);
        if (d.width != s.width || d.height != s.height)
            continue;
        const YuvFrame src = MakeFrame(s.content, s.width, s.height, static_cast<int>(n), s.frames);
        double offset = 0;
        for (std::size_t i = 0; i < src.plane[0].size(); ++i)
            offset += static_cast<double>(d.plane[0][i]) - src.plane[0][i];
        res.lumaOffset.push_back(offset / static_cast<double>(src.plane[0].size()));
        const FirstDifference diff = Compare(d, recon[n]);
        if (diff.plane >= 0 && !res.mismatches++)
            res.firstMismatch = "picture " + std::to_string(n) + " plane " + std::to_string(diff.plane) + " at (" +
                                std::to_string(diff.x) + "," + std::to_string(diff.y) + ")";
    }
    return res;
}

} // namespace corva::rv40::test
