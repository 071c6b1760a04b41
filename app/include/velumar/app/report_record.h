// A grading result as the record the HTML report, the text summary and the
// wizard's details window read.
#pragma once

#include <velumar/app/pipeline.h>
#include <velumar/report/html_report.h>

#include <string>

namespace velumar::app {

// Everything of `result` and `settings` a report shows; the series pointer
// is left null for the caller to set. The paths are the ones the user gave.
report::ReportData MakeReportData(const GradeReport &result, const GradeSettings &settings,
                                  const std::string &reference_path, const std::string &test_path);

// The program's version as a page shows it ("2.1.0.2").
std::string ProgramVersion();

// A pair check as a report shows it (its Russian findings included).
report::PairCheckInfo MakePairCheckInfo(const PairCheck &check);

// One line of a batch summary.
report::BatchEntry MakeBatchEntry(const GradeReport &result, const std::string &reference,
                                  const std::string &test);

} // namespace velumar::app
