#include "rv40/RdChooser.h"

#include <limits>

namespace corva::rv40 {

RdChooser::RdChooser(Picture &cur, const Picture &src, int mbx, int mby, double lambdaSse)
    : m_cur(cur), m_src(src), m_mbx(mbx), m_mby(mby), m_lambda(lambdaSse),
      m_bestCost(std::numeric_limits<double>::infinity())
{
    m_cur.SaveMb(mbx, mby, m_before);
}

double RdChooser::Cost(std::size_t bits) const
{
    return static_cast<double>(m_cur.MbSse(m_src, m_mbx, m_mby)) + m_lambda * static_cast<double>(bits);
}

void RdChooser::Try(const MbRecord &m, std::size_t bits)
{
    const double cost = Cost(bits);
    if (cost < m_bestCost) {
        m_bestCost = cost;
        m_best = m;
        m_cur.SaveMb(m_mbx, m_mby, m_bestPixels);
    }
    m_cur.PutMb(m_mbx, m_mby, m_before);
}

bool RdChooser::TakeCopy() const
{
    return Cost(1) <= m_bestCost;
}

const MbRecord &RdChooser::Finish()
{
    m_cur.PutMb(m_mbx, m_mby, m_bestPixels);
    return m_best;
}

} // namespace corva::rv40
