// The measuring half of bench/cook-bench.sh: makes the test sounds, and compares a decoded
// sound with its source (bandwidth kept, noise in the kept band, pre-echo before transients),
// and times the cook encoder alone.
//
//   cook-measure make KIND OUT.wav          KIND: film, speech, music, transient (48 kHz stereo, 8 s)
//   cook-measure compare SRC DEC.f32 CH      SRC: a sound made above, or raw stereo float at 48 kHz
//                                            (SRC.f32); DEC: raw float at 48 kHz with CH channels
//   cook-measure speed FLAVOUR SECONDS      CPU seconds the encoder takes for that much sound
#include "cook/Encoder.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 48000;
constexpr double kPi = std::numbers::pi;

using Sound = std::vector<std::vector<float>>; // planar

struct Lfsr {
    std::uint32_t s = 12345;
    double Next()
    {
        s = s * 1664525u + 1013904223u;
        return static_cast<double>(s >> 8) / double(1u << 24) * 2.0 - 1.0;
    }
};

// A two-pole resonator: formants, body resonances.
struct Resonator {
    double a1 = 0, a2 = 0, g = 0, y1 = 0, y2 = 0;
    Resonator(double f, double bw)
    {
        const double r = std::exp(-kPi * bw / kRate);
        a1 = 2 * r * std::cos(2 * kPi * f / kRate);
        a2 = -r * r;
        g = 1 - r;
    }
    double Step(double x)
    {
        const double y = g * x + a1 * y1 + a2 * y2;
        y2 = y1;
        y1 = y;
        return y;
    }
};

// Speech: a glottal pulse train with a wandering pitch through three moving formants,
// syllables four times a second, pauses, fricatives (high hiss) between vowels.
std::vector<float> Speech(std::size_t n, std::uint32_t seed)
{
    Lfsr rng{seed};
    std::vector<float> out(n);
    double phase = 0;
    Resonator f1(600, 90), f2(1500, 120), f3(2600, 160);
    Resonator hiss(6000, 3000);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = double(i) / kRate;
        const double pitch = 120 + 40 * std::sin(2 * kPi * 0.7 * t) + 15 * std::sin(2 * kPi * 3.1 * t);
        phase += pitch / kRate;
        double pulse = 0;
        if (phase >= 1) {
            phase -= 1;
            pulse = 1;
        }
        const double syll = std::fmod(t * 4, 1.0);
        const bool pause = std::fmod(t, 2.5) > 2.1;
        const double voiced = pause ? 0 : std::sin(kPi * std::min(1.0, syll / 0.7)) * (syll < 0.7);
        const double fric = pause ? 0 : (syll >= 0.75 ? 1.0 : 0.0);
        if (i % 2400 == 0) { // formants move every 50 ms
            f1 = Resonator(450 + 300 * std::abs(std::sin(t * 3.1)), 90);
            f2 = Resonator(1100 + 900 * std::abs(std::sin(t * 2.3)), 120);
        }
        const double v = f1.Step(pulse * 40) + 0.6 * f2.Step(pulse * 40) + 0.3 * f3.Step(pulse * 40);
        out[i] = static_cast<float>(0.5 * voiced * v + 0.08 * fric * hiss.Step(rng.Next() * 8) + 0.002 * rng.Next());
    }
    return out;
}

// Music: plucked notes with harmonics to 12 kHz decaying, a sustained pad with vibrato, a bass
// line, hi-hat noise bursts that carry the top octave.
Sound Music(std::size_t n)
{
    Lfsr rng{777};
    Sound out(2, std::vector<float>(n));
    const double notes[] = {261.6, 329.6, 392.0, 523.3, 440.0, 349.2, 293.7, 246.9};
    Resonator hat(10000, 4000);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = double(i) / kRate;
        const int beat = static_cast<int>(t * 4);
        const double since = t * 4 - beat;
        const double f = notes[beat % 8];
        double pluck = 0;
        for (int h = 1; h * f < 12000; ++h)
            pluck += std::sin(2 * kPi * h * f * t) * std::exp(-since * (1.5 + h * 0.4)) / h;
        double pad = 0;
        for (double pf : {196.0, 246.9, 293.7})
            for (int h = 1; h <= 6; ++h)
                pad += std::sin(2 * kPi * h * pf * (t + 0.002 * std::sin(2 * kPi * 5 * t))) / (h * h);
        const double bass = std::sin(2 * kPi * (notes[(beat / 2) % 8] / 4) * t);
        const double hh = std::fmod(t * 8, 1.0) < 0.05 ? hat.Step(rng.Next() * 6) : hat.Step(0);
        out[0][i] = static_cast<float>(0.25 * pluck + 0.05 * pad + 0.15 * bass + 0.12 * hh);
        out[1][i] = static_cast<float>(0.15 * pluck + 0.08 * pad + 0.15 * bass + 0.10 * hh);
    }
    return out;
}

