#include "golden_signals.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace velumar::golden {
namespace {

constexpr double kPi = 3.141592653589793;

// Modified Bessel function of the first kind, order 0, by its power series.
double bessel_i0(double x)
{
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; k < 200 && term > 1e-21 * sum; ++k) {
        const double f = x / (2.0 * k);
        term *= f * f;
        sum += term;
    }
    return sum;
}

double peak_of(const Wave &w)
{
    double p = 0.0;
    for (double v : w) p = std::max(p, std::fabs(v));
    return p;
}

std::int16_t to_pcm(double v)
{
    const double r = std::floor(v + 0.5);
    return static_cast<std::int16_t>(std::clamp(r, -32768.0, 32767.0));
}

} // namespace

std::uint64_t Rng::next()
{
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double Rng::uniform() { return static_cast<double>(next() >> 11) * (2.0 / 9007199254740992.0) - 1.0; }

Wave music(std::size_t samples, std::uint64_t seed, double peak)
{
    Wave w(samples, 0.0);
    Rng rng(seed);
    constexpr std::size_t kSegment = 12000;  // a new chord every quarter second
    constexpr double kRamp = 480.0;          // 10 ms fade in and out
    for (std::size_t start = 0; start < samples; start += kSegment) {
        const std::size_t len = std::min(kSegment, samples - start);
        std::vector<double> env(len);
        for (std::size_t i = 0; i < len; ++i) {
            const double t = static_cast<double>(i);
            env[i] = std::min({1.0, t / kRamp, static_cast<double>(len - i) / kRamp}) *
                     std::exp(-2.0 * t / static_cast<double>(len));
        }
        for (int note = 0; note < 2; ++note) {
            const double f0 = 110.0 * std::pow(2.0, rng.below(36) / 12.0);
            const double level = note == 0 ? 1.0 : 0.6;
            for (int h = 1; h * f0 < 16000.0; ++h) {
                // A rotating phasor instead of a sine per sample.
                const double step = 2.0 * kPi * h * f0 / kSampleRate;
                const double c = std::cos(step), s = std::sin(step);
                const double phase = kPi * (rng.uniform() + 1.0);
                double re = std::cos(phase), im = std::sin(phase);
                const double amp = level / h;
                for (std::size_t i = 0; i < len; ++i) {
                    w[start + i] += amp * env[i] * im;
                    const double next_re = re * c - im * s;
                    im = re * s + im * c;
                    re = next_re;
                }
            }
        }
    }
    const double floor_rms = rms(w) * 0.005;  // about 46 dB down, up to half the sampling rate
    const Wave mixed = add(w, white_noise(samples, seed ^ 0xA5A5A5A5ull, floor_rms));
    return gain(mixed, peak / peak_of(mixed));
}

Wave white_noise(std::size_t samples, std::uint64_t seed, double rms_value)
{
    Rng rng(seed);
    const double scale = rms_value * std::sqrt(3.0);  // uniform [-1, 1) has RMS 1/sqrt(3)
    Wave w(samples);
    for (double &v : w) v = scale * rng.uniform();
    return w;
}

Wave tone(std::size_t samples, double frequency, double amplitude)
{
    Wave w(samples);
    for (std::size_t i = 0; i < samples; ++i)
        w[i] = amplitude * std::sin(2.0 * kPi * frequency * static_cast<double>(i) / kSampleRate);
    return w;
}

Wave silence(std::size_t samples) { return Wave(samples, 0.0); }

Wave concat(const Wave &a, const Wave &b)
{
    Wave w(a);
    w.insert(w.end(), b.begin(), b.end());
    return w;
}

double rms(const Wave &w)
{
    double sum = 0.0;
    for (double v : w) sum += v * v;
    return w.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(w.size()));
}

Wave add(const Wave &a, const Wave &b)
{
    Wave w(a);
    for (std::size_t i = 0; i < w.size(); ++i) w[i] += b[i];
    return w;
}

