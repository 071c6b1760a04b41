#include <velumar/audio/input.h>

#include <velumar/audio/wave_file.h>
#include <velumar/text/texts.h>

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

namespace velumar::audio {

namespace t = velumar::text;

std::uint64_t ConvertedLength(std::uint64_t frames, std::uint32_t rate)
{
    if (rate == kModelRate || rate == 0) return frames;
    // floor(frames × 48000 / rate + 1/2) in integers; frames below 2^40
    // (over 250 days at 48 kHz) keep the product inside 64 bits.
    return (frames * 2 * kModelRate + rate) / (2 * static_cast<std::uint64_t>(rate));
}

InputInfo SampleSource::info() const
{
    InputInfo copy = info_;
    copy.clipped_samples = clipped_so_far();
    return copy;
}

namespace {

// ---------------------------------------------------------------------------
// Names and word lengths of libsndfile's formats, as its constants spell them.

struct FormatName {
    int code;
    const char *name;
};

constexpr std::array kMajorNames = std::to_array<FormatName>({
    {SF_FORMAT_WAV, "WAV"},     {SF_FORMAT_AIFF, "AIFF"}, {SF_FORMAT_AU, "AU"},       {SF_FORMAT_RAW, "RAW"},
    {SF_FORMAT_PAF, "PAF"},     {SF_FORMAT_SVX, "SVX"},   {SF_FORMAT_NIST, "NIST"},   {SF_FORMAT_VOC, "VOC"},
    {SF_FORMAT_IRCAM, "IRCAM"}, {SF_FORMAT_W64, "W64"},   {SF_FORMAT_MAT4, "MAT4"},   {SF_FORMAT_MAT5, "MAT5"},
    {SF_FORMAT_PVF, "PVF"},     {SF_FORMAT_XI, "XI"},     {SF_FORMAT_HTK, "HTK"},     {SF_FORMAT_SDS, "SDS"},
    {SF_FORMAT_AVR, "AVR"},     {SF_FORMAT_WAVEX, "WAVEX"}, {SF_FORMAT_SD2, "SD2"},   {SF_FORMAT_FLAC, "FLAC"},
    {SF_FORMAT_CAF, "CAF"},     {SF_FORMAT_WVE, "WVE"},   {SF_FORMAT_OGG, "OGG"},     {SF_FORMAT_MPC2K, "MPC2K"},
    {SF_FORMAT_RF64, "RF64"},   {SF_FORMAT_MPEG, "MPEG"},
});

struct SubtypeName {
    int code;
    const char *name;
    std::uint32_t bits;  // 0: a lossy coding with no word length
};

constexpr std::array kSubtypeNames = std::to_array<SubtypeName>({
    {SF_FORMAT_PCM_S8, "PCM_S8", 8},
    {SF_FORMAT_PCM_16, "PCM_16", 16},
    {SF_FORMAT_PCM_24, "PCM_24", 24},
    {SF_FORMAT_PCM_32, "PCM_32", 32},
    {SF_FORMAT_PCM_U8, "PCM_U8", 8},
    {SF_FORMAT_FLOAT, "FLOAT", 32},
    {SF_FORMAT_DOUBLE, "DOUBLE", 64},
    {SF_FORMAT_ULAW, "ULAW", 8},
    {SF_FORMAT_ALAW, "ALAW", 8},
    {SF_FORMAT_IMA_ADPCM, "IMA_ADPCM", 0},
    {SF_FORMAT_MS_ADPCM, "MS_ADPCM", 0},
    {SF_FORMAT_GSM610, "GSM610", 0},
    {SF_FORMAT_VOX_ADPCM, "VOX_ADPCM", 0},
    {SF_FORMAT_NMS_ADPCM_16, "NMS_ADPCM_16", 0},
    {SF_FORMAT_NMS_ADPCM_24, "NMS_ADPCM_24", 0},
    {SF_FORMAT_NMS_ADPCM_32, "NMS_ADPCM_32", 0},
    {SF_FORMAT_G721_32, "G721_32", 0},
    {SF_FORMAT_G723_24, "G723_24", 0},
    {SF_FORMAT_G723_40, "G723_40", 0},
    {SF_FORMAT_DWVW_12, "DWVW_12", 12},
    {SF_FORMAT_DWVW_16, "DWVW_16", 16},
    {SF_FORMAT_DWVW_24, "DWVW_24", 24},
    {SF_FORMAT_DWVW_N, "DWVW_N", 0},
    {SF_FORMAT_DPCM_8, "DPCM_8", 8},
    {SF_FORMAT_DPCM_16, "DPCM_16", 16},
    {SF_FORMAT_VORBIS, "VORBIS", 0},
    {SF_FORMAT_OPUS, "OPUS", 0},
    {SF_FORMAT_ALAC_16, "ALAC_16", 16},
    {SF_FORMAT_ALAC_20, "ALAC_20", 20},
    {SF_FORMAT_ALAC_24, "ALAC_24", 24},
    {SF_FORMAT_ALAC_32, "ALAC_32", 32},
    {SF_FORMAT_MPEG_LAYER_I, "MPEG_LAYER_I", 0},
    {SF_FORMAT_MPEG_LAYER_II, "MPEG_LAYER_II", 0},
    {SF_FORMAT_MPEG_LAYER_III, "MPEG_LAYER_III", 0},
});

std::string Hex(int code)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%04X", static_cast<unsigned>(code));
    return buffer;
}

std::string MajorName(int format)
{
    const int major = format & SF_FORMAT_TYPEMASK;
    for (const auto &entry : kMajorNames)
        if (entry.code == major) return entry.name;
    return Hex(major);
}

const SubtypeName *Subtype(int format)
{
    const int subtype = format & SF_FORMAT_SUBMASK;
    for (const auto &entry : kSubtypeNames)
        if (entry.code == subtype) return &entry;
    return nullptr;
}

std::uint16_t Le16(const unsigned char *p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t Le32(const unsigned char *p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// The first bytes of a file, for a refusal that says what the file is.
std::string Signature(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    unsigned char head[64] = {};
    in.read(reinterpret_cast<char *>(head), sizeof head);
    const auto got = static_cast<std::size_t>(in.gcount());
    if (got >= 22 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0 &&
        std::memcmp(head + 12, "fmt ", 4) == 0) {
        char buffer[96];
        std::snprintf(buffer, sizeof buffer, "WAV с кодом формата 0x%04X", Le16(head + 20));
        return buffer;
    }
    std::string printable;
    for (std::size_t i = 0; i < std::min<std::size_t>(got, 4); ++i)
        printable += head[i] >= 0x20 && head[i] < 0x7F ? static_cast<char>(head[i]) : '.';
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "файл начинается с байтов «%s»", printable.c_str());
    return got == 0 ? std::string("файл пуст") : std::string(buffer);
}

bool Readable(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return in.is_open();
}

// The refusal of a path that cannot be read as a file, with the reason in
// the user's words: a mistyped name and a folder need different fixes.
InputError OpenFailure(const std::string &path)
{
    std::error_code ec;
    const std::filesystem::file_type type = std::filesystem::status(path, ec).type();
    std::uint32_t why = t::IDS_INPUT_UNREADABLE;
    if (type == std::filesystem::file_type::not_found)
        why = t::IDS_INPUT_NOT_FOUND;
    else if (type == std::filesystem::file_type::directory)
        why = t::IDS_INPUT_IS_FOLDER;
    else if (type != std::filesystem::file_type::regular && type != std::filesystem::file_type::none)
        why = t::IDS_INPUT_NOT_REGULAR;
    return InputError(t::format(t::IDS_INPUT_OPEN_FAILED, {path, t::get(why)}));
}

// ---------------------------------------------------------------------------
// The mapped case: samples used in place.

class NativeSource final : public SampleSource {
public:
    explicit NativeSource(std::unique_ptr<CWaveFile> file) : file_(std::move(file))
    {
        info_ = DescribeWave(*file_);
        total_values_ = GetSampleCount(*file_);
    }

    bool native() const override { return true; }

    std::span<const std::int16_t> Next(std::size_t count) override
    {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, total_values_ - position_));
        const std::span<const std::int16_t> block(file_->sample_data() + position_, n);
        position_ += n;
        return block;
    }

