// Writes the sample pair that scripts/run grades when it has nothing else
// to do, both 48 kHz, 16-bit PCM, two channels:
//
// - the reference: a short music-like phrase of harmonic tones with attack
//   and decay, over noise-like percussion (hi-hat and snare hits) that fills
//   the spectrum up to about 18 kHz, with a short pause of digital silence;
// - the test: the same, band-limited to about 11 kHz by a steep low-pass,
//   with low-level noise (audible in the pause) and a 13-bit quantisation.
//
// So every model output variable has something to measure: the bandwidths
// see content above 8 kHz in the reference and its loss in the test, the
// noise loudness gets quiet frames, and the grade lands mid-scale.
//
//   velumar_make_samples OUTDIR [SECONDS]
//       writes OUTDIR/reference.wav and OUTDIR/test.wav; the 2.5-second
//       phrase repeats when SECONDS is longer (scripts/long-input).
//
// The files are written as they are computed, so any length up to the
// 4 GiB a WAV file can hold takes the same little memory.
//
// The output is the same on every run and platform: the noise comes from a
// fixed integer generator, not from <random> distributions.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kRate = 48000;
constexpr std::uint32_t kChannels = 2;
constexpr double kPhraseSeconds = 2.5;
constexpr double kPi = 3.14159265358979323846;

struct Note {
    double start;     // s
    double length;    // s
    double frequency; // Hz of the fundamental
    double pan;       // 0 = left .. 1 = right
};

// A small phrase over a sustained bass note.
const Note kNotes[] = {
    {0.00, 2.50, 110.00, 0.50}, {0.00, 0.60, 440.00, 0.30}, {0.50, 0.60, 554.37, 0.40},
    {1.00, 0.60, 659.25, 0.60}, {1.50, 0.90, 880.00, 0.70}, {1.50, 0.90, 329.63, 0.35},
};

// Percussion hits: noise bursts with an exponential decay.
struct Hit {
    double start;     // s
    double decay;     // s, time constant
    double level;     // peak amplitude
    double pan;       // 0 = left .. 1 = right
    bool snare;       // broadband body; otherwise high-passed (hi-hat)
};

constexpr double kHatLevel = 2500.0;
constexpr double kSnareLevel = 3500.0;
constexpr double kBandEdge = 11000.0;  // Hz, the test's band limit
constexpr double kNoiseLevel = 10.0;   // peak of the test's added noise

// Nothing sounds in [kPauseStart, kPauseEnd): quiet frames for the model.
constexpr double kPauseStart = 1.55;
constexpr double kPauseEnd = 1.95;

// A second-order section (RBJ cookbook), direct form I.
class Biquad {
public:
    static Biquad LowPass(double frequency, double q) { return Make(frequency, q, true); }
    static Biquad HighPass(double frequency, double q) { return Make(frequency, q, false); }

    double Step(double x)
    {
        const double y = b0_ * x + b1_ * x1_ + b2_ * x2_ - a1_ * y1_ - a2_ * y2_;
        x2_ = x1_;
        x1_ = x;
        y2_ = y1_;
        y1_ = y;
        return y;
    }

private:
    static Biquad Make(double frequency, double q, bool low)
    {
        const double w = 2.0 * kPi * frequency / kRate;
        const double alpha = std::sin(w) / (2.0 * q);
        const double c = std::cos(w);
        const double a0 = 1.0 + alpha;
        Biquad f;
        f.b1_ = (low ? 1.0 - c : -(1.0 + c)) / a0;
        f.b0_ = f.b2_ = (low ? (1.0 - c) / 2.0 : (1.0 + c) / 2.0) / a0;
        f.a1_ = -2.0 * c / a0;
        f.a2_ = (1.0 - alpha) / a0;
        return f;
    }
    double b0_ = 1, b1_ = 0, b2_ = 0, a1_ = 0, a2_ = 0;
    double x1_ = 0, x2_ = 0, y1_ = 0, y2_ = 0;
};

