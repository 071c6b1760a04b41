// Start-up tables. Computed from their formulas (nothing is stored in the
// program); the per-frame stages only read them. All but the spectrum
// scaling depend on the model's fixed grid alone, so the first creation in
// a process computes them into a template instance, and every creation,
// that one included, copies them from it into arrays of its own; only the
// scaling from the listening level is worked out per instance.
#include "tables.h"

#include "alloc.h"
#include "fft.h"
#include "messages.h"
#include "stages.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace velumar::model {
namespace {

// The full-scale test sine of the level calibration: 2 pi x 1019 Hz.
constexpr double kTestToneRadiansPerSecond = 6402.5658280368;
constexpr int kTestFrames = 10;

// Arrays obtained for the duration of one computation and always given back.
template <class T>
struct Scratch {
    T *data;
    explicit Scratch(std::size_t n) : data(static_cast<T *>(obtain(n, sizeof(T)))) {}
    ~Scratch() { give_back(data); }
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;
};

std::int32_t fail(const char *message, std::int32_t code)
{
    say(message);
    return code;
}

// The instance the grid tables are copied from, with the largest line power
// of the test tone (the listening level only scales it).
struct TableTemplate {
    const M_STATE *state = nullptr;
    double test_tone_peak = 0.0;
};

// Set on the thread that builds the template, for the duration.
thread_local TableTemplate *t_building = nullptr;

// The template, built on first use; null when it could not be built (memory
// ran out), and creations then compute their tables themselves.
const TableTemplate *table_template()
{
    static TableTemplate built;
    static std::once_flag once;
    std::call_once(once, [] {
        const UntrackedAllocations untracked;
        // The template belongs to no caller: it says nothing. Should it
        // fail, each creation computes its tables and reports for itself.
        const MessageSink silent{[](void *, const char *) {}, nullptr};
        const SinkScope quiet(&silent);
        TableTemplate t;
        t_building = &t;
        M_SETTINGS settings{};
        settings.sample_rate = 48000;
        t.state = create_basic_method(&settings, silent);
        t_building = nullptr;
        built = t;
    });
    return built.state != nullptr ? &built : nullptr;
}

template <class T>
void copy(M_ARRAY_OF<T> &to, const M_ARRAY_OF<T> &from)
{
    std::memcpy(to.data, from.data, std::size_t{to.length} * sizeof(T));
}

std::int32_t largest_test_tone_power(M_STATE *s, double *signal, double *spectrum, COMPLEX *work, double &largest)
{
    // The largest line power of a full-scale 1019 Hz sine, over ten
    // consecutive frames of a continuous tone, becomes the listening level.
    // Each frame shares its second half with the next one's first: those
    // values are kept past the frame's end (the unwindowed tone) rather
    // than computed again.
    largest = 0.0;
    const std::uint32_t hop = s->frame_length / 2;  // 1024: the step of n below
    double *kept = signal + s->frame_length;
    for (int j = 0; j < kTestFrames; ++j) {
        std::uint32_t i = 0;
        if (j > 0) {
            std::memcpy(signal, kept, std::size_t{hop} * sizeof(double));
            i = hop;
        }
        for (; i < s->frame_length; ++i) {
            const double n = 1024.0 * j + i;
            signal[i] = 32767.0 * std::sin(n * kTestToneRadiansPerSecond / s->sample_rate);
        }
        std::memcpy(kept, signal + hop, std::size_t{hop} * sizeof(double));
        multiply_arrays(signal, s->hann_window.data, s->frame_length);
        if (get_power_spectrum(signal, spectrum, work, s->fft_index.data, s->frame_length, forward_twiddles(*s)) !=
            0)
            return 1;
        for (std::uint32_t k = 0; k < s->frame_length / 2; ++k)
            if (spectrum[k] > largest) largest = spectrum[k];
    }
    return 0;
}

// The scaling from the listening level. The working arrays are obtained
// whether or not the test tone's power is known already, so a creation
// fails the same way when memory runs out in either case.
std::int32_t normalizing_factor(M_STATE *s, const double *known_peak)
{
    Scratch<double> signal(s->frame_length + s->frame_length / 2);  // a frame and the half it passes on
    if (signal.data == nullptr)
        return fail("error malloc func:'create_basic_method/get_normalizing_factor()1'\n", 1);
    Scratch<double> spectrum(s->frame_length / 2);
    if (spectrum.data == nullptr)
        return fail("error malloc func:'create_basic_method/get_normalizing_factor()2'\n", 2);
    Scratch<COMPLEX> work(s->frame_length);
    if (work.data == nullptr)
        return fail("error malloc func:'create_basic_method/get_normalizing_factor()3'\n", 3);

    double largest = 0.0;
    if (known_peak != nullptr) {
        largest = *known_peak;
    } else if (largest_test_tone_power(s, signal.data, spectrum.data, work.data, largest) != 0) {
        return 1;
    }
    s->norm_factor = std::pow(10.0, 0.1 * s->listening_level_db) / largest;
    if (t_building != nullptr) {
        t_building->test_tone_peak = largest;  // the template announces no level
        return 0;
    }
    sayf("Уровень громкости = %f\n", s->listening_level_db);
    return 0;
}

// Every table init_basic_tables computes, copied from the template; the
// steps that obtain memory obtain it here too, in the same order and with
// the same messages.
std::int32_t copy_basic_tables(M_STATE *s, const TableTemplate &from)
{
    const M_STATE &t = *from.state;
    copy(s->hann_window, t.hann_window);
    if (get_index_for_FFT(s->fft_index.data, s->fft_index.length) != 0)
        return fail("ERROR get_index_for_FFT()\n", 1);
    copy(s->fft_twiddle, t.fft_twiddle);
    copy(s->fft_inverse_twiddle, t.fft_inverse_twiddle);
    if (normalizing_factor(s, &from.test_tone_peak) != 0) return 1;
    copy(s->outer_ear, t.outer_ear);
    copy(s->band_lower, t.band_lower);
    copy(s->band_centre, t.band_centre);
    copy(s->band_upper, t.band_upper);
    for (std::uint32_t i = 0; i < s->band_count; ++i) {
        const BAND_BINS &source = t.band_bins.data[i];
        BAND_BINS &bin = s->band_bins.data[i];
        bin.count = source.count;
        bin.indices = static_cast<std::uint32_t *>(obtain(bin.count, sizeof(std::uint32_t)));
        if (bin.indices == nullptr) return fail("ERROR memory allocation/get_frequency_bands_info()1\n", 1);
        bin.weights = static_cast<double *>(obtain(bin.count, sizeof(double)));
        if (bin.weights == nullptr) return fail("ERROR memory allocation/get_frequency_bands_info()2\n", 1);
        std::memcpy(bin.indices, source.indices, std::size_t{bin.count} * sizeof(std::uint32_t));
        std::memcpy(bin.weights, source.weights, std::size_t{bin.count} * sizeof(double));
    }
    copy(s->internal_noise, t.internal_noise);
    // What the spreading normaliser leaves behind, scratch included.
    std::memcpy(s->band_energy_ref_ch1.data, t.band_energy_ref_ch1.data, std::size_t{s->band_count} * sizeof(double));
    copy(s->spread_slope, t.spread_slope);
    for (std::uint32_t i = 0; i < s->spread_matrix.length; ++i)
        std::memcpy(s->spread_matrix.data[i], t.spread_matrix.data[i], std::size_t{s->band_count} * sizeof(double));
    copy(s->spread_norm, t.spread_norm);
    std::memcpy(s->spread_lower_sum, t.spread_lower_sum, sizeof s->spread_lower_sum);
    std::memcpy(s->spread_upper_base, t.spread_upper_base, sizeof s->spread_upper_base);
    s->spread_lower_ratio = t.spread_lower_ratio;
    copy(s->time_spread_b, t.time_spread_b);
    copy(s->time_spread_a, t.time_spread_a);
    copy(s->mask_offset, t.mask_offset);
    copy(s->adapt_b, t.adapt_b);
    copy(s->adapt_a, t.adapt_a);
    copy(s->pattern_ranges, t.pattern_ranges);
    copy(s->loudness_index, t.loudness_index);
    copy(s->loudness_thresh, t.loudness_thresh);
    std::memcpy(s->loudness_ratio, t.loudness_ratio, sizeof s->loudness_ratio);
    std::memcpy(s->loudness_base, t.loudness_base, sizeof s->loudness_base);
    copy(s->internal_noise_pow, t.internal_noise_pow);
    copy(s->ehs_window, t.ehs_window);
    if (get_index_for_FFT(s->ehs_fft_index_512.data, s->ehs_fft_index_512.length) != 0 ||
        get_index_for_FFT(s->ehs_fft_index_256.data, s->ehs_fft_index_256.length) != 0)
        return fail("ERROR get_index_for_FFT()\n", 4);
    return 0;
}

} // namespace

