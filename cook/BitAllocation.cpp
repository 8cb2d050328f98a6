#include "cook/BitAllocation.h"

#include "cook/CodeTables.h"

#include <algorithm>

namespace corva::cook {
namespace {

int Clip7(int v) { return std::clamp(v, 0, 7); }

} // namespace

Allocation BitAllocation::Categorize(const std::vector<int> &qi, int bitsLeft, int samplesPerChannel,
                                     int vectorCount) const
{
    const int bands = static_cast<int>(qi.size());
    if (bitsLeft > samplesPerChannel)
        bitsLeft = samplesPerChannel + ((bitsLeft - samplesPerChannel) * 5) / 8;

    int bias = -32;
    for (int step = 32; step > 0; step /= 2) {
        int bits = 0;
        for (int b = 0; b < bands; ++b)
            bits += CodeTables::ExpBits(Clip7((step - qi[b] + bias) / 2));
        if (bits >= bitsLeft - 32)
            bias += step;
    }

    std::vector<int> coarse(static_cast<std::size_t>(bands));
    int total = 0;
    for (int b = 0; b < bands; ++b) {
        coarse[b] = Clip7((bias - qi[b]) / 2);
        total += CodeTables::ExpBits(coarse[b]);
    }
    std::vector<int> fine = coarse;
    int coarseBits = total;
    int fineBits = total;

    std::vector<int> list(static_cast<std::size_t>(2 * vectorCount), 0);
    int hi = vectorCount;
    int lo = vectorCount;
    for (int j = 1; j < vectorCount; ++j) {
        if (coarseBits + fineBits > 2 * bitsLeft) {
            int best = -999999;
            int index = -1;
            for (int b = 0; b < bands; ++b) {
                if (coarse[b] < 7) {
                    const int v = -2 * coarse[b] - qi[b] + bias;
                    if (v >= best) {
                        best = v;
                        index = b;
                    }
                }
            }
            if (index < 0)
                break;
            list[hi++] = index;
            coarseBits -= CodeTables::ExpBits(coarse[index]) - CodeTables::ExpBits(coarse[index] + 1);
            ++coarse[index];
        } else {
            int best = 999999;
            int index = -1;
            for (int b = 0; b < bands; ++b) {
                if (fine[b] > 0) {
                    const int v = -2 * fine[b] - qi[b] + bias;
                    if (v < best) {
                        best = v;
                        index = b;
                    }
                }
            }
            if (index < 0)
                break;
            list[--lo] = index;
            fineBits -= CodeTables::ExpBits(fine[index]) - CodeTables::ExpBits(fine[index] - 1);
            --fine[index];
        }
    }

    Allocation out;
    out.categories = fine;
    out.steps.assign(list.begin() + lo, list.begin() + lo + (vectorCount - 1));
    out.placed = hi - lo;
    return out;
}

std::vector<int> BitAllocation::Expand(const Allocation &allocation, int vectors)
{
    std::vector<int> categories = allocation.categories;
    for (int k = 0; k < vectors; ++k) {
        int &c = categories[static_cast<std::size_t>(allocation.steps[k])];
        c = std::min(c + 1, 8);
    }
    return categories;
}

} // namespace corva::cook
