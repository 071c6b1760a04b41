#include <velumar/cli/cli.h>

#include <velumar/text/texts.h>
#include <velumar/audio/wave_file.h>

#include <algorithm>
#include <exception>

namespace velumar::cli {

std::string OpenFilePair(const std::string &reference, const std::string &test, FilePair &pair)
{
    pair.reference.reset();
    pair.test.reset();
    if (reference.empty() || test.empty()) return std::string(text::get(text::IDS_EMPTY_PATH));
    // The system would read such a path only up to the NUL, which names
    // another file (or none): it cannot be opened as given.
    for (const std::string *path : {&reference, &test})
        if (path->find('\0') != std::string::npos) return text::format(text::IDS_FILE_OPEN_ERROR, *path);

    std::unique_ptr<CWaveFile> ref;
    std::unique_ptr<CWaveFile> tst;
    try {
        ref.reset(OpenWaveFile(reference));
        tst.reset(OpenWaveFile(test));
    } catch (const WaveErrors::FileException &e) {
        return e.text();
    }
    if (!CheckModelRequirements(*ref)) return text::format(text::IDS_REQUIREMENTS_ERROR, reference);
    if (!CheckModelRequirements(*tst)) return text::format(text::IDS_REQUIREMENTS_ERROR, test);
    if (!SameChannelCount(*ref, *tst)) return std::string(text::get(text::IDS_CHANNELS_DIFFER));
    if (!SameLength(*ref, *tst)) return std::string(text::get(text::IDS_LENGTHS_DIFFER));

    pair.reference = std::move(ref);
    pair.test = std::move(tst);
    return {};
}

std::optional<double> RunStats::Speed() const
{
    if (!(total_time > 0.0)) return std::nullopt;
    return static_cast<double>(values) / total_time * 100.0;
}

std::optional<double> RunStats::RealTimeFactor(std::uint32_t rate) const
{
    // Whole seconds of values, as the wizard computes it; a run of less
    // than one second of values has no factor instead of a division by 0.
    if (rate == 0) return std::nullopt;
    const std::uint64_t seconds = values / rate;
    if (seconds == 0) return std::nullopt;
    return total_time / (static_cast<double>(seconds) * 100.0);
}

namespace {

// Collects the run statistics from the runner's events and forwards the
// progress. The runner reports the configured step also after a shorter
// last step; the values actually fed are counted here from the total.
class StatsObserver final : public CRunObserver {
public:
    StatsObserver(std::uint64_t total, const ProgressCallback &progress) : total_(total), progress_(progress) {}

    void OnRunEvent(RUN_EVENT event, std::int32_t *) override
    {
        switch (event.type) {
        case RUN_STARTED:
            stats_.announced_steps = event.value;
            break;
        case RUN_STEP:
            stats_.steps += 1;
            stats_.values += std::min<std::uint64_t>(event.value, total_ - stats_.values);
            stats_.total_time += event.step_time;
            if (progress_) progress_(stats_.values, total_);
            break;
        case RUN_STOPPED:
            stats_.stopped = true;
            break;
        default:
            break;
        }
    }

    const RunStats &stats() const { return stats_; }

private:
    std::uint64_t total_;
    const ProgressCallback &progress_;
    RunStats stats_;
};

} // namespace

GradeResult RunPair(const FilePair &pair, const RUN_SETTINGS &settings, const ProgressCallback &progress,
                    const ModelApi &api)
{
    GradeResult result;
    result.sample_rate = settings.sample_rate;
    StatsObserver observer(GetSampleCount(*pair.reference), progress);
    CModelRunner runner(pair.reference.get(), pair.test.get(), settings, &observer, api);
    runner.Run();
    result.model_status = runner.Results(&result.model);
    result.stats = observer.stats();
    return result;
}

GradeOutcome GradePair(const std::string &reference, const std::string &test, const Options &options,
                       const ProgressCallback &progress, const ModelApi &api)
{
    GradeOutcome outcome;
    FilePair pair;
    outcome.error = OpenFilePair(reference, test, pair);
    if (!outcome.error.empty()) {
        outcome.exit_code = kExitInputRejected;
        return outcome;
    }

    // An explicit step may not exceed the values of the reference file (as
    // in the settings dialog); the default applies to files of any length.
    const std::uint32_t values = GetSampleCount(*pair.reference);
    if (options.step_given && options.step > std::max<std::uint32_t>(values, 1)) {
        outcome.exit_code = kExitUsage;
        outcome.error = text::format(text::IDS_CLI_STEP_TOO_LARGE, std::to_string(options.step));
        return outcome;
    }

    RUN_SETTINGS settings = DefaultRunSettings();
    settings.listening_level_db = options.level;
    settings.step = options.step;
    try {
        outcome.result = RunPair(pair, settings, progress, api);
    } catch (const PeaqErrors::ModelCreationFailed &) {
        outcome.exit_code = kExitModelFailure;
        outcome.error = std::string(text::get(text::IDS_CLI_MODEL_CREATION));
    } catch (const PeaqErrors::ModelExecutionError &e) {
        outcome.exit_code = kExitModelFailure;
        outcome.error = text::format(text::IDS_CLI_MODEL_EXECUTION, std::to_string(e.code));
    } catch (const WaveErrors::FileException &e) {  // a file changed during the run
        outcome.exit_code = kExitInputRejected;
        outcome.error = e.text();
    }
    return outcome;
}

} // namespace velumar::cli
