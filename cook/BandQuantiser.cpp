#include "cook/BandQuantiser.h"

#include <cmath>
#include <stdexcept>

namespace corva::cook {
namespace {

double LineError(double v, int category, int index)
{
    const double a = std::fabs(v);
    if (index == 0) {
        const double d = CodeTables::Dither(category);
        return a * a + d * d; // random sign: the noise adds its power
    }
    const double e = a - CodeTables::Centroid(category, index);
    return e * e;
}

int Symbol(const std::int8_t *index, int dim, int radix)
{
    int s = 0;
    for (int j = 0; j < dim; ++j)
        s = s * radix + index[j];
    return s;
}

void Finish(BandCode &band, const float *normalised)
{
    const CodeTables &tables = CodeTables::Get();
    const int c = band.category;
    const int dim = CodeTables::VectorDim(c);
    const int radix = CodeTables::Kmax(c) + 1;
    band.bits = 0;
    band.error = 0;
    for (int v = 0; v < CodeTables::VectorsPerBand(c); ++v) {
        std::int8_t *idx = band.index.data() + v * dim;
        band.symbol[v] = Symbol(idx, dim, radix);
        band.bits += tables.Vector(c, band.symbol[v]).length;
        for (int j = 0; j < dim; ++j) {
            const int line = v * dim + j;
            band.negative[line] = idx[j] != 0 && normalised[line] < 0;
            band.bits += idx[j] != 0 ? 1 : 0;
            band.error += LineError(normalised[line], c, idx[j]);
        }
    }
}

} // namespace

BandCode BandQuantiser::Quantise(const float *normalised, int category)
{
    if (category < 0 || category > 6)
        throw std::logic_error("cook band category out of range");
    const CodeTables &tables = CodeTables::Get();
    BandCode band;
    band.category = category;
    const int kmax = CodeTables::Kmax(category);
    for (int line = 0; line < kBandSize; ++line) {
        int best = 0;
        double bestError = LineError(normalised[line], category, 0);
        for (int k = 1; k <= kmax; ++k) {
            const double e = LineError(normalised[line], category, k);
            if (e < bestError) {
                best = k;
                bestError = e;
            }
        }
        band.index[line] = static_cast<std::int8_t>(best);
    }
    const int dim = CodeTables::VectorDim(category);
    const int radix = kmax + 1;
    for (int v = 0; v < CodeTables::VectorsPerBand(category); ++v) {
        std::int8_t *idx = band.index.data() + v * dim;
        // Lower the index whose step down costs the least error until the vector has a code.
        while (tables.Vector(category, Symbol(idx, dim, radix)).length == 0) {
            int pick = -1;
            double pickCost = 0;
            for (int j = 0; j < dim; ++j) {
                if (idx[j] == 0)
                    continue;
                const double v0 = normalised[v * dim + j];
                const double cost = LineError(v0, category, idx[j] - 1) - LineError(v0, category, idx[j]);
                if (pick < 0 || cost < pickCost) {
                    pick = j;
                    pickCost = cost;
                }
            }
            if (pick < 0)
                throw std::logic_error("cook vector table lacks the zero vector");
            --idx[pick];
        }
    }
    Finish(band, normalised);
    return band;
}

BandCode BandQuantiser::Silent(const float *normalised, int category)
{
    BandCode band;
    band.category = category;
    Finish(band, normalised);
    return band;
}

void BandQuantiser::Write(BitWriter &out, const BandCode &band)
{
    const CodeTables &tables = CodeTables::Get();
    const int c = band.category;
    const int dim = CodeTables::VectorDim(c);
    for (int v = 0; v < CodeTables::VectorsPerBand(c); ++v) {
        const Code &code = tables.Vector(c, band.symbol[v]);
        out.Put(code.bits, code.length);
        for (int j = 0; j < dim; ++j) {
            const int line = v * dim + j;
            if (band.index[line] != 0)
                out.Put(band.negative[line] ? 1u : 0u, 1);
        }
    }
}

} // namespace corva::cook
