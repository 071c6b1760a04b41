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

#include <algorithm>
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
constexpr auto kMaskThreshold = VELUMAR_CHANNELS(mask_threshold);

// x is a power spectrum and w an amplitude weight, hence the square.
VELUMAR_TARGET_CLONES("avx512f", "avx2", "default")
void weight_power_spectrum(double *x, const double *w, std::uint32_t n)
{
    for (std::uint32_t i = 0; i < n; ++i) x[i] = x[i] * (w[i] * w[i]);
}

// Power of the difference of the two magnitude spectra, (sqrt T - sqrt R)^2.
VELUMAR_TARGET_CLONES("avx512f", "avx2", "default")
void noise_power_spectrum(double *out, const double *ref, const double *test, std::uint32_t n)
{
    for (std::uint32_t k = 0; k < n; ++k) out[k] = test[k] + ref[k] - 2.0 * std::sqrt(test[k] * ref[k]);
}

// A band's lines are a run of neighbours (ascending and distinct, so a run
// exactly when the last is count - 1 above the first): summed straight
// from the spectrum, without the index table.
bool is_run(const BAND_BINS &band)
{
    return band.count > 0 && band.indices[band.count - 1] - band.indices[0] == band.count - 1;
}

// N spectra are grouped side by side, and G neighbouring bands at a time:
// a band's sum is a chain of dependent additions, and one alone would leave
// the adder waiting on each; N x G independent chains keep it busy (the
// bands' common length together, then each band's rest). G is chosen by
// measurement: two spectra of two channels (the noise) run fastest alone,
// one spectrum or the two signals of one channel with bands side by side.
// Every sum still runs over its lines in order, lowest first.
template <int N, int G>
void group_into_bands(const double *const (&spectra)[N], double *const (&out)[N], std::uint32_t bands,
                      const BAND_BINS *bins)
{
    std::uint32_t k = 0;
    for (; G > 1 && k + G <= bands; k += G) {
        bool runs = true;
        for (int g = 0; g < G; ++g) runs = runs && is_run(bins[k + g]);
        if (!runs) break;
        std::uint32_t common = bins[k].count;
        const double *lines[G][N];
        const double *weights[G];
        for (int g = 0; g < G; ++g) {
            common = std::min(common, bins[k + g].count);
            weights[g] = bins[k + g].weights;
            for (int c = 0; c < N; ++c) lines[g][c] = spectra[c] + bins[k + g].indices[0];
        }
        double energy[G][N] = {};
        for (std::uint32_t j = 0; j < common; ++j)
            for (int g = 0; g < G; ++g)
                for (int c = 0; c < N; ++c) energy[g][c] += lines[g][c][j] * weights[g][j];
        for (int g = 0; g < G; ++g) {
            for (std::uint32_t j = common; j < bins[k + g].count; ++j)
                for (int c = 0; c < N; ++c) energy[g][c] += lines[g][c][j] * weights[g][j];
            for (int c = 0; c < N; ++c) out[c][k + g] = energy[g][c];
        }
    }
    // Bands left over, or from the first that is not a run on, one by one.
    for (; k < bands; ++k) {
        const BAND_BINS &band = bins[k];
        double energy[N] = {};
        if (is_run(band)) {
            const std::uint32_t first = band.indices[0];
            for (std::uint32_t j = 0; j < band.count; ++j)
                for (int c = 0; c < N; ++c) energy[c] += spectra[c][first + j] * band.weights[j];
        } else {
            for (std::uint32_t j = 0; j < band.count; ++j)
                for (int c = 0; c < N; ++c) energy[c] += spectra[c][band.indices[j]] * band.weights[j];
        }
        for (int c = 0; c < N; ++c) out[c][k] = energy[c];
    }
}

VELUMAR_TARGET_CLONES("avx512f", "avx2", "default")
void add_arrays(double *__restrict x, const double *__restrict y, std::uint32_t n)
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
// Rows of the spreading sums run 32 at a time (four groups of eight).
constexpr std::uint32_t kRowSweep = 32;
constexpr std::uint32_t kRowPadded = (kBandCount + kRowSweep - 1) / kRowSweep * kRowSweep;

// Steps from..to - 1 of a sweep of the row sums (step n adds u^n): the
// groups below W take every term, group W only in the lanes whose row
// still has one (n < terms), the groups above W are left alone. Returns to.
template <std::uint32_t W>
[[gnu::always_inline]] inline std::int64_t row_steps(Lanes8 (&sum)[4], Lanes8 (&st)[4], const Lanes8 (&ra)[4],
                                                     const Lanes8 (&terms)[4], std::int64_t from, std::int64_t to)
{
    for (std::int64_t n = from; n < to; ++n) {
        for (std::uint32_t g = 0; g < W && g < 4; ++g) {
            sum[g] += st[g];
            st[g] *= ra[g];
        }
        if constexpr (W < 4) {
            const double step = static_cast<double>(n);
            const Lanes8 i = {step, step, step, step, step, step, step, step};
            sum[W] = i < terms[W] ? sum[W] + st[W] : sum[W];
            st[W] *= ra[W];
        }
    }
    return to;
}

