// Writes the sample pair that scripts/run grades when it has nothing else
// to do: a short music-like reference (a few harmonic tones with attack and
// decay, two channels) and a degraded copy of it (low-pass filtered, with
// added noise and a coarser quantisation), both 48 kHz, 16-bit PCM.
//
//   velumar_make_samples OUTDIR      writes OUTDIR/reference.wav, OUTDIR/test.wav
//
// The output is the same on every run and platform: the noise comes from a
// fixed integer generator, not from <random> distributions.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kRate = 48000;
constexpr std::uint32_t kChannels = 2;
constexpr double kSeconds = 2.5;
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

bool WriteWave(const std::string &path, const std::vector<std::int16_t> &samples)
{
    const auto data_bytes = static_cast<std::uint32_t>(samples.size() * 2);
    std::vector<unsigned char> out;
    out.reserve(44 + data_bytes);
    out.insert(out.end(), {'R', 'I', 'F', 'F'});
    Put32(out, 36 + data_bytes);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Put32(out, 16);
    Put16(out, 1);  // PCM
    Put16(out, kChannels);
    Put32(out, kRate);
    Put32(out, kRate * kChannels * 2);
    Put16(out, kChannels * 2);
    Put16(out, 16);
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    Put32(out, data_bytes);
    for (std::int16_t s : samples) Put16(out, static_cast<std::uint16_t>(s));

    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    return std::fclose(f) == 0 && ok;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const auto frames = static_cast<std::uint32_t>(kSeconds * kRate);

    std::vector<double> left(frames, 0.0), right(frames, 0.0);
    for (const Note &n : kNotes) {
        const auto first = static_cast<std::uint32_t>(n.start * kRate);
        const auto count = static_cast<std::uint32_t>(n.length * kRate);
        for (std::uint32_t i = 0; i < count && first + i < frames; ++i) {
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

    std::vector<std::int16_t> reference(frames * kChannels), test(frames * kChannels);
    // Degradation: a two-pole low-pass near 8 kHz, low-level white noise and
    // a 13-bit quantisation: clearly audible, "slightly annoying".
    const double a = std::exp(-2.0 * kPi * 8000.0 / kRate);
    double l1 = 0, l2 = 0, r1 = 0, r2 = 0;
    for (std::uint32_t i = 0; i < frames; ++i) {
        reference[2 * i] = Clip(left[i]);
        reference[2 * i + 1] = Clip(right[i]);
        l1 = (1 - a) * left[i] + a * l1;
        l2 = (1 - a) * l1 + a * l2;
        r1 = (1 - a) * right[i] + a * r1;
        r2 = (1 - a) * r1 + a * r2;
        const double nl = l2 + 30.0 * Noise();
        const double nr = r2 + 30.0 * Noise();
        test[2 * i] = Clip(std::round(nl / 8.0) * 8.0);
        test[2 * i + 1] = Clip(std::round(nr / 8.0) * 8.0);
    }

    if (!WriteWave(dir + "/reference.wav", reference) || !WriteWave(dir + "/test.wav", test)) {
        std::fprintf(stderr, "cannot write the samples into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
