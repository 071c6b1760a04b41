#include "test_wav.h"

#include <atomic>
#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <unistd.h>

namespace velumar::testing {
namespace {

void Put16(Bytes &out, std::uint32_t v)
{
    out.push_back(static_cast<unsigned char>(v & 0xFF));
    out.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
}

void Put32(Bytes &out, std::uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

void PutTag(Bytes &out, std::string_view tag)
{
    for (std::size_t i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(i < tag.size() ? tag[i] : ' '));
}

std::uint32_t Next(std::uint32_t &state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

} // namespace

Bytes SampleBytes(const std::vector<std::int16_t> &samples)
{
    Bytes out;
    out.reserve(samples.size() * 2);
    for (std::int16_t s : samples) Put16(out, static_cast<std::uint16_t>(s));
    return out;
}

Bytes WavFile(const WavSpec &spec, const Bytes &data)
{
    Bytes body;
    PutTag(body, "WAVE");
    PutTag(body, "fmt ");
    Put32(body, spec.fmt_size);
    Put16(body, spec.format_tag);
    Put16(body, spec.channels);
    Put32(body, spec.rate);
    const std::uint32_t align = spec.channels * ((spec.bits + 7u) / 8u);
    Put32(body, spec.rate * align);
    Put16(body, align);
    Put16(body, spec.bits);
    for (std::uint32_t i = 16; i < spec.fmt_size; ++i) body.push_back(0);
    for (const auto &[id, content] : spec.extra_chunks) {
        PutTag(body, id);
        Put32(body, static_cast<std::uint32_t>(content.size()));
        body.insert(body.end(), content.begin(), content.end());
    }
    PutTag(body, "data");
    Put32(body, spec.override_data_size ? spec.data_size : static_cast<std::uint32_t>(data.size()));
    body.insert(body.end(), data.begin(), data.end());

    Bytes out;
    PutTag(out, "RIFF");
    Put32(out, static_cast<std::uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes WavFile(const WavSpec &spec, const std::vector<std::int16_t> &samples)
{
    return WavFile(spec, SampleBytes(samples));
}

TempDir::TempDir()
{
    static std::atomic<unsigned> counter{0};
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = base / ("velumar-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        if (std::filesystem::create_directory(candidate)) {
            path_ = std::move(candidate);
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary directory");
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void WriteBytes(const std::filesystem::path &path, const Bytes &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string Slurp(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

std::vector<std::string> Split(const std::string &line, char sep)
{
    std::vector<std::string> out(1);
    for (char c : line) {
        if (c == sep) out.emplace_back();
        else out.back() += c;
    }
    return out;
}

std::string TempDir::Write(std::string_view name, const Bytes &bytes) const
{
    const auto file = path_ / std::string(name);
    WriteBytes(file, bytes);
    return file.string();
}

std::string TempDir::Write(std::string_view name, std::string_view text) const
{
    return Write(name, Bytes(text.begin(), text.end()));
}

std::vector<std::int16_t> MusicSignal(std::uint32_t frames, std::uint16_t channels, std::uint32_t seed)
{
    constexpr double kPi = 3.14159265358979323846;
    const double base = 220.0 * (1.0 + 0.05 * (seed % 7));
    std::vector<std::int16_t> out(static_cast<std::size_t>(frames) * channels);
    for (std::uint32_t i = 0; i < frames; ++i) {
        const double t = i / 48000.0;
        const double phrase = std::fmod(t, 0.5);
        const double env = std::min(1.0, phrase / 0.01) * std::exp(-3.0 * phrase);
        for (std::uint16_t c = 0; c < channels; ++c) {
            double v = 0.0;
            for (int h = 1; h <= 5; ++h) v += std::sin(2.0 * kPi * base * (c + 1) * h * t) / h;
            out[static_cast<std::size_t>(i) * channels + c] = static_cast<std::int16_t>(std::lround(v * env * 6000.0));
        }
    }
    return out;
}

std::vector<std::int16_t> AddNoise(const std::vector<std::int16_t> &samples, double amplitude, std::uint32_t seed)
{
    std::uint32_t state = seed * 2654435761u + 1u;
    std::vector<std::int16_t> out(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double noise = (static_cast<double>(Next(state)) / 2147483648.0 - 1.0) * amplitude;
        const double v = std::round(samples[i] + noise);
        out[i] = static_cast<std::int16_t>(std::clamp(v, -32768.0, 32767.0));
    }
    return out;
}

std::vector<std::int16_t> Scaled(const std::vector<std::int16_t> &samples, double gain)
{
    std::vector<std::int16_t> out(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i)
        out[i] = static_cast<std::int16_t>(std::clamp(std::round(samples[i] * gain), -32768.0, 32767.0));
    return out;
}

} // namespace velumar::testing
