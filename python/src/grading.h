// The Python module's grading, kept free of Python so that it can run with
// the interpreter lock released: signals in memory and pairs of files go
// in, the same result record the command-line tool writes comes out.
#pragma once

#include <velumar/cli/cli.h>
#include <velumar/model.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace velumar::python {

struct GradeOptions {
    double level_db = 92.0;
    bool align = false;
    bool match_level = false;
    bool frames = false;
    std::uint32_t sample_rate = 48000;
};

// Refused input: the message says what is wrong, in Russian.
struct InputFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// The model could not be created or a stage failed.
struct ModelFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One signal in memory: interleaved 16-bit values, first channel first.
struct Signal {
    std::vector<std::int16_t> values;
    unsigned channels = 1;
    std::size_t clipped = 0;  // values that lay beyond full scale before conversion

    std::size_t samples_per_channel() const { return values.size() / channels; }
};

// One floating-point value in -1..1 as a 16-bit value: times 32768, rounded
// to nearest (ties to even, no dither: the same input always gives the same
// grade) and clipped to the 16-bit range. `clipped` is set when it had to be.
std::int16_t ToSample(double value, bool &clipped);

// One frame's values as the averaging took them, one row of the per-frame
// table (the columns of velumar-cli --frames). NaN where the model did not
// compute a value in that frame.
struct FrameChannel {
    std::uint32_t bandwidth_ref = 0;
    std::uint32_t bandwidth_test = 0;
    double nmr_db = 0.0;  // 10 log10 of the mean NMR; -1e100 when that mean is 0
    std::int32_t disturbed = 0;
    double moddiff1 = 0.0;
    double moddiff2 = 0.0;
    double temporal_weight = 0.0;
    double noise_loudness = 0.0;
    double ehs = 0.0;
    double detection_probability = 0.0;
};

struct FrameRow {
    std::uint32_t frame = 0;
    double time_s = 0.0;  // start of the frame on the reference's timeline
    std::int32_t loud = 0;
    std::int32_t energy = 0;
    FrameChannel channel[2];
    double detection_probability_binaural = 0.0;  // NaN with one channel
};

// The row of a frame that starts `offset_samples` into the reference.
FrameRow ToFrameRow(const VELUMAR_FRAME &frame, std::uint64_t offset_samples);

struct Graded {
    cli::GradeResult result;
    // The result as the command-line tool writes it with --json: one JSON
    // object, so that a Python caller gets exactly the CLI's fields.
    std::string json;
    // Why there is no grade (empty when there is one).
    std::string reason;
    // With GradeOptions::frames: one row per frame, in order.
    std::vector<FrameRow> frames;
};

// Checks the settings; throws InputFailure naming the bad one.
void CheckOptions(const GradeOptions &options);

// Grades two signals held in memory. Throws InputFailure / ModelFailure.
Graded GradeSignals(const Signal &reference, const Signal &test, const GradeOptions &options);

// Grades a pair of files the way velumar-cli does. Throws InputFailure /
// ModelFailure.
Graded GradeFiles(const std::string &reference, const std::string &test, const GradeOptions &options);

} // namespace velumar::python
