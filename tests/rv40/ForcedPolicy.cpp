#include "ForcedPolicy.h"

namespace corva::rv40::test {

std::uint32_t ForcedPolicy::Draw()
{
    m_state ^= m_state << 13;
    m_state ^= m_state >> 17;
    m_state ^= m_state << 5;
    return m_state;
}

} // namespace corva::rv40::test
