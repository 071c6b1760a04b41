#include "grading.h"

#include <velumar/app/any_format.h>
#include <velumar/app/pair_source.h>
#include <velumar/audio/input.h>
#include <velumar/cli/cli.h>
#include <velumar/model.h>
#include <velumar/report/frame_row.h>
#include <velumar/text/texts.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <span>

#include <unistd.h>

namespace velumar::python {

std::int16_t ToSample(double value, bool &clipped)
{
    const double scaled = std::nearbyint(value * 32768.0);
    clipped = false;
    if (scaled > 32767.0) {
        clipped = true;
        return 32767;
    }
    if (scaled < -32768.0) {
        clipped = true;
        return -32768;
    }
    return static_cast<std::int16_t>(scaled);
}

FrameRow ToFrameRow(const VELUMAR_FRAME &frame, std::uint64_t offset_samples)
{
    FrameRow row;
    row.frame = frame.index;
    row.time_s = static_cast<double>(std::uint64_t{frame.index} * 1024 + offset_samples) / 48000.0;
    row.loud = frame.loud;
    row.energy = frame.energy;
    row.detection_probability_binaural = frame.detection_probability_binaural;
    for (unsigned c = 0; c < 2; ++c) {
        const VELUMAR_FRAME_CHANNEL &in = frame.channel[c];
        FrameChannel &out = row.channel[c];
        out.bandwidth_ref = in.bandwidth_ref;
        out.bandwidth_test = in.bandwidth_test;
        out.nmr_db = report::nmr_db_from_mean(in.nmr);
        out.disturbed = in.disturbed;
        out.moddiff1 = in.moddiff1;
        out.moddiff2 = in.moddiff2;
        out.temporal_weight = in.temporal_weight;
        out.noise_loudness = in.noise_loudness;
        out.ehs = in.ehs;
        out.detection_probability = in.detection_probability;
    }
    return row;
}

void CheckOptions(const GradeOptions &options)
{
    M_SETTINGS_DEFAULTS defaults;
    velumar_get_default_settings(&defaults);
    if (!(options.level_db >= defaults.level_min && options.level_db <= defaults.level_max)) {
        char value[64];
        std::snprintf(value, sizeof value, "%g", options.level_db);
        throw InputFailure(text::format(text::IDS_PY_BAD_LEVEL, value));
    }
    if (options.sample_rate < audio::kMinInputRate || options.sample_rate > audio::kMaxInputRate)
        throw InputFailure(text::format(text::IDS_PY_BAD_RATE, std::to_string(options.sample_rate)));
}

namespace {

// What one grading collects from its model instance: the library's lines
// (never standard output) and, when asked for, the per-frame rows.
struct Collector {
    std::string messages;
    std::vector<FrameRow> *frames = nullptr;
    std::uint64_t reference_skip = 0;  // samples cut from the reference's start
};

void CollectMessage(void *user, const char *line)
{
    static_cast<Collector *>(user)->messages += line;
}

void CollectFrame(void *user, const VELUMAR_FRAME *frame)
{
    auto *collector = static_cast<Collector *>(user);
    collector->frames->push_back(ToFrameRow(*frame, collector->reference_skip));
}

app::GradeHooks Hooks(Collector &collector)
{
    app::GradeHooks hooks;
    hooks.messages = {CollectMessage, &collector};
    if (collector.frames != nullptr) {
        hooks.frames_start = [&collector](std::uint64_t skip) { collector.reference_skip = skip; };
        hooks.frame_observer = CollectFrame;
        hooks.frame_user = &collector;
    }
    return hooks;
}

// Two signals in memory, read in place.
class ArrayPairSource final : public app::PairSource {
public:
    ArrayPairSource(const Signal &reference, const Signal &test) : signals_{&reference, &test} {}

    std::uint16_t channels() const override { return static_cast<std::uint16_t>(signals_[0]->channels); }
    std::uint64_t values(app::Signal s) const override { return get(s).values.size(); }
    const std::string &path(app::Signal) const override { return no_path_; }
    std::span<const std::int16_t> InPlace(app::Signal s) const override { return get(s).values; }

private:
    const Signal &get(app::Signal s) const { return *signals_[static_cast<int>(s)]; }

