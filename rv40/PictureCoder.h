#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corva::rv40 {

class DecisionPolicy;
class MbGrid;
struct EncoderSettings;
struct Picture;
struct PictureContext;
struct CodedSlice;

// Codes a picture's slices: bands of whole macroblock rows at once, one per thread (the
// picture one band with one thread), each slice then written again by its band with every
// code-table modifier and the shortest kept.
class PictureCoder final {
public:
    static std::vector<std::vector<std::uint8_t>> Code(const PictureContext &pc, Picture &cur, MbGrid &grid,
                                                       DecisionPolicy &policy, const EncoderSettings &settings);

private:
    static int Bands(const MbGrid &grid, const DecisionPolicy &policy, int threads);
    static std::vector<std::vector<std::uint8_t>> Shortest(const PictureContext &pc, const MbGrid &grid,
                                                           std::vector<CodedSlice> &slices, std::size_t maxSliceBytes);
};

} // namespace corva::rv40