// A source's terms from its own band on, for the group G (of four bands)
// it falls in at lane O: its lanes below O are held back for the next
// group. Each lane's terms are a sequence of their own (t, t r^4, t r^8,
// ...), left in `terms` for the groups of the later passes.
template <std::uint32_t G, std::uint32_t O>
[[gnu::always_inline]] inline void start_source(Lanes4 (&acc)[4], const double (&sequence)[4][kPaddedBands],
                                                double r4, std::uint32_t j, Lanes4 &terms)
{
    Lanes4 t = {sequence[(4 - O) % 4][j], sequence[(5 - O) % 4][j], sequence[(6 - O) % 4][j],
                sequence[(7 - O) % 4][j]};
    constexpr Mask4 starts = {0 >= O ? -1 : 0, 1 >= O ? -1 : 0, 2 >= O ? -1 : 0, 3 >= O ? -1 : 0};
    acc[G] = starts ? acc[G] + t : acc[G];
    t = starts ? t * r4 : t;
    for (std::uint32_t g = G + 1; g < 4; ++g) {
        acc[g] += t;
        t *= r4;
    }
    terms = t;
}

VELUMAR_TARGET_CLONES("avx512f", "avx2", "default")
void spread_over_bands(const M_STATE &s, const double *energy, double *out)
{
    constexpr std::uint32_t bands = kBandCount;
    const double up_exponent = 0.4 * s.band_step * 0.1 * 2.0;  // uu[j] = E[j]^this * base[j]
    double log_e[bands], scratch[bands], ratio[bands], ratio04[bands], share[bands];
    alignas(64) double row_sum[kRowPadded];

    log_array(energy, log_e, bands);
    for (std::uint32_t j = 0; j < bands; ++j) scratch[j] = up_exponent * log_e[j];
    exp_array(scratch, ratio04, bands);
    for (std::uint32_t j = 0; j < bands; ++j) {
        ratio04[j] *= s.spread_upper_base[j];
        ratio[j] = ratio04[j] * ratio04[j] * std::sqrt(ratio04[j]);  // uu^2.5
    }

    // Row sums: the fixed downward part, then u^0, u^1, ... upward, one
    // term for every band at or above the source. Each row is its own lane
    // and keeps its running sum and power in a register for its whole run;
    // a row's lane starts with its first term and stops after its last, so
    // any vector width gives the same values. Four groups of eight rows run
    // side by side to keep the additions independent.
    alignas(64) double row_ratio[kRowPadded];
    for (std::uint32_t j = 0; j < kRowPadded; ++j) {
        row_ratio[j] = j < bands ? ratio[j] : 0.0;
        row_sum[j] = j < bands ? s.spread_lower_sum[j] : 0.0;
    }
    const Lanes8 one = {1, 1, 1, 1, 1, 1, 1, 1};
    const Lanes8 lane_index = {0, 1, 2, 3, 4, 5, 6, 7};
    for (std::int64_t j0 = 0; j0 < bands; j0 += kRowSweep) {
        Lanes8 sum[4], st[4], ra[4], terms[4];
        for (std::uint32_t g = 0; g < 4; ++g) {
            std::memcpy(&sum[g], row_sum + j0 + 8 * g, sizeof(Lanes8));
            std::memcpy(&ra[g], row_ratio + j0 + 8 * g, sizeof(Lanes8));
            st[g] = one;
            // Row j has one term per band j .. bands - 1.
            terms[g] = (static_cast<double>(bands) - static_cast<double>(j0 + 8 * g)) - lane_index;
        }
        // Group g's lanes all take a term while n - j0 < full(g); in the
        // eight steps after that they stop one by one, and then the group
        // is done. So the sweep is a stretch where every group takes every
        // term, then for w = 3 .. 0 eight steps where group w is the one
        // that checks its lanes, the groups below it still take every term
        // and the ones above are done: the same terms added as if every
        // lane checked at every step.
        const std::int64_t steps = bands - j0;
        const auto clamp = [steps](std::int64_t n) { return n < 0 ? 0 : n > steps ? steps : n; };
        const std::int64_t full3 = steps - 3 * 8 - 7;
        std::int64_t n = clamp(full3);
        row_steps<4>(sum, st, ra, terms, 0, n);
        n = row_steps<3>(sum, st, ra, terms, n, clamp(full3 + 8));
        n = row_steps<2>(sum, st, ra, terms, n, clamp(full3 + 16));
        n = row_steps<1>(sum, st, ra, terms, n, clamp(full3 + 24));
        row_steps<0>(sum, st, ra, terms, n, steps);
        for (std::uint32_t g = 0; g < 4; ++g) std::memcpy(row_sum + j0 + 8 * g, &sum[g], sizeof(Lanes8));
    }

    // (E[j] / A[j])^0.4: the 0.4 power of row j at its own band.
    log_array(row_sum, scratch, bands);
    for (std::uint32_t j = 0; j < bands; ++j) scratch[j] = 0.4 * (log_e[j] - scratch[j]);
    exp_array(scratch, share, bands);

    // Contributions of the sources at or below each band. Source j adds to
    // its own aligned group of four bands from band j on (its lanes below j
    // held back for one group), then to every later group; each lane's terms
    // are a sequence of their own, t, t r^4, t r^8, ... by repeated
    // multiplication, and every band takes its sources in rising order. The
    // sums of four groups (sixteen bands) stay in registers while each source
    // at or below them adds its terms, so no sum waits on memory; a source's
    // running terms are kept between the passes.
    static_assert(kPaddedBands % 16 == 0);
    // Each source's first four terms, share r^0 .. share r^3 by repeated
    // multiplication, and r^4; the sources past the last band have none.
    alignas(64) double sequence[4][kPaddedBands], term_ratio[kPaddedBands];
    for (std::uint32_t j = 0; j < kPaddedBands; ++j) {
        const double r = j < bands ? ratio04[j] : 0.0;
        sequence[0][j] = j < bands ? share[j] : 0.0;
        sequence[1][j] = sequence[0][j] * r;
        sequence[2][j] = sequence[1][j] * r;
        sequence[3][j] = sequence[2][j] * r;
        term_ratio[j] = (r * r) * (r * r);
    }
    alignas(32) double upward[kPaddedBands];
    Lanes4 terms[kPaddedBands];
    for (std::uint32_t first = 0; first < kPaddedBands; first += 16) {
        Lanes4 acc[4] = {};
        for (std::uint32_t j = 0; j < first; ++j) {
            const double r4 = term_ratio[j];
            Lanes4 t = terms[j];
            acc[0] += t;
            t *= r4;
            acc[1] += t;
            t *= r4;
            acc[2] += t;
            t *= r4;
            acc[3] += t;
            terms[j] = t * r4;
        }
        // The sixteen sources of these bands, in rising order, each with
        // its group and place in it known here: source i starts in group
        // i / 4 at lane i % 4.
#define VELUMAR_SOURCE(i) \
    start_source<(i) / 4, (i) % 4>(acc, sequence, term_ratio[first + (i)], first + (i), terms[first + (i)])
        VELUMAR_SOURCE(0);
        VELUMAR_SOURCE(1);
        VELUMAR_SOURCE(2);
        VELUMAR_SOURCE(3);
        VELUMAR_SOURCE(4);
        VELUMAR_SOURCE(5);
        VELUMAR_SOURCE(6);
        VELUMAR_SOURCE(7);
        VELUMAR_SOURCE(8);
        VELUMAR_SOURCE(9);
        VELUMAR_SOURCE(10);
        VELUMAR_SOURCE(11);
        VELUMAR_SOURCE(12);
        VELUMAR_SOURCE(13);
        VELUMAR_SOURCE(14);
        VELUMAR_SOURCE(15);
#undef VELUMAR_SOURCE
        for (std::uint32_t g = 0; g < 4; ++g) std::memcpy(upward + first + 4 * g, &acc[g], sizeof(Lanes4));
    }

    // Contributions of the sources above: all share one ratio, so they
    // follow a first-order recursion from the top band down.
    // The recursion runs eight bands at a time, and those bands' powers
    // (x^2.5 / norm: a square root and a division each) then go as one
    // vector, beside the recursion of the next eight. The bands above the
    // last whole block of eight go one at a time.
    const double *norm = s.spread_norm.data;
    const double lower_ratio = s.spread_lower_ratio;
    double downward = 0.0;
    std::uint32_t k = bands;
    for (const std::uint32_t whole = bands / 8 * 8; k > whole;) {
        --k;
        const double x = upward[k] + downward;
        out[k] = x * x * std::sqrt(x) / norm[k];
        downward = lower_ratio * (share[k] + downward);
    }
    for (; k > 0; k -= 8) {
        const std::uint32_t base = k - 8;
        double above[8], result[8];
        for (std::uint32_t i = 8; i-- > 0;) {
            above[i] = downward;
            downward = lower_ratio * (share[base + i] + downward);
        }
        for (std::uint32_t i = 0; i < 8; ++i) {
            const double x = upward[base + i] + above[i];
            result[i] = x * x * std::sqrt(x) / norm[base + i];
        }
        std::memcpy(out + base, result, sizeof result);
    }
}