void fill_twiddle_tables(TWIDDLE *forward, TWIDDLE *inverse, std::uint32_t n)
{
    // Only the section of the largest span is computed. The angle of entry
    // k of span S, k 2pi / S formed in extended precision, is to the last
    // bit that of entry 2k of span 2S: doubling both the product and the
    // divisor changes neither rounding. So each smaller section is every
    // other entry of the next larger one. And the inverse angle is the
    // forward one negated, exactly; the cosine is even and the sine odd in
    // the library, so each inverse twiddle is the forward one conjugated.
    TWIDDLE *top = forward + (n - 2);
    for (std::uint32_t k = 0; k < n; ++k) top[k] = get_twiddle(static_cast<std::int32_t>(k), static_cast<std::int32_t>(n));
    for (std::uint32_t span = n / 2; span >= 2; span /= 2) {
        const TWIDDLE *larger = forward + (2 * span - 2);
        TWIDDLE *section = forward + (span - 2);
        for (std::uint32_t k = 0; k < span; ++k) section[k] = larger[2 * k];
    }
    for (std::uint32_t i = 0; i < twiddle_table_length(n); ++i) inverse[i] = {forward[i].re, -forward[i].im};
}

std::int32_t get_hann_array(double *w, std::uint32_t n)
{
    if (n < 2 || w == nullptr) return 1;
    // sqrt(2/3) makes the window's mean power 1. 2 pi is taken to ten
    // decimals, 6.2831853072, not the full double: the golden outputs were
    // recorded with this window, and the full value changes it by up to
    // 2e-11, in the last five digits of its values and of every spectrum.
    const double scale = std::sqrt(0.6666666666666666);
    for (std::uint32_t i = 0; i < n; ++i)
        w[i] = scale * (1.0 - std::cos(6.2831853072 * i / (n - 1)));
    return 0;
}