Wave add_noise(const Wave &x, double snr_db, std::uint64_t seed)
{
    return add(x, white_noise(x.size(), seed, rms(x) * std::pow(10.0, -snr_db / 20.0)));
}

Wave low_pass(const Wave &x, double cutoff_hz)
{
    constexpr int kTaps = 1023;
    constexpr int kDelay = kTaps / 2;
    constexpr double kBeta = 10.0;
    const double fc = cutoff_hz / kSampleRate;
    std::vector<double> h(kTaps);
    for (int n = 0; n < kTaps; ++n) {
        const double m = n - kDelay;
        const double sinc = m == 0 ? 2.0 * fc : std::sin(2.0 * kPi * fc * m) / (kPi * m);
        const double r = 2.0 * n / (kTaps - 1) - 1.0;
        h[n] = sinc * bessel_i0(kBeta * std::sqrt(1.0 - r * r)) / bessel_i0(kBeta);
    }
    const auto len = static_cast<std::ptrdiff_t>(x.size());
    Wave y(x.size(), 0.0);
    for (std::ptrdiff_t i = 0; i < len; ++i) {
        double acc = 0.0;
        for (int j = 0; j < kTaps; ++j) {
            const std::ptrdiff_t k = i + kDelay - j;
            if (k >= 0 && k < len) acc += h[j] * x[k];
        }
        y[i] = acc;
    }
    return y;
}

Wave gain(const Wave &x, double factor)
{
    Wave w(x);
    for (double &v : w) v *= factor;
    return w;
}

Wave requantise(const Wave &x, double step)
{
    Wave w(x);
    for (double &v : w) v = step * std::floor(v / step + 0.5);
    return w;
}

std::vector<std::int16_t> pcm(const Wave &ch1)
{
    std::vector<std::int16_t> out(ch1.size());
    std::transform(ch1.begin(), ch1.end(), out.begin(), to_pcm);
    return out;
}

std::vector<std::int16_t> pcm(const Wave &ch1, const Wave &ch2)
{
    std::vector<std::int16_t> out(2 * ch1.size());
    for (std::size_t i = 0; i < ch1.size(); ++i) {
        out[2 * i] = to_pcm(ch1[i]);
        out[2 * i + 1] = to_pcm(ch2[i]);
    }
    return out;
}

std::vector<Signal> golden_signals()
{
    constexpr std::size_t kLength = 60000;              // 1.25 s, 57 frames
    constexpr std::size_t kFrames22 = 2048 + 21 * 1024;  // exactly 22 frames
    constexpr std::size_t kFrames23 = kFrames22 + 1024;
    const Wave m = music(kLength, 1, 16000.0);
    const Wave left = music(kLength, 2, 14000.0);
    const Wave right = music(kLength, 3, 12000.0);
    const Wave tone_after_silence = concat(silence(24000), tone(kLength - 24000, 1000.0, 8000.0));
    const Wave short_music = music(kFrames23, 5, 16000.0);
    const Wave quiet_passage = concat(music(kLength / 2, 7, 16000.0), music(kLength / 2, 8, 10.0));
    const Wave m22(short_music.begin(), short_music.begin() + kFrames22);

    std::vector<Signal> set;
    set.push_back({"mono_identical", 1, pcm(m), pcm(m)});
    set.push_back({"mono_noise_40db", 1, pcm(m), pcm(add_noise(m, 40.0, 11))});
    set.push_back({"mono_noise_30db", 1, pcm(m), pcm(add_noise(m, 30.0, 12))});
    set.push_back({"mono_noise_20db", 1, pcm(m), pcm(add_noise(m, 20.0, 13))});
    set.push_back({"mono_lowpass_10k", 1, pcm(m), pcm(low_pass(m, 10000.0))});
    set.push_back({"mono_gain_minus3db", 1, pcm(m), pcm(gain(m, 0.7079457843841379))});
    set.push_back({"mono_silence_then_tone", 1, pcm(tone_after_silence), pcm(requantise(tone_after_silence, 512.0))});
    // Quiet frames are the only ones whose noise loudness is averaged.
    set.push_back({"mono_quiet_passage_noise", 1, pcm(quiet_passage), pcm(add(quiet_passage, white_noise(kLength, 41, 4.0)))});
    set.push_back({"stereo_noise_25_35db", 2, pcm(left, right), pcm(add_noise(left, 25.0, 21), add_noise(right, 35.0, 22))});
    set.push_back({"stereo_gain_and_lowpass", 2, pcm(left, right), pcm(gain(left, 0.9), low_pass(right, 12000.0))});
    set.push_back({"mono_frames_22", 1, pcm(m22), pcm(add_noise(m22, 30.0, 31))});
    set.push_back({"mono_frames_23", 1, pcm(short_music), pcm(add_noise(short_music, 30.0, 31))});
    return set;
}

