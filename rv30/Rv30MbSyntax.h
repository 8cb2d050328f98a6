#pragma once

#include "rv40/BitWriter.h"
#include "rv40/Bitstream.h"

namespace corva::rv30 {

// How RV30 writes a macroblock: in P- and B-pictures one Exp-Golomb type per MB (a copy too),
// the vectors against the predicted ones, intra 4x4 modes two blocks to a code by their ranks
// in the neighbours' context, then the residual.
class Rv30MbSyntax final {
public:
    static void Write(rv40::BitWriter &w, const rv40::MbSite &at, const rv40::MbRecord &mb);
    // The type's code in a P- or B-picture; -1 for a type RV30 does not have.
    static int TypeCode(rv40::SliceKind kind, int type);

private:
    static void WriteModes(rv40::BitWriter &w, const rv40::MbSite &at, const std::int8_t *m);
};

} // namespace corva::rv30
