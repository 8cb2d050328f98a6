#pragma once

#include <cstdint>

namespace corva::cook {

// Where the prediction of the decoded sound takes the random signs of noise-filled lines from.
// The decoder's own generator is FFmpeg's; a test puts that one in to predict its output sample
// for sample.
class NoiseSource {
public:
    virtual ~NoiseSource() = default;
    virtual std::uint32_t Next() = 0;
};

// A plain generator for predictions that only need noise of the right power.
class XorShiftNoise final : public NoiseSource {
public:
    std::uint32_t Next() override;

private:
    std::uint32_t m_state = 2463534242u;
};

} // namespace corva::cook
