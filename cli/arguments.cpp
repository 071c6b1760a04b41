#include <velumar/cli/cli.h>

#include <velumar/text/texts.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>
#include <limits>
#include <mutex>

#include <getopt.h>

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

// The longest delay searched for: ten seconds either way (the search
// transforms grow with it).
constexpr double kMaxDelayMs = 10000.0;

// What the options have said so far; turned into Options at the end.
struct Parse {
    Options options;
    M_SETTINGS_DEFAULTS defaults{};
    bool help = false;
    bool version = false;
    bool batch = false;
    bool jobs_given = false;
};

// One command-line option. To add an option, add a row to kOptions (and
// its line to the usage text); a rule that involves several options goes
// into Finish. Options are taken only as written in full: "--name",
// "--name=VALUE" or "--name VALUE", and a short name alone ("-h").
struct OptionDef {
    const char *name;  // without the leading "--"
    char short_name;   // 0 when there is none
    bool takes_value;  // given as "--name VALUE" or "--name=VALUE"
    // Records the option; returns the message for a bad value, else empty.
    std::string (*apply)(Parse &p, const std::string &option, const std::string &value);
};

const OptionDef kOptions[] = {
    {"help", 'h', false,
     [](Parse &p, const std::string &, const std::string &) {
         p.help = true;
         return std::string();
     }},
    {"version", 0, false,
     [](Parse &p, const std::string &, const std::string &) {
         p.version = true;
         return std::string();
     }},
    {"json", 0, false,
     [](Parse &p, const std::string &, const std::string &) {
         p.options.json = true;
         return std::string();
     }},
    {"progress", 0, false,
     [](Parse &p, const std::string &, const std::string &) {
         p.options.progress = ProgressMode::On;
         return std::string();
     }},
    {"no-progress", 0, false,
     [](Parse &p, const std::string &, const std::string &) {
         p.options.progress = ProgressMode::Off;
         return std::string();
     }},
    {"level", 0, true,
     [](Parse &p, const std::string &, const std::string &value) {
         const auto level = ParseDouble(value);
         if (!level || *level < p.defaults.level_min || *level > p.defaults.level_max)
             return format(text::IDS_CLI_BAD_LEVEL, value);
         p.options.level = *level;
         return std::string();
     }},
    {"step", 0, true,
     [](Parse &p, const std::string &, const std::string &value) {
         const auto step = ParseUnsigned(value, p.defaults.step_min, p.defaults.step_max);
         if (!step) return format(text::IDS_CLI_BAD_STEP, value);
         p.options.step = static_cast<std::uint32_t>(*step);
         p.options.step_given = true;
         return std::string();
     }},
    {"jobs", 0, true,
     [](Parse &p, const std::string &, const std::string &value) {
         const auto jobs = ParseUnsigned(value, 1, kMaxJobs);
         if (!jobs) return format(text::IDS_CLI_BAD_JOBS, value);
         p.options.jobs = static_cast<unsigned>(*jobs);
         p.jobs_given = true;
         return std::string();
     }},
    {"no-check", 0, false,
     [](Parse &p, const std::string &, const std::string &) {
         p.options.check = false;
         return std::string();
     }},
    {"max-delay", 0, true,
     [](Parse &p, const std::string &, const std::string &value) {
         const auto ms = ParseDouble(value);
         if (!ms || *ms < 0.0 || *ms > kMaxDelayMs) return format(text::IDS_CLI_BAD_MAX_DELAY, value);
         p.options.max_delay_ms = *ms;
         return std::string();
     }},
    {"align", 0, false,
     [](Parse &p, const std::string &, const std::string &) {
         p.options.align = true;
         return std::string();
     }},
    {"match-level", 0, false,
     [](Parse &p, const std::string &, const std::string &) {
         p.options.match_level = true;
         return std::string();
     }},
    {"frames", 0, true,
     [](Parse &p, const std::string &option, const std::string &value) {
         if (value.empty()) return format(text::IDS_CLI_MISSING_VALUE, option);
         p.options.frames = value;
         return std::string();
     }},
    {"report", 0, true,
     [](Parse &p, const std::string &option, const std::string &value) {
         if (value.empty()) return format(text::IDS_CLI_MISSING_VALUE, option);
         p.options.report = value;
         return std::string();
     }},
    {"strict", 0, false,
     [](Parse &p, const std::string &, const std::string &) {
         p.options.strict = true;
         return std::string();
     }},
    {"batch", 0, true,
     [](Parse &p, const std::string &option, const std::string &value) {
         if (value.empty()) return format(text::IDS_CLI_MISSING_VALUE, option);
         p.options.batch_list = value;
         p.batch = true;
         return std::string();
     }},
};

Options Usage(std::string message)
{
    Options o;
    o.action = Action::UsageError;
    o.error = std::move(message);
    return o;
}