VELUMAR_TARGET_CLONES("avx512f", "avx2", "default")
void multiply_bands(const double *__restrict x, const double *__restrict y, double *__restrict out, std::uint32_t n)
{
    for (std::uint32_t k = 0; k < n; ++k) out[k] = x[k] * y[k];
}

// Forward masking: a first-order low-pass whose output only ever raises the
// current pattern. The memory keeps the unclipped filter output.
VELUMAR_TARGET_CLONES("avx512f", "avx2", "default")
void time_spreading(const double *__restrict e2, double *__restrict state, double *__restrict out, std::uint32_t n,
                    const double *__restrict a, const double *__restrict one_minus_a)
{
    for (std::uint32_t k = 0; k < n; ++k) {
        const double filtered = one_minus_a[k] * e2[k] + a[k] * state[k];
        state[k] = filtered;
        out[k] = filtered > e2[k] ? filtered : e2[k];
    }
}

VELUMAR_TARGET_CLONES("avx512f", "avx2", "default")
void recursive_smoothing(const double *__restrict e, double *__restrict state, std::uint32_t n,
                         const double *__restrict a, const double *__restrict one_minus_a)
{
    for (std::uint32_t k = 0; k < n; ++k) state[k] = a[k] * state[k] + one_minus_a[k] * e[k];
}

