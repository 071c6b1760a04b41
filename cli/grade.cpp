#include <velumar/cli/cli.h>

#include <velumar/app/any_format.h>

#include <cstdio>

namespace velumar::cli {

app::GradeSettings PipelineSettings(const Options &options)
{
    app::GradeSettings settings;
    settings.run.listening_level_db = options.level;
    settings.run.step = options.step;
    settings.step_must_fit = options.step_given;
    settings.check = options.check;
    settings.analysis.max_delay_ms = options.max_delay_ms;
    settings.align = options.align;
    settings.match_level = options.match_level;
    return settings;
}

GradeOutcome GradePair(const std::string &reference, const std::string &test, const Options &options,
                       const ProgressCallback &progress, const ModelApi &api)
{
    app::GradeHooks hooks;
    hooks.progress = progress;
    hooks.api = &api;
    return GradePair(reference, test, options, hooks);
}

GradeOutcome GradePair(const std::string &reference, const std::string &test, const Options &options,
                       const app::GradeHooks &given)
{
    // The model's own lines (its level line, its failures) go to standard
    // error: standard output carries only the results.
    app::GradeHooks hooks = given;
    if (hooks.messages.handler == nullptr)
        hooks.messages = {[](void *, const char *line) { std::fputs(line, stderr); }, nullptr};
    GradeOutcome outcome;
    outcome.result = app::GradeAnyFiles(reference, test, PipelineSettings(options), options.strict, hooks);
    const GradeResult &r = outcome.result;
    switch (r.status) {
    case app::Status::Graded:
        outcome.exit_code = kExitGraded;
        break;
    case app::Status::NotGraded:
        outcome.exit_code = kExitNotGraded;
        break;
    case app::Status::Refused:
        // A step larger than the file is a bad command line for that file.
        outcome.exit_code = r.reason_code == app::kReasonStepTooLarge ? kExitUsage : kExitInputRejected;
        outcome.error = r.reason;
        break;
    case app::Status::Failed:
        outcome.exit_code = kExitModelFailure;
        outcome.error = r.reason;
        break;
    }
    return outcome;
}

} // namespace velumar::cli
