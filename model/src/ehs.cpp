// Error harmonic structure: how periodic, harmonic-like, the difference
// between the reference and the test spectrum of a frame is. The log ratio
// of the two power spectra is correlated with itself; a strong peak in the
// spectrum of that correlation gives a large value.
#include "fft.h"
#include "dispatch.h"
#include "stages.h"
#include "vector_math.h"

#include <cmath>
#include <cstdint>

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
// correlation and then its normalised form.
double error_harmonic_structure(M_STATE &s, const double *ref, const double *test, double *d, double *corr)
{
    const auto lags = static_cast<std::uint32_t>(s.ehs_length);  // L
    const std::uint32_t span = 2 * lags;                          // 2L
    const TwiddleTable forward = forward_twiddles(s);
    const TwiddleTable inverse = inverse_twiddles(s);
    double *a = s.ehs_buf_a.data;
    double *b = s.ehs_buf_b.data;
    COMPLEX *fa = s.ehs_cplx_a.data;
    COMPLEX *fb = s.ehs_cplx_b.data;

    log_ratios(ref, test, d, b, span);

    // x[l] = sum_{n<L} d[n] d[n+l] for l < L through one cross spectrum:
    // the zero half of a keeps the lags we use free of wrap-around.
    for (std::uint32_t n = 0; n < span; ++n) {
        a[n] = n < lags ? d[n] : 0.0;
        b[n] = d[n];
    }
    get_FFT_unscaled(a, fa, s.ehs_fft_index_512.data, span, forward);
    get_FFT_unscaled(b, fb, s.ehs_fft_index_512.data, span, forward);
    conjugate_products(fa, fb, span);
    get_IFFT(fa, corr, s.ehs_cplx_c.data, s.ehs_fft_index_512.data, span, inverse);

    // Normalise by the energies of the two windows, the later window's
    // energy kept as a running sum, and sum the normalised values: in one
    // loop the two chains of additions and the square roots and quotients
    // of each lag overlap.
    double first_energy = 0.0;
    for (std::uint32_t n = 0; n < lags; ++n) first_energy += d[n] * d[n];
    double lag_energy = first_energy;
    double sum = 0.0;
    for (std::uint32_t l = 0; l < lags; ++l) {
        if (l > 0) lag_energy = lag_energy + d[l + lags - 1] * d[l + lags - 1] - d[l - 1] * d[l - 1];
        const double energy = first_energy * lag_energy;
        corr[l] = corr[l] != 0.0 && energy != 0.0 ? corr[l] / std::sqrt(energy) : 0.0;
        sum += corr[l];
    }
    const double mean = sum / lags;
    for (std::uint32_t l = 0; l < lags; ++l) b[l] = (corr[l] - mean) * s.ehs_window.data[l];

    double *power = a;
    get_power_spectrum(b, power, fa, s.ehs_fft_index_256.data, lags, forward);

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
    for (int ch = 0; ch < channel_count(*s); ++ch) {
        s->*kEhsValue[ch] = error_harmonic_structure(*s, (s->*kSpectrum[ref_copy(ch)]).data,
                                                     (s->*kSpectrum[test_copy(ch)]).data, (s->*kEhsD[ch]).data,
                                                     (s->*kEhsCorr[ch]).data);
    }
    return 0;
}

} // namespace velumar::model