std::int32_t get_normalizing_factor(M_STATE *s) { return normalizing_factor(s, nullptr); }

std::int32_t get_outer_ear_weighting_coefficient_array(double *w, std::uint32_t n)
{
    if (n < 2 || w == nullptr) return 1;
    w[0] = 0.0;  // the DC line never contributes
    for (std::uint32_t k = 1; k < n; ++k) {
        const double f = k * 0.0234375;  // kHz: 48 kHz / 2048 lines
        const double d = f - 3.3;
        const double db = 6.5 * std::exp(-0.6 * (d * d)) - 2.184 * std::pow(f, -0.8) - 0.001 * std::pow(f, 3.6);
        w[k] = std::pow(10.0, 0.05 * db);
    }
    return 0;
}

void get_band_edges(M_STATE *s)
{
    // Bark scale z = 7 asinh(f / 650); the bands start at 80 Hz in steps of
    // a quarter Bark and the last one is cut at 18 kHz.
    const double z0 = 7.0 * std::log(0.12307692307692308 + std::sqrt(1.0151479289940828));
    const std::uint32_t bands = s->band_count;
    for (std::uint32_t k = 0; k < bands; ++k) {
        const double kk = k;
        s->band_lower.data[k] = 650.0 * std::sinh((kk * 0.25 + z0) * 0.14285714285714285);
        s->band_centre.data[k] = 650.0 * std::sinh(((kk + 0.5) * 0.25 + z0) * 0.14285714285714285);
        s->band_upper.data[k] = 650.0 * std::sinh(((kk + 1.0) * 0.25 + z0) * 0.14285714285714285);
    }
    s->band_upper.data[bands - 1] = 18000.0;
}

