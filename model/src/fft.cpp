#include "fft.h"

#include "alloc.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace velumar::model {

const std::uint32_t FFT_SIZES[16] = {1,   2,    4,    8,    16,   32,    64,    128,
                                     256, 512, 1024, 2048, 4096, 8192, 16384, 32768};

namespace {

constexpr std::uint32_t kLargestSize = 32768;

// 2 pi as the double the transforms have always used; the angle built from
// it is formed in extended precision before the single-precision rounding.
constexpr double kTwoPi = 6.283185307179586;

TWIDDLE twiddle_at(std::int32_t m, std::int32_t n, double two_pi)
{
    const long double theta = static_cast<long double>(m) * static_cast<long double>(two_pi) /
                              static_cast<long double>(n);
    return {static_cast<float>(std::cos(theta)), static_cast<float>(std::sin(theta))};
}

// A transform of length n reads every (table.length / n)-th table entry;
// that only works for a table built for a multiple of n.
bool table_serves(const TwiddleTable &table, std::uint32_t n)
{
    return n != 0 && table.data != nullptr && table.length >= n && table.length % n == 0;
}

// The direction of a transform is entirely in the table it is given.
void butterflies(std::uint32_t span, std::uint32_t n, std::uint32_t start, COMPLEX *data,
                 const TwiddleTable &table)
{
    const std::uint32_t half = span / 2;
    const std::uint32_t stride = table.length / n;
    COMPLEX *lower = data + start;
    COMPLEX *upper = lower + half;
    for (std::uint32_t k = 0; k < half; ++k) {
        const COMPLEX a = lower[k];
        const COMPLEX b = upper[k];
        // W2 is looked up from its own angle rather than taken as -W1: the
        // two single-precision roundings need not be exact negatives.
        const TWIDDLE w1 = table.data[(k * n / span) * stride];
        const TWIDDLE w2 = table.data[((k + half) * n / span) * stride];
        lower[k] = complex_add(a, complex_mul_twiddle(b, w1));
        upper[k] = complex_add(a, complex_mul_twiddle(b, w2));
    }
}

void run_stages(COMPLEX *data, std::uint32_t n, const TwiddleTable &table)
{
    std::uint32_t span = 2;
    for (std::uint32_t remaining = n; remaining > 1; remaining /= 2, span *= 2) {
        for (std::uint32_t start = 0; start < n; start += span) butterflies(span, n, start, data, table);
    }
}

std::int32_t forward(const double *signal, COMPLEX *out, const std::uint32_t *index, std::uint32_t n,
                     const TwiddleTable &table, const char *permutation_error)
{
    if (!table_serves(table, n)) {
        std::fputs("error parametrs func:'get_FFT'\n", stdout);
        return 1;
    }
    if (sort_and_cast(signal, out, index, n) != 0) {
        std::fputs(permutation_error, stdout);
        return 1;
    }
    run_stages(out, n, table);
    return 0;
}

} // namespace

std::int32_t get_index_for_FFT(std::uint32_t *index, std::uint32_t n)
{
    auto *temp = static_cast<std::uint32_t *>(obtain(n, sizeof(std::uint32_t)));
    if (temp == nullptr) {
        std::fputs("error malloc func:'get_index_for_FFT'\n", stdout);
        return 1;
    }
    for (std::uint32_t i = 0; i < n; ++i) index[i] = i;
    if (n > kLargestSize) {
        std::fputs("quantity>16", stdout);
        give_back(temp);
        return 1;
    }
    // Each pass splits every block into its even and odd entries; after
    // log2(n) passes the table is the bit-reversal permutation.
    std::uint32_t pass = 0;
    for (std::uint32_t remaining = n; remaining > 1; remaining /= 2, ++pass) {
        const std::uint32_t blocks = FFT_SIZES[pass];
        const std::uint32_t length = n / blocks;
        for (std::uint32_t b = 0; b < blocks; ++b) {
            std::uint32_t *block = index + b * length;
            for (std::uint32_t j = 0; j < length / 2; ++j) {
                temp[j] = block[2 * j];
                temp[length / 2 + j] = block[2 * j + 1];
            }
            std::memcpy(block, temp, length * sizeof(std::uint32_t));
        }
    }
    give_back(temp);
    return 0;
}

