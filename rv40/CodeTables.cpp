#include "rv40/CodeTables.h"

#include "rv40/RawTables.h"

#include <memory>
#include <stdexcept>

namespace corva::rv40 {

bool BuildCanonical(const std::int32_t *lengths, std::size_t count, Vlc *out)
{
    int perLength[17] = {};
    for (std::size_t s = 0; s < count; ++s) {
        if (lengths[s] < 0 || lengths[s] > 16)
            return false;
        ++perLength[lengths[s]];
    }
    std::uint32_t next[17] = {};
    std::uint32_t code = 0;
    for (int l = 1; l <= 16; ++l) {
        if (l > 1)
            code = (code + static_cast<std::uint32_t>(perLength[l - 1])) << 1;
        next[l] = code;
    }
    for (std::size_t s = 0; s < count; ++s) {
        const int l = lengths[s];
        out[s] = {};
        if (!l)
            continue;
        if (next[l] >> l)
            return false;
        out[s].code = static_cast<std::uint16_t>(next[l]++);
        out[s].len = static_cast<std::uint8_t>(l);
    }
    return true;
}

namespace {

void Canonical(const std::int32_t *table, std::size_t tableCount, std::size_t row, std::size_t rowLen, Vlc *out)
{
    if ((row + 1) * rowLen > tableCount || !BuildCanonical(table + row * rowLen, rowLen, out))
        throw std::logic_error("rv40: embedded code table is malformed");
}

void Copy(const std::int32_t *src, std::size_t n, int *dst) {
    for (std::size_t i = 0; i < n; ++i)
        dst[i] = src[i];
}

std::unique_ptr<CodeTables> Build()
{
    using namespace raw;
    auto t = std::make_unique<CodeTables>();
    for (std::size_t s = 0; s < 5; ++s) {
        for (std::size_t k = 0; k < 2; ++k) {
            Canonical(intra_cbppat_len, intra_cbppat_len_count, s * 2 + k, 1296, t->intraCbppat[s][k]);
            Canonical(intra_secondpat_len, intra_secondpat_len_count, s * 2 + k, 108, t->intraSecond[s][k]);
            Canonical(intra_thirdpat_len, intra_thirdpat_len_count, s * 2 + k, 108, t->intraThird[s][k]);
        }
        for (std::size_t k = 0; k < 8; ++k)
            Canonical(intra_cbp_len, intra_cbp_len_count, s * 8 + k, 16, t->intraCbp[s][k]);
        for (std::size_t k = 0; k < 4; ++k)
            Canonical(intra_firstpat_len, intra_firstpat_len_count, s * 4 + k, 864, t->intraFirst[s][k]);
        Canonical(intra_coeff_len, intra_coeff_len_count, s, 32, t->intraCoeff[s]);
    }
    for (std::size_t s = 0; s < 7; ++s) {
        Canonical(inter_cbppat_len, inter_cbppat_len_count, s, 1296, t->interCbppat[s]);
        for (std::size_t k = 0; k < 4; ++k)
            Canonical(inter_cbp_len, inter_cbp_len_count, s * 4 + k, 16, t->interCbp[s][k]);
        for (std::size_t k = 0; k < 2; ++k) {
            Canonical(inter_firstpat_len, inter_firstpat_len_count, s * 2 + k, 864, t->interFirst[s][k]);
            Canonical(inter_secondpat_len, inter_secondpat_len_count, s * 2 + k, 108, t->interSecond[s][k]);
            Canonical(inter_thirdpat_len, inter_thirdpat_len_count, s * 2 + k, 108, t->interThird[s][k]);
        }
        Canonical(inter_coeff_len, inter_coeff_len_count, s, 32, t->interCoeff[s]);
    }
    auto vlc = [](std::int32_t len, std::int32_t code) {
        return Vlc{static_cast<std::uint16_t>(code), static_cast<std::uint8_t>(len)};
    };
    for (std::size_t i = 0; i + 3 <= aic_top_codes_count; i += 3)
        t->aicTop[aic_top_codes[i] & 15] = vlc(aic_top_codes[i + 1], aic_top_codes[i + 2]);
    for (std::size_t i = 0; i + 5 <= aic_mode2_codes_count; i += 5) {
        const auto *r = aic_mode2_codes + i;
        t->aicPair[r[0]][9 * r[1] + r[2]] = vlc(r[3], r[4]);
    }
    for (std::size_t i = 0; i + 6 <= aic_mode1_codes_count; i += 6) {
        const auto *r = aic_mode1_codes + i;
        t->aicSingle[r[0]][r[3]] = vlc(r[4], r[5]);
    }
    for (auto &a : t->aicPairContext)
        for (auto &b : a)
            for (auto &c : b)
                c = -1;
    for (std::size_t i = 0; i + 4 <= aic_pair_contexts_count; i += 4) {
        const auto *r = aic_pair_contexts + i;
        t->aicPairContext[r[1]][r[2]][r[3]] = static_cast<std::int8_t>(r[0]);
    }
    // P- and B-picture MB types: rows of (context table, type, code, length), then the map
    // from the neighbours' commonest type to a context table
    auto typeCodes = [&](const auto *rows, std::size_t count, auto &codes, const auto *map, std::uint8_t *contexts) {
        for (std::size_t i = 0; i + 4 <= count; i += 4) {
            const auto *r = rows + i;
            if (r[1] < 12)
                codes[r[0]][r[1]] = vlc(r[2], r[3]);
        }
        for (std::size_t i = 0; i < 12; ++i)
            contexts[i] = static_cast<std::uint8_t>(map[i]);
    };
    typeCodes(ptype_codes, ptype_codes_count, t->ptype, ptype_context_map, t->ptypeContext);
    typeCodes(btype_codes, btype_codes_count, t->btype, btype_context_map, t->btypeContext);
    for (std::size_t s = 0; s < 16; ++s)
        t->cbpSymbol[cbp_code[s] & 63] = static_cast<std::uint8_t>(s);
    Copy(qscale, 32, t->qscale);
    Copy(chroma_quant, 32, t->chromaQuantAc);
    Copy(chroma_quant + 32, 32, t->chromaQuantDc);
    Copy(luma_dc_quant, 32, t->lumaDcQuantIntra);
    Copy(luma_dc_quant + 32, 32, t->lumaDcQuantInter);
    Copy(quant_to_vlc_set, 32, t->vlcSetIntra);
    Copy(quant_to_vlc_set + 32, 32, t->vlcSetInter);
    Copy(standard_widths, 8, t->standardWidths);
    Copy(standard_heights, 12, t->standardHeights);
    Copy(mb_start_maxmb, 6, t->mbStartMax);
    Copy(mb_start_bits, 6, t->mbStartBits);
    for (std::size_t i = 0; i < 16; ++i)
        t->codedPosition[i] = coeff_order[i * 7 + 1];
    for (std::size_t i = 0; i < 16; ++i)
        t->chromaBias[i / 4][i % 4] = chroma_mc_bias[i];
    Copy(lf_alpha, 32, t->lfAlpha);
    Copy(lf_beta, 32, t->lfBeta);
    for (std::size_t r = 0; r < 3; ++r)
        Copy(lf_clip + 32 * r, 32, t->lfClip[r]);
    Copy(lf_dither_l, 16, t->ditherL);
    Copy(lf_dither_r, 16, t->ditherR);
    return t;
}

} // namespace

const CodeTables &CodeTables::Get()
{
    static const std::unique_ptr<CodeTables> tables = Build();
    return *tables;
}

} // namespace corva::rv40