std::int32_t get_frequency_bands_info(std::uint32_t lines, const double *lower, const double *upper,
                                      BAND_BINS *bins, std::uint32_t bands, double resolution)
{
    // The share of line k (covering a..b) that falls into the band fl..fu;
    // 0 when it does not touch the band.
    const auto share = [resolution](double a, double b, double fl, double fu) {
        if (fl <= a && b <= fu) return 1.0;
        if (a < fl && fu < b) return (fu - fl) / resolution;
        if (a < fl && fl < b) return (b - fl) / resolution;
        if (a < fu && fu < b) return (fu - a) / resolution;
        return 0.0;
    };
    const auto edges = [resolution](std::uint32_t k, double &a, double &b) {
        a = (k - 0.5) * resolution;
        b = (k + 0.5) * resolution;
    };

    for (std::uint32_t i = 0; i < bands; ++i) {
        BAND_BINS &bin = bins[i];
        double a = 0.0, b = 0.0;
        // A line has a share only when a < fu and b > fl: the lines two
        // beyond the band's edges on either side have none, so the search
        // starts and stops there rather than going through every line.
        const double first_line = std::floor(lower[i] / resolution) - 2.0;
        const double end_line = std::ceil(upper[i] / resolution) + 3.0;
        const auto from = static_cast<std::uint32_t>(std::clamp(first_line, 0.0, static_cast<double>(lines)));
        const auto to = static_cast<std::uint32_t>(std::clamp(end_line, 0.0, static_cast<double>(lines)));
        bin.count = 0;
        for (std::uint32_t k = from; k < to; ++k) {
            edges(k, a, b);
            if (share(a, b, lower[i], upper[i]) != 0.0) ++bin.count;
        }
        bin.indices = static_cast<std::uint32_t *>(obtain(bin.count, sizeof(std::uint32_t)));
        if (bin.indices == nullptr) return fail("ERROR memory allocation/get_frequency_bands_info()1\n", 1);
        bin.weights = static_cast<double *>(obtain(bin.count, sizeof(double)));
        if (bin.weights == nullptr) return fail("ERROR memory allocation/get_frequency_bands_info()2\n", 2);
        std::uint32_t stored = 0;
        for (std::uint32_t k = from; k < to; ++k) {
            edges(k, a, b);
            const double weight = share(a, b, lower[i], upper[i]);
            if (weight == 0.0) continue;
            bin.indices[stored] = k;
            bin.weights[stored] = weight;
            ++stored;
        }
    }
    return 0;
}

void get_internal_noise(double *out, std::uint32_t bands, const double *centre)
{
    for (std::uint32_t k = 0; k < bands; ++k) out[k] = std::pow(10.0, 0.1456 * std::pow(centre[k] * 0.001, -0.8));
}

void get_internal_noise_pow(double *out, std::uint32_t bands, const double *centre)
{
    // The internal noise raised to 0.3, folded into the exponent.
    for (std::uint32_t k = 0; k < bands; ++k) out[k] = std::pow(10.0, 0.04368 * std::pow(centre[k] * 0.001, -0.8));
}

void get_loudness_index(double *out, std::uint32_t bands, const double *centre)
{
    for (std::uint32_t k = 0; k < bands; ++k) {
        const double f = centre[k];
        out[k] = std::pow(10.0, 0.1 * (-2.0 - 2.05 * std::atan(f * 0.00025) - 0.75 * std::atan(f * f * 3.90625e-7)));
    }
}

