// Test helpers shared by the audio, runner, CLI, report and wizard tests: WAV
// files built byte by byte (including broken ones), a temporary directory that
// cleans up after itself, deterministic test signals, and reading back what a
// writer produced.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velumar::testing {

using Bytes = std::vector<unsigned char>;

struct WavSpec {
    std::uint16_t format_tag = 1;  // PCM
    std::uint16_t channels = 1;
    std::uint32_t rate = 48000;
    std::uint16_t bits = 16;
    std::uint32_t fmt_size = 16;   // > 16 appends zero bytes to the format chunk
    // Chunks written between the format and the data chunk: id (4 chars)
    // and content.
    std::vector<std::pair<std::string, std::string>> extra_chunks;
    // When set, the data chunk's size field says this instead of the truth.
    bool override_data_size = false;
    std::uint32_t data_size = 0;
};

// A complete file: RIFF/WAVE header, format chunk, extra chunks, data chunk
// holding `data` as it is.
Bytes WavFile(const WavSpec &spec, const Bytes &data);
// The same with 16-bit samples as data.
Bytes WavFile(const WavSpec &spec, const std::vector<std::int16_t> &samples);

// Little-endian encoding of 16-bit samples.
Bytes SampleBytes(const std::vector<std::int16_t> &samples);

// Writes `bytes` to `path`, replacing it; throws when that fails.
void WriteBytes(const std::filesystem::path &path, const Bytes &bytes);
// The whole content of a file; empty when it cannot be read.
std::string Slurp(const std::filesystem::path &path);
// The lines of a text, and the fields of a delimited line with empty fields
// kept (they carry meaning in the per-frame CSV).
std::vector<std::string> Lines(const std::string &text);
std::vector<std::string> Split(const std::string &line, char sep);

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::filesystem::path &path() const { return path_; }
    // Writes `bytes` to a file named `name` inside the directory and
    // returns its full path.
    std::string Write(std::string_view name, const Bytes &bytes) const;
    std::string Write(std::string_view name, std::string_view text) const;

private:
    std::filesystem::path path_;
};

// `frames` sample frames of a music-like signal (a few harmonic tones with
// an envelope), interleaved when channels is 2. Deterministic.
std::vector<std::int16_t> MusicSignal(std::uint32_t frames, std::uint16_t channels, std::uint32_t seed = 1);
// A copy of `samples` with deterministic white noise of the given peak
// amplitude added.
std::vector<std::int16_t> AddNoise(const std::vector<std::int16_t> &samples, double amplitude,
                                   std::uint32_t seed = 7);
// A copy of `samples` times `gain`, rounded to nearest and clipped to 16 bits.
std::vector<std::int16_t> Scaled(const std::vector<std::int16_t> &samples, double gain);

} // namespace velumar::testing
