// velumar-cli's own logic, kept apart from main() so that tests and fuzz
// targets can drive the parser, the pair check and the formatting directly.
#pragma once

#include <velumar/app/pipeline.h>
#include <velumar/report/html_report.h>
#include <velumar/runner/model_runner.h>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CWaveFile;

namespace velumar::cli {

// Process exit codes.
enum ExitCode : int {
    kExitGraded = 0,
    kExitInputRejected = 1,  // also: a batch with at least one failed pair
    kExitUsage = 2,
    kExitModelFailure = 3,
    kExitNotGraded = 4,      // the model ran but gave no grade (e.g. too short)
};

enum class Action { Grade, Batch, Help, Version, UsageError };
enum class ProgressMode { Auto, On, Off };

struct Options {
    Action action = Action::Grade;
    std::string reference;
    std::string test;
    std::string batch_list;
    double level = 0.0;          // the library's default unless given
    std::uint32_t step = 0;      // the library's default unless given
    bool step_given = false;     // an explicit step is checked against the file
    unsigned jobs = 0;           // 0: one per core
    bool json = false;
    ProgressMode progress = ProgressMode::Auto;
    bool check = true;           // the pair analysis before grading
    double max_delay_ms = 500.0;
    bool align = false;
    bool match_level = false;
    std::string frames;          // --frames: per-frame values ("-": standard output)
    std::string report;          // --report: the HTML report (a summary with --batch)
    bool strict = false;         // only what the model takes natively, nothing converted
    std::string error;           // the message of a UsageError
};

constexpr unsigned kMaxJobs = 256;

// Parses the arguments after the program name. Never throws on any input;
// a bad command line gives Action::UsageError with a message.
Options ParseArguments(const std::vector<std::string> &args);

using app::FormatDuration;
// The run statistics and the whole result of one pair come from the
// grading pipeline.
using RunStats = app::RunStatistics;
using GradeResult = app::GradeReport;

using app::ProgressCallback;

struct GradeOutcome {
    int exit_code = kExitGraded;
    // The message when the pair was refused or the model failed (exit
    // codes 1 to 3); a pair without a grade (4) has its reason in result.
    std::string error;
    GradeResult result;
};

// The pipeline's settings for these options.
app::GradeSettings PipelineSettings(const Options &options);

// Grades a pair through the pipeline and maps its outcome to an exit code.
// Never throws for bad files or model failures.
GradeOutcome GradePair(const std::string &reference, const std::string &test, const Options &options,
                       const ProgressCallback &progress = {}, const ModelApi &api = LibraryModelApi());
// The same with all of the pipeline's hooks (per-frame values among them);
// hooks.api, when null, is the library's own.
GradeOutcome GradePair(const std::string &reference, const std::string &test, const Options &options,
                       const app::GradeHooks &hooks);

// --- output ----------------------------------------------------------------

// Every JSON value the program writes keeps its keys in insertion order.
using Json = nlohmann::ordered_json;

// The result object: "graded", the grade (null without one, with
// "reason" and "reason_code" saying why), statistics, the MOVs (per
// channel too for two channels), the pair check, what was applied and the
// input files.
// Values that cannot be computed are null.
Json ResultJson(const GradeResult &result);
// {"graded": false, "error": message, "reason_code": code}: what a reader
// of the JSON gets instead of a result; with "input" when either file of
// the result could be opened.
Json ErrorJson(const std::string &message, const std::string &reason_code);
Json ErrorJson(const std::string &message, const GradeResult &result);
// {"reference": {...}, "test": {...}}: what each file is and what was done
// to it; null for a file that could not be opened.
Json InputJson(const app::InputRecords &input);
Json CheckJson(const app::PairCheck &check);
Json AppliedJson(const app::Applied &applied);
// `value` as one line of compact JSON with its newline. Never throws: bytes
// that are not valid UTF-8 (a path may hold any bytes) become U+FFFD, and a
// double that is not finite becomes null.
std::string JsonLine(const Json &value);
// The human-readable report: the reason instead of a grade when there is
// none, the pair check and what was applied.
std::string ResultText(const GradeResult &result, const std::string &reference, const std::string &test);

// --- batch -----------------------------------------------------------------

struct BatchEntry {
    std::size_t line = 0;       // 1-based line of the list
    std::string reference;      // as written in the list
    std::string test;
    std::string error;          // the line could not be read as a pair
};

// The pairs of a list: blank lines, lines starting with '#' and a first
// line "reference,test" are skipped. Fields may be double-quoted.
std::vector<BatchEntry> ParseBatchList(std::string_view content);

// `path` as written in a list in `list_dir`: relative paths are taken
// relative to that folder.
std::string ResolveListPath(const std::string &list_dir, const std::string &path);

// Grades every entry on `jobs` threads (at least one) and hands each JSON
// line (newline included) to `emit` in list order, as soon as it and all
// before it are done. Every line carries "graded".
// Returns kExitGraded when every pair was graded, kExitInputRejected when
// any was refused or failed, else kExitNotGraded.
// When summary is not null it receives one line per entry, in list order,
// for the batch's HTML summary.
int RunBatch(const std::vector<BatchEntry> &entries, const std::string &list_dir, const Options &options,
              unsigned jobs, const std::function<void(const std::string &line)> &emit,
              const std::function<void(std::size_t done, std::size_t total)> &progress = {},
              std::vector<report::BatchEntry> *summary = nullptr);

// --- process ---------------------------------------------------------------

// The whole program after argv has been turned into strings.
int Main(const std::vector<std::string> &args);

} // namespace velumar::cli
