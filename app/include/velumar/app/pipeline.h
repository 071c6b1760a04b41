// The grading pipeline every front end uses: open and check a pair, analyse
// it, align and level-match it on request, run the model through the runner
// and hand back one record — a grade, or the reason there is none.
#pragma once

#include <velumar/app/pair_analysis.h>
#include <velumar/app/pair_source.h>
#include <velumar/audio/input.h>
#include <velumar/app/run_statistics.h>
#include <velumar/runner/model_runner.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velumar::app {

struct GradeSettings {
    RUN_SETTINGS run = DefaultRunSettings();
    // An explicit step must not exceed the reference's values (as in the
    // settings dialog); the default step applies to files of any length.
    bool step_must_fit = false;
    // The pair analysis; align and match_level run it whatever this says.
    bool check = true;
    AnalysisSettings analysis;
    // Grade the overlap after removing a trusted delay; also lets pairs of
    // different lengths be graded (their common part).
    bool align = false;
    // Multiply the test by the inverse of the measured gain, sign included:
    // a quieter test is brought to the reference's level and an inverted
    // one is turned back.
    bool match_level = false;
};

enum class Status {
    Graded,     // the model's network gave a grade
    NotGraded,  // the run ended, but the grade is one of the in-band failure values
    Refused,    // the input was refused (files, lengths, a step too large)
    Failed,     // the model could not be created or a stage failed
};

// Reason codes of a result without a grade.
inline constexpr const char *kReasonTooShort = "too_short";          // fewer than 23 frames
inline constexpr const char *kReasonNotBasic = "not_basic";          // a model version other than basic
inline constexpr const char *kReasonMovsUnavailable = "movs_unavailable";
inline constexpr const char *kReasonInput = "input";                 // a file the page's check refuses
inline constexpr const char *kReasonLengths = "lengths_differ";      // without align
inline constexpr const char *kReasonNoOverlap = "no_overlap";        // nothing left after the shift
inline constexpr const char *kReasonStepTooLarge = "step_too_large";
inline constexpr const char *kReasonFileChanged = "file_changed";
inline constexpr const char *kReasonModelCreation = "model_creation";
inline constexpr const char *kReasonModelExecution = "model_execution";
inline constexpr const char *kReasonInternal = "internal";

// What was done to the pair before grading.
struct Applied {
    // Frames dropped at the start of the test (positive) or of the
    // reference (negative); 0 when nothing was shifted.
    std::int64_t delay_samples = 0;
    // The gain the test was multiplied by, in dB (0 when not scaled).
    double gain_db = 0.0;
    bool aligned = false;        // the overlap was graded
    bool level_matched = false;
    bool inverted_back = false;  // the scaling turned the polarity back
    // align was asked for but the peak was not trusted: nothing shifted.
    bool delay_untrusted = false;
    double untrusted_correlation = 0.0;  // the correlation of that peak
    std::uint64_t clipped_values = 0;  // scaled values clipped to 16 bits
};

// The files of a pair and what was done to them on the way to the model;
// a record is present when its file could be opened.
struct InputRecords {
    std::optional<audio::InputInfo> reference;
    std::optional<audio::InputInfo> test;
};

struct GradeReport {
    Status status = Status::Refused;
    // Empty when graded; otherwise a Russian sentence saying why there is
    // no grade, and one of the kReason... codes.
    std::string reason;
    std::string reason_code;
    // The stage code of a model_execution failure.
    std::int32_t stage_code = 0;

    // Filled when the model ran (graded or not). odg holds an in-band
    // failure value when not graded: never to be shown as a grade.
    M_RESULTS model{};
    std::int32_t model_status = 0;
    RunStatistics stats;
    std::uint32_t sample_rate = 48000;
    std::uint16_t channels = 0;
    std::uint64_t reference_values = 0;
    std::uint64_t test_values = 0;

    std::optional<PairCheck> check;    // none when the analysis was skipped
    std::optional<Applied> applied;    // none when neither align nor match_level was asked
    InputRecords input;                // the files, as far as they could be opened

    bool graded() const { return status == Status::Graded; }
    bool ran() const { return status == Status::Graded || status == Status::NotGraded; }
};

// Called after every step with the values fed so far and the total.
using ProgressCallback = std::function<void(std::uint64_t done, std::uint64_t total)>;

struct GradeHooks {
    ProgressCallback progress;
    // Receives every runner event as well (the wizard's page); its stop
    // request is passed on to the runner.
    CRunObserver *observer = nullptr;
    const ModelApi *api = nullptr;  // the library's own when null
    // Where the model's own lines go (standard output when no handler).
    ModelMessages messages;
    // Per-frame values: when frame_observer is set, `frames_start` (if set)
    // is called once before the first frame with the sample frames cut from
    // the reference's start (a trimmed delay; frame times are shifted by
    // it), then frame_observer gets every frame as the model produces it.
    std::function<void(std::uint64_t reference_skip)> frames_start;
    velumar_frame_observer frame_observer = nullptr;
    void *frame_user = nullptr;
};

// The whole pipeline from two paths of native WAV files. Never throws for
// bad input or model failures: they come back as Refused or Failed.
GradeReport GradeFiles(const std::string &reference, const std::string &test, const GradeSettings &settings,
                       const GradeHooks &hooks = {});

// The pipeline from an open pair onward (analysis, adjustment, the run).
GradeReport GradeSource(PairSource &source, const GradeSettings &settings, const GradeHooks &hooks = {});

// The analysis of a source as the pipeline runs it.
PairCheck AnalyseSource(PairSource &source, const AnalysisSettings &settings);

// What align and match_level make of a source and its check.
Adjustment PlanAdjustment(const PairSource &source, const PairCheck *check, const GradeSettings &settings,
                          Applied *applied);

// Graded, or why not, from what the model returned.
void JudgeResults(GradeReport &report, std::int32_t version);

// Russian sentences: one per warning of a check, in its order; the check
// as a short section (title, delay, correlation, gain, the warnings); what
// was applied.
std::vector<std::string> CheckFindings(const PairCheck &check);
std::string CheckSection(const PairCheck &check);
std::string AppliedSection(const Applied &applied);

} // namespace velumar::app