    std::span<const std::int16_t> Lead(std::size_t count) override
    {
        return {file_->sample_data(), static_cast<std::size_t>(std::min<std::uint64_t>(count, total_values_))};
    }

    void Passed(std::uint64_t position) const override
    {
        file_->ReleaseSamplesBefore(file_->sample_data() + std::min(position, total_values_));
    }

    void CheckIntact(bool final) const override
    {
        try {
            if (final)
                ThrowIfChanged(*file_);
            else
                ThrowIfFaulted(*file_);
        } catch (const WaveErrors::FileException &e) {
            throw InputError(e.text());
        }
    }

private:
    std::unique_ptr<CWaveFile> file_;
    std::uint64_t position_ = 0;
};

// ---------------------------------------------------------------------------
// The decoded case: libsndfile → (libsoxr) → 16 bits on a thread of its own.

class DecodedSource final : public SampleSource {
public:
    DecodedSource(SNDFILE *file, const SF_INFO &sf_info, const std::string &path) : file_(file)
    {
        const SubtypeName *subtype = Subtype(sf_info.format);
        info_.path = path;
        info_.format = MajorName(sf_info.format);
        info_.subtype = subtype != nullptr ? subtype->name : Hex(sf_info.format & SF_FORMAT_SUBMASK);
        info_.sample_rate = static_cast<std::uint32_t>(sf_info.samplerate);
        info_.bits = subtype != nullptr ? subtype->bits : 0;
        info_.channels = static_cast<std::uint32_t>(sf_info.channels);
        info_.samples_per_channel = static_cast<std::uint64_t>(sf_info.frames);
        // 16-bit words at 48 kHz reach the model unchanged, whatever the
        // lossless coding that stored them.
        info_.converted = info_.sample_rate != kModelRate || subtype == nullptr || subtype->bits != 16;
        output_frames_ = ConvertedLength(info_.samples_per_channel, info_.sample_rate);
        total_values_ = output_frames_ * info_.channels;

        // Values as stored, scaled to ±1 for integer words and untouched for
        // floating-point ones; never libsndfile's own conversion to integers.
        sf_command(file_, SFC_SET_NORM_DOUBLE, nullptr, SF_TRUE);

        if (info_.sample_rate != kModelRate) {
            const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
            const soxr_quality_spec_t quality = soxr_quality_spec(kResamplerQuality, 0);
            soxr_error_t error = nullptr;
            resampler_ = soxr_create(info_.sample_rate, kModelRate, info_.channels, &error, &io, &quality, nullptr);
            if (resampler_ == nullptr || error != nullptr) {
                sf_close(file_);
                throw InputError(t::format(t::IDS_INPUT_READ_ERROR,
                                               {path, std::string("libsoxr: ") + (error != nullptr ? error : "?")}));
            }
        }
        for (auto &block : ring_) block.values.resize(kBlockFrames * info_.channels);
        worker_ = std::thread([this] { Produce(); });
    }

