#include "rv30/Rv30Tables.h"

#include "rv30/RawTables.h"

#include <memory>
#include <stdexcept>

namespace corva::rv30 {

namespace {

void Require(bool ok)
{
    if (!ok)
        throw std::logic_error("rv30: embedded table is malformed");
}

std::unique_ptr<Rv30Tables> Build()
{
    using namespace raw;
    auto t = std::make_unique<Rv30Tables>();
    Require(itype_context_count == 100 * 11 && itype_pairs_count == 81 * 3 && lf_limit_count == 32 &&
            luma_dc_quant_count == 32);
    for (auto &plane : t->rankOfMode)
        for (auto &row : plane)
            for (auto &r : row)
                r = -1;
    for (std::size_t row = 0; row < 100; ++row) {
        const std::int32_t *e = itype_context + row * 11;
        Require(e[0] >= -1 && e[0] <= 8 && e[1] >= -1 && e[1] <= 8);
        for (int rank = 0; rank < 9; ++rank) {
            const int mode = e[2 + rank];
            Require(mode >= 0 && mode <= Rv30Tables::kNone);
            t->modeOfRank[e[0] + 1][e[1] + 1][rank] = static_cast<std::int8_t>(mode);
            if (mode != Rv30Tables::kNone)
                t->rankOfMode[e[0] + 1][e[1] + 1][mode] = static_cast<std::int8_t>(rank);
        }
    }
    bool seen[9][9] = {};
    for (std::size_t row = 0; row < 81; ++row) {
        const std::int32_t *e = itype_pairs + row * 3;
        Require(e[0] == static_cast<std::int32_t>(row) && e[1] >= 0 && e[1] < 9 && e[2] >= 0 && e[2] < 9 &&
                !seen[e[1]][e[2]]);
        seen[e[1]][e[2]] = true;
        t->pairCode[e[1]][e[2]] = static_cast<std::uint8_t>(row);
    }
    for (int q = 0; q < 32; ++q) {
        t->filterLimit[q] = lf_limit[q];
        t->lumaDcQuant[q] = luma_dc_quant[q];
    }
    return t;
}

} // namespace

const Rv30Tables &Rv30Tables::Get()
{
    static const std::unique_ptr<Rv30Tables> tables = Build();
    return *tables;
}

} // namespace corva::rv30
