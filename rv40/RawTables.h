#pragma once

#include <cstddef>
#include <cstdint>

// The data tables as flat number arrays, generated at build time from rv40/tables/*.txt.
#define CORVA_RV40_TABLE_LIST(X) \
    X(aic_mode1_codes) X(aic_mode2_codes) X(aic_pair_contexts) X(aic_top_codes) X(base3_digits) \
    X(btype_codes) X(btype_context_map) X(canonical_testvectors) X(cbp_code) X(chroma_mc_bias) \
    X(chroma_quant) X(coeff_order) X(inter_cbp_len) X(inter_cbppat_len) X(inter_coeff_len) \
    X(inter_firstpat_len) X(inter_secondpat_len) X(inter_thirdpat_len) X(intra_cbp_len) \
    X(intra_cbppat_len) X(intra_coeff_len) X(intra_firstpat_len) X(intra_secondpat_len) \
    X(intra_thirdpat_len) X(lf_alpha) X(lf_beta) X(lf_clip) X(lf_dither_l) X(lf_dither_r) \
    X(luma_dc_quant) X(mb_start_bits) X(mb_start_maxmb) X(ptype_codes) X(ptype_context_map) \
    X(qscale) X(quant_to_vlc_set) X(standard_heights) X(standard_widths)

namespace corva::rv40::raw {
#define CORVA_RV40_DECLARE(name) extern const std::int32_t name[]; extern const std::size_t name##_count;
CORVA_RV40_TABLE_LIST(CORVA_RV40_DECLARE)
#undef CORVA_RV40_DECLARE
} // namespace corva::rv40::raw
