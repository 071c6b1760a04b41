#include <velumar/report/frame_row.h>

#include <charconv>
#include <cmath>
#include <stdexcept>

namespace velumar::report {

std::string_view frame_quantity_name(FrameQuantity q)
{
    switch (q) {
    case FrameQuantity::bandwidth_ref: return "bandwidth_ref";
    case FrameQuantity::bandwidth_test: return "bandwidth_test";
    case FrameQuantity::nmr_db: return "nmr_db";
    case FrameQuantity::disturbed: return "disturbed";
    case FrameQuantity::moddiff1: return "moddiff1";
    case FrameQuantity::moddiff2: return "moddiff2";
    case FrameQuantity::temporal_weight: return "temporal_weight";
    case FrameQuantity::noise_loudness: return "noise_loudness";
    case FrameQuantity::ehs: return "ehs";
    case FrameQuantity::detection_probability: return "detection_probability";
    }
    return "?";
}

double nmr_db_from_mean(double nmr_mean)
{
    return nmr_mean > 0.0 ? 10.0 * std::log10(nmr_mean) : -1e100;
}

static void check_slot(int channel, FrameQuantity q)
{
    if (channel < 0 || channel > 1 || static_cast<int>(q) >= kFrameQuantityCount)
        throw std::out_of_range("FrameRow: channel index must be 0 or 1");
}

void FrameRow::set(int channel, FrameQuantity q, double value)
{
    check_slot(channel, q);
    values_[channel][static_cast<int>(q)] = value;
    computed_ |= 1u << bit(channel, q);
}

void FrameRow::clear(int channel, FrameQuantity q)
{
    check_slot(channel, q);
    computed_ &= ~(1u << bit(channel, q));
}

std::optional<double> FrameRow::get(int channel, FrameQuantity q) const
{
    check_slot(channel, q);
    if (!(computed_ & (1u << bit(channel, q)))) return std::nullopt;
    return values_[channel][static_cast<int>(q)];
}

void FrameRow::set_binaural_detection_probability(double value)
{
    binaural_ = value;
    computed_ |= 1u << kBinauralBit;
}

std::optional<double> FrameRow::binaural_detection_probability() const
{
    if (!(computed_ & (1u << kBinauralBit))) return std::nullopt;
    return binaural_;
}

double frame_time_seconds(std::uint64_t frame, std::int64_t offset_samples)
{
    // Whole samples first, one division at the end: the time of frame n is
    // then the double nearest to the exact value.
    const long double samples = static_cast<long double>(frame) * 1024.0L +
                                static_cast<long double>(offset_samples);
    return static_cast<double>(samples / 48000.0L);
}

std::string format_number(double value)
{
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    // "-0" would read back as the integer 0 in JSON readers.
    if (value == 0.0 && std::signbit(value)) return "-0.0";
    char buf[32];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    if (ec != std::errc{}) return "nan";  // cannot happen with 32 characters
    return std::string(buf, end);
}

} // namespace velumar::report
