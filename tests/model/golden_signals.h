// Deterministic test signals synthesised in code, and running them through
// the model. Shared by the golden-output generator and the tests, so both
// always measure exactly the same samples.
#pragma once

#include <velumar/model.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace velumar::golden {

constexpr double kSampleRate = 48000.0;

// splitmix64: a fixed-seed generator whose output depends on nothing but
// the seed (no standard-library distributions involved).
class Rng {
public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next();
    double uniform();  // [-1, 1)
    std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(next() % n); }

private:
    std::uint64_t state_;
};

using Wave = std::vector<double>;  // one channel, in 16-bit sample units

// Harmonic notes changing every quarter second over a faint broadband
// floor; the peak is scaled to `peak`.
Wave music(std::size_t samples, std::uint64_t seed, double peak);
Wave white_noise(std::size_t samples, std::uint64_t seed, double rms);
Wave tone(std::size_t samples, double frequency, double amplitude);
Wave silence(std::size_t samples);
Wave concat(const Wave &a, const Wave &b);
double rms(const Wave &w);
Wave add(const Wave &a, const Wave &b);  // sample by sample, a.size() samples
// x plus white noise whose RMS lies snr_db below that of x.
Wave add_noise(const Wave &x, double snr_db, std::uint64_t seed);
// Linear-phase windowed-sinc low-pass (Kaiser window, about 100 dB
// stopband) with its delay compensated.
Wave low_pass(const Wave &x, double cutoff_hz);
Wave gain(const Wave &x, double factor);
// Rounds onto a grid of `step` sample units (a coarser quantiser).
Wave requantise(const Wave &x, double step);

// Interleaves one or two channels into rounded, clipped 16-bit values.
std::vector<std::int16_t> pcm(const Wave &ch1);
std::vector<std::int16_t> pcm(const Wave &ch1, const Wave &ch2);

struct Signal {
    std::string name;
    int channels;
    std::vector<std::int16_t> reference;
    std::vector<std::int16_t> test;
};

// The golden set, in file order.
std::vector<Signal> golden_signals();

struct Measurement {
    std::int32_t method_code;   // first non-zero code of method(), else 0
    std::int32_t results_code;  // of get_model_results
    M_RESULTS results;
};

// Feeds both signals in blocks of `block` values (the last one shorter), or
// cycling through `blocks` when given, and reads the results.
Measurement measure(const Signal &signal, std::uint32_t block);
Measurement measure(const Signal &signal, const std::vector<std::uint32_t> &blocks);

// The block size the golden outputs are recorded with.
constexpr std::uint32_t kGoldenBlock = 4096;

// One record of the golden file.
struct GoldenRecord {
    std::string name;
    M_RESULTS results;
};

void write_record(std::FILE *out, const std::string &name, const M_RESULTS &results);
// Reads every record of a golden file; false when it cannot be read or is
// malformed.
bool read_golden(const std::string &path, std::vector<GoldenRecord> &records);

} // namespace velumar::golden