// The rules that involve more than one option, once all are read.
Options Finish(Parse &p, const std::string &first_error, const std::vector<std::string> &files)
{
    Options &o = p.options;
    // A usage error is reported as JSON too when JSON was asked for.
    auto usage = [&](std::string message) {
        Options u = Usage(std::move(message));
        u.json = o.json;
        return u;
    };
    // A request for help or the version is answered whatever else is wrong.
    if (p.help) {
        o.action = Action::Help;
        return o;
    }
    if (p.version) {
        o.action = Action::Version;
        return o;
    }
    if (!first_error.empty()) return usage(first_error);
    if (!o.check && (o.align || o.match_level)) return usage(std::string(text::get(text::IDS_CLI_NO_CHECK_CONFLICT)));

    if (o.frames == "-" && o.json) return usage(std::string(text::get(text::IDS_CLI_FRAMES_JSON_STDOUT)));

    if (p.batch) {
        if (!files.empty()) return usage(std::string(text::get(text::IDS_CLI_FILES_WITH_BATCH)));
        if (!o.frames.empty()) return usage(std::string(text::get(text::IDS_CLI_FRAMES_WITH_BATCH)));
        o.action = Action::Batch;
        return o;
    }
    if (p.jobs_given) return usage(std::string(text::get(text::IDS_CLI_JOBS_WITHOUT_BATCH)));
    if (files.size() != 2) return usage(std::string(text::get(text::IDS_CLI_FILE_COUNT)));
    o.reference = files[0];
    o.test = files[1];
    o.action = Action::Grade;
    return o;
}

// getopt_long keeps its position in globals: one parse at a time.
std::mutex getopt_mutex;

} // namespace

Options ParseArguments(const std::vector<std::string> &args)
{
    Parse p;
    get_default_settings(&p.defaults);
    p.options.level = p.defaults.level_default;
    p.options.step = p.defaults.step_default;

    std::string first_error;
    auto fail = [&](std::string message) {
        if (first_error.empty()) first_error = std::move(message);
    };

    // argv for getopt_long: a program name, then the arguments. It reads C
    // strings, so in its copies a NUL byte becomes \x01: an argument holding
    // one is then parsed as a whole (and refused where it is used) instead
    // of as the part before the NUL. What is kept is read from `storage`.
    std::vector<std::string> storage;
    storage.reserve(args.size() + 1);
    storage.emplace_back("velumar-cli");
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<std::string> copies = storage;
    for (std::string &s : copies) std::replace(s.begin(), s.end(), '\0', '\x01');
    std::vector<char *> argv;
    argv.reserve(copies.size() + 1);
    for (std::string &s : copies) argv.push_back(s.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(copies.size());

    // The whole argument behind what getopt_long handed back in optarg.
    auto whole = [&](int at, const char *arg) -> std::string {
        for (int k : {at, at + 1}) {
            if (k >= argc) break;
            const std::string &copy = copies[static_cast<std::size_t>(k)];
            if (arg >= copy.data() && arg <= copy.data() + copy.size())
                return storage[static_cast<std::size_t>(k)].substr(static_cast<std::size_t>(arg - copy.data()));
        }
        return arg;
    };

    constexpr std::size_t kCount = std::size(kOptions);
    constexpr int kFirstLong = 0x100;  // getopt_long's values for long options: past any char
    std::vector<option> longopts;
    // '-': files come back in order as value 1 and argv is never permuted,
    // so an element's index is its index in `storage`; ':': a missing value
    // is told apart from an unknown option.
    std::string shortopts = "-:";
    for (std::size_t i = 0; i < kCount; ++i) {
        const OptionDef &def = kOptions[i];
        longopts.push_back({def.name, def.takes_value ? required_argument : no_argument, nullptr,
                            kFirstLong + static_cast<int>(i)});
        if (def.short_name != 0) {
            shortopts += def.short_name;
            if (def.takes_value) shortopts += ':';
        }
    }
    longopts.push_back({nullptr, 0, nullptr, 0});

    auto by_value = [&](int value) -> const OptionDef * {
        if (value >= kFirstLong && value < kFirstLong + static_cast<int>(kCount)) return &kOptions[value - kFirstLong];
        for (const OptionDef &def : kOptions)
            if (def.short_name != 0 && def.short_name == value) return &def;
        return nullptr;
    };

    std::vector<std::string> files;
    {
        std::lock_guard lock(getopt_mutex);
        optind = 0;  // 0, not 1: glibc starts afresh and rereads shortopts
        opterr = 0;  // the messages are ours, in Russian
        while (true) {
            const int at = optind == 0 ? 1 : optind;  // the element being read
            const int c = getopt_long(argc, argv.data(), shortopts.c_str(), longopts.data(), nullptr);
            if (c == -1) break;
            const std::string element = at < argc ? storage[static_cast<std::size_t>(at)] : std::string();
            if (c == 1) {  // not an option: one of the files
                files.push_back(element);
                continue;
            }
            const OptionDef *def = by_value(c == ':' ? optopt : c);
            if (c == '?' || def == nullptr) {
                fail(format(text::IDS_CLI_BAD_OPTION, element));
                continue;
            }
            const std::string name =
                def->short_name != 0 && element.size() == 2 ? element : std::string("--") + def->name;
            // Only an option written out in full counts: no abbreviations,
            // no further short options stuck to this one.
            const std::string written = element.substr(0, element.find('='));
            if (written != name && written != std::string("--") + def->name) {
                fail(format(text::IDS_CLI_BAD_OPTION, element));
                // A value taken from the next element was not this option's.
                if (def->takes_value && optind == at + 2 && element.find('=') == std::string::npos) optind = at + 1;
                continue;
            }
            if (c == ':') {
                fail(format(text::IDS_CLI_MISSING_VALUE, name));
                continue;
            }
            const std::string value = def->takes_value && optarg != nullptr ? whole(at, optarg) : std::string();
            std::string message = def->apply(p, name, value);
            if (!message.empty()) fail(std::move(message));
        }
        // After "--" everything left is a file.
        for (int i = optind; i < argc; ++i) files.push_back(storage[static_cast<std::size_t>(i)]);
    }
    return Finish(p, first_error, files);
}

} // namespace velumar::cli
