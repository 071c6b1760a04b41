// The peripheral ear model: from the power spectra of a frame to the
// excitation patterns, the noise patterns and the masking threshold.
//
// Every stage repeats the same per-array work on each signal/channel copy
// present in the instance (copies() gives them in processing order), or on
// each channel for the quantities that exist per channel only. Channels
// never mix: each channel is a separate ear.
#include "stages.h"
#include "dispatch.h"
#include "vector_math.h"

#include <cmath>
#include <cstring>
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

// Level-dependent frequency spreading of one band-energy pattern.
//
// Source band j spreads its energy E[j] over every band i: downwards by the
// ratio d = 10^(-27 dz / 10) per band, upwards by u[j] = 10^(dz/10 s[j]) per
// band, s[j] = 2 log10 E[j] - 24 - 230/fc[j], and each row is scaled to sum
// to E[j] (A[j] is its unscaled sum). The rows' contributions to a band add
// as energies raised to 0.4 and the total is raised to 2.5:
//
//   out[k] = (sum_j (E[j] w_j(k) / A[j])^0.4)^2.5 / norm[k].
//
// Taken pair by pair that is three Z^2 powers per pattern. But w_j(k) is a
// geometric sequence in |k - j| and so is its 0.4 power, with the ratios
// d^0.4 and uu[j] = u[j]^0.4. This evaluates 2 Z logarithms and 2 Z
// exponentials, and forms the sequences by repeated multiplication. It
// agrees with the pair-by-pair form to about 1e-14 relative; the order of
// every sum over j is the same (lowest source first).
// Four doubles operated on lane by lane (each lane exactly the scalar
// operation), so the loops below are vector code in every dispatched copy.
typedef double Lanes4 __attribute__((vector_size(32)));
typedef double Lanes8 __attribute__((vector_size(64)));
typedef std::int64_t Mask4 __attribute__((vector_size(32)));
constexpr std::uint32_t kPaddedBands = (kBandCount + 3) / 4 * 4;

VELUMAR_TARGET_CLONES("avx512f", "avx2", "default")
void spread_over_bands(const M_STATE &s, const double *energy, double *out)
{
    constexpr std::uint32_t bands = kBandCount;
    const double up_exponent = 0.4 * s.band_step * 0.1 * 2.0;  // uu[j] = E[j]^this * base[j]
    double log_e[bands], scratch[bands], ratio[bands], ratio04[bands], row_sum[bands], step[bands], share[bands];

    log_array(energy, log_e, bands);
    for (std::uint32_t j = 0; j < bands; ++j) scratch[j] = up_exponent * log_e[j];
    exp_array(scratch, ratio04, bands);
    for (std::uint32_t j = 0; j < bands; ++j) {
        ratio04[j] *= s.spread_upper_base[j];
        ratio[j] = ratio04[j] * ratio04[j] * std::sqrt(ratio04[j]);  // uu^2.5
    }

    // Row sums: the fixed downward part, then u^0, u^1, ... upward. Target
    // band k adds one term to every row whose source lies at or below it.
    for (std::uint32_t j = 0; j < bands; ++j) {
        row_sum[j] = s.spread_lower_sum[j];
        step[j] = 1.0;
    }
    // Each row is its own lane: any vector width gives the same values.
    for (std::uint32_t k = 0; k < bands; ++k) {
        std::uint32_t j = 0;
        for (; j + 8 <= k + 1; j += 8) {
            Lanes8 sum, st, ra;
            std::memcpy(&sum, row_sum + j, sizeof sum);
            std::memcpy(&st, step + j, sizeof st);
            std::memcpy(&ra, ratio + j, sizeof ra);
            sum += st;
            st *= ra;
            std::memcpy(row_sum + j, &sum, sizeof sum);
            std::memcpy(step + j, &st, sizeof st);
        }
        for (; j <= k; ++j) {
            row_sum[j] += step[j];
            step[j] *= ratio[j];
        }
    }

    // (E[j] / A[j])^0.4: the 0.4 power of row j at its own band.
    log_array(row_sum, scratch, bands);
    for (std::uint32_t j = 0; j < bands; ++j) scratch[j] = 0.4 * (log_e[j] - scratch[j]);
    exp_array(scratch, share, bands);

    // Contributions of the sources at or below each band, source by source;
    // four interleaved sequences keep the multiplications independent.
    // The four sequences are the four lanes of one vector, each lane doing
    // its own multiplications and additions in the same order. A row starts
    // at the aligned group of four bands that holds its source, its lanes
    // below the source held back for one group: so every row reads and
    // writes the sums in the same aligned groups, and each read finds the
    // previous row's write whole instead of waiting for it to reach memory.
    alignas(32) double upward[kPaddedBands];
    for (double &u : upward) u = 0.0;
    for (std::uint32_t j = 0; j < bands; ++j) {
        const double r = ratio04[j];
        const double r4 = (r * r) * (r * r);
        const double sequence[4] = {share[j], share[j] * r, share[j] * r * r, share[j] * r * r * r};
        const std::uint32_t offset = j % 4;
        Lanes4 t;
        Mask4 starts;
        for (std::uint32_t lane = 0; lane < 4; ++lane) {
            t[lane] = sequence[(lane + 4 - offset) % 4];
            starts[lane] = lane >= offset ? -1 : 0;
        }
        std::uint32_t k = j - offset;
        Lanes4 acc;
        std::memcpy(&acc, upward + k, sizeof acc);
        acc = starts ? acc + t : acc;
        std::memcpy(upward + k, &acc, sizeof acc);
        t = starts ? t * r4 : t;
        for (k += 4; k < bands; k += 4) {
            std::memcpy(&acc, upward + k, sizeof acc);
            acc += t;
            std::memcpy(upward + k, &acc, sizeof acc);
            t *= r4;
        }
    }

    // Contributions of the sources above: all share one ratio, so they
    // follow a first-order recursion from the top band down.
    double downward = 0.0;
    for (std::uint32_t k = bands; k-- > 0;) {
        const double x = upward[k] + downward;
        out[k] = x * x * std::sqrt(x) / s.spread_norm.data[k];  // x^2.5
        downward = s.spread_lower_ratio * (share[k] + downward);
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
