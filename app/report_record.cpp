#include <velumar/app/report_record.h>

#include <velumar/report/model_frame.h>
#include <velumar/text/texts.h>

namespace velumar::app {

namespace {

// The file as it was read: its own format, rate and length, and whether
// anything was converted for the model.
report::InputInfo Input(const audio::InputInfo &f)
{
    report::InputInfo in;
    in.path = f.path;
    in.format = f.subtype.empty() ? f.format : f.format + " / " + f.subtype;
    in.sample_rate = f.sample_rate;
    in.bits = f.bits;
    in.channels = f.channels;
    in.samples_per_channel = f.samples_per_channel;
    in.converted = f.converted;
    in.clipped_samples = f.clipped_samples;
    return in;
}

// Without a record (a pair fed from elsewhere): what the model was given.
report::InputInfo Input(const std::string &path, std::uint64_t values, const GradeReport &r)
{
    report::InputInfo in;
    in.path = path;
    // The pipeline reads 16-bit PCM WAV at the model's rate, in place.
    in.format = "WAV / PCM_16";
    in.sample_rate = r.sample_rate;
    in.bits = 16;
    in.channels = r.channels;
    in.samples_per_channel = r.channels ? values / r.channels : 0;
    return in;
}

} // namespace

report::ReportData MakeReportData(const GradeReport &r, const GradeSettings &settings,
                                  const std::string &reference_path, const std::string &test_path)
{
    report::ReportData d;
    d.program_version = ProgramVersion();
    d.reference = r.input.reference ? Input(*r.input.reference) : Input(reference_path, r.reference_values, r);
    d.test = r.input.test ? Input(*r.input.test) : Input(test_path, r.test_values, r);
    // The paths as the user gave them (a record may hold a resolved one).
    d.reference.path = reference_path;
    d.test.path = test_path;
    d.settings.listening_level_db = settings.run.listening_level_db;
    d.settings.step = settings.run.step;
    d.settings.check = settings.check;
    d.settings.align = settings.align;
    d.settings.match_level = settings.match_level;

    d.graded = r.graded();
    d.reason = r.reason;
    d.reason_code = r.reason_code;
    if (r.ran()) {
        report::fill_model_results(d, r.model);
        d.elapsed_s = r.stats.total_time / 100.0;
        d.speed = r.stats.Speed();
        d.realtime_factor = r.stats.RealTimeFactor(r.sample_rate);
    }
    d.channels = r.channels == 2 ? 2 : 1;
    if (!d.graded) {
        // An in-band failure value is not a grade and must not look like one.
        d.odg = 0.0;
        d.di = 0.0;
    }
    if (r.check) d.check = MakePairCheckInfo(*r.check);
    if (r.applied) d.applied = report::AppliedFix{r.applied->delay_samples, r.applied->gain_db};
    return d;
}

std::string ProgramVersion()
{
    // "2, 1, 0, 2" in the version resource's style.
    std::string v;
    for (const char ch : text::get(text::IDS_PRODUCT_VERSION))
        if (ch != ' ') v += ch == ',' ? '.' : ch;
    return v;
}

report::PairCheckInfo MakePairCheckInfo(const PairCheck &check)
{
    report::PairCheckInfo c;
    c.delay_samples = check.delay_samples;
    c.delay_ms = check.delay_ms;
    c.correlation = check.correlation;
    c.gain_db = check.gain_db;
    c.inverted = check.inverted;
    c.warnings = check.warnings;
    c.messages = CheckFindings(check);
    return c;
}

report::BatchEntry MakeBatchEntry(const GradeReport &r, const std::string &reference, const std::string &test)
{
    report::BatchEntry e;
    e.reference = reference;
    e.test = test;
    e.status = r.graded() ? report::BatchEntry::Status::graded
               : r.ran()  ? report::BatchEntry::Status::not_graded
                          : report::BatchEntry::Status::failed;
    if (r.graded()) e.odg = r.model.odg;
    e.reason = r.reason;
    e.reason_code = r.reason_code;
    return e;
}

} // namespace velumar::app