Sound Make(const std::string &kind, std::size_t n)
{
    Lfsr rng{99};
    Sound out(2, std::vector<float>(n, 0.0f));
    if (kind == "speech") {
        const auto s = Speech(n, 5);
        out[0] = s;
        out[1] = s;
    } else if (kind == "music") {
        out = Music(n);
    } else if (kind == "film") {
        // Dialogue over a music bed and room tone, a door slam at 5 s.
        const auto s = Speech(n, 9);
        const Sound m = Music(n);
        double pinkL = 0, pinkR = 0;
        for (std::size_t i = 0; i < n; ++i) {
            pinkL = 0.98 * pinkL + 0.02 * rng.Next();
            pinkR = 0.98 * pinkR + 0.02 * rng.Next();
            const double t = double(i) / kRate;
            const double slam = t >= 5.0 && t < 5.3 ? rng.Next() * std::exp(-(t - 5.0) * 25) * 0.7 : 0.0;
            out[0][i] = static_cast<float>(0.8 * s[i] + 0.3 * m[0][i] + 0.3 * pinkL + slam);
            out[1][i] = static_cast<float>(0.7 * s[i] + 0.3 * m[1][i] + 0.3 * pinkR + 0.8 * slam);
        }
    } else if (kind == "transient") {
        // Castanet-like clicks on silence every half second: what pre-echo smears.
        for (std::size_t i = 0; i < n; ++i) {
            const double t = double(i) / kRate;
            const double since = std::fmod(t, 0.5) - 0.25;
            const double v = since >= 0 && since < 0.015 ? rng.Next() * std::exp(-since * 400) * 0.8 : 0.0;
            out[0][i] = out[1][i] = static_cast<float>(v + 1e-4 * rng.Next());
        }
    } else {
        std::fprintf(stderr, "unknown sound %s\n", kind.c_str());
        std::exit(2);
    }
    for (auto &ch : out)
        for (float &v : ch)
            v = std::clamp(v, -0.95f, 0.95f);
    return out;
}

void WriteWav(const std::string &path, const Sound &s)
{
    std::ofstream f(path, std::ios::binary);
    const std::uint32_t frames = static_cast<std::uint32_t>(s[0].size());
    const std::uint16_t ch = static_cast<std::uint16_t>(s.size());
    auto u32 = [&](std::uint32_t v) { f.write(reinterpret_cast<const char *>(&v), 4); };
    auto u16 = [&](std::uint16_t v) { f.write(reinterpret_cast<const char *>(&v), 2); };
    f.write("RIFF", 4);
    u32(36 + frames * ch * 4);
    f.write("WAVEfmt ", 8);
    u32(16);
    u16(3); // float
    u16(ch);
    u32(kRate);
    u32(kRate * ch * 4);
    u16(static_cast<std::uint16_t>(ch * 4));
    u16(32);
    f.write("data", 4);
    u32(frames * ch * 4);
    for (std::uint32_t i = 0; i < frames; ++i)
        for (const auto &c : s)
            f.write(reinterpret_cast<const char *>(&c[i]), 4);
}

