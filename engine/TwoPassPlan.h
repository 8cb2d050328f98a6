#pragma once

#include "engine/BitModel.h"
#include "engine/PassRecord.h"
#include "engine/PlayerBuffer.h"

#include <cstddef>
#include <functional>
#include <vector>

namespace corva {

// A second pass's plan: each picture's step and bits, from what the first pass measured of it,
// so that the film spends its budget with the quantiser following scenes rather than single
// pictures, and a constant-rate film keeps within the player's buffer.
class TwoPassPlan final
{
public:
    TwoPassPlan() = default;
    // `perPicture`: the rate's share of one picture; `qmax` the coarsest quantiser allowed.
    TwoPassPlan(std::vector<PassRecord> records, double perPicture, bool variableRate, int qmax, double pixels,
                const PlayerBuffer &buffer);

    const std::vector<PassRecord> &Records() const { return m_records; }
    bool Covers(std::size_t i) const { return i < m_records.size(); }

    // Picture i's bits at a step, by what the first pass measured of it.
    double BitsAt(std::size_t i, double step) const;
    // What the plan gives picture i.
    double Bits(std::size_t i) const { return m_bits[i]; }
    // And its share of the film's budget: the same where the plan spends the budget; less where
    // pictures the coarsest step cannot bring down, and the buffer's walls, plan more.
    double Budgeted(std::size_t i) const { return m_bits[i] * m_budgetShare; }

    // The step for picture i, the steps scaled (a little at a time, so that neighbouring pictures
    // keep alike steps) to spend what the plan has left on the pictures left as `model` says
    // this pass compares with the first, and leaning against the buffer where it strays from
    // where the plan had it.
    double StepFor(std::size_t i, double spent, const BitModel &model, const PlayerBuffer &buffer);
    // Picture i is coded: it no longer counts among those left.
    void Coded(std::size_t i);
    // The factor of picture i's step for what the pictures after it take from it (1: nothing):
    // a picture many others copy is worth coding finer.
    double ReuseFactor(std::size_t i) const { return m_reuse[i]; }

private:
    double FixedBits(std::size_t i) const;
    double StepForBits(std::size_t i, double bits) const;
    // The bell-weighted average of values around picture i: neighbours that `counts`, on each
    // side up to the first that `ends` the stretch; picture i itself when withOwn.
    static double NeighbourAverage(const std::vector<double> &values, std::size_t i, bool withOwn,
                                   const std::function<bool(std::size_t)> &counts,
                                   const std::function<bool(std::size_t)> &ends);
    void Plan(const PlayerBuffer &buffer);
    std::vector<double> ReuseFactors() const;

    std::vector<PassRecord> m_records;
    double m_perPicture = 1;
    bool m_variableRate = false;
    int m_qmax = 31;
    double m_pixels = 1;
    std::vector<double> m_bits;
    std::vector<double> m_ahead; // bits beyond the rate before each picture
    std::vector<double> m_step;
    std::vector<double> m_reuse;
    // what the plan expects of the pictures not yet coded, by type: the part that does not
    // follow the step and the part that does; the film's budget; the steps' scale
    double m_restFixed[3] = {0, 0, 0};
    double m_restScaled[3] = {0, 0, 0};
    double m_total = 0;
    double m_scale = 1;
    double m_budgetShare = 1;
};

} // namespace corva
