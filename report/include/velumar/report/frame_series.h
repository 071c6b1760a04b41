// Per-frame values kept for plotting in memory that does not grow with the
// length of the file.
//
// Frames are gathered into at most `capacity` buckets of equal frame count
// (a power of two). When the buckets are full, neighbours are merged pairwise
// and every bucket then covers twice as many frames. Each bucket keeps the
// minimum and maximum of every plotted quantity and the number of disturbed
// frames, so a burst of a single frame survives any amount of merging: it
// stays the maximum of its bucket.
#pragma once

#include <velumar/report/frame_row.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace velumar::report {

// The plotted quantities.
enum class Trace : std::uint8_t { nmr_db, detection_probability, moddiff1, moddiff2, noise_loudness };
inline constexpr int kTraceCount = 5;
// Slots of a trace: channel 1, channel 2, and the binaural value (only the
// detection probability has one).
inline constexpr int kTraceSlots = 3;
inline constexpr int kBinauralSlot = 2;

std::string_view trace_name(Trace t);  // "nmr_db", ... (the column stems)

// Smallest and largest value of a run of frames; n = 0 when none of its
// frames had a value.
struct Span {
    double min = 0.0;
    double max = 0.0;
    std::uint32_t n = 0;

    void add(double v);
    void merge(const Span &other);
};

// One column of a plot: a run of consecutive frames.
struct SeriesColumn {
    std::uint64_t first_frame = 0;
    std::uint64_t frame_count = 0;
    double start_s = 0.0;  // time of the first frame
    double end_s = 0.0;    // time of the last frame
    std::array<std::array<Span, kTraceSlots>, kTraceCount> spans{};
    std::array<std::uint32_t, 2> disturbed{};  // disturbed frames per channel

    const Span &span(Trace t, int slot) const { return spans[static_cast<int>(t)][slot]; }
    void merge(const SeriesColumn &next);
};

class FrameSeries {
public:
    // capacity: the largest number of buckets kept, at least 2 (rounded down
    // to an even number). Throws std::invalid_argument for channels other
    // than 1 or 2.
    explicit FrameSeries(int channels, std::size_t capacity = 4096);

    // Adds the next frame. Rows are counted in arrival order; their own frame
    // numbers and times are kept only for labelling.
    void add(const FrameRow &row);

    int channels() const { return channels_; }
    std::uint64_t frames() const { return frames_; }
    std::size_t capacity() const { return capacity_; }
    std::uint64_t frames_per_bucket() const { return per_bucket_; }
    const std::vector<SeriesColumn> &buckets() const { return buckets_; }

    // At most `width` columns covering every frame, each made of whole
    // buckets; with width 0 or no frames the result is empty.
    std::vector<SeriesColumn> columns(std::size_t width) const;

    // Over all frames.
    Span total(Trace t, int slot) const;
    std::uint64_t disturbed_frames(int channel) const;

private:
    int channels_;
    std::size_t capacity_;
    std::uint64_t per_bucket_ = 1;
    std::uint64_t frames_ = 0;
    std::vector<SeriesColumn> buckets_;  // reserved at construction
};

// The value range a plot of trace `t` shows: 0…1 for the detection
// probability; otherwise the data's range widened to round steps, starting
// at 0 for the non-negative quantities and keeping 0 dB in view for the NMR.
struct PlotRange {
    double lo = 0.0;
    double hi = 1.0;
};
PlotRange plot_range(const FrameSeries &series, Trace t);

// NMR values below this are drawn at the floor: the model writes −1e100 dB
// for a frame without noise, which no axis could show.
inline constexpr double kNmrFloorDb = -60.0;

// Rounded step for about `target` ticks across `range` (1, 2 or 5 × 10^k).
double nice_step(double range, int target);

} // namespace velumar::report