Measurement measure(const Signal &signal, const std::vector<std::uint32_t> &blocks)
{
    M_SETTINGS settings{};
    settings.version = 0;
    settings.listening_level_db = 92.0;
    settings.sample_rate = 48000;
    settings.channel_mode = signal.channels == 2 ? 1 : 0;
    Measurement m{};
    M_HANDLE h = create_method(&settings);
    if (h == nullptr) {
        m.method_code = -1;
        return m;
    }
    const std::size_t total = signal.reference.size();
    std::size_t at = 0;
    for (std::size_t i = 0; at < total && m.method_code == 0; ++i) {
        const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(blocks[i % blocks.size()], total - at));
        const M_BUFFER ref{signal.reference.data() + at, count};
        const M_BUFFER test{signal.test.data() + at, count};
        m.method_code = method(h, &ref, &test);
        at += count;
    }
    m.results_code = get_model_results(h, &m.results);
    destroy_method(h);
    return m;
}

Measurement measure(const Signal &signal, std::uint32_t block)
{
    return measure(signal, std::vector<std::uint32_t>{block});
}

namespace {

void write_values(std::FILE *out, const char *key, const double *values, int n)
{
    std::fputs(key, out);
    for (int i = 0; i < n; ++i) std::fprintf(out, " %.17g", values[i]);
    std::fputc('\n', out);
}

bool read_values(std::istream &in, const char *key, double *values, int n)
{
    std::string word;
    if (!(in >> word) || word != key) return false;
    for (int i = 0; i < n; ++i) {
        if (!(in >> word)) return false;
        char *end = nullptr;
        values[i] = std::strtod(word.c_str(), &end);
        if (end == word.c_str() || *end != '\0') return false;
    }
    return true;
}

} // namespace

void write_record(std::FILE *out, const std::string &name, const M_RESULTS &r)
{
    std::fprintf(out, "signal %s\nframes %u\nchannels %u\n", name.c_str(), r.frames, r.channels);
    write_values(out, "odg", &r.odg, 1);
    write_values(out, "di", &r.di, 1);
    write_values(out, "movs", r.movs, M_MOV_COUNT);
    write_values(out, "ch1", r.channel_movs[0], M_MOV_COUNT);
    write_values(out, "ch2", r.channel_movs[1], M_MOV_COUNT);
}

bool read_golden(const std::string &path, std::vector<GoldenRecord> &records)
{
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    while (in.peek() == '#') std::getline(in, line);
    std::string word;
    while (in >> word) {
        GoldenRecord rec{};
        std::string key;
        if (word != "signal" || !(in >> rec.name)) return false;
        if (!(in >> key >> rec.results.frames) || key != "frames") return false;
        if (!(in >> key >> rec.results.channels) || key != "channels") return false;
        if (!read_values(in, "odg", &rec.results.odg, 1) || !read_values(in, "di", &rec.results.di, 1) ||
            !read_values(in, "movs", rec.results.movs, M_MOV_COUNT) ||
            !read_values(in, "ch1", rec.results.channel_movs[0], M_MOV_COUNT) ||
            !read_values(in, "ch2", rec.results.channel_movs[1], M_MOV_COUNT))
            return false;
        records.push_back(rec);
    }
    return in.eof();
}

} // namespace velumar::golden