// A Butterworth low-pass of 2 × count(q) poles: one section per q.
class LowPass {
public:
    LowPass(double frequency, std::initializer_list<double> qs)
    {
        for (double q : qs) sections_.push_back(Biquad::LowPass(frequency, q));
    }
    double Step(double x)
    {
        for (Biquad &s : sections_) x = s.Step(x);
        return x;
    }

private:
    std::vector<Biquad> sections_;
};

std::uint32_t g_state = 0x2545F491u;
double Noise()  // uniform in [-1, 1)
{
    g_state ^= g_state << 13;
    g_state ^= g_state >> 17;
    g_state ^= g_state << 5;
    return static_cast<double>(g_state) / 2147483648.0 - 1.0;
}

std::int16_t Clip(double v)
{
    v = std::round(v);
    if (v > 32767.0) return 32767;
    if (v < -32768.0) return -32768;
    return static_cast<std::int16_t>(v);
}

void Put16(std::vector<unsigned char> &out, std::uint32_t v)
{
    out.push_back(static_cast<unsigned char>(v & 0xFF));
    out.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
}

void Put32(std::vector<unsigned char> &out, std::uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// A WAV file written block by block; the header is complete from the start.
class WaveWriter {
public:
    WaveWriter(const std::string &path, std::uint32_t frames) : file_(std::fopen(path.c_str(), "wb"))
    {
        const std::uint32_t data_bytes = frames * kChannels * 2;
        std::vector<unsigned char> header;
        header.insert(header.end(), {'R', 'I', 'F', 'F'});
        Put32(header, 36 + data_bytes);
        header.insert(header.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
        Put32(header, 16);
        Put16(header, 1);  // PCM
        Put16(header, kChannels);
        Put32(header, kRate);
        Put32(header, kRate * kChannels * 2);
        Put16(header, kChannels * 2);
        Put16(header, 16);
        header.insert(header.end(), {'d', 'a', 't', 'a'});
        Put32(header, data_bytes);
        Write(header);
    }
    ~WaveWriter()
    {
        if (file_ != nullptr) std::fclose(file_);
    }

    void Samples(const std::vector<std::int16_t> &samples)
    {
        std::vector<unsigned char> bytes;
        bytes.reserve(samples.size() * 2);
        for (std::int16_t s : samples) Put16(bytes, static_cast<std::uint16_t>(s));
        Write(bytes);
    }
    bool Close()
    {
        const bool closed = file_ != nullptr && std::fclose(file_) == 0;
        file_ = nullptr;
        return ok_ && closed;
    }

private:
    void Write(const std::vector<unsigned char> &bytes)
    {
        ok_ = ok_ && file_ != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
    }
    std::FILE *file_;
    bool ok_ = true;
};

} // namespace

int main(int argc, char **argv)
{
    const double seconds = argc == 3 ? std::atof(argv[2]) : kPhraseSeconds;
    // At most what the 32-bit size fields of a WAV file can describe.
    if ((argc != 2 && argc != 3) || !(seconds > 0.0) || seconds * kRate * kChannels * 2 > 4.0e9) {
        std::fprintf(stderr, "usage: %s OUTDIR [SECONDS]  (SECONDS up to about 20000)\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const auto phrase = static_cast<std::uint32_t>(kPhraseSeconds * kRate);
    const auto frames = static_cast<std::uint32_t>(seconds * kRate);

    std::vector<double> left(phrase, 0.0), right(phrase, 0.0);
    for (const Note &n : kNotes) {
        const auto first = static_cast<std::uint32_t>(n.start * kRate);
        const auto count = static_cast<std::uint32_t>(n.length * kRate);
        for (std::uint32_t i = 0; i < count && first + i < phrase; ++i) {
            const double t = static_cast<double>(i) / kRate;
            // 10 ms attack, exponential decay, 20 ms release at the end.
            double env = std::min(1.0, t / 0.010) * std::exp(-1.8 * t);
            const double left_time = n.length - t;
            if (left_time < 0.020) env *= left_time / 0.020;
            double v = 0.0;
            for (int h = 1; h <= 6; ++h)
                v += std::sin(2.0 * kPi * n.frequency * h * t) / (h * h * 0.7 + 0.3);
            v *= env * 4200.0;
            left[first + i] += v * (1.0 - n.pan);
            right[first + i] += v * n.pan;
        }
    }

    // Percussion: a hi-hat on every eighth note, a snare on beats 2 and 4
    // (120 beats per minute), both limited to about 18 kHz like a recording.
    std::vector<Hit> hits;
    for (int k = 0; k < 20; ++k) hits.push_back({k * 0.125, 0.018, kHatLevel, 0.65, false});
    for (double start : {0.5, 1.5, 2.0}) hits.push_back({start, 0.045, kSnareLevel, 0.45, true});
    std::vector<double> drums_left(phrase, 0.0), drums_right(phrase, 0.0);
    for (const Hit &h : hits) {
        Biquad high = Biquad::HighPass(6000.0, 0.7071);
        const auto first = static_cast<std::uint32_t>(h.start * kRate);
        for (std::uint32_t i = 0; first + i < phrase; ++i) {
            const double t = static_cast<double>(i) / kRate;
            const double env = std::exp(-t / h.decay);
            if (env < 1e-4) break;
            double v = Noise();
            if (!h.snare) v = high.Step(v);
            v *= h.level * env;
            drums_left[first + i] += v * (1.0 - h.pan);
            drums_right[first + i] += v * h.pan;
        }
    }
    LowPass air_left(17000.0, {0.5098, 0.6013, 0.8999, 2.5629}), air_right(17000.0, {0.5098, 0.6013, 0.8999, 2.5629});
    for (std::uint32_t i = 0; i < phrase; ++i) {
        left[i] += air_left.Step(drums_left[i]);
        right[i] += air_right.Step(drums_right[i]);
    }

    // The pause, with 5 ms fades so that it does not click.
    for (std::uint32_t i = 0; i < phrase; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double gain = std::clamp(std::max((kPauseStart - t) / 0.005, (t - kPauseEnd) / 0.005), 0.0, 1.0);
        left[i] *= gain;
        right[i] *= gain;
    }

    WaveWriter reference_file(dir + "/reference.wav", frames);
    WaveWriter test_file(dir + "/test.wav", frames);
    constexpr std::uint32_t kBlock = 65536;
    std::vector<std::int16_t> reference, test;
    reference.reserve(kBlock * kChannels);
    test.reserve(kBlock * kChannels);
    // Degradation: low-level noise, then an eighth-order low-pass at the
    // band edge (a codec's band limit: the noise is limited too), then a
    // 13-bit quantisation.
    const std::initializer_list<double> kButterworth8 = {0.5098, 0.6013, 0.8999, 2.5629};
    LowPass band_left(kBandEdge, kButterworth8), band_right(kBandEdge, kButterworth8);
    for (std::uint32_t i = 0; i < frames; ++i) {
        const double l = left[i % phrase];
        const double r = right[i % phrase];
        reference.push_back(Clip(l));
        reference.push_back(Clip(r));
        const double nl = band_left.Step(l + kNoiseLevel * Noise());
        const double nr = band_right.Step(r + kNoiseLevel * Noise());
        test.push_back(Clip(std::round(nl / 8.0) * 8.0));
        test.push_back(Clip(std::round(nr / 8.0) * 8.0));
        if (reference.size() == kBlock * kChannels || i + 1 == frames) {
            reference_file.Samples(reference);
            test_file.Samples(test);
            reference.clear();
            test.clear();
        }
    }

    if (!reference_file.Close() || !test_file.Close()) {
        std::fprintf(stderr, "cannot write the samples into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
