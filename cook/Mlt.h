#pragma once

#include <complex>
#include <vector>

namespace corva::cook {

// The modulated lapped transform of a frame of N lines, with the decoder's sine window (times
// sqrt(2/N)), its inverse transform's sign and its 1/32768 scale. Frame t covers input blocks t
// and t+1; the decoder puts the second half of its inverse transform into output block t and
// subtracts the first half from block t+1, so the analysis is the exact adjoint of that.
class Mlt final {
public:
    explicit Mlt(int n);
    int Size() const { return m_n; }

    // Coefficients (N) of the frame whose blocks are `current` and `next` (N samples each), so
    // that the decoder's synthesis gives the samples back.
    void Analyse(const float *current, const float *next, float *coefficients) const;

    // The decoder's synthesis: `out` gets the frame's N samples (before the gain curve and
    // clipping); `overlap` (N) carries the first half of the inverse transform from frame to
    // frame; the new half is scaled by `newHalfGain` (the frame's first gain level).
    void Synthesise(const float *coefficients, std::vector<double> &overlap, double *out,
                    double newHalfGain = 1.0) const;

    // The unscaled transforms the two are built on (2N inputs to N lines, and back); public so
    // that a test can hold them against the direct sums.
    void Forward(const double *in2n, double *out) const;
    void Inverse(const double *in, double *out2n) const;

private:
    void DctIv(const double *in, double *out) const;
    void Fft(std::vector<std::complex<double>> &data) const;

    int m_n = 0;
    std::vector<double> m_window;
    std::vector<std::complex<double>> m_twiddle;     // exp(-i pi (4n+1) / 4N), n < N/2
    std::vector<std::complex<double>> m_postTwiddle; // exp(-i pi k / N), k < N/2
    std::vector<std::complex<double>> m_fftRoots; // exp(-2 pi i k / (N/2)), k < N/4
    std::vector<int> m_bitReverse;
};

} // namespace corva::cook