void get_loudness_threshold(double *out, std::uint32_t bands, const double *centre)
{
    for (std::uint32_t k = 0; k < bands; ++k) out[k] = std::pow(10.0, 0.364 * std::pow(centre[k] * 0.001, -0.8));
}

void get_spreading_normalizer(const double *centre, std::uint32_t bands, double *scratch, double dz, double *slope,
                              double lower_slope, double *const *matrix, double *norm)
{
    // Spread a pattern of 0 dB in every band exactly as the per-frame
    // spreading would; what comes out is the divisor that undoes the
    // spreading's gain for such a pattern.
    for (std::uint32_t k = 0; k < bands; ++k) scratch[k] = 1.0;
    for (std::uint32_t k = 0; k < bands; ++k) slope[k] = 2.0 * std::log10(scratch[k]) - (230.0 / centre[k] + 24.0);

    // Below the source band a value depends on the distance alone: row i
    // computes the one of distance i (its first value) and takes the
    // nearer ones from the rows before, where they were first.
    double below[kBandCount];
    const bool reuse = bands <= kBandCount;
    for (std::uint32_t i = 0; i < bands; ++i) {
        double *row = matrix[i];
        double sum = 0.0;
        for (std::uint32_t j = 0; j < bands; ++j) {
            if (reuse && j > 0 && j < i) {
                row[j] = below[i - j];
            } else {
                const double distance = static_cast<double>(j) - static_cast<double>(i);
                const double x = j < i ? distance * lower_slope * dz : distance * slope[i] * dz;
                row[j] = std::pow(10.0, 0.1 * x);
                if (reuse && j == 0 && i > 0) below[i] = row[j];
            }
            sum += row[j];
        }
        for (std::uint32_t j = 0; j < bands; ++j) row[j] = row[j] * scratch[i] / sum;
    }
    for (std::uint32_t j = 0; j < bands; ++j) {
        double sum = 0.0;
        for (std::uint32_t i = 0; i < bands; ++i) sum += std::pow(matrix[i][j], 0.4);
        norm[j] = std::pow(sum, 2.5);
    }
}

void get_spreading_ratios(M_STATE *s)
{
    const std::uint32_t bands = s->band_count;
    const double dz = s->band_step;
    const double lower_slope = s->spread_lower_slope;
    // Below its source band a row falls by 10^(-27 dz / 10) per band,
    // whatever the level; the part of each row sum below the source is
    // therefore the same in every frame. It is added up in the order the
    // row sum takes the bands, lowest first.
    for (std::uint32_t j = 0; j < bands; ++j) {
        double sum = 0.0;
        for (std::uint32_t i = 0; i < j; ++i)
            sum += std::pow(10.0, -static_cast<double>(j - i) * lower_slope * dz * 0.1);
        s->spread_lower_sum[j] = sum;
    }
    // Above it the row rises at 10^(dz/10 (2 log10 E - 24 - 230/fc)) per
    // band; raised to 0.4 that is E^(0.08 dz) times this per-band factor.
    for (std::uint32_t j = 0; j < bands; ++j)
        s->spread_upper_base[j] = std::pow(10.0, 0.4 * dz * 0.1 * (-24.0 - 230.0 / s->band_centre.data[j]));
    s->spread_lower_ratio = std::pow(10.0, -0.4 * lower_slope * dz * 0.1);
}

void get_time_constants(const double *centre, std::uint32_t bands, double tau_100, double tau_min,
                        double sample_rate, double hop, double *one_minus_a, double *a)
{
    const double step = hop / sample_rate;  // seconds between frames
    for (std::uint32_t k = 0; k < bands; ++k) {
        const double tau = (tau_100 - tau_min) * 100.0 / centre[k] + tau_min;
        a[k] = std::exp(-step / tau);
        one_minus_a[k] = 1.0 - a[k];
    }
}

void get_loudness_factors(M_STATE *s)
{
    for (std::uint32_t k = 0; k < s->band_count; ++k) {
        const double q = s->loudness_thresh.data[k] / s->loudness_index.data[k];
        s->loudness_ratio[k] = q;
        s->loudness_base[k] = std::pow(q * 0.0001, 0.23);
    }
}

