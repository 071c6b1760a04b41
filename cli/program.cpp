#include <velumar/cli/cli.h>

#include <velumar/app/report_record.h>
#include <velumar/report/frame_writer.h>
#include <velumar/report/model_frame.h>
#include <velumar/report/write_file.h>
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

// A std::ostream over a C stream (the real standard output, kept apart
// from the model's diagnostics).
class FileBuffer : public std::streambuf {
public:
    explicit FileBuffer(std::FILE *file) : file_(file) {}

protected:
    int_type overflow(int_type ch) override
    {
        if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
        const char c = traits_type::to_char_type(ch);
        return std::fwrite(&c, 1, 1, file_) == 1 ? ch : traits_type::eof();
    }
    std::streamsize xsputn(const char *s, std::streamsize n) override
    {
        return static_cast<std::streamsize>(std::fwrite(s, 1, static_cast<std::size_t>(n), file_));
    }
    int sync() override { return std::fflush(file_) == 0 ? 0 : -1; }

private:
    std::FILE *file_;
};

// Receives the model's per-frame records during a run: writes each as a row
// at once (nothing is kept) and, for a report, adds it to a series of
// bounded size. A write that fails stops the writing, not the grading; the
// failure is reported after the run.
class FrameSink {
public:
    FrameSink(std::ostream *rows, report::FrameFormat format, bool collect)
        : rows_(rows), format_(format), collect_(collect)
    {
    }

    void Hook(app::GradeHooks &hooks)
    {
        hooks.frames_start = [this](std::uint64_t reference_skip) {
            offset_ = static_cast<std::int64_t>(reference_skip);
        };
        hooks.frame_observer = &FrameSink::OnFrame;
        hooks.frame_user = this;
    }

    // After the run: a file of a run without frames still gets its header.
    bool Finish(std::uint32_t channels)
    {
        if (failed_ || rows_ == nullptr) return !failed_;
        try {
            if (!writer_) writer_ = report::make_frame_writer(*rows_, format_, channels == 2 ? 2 : 1);
            writer_->finish();
        } catch (const std::exception &) {
            failed_ = true;
        }
        return !failed_;
    }

    const report::FrameSeries *series() const { return series_ ? &*series_ : nullptr; }

private:
    static void OnFrame(void *user, const VELUMAR_FRAME *frame) { static_cast<FrameSink *>(user)->Add(*frame); }

    void Add(const VELUMAR_FRAME &frame)
    {
        // Nothing may escape into the model's frame loop.
        try {
            const report::FrameRow row = report::frame_row_from_model(frame, offset_);
            if (collect_) {
                if (!series_) series_.emplace(row.channels);
                series_->add(row);
            }
            if (rows_ != nullptr && !failed_) {
                if (!writer_) writer_ = report::make_frame_writer(*rows_, format_, row.channels);
                writer_->write(row);
            }
        } catch (const std::exception &) {
            failed_ = true;
        }
    }

    std::ostream *rows_;
    report::FrameFormat format_;
    bool collect_;
    std::int64_t offset_ = 0;
    bool failed_ = false;
    std::unique_ptr<report::FrameWriter> writer_;
    std::optional<report::FrameSeries> series_;
};

