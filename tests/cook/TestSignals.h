#pragma once

#include <cstdint>
#include <vector>

namespace corva::cook::test {

// Sound like a film's: a voice-like harmonic tone with vibrato, a chord, hiss, a sweep up to the
// top of the band and clicks; in stereo, sources panned apart plus a little uncorrelated hiss.
// Planar, amplitude within +-0.9.
std::vector<std::vector<float>> FilmLikeSound(int sampleRate, int channels, double seconds, std::uint32_t seed = 1);

// Signal-to-difference ratio in dB of `test` against `reference` (all channels, common length).
double SnrDb(const std::vector<std::vector<float>> &reference, const std::vector<std::vector<float>> &test,
             std::size_t skipFront = 0);

} // namespace corva::cook::test
