#pragma once

#include "cook/Flavour.h"
#include "cook/NoiseSource.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace corva::cook::test {

// FFmpeg's cook decoder driven directly, set up with the bytes and sizes our container writes.
// Collects every message it prints at error level or worse.
class CookTestDecoder final {
public:
    explicit CookTestDecoder(const Flavour &flavour);
    ~CookTestDecoder();
    CookTestDecoder(const CookTestDecoder &) = delete;
    CookTestDecoder &operator=(const CookTestDecoder &) = delete;

    // False when the decoder refused the frame (the message is in TakeErrors()).
    bool Send(const std::vector<std::uint8_t> &frame);
    // Decoded samples so far, planar.
    const std::vector<std::vector<float>> &Samples() const { return m_samples; }
    static std::vector<std::string> TakeErrors();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    std::vector<std::vector<float>> m_samples;
};

// The decoder's own random generator (FFmpeg's lagged Fibonacci generator, seed 0), so that the
// prediction fills noise with the very signs the decoder draws.
class FfmpegNoise final : public NoiseSource {
public:
    FfmpegNoise();
    ~FfmpegNoise() override;
    std::uint32_t Next() override;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace corva::cook::test
