// Excitation processing: level and pattern adaptation of reference and test,
// the temporal envelope modulation, specific and total loudness, and the
// loud-frame flag with its hang-over.
#include "stages.h"
#include "vector_math.h"

#include <cmath>
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

double get_level_correction(const double *smoothed_ref, const double *smoothed_test, std::uint32_t bands)
{
    double cross = 0.0;
    double test = 0.0;
    for (std::uint32_t k = 0; k < bands; ++k) {
        cross += std::sqrt(smoothed_ref[k] * smoothed_test[k]);
        test += smoothed_test[k];
    }
    if (bands == 0 || test == 0.0) return 1.0;
    return (cross * cross) / (test * test);
}

// Only the louder of the two signals is scaled, and always down.
void apply_level_correction(const double *ref, const double *test, std::uint32_t bands, double factor,
                            double *ref_out, double *test_out)
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

void adapt_patterns(const PatternChannel &p, std::uint32_t bands, const double *a, const double *one_minus_a,
                    const PATTERN_RANGE *ranges)
{
    for (std::uint32_t k = 0; k < bands; ++k) {
        p.num[k] = p.test[k] * p.ref[k] + a[k] * p.num[k];
        p.den[k] = a[k] * p.den[k] + p.ref[k] * p.ref[k];
    }
    // In increasing band order: a band without information takes the final
    // ratios of the band below it.
    for (std::uint32_t k = 0; k < bands; ++k) {
        if (p.den[k] != 0.0) {
            const double q = p.num[k] / p.den[k];
            if (q < 1.0) {
                p.ratio_ref[k] = q;
                p.ratio_test[k] = 1.0;
            } else {
                p.ratio_ref[k] = 1.0;
                p.ratio_test[k] = 1.0 / q;
            }
        } else if (p.num[k] != 0.0) {
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
    for (std::uint32_t k = 0; k < bands; ++k) {
        p.mean_ref[k] = window_mean(p.ratio_ref, ranges[k]);
        p.mean_test[k] = window_mean(p.ratio_test, ranges[k]);
    }
    for (std::uint32_t k = 0; k < bands; ++k) {
        p.corr_ref[k] = one_minus_a[k] * p.mean_ref[k] + a[k] * p.corr_ref[k];
        p.corr_test[k] = one_minus_a[k] * p.mean_test[k] + a[k] * p.corr_test[k];
        p.ref_out[k] = p.ref[k] * p.corr_ref[k];
        p.test_out[k] = p.test[k] * p.corr_test[k];
    }
}

struct ModulationMemory {
    double *prev;   // last frame's E^0.3
    double *deriv;  // smoothed absolute change per second
    double *avg;    // smoothed E^0.3
};

void get_modulation(const double *e2, const ModulationMemory &m, std::uint32_t bands, const double *one_minus_a,
                    const double *a, double *out, double sample_rate, double hop_length)
{
    const double frames_per_second = sample_rate / hop_length;
    double v[kBandCount], scratch[kBandCount];
    log_array(e2, scratch, bands);
    for (std::uint32_t k = 0; k < bands; ++k) scratch[k] *= 0.3;
    exp_array(scratch, v, bands);  // E^0.3
    for (std::uint32_t k = 0; k < bands; ++k) {
        m.avg[k] = a[k] * m.avg[k] + one_minus_a[k] * v[k];
        const double change = v[k] <= m.prev[k] ? m.prev[k] - v[k] : v[k] - m.prev[k];
        m.deriv[k] = a[k] * m.deriv[k] + one_minus_a[k] * frames_per_second * change;
        m.prev[k] = v[k];
        out[k] = m.deriv[k] / (1.0 + m.avg[k] * 3.3333333333333335);
    }
}

// N = ((E / q + 1 - s)^0.23 - 1) (q / 10^4)^0.23 G with q = Eth / s; the
// factors of q come from the start-up tables.
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

// Negative specific loudness (and not-a-number) counts as silence.
void get_total_loudness(const double *specific, std::uint32_t bands, double scale, double *out)
{
    *out = 0.0;
    for (std::uint32_t k = 0; k < bands; ++k) *out += specific[k] > 0.0 ? specific[k] : 0.0;
    *out = *out * scale / bands;
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
    for (Copy c : copies(*s))
        get_total_loudness((s->*kSpecificLoudness[c]).data, s->band_count, s->loudness_scale,
                           &(s->*kTotalLoudness[c]));
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
