#pragma once

#include "rv40/Macroblock.h"
#include "rv40/Picture.h"

#include <cstddef>
#include <cstdint>

namespace corva::rv40 {

// Picks among a macroblock's candidates, each coded for real into the reconstruction, the one
// of least distortion plus lambda times its bits; between tries the picture goes back to how
// it was. The copy is tried last, as it stands in the picture.
class RdChooser final {
public:
    RdChooser(Picture &cur, const Picture &src, int mbx, int mby, double lambdaSse);
    // A candidate just coded into the picture; the picture is restored either way.
    void Try(const MbRecord &m, std::size_t bits);
    // The copy whose prediction is in the picture: kept (the picture as it is) where it costs no
    // more than the best candidate.
    bool TakeCopy() const;
    // The best candidate, its pixels back in the picture.
    const MbRecord &Finish();

private:
    double Cost(std::size_t bits) const;

    Picture &m_cur;
    const Picture &m_src;
    int m_mbx, m_mby;
    double m_lambda;
    MbPixels m_before, m_bestPixels;
    MbRecord m_best;
    double m_bestCost;
};

} // namespace corva::rv40
