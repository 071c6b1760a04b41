#include <velumar/app/pipeline.h>

#include <velumar/app/any_format.h>
#include <velumar/audio/input.h>
#include <velumar/audio/wave_file.h>
#include <velumar/text/texts.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string_view>

namespace velumar::app {
namespace {

// A frame of the model is 2048 samples with a hop of 1024; fewer than this
// many frames get no grade from the network.
constexpr std::uint32_t kMinimumFrames = 23;

std::string Printf(const char *format, double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

// A decimal number with a point, as every other number of the text report
// and of the wizard's pages is written.
std::string Decimal(const char *format, double value)
{
    std::string s = Printf(format, value);
    // A value that rounds to zero has no sign worth showing: "-0.00 дБ"
    // reads as a change that is not there.
    if (s.size() > 1 && s[0] == '-' && s.find_first_not_of("0.", 1) == std::string::npos) {
        if (std::string_view(format).find('+') != std::string_view::npos)
            s[0] = '+';
        else
            s.erase(0, 1);
    }
    return s;
}

// Lengths are told per channel: that is the count an audio editor shows.
std::string PerChannel(std::uint64_t values, std::uint16_t channels)
{
    return text::sample_count(static_cast<long long>(values / std::max<std::uint16_t>(channels, 1)));
}

std::string Seconds(std::uint64_t values, std::uint16_t channels, std::uint32_t rate)
{
    const double frames = static_cast<double>(values) / std::max<std::uint16_t>(channels, 1);
    return Decimal("%.2f", frames / rate);
}

// Gathers the statistics, reports progress and passes every event on to
// the caller's observer, whose stop request goes back to the runner.
class PipelineObserver final : public CRunObserver {
public:
    PipelineObserver(std::uint64_t total, const GradeHooks &hooks) : total_(total), hooks_(hooks) {}

    void OnRunEvent(RUN_EVENT event, std::int32_t *stop) override
    {
        switch (event.type) {
        case RUN_STARTED:
            stats_.Start(event.value, total_);
            break;
        case RUN_STEP:
            stats_.Step(event.value, event.step_time);
            if (hooks_.progress) hooks_.progress(stats_.values, total_);
            break;
        case RUN_STOPPED:
            stats_.stopped = true;
            break;
        default:
            break;
        }
        if (hooks_.observer != nullptr) hooks_.observer->OnRunEvent(event, stop);
    }

    const RunStatistics &stats() const { return stats_; }

private:
    std::uint64_t total_;
    const GradeHooks &hooks_;
    RunStatistics stats_;
};

// Both signals held in memory as a whole: the model's pass over them can
// count their clipping too.
bool InMemory(const PairSource &source)
{
    for (const Signal s : {Signal::Reference, Signal::Test})
        if (source.InPlace(s).empty() && source.values(s) != 0) return false;
    return true;
}

GradeReport Refuse(GradeReport report, const char *code, std::string reason)
{
    report.status = Status::Refused;
    report.reason_code = code;
    report.reason = std::move(reason);
    return report;
}

} // namespace

PairCheck AnalyseSource(PairSource &source, const AnalysisSettings &settings)
{
    AnalysisSettings scanning = settings;
    scanning.scanned = [&source, &settings](int signal, std::size_t values) {
        source.Passed(signal == 0 ? Signal::Reference : Signal::Test, values);
        if (settings.scanned) settings.scanned(signal, values);
    };
    return AnalysePair(source.ForAnalysis(Signal::Reference), source.ForAnalysis(Signal::Test), source.channels(),
                       scanning);
}

Adjustment PlanAdjustment(const PairSource &source, const PairCheck *check, const GradeSettings &settings,
                          Applied *applied)
{
    const std::uint64_t ch = std::max<std::uint16_t>(source.channels(), 1);
    const std::uint64_t nr = source.values(Signal::Reference) / ch;
    const std::uint64_t nt = source.values(Signal::Test) / ch;
    Adjustment a;
    Applied done;
    a.values = static_cast<std::uint32_t>(source.values(Signal::Reference));
    if (settings.align) {
        std::int64_t d = 0;
        if (check != nullptr && check->delay_trusted) {
            d = check->delay_samples;
            done.delay_samples = d;
        } else {
            done.delay_untrusted = check != nullptr && !check->silent;
            if (check != nullptr) done.untrusted_correlation = check->correlation;
        }
        done.aligned = true;
        // Test late by d: the reference from its first frame, the test from
        // its frame d, both cut to the common length (mirrored for d < 0).
        a.test_skip = d > 0 ? static_cast<std::uint64_t>(d) : 0;
        a.reference_skip = d < 0 ? static_cast<std::uint64_t>(-d) : 0;
        const std::uint64_t ref_left = nr > a.reference_skip ? nr - a.reference_skip : 0;
        const std::uint64_t test_left = nt > a.test_skip ? nt - a.test_skip : 0;
        a.values = static_cast<std::uint32_t>(std::min(ref_left, test_left) * ch);
    }
    if (settings.match_level && check != nullptr && !check->silent &&
        std::abs(check->correlation) >= kTrustedCorrelation && check->gain != 0.0 && std::isfinite(check->gain)) {
        a.test_gain = 1.0 / check->gain;
        done.level_matched = true;
        done.gain_db = -check->gain_db;
        done.inverted_back = check->gain < 0.0;
    }
    if (applied != nullptr) *applied = done;
    return a;
}

void JudgeResults(GradeReport &report, std::int32_t version)
{
    if (report.model_status == 0) {
        report.status = Status::Graded;
        return;
    }
    report.status = Status::NotGraded;
    if (version != 0) {
        report.reason_code = kReasonNotBasic;
        report.reason = text::format(text::IDS_REASON_NOT_BASIC, std::to_string(version));
    } else if (report.model.frames < kMinimumFrames) {
        report.reason_code = kReasonTooShort;
        report.reason = text::format(text::IDS_REASON_TOO_SHORT,
                                     {std::to_string(report.model.frames),
                                      Seconds(report.stats.total_values, report.channels, report.sample_rate)});
    } else {
        report.reason_code = kReasonMovsUnavailable;
        report.reason = std::string(text::get(text::IDS_REASON_MOVS_UNAVAILABLE));
    }
}

GradeReport GradeSource(PairSource &source, const GradeSettings &settings, const GradeHooks &hooks)
{
    GradeReport report;
    report.channels = source.channels();
    report.sample_rate = settings.run.sample_rate;
    report.reference_values = source.values(Signal::Reference);
    report.test_values = source.values(Signal::Test);

    if (settings.step_must_fit && settings.run.step > std::max<std::uint64_t>(report.reference_values, 1))
        return Refuse(std::move(report), kReasonStepTooLarge,
                      text::format(text::IDS_CLI_STEP_TOO_LARGE, std::to_string(settings.run.step)));
    if (!settings.align && report.reference_values != report.test_values) {
        return Refuse(std::move(report), kReasonLengths,
                      text::format(text::IDS_REASON_LENGTHS_DIFFER,
                                   {PerChannel(report.reference_values, report.channels),
                                    Seconds(report.reference_values, report.channels, report.sample_rate),
                                    PerChannel(report.test_values, report.channels),
                                    Seconds(report.test_values, report.channels, report.sample_rate)}));
    }

    // The check's clipping of signals in memory is counted while the model
    // reads them; a run that does not get that far counts it on its own.
    bool clipping_pending = false;
    const auto settle_clipping = [&] {
        if (!clipping_pending) return;
        clipping_pending = false;
        AdjustedInput whole(source, Adjustment{}, 1);
        whole.CountClipping();
        const auto [reference, test] = whole.FinishClipping();
        AddClipping(*report.check, reference, test);
    };
    try {
        if (settings.check || settings.align || settings.match_level) {
            AnalysisSettings analysis = settings.analysis;
            const bool in_memory = InMemory(source);
            analysis.count_clipping = !in_memory;
            report.check = AnalyseSource(source, analysis);
            clipping_pending = in_memory;
        }
        Applied applied;
        const Adjustment adjustment =
            PlanAdjustment(source, report.check ? &*report.check : nullptr, settings, &applied);
        if (settings.align || settings.match_level) report.applied = applied;
        // Two empty signals stay a pair too short to grade; an empty one
        // against anything leaves, as any shift can, nothing in common.
        if (settings.align && adjustment.values == 0 && (report.reference_values != 0 || report.test_values != 0)) {
            settle_clipping();
            return Refuse(std::move(report), kReasonNoOverlap, std::string(text::get(text::IDS_CLI_NO_OVERLAP)));
        }

        AdjustedInput input(source, adjustment, settings.run.step);
        if (clipping_pending) input.CountClipping();
        PipelineObserver observer(adjustment.values, hooks);
        CModelRunner runner(&input, settings.run, &observer, hooks.messages,
                            hooks.api != nullptr ? *hooks.api : LibraryModelApi());
        if (hooks.frame_observer != nullptr) {
            if (hooks.frames_start) hooks.frames_start(adjustment.reference_skip);
            runner.SetFrameObserver(hooks.frame_observer, hooks.frame_user);
        }
        runner.Run();
        if (clipping_pending) {
            const auto [reference, test] = input.FinishClipping();
            AddClipping(*report.check, reference, test);
            clipping_pending = false;
        }
        report.model_status = runner.Results(&report.model);
        report.stats = observer.stats();
        if (report.applied) report.applied->clipped_values = input.clipped_values();
    } catch (const PeaqErrors::ModelCreationFailed &) {
        settle_clipping();
        report.status = Status::Failed;
        report.reason_code = kReasonModelCreation;
        report.reason = std::string(text::get(text::IDS_CLI_MODEL_CREATION));
        return report;
    } catch (const PeaqErrors::ModelExecutionError &e) {
        settle_clipping();
        report.status = Status::Failed;
        report.reason_code = kReasonModelExecution;
        report.stage_code = e.code;
        report.reason = text::format(text::IDS_CLI_MODEL_EXECUTION, std::to_string(e.code));
        return report;
    } catch (const WaveErrors::FileException &e) {  // a file changed during the run
        settle_clipping();
        return Refuse(std::move(report), kReasonFileChanged, e.text());
    } catch (const audio::InputError &e) {  // a decoded file that cannot be read to its end
        settle_clipping();
        return Refuse(std::move(report), kReasonInput, e.message());
    } catch (const std::exception &e) {
        settle_clipping();
        report.status = Status::Failed;
        report.reason_code = kReasonInternal;
        report.reason = text::format(text::IDS_CLI_INTERNAL_ERROR, e.what());
        return report;
    }
    JudgeResults(report, settings.run.version);
    return report;
}

GradeReport GradeFiles(const std::string &reference, const std::string &test, const GradeSettings &settings,
                       const GradeHooks &hooks)
{
    // Lengths are compared here, where the data sizes are known, so that
    // the refusal can name both.
    OpenedPair opened = OpenWavePair(reference, test, true);
    if (opened.fault != OpenFault::None) {
        GradeReport report;
        return Refuse(std::move(report), kReasonInput, opened.message);
    }
    WavePairSource source(std::move(opened.reference), std::move(opened.test));
    if (!settings.align && !SameLength(source.file(Signal::Reference), source.file(Signal::Test))) {
        GradeReport report;
        report.channels = source.channels();
        const std::uint64_t r = source.values(Signal::Reference), t = source.values(Signal::Test);
        return Refuse(std::move(report), kReasonLengths,
                      text::format(text::IDS_REASON_LENGTHS_DIFFER,
                                   {PerChannel(r, report.channels), Seconds(r, report.channels, settings.run.sample_rate),
                                    PerChannel(t, report.channels), Seconds(t, report.channels, settings.run.sample_rate)}));
    }
    return GradeSource(source, settings, hooks);
}

std::vector<std::string> CheckFindings(const PairCheck &check)
{
    std::vector<std::string> out;
    for (const std::string &code : check.warnings) {
        if (code == kWarnDelay) {
            const auto samples = text::sample_count(check.delay_samples < 0 ? -check.delay_samples : check.delay_samples);
            const std::string ms = Decimal("%.2f", std::abs(check.delay_ms));
            out.push_back(text::format(check.delay_samples > 0 ? text::IDS_WARN_LATE : text::IDS_WARN_EARLY,
                                       {samples, ms}));
        } else if (code == kWarnLevel) {
            out.push_back(text::format(text::IDS_WARN_LEVEL, Decimal("%+.2f", check.gain_db)));
        } else if (code == kWarnInverted) {
            out.emplace_back(text::get(text::IDS_WARN_INVERTED));
        } else if (code == kWarnSwapped) {
            out.emplace_back(text::get(text::IDS_WARN_SWAPPED));
        } else if (code == kWarnSilent) {
            out.emplace_back(text::get(text::IDS_WARN_SILENT));
        } else if (code == kWarnClipped) {
            out.push_back(text::format(text::IDS_WARN_CLIPPED, std::to_string(check.test_clipped_values)));
        } else if (code == kWarnUnrelated) {
            out.emplace_back(text::get(text::IDS_WARN_UNRELATED));
        } else if (code == kWarnConverted) {
            out.emplace_back(text::get(text::IDS_WARN_CONVERTED));
        } else {
            out.push_back(code);  // a code added by a front end names itself
        }
    }
    return out;
}

std::string CheckSection(const PairCheck &check)
{
    std::string out(text::get(text::IDS_CHECK_TITLE));
    out += '\n';
    auto line = [&](const std::string &s) {
        out += "  ";
        out += s;
        out += '\n';
    };
    // A peak too weak to trust names no delay, and material that matches
    // nowhere cannot be said to have nothing wrong with it: the usual
    // cause is a wrong file.
    const bool related = check.silent || std::abs(check.correlation) >= kTrustedCorrelation;
    if (check.delay_trusted || check.silent)
        line(text::format(text::IDS_CHECK_DELAY,
                          {text::sample_count(check.delay_samples), Decimal("%.2f", check.delay_ms)}));
    else
        line(text::format(text::IDS_CHECK_DELAY_UNTRUSTED,
                          {text::sample_count(check.delay_samples), Decimal("%.3f", check.correlation)}));
    line(text::format(text::IDS_CHECK_CORRELATION, Decimal("%.3f", check.correlation)));
    if (related) line(text::format(text::IDS_CHECK_GAIN, Decimal("%+.2f", check.gain_db)));
    PairCheck shown = check;
    // The section says more about unrelated material than the warning does.
    std::erase(shown.warnings, std::string(kWarnUnrelated));
    const std::vector<std::string> findings = CheckFindings(shown);
    if (!related)
        line(std::string(text::get(text::IDS_CHECK_UNRELATED)));
    else if (findings.empty())
        line(std::string(text::get(text::IDS_CHECK_NO_WARNINGS)));
    for (const std::string &f : findings) line("- " + f);
    return out;
}

std::string AppliedSection(const Applied &applied)
{
    std::string out(text::get(text::IDS_APPLIED_TITLE));
    out += '\n';
    bool any = false;
    auto line = [&](const std::string &s) {
        out += "  ";
        out += s;
        out += '\n';
        any = true;
    };
    if (applied.aligned && !applied.delay_untrusted)
        line(text::format(text::IDS_APPLIED_DELAY, text::sample_count(applied.delay_samples)));
    if (applied.delay_untrusted)
        line(text::format(text::IDS_APPLIED_UNTRUSTED, Decimal("%.3f", applied.untrusted_correlation)));
    if (applied.level_matched) line(text::format(text::IDS_APPLIED_GAIN, Decimal("%+.2f", applied.gain_db)));
    if (applied.clipped_values > 0)
        line(text::format(text::IDS_APPLIED_CLIPPED, std::to_string(applied.clipped_values)));
    if (!any) line(std::string(text::get(text::IDS_APPLIED_NOTHING)));
    return out;
}

} // namespace velumar::app