int GradeOne(const Options &options)
{
    // The model's own lines go to standard error, so rows on standard
    // output stay clean.
    const bool rows_to_stdout = options.frames == "-";
    std::FILE *out = stdout;

    // Output files are opened first: a path that cannot be written is
    // found before the grading time is spent.
    std::ofstream frames_file;
    std::ofstream report_file;
    FileBuffer stdout_buffer(out);
    std::ostream stdout_stream(&stdout_buffer);
    std::ostream *rows = nullptr;
    if (rows_to_stdout) {
        rows = &stdout_stream;
    } else if (!options.frames.empty()) {
        frames_file.open(options.frames, std::ios::binary | std::ios::trunc);
        if (!frames_file)
            return Fail(out, options, text::format(text::IDS_CLI_FRAMES_WRITE_ERROR, options.frames),
                        kExitInputRejected, app::kReasonInput);
        rows = &frames_file;
    }
    if (!options.report.empty()) {
        report_file.open(options.report, std::ios::binary | std::ios::trunc);
        if (!report_file)
            return Fail(out, options, text::format(text::IDS_CLI_REPORT_WRITE_ERROR, options.report),
                        kExitInputRejected, app::kReasonInput);
    }

    FrameSink sink(rows, report::frame_format_for_path(options.frames), !options.report.empty());
    GradeOutcome outcome;
    {
        std::optional<ProgressBar> bar;
        if (ProgressWanted(options)) bar.emplace(text::get(text::IDS_CLI_PROGRESS));
        app::GradeHooks hooks;
        if (bar) hooks.progress = [&](std::uint64_t done, std::uint64_t total) { bar->Update(done, total); };
        if (rows != nullptr || !options.report.empty()) sink.Hook(hooks);
        outcome = GradePair(options.reference, options.test, options, hooks);
    }

    // The extra outputs: their failure turns a grade into exit code 1, the
    // grade itself is still printed.
    int code = outcome.exit_code;
    if (rows != nullptr && !sink.Finish(outcome.result.channels)) {
        PrintError(text::format(text::IDS_CLI_FRAMES_WRITE_ERROR, options.frames));
        code = kExitInputRejected;
    }
    if (!options.report.empty()) {
        report::ReportData data =
            app::MakeReportData(outcome.result, PipelineSettings(options), options.reference, options.test);
        data.series = sink.series();
        if (!report::write_and_close(report_file, [&](std::ostream &o) { report::write_html_report(o, data); })) {
            PrintError(text::format(text::IDS_CLI_REPORT_WRITE_ERROR, options.report));
            code = kExitInputRejected;
        }
    }

    // A pair without a grade still gets its report, with the reason in
    // place of the grade. A refusal's JSON describes the files that could
    // be opened.
    if (outcome.exit_code != kExitGraded && outcome.exit_code != kExitNotGraded) {
        PrintError(outcome.error);
        const bool written = !options.json || Write(out, JsonLine(ErrorJson(outcome.error, outcome.result)));
        return Finish(out, written, outcome.exit_code);
    }

    const std::string result = options.json ? JsonLine(ResultJson(outcome.result))
                                            : ResultText(outcome.result, options.reference, options.test);
    return Finish(out, Write(out, result), code);
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

// An audio file given as the list (the usual slip: --batch before a file
// of the pair) would otherwise yield an error line for every newline byte
// of its samples.
bool LooksLikeAudio(std::string_view content)
{
    for (const std::string_view magic : {"RIFF", "RF64", "BW64", "FORM", "fLaC", "OggS", "ID3", "caff", ".snd"})
        if (content.starts_with(magic)) return true;
    return false;
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
    if (LooksLikeAudio(content))
        return Fail(stdout, options, text::format(text::IDS_CLI_LIST_IS_AUDIO, options.batch_list),
                    kExitInputRejected, app::kReasonInput);
    const std::vector<BatchEntry> entries = ParseBatchList(content);
    const std::string list_dir =
        from_stdin ? std::string() : std::filesystem::path(options.batch_list).parent_path().string();

    std::FILE *out = stdout;

    std::ofstream report_file;
    if (!options.report.empty()) {
        report_file.open(options.report, std::ios::binary | std::ios::trunc);
        if (!report_file)
            return Fail(out, options, text::format(text::IDS_CLI_REPORT_WRITE_ERROR, options.report),
                        kExitInputRejected, app::kReasonInput);
    }
    std::vector<report::BatchEntry> summary;

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
        },
        options.report.empty() ? nullptr : &summary);
    bar.reset();
    int result = code;
    if (!options.report.empty()) {
        const auto write = [&](std::ostream &o) { report::write_batch_report(o, summary, app::ProgramVersion()); };
        if (!report::write_and_close(report_file, write)) {
            PrintError(text::format(text::IDS_CLI_REPORT_WRITE_ERROR, options.report));
            result = kExitInputRejected;
        }
    }
    return Finish(out, written, result);
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
