// Excitation processing: level and pattern adaptation of reference and test,
// the temporal envelope modulation, specific and total loudness, and the
// loud-frame flag with its hang-over.
#include "stages.h"
#include "dispatch.h"
#include "vector_math.h"

#include <cmath>
#include <cstddef>
#include <span>
#include <cstdint>

namespace velumar::model {
namespace {

constexpr auto kExcitation = VELUMAR_FAMILY(excitation);
constexpr auto kSpreadEnergy = VELUMAR_FAMILY(spread_energy);
constexpr auto kSmoothedExcitation = VELUMAR_FAMILY(smoothed_excitation);
constexpr auto kLevelAdapted = VELUMAR_FAMILY(level_adapted);
constexpr auto kPatternAdapted = VELUMAR_FAMILY(pattern_adapted);
constexpr auto kRatio = VELUMAR_FAMILY(ratio);
constexpr auto kMeanRatio = VELUMAR_FAMILY(mean_ratio);
constexpr auto kPatternCorr = VELUMAR_FAMILY(pattern_corr);
constexpr auto kModulation = VELUMAR_FAMILY(modulation);
constexpr auto kModPrev = VELUMAR_FAMILY(mod_prev);
constexpr auto kModDeriv = VELUMAR_FAMILY(mod_deriv);
constexpr auto kModAvg = VELUMAR_FAMILY(mod_avg);
constexpr auto kSpecificLoudness = VELUMAR_FAMILY(specific_loudness);
constexpr auto kTotalLoudness = VELUMAR_FAMILY(total_loudness);
constexpr auto kCorrFactor = VELUMAR_CHANNELS(corr_factor);
constexpr auto kPatternNum = VELUMAR_CHANNELS(pattern_num);
constexpr auto kPatternDen = VELUMAR_CHANNELS(pattern_den);

// The geometric means of the bands as one vector pass; the two sums then
// run side by side in band order.
VELUMAR_TARGET_CLONES("avx512f", "avx2", "default")
void geometric_means(const double *__restrict a, const double *__restrict b, double *__restrict out,
                     std::uint32_t bands)
{
    for (std::uint32_t k = 0; k < bands; ++k) out[k] = std::sqrt(a[k] * b[k]);
}

double get_level_correction(const double *smoothed_ref, const double *smoothed_test, std::uint32_t bands)
{
    double means[kBandCount];
    geometric_means(smoothed_ref, smoothed_test, means, bands);
    double cross = 0.0;
    double test = 0.0;
    for (std::uint32_t k = 0; k < bands; ++k) {
        cross += means[k];
        test += smoothed_test[k];
    }
    if (bands == 0 || test == 0.0) return 1.0;
    return (cross * cross) / (test * test);
}

// Only the louder of the two signals is scaled, and always down.
VELUMAR_TARGET_CLONES("avx512f", "avx2", "default")
void apply_level_correction(const double *__restrict ref, const double *__restrict test, std::uint32_t bands,
                            double factor, double *__restrict ref_out, double *__restrict test_out)
{
    if (factor > 1.0) {
        for (std::uint32_t k = 0; k < bands; ++k) {
            ref_out[k] = ref[k] / factor;
            test_out[k] = test[k];
        }
    } else {
        for (std::uint32_t k = 0; k < bands; ++k) {
            test_out[k] = factor * test[k];
            ref_out[k] = ref[k];
        }
    }
}

// One channel's pattern adaptation: its memories and per-frame arrays.
struct PatternChannel {
    const double *ref;  // level-adapted excitations
    const double *test;
    double *num;
    double *den;
    double *ratio_ref;
    double *ratio_test;
    double *mean_ref;
    double *mean_test;
    double *corr_ref;
    double *corr_test;
    double *ref_out;
    double *test_out;
};

double window_mean(const double *values, const PATTERN_RANGE &range)
{
    double sum = 0.0;
    for (std::uint32_t i = range.lo; i <= range.hi; ++i) sum += values[i];
    return sum / range.count;
}

// The adaptation's memories and the ratios of the bands whose memory is
// not empty, as vectors; returns whether some band's is (den == 0), which
// the caller then settles in band order.
VELUMAR_TARGET_CLONES("avx512f", "avx2", "default")
bool pattern_ratios(const double *__restrict ref, const double *__restrict test, double *__restrict num,
                    double *__restrict den, double *__restrict ratio_ref, double *__restrict ratio_test,
                    const double *__restrict a, std::uint32_t bands)
{
    std::uint64_t empty = 0;
    for (std::uint32_t k = 0; k < bands; ++k) {
        num[k] = test[k] * ref[k] + a[k] * num[k];
        den[k] = a[k] * den[k] + ref[k] * ref[k];
        empty |= den[k] == 0.0 ? 1 : 0;
        const double q = num[k] / den[k];
        const bool below = q < 1.0;
        ratio_ref[k] = below ? q : 1.0;
        ratio_test[k] = below ? 1.0 : 1.0 / q;
    }
    return empty != 0;
}

// Means over windows that hold the full kWindow bands: mean[j] of the
// window from values[j], each sum in the same order as window_mean, a
// vector of bands at a time.
constexpr std::uint32_t kWindow = 8;
VELUMAR_TARGET_CLONES("avx512f", "avx2", "default")
void full_window_means(const double *__restrict values, double *__restrict mean, std::size_t count)
{
    for (std::size_t j = 0; j < count; ++j) {
        double sum = 0.0;
        for (std::size_t i = 0; i < kWindow; ++i) sum += values[j + i];
        mean[j] = sum / static_cast<double>(kWindow);
    }
}

VELUMAR_TARGET_CLONES("avx512f", "avx2", "default")
void correct_patterns(const double *__restrict in, const double *__restrict mean, double *__restrict corr,
                      double *__restrict out, const double *__restrict a, const double *__restrict one_minus_a,
                      std::uint32_t bands)
{
    for (std::uint32_t k = 0; k < bands; ++k) {
        corr[k] = one_minus_a[k] * mean[k] + a[k] * corr[k];
        out[k] = in[k] * corr[k];
    }
}

void window_means(const double *values, double *mean, std::uint32_t bands, const PATTERN_RANGE *ranges)
{
    // The windows are k - below .. k + above, cut at the ends of the band
    // range; the middle band has a whole one.
    const PATTERN_RANGE &middle = ranges[bands / 2];
    std::uint32_t first = 0, end = 0;
    if (middle.count == kWindow) {
        const std::uint32_t below = bands / 2 - middle.lo;
        first = below;
        end = bands - (kWindow - 1 - below);
        full_window_means(values + (first - below), mean + first, end - first);
    }
    for (std::uint32_t k = 0; k < first; ++k) mean[k] = window_mean(values, ranges[k]);
    for (std::uint32_t k = end; k < bands; ++k) mean[k] = window_mean(values, ranges[k]);
}

void adapt_patterns(const PatternChannel &p, std::uint32_t bands, const double *a, const double *one_minus_a,
                    const PATTERN_RANGE *ranges)
{
    // In increasing band order: a band without information takes the final
    // ratios of the band below it.
    if (pattern_ratios(p.ref, p.test, p.num, p.den, p.ratio_ref, p.ratio_test, a, bands)) {
        for (std::uint32_t k = 0; k < bands; ++k) {
            if (p.den[k] != 0.0) continue;
            if (p.num[k] != 0.0) {
                p.ratio_ref[k] = 1.0;
                p.ratio_test[k] = 0.0;
            } else if (k > 0) {
                p.ratio_ref[k] = p.ratio_ref[k - 1];
                p.ratio_test[k] = p.ratio_test[k - 1];
            } else {
                p.ratio_ref[k] = 1.0;
                p.ratio_test[k] = 1.0;
            }
        }
    }
    window_means(p.ratio_ref, p.mean_ref, bands, ranges);
    window_means(p.ratio_test, p.mean_test, bands, ranges);
    correct_patterns(p.ref, p.mean_ref, p.corr_ref, p.ref_out, a, one_minus_a, bands);
    correct_patterns(p.test, p.mean_test, p.corr_test, p.test_out, a, one_minus_a, bands);
}

struct ModulationMemory {
    double *prev;   // last frame's E^0.3
    double *deriv;  // smoothed absolute change per second
    double *avg;    // smoothed E^0.3
};

// The memories' update for one signal: v = E^0.3 of this frame. Distinct
// arrays throughout, and no branch, so that the bands run as vectors.
VELUMAR_TARGET_CLONES("avx512f", "avx2", "default")
void update_modulation(const double *__restrict v, double *__restrict prev, double *__restrict deriv,
                       double *__restrict avg, std::uint32_t bands, const double *__restrict one_minus_a,
                       const double *__restrict a, double *__restrict out, double frames_per_second)
{
    for (std::uint32_t k = 0; k < bands; ++k) {
        avg[k] = a[k] * avg[k] + one_minus_a[k] * v[k];
        const double change = v[k] <= prev[k] ? prev[k] - v[k] : v[k] - prev[k];
        deriv[k] = a[k] * deriv[k] + one_minus_a[k] * frames_per_second * change;
        prev[k] = v[k];
        out[k] = deriv[k] / (1.0 + avg[k] * 3.3333333333333335);
    }
}

VELUMAR_TARGET_CLONES("avx512f", "avx2", "default")
void get_modulation(const double *e2, const ModulationMemory &m, std::uint32_t bands, const double *one_minus_a,
                    const double *a, double *out, double sample_rate, double hop_length)
{
    const double frames_per_second = sample_rate / hop_length;
    double v[kBandCount], scratch[kBandCount];
    log_array(e2, scratch, bands);
    for (std::uint32_t k = 0; k < bands; ++k) scratch[k] *= 0.3;
    exp_array(scratch, v, bands);  // E^0.3
    update_modulation(v, m.prev, m.deriv, m.avg, bands, one_minus_a, a, out, frames_per_second);
}

// N = ((E / q + 1 - s)^0.23 - 1) (q / 10^4)^0.23 G with q = Eth / s; the
// factors of q come from the start-up tables.
VELUMAR_TARGET_CLONES("avx512f", "avx2", "default")
void get_specific_loudness(const M_STATE &st, double constant, const double *e, const double *index, double *out)
{
    constexpr std::uint32_t bands = kBandCount;  // band_count, fixed by the grid
    double base[kBandCount], scratch[kBandCount];
    for (std::uint32_t k = 0; k < bands; ++k) base[k] = e[k] / st.loudness_ratio[k] + (1.0 - index[k]);
    log_array(base, scratch, bands);
    for (std::uint32_t k = 0; k < bands; ++k) scratch[k] *= 0.23;
    exp_array(scratch, out, bands);  // base^0.23
    for (std::uint32_t k = 0; k < bands; ++k) out[k] = (out[k] - 1.0) * st.loudness_base[k] * constant;
}

// Negative specific loudness (and not-a-number) counts as silence. The
// copies' sums run side by side, each its own chain of additions in band
// order, so that one's latency hides behind the others'.
template <std::size_t N>
void get_total_loudness(const double *const (&specific)[N], std::uint32_t bands, double scale, double *const (&out)[N])
{
    double sum[N] = {};
    for (std::uint32_t k = 0; k < bands; ++k)
        for (std::size_t c = 0; c < N; ++c) sum[c] += specific[c][k] > 0.0 ? specific[c][k] : 0.0;
    for (std::size_t c = 0; c < N; ++c) *out[c] = sum[c] * scale / bands;
}

template <std::size_t N>
void get_total_loudness(M_STATE &s, std::span<const Copy> copies)
{
    const double *specific[N];
    double *out[N];
    for (std::size_t c = 0; c < N; ++c) {
        specific[c] = (s.*kSpecificLoudness[copies[c]]).data;
        out[c] = &(s.*kTotalLoudness[copies[c]]);
    }
    get_total_loudness(specific, s.band_count, s.loudness_scale, out);
}

} // namespace

std::int32_t get_correction_factor(M_STATE *s)
{
    if (!valid_channel_mode(*s)) return report_failure("ERROR get_correction_factor()\n");
    for (int ch = 0; ch < channel_count(*s); ++ch) {
        const Copy ref = ref_copy(ch);
        const Copy test = test_copy(ch);
        const double factor = get_level_correction((s->*kSmoothedExcitation[ref]).data,
                                                   (s->*kSmoothedExcitation[test]).data, s->band_count);
        s->*kCorrFactor[ch] = factor;
        apply_level_correction((s->*kExcitation[ref]).data, (s->*kExcitation[test]).data, s->band_count, factor,
                               (s->*kLevelAdapted[ref]).data, (s->*kLevelAdapted[test]).data);
    }
    return 0;
}

std::int32_t pattern_adaptation_for_frames(M_STATE *s)
{
    if (!valid_channel_mode(*s)) return report_failure("ERROR pattern_adaptation_for_frames()\n");
    for (int ch = 0; ch < channel_count(*s); ++ch) {
        const Copy ref = ref_copy(ch);
        const Copy test = test_copy(ch);
        const PatternChannel p{(s->*kLevelAdapted[ref]).data,   (s->*kLevelAdapted[test]).data,
                               (s->*kPatternNum[ch]).data,      (s->*kPatternDen[ch]).data,
                               (s->*kRatio[ref]).data,          (s->*kRatio[test]).data,
                               (s->*kMeanRatio[ref]).data,      (s->*kMeanRatio[test]).data,
                               (s->*kPatternCorr[ref]).data,    (s->*kPatternCorr[test]).data,
                               (s->*kPatternAdapted[ref]).data, (s->*kPatternAdapted[test]).data};
        adapt_patterns(p, s->band_count, s->adapt_a.data, s->adapt_b.data, s->pattern_ranges.data);
    }
    return 0;
}

std::int32_t get_modulation_for_frames(M_STATE *s)
{
    if (!valid_channel_mode(*s)) return report_failure("ERROR get_modulation_for_frames()\n");
    for (Copy c : copies(*s)) {
        const ModulationMemory memory{(s->*kModPrev[c]).data, (s->*kModDeriv[c]).data, (s->*kModAvg[c]).data};
        get_modulation((s->*kSpreadEnergy[c]).data, memory, s->band_count, s->adapt_b.data, s->adapt_a.data,
                       (s->*kModulation[c]).data, static_cast<double>(s->sample_rate), s->hop_length);
    }
    return 0;
}

std::int32_t get_loudnes_for_frames(M_STATE *s)
{
    if (!valid_channel_mode(*s)) return report_failure("ERROR get_loudnes_for_frames()\n");
    for (Copy c : copies(*s))
        get_specific_loudness(*s, s->loudness_const, (s->*kExcitation[c]).data, s->loudness_index.data,
                              (s->*kSpecificLoudness[c]).data);
    return 0;
}

std::int32_t get_total_loudness_for_frames(M_STATE *s)
{
    if (!valid_channel_mode(*s)) return report_failure("ERROR get_modulation_for_frames()\n");
    const std::span<const Copy> present = copies(*s);
    if (present.size() == 4)
        get_total_loudness<4>(*s, present);
    else
        get_total_loudness<2>(*s, present);
    return 0;
}

std::int32_t check_loudness_threshold_for_frames(M_STATE *s)
{
    if (!valid_channel_mode(*s)) return report_failure("ERROR get_noise_of_current_frames()\n");
    bool loud = false;
    for (int ch = 0; ch < channel_count(*s) && !loud; ++ch)
        loud = s->*kTotalLoudness[ref_copy(ch)] > s->loudness_threshold &&
               s->*kTotalLoudness[test_copy(ch)] > s->loudness_threshold;
    if (loud) {
        s->loud_frame_flag = 1;
        s->loudness_hangover = s->loudness_hangover_frames;
    } else if (s->loudness_hangover > 0) {
        s->loud_frame_flag = 1;
        s->loudness_hangover -= 1;
    } else {
        s->loud_frame_flag = 0;
    }
    return 0;
}

} // namespace velumar::model
