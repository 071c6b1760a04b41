// Error harmonic structure: how periodic, harmonic-like, the difference
// between the reference and the test spectrum of a frame is. The log ratio
// of the two power spectra is correlated with itself; a strong peak in the
// spectrum of that correlation gives a large value.
#include "fft.h"
#include "dispatch.h"
#include "stages.h"
#include "vector_math.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace velumar::model {
namespace {

constexpr auto kSpectrum = VELUMAR_FAMILY(spectrum);
constexpr auto kEhsD = VELUMAR_CHANNELS(ehs_d);
constexpr auto kEhsCorr = VELUMAR_CHANNELS(ehs_corr);
constexpr auto kEhsValue = VELUMAR_CHANNELS(ehs_value);

// d[k] = log10(ref[k] / test[k]) for the first n lines, with fixed
// stand-ins where a line is silent: 0 when both are, -1e100 when only the
// reference is, +1e100 when only the test is. Through the natural
// logarithm of whole arrays, an ulp or two from log10.
VELUMAR_TARGET_CLONES("avx512f", "avx2", "default")
void log_ratios(const double *ref, const double *test, double *d, double *scratch, std::uint32_t n)
{
    constexpr double kLog10E = 0.4342944819032518;  // 1 / ln 10
    for (std::uint32_t k = 0; k < n; ++k) scratch[k] = ref[k] != 0.0 && test[k] != 0.0 ? ref[k] / test[k] : 1.0;
    log_array(scratch, d, n);
    for (std::uint32_t k = 0; k < n; ++k) {
        if (ref[k] != 0.0 && test[k] != 0.0)
            d[k] *= kLog10E;
        else if (ref[k] == 0.0 && test[k] == 0.0)
            d[k] = 0.0;
        else
            d[k] = ref[k] == 0.0 ? -1e100 : 1e100;
    }
}

// One channel: d receives the log ratio of the first 2L lines, corr the
// correlation x[l] = sum_{n<L} d[n] d[n+l] for l < L.
void correlation(M_STATE &s, const double *ref, const double *test, double *d, double *corr)
{
    const auto lags = static_cast<std::uint32_t>(s.ehs_length);  // L
    const std::uint32_t span = 2 * lags;                          // 2L
    const TwiddleTable forward = forward_twiddles(s);
    double *a = s.ehs_buf_a.data;
    COMPLEX *fa = s.ehs_cplx_a.data;
    COMPLEX *fb = s.ehs_cplx_b.data;

    log_ratios(ref, test, d, s.ehs_buf_b.data, span);

    // Through one cross spectrum: the zero half of a keeps the lags we use
    // free of wrap-around.
    std::copy(d, d + lags, a);
    std::fill(a + lags, a + span, 0.0);
    get_FFT_unscaled(a, fa, s.ehs_fft_index_512.data, span, forward);
    get_FFT_unscaled(d, fb, s.ehs_fft_index_512.data, span, forward);
    conjugate_products(fa, fb, span);
    get_IFFT(fa, corr, s.ehs_cplx_c.data, s.ehs_fft_index_512.data, span, inverse_twiddles(s));
}

// Normalises corr by the energies of the two windows, the later window's
// energy kept as a running sum, and returns the sum of the normalised
// values. In one loop the two chains of additions and the square roots
// and quotients of each lag overlap.
double normalise_and_sum(double *corr, const double *d, std::uint32_t lags)
{
    double first_energy = 0.0;
    for (std::uint32_t n = 0; n < lags; ++n) first_energy += d[n] * d[n];
    double lag_energy = first_energy;
    double sum = 0.0;
    std::uint32_t l = 0;
#if defined(__x86_64__)
    // Two lags per instruction for the square roots and quotients, which
    // would otherwise hold the divider longer than the running energy's
    // chain takes per lag; the chains stay one value at a time, in order.
    const __m128d first = _mm_set1_pd(first_energy);
    for (; l + 2 <= lags; l += 2) {
        if (l > 0) lag_energy = lag_energy + d[l + lags - 1] * d[l + lags - 1] - d[l - 1] * d[l - 1];
        const double next = lag_energy + d[l + lags] * d[l + lags] - d[l] * d[l];
        const __m128d energy = _mm_mul_pd(first, _mm_setr_pd(lag_energy, next));
        const __m128d c = _mm_loadu_pd(corr + l);
        const __m128d nonzero = _mm_and_pd(_mm_cmpneq_pd(c, _mm_setzero_pd()), _mm_cmpneq_pd(energy, _mm_setzero_pd()));
        const __m128d normalised = _mm_and_pd(nonzero, _mm_div_pd(c, _mm_sqrt_pd(energy)));
        _mm_storeu_pd(corr + l, normalised);
        sum += _mm_cvtsd_f64(normalised);
        sum += _mm_cvtsd_f64(_mm_unpackhi_pd(normalised, normalised));
        lag_energy = next;
    }
#endif
    for (; l < lags; ++l) {
        if (l > 0) lag_energy = lag_energy + d[l + lags - 1] * d[l + lags - 1] - d[l - 1] * d[l - 1];
        const double energy = first_energy * lag_energy;
        corr[l] = corr[l] != 0.0 && energy != 0.0 ? corr[l] / std::sqrt(energy) : 0.0;
        sum += corr[l];
    }
    return sum;
}

#if defined(__x86_64__)
// The same for two channels at once, one per lane: each lane does exactly
// the operations of normalise_and_sum, so the chains and the divider are
// shared at no cost in exactness.
void normalise_and_sum_pair(double *const corr[2], const double *const d[2], std::uint32_t lags, double sum[2])
{
    const auto pair = [&](const double *const x[2], std::uint32_t i) { return _mm_setr_pd(x[0][i], x[1][i]); };
    __m128d first_energy = _mm_setzero_pd();
    for (std::uint32_t n = 0; n < lags; ++n) {
        const __m128d v = pair(d, n);
        first_energy = _mm_add_pd(first_energy, _mm_mul_pd(v, v));
    }
    __m128d lag_energy = first_energy;
    __m128d total = _mm_setzero_pd();
    for (std::uint32_t l = 0; l < lags; ++l) {
        if (l > 0) {
            const __m128d in = pair(d, l + lags - 1), out = pair(d, l - 1);
            lag_energy = _mm_sub_pd(_mm_add_pd(lag_energy, _mm_mul_pd(in, in)), _mm_mul_pd(out, out));
        }
        const __m128d energy = _mm_mul_pd(first_energy, lag_energy);
        const __m128d c = _mm_setr_pd(corr[0][l], corr[1][l]);
        const __m128d nonzero = _mm_and_pd(_mm_cmpneq_pd(c, _mm_setzero_pd()), _mm_cmpneq_pd(energy, _mm_setzero_pd()));
        const __m128d normalised = _mm_and_pd(nonzero, _mm_div_pd(c, _mm_sqrt_pd(energy)));
        _mm_storel_pd(corr[0] + l, normalised);
        _mm_storeh_pd(corr[1] + l, normalised);
        total = _mm_add_pd(total, normalised);
    }
    _mm_storel_pd(sum, total);
    _mm_storeh_pd(sum + 1, total);
}
#endif

// The largest periodicity of a normalised correlation whose values sum to
// `sum`: the power spectrum of the windowed, mean-free correlation, its
// largest line above the direct component.
double periodicity(M_STATE &s, const double *corr, double sum)
{
    const auto lags = static_cast<std::uint32_t>(s.ehs_length);
    double *b = s.ehs_buf_b.data;
    const double mean = sum / lags;
    for (std::uint32_t l = 0; l < lags; ++l) b[l] = (corr[l] - mean) * s.ehs_window.data[l];

    double *power = s.ehs_buf_a.data;
    get_power_spectrum(b, power, s.ehs_cplx_a.data, s.ehs_fft_index_256.data, lags, forward_twiddles(s));

    // Only a line that stands above the direct component counts as a
    // periodicity of the error.
    double largest = 0.0;
    for (std::uint32_t i = 1; i < lags / 2; ++i)
        if (power[i] > power[0] && power[i] > largest) largest = power[i];
    return largest;
}

} // namespace

