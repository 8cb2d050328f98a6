#pragma once

#include <cstddef>
#include <cstdint>

// The RV30 tables as flat number arrays, generated at build time from rv30/tables/*.txt.
namespace corva::rv30::raw {
extern const std::int32_t itype_context[];
extern const std::size_t itype_context_count;
extern const std::int32_t itype_pairs[];
extern const std::size_t itype_pairs_count;
extern const std::int32_t lf_limit[];
extern const std::size_t lf_limit_count;
extern const std::int32_t luma_dc_quant[];
extern const std::size_t luma_dc_quant_count;
} // namespace corva::rv30::raw
