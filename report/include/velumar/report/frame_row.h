// One frame's values as the averaging stage sees them, in a form the
// writers, the series collector and the wizard share. Nothing here knows
// the model's C record: the code that receives the model's per-frame
// callback fills a FrameRow and hands it on.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velumar::report {

// Per-channel quantities, in the order of the per-frame columns.
enum class FrameQuantity : std::uint8_t {
    bandwidth_ref,
    bandwidth_test,
    nmr_db,
    disturbed,
    moddiff1,
    moddiff2,
    temporal_weight,
    noise_loudness,
    ehs,
    detection_probability,
};
inline constexpr int kFrameQuantityCount = 10;

// Column stem of a quantity ("bandwidth_ref", ...); the channel number is
// appended as "_1" or "_2".
std::string_view frame_quantity_name(FrameQuantity q);

// The model's hop: a frame starts every 1024 samples at 48 kHz.
inline constexpr double kFrameHopSeconds = 1024.0 / 48000.0;

// 10·log10 of a frame's mean noise-to-mask ratio; −1e100 for a mean that is
// not positive, the value the model itself uses for the logarithm of zero.
double nmr_db_from_mean(double nmr_mean);

struct FrameRow {
    std::uint64_t frame = 0;
    double time_s = 0.0;   // start of the frame on the reference's timeline
    bool loud = false;     // the model's loud-frame flag
    bool energy = false;   // the model's energy flag
    int channels = 1;      // 1 or 2

    // A value that the model did not compute in this frame stays unset.
    void set(int channel, FrameQuantity q, double value);
    void clear(int channel, FrameQuantity q);
    std::optional<double> get(int channel, FrameQuantity q) const;

    // Only with two channels.
    void set_binaural_detection_probability(double value);
    std::optional<double> binaural_detection_probability() const;

private:
    static constexpr int bit(int channel, FrameQuantity q)
    {
        return channel * kFrameQuantityCount + static_cast<int>(q);
    }
    static constexpr int kBinauralBit = 2 * kFrameQuantityCount;

    std::array<std::array<double, kFrameQuantityCount>, 2> values_{};
    double binaural_ = 0.0;
    std::uint32_t computed_ = 0;  // one bit per value above
};

// Start of frame `frame` on the reference's timeline, for a reference
// whose first `offset_samples` samples (at 48 kHz) were cut off.
double frame_time_seconds(std::uint64_t frame, std::int64_t offset_samples = 0);

// Shortest text that reads back to exactly the same double ("0.1", "1e+100",
// "-3.5"; "-0.0" for negative zero). Infinities and NaN, which no model value takes, come out as
// "inf", "-inf" and "nan".
std::string format_number(double value);

} // namespace velumar::report