std::int32_t get_error_harmonic_structure_for_frames(M_STATE *s)
{
    if (!valid_channel_mode(*s)) return report_failure("ERROR get_error_harmonic_structure_for_frames()\n");
    const int channels = channel_count(*s);
    double *corr[2] = {(s->*kEhsCorr[0]).data, channels == 2 ? (s->*kEhsCorr[1]).data : nullptr};
    const double *d[2] = {(s->*kEhsD[0]).data, channels == 2 ? (s->*kEhsD[1]).data : nullptr};
    for (int ch = 0; ch < channels; ++ch)
        correlation(*s, (s->*kSpectrum[ref_copy(ch)]).data, (s->*kSpectrum[test_copy(ch)]).data, (s->*kEhsD[ch]).data,
                    corr[ch]);
    const auto lags = static_cast<std::uint32_t>(s->ehs_length);
    double sum[2] = {0.0, 0.0};
#if defined(__x86_64__)
    if (channels == 2)
        normalise_and_sum_pair(corr, d, lags, sum);
    else
#endif
        for (int ch = 0; ch < channels; ++ch) sum[ch] = normalise_and_sum(corr[ch], d[ch], lags);
    for (int ch = 0; ch < channels; ++ch) s->*kEhsValue[ch] = periodicity(*s, corr[ch], sum[ch]);
    return 0;
}

} // namespace velumar::model
