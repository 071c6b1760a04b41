// The model's own radix-2 FFT toolkit and the array helpers the stages use.
//
// Transforms take the caller's arrays and a read-only twiddle table built at
// creation. The table has one section per butterfly span S = 2, 4, ... up
// to the largest transform, at offset S - 2, holding get_twiddle(k, S) for
// k < S (or the inverse twiddles). A stage of span S of a transform of any
// length N needs get_twiddle(k * N / S, N), which is exactly that entry:
// the extended-precision angle k * (N/S) * 2pi / N equals k * 2pi / S to
// the last bit, scaling by powers of two being exact. So the butterflies
// read their twiddles in order, with no index arithmetic, and one table
// serves every transform length. Nothing here allocates except
// get_index_for_FFT.
#pragma once

#include "state.h"

#include <cstdint>

namespace velumar::model {

// The transform lengths the toolkit accepts: 1, 2, 4, ... 32768.
extern const std::uint32_t FFT_SIZES[16];

// Bit-reversal permutation of 0..n-1 into index. 0; 1 when n > 32768 or the
// temporary cannot be obtained (both print a message).
std::int32_t get_index_for_FFT(std::uint32_t *index, std::uint32_t n);

// exp(-2 pi i m / n) (forward) and exp(+2 pi i m / n) (inverse), the angle
// formed in extended precision and each part rounded to single precision.
TWIDDLE get_twiddle(std::int32_t m, std::int32_t n);
TWIDDLE get_inverse_twiddle(std::int32_t m, std::int32_t n);

// Entries a table for transforms of up to n points holds: 2n - 2.
constexpr std::uint32_t twiddle_table_length(std::uint32_t n) { return 2 * n - 2; }
// Fills the sections for spans 2 .. n (n a power of two), as above.
void fill_twiddle_table(TWIDDLE *table, std::uint32_t n, bool inverse);

using TwiddleTable = M_ARRAY_OF<const TWIDDLE>;

inline COMPLEX complex_add(COMPLEX a, COMPLEX b) { return {a.re + b.re, a.im + b.im}; }
inline COMPLEX complex_mul(COMPLEX a, COMPLEX b)
{
    return {b.re * a.re - b.im * a.im, b.re * a.im + b.im * a.re};
}
inline COMPLEX complex_mul_twiddle(COMPLEX b, TWIDDLE w)
{
    const double wr = w.re, wi = w.im;
    return {wr * b.re - wi * b.im, wr * b.im + wi * b.re};
}

// out[i] = (signal[index[i]], 0). Always 0.
std::int32_t sort_and_cast(const double *signal, COMPLEX *out, const std::uint32_t *index, std::uint32_t n);
// out[i] = in[index[i]]. 1 (with a message) when n > 32768.
std::int32_t sort_global(const COMPLEX *in, COMPLEX *out, const std::uint32_t *index, std::uint32_t n);

// One block (start s, span S) of one radix-2 stage, in place. The
// direction is the table's: the inverse transform passes the inverse table.
void FFT_butterflies(std::uint32_t span, std::uint32_t start, COMPLEX *data, const TwiddleTable &table);

// X[k] = (1/N) sum x[n] e^(-2 pi i k n / N). 0, or 1 after a message.
std::int32_t get_FFT(const double *signal, COMPLEX *out, const std::uint32_t *index, std::uint32_t n,
                     const TwiddleTable &forward);
// The same without the 1/N.
std::int32_t get_FFT_unscaled(const double *signal, COMPLEX *out, const std::uint32_t *index,
                              std::uint32_t n, const TwiddleTable &forward);
// out[i] = Re(sum X[k] e^(+2 pi i k n / N)) / N; work holds N values.
std::int32_t get_IFFT(const COMPLEX *in, double *out, COMPLEX *work, const std::uint32_t *index,
                      std::uint32_t n, const TwiddleTable &inverse);
// power[k] = |X[k]|^2 * factor of the scaled forward transform, k < N/2:
// line_powers of the transform with scale 1/N. work (N values) is scratch:
// it is not left holding the transform.
std::int32_t get_power_spectrum(const double *signal, double *power, COMPLEX *work,
                                const std::uint32_t *index, std::uint32_t n, const TwiddleTable &forward,
                                double factor = 1.0);
// power[k] = p * factor for k < count, p the power of lines[k] scaled by
// scale: each part multiplied by scale in double, squared and summed in
// extended precision, the sum rounded to double. 0; or 1 after a message
// at the first p that is infinite, negative or not a number, that line and
// those above left as they were.
std::int32_t line_powers(const COMPLEX *lines, double *power, std::uint32_t count, double scale, double factor);

// a[k] = conj(a[k]) * b[k] (complex_mul) for k < n.
void conjugate_products(COMPLEX *a, const COMPLEX *b, std::uint32_t n);

// x[i] *= w[i].
void multiply_arrays(double *x, const double *w, std::uint32_t n);

// The instance's tables as the transforms take them.
inline TwiddleTable forward_twiddles(const M_STATE &s) { return {s.fft_twiddle.data, s.fft_twiddle.length}; }
inline TwiddleTable inverse_twiddles(const M_STATE &s)
{
    return {s.fft_inverse_twiddle.data, s.fft_inverse_twiddle.length};
}

} // namespace velumar::model

#if defined(VELUMAR_TEST_HOOKS)
// Caps the butterflies per vector instruction (4, 2 or 1) so tests can hold
// every vector path against the scalar one on a machine that has them all:
// the cap of velumar_limit_vector_doubles, counted in complex values.
extern "C" void velumar_limit_fft_width(std::uint32_t butterflies_per_instruction);
#endif
