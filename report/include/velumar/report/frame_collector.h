// Gathers a run's per-frame values while the model runs: the bounded series
// that charts draw from and, when asked, every row for saving them later.
#pragma once

#include <velumar/report/frame_series.h>

#include <cstdint>
#include <vector>

namespace velumar::report {

class FrameCollector {
public:
    // expected_frames: room reserved up front, so that adding the frames of
    // a run of that length obtains no memory. A row costs about 200 bytes
    // (an hour of audio: about 34 MB); keep_rows = false keeps only the
    // series, whose size does not depend on the length.
    FrameCollector(int channels, std::uint64_t expected_frames, bool keep_rows = true)
        : series_(channels), keep_rows_(keep_rows)
    {
        if (keep_rows_) rows_.reserve(expected_frames);
    }

    void add(const FrameRow &row)
    {
        series_.add(row);
        if (keep_rows_) rows_.push_back(row);
    }

    const FrameSeries &series() const { return series_; }
    const std::vector<FrameRow> &rows() const { return rows_; }
    bool keeps_rows() const { return keep_rows_; }

private:
    FrameSeries series_;
    bool keep_rows_;
    std::vector<FrameRow> rows_;
};

// Frame pairs the model cuts from `samples_per_channel` samples per channel:
// frames of 2048 with a hop of 1024.
inline std::uint64_t expected_frame_count(std::uint64_t samples_per_channel)
{
    return samples_per_channel < 2048 ? 0 : (samples_per_channel - 2048) / 1024 + 1;
}

} // namespace velumar::report