Sound ReadRaw(const std::string &path, int channels, std::size_t skipBytes = 0)
{
    std::ifstream f(path, std::ios::binary);
    f.seekg(static_cast<std::streamoff>(skipBytes));
    std::vector<float> all;
    float v;
    while (f.read(reinterpret_cast<char *>(&v), 4))
        all.push_back(v);
    Sound s(static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i + static_cast<std::size_t>(channels) <= all.size(); i += static_cast<std::size_t>(channels))
        for (int c = 0; c < channels; ++c)
            s[c].push_back(all[i + c]);
    return s;
}

void Fft(std::vector<std::complex<double>> &a)
{
    const std::size_t n = a.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(a[i], a[j]);
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const std::complex<double> w = std::polar(1.0, -2 * kPi / double(len));
        for (std::size_t i = 0; i < n; i += len) {
            std::complex<double> wn = 1;
            for (std::size_t k = 0; k < len / 2; ++k, wn *= w) {
                const auto u = a[i + k], v = a[i + k + len / 2] * wn;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
            }
        }
    }
}

std::vector<float> Mono(const Sound &s)
{
    std::vector<float> m(s[0].size());
    for (std::size_t i = 0; i < m.size(); ++i) {
        double v = 0;
        for (const auto &c : s)
            v += c[i];
        m[i] = static_cast<float>(v / double(s.size()));
    }
    return m;
}

// The decoded sound's delay against the source, by cross-correlation over +-8192 samples.
long Lag(const std::vector<float> &src, const std::vector<float> &dec)
{
    const std::size_t n = 1 << 19;
    std::vector<std::complex<double>> a(n), b(n);
    for (std::size_t i = 0; i < n / 2 && i < src.size(); ++i)
        a[i] = src[i];
    for (std::size_t i = 0; i < n / 2 && i < dec.size(); ++i)
        b[i] = dec[i];
    Fft(a);
    Fft(b);
    for (std::size_t i = 0; i < n; ++i)
        a[i] = std::conj(a[i]) * b[i];
    // inverse by conjugation
    for (auto &v : a)
        v = std::conj(v);
    Fft(a);
    long best = 0;
    double bestV = -1;
    for (long lag = -8192; lag <= 8192; ++lag) {
        const double v = a[static_cast<std::size_t>((lag + long(n)) % long(n))].real();
        if (v > bestV) {
            bestV = v;
            best = lag;
        }
    }
    return best;
}

// Long-term power spectra (Hann windows of 4096) of the source and the aligned decoded sound,
// and of their difference.
struct Spectra {
    std::vector<double> src, dec, diff;
};

Spectra Measure(const std::vector<float> &src, const std::vector<float> &dec, long lag)
{
    const std::size_t w = 4096;
    Spectra s{std::vector<double>(w / 2), std::vector<double>(w / 2), std::vector<double>(w / 2)};
    std::vector<std::complex<double>> a(w), b(w), d(w);
    for (std::size_t start = 0; start + w < src.size(); start += w / 2) {
        if (long(start) + lag < 0 || std::size_t(long(start) + lag) + w >= dec.size())
            continue;
        for (std::size_t i = 0; i < w; ++i) {
            const double win = 0.5 - 0.5 * std::cos(2 * kPi * double(i) / w);
            const double x = src[start + i];
            const double y = dec[static_cast<std::size_t>(long(start + i) + lag)];
            a[i] = x * win;
            b[i] = y * win;
            d[i] = (y - x) * win;
        }
        Fft(a);
        Fft(b);
        Fft(d);
        for (std::size_t k = 0; k < w / 2; ++k) {
            s.src[k] += std::norm(a[k]);
            s.dec[k] += std::norm(b[k]);
            s.diff[k] += std::norm(d[k]);
        }
    }
    return s;
}

