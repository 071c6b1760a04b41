#include <velumar/cli/cli.h>

#include <velumar/app/report_record.h>
#include <velumar/text/texts.h>

#include <atomic>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>

namespace velumar::cli {
namespace {

std::string_view Trim(std::string_view s)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (x != b[i]) return false;
    }
    return true;
}

// Splits one line into comma-separated fields; a field may be enclosed in
// double quotes (with "" standing for a quote) so that it can hold commas.
// Returns false when a quoted field is not closed or text follows it.
bool SplitFields(std::string_view line, std::vector<std::string> &fields)
{
    fields.clear();
    std::size_t i = 0;
    while (true) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        std::string field;
        if (i < line.size() && line[i] == '"') {
            ++i;
            bool closed = false;
            while (i < line.size()) {
                if (line[i] == '"') {
                    if (i + 1 < line.size() && line[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                field += line[i++];
            }
            if (!closed) return false;
            while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
            if (i < line.size() && line[i] != ',') return false;
        } else {
            const std::size_t start = i;
            while (i < line.size() && line[i] != ',') ++i;
            field = std::string(Trim(line.substr(start, i - start)));
        }
        fields.push_back(std::move(field));
        if (i >= line.size()) return true;
        ++i;  // the comma
    }
}

} // namespace

std::vector<BatchEntry> ParseBatchList(std::string_view content)
{
    std::vector<BatchEntry> entries;
    std::vector<std::string> fields;
    bool first_meaningful = true;
    std::size_t number = 0;
    while (!content.empty()) {
        const std::size_t end = content.find('\n');
        std::string_view line = content.substr(0, end);
        content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
        ++number;

        if (number == 1 && line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);  // UTF-8 BOM
        const std::string_view trimmed = Trim(line);
        if (trimmed.empty() || trimmed.front() == '#') continue;

        BatchEntry entry;
        entry.line = number;
        const bool ok = SplitFields(trimmed, fields);
        if (first_meaningful) {
            first_meaningful = false;
            if (ok && fields.size() == 2 && EqualsIgnoringCase(fields[0], "reference") &&
                EqualsIgnoringCase(fields[1], "test"))
                continue;
        }
        if (ok && fields.size() == 2 && !fields[0].empty() && !fields[1].empty()) {
            entry.reference = fields[0];
            entry.test = fields[1];
        } else {
            entry.reference = std::string(trimmed);
            entry.error = text::format(text::IDS_CLI_LIST_LINE_ERROR, std::to_string(number));
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::string ResolveListPath(const std::string &list_dir, const std::string &path)
{
    const std::filesystem::path p(path);
    if (p.is_absolute() || list_dir.empty()) return path;
    return (std::filesystem::path(list_dir) / p).string();
}

namespace {

struct BatchResult {
    std::string line;
    int code = kExitInputRejected;  // as a single pair would exit
    report::BatchEntry summary;
};

BatchResult BatchLine(const BatchEntry &entry, const std::string &list_dir, const Options &options)
{
    Json line = Json::object();
    line["reference"] = entry.reference;
    line["test"] = entry.test;
    std::string error = entry.error;
    std::string code = app::kReasonInput;
    int exit_code = kExitInputRejected;
    app::InputRecords input;
    if (error.empty()) {
        try {
            GradeOutcome outcome = GradePair(ResolveListPath(list_dir, entry.reference),
                                             ResolveListPath(list_dir, entry.test), options);
            if (outcome.exit_code == kExitGraded || outcome.exit_code == kExitNotGraded) {
                line.update(ResultJson(outcome.result));
                return {JsonLine(line), outcome.exit_code,
                        app::MakeBatchEntry(outcome.result, entry.reference, entry.test)};
            }
            error = outcome.error;
            code = outcome.result.reason_code;
            input = outcome.result.input;
            exit_code = outcome.exit_code;
        } catch (const std::exception &e) {
            // Out of memory and the like: this pair fails, the batch goes on.
            error = text::format(text::IDS_CLI_INTERNAL_ERROR, e.what());
            code = app::kReasonInternal;
        }
    }
    line.update(ErrorJson(error, code));
    if (input.reference || input.test) line["input"] = InputJson(input);
    report::BatchEntry summary;
    summary.reference = entry.reference;
    summary.test = entry.test;
    summary.status = report::BatchEntry::Status::failed;
    summary.reason = error;
    summary.reason_code = code;
    return {JsonLine(line), exit_code, std::move(summary)};
}

} // namespace

int RunBatch(const std::vector<BatchEntry> &entries, const std::string &list_dir, const Options &options,
              unsigned jobs, const std::function<void(const std::string &line)> &emit,
              const std::function<void(std::size_t done, std::size_t total)> &progress,
              std::vector<report::BatchEntry> *summary)
{
    if (summary != nullptr) summary->assign(entries.size(), {});
    const std::size_t total = entries.size();
    if (total == 0) return kExitGraded;
    if (jobs == 0) jobs = 1;
    if (jobs > total) jobs = static_cast<unsigned>(total);

    std::vector<std::string> lines(total);
    std::vector<char> ready(total, 0);
    std::vector<int> codes(total, kExitGraded);
    std::mutex mutex;
    std::condition_variable done_cv;
    std::atomic<std::size_t> next{0};

    // Each worker takes the next entry of the list; every pair gets its own
    // files and its own model instance, so nothing is shared but the queue.
    auto worker = [&] {
        for (std::size_t i = next++; i < total; i = next++) {
            BatchResult result = BatchLine(entries[i], list_dir, options);
            std::lock_guard lock(mutex);
            lines[i] = std::move(result.line);
            codes[i] = result.code;
            if (summary != nullptr) (*summary)[i] = std::move(result.summary);
            ready[i] = 1;
            done_cv.notify_all();
        }
    };

    std::vector<std::thread> threads;
    threads.reserve(jobs);
    for (unsigned t = 0; t < jobs; ++t) {
        try {
            threads.emplace_back(worker);
        } catch (const std::system_error &) {
            break;  // go on with the threads there are
        }
    }
    if (threads.empty()) worker();  // no thread at all: grade here

    bool refused = false;
    bool not_graded = false;
    for (std::size_t i = 0; i < total; ++i) {
        std::string line;
        {
            std::unique_lock lock(mutex);
            done_cv.wait(lock, [&] { return ready[i] != 0; });
            line = std::move(lines[i]);
            refused = refused || (codes[i] != kExitGraded && codes[i] != kExitNotGraded);
            not_graded = not_graded || codes[i] == kExitNotGraded;
        }
        emit(line);
        if (progress) progress(i + 1, total);
    }
    for (auto &t : threads) t.join();
    if (refused) return kExitInputRejected;
    return not_graded ? kExitNotGraded : kExitGraded;
}

} // namespace velumar::cli
