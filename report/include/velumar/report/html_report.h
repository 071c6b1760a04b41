// Self-contained HTML reports: one file with its styles, pictures (inline
// SVG) and a small script, no reference to anything outside it, so it opens
// in any browser without a network. Its script marks the page as rendered by
// setting data-report-ready="1" on the <html> element, which a headless
// browser check reads back.
#pragma once

#include <velumar/report/report_data.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace velumar::report {

// Plot width in columns: a long file is drawn as at most this many min/max
// columns, which bounds the page size whatever the file's length.
inline constexpr std::size_t kPlotColumns = 1200;

// One pair's report. Throws std::runtime_error when the stream fails.
void write_html_report(std::ostream &out, const ReportData &data);

// One line of a batch summary.
struct BatchEntry {
    std::string reference;
    std::string test;
    enum class Status { graded, not_graded, failed } status = Status::failed;
    double odg = 0.0;       // when graded
    std::string reason;     // when not graded or failed (Russian)
    std::string reason_code;
};

// The summary page of a batch: every pair with its grade as a bar on the
// ODG scale, sortable by clicking a column head, and the pairs without a
// grade listed with their reasons. Throws std::runtime_error when the
// stream fails.
void write_batch_report(std::ostream &out, const std::vector<BatchEntry> &entries,
                        const std::string &program_version);

// Text with &, <, >, " and ' replaced by entities.
std::string html_escape(std::string_view text);

} // namespace velumar::report
