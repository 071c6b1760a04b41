// The Python module's grading, kept free of Python so that it can run with
// the interpreter lock released: signals in memory and pairs of files go
// in, the same result record the command-line tool writes comes out.
#pragma once

#include <velumar/app/pipeline.h>
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

// A pair that could not be graded: the message says why, in Russian; the
// code is the pipeline's (app::kReason...), as a --batch error line has it.
struct Failure : std::runtime_error {
    Failure(const std::string &message, std::string code) : std::runtime_error(message), reason_code(std::move(code)) {}
    std::string reason_code;
    // The error object velumar-cli writes for the same failure ("graded",
    // "error", "reason_code" and, when a file could be opened, "input");
    // empty for refusals of arguments the CLI does not have.
    std::string json;
};
// Refused input.
struct InputFailure : Failure {
    explicit InputFailure(const std::string &message, std::string code = app::kReasonInput)
        : Failure(message, std::move(code)) {}
};
// The model could not be created or a stage failed.
struct ModelFailure : Failure {
    ModelFailure(const std::string &message, std::string code) : Failure(message, std::move(code)) {}
};

// One signal in memory: interleaved 16-bit values, first channel first.
struct Signal {
    std::vector<std::int16_t> values;
    unsigned channels = 1;
    std::size_t clipped = 0;  // values that lay beyond full scale before conversion
    // Floating-point input at a rate other than 48 kHz, kept as given: the
    // resampler takes it before any rounding to 16 bits (values is then
    // empty).
    std::vector<double> floats;

    std::size_t size() const { return floats.empty() ? values.size() : floats.size(); }
    std::size_t samples_per_channel() const { return size() / channels; }
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
    // Everything the pipeline reports: graded or not (with the reason),
    // statistics, the pair check and what was applied.
    app::GradeReport report;
    // The report as velumar-cli writes it with --json: one JSON object, so
    // that a Python caller gets exactly the CLI's fields.
    std::string json;
    // With GradeOptions::frames: one row per frame, in order.
    std::vector<FrameRow> frames;
    // Values clipped to 16 bits on the way to the model, per signal.
    std::uint64_t clipped[2] = {0, 0};
};

// Checks the settings; throws InputFailure naming the bad one.
void CheckOptions(const GradeOptions &options);

// Grades two signals held in memory through the grading pipeline (pair
// check, align and level matching on request). Throws InputFailure when
// the pipeline refuses the pair, ModelFailure when the model fails.
Graded GradeSignals(const Signal &reference, const Signal &test, const GradeOptions &options);

// Grades a pair of files exactly as velumar-cli does. Throws like
// GradeSignals.
Graded GradeFiles(const std::string &reference, const std::string &test, const GradeOptions &options);

} // namespace velumar::python
