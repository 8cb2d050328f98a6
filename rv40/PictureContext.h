#pragma once

#include "rv40/Bitstream.h"
#include "rv40/InterPrediction.h"
#include "rv40/Macroblock.h"
#include "rv40/Picture.h"
#include "rv40/QuantSet.h"
#include "rv40/ResidualCoder.h"
#include "rv40/Rv40Types.h"
#include "rv40/VectorBounds.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace corva::rv40 {

// What every band of a picture reads and none writes while the bands run: the source, the
// references and their motion, the picture's kind, quantiser and times.
struct PictureContext {
    const Bitstream &bitstream;
    Effort effort = Effort::Quick;
    int width = 0, height = 0; // display size
    const Picture &src, &ref, &prev;
    const std::vector<MotionVector> &refMv8;   // the later reference's vectors on the 8x8 grid
    const std::vector<std::uint8_t> &refMbType; // and its MB types, for direct MBs
    VectorBounds bounds;
    SliceKind kind = SliceKind::Intra;
    QuantSet qs{};
    // Each macroblock's quantiser against qs (none: qs everywhere); a slice keeps one quantiser,
    // so a macroblock whose differs from the one before starts a slice.
    const std::int8_t *quantOffsets = nullptr;
    // Each macroblock's lambda against qs's (none: 1 everywhere).
    const float *lambdaScale = nullptr;
    // Inter pictures of an effort with settled copies: which MBs show exactly what the
    // reference's source showed there (none: unknown), and the quantiser the reference coded
    // each MB at.
    const std::uint8_t *sameSource = nullptr;
    const std::uint8_t *refQuant = nullptr;
    bool sourceRepeats = false; // every MB shows what the reference's source showed
    LevelLimit levels{};
    std::uint32_t timestamp = 0;
    DirectWeights direct{};
    // The film's motion since the reference, repeats between, as one more search start.
    bool haveCatchUp = false;
    MotionVector catchUp{};
    EffortTools tools = EffortTools::Of(effort);

    QuantSet QuantAt(int n) const
    {
        if (!quantOffsets || quantOffsets[n] == 0)
            return qs;
        const int q = std::clamp(qs.q + quantOffsets[n], 0, 31);
        return bitstream.Steps(q);
    }
};

} // namespace corva::rv40
