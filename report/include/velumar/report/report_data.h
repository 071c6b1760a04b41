// Everything a report shows about one graded (or refused) pair, as plain
// data. The front ends fill it from their grading result; the HTML writer,
// the text summary and the wizard's details window only read it.
#pragma once

#include <velumar/report/frame_series.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velumar::report {

// The eleven model output variables in the order the grading network takes
// them (the same order as the model library's M_MOV_* indices).
inline constexpr int kMovCount = 11;
inline constexpr int kMovAdb = 4;  // one binaural value, no per-channel one

std::string_view mov_name(int index);         // "BandwidthRefB", ...
std::string_view mov_explanation(int index);  // one Russian sentence

struct InputInfo {
    std::string path;
    std::string format;            // e.g. "WAV" / "PCM_16"; empty when unknown
    std::uint32_t sample_rate = 0;
    std::uint32_t bits = 0;        // stored word length; 0 for lossy formats
    std::uint32_t channels = 0;
    std::uint64_t samples_per_channel = 0;  // at the file's own rate
    bool converted = false;        // anything changed on the way to the model
    std::uint64_t clipped_samples = 0;
};

struct RunSettingsInfo {
    double listening_level_db = 92.0;
    std::uint32_t step = 2048;     // values fed per call
    bool check = true;             // pair analysis ran
    bool align = false;
    bool match_level = false;
};

struct PairCheckInfo {
    std::int64_t delay_samples = 0;  // positive: the test is late
    double delay_ms = 0.0;
    double correlation = 0.0;
    double gain_db = 0.0;
    bool inverted = false;
    std::vector<std::string> warnings;  // codes: "delay", "level", ...
    std::vector<std::string> messages;  // Russian sentences, one per warning in its order, if the caller has them
};

struct AppliedFix {
    std::int64_t delay_samples = 0;
    double gain_db = 0.0;
};

struct ReportData {
    std::string program_version;
    InputInfo reference;
    InputInfo test;
    RunSettingsInfo settings;

    bool graded = false;
    std::string reason;            // why there is no grade (Russian)
    std::string reason_code;       // "too_short", ...
    double odg = 0.0;              // meaningful only when graded
    double di = 0.0;
    std::uint32_t frames = 0;
    std::uint32_t channels = 1;
    std::array<double, kMovCount> movs{};               // network inputs
    std::array<std::array<double, kMovCount>, 2> channel_movs{};

    std::optional<PairCheckInfo> check;  // empty when the analysis was skipped
    std::optional<AppliedFix> applied;

    // Run statistics, when known.
    std::optional<double> elapsed_s;
    std::optional<double> speed;           // 16-bit values per second
    std::optional<double> realtime_factor;

    // Per-frame values for the plots; null when none were collected. The
    // series must outlive every use of this record.
    const FrameSeries *series = nullptr;
};

// A short Russian description of a pair-check warning code; the code itself
// when it is not one of the known ones.
std::string warning_text(std::string_view code);

// The verbal category of a grade (the wizard's wording).
std::string grade_category_text(double odg);

// One file of the pair as a line of plain text, newline included: `label`,
// the path and, in brackets, what is known of it (format, rate, word length,
// channels, length, conversion, clipping).
std::string input_line(std::string_view label, const InputInfo &file);

// A plain-text summary of the record in Russian, for the clipboard: files,
// grade or reason, DI, MOVs, pair check.
std::string text_summary(const ReportData &data);

} // namespace velumar::report
