// AVG_VALUE: the accumulator behind every time-averaged model output.
#pragma once

#include <cstdint>

enum AVG_KIND : std::int32_t {
    AVG_LINEAR = 0,           // mean
    AVG_RMS = 1,              // root mean square
    AVG_WINDOWED = 2,         // sqrt of the mean 4th power of windowed means of square roots
    AVG_WEIGHTED_LINEAR = 3,  // weighted mean
    AVG_WEIGHTED_RMS = 4,     // weighted RMS, scaled by factor
    AVG_RESERVED = 5,
};

struct AVG_VALUE {
    std::int32_t kind;
    double sum;
    std::uint32_t count;
    double weight_sum;
    std::uint32_t factor;
    double *window;  // ring of square roots (kinds 2 and 5), else null
    std::uint32_t window_pos;
    std::uint32_t window_length;
    double window_sum;
};

// A new empty accumulator, or null after printing why.
AVG_VALUE *create_avg_value(std::int32_t kind, std::uint32_t window_length, std::uint32_t factor);
// Adds one value; weight is used by the weighted kinds only. 0, or 1/2.
std::int32_t processing_avg_value(AVG_VALUE *avg, double value, double weight);
// The windowed step of kind 2. 0, or 1 for a negative value.
std::int32_t windowed_average(AVG_VALUE *avg, double value);
// Puts a value into the window without contributing. 0; 1 wrong kind; 2 negative.
std::int32_t preload_windowed_average(AVG_VALUE *avg, double value);
// Writes the current average (0.0 when empty). 0, or 1/2 for kinds 5/other.
std::int32_t get_avg_value(const AVG_VALUE *avg, double *result);
// Releases the accumulator and its window; null is ignored.
void destroy_avg_value(AVG_VALUE *avg);