void get_masking_offset(double *offset, std::uint32_t bands, double dz)
{
    for (std::uint32_t k = 0; k < bands; ++k) {
        const double db = k <= 12.0 / dz ? 3.0 : k * dz * 0.25;
        offset[k] = std::pow(10.0, -db * 0.1);
    }
}

void get_pattern_ranges(PATTERN_RANGE *ranges, std::uint32_t bands, std::uint32_t adapt_bands)
{
    const std::uint32_t below = adapt_bands % 2 == 1 ? (adapt_bands - 1) / 2 : adapt_bands / 2 - 1;
    const std::uint32_t above = adapt_bands / 2;
    for (std::uint32_t k = 0; k < bands; ++k) {
        PATTERN_RANGE &r = ranges[k];
        r.lo = k < below ? 0 : k - below;
        r.hi = bands - k - 1 < above ? bands - 1 : k + above;
        r.count = r.hi - r.lo + 1;
    }
}

std::int32_t init_basic_tables(M_STATE *s, const M_SETTINGS *settings)
{
    if (settings->sample_rate != 48000) return fail("ERROR:Initialization of the tables!\n", 1);
    if (t_building == nullptr) {
        if (const TableTemplate *from = table_template()) return copy_basic_tables(s, *from);
    }
    if (get_hann_array(s->hann_window.data, s->hann_window.length) != 0) return fail("ERROR get_hann_array()\n", 1);
    if (get_index_for_FFT(s->fft_index.data, s->fft_index.length) != 0)
        return fail("ERROR get_index_for_FFT()\n", 1);
    fill_twiddle_tables(s->fft_twiddle.data, s->fft_inverse_twiddle.data, s->frame_length);
    if (get_normalizing_factor(s) != 0) return 1;
    if (get_outer_ear_weighting_coefficient_array(s->outer_ear.data, s->outer_ear.length) != 0)
        return fail("ERROR get_outer_ear_weighting_coefficient_array()\n", 2);
    get_band_edges(s);
    if (get_frequency_bands_info(s->half_frame, s->band_lower.data, s->band_upper.data, s->band_bins.data,
                                 s->band_count, s->freq_resolution) != 0)
        return 1;
    get_internal_noise(s->internal_noise.data, s->band_count, s->band_centre.data);
    get_spreading_normalizer(s->band_centre.data, s->band_count, s->band_energy_ref_ch1.data, s->band_step,
                             s->spread_slope.data, s->spread_lower_slope, s->spread_matrix.data,
                             s->spread_norm.data);
    get_spreading_ratios(s);
    get_time_constants(s->band_centre.data, s->band_count, 0.03, 0.008, s->sample_rate, s->hop_length,
                       s->time_spread_b.data, s->time_spread_a.data);
    get_masking_offset(s->mask_offset.data, s->band_count, s->band_step);
    get_time_constants(s->band_centre.data, s->band_count, 0.05, 0.008, s->sample_rate, s->hop_length,
                       s->adapt_b.data, s->adapt_a.data);
    get_pattern_ranges(s->pattern_ranges.data, s->band_count, s->pattern_adapt_bands);
    get_loudness_index(s->loudness_index.data, s->band_count, s->band_centre.data);
    get_loudness_threshold(s->loudness_thresh.data, s->band_count, s->band_centre.data);
    get_loudness_factors(s);
    get_internal_noise_pow(s->internal_noise_pow.data, s->band_count, s->band_centre.data);
    if (get_hann_array(s->ehs_window.data, s->ehs_window.length) != 0) return fail("ERROR get_hann_array()\n", 3);
    if (get_index_for_FFT(s->ehs_fft_index_512.data, s->ehs_fft_index_512.length) != 0 ||
        get_index_for_FFT(s->ehs_fft_index_256.data, s->ehs_fft_index_256.length) != 0)
        return fail("ERROR get_index_for_FFT()\n", 4);
    return 0;
}

} // namespace velumar::model
