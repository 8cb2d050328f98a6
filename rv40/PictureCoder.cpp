#include "rv40/PictureCoder.h"

#include "rv40/BandCoder.h"
#include "rv40/DecisionPolicy.h"
#include "rv40/MbGrid.h"
#include "rv40/PictureContext.h"
#include "rv40/SliceWriter.h"

#include <algorithm>
#include <exception>
#include <thread>

namespace corva::rv40 {

namespace {
// At most this many bands of a picture are coded at once.
constexpr int kMaxBands = 8;
} // namespace

// Random choices come from one generator, so they keep to one thread.
int PictureCoder::Bands(const MbGrid &grid, const DecisionPolicy &policy, int threads)
{
    const int wanted = policy.Random() ? 1 : std::max(1, threads);
    return std::clamp(wanted, 1, std::min(kMaxBands, std::max(1, grid.Height() / 2)));
}

// The code-table modifier changes no decision, only codes: each slice is written again from its
// records with every other one, and the shortest kept of those that do not read as a packet
// header. A slice reads only its own macroblocks, so each band does so for its own slices while
// the others are still coded.
std::vector<std::vector<std::uint8_t>> PictureCoder::Shortest(const PictureContext &pc, const MbGrid &grid,
                                                              std::vector<CodedSlice> &slices, std::size_t maxSliceBytes)
{
    std::vector<std::vector<std::uint8_t>> out;
    SliceWriter writer(pc, grid);
    const bool always = pc.tools.rewriteModifiers;
    for (CodedSlice &slice : slices) {
        std::vector<std::uint8_t> best = std::move(slice.bytes);
        // An effort that does not write every slice again does so where it reads as a header
        // (its first bytes do at a time of 0 to 3 ms modulo 8192, with the first modifier).
        bool bestClean = !SliceReadsAsPacketHeader(best);
        const bool rewrite = pc.bitstream.Modifiers() > 1 && (always || !bestClean);
        for (int m = 1; rewrite && m < pc.bitstream.Modifiers(); ++m) {
            writer.Begin(slice.start, slice.qs.WithModifier(m));
            for (int n = slice.start; n < slice.end; ++n)
                writer.Write(n);
            std::vector<std::uint8_t> alt = writer.Finish();
            const bool altClean = !SliceReadsAsPacketHeader(alt);
            const bool fits = alt.size() <= std::max(best.size(), maxSliceBytes);
            if ((altClean > bestClean && fits) || (altClean == bestClean && alt.size() < best.size())) {
                best = std::move(alt);
                bestClean = altClean;
            }
        }
        out.push_back(std::move(best));
    }
    return out;
}

std::vector<std::vector<std::uint8_t>> PictureCoder::Code(const PictureContext &pc, Picture &cur, MbGrid &grid,
                                                          DecisionPolicy &policy, const EncoderSettings &settings)
{
    const int bands = Bands(grid, policy, settings.threads);
    std::vector<std::vector<std::vector<std::uint8_t>>> coded(static_cast<std::size_t>(bands));
    auto bandStart = [&](int b) { return (grid.Height() * b / bands) * grid.Width(); };
    auto codeBand = [&](int b) {
        std::vector<CodedSlice> slices =
            BandCoder(pc, cur, grid, policy, settings.maxSliceBytes).Code(bandStart(b), bandStart(b + 1));
        coded[static_cast<std::size_t>(b)] = Shortest(pc, grid, slices, settings.maxSliceBytes);
    };
    {
        std::vector<std::jthread> workers;
        std::exception_ptr failure[kMaxBands];
        for (int b = 1; b < bands; ++b)
            workers.emplace_back([&, b] {
                try {
                    codeBand(b);
                } catch (...) {
                    failure[b] = std::current_exception();
                }
            });
        try {
            codeBand(0);
        } catch (...) {
            failure[0] = std::current_exception();
        }
        workers.clear(); // joins
        for (int b = 0; b < bands; ++b)
            if (failure[b])
                std::rethrow_exception(failure[b]);
    }
    std::vector<std::vector<std::uint8_t>> out;
    for (auto &band : coded)
        for (auto &slice : band)
            out.push_back(std::move(slice));
    return out;
}

} // namespace corva::rv40
