#include "rv40/QuantSet.h"

#include "rv40/CodeTables.h"

namespace corva::rv40 {

QuantSet QuantSet::For(int q, int lumaDcQuantiser, int interDcQuantiser)
{
    const CodeTables &T = CodeTables::Get();
    QuantSet qs;
    qs.q = q;
    qs.lumaStep = T.qscale[q];
    qs.chromaAcStep = T.qscale[T.chromaQuantAc[q]];
    qs.chromaDcStep = T.qscale[T.chromaQuantDc[q]];
    qs.lumaDcStep = T.qscale[lumaDcQuantiser];
    qs.interDcStep = interDcQuantiser >= 0 ? T.qscale[interDcQuantiser] : 0;
    // a step of qscale/16 in the coefficient domain is about qscale/24 in pixel units
    const double step = qs.lumaStep / 24.0;
    qs.lambda = 0.4 * step;
    qs.lambdaSse = 0.22 * step * step;
    return qs.WithModifier(0);
}

QuantSet QuantSet::WithModifier(int m) const
{
    const CodeTables &T = CodeTables::Get();
    QuantSet qs = *this;
    int tq = q;
    if (m == 2 && tq < 19)
        tq += 10;
    else if (m && tq < 26)
        tq += 5;
    qs.modifier = m;
    qs.intraSet = T.vlcSetIntra[tq];
    qs.interSet = T.vlcSetInter[tq];
    return qs;
}

} // namespace corva::rv40