    ~DecodedSource() override
    {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        space_.notify_all();
        worker_.join();
        if (resampler_ != nullptr) soxr_delete(resampler_);
        sf_close(file_);
    }

    std::span<const std::int16_t> Next(std::size_t count) override
    {
        started_ = true;
        if (staging_.size() < count) staging_.resize(count);
        std::size_t filled = 0;
        if (lead_position_ < lead_.size()) {
            filled = std::min(count, lead_.size() - lead_position_);
            std::copy_n(lead_.begin() + static_cast<std::ptrdiff_t>(lead_position_), filled, staging_.begin());
            lead_position_ += filled;
            if (lead_position_ == lead_.size()) {
                lead_.clear();
                lead_.shrink_to_fit();
                lead_position_ = 0;
            }
        }
        filled += Pull(staging_.data() + filled, count - filled);
        return {staging_.data(), filled};
    }

    std::span<const std::int16_t> Lead(std::size_t count) override
    {
        if (started_) throw std::logic_error("Lead() after Next()");
        count = static_cast<std::size_t>(std::min<std::uint64_t>(count, total_values_));
        if (lead_.size() < count) {
            const std::size_t had = lead_.size();
            lead_.resize(count);
            std::size_t got = 0;
            try {
                got = Pull(lead_.data() + had, count - had);
            } catch (...) {
                lead_.resize(had);
                throw;
            }
            lead_.resize(had + got);
        }
        return {lead_.data(), std::min(count, lead_.size())};
    }

    void CheckIntact(bool) const override {}

private:
    static constexpr unsigned long kResamplerQuality = SOXR_HQ;
    static constexpr std::size_t kBlockFrames = 8192;  // per block of the queue, at 48 kHz
    static constexpr std::size_t kReadFrames = 4096;   // per read from libsndfile, at the file's rate
    static constexpr std::size_t kQueueBlocks = 4;
    static constexpr double kRoundingShift = 6755399441055744.0;  // 1.5 × 2^52

    struct Block {
        std::vector<std::int16_t> values;
        std::size_t size = 0;
    };

    std::uint64_t clipped_so_far() const override { return clipped_.load(std::memory_order_relaxed); }

