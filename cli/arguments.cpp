#include <velumar/cli/cli.h>

#include <velumar/text/texts.h>

#include <charconv>
#include <cmath>
#include <limits>

namespace velumar::cli {
namespace {

using text::format;

// The whole of `s` as a finite double; no sign prefix '+', no blanks, no
// "nan"/"inf".
std::optional<double> ParseDouble(std::string_view s)
{
    if (s.empty()) return std::nullopt;
    for (char c : s)
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == 'e' || c == 'E' || c == '+'))
            return std::nullopt;
    double value = 0.0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

// The whole of `s` as a decimal number in [lo, hi].
std::optional<std::uint64_t> ParseUnsigned(std::string_view s, std::uint64_t lo, std::uint64_t hi)
{
    if (s.empty() || s.front() < '0' || s.front() > '9') return std::nullopt;
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size() || value < lo || value > hi) return std::nullopt;
    return value;
}

Options Usage(std::string message)
{
    Options o;
    o.action = Action::UsageError;
    o.error = std::move(message);
    return o;
}

} // namespace

Options ParseArguments(const std::vector<std::string> &args)
{
    M_SETTINGS_DEFAULTS defaults{};
    get_default_settings(&defaults);

    Options o;
    o.level = defaults.level_default;
    o.step = defaults.step_default;

    bool help = false;
    bool version = false;
    bool batch = false;
    bool jobs_given = false;
    std::string first_error;
    std::vector<std::string> files;

    auto fail = [&](std::string message) {
        if (first_error.empty()) first_error = std::move(message);
    };

    bool options_done = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (options_done || arg.size() < 2 || arg[0] != '-') {
            files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options_done = true;
            continue;
        }

        // --name=value or --name value
        std::string name = arg;
        std::optional<std::string> inline_value;
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string::npos) {
            name = arg.substr(0, eq);
            inline_value = arg.substr(eq + 1);
        }
        auto value = [&]() -> std::optional<std::string> {
            if (inline_value) return inline_value;
            if (i + 1 < args.size()) return args[++i];
            return std::nullopt;
        };
        auto flag = [&](bool &target) {
            if (inline_value)
                fail(format(text::IDS_CLI_BAD_OPTION, arg));
            else
                target = true;
        };

        if (name == "--help" || name == "-h") {
            flag(help);
        } else if (name == "--version") {
            flag(version);
        } else if (name == "--json") {
            flag(o.json);
        } else if (name == "--progress" || name == "--no-progress") {
            bool seen = false;
            flag(seen);
            if (seen) o.progress = name == "--progress" ? ProgressMode::On : ProgressMode::Off;
        } else if (name == "--level") {
            const auto v = value();
            if (!v) {
                fail(format(text::IDS_CLI_MISSING_VALUE, name));
            } else if (const auto level = ParseDouble(*v);
                       level && *level >= defaults.level_min && *level <= defaults.level_max) {
                o.level = *level;
            } else {
                fail(format(text::IDS_CLI_BAD_LEVEL, *v));
            }
        } else if (name == "--step") {
            const auto v = value();
            if (!v) {
                fail(format(text::IDS_CLI_MISSING_VALUE, name));
            } else if (const auto step = ParseUnsigned(*v, defaults.step_min, defaults.step_max)) {
                o.step = static_cast<std::uint32_t>(*step);
                o.step_given = true;
            } else {
                fail(format(text::IDS_CLI_BAD_STEP, *v));
            }
        } else if (name == "--jobs") {
            const auto v = value();
            if (!v) {
                fail(format(text::IDS_CLI_MISSING_VALUE, name));
            } else if (const auto jobs = ParseUnsigned(*v, 1, kMaxJobs)) {
                o.jobs = static_cast<unsigned>(*jobs);
                jobs_given = true;
            } else {
                fail(format(text::IDS_CLI_BAD_JOBS, *v));
            }
        } else if (name == "--batch") {
            const auto v = value();
            if (!v || v->empty()) {
                fail(format(text::IDS_CLI_MISSING_VALUE, name));
            } else {
                o.batch_list = *v;
                batch = true;
            }
        } else {
            fail(format(text::IDS_CLI_BAD_OPTION, arg));
        }
    }

    // A request for help or the version is answered whatever else is wrong.
    if (help) {
        o.action = Action::Help;
        return o;
    }
    if (version) {
        o.action = Action::Version;
        return o;
    }
    if (!first_error.empty()) return Usage(std::move(first_error));

    if (batch) {
        if (!files.empty()) return Usage(std::string(text::get(text::IDS_CLI_FILES_WITH_BATCH)));
        o.action = Action::Batch;
        return o;
    }
    if (jobs_given) return Usage(std::string(text::get(text::IDS_CLI_JOBS_WITHOUT_BATCH)));
    if (files.size() != 2) return Usage(std::string(text::get(text::IDS_CLI_FILE_COUNT)));
    o.reference = files[0];
    o.test = files[1];
    o.action = Action::Grade;
    return o;
}

std::string FormatDuration(double hundredths)
{
    // Negative, non-finite or absurdly long times cannot come from a run;
    // they are clamped rather than converted with undefined behaviour.
    constexpr double kMaxMinutes = std::numeric_limits<std::uint32_t>::max();
    if (!(hundredths > 0.0)) hundredths = 0.0;
    double minutes_d = std::trunc(hundredths / 6000.0);
    if (minutes_d > kMaxMinutes) minutes_d = kMaxMinutes;
    const auto minutes = static_cast<std::uint32_t>(minutes_d);
    double rest = hundredths - 6000.0 * minutes;
    if (rest < 0.0) rest = 0.0;
    if (rest >= 6000.0) rest = 5999.0;
    const auto seconds = static_cast<std::uint32_t>(rest / 100.0);
    const auto hundredth = static_cast<std::uint32_t>(rest - 100.0 * seconds);
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%02u:%02u,%02u", minutes, seconds, hundredth);
    return buffer;
}

} // namespace velumar::cli
