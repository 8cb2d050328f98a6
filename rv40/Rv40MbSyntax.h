#pragma once

#include "rv40/BitWriter.h"
#include "rv40/Bitstream.h"

namespace corva::rv40 {

// How RV40 writes a macroblock: copies as runs, the kind by its neighbours' kinds, intra 4x4
// modes by their neighbours' modes, vectors against the predicted ones, then the residual.
class Rv40MbSyntax final {
public:
    static void Write(BitWriter &w, const MbSite &at, const MbRecord &mb, int &run);
    static void WriteCoded(BitWriter &w, const MbSite &at, const MbRecord &mb);
    // The run of copies before a coded MB (written even when none) or at a slice's end.
    static void PutRun(BitWriter &w, int &run, bool evenNone);

private:
    static int TypeTable(const MbSite &at);
    static void WriteModes(BitWriter &w, const MbSite &at, const std::int8_t *m);
    static void WriteIntraHeader(BitWriter &w, int table, const MbSite &at, const MbRecord &mb);
    static void WriteInterHeader(BitWriter &w, int table, const MbSite &at, const MbRecord &mb);
    static void WriteBHeader(BitWriter &w, int table, const MbSite &at, const MbRecord &mb);
};

} // namespace corva::rv40