    // Consumer side: up to `count` values from the queue into `out`.
    std::size_t Pull(std::int16_t *out, std::size_t count)
    {
        std::size_t filled = 0;
        while (filled < count) {
            std::unique_lock lock(mutex_);
            data_.wait(lock, [this] { return full_ > 0 || finished_; });
            if (full_ == 0) {
                if (!error_.empty()) throw InputError(error_);
                break;
            }
            Block &block = ring_[tail_];
            lock.unlock();  // the producer never touches a full block
            const std::size_t n = std::min(count - filled, block.size - offset_);
            std::copy_n(block.values.begin() + static_cast<std::ptrdiff_t>(offset_), n, out + filled);
            filled += n;
            offset_ += n;
            if (offset_ == block.size) {
                offset_ = 0;
                lock.lock();
                tail_ = (tail_ + 1) % kQueueBlocks;
                --full_;
                lock.unlock();
                space_.notify_one();
            }
        }
        return filled;
    }

    // Producer side: hands the filled block over; false when asked to stop.
    bool Publish()
    {
        std::unique_lock lock(mutex_);
        ++full_;
        head_ = (head_ + 1) % kQueueBlocks;
        data_.notify_one();
        space_.wait(lock, [this] { return full_ < kQueueBlocks || stop_; });
        return !stop_;
    }

    // Appends 48 kHz frames to the block being filled, converting to 16
    // bits, and publishes full blocks. False when asked to stop.
    bool Emit(const double *frames, std::size_t count)
    {
        const std::uint32_t channels = info_.channels;
        count = static_cast<std::size_t>(std::min<std::uint64_t>(count, output_frames_ - emitted_));
        while (count > 0) {
            Block &block = ring_[head_];
            const std::size_t values = std::min(count * channels, block.values.size() - block.size);
            std::int16_t *out = block.values.data() + block.size;
            if (frames == nullptr) {
                std::fill_n(out, values, std::int16_t{0});
            } else {
                // First the checks over the run, then the conversion, so
                // that no value that is not a number is ever converted.
                std::uint64_t clipped = 0;
                bool not_a_number = false;
                for (std::size_t i = 0; i < values; ++i) {
                    const double x = frames[i];
                    not_a_number |= x != x;
                    clipped += (x > 1.0) | (x < -1.0);
                }
                if (not_a_number) {
                    Fail(t::format(t::IDS_INPUT_NOT_A_NUMBER, {info_.path}));
                    return false;
                }
                clipped_.fetch_add(clipped, std::memory_order_relaxed);
                for (std::size_t i = 0; i < values; ++i) {
                    const double x = frames[i];
                    const double scaled = (x > 1.0 ? 1.0 : x < -1.0 ? -1.0 : x) * 32768.0;
                    // Adding and taking away 1.5 × 2^52 rounds to the nearest
                    // integer (halves to even) in the default rounding mode,
                    // exactly as nearbyint and without a library call.
                    const double rounded = (scaled + kRoundingShift) - kRoundingShift;
                    out[i] = static_cast<std::int16_t>(rounded > 32767.0 ? 32767.0 : rounded);
                }
                frames += values;
            }
            block.size += values;
            const std::size_t whole = values / channels;
            emitted_ += whole;
            count -= whole;
            if (block.size == block.values.size()) {
                if (!Publish()) return false;
                ring_[head_].size = 0;
            }
        }
        return true;
    }

    void Fail(std::string message)
    {
        std::lock_guard lock(mutex_);
        error_ = std::move(message);
    }

    void Produce()
    {
        try {
            Decode();
        } catch (const std::exception &e) {
            Fail(t::format(t::IDS_INPUT_READ_ERROR, {info_.path, e.what()}));
        }
        {
            std::lock_guard lock(mutex_);
            // The last, partly filled block goes out too.
            if (error_.empty() && !stop_ && ring_[head_].size > 0) {
                ++full_;
                head_ = (head_ + 1) % kQueueBlocks;
            }
            finished_ = true;
        }
        data_.notify_all();
    }

