#include <velumar/report/frame_series.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace velumar::report {

std::string_view trace_name(Trace t)
{
    switch (t) {
    case Trace::nmr_db: return "nmr_db";
    case Trace::detection_probability: return "detection_probability";
    case Trace::moddiff1: return "moddiff1";
    case Trace::moddiff2: return "moddiff2";
    case Trace::noise_loudness: return "noise_loudness";
    }
    return "?";
}

void Span::add(double v)
{
    if (n == 0) {
        min = max = v;
    } else {
        min = std::min(min, v);
        max = std::max(max, v);
    }
    ++n;
}

void Span::merge(const Span &other)
{
    if (other.n == 0) return;
    if (n == 0) {
        *this = other;
        return;
    }
    min = std::min(min, other.min);
    max = std::max(max, other.max);
    n += other.n;
}

void SeriesColumn::merge(const SeriesColumn &next)
{
    if (next.frame_count == 0) return;
    if (frame_count == 0) {
        *this = next;
        return;
    }
    frame_count += next.frame_count;
    end_s = next.end_s;
    for (int t = 0; t < kTraceCount; ++t)
        for (int s = 0; s < kTraceSlots; ++s) spans[t][s].merge(next.spans[t][s]);
    disturbed[0] += next.disturbed[0];
    disturbed[1] += next.disturbed[1];
}

FrameSeries::FrameSeries(int channels, std::size_t capacity)
    : channels_(channels), capacity_(std::max<std::size_t>(2, capacity & ~std::size_t{1}))
{
    if (channels != 1 && channels != 2)
        throw std::invalid_argument("per-frame series need 1 or 2 channels, not " + std::to_string(channels));
    buckets_.reserve(capacity_);
}

static FrameQuantity quantity_of(Trace t)
{
    switch (t) {
    case Trace::nmr_db: return FrameQuantity::nmr_db;
    case Trace::detection_probability: return FrameQuantity::detection_probability;
    case Trace::moddiff1: return FrameQuantity::moddiff1;
    case Trace::moddiff2: return FrameQuantity::moddiff2;
    case Trace::noise_loudness: return FrameQuantity::noise_loudness;
    }
    return FrameQuantity::nmr_db;
}

void FrameSeries::add(const FrameRow &row)
{
    if (row.channels != channels_)
        throw std::invalid_argument("per-frame row with " + std::to_string(row.channels) +
                                    " channel(s) for series of " + std::to_string(channels_));
    std::uint64_t index = frames_ / per_bucket_;
    if (index >= capacity_) {
        // Full: merge neighbours, halving the count and doubling the span.
        const std::size_t half = buckets_.size() / 2;
        for (std::size_t i = 0; i < half; ++i) {
            SeriesColumn merged = buckets_[2 * i];
            merged.merge(buckets_[2 * i + 1]);
            buckets_[i] = merged;
        }
        buckets_.resize(half);
        per_bucket_ *= 2;
        index = frames_ / per_bucket_;
    }
    if (index == buckets_.size()) {
        SeriesColumn fresh;
        fresh.first_frame = row.frame;
        fresh.start_s = row.time_s;
        buckets_.push_back(fresh);
    }
    SeriesColumn &b = buckets_[index];
    ++b.frame_count;
    b.end_s = row.time_s;
    for (int c = 0; c < channels_; ++c) {
        for (int t = 0; t < kTraceCount; ++t)
            if (auto v = row.get(c, quantity_of(static_cast<Trace>(t)))) b.spans[t][c].add(*v);
        if (auto d = row.get(c, FrameQuantity::disturbed); d && *d != 0.0) ++b.disturbed[c];
    }
    if (auto p = row.binaural_detection_probability())
        b.spans[static_cast<int>(Trace::detection_probability)][kBinauralSlot].add(*p);
    ++frames_;
}

std::vector<SeriesColumn> FrameSeries::columns(std::size_t width) const
{
    std::vector<SeriesColumn> out;
    if (width == 0 || buckets_.empty()) return out;
    const std::size_t group = (buckets_.size() + width - 1) / width;
    out.reserve((buckets_.size() + group - 1) / group);
    for (std::size_t i = 0; i < buckets_.size(); i += group) {
        SeriesColumn col = buckets_[i];
        for (std::size_t j = i + 1; j < std::min(i + group, buckets_.size()); ++j) col.merge(buckets_[j]);
        out.push_back(col);
    }
    return out;
}

Span FrameSeries::total(Trace t, int slot) const
{
    Span s;
    for (const auto &b : buckets_) s.merge(b.span(t, slot));
    return s;
}

std::uint64_t FrameSeries::disturbed_frames(int channel) const
{
    std::uint64_t n = 0;
    for (const auto &b : buckets_) n += b.disturbed[channel];
    return n;
}

double nice_step(double range, int target)
{
    if (!(range > 0) || !std::isfinite(range)) return 1.0;
    const double raw = range / target;
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (raw <= m * mag) return m * mag;
    return 10.0 * mag;
}

PlotRange plot_range(const FrameSeries &series, Trace t)
{
    if (t == Trace::detection_probability) return {0.0, 1.0};
    double lo = 0.0, hi = 0.0;
    bool any = false;
    for (int slot = 0; slot < kTraceSlots; ++slot) {
        const Span s = series.total(t, slot);
        if (!s.n) continue;
        double mn = s.min, mx = s.max;
        if (t == Trace::nmr_db) {
            mn = std::max(mn, kNmrFloorDb);
            mx = std::max(mx, kNmrFloorDb);
        }
        lo = any ? std::min(lo, mn) : mn;
        hi = any ? std::max(hi, mx) : mx;
        any = true;
    }
    if (t == Trace::nmr_db) {
        // Keep 0 dB, where the noise reaches the masking threshold, in view.
        lo = std::min(lo, -10.0);
        hi = std::max(hi, 5.0);
    } else {
        lo = std::min(lo, 0.0);
        if (!(hi > lo)) hi = lo + 1.0;
    }
    // Values the model caps at 1e100 or 1e30 would make the axis useless.
    hi = std::min(hi, 1e6);
    const double step = nice_step(hi - lo, 5);
    return {std::floor(lo / step) * step, std::ceil(hi / step) * step};
}

} // namespace velumar::report
