#include <velumar/cli/cli.h>

#include <velumar/text/texts.h>

#include <chrono>
#include <fstream>
#include <filesystem>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace velumar::cli {

std::FILE *DivertStandardOutput()
{
    std::fflush(stdout);
    const int real_stdout = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (real_stdout < 0) return nullptr;
    std::FILE *out = ::fdopen(real_stdout, "w");
    if (out == nullptr) {
        ::close(real_stdout);
        return nullptr;
    }
    if (::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        std::fclose(out);
        return nullptr;
    }
    // Diagnostics are whole lines: keep them in order with our own stderr.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    return out;
}

namespace {

// A one-line progress bar on standard error, redrawn at most every 100 ms
// and whenever the percentage changes.
class ProgressBar {
public:
    explicit ProgressBar(std::string_view caption) : caption_(caption) {}
    ~ProgressBar() { Clear(); }

    void Update(std::uint64_t done, std::uint64_t total)
    {
        const unsigned percent = total == 0 ? 100u : static_cast<unsigned>(done * 100 / total);
        const auto now = std::chrono::steady_clock::now();
        if (drawn_ && percent == percent_ && now - last_ < std::chrono::milliseconds(100)) return;
        percent_ = percent;
        last_ = now;
        drawn_ = true;
        constexpr unsigned kWidth = 30;
        const unsigned filled = percent * kWidth / 100;
        std::string bar = "\r";
        bar += caption_;
        bar += " [";
        bar.append(filled, '#');
        bar.append(kWidth - filled, '.');
        bar += "] ";
        bar += std::to_string(percent);
        bar += '%';
        std::fputs(bar.c_str(), stderr);
        std::fflush(stderr);
    }

    void Clear()
    {
        if (!drawn_) return;
        std::fputs("\r\x1b[2K", stderr);
        std::fflush(stderr);
        drawn_ = false;
    }

private:
    std::string caption_;
    unsigned percent_ = 0;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point last_{};
};

bool ProgressWanted(const Options &options)
{
    switch (options.progress) {
    case ProgressMode::On: return true;
    case ProgressMode::Off: return false;
    case ProgressMode::Auto: break;
    }
    return ::isatty(STDERR_FILENO) == 1;
}

void PrintError(const std::string &message)
{
    std::fprintf(stderr, "%s\n", message.c_str());
}

// Writes `text` and flushes; false when the output cannot take it.
bool Write(std::FILE *out, const std::string &text)
{
    return std::fwrite(text.data(), 1, text.size(), out) == text.size() && std::fflush(out) == 0;
}

int Finish(std::FILE *out, bool written, int code)
{
    if (out != stdout && std::fclose(out) != 0) written = false;
    if (!written) {
        PrintError(std::string(text::get(text::IDS_CLI_OUTPUT_ERROR)));
        return code == kExitGraded ? kExitInputRejected : code;
    }
    return code;
}

int GradeOne(const Options &options)
{
    std::FILE *out = stdout;
    if (options.json) {
        out = DivertStandardOutput();
        if (out == nullptr) out = stdout;
    }

    GradeOutcome outcome;
    {
        std::optional<ProgressBar> bar;
        if (ProgressWanted(options)) bar.emplace(text::get(text::IDS_CLI_PROGRESS));
        ProgressCallback progress;
        if (bar) progress = [&](std::uint64_t done, std::uint64_t total) { bar->Update(done, total); };
        outcome = GradePair(options.reference, options.test, options, progress);
    }

    if (outcome.exit_code != kExitGraded && outcome.exit_code != kExitNotGraded) {
        PrintError(outcome.error);
        // Whoever reads the JSON gets one object in every case.
        const bool written =
            !options.json || Write(out, JsonLine(ErrorJson(outcome.error, outcome.result.reason_code)));
        return Finish(out, written, outcome.exit_code);
    }

    const std::string report = options.json ? JsonLine(ResultJson(outcome.result))
                                            : ResultText(outcome.result, options.reference, options.test);
    return Finish(out, Write(out, report), outcome.exit_code);
}

int GradeBatch(const Options &options)
{
    // The list is read before anything else: a missing list is bad input.
    std::string content;
    {
        std::error_code ec;
        std::ifstream in;
        if (std::filesystem::is_regular_file(options.batch_list, ec)) in.open(options.batch_list, std::ios::binary);
        std::ostringstream buffer;
        if (in.is_open()) buffer << in.rdbuf();
        if (!in.is_open() || in.bad()) {
            PrintError(text::format(text::IDS_CLI_LIST_OPEN_ERROR, options.batch_list));
            return kExitInputRejected;
        }
        content = buffer.str();
    }
    const std::vector<BatchEntry> entries = ParseBatchList(content);
    const std::string list_dir = std::filesystem::path(options.batch_list).parent_path().string();

    std::FILE *out = DivertStandardOutput();
    if (out == nullptr) out = stdout;

    unsigned jobs = options.jobs;
    if (jobs == 0) jobs = std::thread::hardware_concurrency();
    if (jobs == 0) jobs = 1;

    std::optional<ProgressBar> bar;
    if (ProgressWanted(options)) bar.emplace(text::get(text::IDS_CLI_BATCH_PROGRESS));
    bool written = true;
    const int code = RunBatch(
        entries, list_dir, options, jobs,
        [&](const std::string &line) {
            if (bar) bar->Clear();
            written = Write(out, line) && written;
        },
        [&](std::size_t done, std::size_t total) {
            if (bar) bar->Update(done, total);
        });
    bar.reset();
    return Finish(out, written, code);
}

} // namespace

int Main(const std::vector<std::string> &args)
{
    const Options options = ParseArguments(args);
    switch (options.action) {
    case Action::Help:
        return Finish(stdout, Write(stdout, std::string(text::get(text::IDS_CLI_USAGE))), kExitGraded);
    case Action::Version: {
        const std::string line = std::string(text::get(text::IDS_APP_TITLE)) + " " +
                                 std::string(text::get(text::IDS_PRODUCT_VERSION)) + "\n";
        return Finish(stdout, Write(stdout, line), kExitGraded);
    }
    case Action::UsageError:
        PrintError(options.error);
        PrintError(std::string(text::get(text::IDS_CLI_TRY_HELP)));
        return kExitUsage;
    case Action::Batch:
        return GradeBatch(options);
    case Action::Grade:
        break;
    }
    return GradeOne(options);
}

} // namespace velumar::cli