// The lines the grouping reads: up to the last line of the last band (the
// bands rise in frequency). The lines above it are neither weighted nor
// differenced, as nothing after these stages reads them.
std::uint32_t grouped_lines(const M_STATE &s, std::uint32_t length)
{
    if (s.band_count == 0) return 0;
    const BAND_BINS &top = s.band_bins.data[s.band_count - 1];
    const std::uint32_t lines = top.count > 0 ? top.indices[top.count - 1] + 1 : length;
    return lines < length ? lines : length;
}

} // namespace

std::int32_t outer_ear_weighting_frames(M_STATE *s)
{
    if (s == nullptr) return 1;
    if (!valid_channel_mode(*s)) return report_failure("ERROR in outer_ear_weighting_frames\n");
    for (Copy c : copies(*s)) {
        M_ARRAY &spectrum = s->*kSpectrum[c];
        weight_power_spectrum(spectrum.data, s->outer_ear.data, grouped_lines(*s, spectrum.length));
    }
    return 0;
}

std::int32_t get_noise_of_current_frames(M_STATE *s)
{
    if (!valid_channel_mode(*s)) return report_failure("ERROR get_noise_of_current_frames()\n");
    for (int ch = 0; ch < channel_count(*s); ++ch) {
        M_ARRAY &noise = s->*kNoiseSpectrum[ch];
        noise_power_spectrum(noise.data, (s->*kSpectrum[ref_copy(ch)]).data, (s->*kSpectrum[test_copy(ch)]).data,
                             grouped_lines(*s, noise.length));
    }
    return 0;
}

std::int32_t grouping_into_critical_bands_for_frames(M_STATE *s)
{
    if (!valid_channel_mode(*s)) return report_failure("ERROR - grouping_into_critical_bands_for_frames()\n");
    const auto spectrum = [s](Copy c) { return static_cast<const double *>((s->*kSpectrum[c]).data); };
    const auto energy = [s](Copy c) { return (s->*kBandEnergy[c]).data; };
    if (s->stereo == 1) {
        const double *const in[4] = {spectrum(REF_CH1), spectrum(REF_CH2), spectrum(TEST_CH1), spectrum(TEST_CH2)};
        double *const out[4] = {energy(REF_CH1), energy(REF_CH2), energy(TEST_CH1), energy(TEST_CH2)};
        group_into_bands<4, 1>(in, out, s->band_count, s->band_bins.data);
    } else {
        const double *const in[2] = {spectrum(REF_CH1), spectrum(TEST_CH1)};
        double *const out[2] = {energy(REF_CH1), energy(TEST_CH1)};
        group_into_bands<2, 2>(in, out, s->band_count, s->band_bins.data);
    }
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
        multiply_bands((s->*kExcitation[ref_copy(ch)]).data, s->mask_offset.data, (s->*kMaskThreshold[ch]).data,
                       s->band_count);
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
    if (s->stereo == 1) {
        const double *const in[2] = {s->noise_spectrum_ch1.data, s->noise_spectrum_ch2.data};
        double *const out[2] = {s->noise_band_energy_ch1.data, s->noise_band_energy_ch2.data};
        group_into_bands<2, 1>(in, out, s->band_count, s->band_bins.data);
    } else {
        const double *const in[1] = {s->noise_spectrum_ch1.data};
        double *const out[1] = {s->noise_band_energy_ch1.data};
        group_into_bands<1, 4>(in, out, s->band_count, s->band_bins.data);
    }
    return 0;
}

} // namespace velumar::model
