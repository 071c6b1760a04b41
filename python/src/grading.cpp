#include "grading.h"

#include <velumar/model.h>
#include <velumar/runner/model_runner.h>
#include <velumar/text/texts.h>

#include <chrono>
#include <cmath>
#include <memory>

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
        // The model's own stand-in for the logarithm of zero.
        out.nmr_db = in.nmr > 0.0 ? 10.0 * std::log10(in.nmr) : -1e100;
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
    get_default_settings(&defaults);
    if (!(options.level_db >= defaults.level_min && options.level_db <= defaults.level_max)) {
        char value[64];
        std::snprintf(value, sizeof value, "%g", options.level_db);
        throw InputFailure(text::format(text::IDS_PY_BAD_LEVEL, value));
    }
    if (options.sample_rate != defaults.sample_rate)
        throw InputFailure(text::format(text::IDS_PY_BAD_RATE, std::to_string(options.sample_rate)));
    if (options.align) throw InputFailure(text::format(text::IDS_PY_OPTION_UNAVAILABLE, "align"));
    if (options.match_level) throw InputFailure(text::format(text::IDS_PY_OPTION_UNAVAILABLE, "match_level"));
}

namespace {

// Fewer frames than this and the model has no grade.
constexpr std::uint32_t kMinimumFrames = 23;

struct HandleDeleter {
    void operator()(M_STATE *handle) const { destroy_method(handle); }
};
using Handle = std::unique_ptr<M_STATE, HandleDeleter>;

void Finish(Graded &graded)
{
    graded.json = cli::ResultJson(graded.result);
    if (graded.result.model_status == 0) return;
    const std::uint32_t frames = graded.result.model.frames;
    graded.reason = frames < kMinimumFrames ? text::format(text::IDS_PY_TOO_SHORT, std::to_string(frames))
                                            : std::string(text::get(text::IDS_CLI_NOT_GRADED));
}

void CollectFrame(void *user, const VELUMAR_FRAME *frame)
{
    static_cast<std::vector<FrameRow> *>(user)->push_back(ToFrameRow(*frame, 0));
}

} // namespace

Graded GradeSignals(const Signal &reference, const Signal &test, const GradeOptions &options)
{
    CheckOptions(options);
    if (reference.channels != test.channels) throw InputFailure(std::string(text::get(text::IDS_PY_CHANNELS_DIFFER)));
    if (reference.values.size() != test.values.size()) {
        const std::string lengths =
            std::to_string(reference.samples_per_channel()) + " / " + std::to_string(test.samples_per_channel());
        throw InputFailure(text::format(text::IDS_PY_LENGTHS_DIFFER, lengths));
    }

    // The same run the model runner makes over a pair of files: the
    // library's settings and step, every step timed.
    const RUN_SETTINGS run = DefaultRunSettings();
    M_SETTINGS settings{};
    settings.version = run.version;
    settings.listening_level_db = options.level_db;
    settings.sample_rate = run.sample_rate;
    settings.channel_mode = reference.channels == 2 ? 1 : 0;
    Handle handle(create_method(&settings));
    if (!handle) throw ModelFailure(std::string(text::get(text::IDS_CLI_MODEL_CREATION)));

    Graded graded;
    if (options.frames) {
        // Room for every frame up front: the observer runs inside the model.
        const std::size_t samples = reference.samples_per_channel();
        graded.frames.reserve(samples < 2048 ? 0 : (samples - 2048) / 1024 + 1);
        velumar_set_frame_observer(handle.get(), CollectFrame, &graded.frames);
    }
    cli::GradeResult &result = graded.result;
    result.sample_rate = run.sample_rate;
    cli::RunStats &stats = result.stats;
    const std::size_t total = reference.values.size();
    stats.announced_steps = static_cast<std::uint32_t>(total / run.step);
    using Clock = std::chrono::steady_clock;
    auto last = Clock::now();
    for (std::size_t done = 0; done < total;) {
        const std::uint32_t count = static_cast<std::uint32_t>(std::min<std::size_t>(run.step, total - done));
        const M_BUFFER ref{reference.values.data() + done, count};
        const M_BUFFER tst{test.values.data() + done, count};
        if (const std::int32_t code = method(handle.get(), &ref, &tst); code != 0)
            throw ModelFailure(text::format(text::IDS_CLI_MODEL_EXECUTION, std::to_string(code)));
        done += count;
        const auto now = Clock::now();
        stats.steps += 1;
        stats.values += count;
        stats.total_time += std::chrono::duration<double>(now - last).count() * 100.0;
        last = now;
    }
    result.model_status = get_model_results(handle.get(), &result.model);
    Finish(graded);
    return graded;
}

Graded GradeFiles(const std::string &reference, const std::string &test, const GradeOptions &options)
{
    CheckOptions(options);
    if (options.frames) throw InputFailure(text::format(text::IDS_PY_OPTION_UNAVAILABLE, "frames"));
    cli::Options cli_options;
    cli_options.level = options.level_db;
    cli_options.step = DefaultRunSettings().step;
    cli::GradeOutcome outcome = cli::GradePair(reference, test, cli_options);
    switch (outcome.exit_code) {
    case cli::kExitGraded: break;
    case cli::kExitModelFailure: throw ModelFailure(outcome.error);
    default: throw InputFailure(outcome.error);
    }
    Graded graded;
    graded.result = outcome.result;
    Finish(graded);
    return graded;
}

} // namespace velumar::python