int Compare(const std::string &srcPath, const std::string &decPath, int channels)
{
    const bool raw = srcPath.size() > 4 && srcPath.compare(srcPath.size() - 4, 4, ".f32") == 0;
    const Sound src = ReadRaw(srcPath, 2, raw ? 0 : 44);
    const Sound dec = ReadRaw(decPath, channels);
    const std::vector<float> s = Mono(src), d = Mono(dec);
    const long lag = Lag(s, d);
    const Spectra sp = Measure(s, d, lag);
    const double binHz = double(kRate) / 4096;
    // Bandwidth: the highest frequency where the decoded sound is within 20 dB of a source that
    // has something there, on spectra smoothed over 200 Hz.
    const std::size_t bins = sp.src.size();
    double peak = 0;
    for (double v : sp.src)
        peak = std::max(peak, v);
    auto smooth = [&](const std::vector<double> &v, std::size_t k) {
        double sum = 0;
        int count = 0;
        for (std::size_t j = k >= 8 ? k - 8 : 0; j <= k + 8 && j < bins; ++j, ++count)
            sum += v[j];
        return sum / count;
    };
    double bandwidth = 0;
    for (std::size_t k = bins - 1; k > 0; --k) {
        const double ss = smooth(sp.src, k), dd = smooth(sp.dec, k);
        if (ss > peak * 1e-7 && dd >= ss * 0.01) {
            bandwidth = double(k) * binHz;
            break;
        }
    }
    // Noise in the kept band: the difference's power against the source's, up to the bandwidth.
    double sig = 0, noise = 0;
    for (std::size_t k = 1; double(k) * binHz < bandwidth; ++k) {
        sig += sp.src[k];
        noise += sp.diff[k];
    }
    const double snr = noise > 0 ? 10 * std::log10(sig / noise) : 999;
    // Pre-echo: for each click (source onsets at 0.25 + 0.5 k s), the decoded power in the 20 ms
    // before it against the click's first 10 ms.
    double pre = 0, post = 0;
    for (double t = 0.25; t + 0.05 < double(s.size()) / kRate; t += 0.5) {
        const long at = long(t * kRate) + lag;
        for (long i = at - kRate / 50; i < at - kRate / 500; ++i)
            if (i >= 0 && std::size_t(i) < d.size())
                pre += double(d[std::size_t(i)]) * d[std::size_t(i)];
        for (long i = at; i < at + kRate / 100; ++i)
            if (i >= 0 && std::size_t(i) < d.size())
                post += double(d[std::size_t(i)]) * d[std::size_t(i)];
    }
    const double preEcho = post > 0 && pre > 0 ? 10 * std::log10(pre / post * 0.5) : -999;
    std::printf("%.0f %.1f %.1f %ld\n", bandwidth, snr, preEcho, lag);
    return 0;
}

int Speed(int flavour, double seconds)
{
    const auto f = corva::cook::FlavourByIndex(flavour);
    if (!f)
        return 2;
    const std::size_t n = static_cast<std::size_t>(seconds * f->sampleRate);
    Sound s(static_cast<std::size_t>(f->channels), std::vector<float>(n));
    const Sound m = Music(std::min<std::size_t>(n, 10 * kRate));
    for (int c = 0; c < f->channels; ++c)
        for (std::size_t i = 0; i < n; ++i)
            s[c][i] = m[c][i % m[c].size()];
    corva::cook::Encoder enc(*f);
    std::vector<const float *> planes;
    for (const auto &c : s)
        planes.push_back(c.data());
    const std::clock_t start = std::clock();
    const std::size_t step = 4096;
    for (std::size_t at = 0; at < n; at += step) {
        std::vector<const float *> p;
        for (const float *c : planes)
            p.push_back(c + at);
        enc.Push(p.data(), std::min(step, n - at));
        enc.TakeFrames();
    }
    enc.Finish();
    const double cpu = double(std::clock() - start) / CLOCKS_PER_SEC;
    std::printf("%.3f\n", cpu);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 4 && std::strcmp(argv[1], "make") == 0) {
        WriteWav(argv[3], Make(argv[2], 8 * kRate));
        return 0;
    }
    if (argc >= 5 && std::strcmp(argv[1], "compare") == 0)
        return Compare(argv[2], argv[3], std::atoi(argv[4]));
    if (argc >= 4 && std::strcmp(argv[1], "speed") == 0)
        return Speed(std::atoi(argv[2]), std::atof(argv[3]));
    std::fprintf(stderr, "usage: cook-measure make KIND OUT.wav | compare SRC.wav DEC.f32 CH | speed FLAVOUR SECONDS\n");
    return 2;
}