    void Decode()
    {
        const std::uint32_t channels = info_.channels;
        std::vector<double> input(kReadFrames * channels);
        // At most 48000 / 8000 = 6 output frames per input frame, plus the
        // filter's tail when flushing.
        const std::size_t output_capacity = kReadFrames * (kModelRate / kMinInputRate) + 1024;
        std::vector<double> output(resampler_ != nullptr ? output_capacity * channels : 0);

        std::uint64_t read_total = 0;
        for (;;) {
            const sf_count_t got = sf_readf_double(file_, input.data(), static_cast<sf_count_t>(kReadFrames));
            if (got <= 0) break;
            read_total += static_cast<std::uint64_t>(got);
            if (resampler_ == nullptr) {
                if (!Emit(input.data(), static_cast<std::size_t>(got))) return;
                continue;
            }
            std::size_t consumed = 0;
            while (consumed < static_cast<std::size_t>(got)) {
                std::size_t used = 0, produced = 0;
                const soxr_error_t error =
                    soxr_process(resampler_, input.data() + consumed * channels, static_cast<std::size_t>(got) - consumed,
                                 &used, output.data(), output_capacity, &produced);
                if (error != nullptr) throw std::runtime_error(std::string("libsoxr: ") + error);
                if (used == 0 && produced == 0) throw std::runtime_error("libsoxr: no progress");
                consumed += used;
                if (!Emit(output.data(), produced)) return;
            }
        }
        if (sf_error(file_) != SF_ERR_NO_ERROR) throw std::runtime_error(sf_strerror(file_));
        if (read_total < info_.samples_per_channel) {
            Fail(t::format(t::IDS_INPUT_TRUNCATED, {info_.path, t::sample_count(static_cast<long long>(read_total)),
                                                        std::to_string(info_.samples_per_channel)}));
            return;
        }
        if (resampler_ != nullptr) {
            for (;;) {
                std::size_t produced = 0;
                const soxr_error_t error = soxr_process(resampler_, nullptr, 0, nullptr, output.data(),
                                                        output_capacity, &produced);
                if (error != nullptr) throw std::runtime_error(std::string("libsoxr: ") + error);
                if (produced == 0) break;
                if (!Emit(output.data(), produced)) return;
            }
        }
        // The announced length holds exactly, whatever the resampler's
        // rounding of its last frame: a missing frame at the end is silence.
        while (emitted_ < output_frames_)
            if (!Emit(nullptr, static_cast<std::size_t>(output_frames_ - emitted_))) return;
    }

    SNDFILE *file_;
    soxr_t resampler_ = nullptr;
    std::uint64_t output_frames_ = 0;
    std::uint64_t emitted_ = 0;  // producer only
    std::atomic<std::uint64_t> clipped_{0};

    std::array<Block, kQueueBlocks> ring_;
    std::mutex mutex_;
    std::condition_variable data_;
    std::condition_variable space_;
    std::size_t head_ = 0;  // block being filled (producer)
    std::size_t tail_ = 0;  // block being read (consumer)
    std::size_t full_ = 0;
    bool finished_ = false;
    bool stop_ = false;
    std::string error_;
    std::thread worker_;

    // Consumer only.
    std::size_t offset_ = 0;
    std::vector<std::int16_t> staging_;
    std::vector<std::int16_t> lead_;
    std::size_t lead_position_ = 0;
    bool started_ = false;
};

// The format tag of a WAV file's format chunk as stored (`raw`), or else
// with the extensible form resolved to its sub-format's tag; 0 when
// unreadable.
std::uint16_t WavCoding(const std::string &path, bool raw)
{
    std::ifstream in(path, std::ios::binary);
    unsigned char head[46] = {};
    in.read(reinterpret_cast<char *>(head), sizeof head);
    if (in.gcount() < 22) return 0;
    const std::uint16_t tag = Le16(head + 20);
    if (raw || tag != 0xFFFE) return tag;
    if (in.gcount() < 46) return 0;
    return Le16(head + 44) == 1 ? 1 : 0;
}