    const Signal *signals_[2];
    std::string no_path_;
};

cli::Options CliOptions(const GradeOptions &options)
{
    cli::Options o;
    o.level = options.level_db;
    o.step = DefaultRunSettings().step;
    o.align = options.align;
    o.match_level = options.match_level;
    return o;
}

// Reserves room for every frame of a signal of known length, so that the
// observer, which runs inside the model's frame loop, only appends.
void ReserveFrames(std::vector<FrameRow> &frames, std::uint64_t values, unsigned channels)
{
    const std::uint64_t samples = channels == 0 ? 0 : values / channels;
    frames.reserve(samples < 2048 ? 0 : static_cast<std::size_t>((samples - 2048) / 1024 + 1));
}

std::string Line(const cli::Json &value)
{
    std::string line = cli::JsonLine(value);
    while (!line.empty() && line.back() == '\n') line.pop_back();
    return line;
}

// Turns a report into the result, or into the exception it stands for.
Graded Finish(app::GradeReport report, Collector &collector, std::vector<FrameRow> frames)
{
    switch (report.status) {
    case app::Status::Graded:
    case app::Status::NotGraded:
        break;
    case app::Status::Refused: {
        InputFailure failure(report.reason, report.reason_code);
        failure.json = Line(cli::ErrorJson(report.reason, report));
        throw failure;
    }
    case app::Status::Failed: {
        // The library's own line says which stage failed and how.
        std::string message = report.reason;
        if (!collector.messages.empty() && report.reason_code == app::kReasonModelExecution) {
            message += ": ";
            message += collector.messages;
            while (!message.empty() && message.back() == '\n') message.pop_back();
        }
        ModelFailure failure(message, report.reason_code);
        failure.json = Line(cli::ErrorJson(report.reason, report));
        throw failure;
    }
    }
    Graded graded;
    graded.json = Line(cli::ResultJson(report));
    graded.report = std::move(report);
    graded.frames = std::move(frames);
    return graded;
}

// A WAV file in the temporary folder, removed with this object.
class TemporaryWave {
public:
    // Writes `signal` at `rate`: 16-bit PCM for int16 input, 64-bit IEEE
    // floating point for floating-point input (nothing rounded before the
    // resampler).
    TemporaryWave(const Signal &signal, std::uint32_t rate)
    {
        static_assert(std::endian::native == std::endian::little, "WAV data is written as it lies in memory");
        const bool floating = !signal.floats.empty();
        const std::uint16_t bits = floating ? 64 : 16;
        const std::uint16_t block = static_cast<std::uint16_t>(signal.channels * bits / 8);
        const std::uint64_t data_bytes = std::uint64_t{signal.size()} * (bits / 8);
        if (data_bytes > 0xFFFFFFFFull - 36) throw InputFailure(std::string(text::get(text::IDS_PY_TOO_LONG)));

        std::string name = (std::filesystem::temp_directory_path() / "velumar-XXXXXX.wav").string();
        const int fd = ::mkstemps(name.data(), 4);
        if (fd < 0) throw InputFailure(text::format(text::IDS_PY_TEMPORARY_FILE, name));
        path_ = name;
        std::FILE *f = ::fdopen(fd, "wb");
        if (f == nullptr) {
            ::close(fd);
            throw InputFailure(text::format(text::IDS_PY_TEMPORARY_FILE, path_));
        }
        std::string header;
        const auto u32 = [&](std::uint32_t v) { header.append(reinterpret_cast<const char *>(&v), 4); };
        const auto u16 = [&](std::uint16_t v) { header.append(reinterpret_cast<const char *>(&v), 2); };
        header += "RIFF";
        u32(static_cast<std::uint32_t>(36 + data_bytes));
        header += "WAVEfmt ";
        u32(16);
        u16(floating ? 3 : 1);  // IEEE float : PCM
        u16(static_cast<std::uint16_t>(signal.channels));
        u32(rate);
        u32(rate * block);
        u16(block);
        u16(bits);
        header += "data";
        u32(static_cast<std::uint32_t>(data_bytes));
        const void *data = floating ? static_cast<const void *>(signal.floats.data()) : signal.values.data();
        const bool written = std::fwrite(header.data(), 1, header.size(), f) == header.size() &&
                             std::fwrite(data, 1, data_bytes, f) == data_bytes;
        if (std::fclose(f) != 0 || !written) throw InputFailure(text::format(text::IDS_PY_TEMPORARY_FILE, path_));
    }
    ~TemporaryWave()
    {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove(path_, ignored);
    }
    TemporaryWave(const TemporaryWave &) = delete;
    TemporaryWave &operator=(const TemporaryWave &) = delete;

    const std::string &path() const { return path_; }

private:
    std::string path_;
};

// Signals at another rate go the way such files go through velumar-cli:
// decoded as floating point, resampled to 48 kHz, rounded to 16 bits.
Graded GradeResampled(const Signal &reference, const Signal &test, const GradeOptions &options)
{
    const TemporaryWave ref(reference, options.sample_rate);
    const TemporaryWave tst(test, options.sample_rate);
    std::vector<FrameRow> frames;
    Collector collector;
    if (options.frames) collector.frames = &frames;
    app::GradeReport report = app::GradeAnyFiles(ref.path(), tst.path(), cli::PipelineSettings(CliOptions(options)),
                                                 false, Hooks(collector));
    // The signals came from no file the caller knows.
    std::uint64_t clipped[2] = {0, 0};
    int i = 0;
    for (auto *info : {&report.input.reference, &report.input.test}) {
        if (*info) {
            (*info)->path.clear();
            clipped[i] = (*info)->clipped_samples;
        }
        ++i;
    }
    Graded graded = Finish(std::move(report), collector, std::move(frames));
    graded.clipped[0] = clipped[0];
    graded.clipped[1] = clipped[1];
    return graded;
}

} // namespace

Graded GradeSignals(const Signal &reference, const Signal &test, const GradeOptions &options)
{
    CheckOptions(options);
    if (reference.channels != test.channels)
        throw InputFailure(std::string(text::get(text::IDS_PY_CHANNELS_DIFFER)));
    if (options.sample_rate != audio::kModelRate) return GradeResampled(reference, test, options);

    std::vector<FrameRow> frames;
    Collector collector;
    if (options.frames) {
        ReserveFrames(frames, reference.values.size(), reference.channels);
        collector.frames = &frames;
    }
    ArrayPairSource source(reference, test);
    app::GradeReport report = app::GradeSource(source, cli::PipelineSettings(CliOptions(options)), Hooks(collector));
    Graded graded = Finish(std::move(report), collector, std::move(frames));
    graded.clipped[0] = reference.clipped;
    graded.clipped[1] = test.clipped;
    return graded;
}

Graded GradeFiles(const std::string &reference, const std::string &test, const GradeOptions &options)
{
    CheckOptions(options);
    std::vector<FrameRow> frames;
    Collector collector;
    if (options.frames) collector.frames = &frames;
    cli::GradeOutcome outcome = cli::GradePair(reference, test, CliOptions(options), Hooks(collector));
    return Finish(std::move(outcome.result), collector, std::move(frames));
}

} // namespace velumar::python
