#include <velumar/cli/cli.h>

#include <velumar/text/texts.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fstream>
#include <filesystem>
#include <sstream>
#include <thread>

#include <unistd.h>

namespace velumar::cli {

namespace {

// The line that erases a drawn progress bar: back to the start, clear it.
constexpr char kClearLine[] = "\r\x1b[2K";

// Whether a progress bar is on the terminal now, for the signal handler.
std::atomic<bool> g_bar_drawn{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// SIGINT and SIGTERM end the program as they would without a handler, but
// leave no half-drawn progress bar behind: the shell prompt then starts on
// a clean line and the exit status is the usual 128 + the signal number.
extern "C" void OnTerminatingSignal(int signal_number)
{
    if (g_bar_drawn.load()) {
        const ssize_t ignored = ::write(STDERR_FILENO, kClearLine, sizeof kClearLine - 1);
        static_cast<void>(ignored);
    }
    // SA_RESETHAND restored the default action; SA_NODEFER lets it act now.
    ::raise(signal_number);
}

void InstallSignalHandlers()
{
    for (const int signal_number : {SIGINT, SIGTERM}) {
        struct sigaction current {};
        // A signal the caller chose to ignore (nohup, a background job) stays ignored.
        if (::sigaction(signal_number, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = OnTerminatingSignal;
        action.sa_flags = SA_RESETHAND | SA_NODEFER;
        ::sigemptyset(&action.sa_mask);
        ::sigaction(signal_number, &action, nullptr);
    }
}

// A one-line progress bar on standard error, redrawn at most every 100 ms
// and whenever the percentage changes.
class ProgressBar {
public:
    explicit ProgressBar(std::string_view caption) : caption_(caption) {}
    ~ProgressBar() { Clear(); }
    ProgressBar(const ProgressBar &) = delete;
    ProgressBar &operator=(const ProgressBar &) = delete;

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
        g_bar_drawn = true;
        std::fputs(bar.c_str(), stderr);
        std::fflush(stderr);
    }

    void Clear()
    {
        if (!drawn_) return;
        std::fputs(kClearLine, stderr);
        std::fflush(stderr);
        g_bar_drawn = false;
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

// The whole message, whatever bytes a path in it holds.
void PrintError(const std::string &message)
{
    std::fwrite(message.data(), 1, message.size(), stderr);
    std::fputc('\n', stderr);
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

// A failure that ends the program: the message on standard error and, when
// the output is JSON, also as {"error": ...} on `out`, so that whoever reads
// the JSON gets one object in every case.
int Fail(std::FILE *out, const Options &options, const std::string &message, int code,
         const std::string &reason_code)
{
    PrintError(message);
    const bool written = !options.json || Write(out, JsonLine(ErrorJson(message, reason_code)));
    return Finish(out, written, code);
}

int GradeOne(const Options &options)
{
    std::FILE *out = stdout;

    GradeOutcome outcome;
    {
        std::optional<ProgressBar> bar;
        if (ProgressWanted(options)) bar.emplace(text::get(text::IDS_CLI_PROGRESS));
        ProgressCallback progress;
        if (bar) progress = [&](std::uint64_t done, std::uint64_t total) { bar->Update(done, total); };
        outcome = GradePair(options.reference, options.test, options, progress);
    }

    // A pair without a grade still gets its report, with the reason in
    // place of the grade. A refusal's JSON describes the files that could
    // be opened.
    if (outcome.exit_code != kExitGraded && outcome.exit_code != kExitNotGraded) {
        PrintError(outcome.error);
        const bool written = !options.json || Write(out, JsonLine(ErrorJson(outcome.error, outcome.result)));
        return Finish(out, written, outcome.exit_code);
    }

    const std::string report = options.json ? JsonLine(ResultJson(outcome.result))
                                            : ResultText(outcome.result, options.reference, options.test);
    return Finish(out, Write(out, report), outcome.exit_code);
}

// The whole list file, or all of standard input for "-"; false when it
// cannot be read (a NUL byte in its path names no file).
bool ReadList(const std::string &path, std::string &content)
{
    std::ostringstream buffer;
    if (path == "-") {
        char block[65536];
        std::size_t n;
        while ((n = std::fread(block, 1, sizeof block, stdin)) > 0) buffer.write(block, static_cast<std::streamsize>(n));
        if (std::ferror(stdin)) return false;
    } else {
        std::error_code ec;
        if (path.find('\0') != std::string::npos || !std::filesystem::is_regular_file(path, ec)) return false;
        std::ifstream in(path, std::ios::binary);
        if (!in.is_open()) return false;
        buffer << in.rdbuf();
        if (in.bad()) return false;
    }
    content = buffer.str();
    return true;
}

int GradeBatch(const Options &options)
{
    // The list is read before anything else: a missing list is bad input.
    // "-" is standard input, its paths relative to the current folder.
    const bool from_stdin = options.batch_list == "-";
    std::string content;
    if (!ReadList(options.batch_list, content))
        return Fail(stdout, options, text::format(text::IDS_CLI_LIST_OPEN_ERROR, options.batch_list),
                    kExitInputRejected, app::kReasonInput);
    const std::vector<BatchEntry> entries = ParseBatchList(content);
    const std::string list_dir =
        from_stdin ? std::string() : std::filesystem::path(options.batch_list).parent_path().string();

    std::FILE *out = stdout;

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
    InstallSignalHandlers();
    const Options options = ParseArguments(args);
    switch (options.action) {
    case Action::Help:
        return Finish(stdout, Write(stdout, std::string(text::get(text::IDS_CLI_USAGE))), kExitGraded);
    case Action::Version: {
        const std::string line = std::string(text::get(text::IDS_APP_TITLE)) + " " +
                                 std::string(text::get(text::IDS_PRODUCT_VERSION)) + "\n";
        return Finish(stdout, Write(stdout, line), kExitGraded);
    }
    case Action::UsageError: {
        const int code = Fail(stdout, options, options.error, kExitUsage, "usage");
        PrintError(std::string(text::get(text::IDS_CLI_TRY_HELP)));
        return code;
    }
    case Action::Batch:
        return GradeBatch(options);
    case Action::Grade:
        break;
    }
    return GradeOne(options);
}

} // namespace velumar::cli