std::unique_ptr<SampleSource> OpenDecoded(const std::string &path)
{
    // Only regular files: opening a FIFO or a terminal would wait for a
    // writer that may never come.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) throw OpenFailure(path);
    SF_INFO sf_info{};
    SNDFILE *file = sf_open(path.c_str(), SFM_READ, &sf_info);
    if (file == nullptr) {
        if (!Readable(path)) throw OpenFailure(path);
        throw InputError(t::format(t::IDS_INPUT_UNKNOWN_FORMAT, {path, Signature(path), sf_strerror(nullptr)}));
    }
    // An MPEG stream without a header that states its length (an MP3 file
    // written without its Info tag) announces an estimate from its size.
    // The pair's lengths must be known before grading, so such streams are
    // counted by decoding them once: about 1 ms per second of stereo audio.
    if ((sf_info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG && sf_info.channels >= 1 && sf_info.channels <= 2) {
        std::vector<float> scratch(4096 * static_cast<std::size_t>(sf_info.channels));
        sf_count_t frames = 0;
        for (sf_count_t got; (got = sf_readf_float(file, scratch.data(), 4096)) > 0;) frames += got;
        if (sf_seek(file, 0, SEEK_SET) != 0) {
            const std::string reason = sf_strerror(file);
            sf_close(file);
            throw InputError(t::format(t::IDS_INPUT_READ_ERROR, {path, reason}));
        }
        sf_info.frames = frames;
    }
    std::string refusal;
    if (sf_info.samplerate < static_cast<int>(kMinInputRate) || sf_info.samplerate > static_cast<int>(kMaxInputRate))
        refusal = t::format(t::IDS_INPUT_RATE_RANGE, {path, std::to_string(sf_info.samplerate)});
    else if (sf_info.channels < 1 || sf_info.channels > 2)
        refusal = t::format(t::IDS_INPUT_CHANNEL_COUNT, {path, std::to_string(sf_info.channels)});
    else if (sf_info.frames < 0 || static_cast<std::uint64_t>(sf_info.frames) >= (std::uint64_t{1} << 40))
        refusal = t::format(t::IDS_INPUT_BAD_LENGTH, {path, t::sample_count(sf_info.frames)});
    if (!refusal.empty()) {
        sf_close(file);
        throw InputError(refusal);
    }
    return std::make_unique<DecodedSource>(file, sf_info, path);
}

} // namespace

InputInfo DescribeWave(const CWaveFile &file)
{
    InputInfo info;
    info.path = file.path();
    info.format = WavCoding(file.path(), true) == 0xFFFE ? "WAVEX" : "WAV";
    info.subtype = "PCM_16";
    info.sample_rate = file.sample_rate();
    info.bits = file.bits_per_sample();
    info.channels = file.channel_count();
    info.samples_per_channel = GetSampleCount(file) / std::max<std::uint32_t>(info.channels, 1);
    return info;
}

bool DataScanMisled(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) return false;
    in.seekg(0, std::ios::end);
    const auto size = static_cast<std::uint64_t>(std::max<std::streamoff>(in.tellg(), 0));

    // Walk the chunk headers from the format chunk on.
    std::uint64_t offset = 12;
    std::uint64_t data_offset = 0;
    bool found = false;
    while (offset + 8 <= size) {
        unsigned char header[8];
        in.seekg(static_cast<std::streamoff>(offset));
        if (!in.read(reinterpret_cast<char *>(header), 8)) return false;
        if (std::memcmp(header, "data", 4) == 0) {
            data_offset = offset;
            found = true;
            break;
        }
        for (int i = 0; i < 4; ++i)
            if (header[i] < 0x20 || header[i] > 0x7E) return false;  // not a chunk header: no walk
        const std::uint32_t length = Le32(header + 4);
        offset += 8 + std::uint64_t{length} + (length & 1u);
    }
    if (!found || data_offset <= 36) return false;

    // Where the scan would stop: the first "data" at or after offset 36.
    in.clear();
    in.seekg(36);
    std::vector<char> bytes(static_cast<std::size_t>(data_offset - 36 + 3));
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    for (std::size_t i = 0; i + 4 <= got; ++i)
        if (std::memcmp(bytes.data() + i, "data", 4) == 0) return true;
    return false;
}

std::unique_ptr<SampleSource> OpenInput(const std::string &path, InputMode mode)
{
    if (path.empty()) throw InputError(std::string(t::get(t::IDS_EMPTY_PATH)));
    // The system would read such a path only up to the NUL, which names
    // another file (or none): it cannot be opened as given.
    if (path.find('\0') != std::string::npos) throw InputError(t::format(t::IDS_FILE_OPEN_ERROR, path));
    std::unique_ptr<CWaveFile> wave;
    try {
        wave.reset(OpenWaveFile(path));
    } catch (const WaveErrors::FileException &e) {
        if (mode == InputMode::Strict) throw InputError(e.text());
    }
    if (mode == InputMode::Strict) {
        if (!CheckModelRequirements(*wave)) throw InputError(t::format(t::IDS_REQUIREMENTS_ERROR, path));
        return std::make_unique<NativeSource>(std::move(wave));
    }
    // Used in place only when the samples are plain PCM and the data chunk
    // that CWaveFile finds is the real one.
    if (wave && CheckModelRequirements(*wave) && WavCoding(path, false) == 1 && !DataScanMisled(path))
        return std::make_unique<NativeSource>(std::move(wave));
    wave.reset();
    return OpenDecoded(path);
}

} // namespace velumar::audio
