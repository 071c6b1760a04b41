// Streaming writers for per-frame values: one row per frame as the frames
// arrive, nothing kept. CSV with a header line, or JSON Lines (one object
// per frame). Columns, in order:
//   frame, time_s, loud, energy,
//   for c = 1 (and 2): bandwidth_ref_c, bandwidth_test_c, nmr_db_c,
//     disturbed_c, moddiff1_c, moddiff2_c, temporal_weight_c,
//     noise_loudness_c, ehs_c, detection_probability_c,
//   with two channels: detection_probability_binaural.
// A value the model did not compute is an empty CSV field or a JSON null.
// A third form, one JSON array of the same objects, is for saving a whole
// run as a single JSON document.
#pragma once

#include <velumar/report/frame_row.h>

#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace velumar::report {

enum class FrameFormat { csv, json_lines, json_array };

// JSON Lines for a name ending in ".jsonl" (any letter case), CSV otherwise.
FrameFormat frame_format_for_path(std::string_view path);

// The column names for one or two channels, in writing order.
std::vector<std::string> frame_columns(int channels);

class FrameWriter {
public:
    virtual ~FrameWriter() = default;
    // Writes one row. Throws std::invalid_argument when the row's channel
    // count differs from the writer's, std::runtime_error when the stream
    // has failed (disk full, closed pipe).
    virtual void write(const FrameRow &row) = 0;
    // Ends the output (closes the JSON array) and flushes the stream; throws
    // std::runtime_error when it has failed. Call once, after the last row.
    virtual void finish() = 0;
};

// The writer keeps a reference to `out`, which must outlive it. The CSV
// header is written at once, so a run without frames still leaves a valid
// file. Throws std::invalid_argument for a channel count other than 1 or 2.
std::unique_ptr<FrameWriter> make_frame_writer(std::ostream &out, FrameFormat format, int channels);

} // namespace velumar::report
