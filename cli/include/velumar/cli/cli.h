// velumar-cli's own logic, kept apart from main() so that tests and fuzz
// targets can drive the parser, the pair check and the formatting directly.
#pragma once

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
    std::string error;           // the message of a UsageError
};

constexpr unsigned kMaxJobs = 256;

// Parses the arguments after the program name. Never throws on any input;
// a bad command line gives Action::UsageError with a message.
Options ParseArguments(const std::vector<std::string> &args);

// "%02u:%02u,%02u" of minutes, seconds and hundredths of a time given in
// hundredths of a second, truncating each part.
std::string FormatDuration(double hundredths);

// The two files of a pair, opened and checked the way the input-files page
// checks them.
struct FilePair {
    std::unique_ptr<CWaveFile> reference;
    std::unique_ptr<CWaveFile> test;
};

// Opens and checks a pair; on failure returns the page's message for the
// first fault (nothing stays open), on success an empty string.
std::string OpenFilePair(const std::string &reference, const std::string &test, FilePair &pair);

// Statistics of one run, gathered from the runner's events.
struct RunStats {
    std::uint32_t announced_steps = 0;
    std::uint32_t steps = 0;
    std::uint64_t values = 0;    // 16-bit values actually fed, both channels
    double total_time = 0.0;     // hundredths of a second
    bool stopped = false;

    // Values per second; none when no time was measured.
    std::optional<double> Speed() const;
    // Calculation time over signal time, the signal time taken as whole
    // seconds of `rate` values; none below one second of values.
    std::optional<double> RealTimeFactor(std::uint32_t rate) const;
};

struct GradeResult {
    M_RESULTS model{};
    std::int32_t model_status = 0;  // what get_model_results returned
    RunStats stats;
    std::uint32_t sample_rate = 48000;
};

// Called after every step with the values fed so far and the total.
using ProgressCallback = std::function<void(std::uint64_t done, std::uint64_t total)>;

struct GradeOutcome {
    int exit_code = kExitGraded;
    std::string error;  // the message when exit_code is not kExitGraded
    GradeResult result;
};

// Checks the pair, validates an explicit step against the reference file
// and runs the model. Never throws for bad files or model failures.
GradeOutcome GradePair(const std::string &reference, const std::string &test, const Options &options,
                       const ProgressCallback &progress = {}, const ModelApi &api = LibraryModelApi());

// Runs the model over an open, checked pair.
// Throws PeaqErrors::ModelCreationFailed / ModelExecutionError and
// WaveErrors::FileChangedError.
GradeResult RunPair(const FilePair &pair, const RUN_SETTINGS &settings, const ProgressCallback &progress = {},
                    const ModelApi &api = LibraryModelApi());

// --- output ----------------------------------------------------------------

// Every JSON value the program writes keeps its keys in insertion order.
using Json = nlohmann::ordered_json;

// The result object: grade, statistics and the MOVs (per channel too for
// two channels). Values that cannot be computed are null.
Json ResultJson(const GradeResult &result);
// {"error": message}: what a reader of the JSON gets instead of a result.
Json ErrorJson(const std::string &message);
// `value` as one line of compact JSON with its newline. Never throws: bytes
// that are not valid UTF-8 (a path may hold any bytes) become U+FFFD, and a
// double that is not finite becomes null.
std::string JsonLine(const Json &value);
// The human-readable report.
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
// before it are done.
// Returns true when every pair was graded.
bool RunBatch(const std::vector<BatchEntry> &entries, const std::string &list_dir, const Options &options,
              unsigned jobs, const std::function<void(const std::string &line)> &emit,
              const std::function<void(std::size_t done, std::size_t total)> &progress = {});

// --- process ---------------------------------------------------------------

// Keeps the real standard output for the caller and sends everything
// written to file descriptor 1 afterwards (the model's printf diagnostics)
// to standard error. Returns the stream of the real standard output, or
// null when the descriptors cannot be duplicated.
std::FILE *DivertStandardOutput();

// The whole program after argv has been turned into strings.
int Main(const std::vector<std::string> &args);

} // namespace velumar::cli
