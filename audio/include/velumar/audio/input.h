// Any audio file as the model takes it: interleaved 16-bit values at 48 kHz.
//
// A 48 kHz 16-bit PCM WAV file that CWaveFile reads correctly is used in
// place, from the mapping, with nothing copied or changed. Every other file
// that libsndfile can read (WAV of any depth, float or extensible form,
// RF64, W64, FLAC, AIFF, Ogg Vorbis, Opus, MP3, ...) is decoded as floating
// point, resampled to 48 kHz with libsoxr when it has another rate,
// multiplied by 32768, rounded to nearest and clipped to 16 bits. Decoding
// runs block by block on a thread of its own, ahead of the reader by a
// bounded number of blocks, so memory stays bounded whatever the length.
//
// Faults are reported as InputError carrying a Russian message that names
// the file, the parameter and the values concerned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>

class CWaveFile;

namespace velumar::audio {

constexpr std::uint32_t kModelRate = 48000;
constexpr std::uint32_t kMinInputRate = 8000;
constexpr std::uint32_t kMaxInputRate = 384000;

// What a file holds and what was done to it on the way to the model.
struct InputInfo {
    std::string path;                      // as given
    std::string format;                    // libsndfile's major-format name: "WAV", "FLAC", "OGG", "MPEG", ...
    std::string subtype;                   // and its subtype name: "PCM_16", "PCM_24", "FLOAT", "VORBIS", ...
    std::uint32_t sample_rate = 0;         // of the file, Hz
    std::uint32_t bits = 0;                // stored word length; 0 for lossy codings
    std::uint32_t channels = 0;
    std::uint64_t samples_per_channel = 0; // at the file's own rate
    bool converted = false;                // the values the model sees differ from the stored ones
    // Values beyond full scale (|x| > 1 after resampling) that were clipped,
    // counted over the values delivered so far.
    std::uint64_t clipped_samples = 0;
};

class InputError : public std::runtime_error {
public:
    explicit InputError(std::string message) : std::runtime_error(message), message_(std::move(message)) {}
    // The whole message: a path may hold any bytes, NUL included, which
    // what() would cut short.
    const std::string &message() const { return message_; }

private:
    std::string message_;
};

// The number of sample frames at 48 kHz that `frames` frames at `rate` become:
// frames × 48000 / rate rounded to nearest, halves up.
std::uint64_t ConvertedLength(std::uint64_t frames, std::uint32_t rate);

// The record of a WAV file that the model takes as it is.
InputInfo DescribeWave(const CWaveFile &file);

// A signal as the model takes it.
class SampleSource {
public:
    virtual ~SampleSource() = default;

    // The next values, interleaved, at most `count`; fewer only at the end
    // of the signal, none after it. The values stay valid until the next
    // call. Throws InputError when the file cannot be read any further
    // (what was delivered before stays valid).
    virtual std::span<const std::int16_t> Next(std::size_t count) = 0;

    // The first `count` values of the signal (fewer when it is shorter)
    // without consuming them: Next() still starts at the first value. Only
    // before the first Next(); a decoded file keeps them in memory until
    // they have been read. Throws InputError like Next().
    virtual std::span<const std::int16_t> Lead(std::size_t count) = 0;

    // Throws when whatever was read so far is void because the file changed
    // under the reader (the mapped case; decoded files are read, not mapped).
    // `final` adds the checks too costly for every step.
    virtual void CheckIntact(bool final) const = 0;

    // True when the signal is the mapped file itself: Lead() of every value
    // then costs nothing and stays valid for the life of the source.
    virtual bool native() const { return false; }
    // The values before `position` will not be read again for now: a mapped
    // file lets their pages go (they stay readable, fetched again if read).
    virtual void Passed(std::uint64_t /*position*/) const {}

    // 16-bit values at 48 kHz, all channels, known before reading.
    std::uint64_t total_values() const { return total_values_; }
    std::uint32_t channels() const { return info_.channels; }
    const std::string &path() const { return info_.path; }
    // The record of the file; clipped_samples grows while it is read.
    InputInfo info() const;

protected:
    InputInfo info_;
    std::uint64_t total_values_ = 0;
    virtual std::uint64_t clipped_so_far() const { return 0; }
};

enum class InputMode {
    Any,     // every readable format, converted when needed
    Strict,  // only what the model takes natively, with the input-files page's checks and messages
};

// Opens `path` for grading. Throws InputError; in Strict mode the messages
// are those of the wizard's input-files page for one file.
std::unique_ptr<SampleSource> OpenInput(const std::string &path, InputMode mode = InputMode::Any);

// True when the scan for "data" of CWaveFile (first occurrence from offset
// 36) would stop inside another chunk of `path` that a walk over the
// chunk headers sees, before the real data chunk. False when the walk finds
// no data chunk at all (the scan's rule then stands) or the file cannot be
// read.
bool DataScanMisled(const std::string &path);

} // namespace velumar::audio
