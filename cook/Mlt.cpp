#include "cook/Mlt.h"

#include <cmath>
#include <numbers>
#include <stdexcept>

namespace corva::cook {

Mlt::Mlt(int n) : m_n(n)
{
    if (n < 8 || (n & (n - 1)) != 0)
        throw std::invalid_argument("MLT size must be a power of two");
    const double pi = std::numbers::pi;
    m_window.resize(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        m_window[i] = std::sin((i + 0.5) * pi / (2.0 * n)) * std::sqrt(2.0 / n);
    const int half = n / 2;
    m_twiddle.resize(static_cast<std::size_t>(half));
    m_postTwiddle.resize(static_cast<std::size_t>(half));
    for (int i = 0; i < half; ++i) {
        m_twiddle[i] = std::polar(1.0, -pi * (4.0 * i + 1.0) / (4.0 * n));
        m_postTwiddle[i] = std::polar(1.0, -pi * i / n);
    }
    m_fftRoots.resize(static_cast<std::size_t>(half / 2));
    for (int k = 0; k < half / 2; ++k)
        m_fftRoots[k] = std::polar(1.0, -2.0 * pi * k / half);
    m_bitReverse.resize(static_cast<std::size_t>(half));
    int bits = 0;
    while ((1 << bits) < half)
        ++bits;
    for (int i = 0; i < half; ++i) {
        int r = 0;
        for (int b = 0; b < bits; ++b)
            r |= ((i >> b) & 1) << (bits - 1 - b);
        m_bitReverse[i] = r;
    }
}

void Mlt::Fft(std::vector<std::complex<double>> &data) const
{
    const int size = static_cast<int>(data.size());
    for (int i = 0; i < size; ++i)
        if (m_bitReverse[i] > i)
            std::swap(data[i], data[m_bitReverse[i]]);
    for (int len = 2; len <= size; len <<= 1) {
        const int step = size / len;
        for (int start = 0; start < size; start += len) {
            for (int k = 0; k < len / 2; ++k) {
                const std::complex<double> t = m_fftRoots[k * step] * data[start + k + len / 2];
                data[start + k + len / 2] = data[start + k] - t;
                data[start + k] += t;
            }
        }
    }
}

// out[k] = sum_n in[n] cos(pi/N (n + 1/2)(k + 1/2)), through an FFT of N/2 points.
void Mlt::DctIv(const double *in, double *out) const
{
    const int half = m_n / 2;
    std::vector<std::complex<double>> z(static_cast<std::size_t>(half));
    for (int i = 0; i < half; ++i)
        z[i] = std::complex<double>(in[2 * i], in[m_n - 1 - 2 * i]) * m_twiddle[i];
    Fft(z);
    for (int k = 0; k < half; ++k) {
        const std::complex<double> y = z[k] * m_postTwiddle[k];
        out[2 * k] = y.real();
        out[m_n - 1 - 2 * k] = -y.imag();
    }
}

// out[k] = sum_{n<2N} in[n] cos(pi/N (n + 1/2 + N/2)(k + 1/2)): folded onto a DCT-IV.
void Mlt::Forward(const double *in, double *out) const
{
    const int n = m_n;
    const int h = n / 2;
    std::vector<double> folded(static_cast<std::size_t>(n));
    for (int i = 0; i < h; ++i) {
        folded[i] = -in[n + h - 1 - i] - in[n + h + i];
        folded[h + i] = in[i] - in[n - 1 - i];
    }
    DctIv(folded.data(), out);
}

// out[m] = sum_k in[k] cos(pi/N (m + 1/2 + N/2)(k + 1/2)), m < 2N.
void Mlt::Inverse(const double *in, double *out) const
{
    const int n = m_n;
    const int h = n / 2;
    std::vector<double> w(static_cast<std::size_t>(n));
    DctIv(in, w.data());
    for (int i = 0; i < h; ++i)
        out[i] = w[i + h];
    for (int i = h; i < 3 * h; ++i)
        out[i] = -w[3 * h - 1 - i];
    for (int i = 3 * h; i < 2 * n; ++i)
        out[i] = -w[i - 3 * h];
}

void Mlt::Analyse(const float *current, const float *next, float *coefficients) const
{
    const int n = m_n;
    std::vector<double> u(static_cast<std::size_t>(2 * n));
    for (int i = 0; i < n; ++i) {
        u[n + i] = m_window[i] * current[i];
        u[i] = -m_window[n - 1 - i] * next[i];
    }
    std::vector<double> x(static_cast<std::size_t>(n));
    Forward(u.data(), x.data());
    // The decoder's inverse has a leading minus and a 1/32768 scale.
    for (int k = 0; k < n; ++k)
        coefficients[k] = static_cast<float>(-32768.0 * x[k]);
}

void Mlt::Synthesise(const float *coefficients, std::vector<double> &overlap, double *out, double newHalfGain) const
{
    const int n = m_n;
    std::vector<double> in(coefficients, coefficients + n);
    std::vector<double> y(static_cast<std::size_t>(2 * n));
    Inverse(in.data(), y.data());
    overlap.resize(static_cast<std::size_t>(n), 0.0);
    for (int i = 0; i < n; ++i)
        out[i] = (-y[n + i] / 32768.0) * newHalfGain * m_window[i] - overlap[i] * m_window[n - 1 - i];
    for (int i = 0; i < n; ++i)
        overlap[i] = -y[i] / 32768.0;
}

} // namespace corva::cook
