// The peripheral ear model: from the power spectra of a frame to the
// excitation patterns, the noise patterns and the masking threshold.
//
// Every stage repeats the same per-array work on each signal/channel copy
// present in the instance (copies() gives them in processing order), or on
// each channel for the quantities that exist per channel only. Channels
// never mix: each channel is a separate ear.
#include "stages.h"

#include <cmath>
#include <cstdint>

namespace velumar::model {
namespace {

constexpr auto kSpectrum = VELUMAR_FAMILY(spectrum);
constexpr auto kBandEnergy = VELUMAR_FAMILY(band_energy);
constexpr auto kSpreadEnergy = VELUMAR_FAMILY(spread_energy);
constexpr auto kExcitation = VELUMAR_FAMILY(excitation);
constexpr auto kTimeSpreadState = VELUMAR_FAMILY(time_spread_state);
constexpr auto kSmoothedExcitation = VELUMAR_FAMILY(smoothed_excitation);
constexpr auto kNoiseSpectrum = VELUMAR_CHANNELS(noise_spectrum);
constexpr auto kNoiseBandEnergy = VELUMAR_CHANNELS(noise_band_energy);
constexpr auto kMaskThreshold = VELUMAR_CHANNELS(mask_threshold);

// x is a power spectrum and w an amplitude weight, hence the square.
void weight_power_spectrum(double *x, const double *w, std::uint32_t n)
{
    for (std::uint32_t i = 0; i < n; ++i) x[i] = x[i] * (w[i] * w[i]);
}

// Power of the difference of the two magnitude spectra, (sqrt T - sqrt R)^2.
void noise_power_spectrum(double *out, const double *ref, const double *test, std::uint32_t n)
{
    for (std::uint32_t k = 0; k < n; ++k) out[k] = test[k] + ref[k] - 2.0 * std::sqrt(test[k] * ref[k]);
}

void group_into_bands(const double *spectrum, double *out, std::uint32_t bands, const BAND_BINS *bins)
{
    for (std::uint32_t k = 0; k < bands; ++k) {
        const BAND_BINS &band = bins[k];
        double energy = 0.0;
        for (std::uint32_t j = 0; j < band.count; ++j) energy += spectrum[band.indices[j]] * band.weights[j];
        out[k] = energy;
    }
}

void add_arrays(double *x, const double *y, std::uint32_t n)
{
    for (std::uint32_t i = 0; i < n; ++i) x[i] = x[i] + y[i];
}

// Share of source band `source` that lands in band `target` before the row
// is normalised: 27 dB per Bark downwards, the level-dependent slope
// upwards, 0 dB in the source band itself.
double spreading_weight(std::uint32_t target, std::uint32_t source, double upper_slope, double lower_slope,
                        double dz)
{
    if (target < source)
        return std::pow(10.0, -static_cast<double>(source - target) * lower_slope * dz * 0.1);
    return std::pow(10.0, static_cast<double>(target - source) * upper_slope * dz * 0.1);
}

// Level-dependent frequency spreading of one band-energy pattern. Every
// weight is a fresh power of ten, evaluated once for the row sum and once
// for the row itself; this is the reference form that any faster variant
// has to reproduce bit for bit, so it is deliberately not rearranged.
void spread_over_bands(M_STATE &s, const double *energy, double *out)
{
    const std::uint32_t bands = s.band_count;
    const double dz = s.band_step;
    const double lower_slope = s.spread_lower_slope;
    const double *centre = s.band_centre.data;
    double *slope = s.spread_slope.data;
    double *const *rows = s.spread_matrix.data;

    for (std::uint32_t j = 0; j < bands; ++j) slope[j] = 2.0 * std::log10(energy[j]) - 24.0 - 230.0 / centre[j];

    for (std::uint32_t j = 0; j < bands; ++j) {
        double row_sum = 0.0;
        for (std::uint32_t i = 0; i < bands; ++i) row_sum += spreading_weight(i, j, slope[j], lower_slope, dz);
        for (std::uint32_t i = 0; i < bands; ++i)
            rows[j][i] = energy[j] * spreading_weight(i, j, slope[j], lower_slope, dz) / row_sum;
    }

    // The contributions of all source bands add as energies raised to 0.4.
    for (std::uint32_t k = 0; k < bands; ++k) {
        double sum = 0.0;
        for (std::uint32_t j = 0; j < bands; ++j) sum += std::pow(rows[j][k], 0.4);
        out[k] = std::pow(sum, 2.5);
        out[k] = out[k] / s.spread_norm.data[k];
    }
}

// Forward masking: a first-order low-pass whose output only ever raises the
// current pattern. The memory keeps the unclipped filter output.
void time_spreading(const double *e2, double *state, double *out, std::uint32_t n, const double *a,
                    const double *one_minus_a)
{
    for (std::uint32_t k = 0; k < n; ++k) {
        const double filtered = one_minus_a[k] * e2[k] + a[k] * state[k];
        state[k] = filtered;
        out[k] = filtered > e2[k] ? filtered : e2[k];
    }
}

void recursive_smoothing(const double *e, double *state, std::uint32_t n, const double *a, const double *one_minus_a)
{
    for (std::uint32_t k = 0; k < n; ++k) state[k] = a[k] * state[k] + one_minus_a[k] * e[k];
}

} // namespace

std::int32_t outer_ear_weighting_frames(M_STATE *s)
{
    if (s == nullptr) return 1;
    if (!valid_channel_mode(*s)) return report_failure("ERROR in outer_ear_weighting_frames\n");
    for (Copy c : copies(*s)) {
        M_ARRAY &spectrum = s->*kSpectrum[c];
        weight_power_spectrum(spectrum.data, s->outer_ear.data, spectrum.length);
    }
    return 0;
}

std::int32_t get_noise_of_current_frames(M_STATE *s)
{
    if (!valid_channel_mode(*s)) return report_failure("ERROR get_noise_of_current_frames()\n");
    for (int ch = 0; ch < channel_count(*s); ++ch) {
        M_ARRAY &noise = s->*kNoiseSpectrum[ch];
        noise_power_spectrum(noise.data, (s->*kSpectrum[ref_copy(ch)]).data, (s->*kSpectrum[test_copy(ch)]).data,
                             noise.length);
    }
    return 0;
}

std::int32_t grouping_into_critical_bands_for_frames(M_STATE *s)
{
    if (!valid_channel_mode(*s)) return report_failure("ERROR - grouping_into_critical_bands_for_frames()\n");
    for (Copy c : copies(*s))
        group_into_bands((s->*kSpectrum[c]).data, (s->*kBandEnergy[c]).data, s->band_count, s->band_bins.data);
    return 0;
}

std::int32_t adding_internal_noise_for_frames(M_STATE *s)
{
    if (!valid_channel_mode(*s)) return report_failure("ERROR adding_internal_noise_for_frames()\n");
    for (Copy c : copies(*s)) add_arrays((s->*kBandEnergy[c]).data, s->internal_noise.data, s->band_count);
    return 0;
}

std::int32_t frequency_spreading_for_frames(M_STATE *s)
{
    if (!valid_channel_mode(*s)) return report_failure("ERROR frequency_spreading_for_frames()\n");
    for (Copy c : copies(*s)) spread_over_bands(*s, (s->*kBandEnergy[c]).data, (s->*kSpreadEnergy[c]).data);
    return 0;
}

std::int32_t time_spreading_for_frames(M_STATE *s)
{
    if (!valid_channel_mode(*s)) return report_failure("ERROR time_spreading_for_frames()1\n");
    for (Copy c : copies(*s))
        time_spreading((s->*kSpreadEnergy[c]).data, (s->*kTimeSpreadState[c]).data, (s->*kExcitation[c]).data,
                       s->band_count, s->time_spread_a.data, s->time_spread_b.data);
    return 0;
}

std::int32_t get_masking_threshold(M_STATE *s)
{
    if (!valid_channel_mode(*s)) return report_failure("ERROR get_masking_threshold()\n");
    for (int ch = 0; ch < channel_count(*s); ++ch) {
        const double *excitation = (s->*kExcitation[ref_copy(ch)]).data;
        double *threshold = (s->*kMaskThreshold[ch]).data;
        for (std::uint32_t k = 0; k < s->band_count; ++k) threshold[k] = excitation[k] * s->mask_offset.data[k];
    }
    return 0;
}

std::int32_t smoothing_excitation_for_frames(M_STATE *s)
{
    if (!valid_channel_mode(*s)) return report_failure("ERROR get_masking_threshold()\n");
    for (Copy c : copies(*s))
        recursive_smoothing((s->*kExcitation[c]).data, (s->*kSmoothedExcitation[c]).data, s->band_count,
                            s->adapt_a.data, s->adapt_b.data);
    return 0;
}

std::int32_t grouping_noise_into_critical_bands_for_frames(M_STATE *s)
{
    if (!valid_channel_mode(*s)) return report_failure("ERROR get_masking_threshold()\n");
    for (int ch = 0; ch < channel_count(*s); ++ch)
        group_into_bands((s->*kNoiseSpectrum[ch]).data, (s->*kNoiseBandEnergy[ch]).data, s->band_count,
                         s->band_bins.data);
    return 0;
}

} // namespace velumar::model
