#include "cook/NoiseSource.h"

namespace corva::cook {

std::uint32_t XorShiftNoise::Next()
{
    m_state ^= m_state << 13;
    m_state ^= m_state >> 17;
    m_state ^= m_state << 5;
    return m_state;
}

} // namespace corva::cook
