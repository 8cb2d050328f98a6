#pragma once

#include <cstddef>
#include <cstdint>

// The decoder's data tables as flat arrays, generated at build time from cook/tables/*.txt.
#define CORVA_COOK_INT_TABLES(X) \
    X(coupling_band) X(coupling_counts) X(coupling_symbols_2) X(coupling_symbols_3) \
    X(coupling_symbols_4) X(coupling_symbols_5) X(coupling_symbols_6) X(envelope_counts) \
    X(envelope_symbols) X(expbits) X(invradix) X(kmax) X(vd) X(vpr) X(vq_counts) \
    X(vq_symbols_0) X(vq_symbols_1) X(vq_symbols_2) X(vq_symbols_3) X(vq_symbols_4) \
    X(vq_symbols_5) X(vq_symbols_6)
#define CORVA_COOK_FLOAT_TABLES(X) \
    X(centroids) X(coupling_scale_2) X(coupling_scale_3) X(coupling_scale_4) \
    X(coupling_scale_5) X(coupling_scale_6) X(dither)

namespace corva::cook::raw {
#define CORVA_COOK_DECLARE_INT(name) extern const std::int32_t name[]; extern const std::size_t name##_count;
#define CORVA_COOK_DECLARE_FLOAT(name) extern const float name[]; extern const std::size_t name##_count;
CORVA_COOK_INT_TABLES(CORVA_COOK_DECLARE_INT)
CORVA_COOK_FLOAT_TABLES(CORVA_COOK_DECLARE_FLOAT)
#undef CORVA_COOK_DECLARE_INT
#undef CORVA_COOK_DECLARE_FLOAT
} // namespace corva::cook::raw