TWIDDLE get_twiddle(std::int32_t m, std::int32_t n) { return twiddle_at(m, n, -kTwoPi); }

TWIDDLE get_inverse_twiddle(std::int32_t m, std::int32_t n) { return twiddle_at(m, n, kTwoPi); }

void fill_twiddle_table(TWIDDLE *table, std::uint32_t n, bool inverse)
{
    const auto size = static_cast<std::int32_t>(n);
    for (std::int32_t m = 0; m < size; ++m) table[m] = inverse ? get_inverse_twiddle(m, size) : get_twiddle(m, size);
}

std::int32_t sort_and_cast(const double *signal, COMPLEX *out, const std::uint32_t *index, std::uint32_t n)
{
    for (std::uint32_t i = 0; i < n; ++i) out[i] = {signal[index[i]], 0.0};
    return 0;
}

std::int32_t sort_global(const COMPLEX *in, COMPLEX *out, const std::uint32_t *index, std::uint32_t n)
{
    if (n > kLargestSize) {
        std::fputs("quantity>16", stdout);
        return 1;
    }
    for (std::uint32_t i = 0; i < n; ++i) out[i] = in[index[i]];
    return 0;
}

void FFT_butterflies(std::uint32_t span, std::uint32_t n, std::uint32_t start, COMPLEX *data,
                     const TwiddleTable &forward_table)
{
    butterflies(span, n, start, data, forward_table);
}

void IFFT_butterflies(std::uint32_t span, std::uint32_t n, std::uint32_t start, COMPLEX *data,
                      const TwiddleTable &inverse_table)
{
    butterflies(span, n, start, data, inverse_table);
}

std::int32_t get_FFT(const double *signal, COMPLEX *out, const std::uint32_t *index, std::uint32_t n,
                     const TwiddleTable &forward_table)
{
    if (forward(signal, out, index, n, forward_table, "error_sortand_cast") != 0) return 1;
    const double size = n;
    for (std::uint32_t i = 0; i < n; ++i) {
        out[i].re /= size;
        out[i].im /= size;
    }
    return 0;
}

std::int32_t get_FFT_unscaled(const double *signal, COMPLEX *out, const std::uint32_t *index, std::uint32_t n,
                              const TwiddleTable &forward_table)
{
    return forward(signal, out, index, n, forward_table, "error_sort_and_cast");
}

std::int32_t get_IFFT(const COMPLEX *in, double *out, COMPLEX *work, const std::uint32_t *index, std::uint32_t n,
                      const TwiddleTable &inverse_table)
{
    if (!table_serves(inverse_table, n)) {
        std::fputs("error parametrs func:'get_IFFT'\n", stdout);
        return 1;
    }
    if (sort_global(in, work, index, n) != 0) {
        std::fputs("error_sort_global", stdout);
        return 1;
    }
    run_stages(work, n, inverse_table);
    const double size = n;
    for (std::uint32_t i = 0; i < n; ++i) out[i] = work[i].re / size;
    return 0;
}

std::int32_t get_power_spectrum(const double *signal, double *power, COMPLEX *work, const std::uint32_t *index,
                                std::uint32_t n, const TwiddleTable &forward_table)
{
    bool listed = false;
    for (std::uint32_t size : FFT_SIZES) listed = listed || size == n;
    if (!listed) {
        std::fputs("error parametrs func:'get_power_spectrum'\n", stdout);
        return 1;
    }
    if (get_FFT(signal, work, index, n, forward_table) != 0) return 1;
    for (std::uint32_t k = 0; k < n / 2; ++k) {
        // Squared magnitude formed in extended precision, then rounded once
        // more to double.
        const long double re = work[k].re;
        const long double im = work[k].im;
        const long double p = re * re + im * im;
        if (!(p >= 0.0L) || p > static_cast<long double>(DBL_MAX)) {
            std::fputs("\nerror type (func 'get_amplitude_spectrum')(DBL_MAX)", stdout);
            return 1;
        }
        power[k] = static_cast<double>(p);
    }
    return 0;
}

void multiply_arrays(double *x, const double *w, std::uint32_t n)
{
    for (std::uint32_t i = 0; i < n; ++i) x[i] *= w[i];
}

void scale_array(double *x, std::uint32_t n, double factor)
{
    for (std::uint32_t i = 0; i < n; ++i) x[i] *= factor;
}

} // namespace velumar::model
