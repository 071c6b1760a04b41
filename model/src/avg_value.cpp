#include "avg_value.h"
#include "messages.h"

#include "alloc.h"

#include <cmath>
#include <cstdio>

using velumar::model::give_back;
using velumar::model::obtain;
using velumar::model::say;

namespace {

constexpr const char *kKindError = "error:'processing_avg_value()'\n";

std::int32_t unsupported_kind(std::int32_t kind)
{
    say(kKindError);
    return kind == AVG_RESERVED ? 1 : 2;
}

bool has_window(std::int32_t kind) { return kind == AVG_WINDOWED || kind == AVG_RESERVED; }

void advance_window(AVG_VALUE *avg)
{
    if (++avg->window_pos == avg->window_length) avg->window_pos = 0;
}

} // namespace

AVG_VALUE *create_avg_value(std::int32_t kind, std::uint32_t window_length, std::uint32_t factor)
{
    auto *avg = static_cast<AVG_VALUE *>(obtain(1, sizeof(AVG_VALUE)));
    if (avg == nullptr) {
        say("error malloc func:'create_avg_value()'\n");
        return nullptr;
    }
    avg->kind = kind;
    avg->factor = kind == AVG_WEIGHTED_RMS ? factor : 1;
    if (has_window(kind)) {
        avg->window = static_cast<double *>(obtain(window_length, sizeof(double)));
        if (avg->window == nullptr) {
            say("error calloc func:'create_avg_value()'\n");
            give_back(avg);
            return nullptr;
        }
        avg->window_length = window_length;
    }
    return avg;
}

std::int32_t windowed_average(AVG_VALUE *avg, double value)
{
    if (value < 0.0) {
        say("Error:'windowed_average()'\n");
        return 1;
    }
    const double root = std::sqrt(value);
    if (avg->count == 0) {
        // The running window sum starts here, so it must take in whatever
        // preload_windowed_average put into the ring beforehand.
        for (std::uint32_t i = 0; i < avg->window_length; ++i) avg->window_sum += avg->window[i];
    }
    avg->window_sum = (avg->window_sum + root) - avg->window[avg->window_pos];
    avg->window[avg->window_pos] = root;
    advance_window(avg);
    const double m = avg->window_sum / avg->window_length;
    avg->count += 1;
    avg->sum += m * m * m * m;
    return 0;
}

std::int32_t preload_windowed_average(AVG_VALUE *avg, double value)
{
    if (avg->kind != AVG_WINDOWED) return 1;
    if (value < 0.0) return 2;
    avg->window[avg->window_pos] = std::sqrt(value);
    advance_window(avg);
    return 0;
}

std::int32_t processing_avg_value(AVG_VALUE *avg, double value, double weight)
{
    switch (avg->kind) {
    case AVG_LINEAR:
        avg->sum += value;
        avg->count += 1;
        return 0;
    case AVG_RMS:
        avg->sum += value * value;
        avg->count += 1;
        return 0;
    case AVG_WINDOWED:
        return windowed_average(avg, value);
    case AVG_WEIGHTED_LINEAR:
        avg->sum += value * weight;
        avg->count += 1;
        avg->weight_sum += weight;
        return 0;
    case AVG_WEIGHTED_RMS:
        avg->sum += value * value * weight * weight;
        avg->count += 1;
        avg->weight_sum += weight * weight;
        return 0;
    default:
        return unsupported_kind(avg->kind);
    }
}

std::int32_t get_avg_value(const AVG_VALUE *avg, double *result)
{
    const bool empty = avg->count == 0;
    switch (avg->kind) {
    case AVG_LINEAR:
        *result = empty ? 0.0 : avg->sum / avg->count;
        return 0;
    case AVG_RMS:
    case AVG_WINDOWED:
        *result = empty ? 0.0 : std::sqrt(avg->sum / avg->count);
        return 0;
    case AVG_WEIGHTED_LINEAR:
        *result = empty || avg->weight_sum == 0.0 ? 0.0 : avg->sum / avg->weight_sum;
        return 0;
    case AVG_WEIGHTED_RMS:
        *result = empty || avg->weight_sum == 0.0 ? 0.0 : std::sqrt((avg->sum / avg->weight_sum) * avg->factor);
        return 0;
    default:
        return unsupported_kind(avg->kind);
    }
}

void destroy_avg_value(AVG_VALUE *avg)
{
    if (avg == nullptr) return;
    give_back(avg->window);
    give_back(avg);
}
