// Statistics of one run, gathered from the runner's events, and the
// "mm:ss,hh" form of a duration: the same numbers for every front end.
#pragma once

#include <velumar/runner/model_runner.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace velumar::app {

struct RunStatistics {
    // As the wizard's calculation page keeps them: values fed counts the
    // `value` of every step event, i.e. the configured step also after a
    // shorter last step.
    double speed = 0.0;                // values fed per second
    std::uint32_t values_fed = 0;
    std::uint32_t steps_done = 0;
    double total_time = 0.0;           // hundredths of a second
    double remaining_time = 0.0;       // hundredths of a second
    double mean_step_time = 0.0;       // hundredths of a second
    std::uint32_t announced_steps = 0;
    // The 16-bit values actually fed, both channels (never past the total).
    std::uint64_t values = 0;
    std::uint64_t total_values = 0;
    bool stopped = false;

    // RUN_STARTED: everything back to zero; `total` values are to come
    // (when not given, every value reported is counted as fed).
    void Start(std::uint32_t announced, std::uint64_t total = UINT64_MAX);
    // RUN_STEP with its value and step time.
    void Step(std::uint32_t value, double step_time);

    // total time / (whole seconds of values fed x 100), the values fed
    // counted as the wizard counts them; NaN below one second.
    double WizardRealTimeFactor(std::uint32_t rate = 48000) const;
    // Values actually fed per second; none when no time was measured.
    std::optional<double> Speed() const;
    // Calculation time over signal time, the signal time taken as whole
    // seconds of `rate` values actually fed; none below one second.
    std::optional<double> RealTimeFactor(std::uint32_t rate = 48000) const;
};

// "%02u:%02u,%02u" of minutes, seconds and hundredths of a time in
// hundredths of a second, each part truncated; negative or non-finite
// times show as zero, absurdly long ones as the largest count of minutes.
// The buffer form allocates nothing (the wizard formats on every step).
void FormatDuration(double hundredths, char *buffer, std::size_t size);
std::string FormatDuration(double hundredths);

} // namespace velumar::app
