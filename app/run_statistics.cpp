#include <velumar/app/run_statistics.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace velumar::app {

void RunStatistics::Start(std::uint32_t announced, std::uint64_t total)
{
    *this = RunStatistics{};
    announced_steps = announced;
    total_values = total;
}

void RunStatistics::Step(std::uint32_t value, double step_time)
{
    values_fed += value;
    steps_done += 1;
    total_time += step_time;
    mean_step_time = total_time / steps_done;
    speed = values_fed / total_time * 100.0;
    const std::uint32_t left = announced_steps > steps_done ? announced_steps - steps_done : 0;
    remaining_time = left * mean_step_time;
    values += std::min<std::uint64_t>(value, total_values - values);
}

double RunStatistics::WizardRealTimeFactor(std::uint32_t rate) const
{
    const std::uint32_t seconds = rate == 0 ? 0 : values_fed / rate;
    if (seconds == 0) return std::numeric_limits<double>::quiet_NaN();
    return total_time / (static_cast<double>(seconds) * 100.0);
}

std::optional<double> RunStatistics::Speed() const
{
    if (!(total_time > 0.0)) return std::nullopt;
    return static_cast<double>(values) / total_time * 100.0;
}

std::optional<double> RunStatistics::RealTimeFactor(std::uint32_t rate) const
{
    if (rate == 0) return std::nullopt;
    const std::uint64_t seconds = values / rate;
    if (seconds == 0) return std::nullopt;
    return total_time / (static_cast<double>(seconds) * 100.0);
}

void FormatDuration(double t, char *buffer, std::size_t size)
{
    // Out-of-range doubles cannot be converted to unsigned: a negative time
    // (a clock stepping back) shows as zero, an absurdly long one as the
    // largest count of minutes.
    if (!(t > 0.0)) t = 0.0;
    t = std::min(t, 6000.0 * std::numeric_limits<std::uint32_t>::max());
    const auto minutes = static_cast<std::uint32_t>(t / 6000.0);
    double rest = t - 6000.0 * minutes;
    rest = std::clamp(rest, 0.0, 5999.0);
    const auto seconds = static_cast<std::uint32_t>(rest / 100.0);
    const auto hundredths = static_cast<std::uint32_t>(rest - 100.0 * seconds);
    std::snprintf(buffer, size, "%02u:%02u,%02u", minutes, seconds, hundredths);
}

std::string FormatDuration(double hundredths)
{
    char buffer[48];
    FormatDuration(hundredths, buffer, sizeof buffer);
    return buffer;
}

} // namespace velumar::app
