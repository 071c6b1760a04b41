// Distortion measures of one frame: modulation differences, noise loudness,
// noise-to-mask ratio, detection probability and the running values behind
// MFPD and ADB. Each channel is measured on its own; the detection
// probability also forms the binaural combination of two channels.
#include "stages.h"
#include "dispatch.h"
#include "vector_math.h"

#include <cmath>
#include <cstdint>

namespace velumar::model {
namespace {

using ArrayField = M_ARRAY M_STATE::*;
using ValueField = double M_STATE::*;

constexpr auto kModulation = VELUMAR_FAMILY(modulation);
constexpr auto kModAvg = VELUMAR_FAMILY(mod_avg);
constexpr auto kPatternAdapted = VELUMAR_FAMILY(pattern_adapted);
constexpr auto kExcitation = VELUMAR_FAMILY(excitation);
constexpr auto kDetectLevel = VELUMAR_FAMILY(detect_level);

// The per-channel results and work arrays of this stage group.
struct ChannelFields {
    ArrayField moddiff1_bands, moddiff2_bands;
    ValueField moddiff1, moddiff2, temp_wt;
    ArrayField noise_loudness_bands;
    ValueField noise_loudness;
    ArrayField noise_band_energy, mask_threshold, nmr_bands;
    ValueField nmr_mean;
    std::int32_t M_STATE::*disturbed_frame;
    ArrayField weighted_level, slope, diff;
};

constexpr ChannelFields kChannels[2] = {
    {&M_STATE::moddiff1_bands_ch1, &M_STATE::moddiff2_bands_ch1, &M_STATE::moddiff1_ch1, &M_STATE::moddiff2_ch1,
     &M_STATE::temp_wt_ch1, &M_STATE::noise_loudness_bands_ch1, &M_STATE::noise_loudness_ch1,
     &M_STATE::noise_band_energy_ch1, &M_STATE::mask_threshold_ch1, &M_STATE::nmr_bands_ch1,
     &M_STATE::nmr_mean_ch1, &M_STATE::disturbed_frame_ch1, &M_STATE::detect_weighted_level_ch1,
     &M_STATE::detect_slope_ch1, &M_STATE::detect_diff_ch1},
    {&M_STATE::moddiff1_bands_ch2, &M_STATE::moddiff2_bands_ch2, &M_STATE::moddiff1_ch2, &M_STATE::moddiff2_ch2,
     &M_STATE::temp_wt_ch2, &M_STATE::noise_loudness_bands_ch2, &M_STATE::noise_loudness_ch2,
     &M_STATE::noise_band_energy_ch2, &M_STATE::mask_threshold_ch2, &M_STATE::nmr_bands_ch2,
     &M_STATE::nmr_mean_ch2, &M_STATE::disturbed_frame_ch2, &M_STATE::detect_weighted_level_ch2,
     &M_STATE::detect_slope_ch2, &M_STATE::detect_diff_ch2},
};

// The detection probability of channel 1, channel 2 and of both together:
// per-band probabilities and step counts, the frame's P and Q, the smoothed
// P and its running maximum.
struct DetectionFields {
    ArrayField prob, steps;
    ValueField p, q, ptilde, pm;
};

constexpr int kBinaural = 2;
constexpr DetectionFields kDetection[3] = {
    {&M_STATE::detect_prob_ch1, &M_STATE::detect_steps_ch1, &M_STATE::detect_p_ch1, &M_STATE::detect_q_ch1,
     &M_STATE::detect_ptilde_ch1, &M_STATE::detect_pm_ch1},
    {&M_STATE::detect_prob_ch2, &M_STATE::detect_steps_ch2, &M_STATE::detect_p_ch2, &M_STATE::detect_q_ch2,
     &M_STATE::detect_ptilde_ch2, &M_STATE::detect_pm_ch2},
    {&M_STATE::detect_prob_binaural, &M_STATE::detect_steps_binaural, &M_STATE::detect_p_binaural,
     &M_STATE::detect_q_binaural, &M_STATE::detect_ptilde_binaural, &M_STATE::detect_pm_binaural},
};

// Channel 1 alone, or both channels and their binaural combination.
int detection_count(const M_STATE &s) { return s.stereo == 1 ? 3 : 1; }

// The relative modulation change of every band for both settings (a
// decrease weighted by negwt), and the weight of each band's level.
struct ModulationSettings {
    double negwt1, offset1, negwt2, offset2, levwt;
};

VELUMAR_TARGET_CLONES("avx512f", "avx2", "default")
void modulation_terms(const double *__restrict mod_ref, const double *__restrict mod_test,
                      const double *__restrict level, const double *__restrict noise_pow, std::uint32_t bands,
                      ModulationSettings m, double *__restrict terms1, double *__restrict terms2,
                      double *__restrict weights)
{
    for (std::uint32_t k = 0; k < bands; ++k) {
        const double d = mod_test[k] - mod_ref[k];
        terms1[k] = (d > 0.0 ? d : m.negwt1 * (-d)) / (m.offset1 + mod_ref[k]);
        terms2[k] = (d > 0.0 ? d : m.negwt2 * (-d)) / (m.offset2 + mod_ref[k]);
        weights[k] = level[k] / (level[k] + m.levwt * noise_pow[k]);
    }
}

// The partial noise loudness of every band of one channel:
//
//   (E_N / (s_test E0))^0.23 ((1 + num / (E_N + beta s_ref e_ref))^0.23 - 1)
//
// with beta = e^(-alpha (e_test - e_ref) / e_ref). The exponential and the
// two powers of all bands go through the vector logarithm and exponential
// (a few units in the last place from the standard exp and pow).
VELUMAR_TARGET_CLONES("avx512f", "avx2", "default")
void noise_loudness_bands(const M_STATE &s, const double *e_ref, const double *e_test, const double *mod_ref,
                          const double *mod_test, const double *internal_noise, double *terms)
{
    const std::uint32_t bands = s.band_count;
    // The base of the second power and the one of the first side by side,
    // so that one logarithm and one exponential serve both. Every step is
    // taken for every band and the band's case selected after it, so the
    // loops carry no branches.
    double s_ref[kBandCount], s_test[kBandCount], argument[kBandCount] = {}, beta[kBandCount],
        bases[2 * kBandCount], logs[2 * kBandCount];
    double *base = bases, *power = bases + bands;
    for (std::uint32_t k = 0; k < bands; ++k) {
        s_ref[k] = s.noise_loud_thres_fac * mod_ref[k] + s.noise_loud_s0;
        s_test[k] = s.noise_loud_thres_fac * mod_test[k] + s.noise_loud_s0;
        // Where beta is not an exponential its argument is a harmless 0.
        const double ratio = -s.noise_loud_alpha * (e_test[k] - e_ref[k]) / e_ref[k];
        argument[k] = e_ref[k] != 0.0 ? ratio : e_test[k] == 0.0 ? -s.noise_loud_alpha : 0.0;
    }
    exp_array(argument, beta, bands);
    for (std::uint32_t k = 0; k < bands; ++k) {
        const double b = e_ref[k] == 0.0 && e_test[k] != 0.0 ? (e_test[k] > 0.0 ? 0.0 : 1e101) : beta[k];
        const double difference = s_test[k] * e_test[k] - s_ref[k] * e_ref[k];
        const double num = difference <= 0.0 ? 0.0 : difference;
        base[k] = 1.0 + num / (internal_noise[k] + b * s_ref[k] * e_ref[k]);
        power[k] = internal_noise[k] / (s_test[k] * s.noise_loud_e0);
    }
    log_array(bases, logs, 2 * bands);
    for (std::uint32_t k = 0; k < 2 * bands; ++k) logs[k] *= 0.23;
    exp_array(logs, bases, 2 * bands);
    for (std::uint32_t k = 0; k < bands; ++k) terms[k] = power[k] * (base[k] - 1.0);
}

// log10 itself, not the faster natural logarithm scaled: the step count
// takes floor() of level differences, and log10 keeps whole decibels whole
// (10 log10(10^6) is exactly 60), so differences that are whole numbers of
// decibels are not pushed just below them.
double level_db(double excitation) { return excitation > 0.0 ? 10.0 * std::log10(excitation) : -1e100; }

// The level difference and the weighted level of every band, from the
// two levels in dB.
VELUMAR_TARGET_CLONES("avx512f", "avx2", "default")
void weigh_levels(const double *__restrict l_ref, const double *__restrict l_test, double *__restrict diff,
                  double *__restrict weighted, std::uint32_t bands)
{
    for (std::uint32_t k = 0; k < bands; ++k) {
        diff[k] = l_ref[k] - l_test[k];
        weighted[k] = diff[k] > 0.0 ? 0.3 * l_ref[k] + 0.7 * l_test[k] : l_test[k];
    }
}

// Per band, given l^-1.71332 of the weighted level l (dB): the slope of
// the detection function (1e30 for levels at or below 0 dB, where its
// polynomial fit does not hold), the exponent of 0.5^((e / slope)^b) as a
// power of e (b = 4 for a positive difference e, 6 otherwise, both as
// products), and the step count. Every case is computed and the band's
// one selected, so the bands run as vectors.
VELUMAR_TARGET_CLONES("avx512f", "avx2", "default")
void detection_terms(const double *__restrict weighted, const double *__restrict diff,
                     const double *__restrict l_power, double *__restrict slope, double *__restrict exponent,
                     double *__restrict steps, std::uint32_t bands)
{
    constexpr double kMinusLn2 = -0.6931471805599453;
    for (std::uint32_t k = 0; k < bands; ++k) {
        const double l = weighted[k];
        const double fit = 142.9535716811 * l_power[k] +
                           (((9.01033e-11 * l + 5.05622e-6) * l - 0.00102438) * l + 0.0550197) * l - 0.198719;
        slope[k] = l > 0.0 ? fit : 1e30;
        const double e = diff[k];
        const double x = e / slope[k];
        const double x2 = x * x;
        const double x4 = x2 * x2;
        exponent[k] = kMinusLn2 * (e > 0.0 ? x4 : x4 * x2);
        steps[k] = (e > 0.0 ? std::floor(e) : -std::ceil(e)) / slope[k];
    }
}

// Per-band probabilities and step counts of one channel.
void detect_channel(M_STATE &s, int ch)
{
    const ChannelFields &f = kChannels[ch];
    const DetectionFields &d = kDetection[ch];
    const std::uint32_t bands = s.band_count;
    const double *e_ref = (s.*kExcitation[ref_copy(ch)]).data;
    const double *e_test = (s.*kExcitation[test_copy(ch)]).data;
    double *l_ref = (s.*kDetectLevel[ref_copy(ch)]).data;
    double *l_test = (s.*kDetectLevel[test_copy(ch)]).data;
    double *diff = (s.*f.diff).data;
    double *weighted = (s.*f.weighted_level).data;
    double *slope = (s.*f.slope).data;
    double *prob = (s.*d.prob).data;
    double *steps = (s.*d.steps).data;
    for (std::uint32_t k = 0; k < bands; ++k) {
        l_ref[k] = level_db(e_ref[k]);
        l_test[k] = level_db(e_test[k]);
    }
    weigh_levels(l_ref, l_test, diff, weighted, bands);
    // weighted^-1.71332 for the whole channel at once (unused where the
    // level is not positive).
    double power[kBandCount];
    log_array(weighted, slope, bands);
    for (std::uint32_t k = 0; k < bands; ++k) slope[k] *= -1.71332;
    exp_array(slope, power, bands);
    // 0.5^x as e^(-x ln 2), for the whole channel at once: within a few
    // units in the last place of the standard pow.
    double exponent[kBandCount];
    detection_terms(weighted, diff, power, slope, exponent, steps, bands);
    exp_array(exponent, power, bands);
    for (std::uint32_t k = 0; k < bands; ++k) prob[k] = 1.0 - power[k];
}

// P = 1 - prod(1 - p_k) and Q = sum q_k over the bands, in band order, for
// the first n detections, their chains side by side.
void combine_bands(M_STATE &s, int n)
{
    const double *prob[3], *steps[3];
    double product[3] = {1.0, 1.0, 1.0}, q[3] = {};
    for (int i = 0; i < 3; ++i) {
        prob[i] = (s.*kDetection[i < n ? i : 0].prob).data;
        steps[i] = (s.*kDetection[i < n ? i : 0].steps).data;
    }
    for (std::uint32_t k = 0; k < s.band_count; ++k)
        for (int i = 0; i < 3; ++i) {
            product[i] *= 1.0 - prob[i][k];
            q[i] += steps[i][k];
        }
    for (int i = 0; i < n; ++i) {
        s.*kDetection[i].p = 1.0 - product[i];
        s.*kDetection[i].q = q[i];
    }
}

// A band is as audible as it is in the channel where it is most so.
VELUMAR_TARGET_CLONES("avx512f", "avx2", "default")
void binaural_bands(const double *__restrict p1, const double *__restrict p2, const double *__restrict q1,
                    const double *__restrict q2, double *__restrict p, double *__restrict q, std::uint32_t bands)
{
    for (std::uint32_t k = 0; k < bands; ++k) {
        p[k] = p1[k] > p2[k] ? p1[k] : p2[k];
        q[k] = q1[k] > q2[k] ? q1[k] : q2[k];
    }
}

// Noise-to-mask ratio of every band; returns whether any reaches the
// threshold of a disturbed frame.
VELUMAR_TARGET_CLONES("avx512f", "avx2", "default")
bool mask_ratios(const double *__restrict noise, const double *__restrict mask, double *__restrict ratio,
                 std::uint32_t bands, double threshold)
{
    std::uint64_t disturbed = 0;
    for (std::uint32_t k = 0; k < bands; ++k) {
        const double r = noise[k] / mask[k];
        ratio[k] = mask[k] != 0.0 ? r : 1e100;
        disturbed |= ratio[k] >= threshold ? 1 : 0;
    }
    return disturbed != 0;
}

} // namespace

std::int32_t get_modulation_difference_for_frames(M_STATE *s)
{
    if (!valid_channel_mode(*s)) return report_failure("ERROR get_modulation_difference_for_frames()\n");
    const ModulationSettings settings{s->moddiff1_negwt, s->moddiff1_offset, s->moddiff2_negwt, s->moddiff2_offset,
                                      s->moddiff1_levwt};
    for (int ch = 0; ch < channel_count(*s); ++ch) {
        const ChannelFields &f = kChannels[ch];
        double *terms1 = (s->*f.moddiff1_bands).data;
        double *terms2 = (s->*f.moddiff2_bands).data;
        double weights[kBandCount];
        // Bands well above the internal noise weigh fully, quiet ones less.
        modulation_terms((s->*kModulation[ref_copy(ch)]).data, (s->*kModulation[test_copy(ch)]).data,
                         (s->*kModAvg[ref_copy(ch)]).data, s->internal_noise_pow.data, s->band_count, settings,
                         terms1, terms2, weights);
        // Three sums in band order, side by side.
        double sum1 = 0.0, sum2 = 0.0, weight = 0.0;
        for (std::uint32_t k = 0; k < s->band_count; ++k) {
            sum1 += terms1[k];
            sum2 += terms2[k];
            weight += weights[k];
        }
        // Scaled to a percentage per band.
        s->*f.moddiff1 = sum1 * 100.0 / s->band_count;
        s->*f.moddiff2 = sum2 * 100.0 / s->band_count;
        s->*f.temp_wt = weight;
    }
    return 0;
}

std::int32_t get_overall_loudnes_of_noise_for_frames(M_STATE *s)
{
    if (!valid_channel_mode(*s)) return report_failure("ERROR get_overall_loudnes_of_noise_for_frames()\n");
    for (int ch = 0; ch < channel_count(*s); ++ch) {
        const ChannelFields &f = kChannels[ch];
        const double *e_ref = (s->*kPatternAdapted[ref_copy(ch)]).data;
        const double *e_test = (s->*kPatternAdapted[test_copy(ch)]).data;
        const double *mod_ref = (s->*kModulation[ref_copy(ch)]).data;
        const double *mod_test = (s->*kModulation[test_copy(ch)]).data;
        double *terms = (s->*f.noise_loudness_bands).data;
        noise_loudness_bands(*s, e_ref, e_test, mod_ref, mod_test, s->internal_noise.data, terms);
        double sum = 0.0;
        for (std::uint32_t k = 0; k < s->band_count; ++k) sum += terms[k];
        const double loudness = sum / s->band_count * s->loudness_scale;
        s->*f.noise_loudness = loudness < s->noise_loud_min ? 0.0 : loudness;
    }
    return 0;
}

std::int32_t get_noise_to_mask_ratio_for_frames(M_STATE *s)
{
    if (!valid_channel_mode(*s)) return report_failure("ERROR get_noise_to_mask_ratio_for_frames()\n");
    const int channels = channel_count(*s);
    const double *ratio[2];
    for (int ch = 0; ch < channels; ++ch) {
        const ChannelFields &f = kChannels[ch];
        s->*f.disturbed_frame = mask_ratios((s->*f.noise_band_energy).data, (s->*f.mask_threshold).data,
                                            (s->*f.nmr_bands).data, s->band_count, s->disturbed_threshold)
                                    ? 1
                                    : 0;
        ratio[ch] = (s->*f.nmr_bands).data;
    }
    if (channels == 1) ratio[1] = ratio[0];
    // Both channels' sums in band order, side by side.
    double sum[2] = {};
    for (std::uint32_t k = 0; k < s->band_count; ++k) {
        sum[0] += ratio[0][k];
        sum[1] += ratio[1][k];
    }
    for (int ch = 0; ch < channels; ++ch) s->*kChannels[ch].nmr_mean = sum[ch] / s->band_count;
    return 0;
}

std::int32_t get_detection_probability_for_frames(M_STATE *s)
{
    if (!valid_channel_mode(*s)) return report_failure("ERROR get_detection_probability_for_frames()\n");
    for (int ch = 0; ch < channel_count(*s); ++ch) detect_channel(*s, ch);
    if (s->stereo == 1) {
        const DetectionFields &both = kDetection[kBinaural];
        binaural_bands((s->*kDetection[0].prob).data, (s->*kDetection[1].prob).data, (s->*kDetection[0].steps).data,
                       (s->*kDetection[1].steps).data, (s->*both.prob).data, (s->*both.steps).data, s->band_count);
    }
    combine_bands(*s, detection_count(*s));
    for (int i = 0; i < detection_count(*s); ++i) {
        const DetectionFields &d = kDetection[i];
        s->*d.ptilde = s->*d.p * s->detect_smooth_c0 + s->*d.ptilde * s->detect_smooth_c1;
    }
    return 0;
}

std::int32_t calculating_values_for_MFPD_and_ADB_for_frames(M_STATE *s)
{
    if (!valid_channel_mode(*s)) return report_failure("ERROR calculating_values_for_MFPD_and_ADB_for_frames()\n");
    for (int i = 0; i < detection_count(*s); ++i) {
        const DetectionFields &d = kDetection[i];
        const double decayed = s->*d.pm * s->detect_max_decay;
        s->*d.pm = decayed <= s->*d.ptilde ? s->*d.ptilde : decayed;
    }
    // The average distorted block is binaural when there are two channels.
    const DetectionFields &adb = kDetection[s->stereo == 1 ? kBinaural : 0];
    if (s->*adb.p > s->adb_threshold) {
        s->detect_count += 1;
        s->detect_q_accum += s->*adb.q;
    }
    return 0;
}

} // namespace velumar::model
