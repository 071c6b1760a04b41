// velumar-cli's parsers fed arbitrary text: the input split at NUL bytes is
// a command line; the whole input is also a batch list, every argument a
// JSON error line and the first eight bytes a duration to format.
#include <velumar/cli/cli.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace velumar::cli;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char *>(data), size);
    std::vector<std::string> args;
    for (std::size_t start = 0; start <= input.size();) {
        std::size_t end = input.find('\0', start);
        if (end == std::string::npos) end = input.size();
        args.push_back(input.substr(start, end - start));
        start = end + 1;
    }

    const Options o = ParseArguments(args);
    if ((o.action == Action::UsageError) == o.error.empty()) std::abort();
    // The two files are arguments as given, not pieces of them.
    auto given = [&](const std::string &name) { return std::find(args.begin(), args.end(), name) != args.end(); };
    if (o.action == Action::Grade && !(given(o.reference) && given(o.test))) std::abort();
    if (o.action != Action::UsageError &&
        (!(o.level >= 0.0 && o.level <= 100.0) || o.step == 0 || o.jobs > kMaxJobs ||
         !(o.max_delay_ms >= 0.0 && o.max_delay_ms <= 10000.0) || (!o.check && (o.align || o.match_level))))
        std::abort();
    if (o.action == Action::Batch && o.batch_list.empty()) std::abort();

    // Any argument, whatever its bytes, is written as one line of JSON that
    // reads back as an object holding one string.
    for (const auto &a : args) {
        const std::string line = JsonLine(ErrorJson(a, "input"));
        if (line.find('\n') != line.size() - 1) std::abort();
        const Json back = Json::parse(line, nullptr, false);
        if (back.is_discarded() || !back["error"].is_string()) std::abort();
    }

    std::size_t last_line = 0;
    for (const BatchEntry &e : ParseBatchList(input)) {
        if (e.line <= last_line) std::abort();
        last_line = e.line;
        if (e.error.empty() && (e.reference.empty() || e.test.empty())) std::abort();
    }

    double hundredths = 0.0;
    std::memcpy(&hundredths, input.data(), std::min(input.size(), sizeof hundredths));
    if (FormatDuration(hundredths).size() > 16) std::abort();
    return 0;
}
