#include "fft.h"

#include "alloc.h"
#include "dispatch.h"
#include "vector_math.h"

#include <cfloat>
#include <cstdint>
#include <cmath>
#include <cstdio>
#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace velumar::model {

const std::uint32_t FFT_SIZES[16] = {1,   2,    4,    8,    16,   32,    64,    128,
                                     256, 512, 1024, 2048, 4096, 8192, 16384, 32768};

namespace {

constexpr std::uint32_t kLargestSize = 32768;

// 2 pi as the nearest double. The twiddles are single precision (every
// spectrum and the golden outputs depend on exactly those floats); the angle
// is formed in extended precision so that each twiddle is its cosine and
// sine rounded once to float, with no rounding error of the angle carried
// into it.
constexpr double kTwoPi = 6.283185307179586;

TWIDDLE twiddle_at(std::int32_t m, std::int32_t n, double two_pi)
{
    const long double theta = static_cast<long double>(m) * static_cast<long double>(two_pi) /
                              static_cast<long double>(n);
    return {static_cast<float>(std::cos(theta)), static_cast<float>(std::sin(theta))};
}

// The stages work on powers of two only, and the table must hold the
// sections up to span n.
bool table_serves(const TwiddleTable &table, std::uint32_t n)
{
    const bool power_of_two = n != 0 && (n & (n - 1)) == 0;
    return power_of_two && table.data != nullptr && (n == 1 || table.length >= twiddle_table_length(n));
}

// 1/n for a power of two n is exact, and so is every product with it:
// multiplying by it gives the same value as dividing by n, and is cheaper.
double reciprocal(std::uint32_t n) { return 1.0 / static_cast<double>(n); }

} // namespace

void FFT_butterflies(std::uint32_t span, std::uint32_t start, COMPLEX *data, const TwiddleTable &table)
{
    const std::uint32_t half = span / 2;
    const TWIDDLE *w = table.data + (span - 2);
    COMPLEX *lower = data + start;
    COMPLEX *upper = lower + half;
    for (std::uint32_t k = 0; k < half; ++k) {
        const COMPLEX a = lower[k];
        const COMPLEX b = upper[k];
        // W2 is its own table entry rather than -W1: the two single-
        // precision roundings need not be exact negatives.
        lower[k] = complex_add(a, complex_mul_twiddle(b, w[k]));
        upper[k] = complex_add(a, complex_mul_twiddle(b, w[k + half]));
    }
}

namespace {

// Transforms of 64 points and more run on the widest vectors the processor
// has. Each lane does exactly the scalar operations of FFT_butterflies -
// the products with the widened twiddle, one subtraction or addition, then
// the sum with a - so every value is the same to the last bit, whatever
// the width; nothing is fused into a multiply-add.
#if defined(__x86_64__)
// The split layout of the forward transform (see Split512 below) on four
// lanes: each run of eight values is two halves of four.
struct Split256 {
    __m256d re;
    __m256d im;
};

__attribute__((target("avx2"))) inline Split256 split_butterfly_avx2(const Split256 &a, const Split256 &b,
                                                                     const Split256 &w)
{
    return {_mm256_add_pd(a.re, _mm256_sub_pd(_mm256_mul_pd(w.re, b.re), _mm256_mul_pd(w.im, b.im))),
            _mm256_add_pd(a.im, _mm256_add_pd(_mm256_mul_pd(w.re, b.im), _mm256_mul_pd(w.im, b.re)))};
}

__attribute__((target("avx2"))) inline Split256 broadcast_avx2(TWIDDLE w)
{
    return {_mm256_set1_pd(w.re), _mm256_set1_pd(w.im)};
}

// Twiddles t[0..3], widened, parts apart.
__attribute__((target("avx2"))) inline Split256 split_twiddles_avx2(const TWIDDLE *t)
{
    const __m256i parts = _mm256_set_epi32(7, 5, 3, 1, 6, 4, 2, 0);
    const __m256 v = _mm256_permutevar8x32_ps(_mm256_loadu_ps(&t->re), parts);
    return {_mm256_cvtps_pd(_mm256_castps256_ps128(v)), _mm256_cvtps_pd(_mm256_extractf128_ps(v, 1))};
}

// Half h of the run of eight at p: real parts at p + 4h, imaginary at p + 8 + 4h.
__attribute__((target("avx2"))) inline Split256 load_half(const double *p, int h)
{
    return {_mm256_loadu_pd(p + 4 * h), _mm256_loadu_pd(p + 8 + 4 * h)};
}

__attribute__((target("avx2"))) inline void store_half(double *p, int h, const Split256 &v)
{
    _mm256_storeu_pd(p + 4 * h, v.re);
    _mm256_storeu_pd(p + 8 + 4 * h, v.im);
}

// The four values of v interleaved at p .. p + 7.
__attribute__((target("avx2"))) inline void store_interleaved_avx2(double *p, const Split256 &v)
{
    const __m256d low = _mm256_unpacklo_pd(v.re, v.im);   // re0 im0 re2 im2
    const __m256d high = _mm256_unpackhi_pd(v.re, v.im);  // re1 im1 re3 im3
    _mm256_storeu_pd(p, _mm256_permute2f128_pd(low, high, 0x20));
    _mm256_storeu_pd(p + 4, _mm256_permute2f128_pd(low, high, 0x31));
}

// Row i of four lanes stored as column: to[t][i] = row[i][t], i < 4.
__attribute__((target("avx2"))) inline void store_columns_avx2(const __m256d row[4], double *const to[4],
                                                               std::uint32_t offset)
{
    const __m256d t0 = _mm256_unpacklo_pd(row[0], row[1]), t1 = _mm256_unpackhi_pd(row[0], row[1]);
    const __m256d t2 = _mm256_unpacklo_pd(row[2], row[3]), t3 = _mm256_unpackhi_pd(row[2], row[3]);
    _mm256_storeu_pd(to[0] + offset, _mm256_permute2f128_pd(t0, t2, 0x20));
    _mm256_storeu_pd(to[1] + offset, _mm256_permute2f128_pd(t1, t3, 0x20));
    _mm256_storeu_pd(to[2] + offset, _mm256_permute2f128_pd(t0, t2, 0x31));
    _mm256_storeu_pd(to[3] + offset, _mm256_permute2f128_pd(t1, t3, 0x31));
}

// The eight places each block of the first pass reads, in bit-reversed
// order (0 4 2 6 1 5 3 7 eighths of n): place m of block r is r + at[m].
struct EighthPlaces {
    std::uint32_t at[8];

    explicit EighthPlaces(std::uint32_t n)
        : at{0, 4 * (n / 8), 2 * (n / 8), 6 * (n / 8), n / 8, 5 * (n / 8), 3 * (n / 8), 7 * (n / 8)}
    {
    }
};

// Spans 4 and 8 of four lanes after span 2 (y[m] is value m of each lane),
// each lane's eight results stored as one block at its place in the split
// layout: the block of lane i at out + 16 index[8 (r + i)].
__attribute__((target("avx2"))) inline void spans_4_and_8_stored_avx2(const Split256 y[8], const TWIDDLE *table,
                                                                      const std::uint32_t *index, std::uint32_t r,
                                                                      double *out)
{
    Split256 z[8];
    for (int b = 0; b < 8; b += 4)  // span 4
        for (int k = 0; k < 2; ++k) {
            z[b + k] = split_butterfly_avx2(y[b + k], y[b + k + 2], broadcast_avx2(table[2 + k]));
            z[b + k + 2] = split_butterfly_avx2(y[b + k], y[b + k + 2], broadcast_avx2(table[4 + k]));
        }
    __m256d re[8], im[8];
    for (int k = 0; k < 4; ++k) {  // span 8
        const Split256 lower = split_butterfly_avx2(z[k], z[k + 4], broadcast_avx2(table[6 + k]));
        const Split256 upper = split_butterfly_avx2(z[k], z[k + 4], broadcast_avx2(table[10 + k]));
        re[k] = lower.re, im[k] = lower.im, re[k + 4] = upper.re, im[k + 4] = upper.im;
    }
    double *block[4];
    for (std::uint32_t lane = 0; lane < 4; ++lane) block[lane] = out + 16 * index[8 * (r + lane)];
    store_columns_avx2(re, block, 0);
    store_columns_avx2(re + 4, block, 4);
    store_columns_avx2(im, block, 8);
    store_columns_avx2(im + 4, block, 12);
}

// Spans 2, 4 and 8 for n >= 64 on four lanes, as
// first_three_stages_split_avx512 does them on eight.
__attribute__((target("avx2"))) void first_three_stages_split_avx2(const double *signal, const std::uint32_t *index,
                                                                   double *out, std::uint32_t n,
                                                                   const TWIDDLE *table)
{
    const TWIDDLE w0 = table[0], w1 = table[1];
    // The products with the zero imaginary parts of the real input, as
    // the complex multiplication forms them.
    const __m256d c0r = _mm256_set1_pd(w0.re * 0.0), c0i = _mm256_set1_pd(w0.im * 0.0);
    const __m256d c1r = _mm256_set1_pd(w1.re * 0.0), c1i = _mm256_set1_pd(w1.im * 0.0);
    const Split256 v0 = broadcast_avx2(w0), v1 = broadcast_avx2(w1);
    const __m256d zero = _mm256_setzero_pd();
    const EighthPlaces places(n);
    for (std::uint32_t r = 0; r < n / 8; r += 4) {
        Split256 y[8];
        for (int m = 0; m < 8; m += 2) {  // span 2, each value entering as (x, 0)
            const __m256d a = _mm256_loadu_pd(signal + r + places.at[m]);
            const __m256d b = _mm256_loadu_pd(signal + r + places.at[m + 1]);
            y[m] = {_mm256_add_pd(a, _mm256_sub_pd(_mm256_mul_pd(v0.re, b), c0i)),
                    _mm256_add_pd(zero, _mm256_add_pd(c0r, _mm256_mul_pd(v0.im, b)))};
            y[m + 1] = {_mm256_add_pd(a, _mm256_sub_pd(_mm256_mul_pd(v1.re, b), c1i)),
                        _mm256_add_pd(zero, _mm256_add_pd(c1r, _mm256_mul_pd(v1.im, b)))};
        }
        spans_4_and_8_stored_avx2(y, table, index, r, out);
    }
}

// Spans 2, 4 and 8 of complex input on four lanes, as
// first_three_stages_complex_split_avx512 does them on eight.
__attribute__((target("avx2"))) void first_three_stages_complex_split_avx2(const COMPLEX *in,
                                                                           const std::uint32_t *index, double *out,
                                                                           std::uint32_t n, const TWIDDLE *table)
{
    const EighthPlaces places(n);
    for (std::uint32_t r = 0; r < n / 8; r += 4) {
        Split256 x[8], y[8];
        for (int m = 0; m < 8; ++m) {
            const double *p = &in[r + places.at[m]].re;
            const __m256d v0 = _mm256_loadu_pd(p), v1 = _mm256_loadu_pd(p + 4);
            const __m256d even = _mm256_permute2f128_pd(v0, v1, 0x20);  // values 0 and 2
            const __m256d odd = _mm256_permute2f128_pd(v0, v1, 0x31);   // values 1 and 3
            x[m] = {_mm256_unpacklo_pd(even, odd), _mm256_unpackhi_pd(even, odd)};
        }
        for (int b = 0; b < 8; b += 2) {  // span 2
            y[b] = split_butterfly_avx2(x[b], x[b + 1], broadcast_avx2(table[0]));
            y[b + 1] = split_butterfly_avx2(x[b], x[b + 1], broadcast_avx2(table[1]));
        }
        spans_4_and_8_stored_avx2(y, table, index, r, out);
    }
}

// The stages of spans s and 2s (s >= 16) over split data, as
// two_stages_split_avx512, half a run at a time; with LowerHalf (the last
// pass, 2s = n) only the values below n/2.
template <bool LowerHalf>
__attribute__((target("avx2"))) void two_stages_split_avx2(std::uint32_t s, std::uint32_t n, double *data,
                                                           const TWIDDLE *table)
{
    const std::uint32_t q = s / 2;
    const TWIDDLE *first = table + (s - 2);
    const TWIDDLE *second = table + (2 * s - 2);
    for (std::uint32_t k = 0; k < q; k += 4) {
        const int h = k % 8 / 4;
        const std::uint32_t run = k - k % 8;
        const Split256 f_lower = split_twiddles_avx2(first + k), f_upper = split_twiddles_avx2(first + k + q);
        const Split256 s0 = split_twiddles_avx2(second + k), s2 = split_twiddles_avx2(second + k + s);
        const Split256 s1 = split_twiddles_avx2(second + q + k), s3 = split_twiddles_avx2(second + q + k + s);
        for (std::uint32_t start = 0; start < n; start += 2 * s) {
            double *p0 = data + 2 * (start + run);
            double *p1 = p0 + 2 * q;
            double *p2 = p0 + 2 * s;
            double *p3 = p2 + 2 * q;
            const Split256 x0 = load_half(p0, h), x1 = load_half(p1, h);
            const Split256 x2 = load_half(p2, h), x3 = load_half(p3, h);
            const Split256 y0 = split_butterfly_avx2(x0, x1, f_lower), y1 = split_butterfly_avx2(x0, x1, f_upper);
            const Split256 y2 = split_butterfly_avx2(x2, x3, f_lower), y3 = split_butterfly_avx2(x2, x3, f_upper);
            store_half(p0, h, split_butterfly_avx2(y0, y2, s0));
            store_half(p1, h, split_butterfly_avx2(y1, y3, s1));
            if constexpr (!LowerHalf) {
                store_half(p2, h, split_butterfly_avx2(y0, y2, s2));
                store_half(p3, h, split_butterfly_avx2(y1, y3, s3));
            }
        }
    }
}

// The stage of span n alone over split data.
__attribute__((target("avx2"))) void last_stage_split_avx2(std::uint32_t n, double *data, const TWIDDLE *table,
                                                           bool lower_half)
{
    const std::uint32_t q = n / 2;
    const TWIDDLE *w = table + (n - 2);
    for (std::uint32_t k = 0; k < q; k += 4) {
        const int h = k % 8 / 4;
        double *lower = data + 2 * (k - k % 8);
        double *upper = lower + 2 * q;
        const Split256 a = load_half(lower, h), b = load_half(upper, h);
        store_half(lower, h, split_butterfly_avx2(a, b, split_twiddles_avx2(w + k)));
        if (!lower_half) store_half(upper, h, split_butterfly_avx2(a, b, split_twiddles_avx2(w + k + q)));
    }
}

// The stages from span 16 on over split data, then every run interleaved;
// with lower_half only values 0 .. n/2 - 1 are formed in the last stage.
__attribute__((target("avx2"))) void split_stages_avx2(double *data, std::uint32_t n, const TWIDDLE *table,
                                                       bool lower_half)
{
    std::uint32_t span = 16;
    for (; 4 * span <= n; span *= 4) two_stages_split_avx2<false>(span, n, data, table);
    if (2 * span == n) {
        if (lower_half)
            two_stages_split_avx2<true>(span, n, data, table);
        else
            two_stages_split_avx2<false>(span, n, data, table);
    } else {
        last_stage_split_avx2(n, data, table, lower_half);
    }
    for (std::uint32_t run = 0; run < (lower_half ? n / 2 : n); run += 8) {
        double *p = data + 2 * run;
        const Split256 low = load_half(p, 0), high = load_half(p, 1);
        store_interleaved_avx2(p, low);
        store_interleaved_avx2(p + 8, high);
    }
}

VELUMAR_INTRINSICS_BEGIN
// a + b w with real and imaginary parts in separate registers, one
// butterfly per lane, as FFT_butterflies forms it.
__attribute__((target("avx512f"))) inline void split_butterfly_avx512(__m512d ar, __m512d ai, __m512d br, __m512d bi,
                                                                      __m512d wr, __m512d wi, __m512d &zr,
                                                                      __m512d &zi)
{
    zr = _mm512_add_pd(ar, _mm512_sub_pd(_mm512_mul_pd(wr, br), _mm512_mul_pd(wi, bi)));
    zi = _mm512_add_pd(ai, _mm512_add_pd(_mm512_mul_pd(wr, bi), _mm512_mul_pd(wi, br)));
}

// The 8 x 8 transpose, stored: row i holds value i of eight lanes, and
// the eight values of lane t go to to[t] + offset. The last shuffle step of
// the transpose (joining halves of two registers) is left to the stores,
// each of which writes half a column.
__attribute__((target("avx512f"))) inline void store_columns_avx512(const __m512d row[8], double *const to[8],
                                                                    std::uint32_t offset)
{
    const __m512i pick_even = _mm512_set_epi64(13, 12, 5, 4, 9, 8, 1, 0);
    const __m512i pick_odd = _mm512_set_epi64(15, 14, 7, 6, 11, 10, 3, 2);
    __m512d t[8], u[8];
    for (int i = 0; i < 4; ++i) {
        t[2 * i] = _mm512_unpacklo_pd(row[2 * i], row[2 * i + 1]);
        t[2 * i + 1] = _mm512_unpackhi_pd(row[2 * i], row[2 * i + 1]);
    }
    for (int h = 0; h < 2; ++h) {
        u[4 * h + 0] = _mm512_permutex2var_pd(t[4 * h], pick_even, t[4 * h + 2]);      // columns 0, 4
        u[4 * h + 1] = _mm512_permutex2var_pd(t[4 * h], pick_odd, t[4 * h + 2]);       // columns 2, 6
        u[4 * h + 2] = _mm512_permutex2var_pd(t[4 * h + 1], pick_even, t[4 * h + 3]);  // columns 1, 5
        u[4 * h + 3] = _mm512_permutex2var_pd(t[4 * h + 1], pick_odd, t[4 * h + 3]);   // columns 3, 7
    }
    // Column c < 4 is the low halves of u[k] and u[k + 4], column c + 4
    // their high halves, k = 0 2 1 3 for c = 0 1 2 3.
    constexpr int source[4] = {0, 2, 1, 3};
    for (int c = 0; c < 4; ++c) {
        const __m512d a = u[source[c]], b = u[source[c] + 4];
        _mm256_storeu_pd(to[c] + offset, _mm512_castpd512_pd256(a));
        _mm256_storeu_pd(to[c] + offset + 4, _mm512_castpd512_pd256(b));
        _mm256_storeu_pd(to[c + 4] + offset, _mm512_extractf64x4_pd(a, 1));
        _mm256_storeu_pd(to[c + 4] + offset + 4, _mm512_extractf64x4_pd(b, 1));
    }
}

// The split working layout of the transforms from 64 points on: each run
// of eight values 8c .. 8c+7 keeps its eight real parts and then its eight
// imaginary parts in the sixteen doubles the interleaved values would take.
// A butterfly of span 16 or more then pairs whole runs, lane with lane, and
// costs four products and four sums per eight values and output half, with
// no shuffles; only the last pass writes the values back interleaved.
struct Split512 {
    __m512d re;
    __m512d im;
};

__attribute__((target("avx512f"))) inline Split512 load_split(const double *p)
{
    return {_mm512_loadu_pd(p), _mm512_loadu_pd(p + 8)};
}

__attribute__((target("avx512f"))) inline void store_split(double *p, const Split512 &v)
{
    _mm512_storeu_pd(p, v.re);
    _mm512_storeu_pd(p + 8, v.im);
}

__attribute__((target("avx512f"))) inline void store_interleaved(double *p, const Split512 &v)
{
    const __m512i low = _mm512_set_epi64(11, 3, 10, 2, 9, 1, 8, 0);
    const __m512i high = _mm512_set_epi64(15, 7, 14, 6, 13, 5, 12, 4);
    _mm512_storeu_pd(p, _mm512_permutex2var_pd(v.re, low, v.im));
    _mm512_storeu_pd(p + 8, _mm512_permutex2var_pd(v.re, high, v.im));
}

// Twiddles t[0..7], widened, real and imaginary parts apart.
__attribute__((target("avx512f"))) inline Split512 split_twiddles(const TWIDDLE *t)
{
    const __m512i parts = _mm512_set_epi32(15, 13, 11, 9, 7, 5, 3, 1, 14, 12, 10, 8, 6, 4, 2, 0);
    const __m512 v = _mm512_permutexvar_ps(parts, _mm512_loadu_ps(&t->re));
    const __m256 im = _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(v), 1));
    return {_mm512_cvtps_pd(_mm512_castps512_ps256(v)), _mm512_cvtps_pd(im)};
}

__attribute__((target("avx512f"))) inline Split512 split_butterfly(const Split512 &a, const Split512 &b,
                                                                   const Split512 &w)
{
    Split512 z;
    split_butterfly_avx512(a.re, a.im, b.re, b.im, w.re, w.im, z.re, z.im);
    return z;
}

// Twiddle pairs that are exact negatives. In a stage of span S the twiddle
// of k + S/2 is, for all but two k, the negative of that of k bit for bit:
// both are cos and sin of angles half a turn apart, each rounded once to
// float, and rounding to nearest is symmetric. Then every product of the
// upper butterfly is the negative of the lower one's (the sign of a
// product, zeros included, is the exclusive or of the signs), so with
// p = w.re b.re, q = w.im b.im, r = w.re b.im, s = w.im b.re:
//   lower: (p - q, r + s);  upper: (-p - (-q), -r + -s) = (q - p, -r - s),
// the upper real part by commutativity of the sum, signed zeros included.
// The upper imaginary part is NOT -(r + s): for r = -s (or r, s zeros of
// opposite signs) both sums are +0. So the negated real part of the twiddle
// is kept beside it: r' = (-w.re) b.im = -r exactly, the lower part s - r'
// = s + r and the upper r' - s = -r + -s, each value the same double as
// the two full butterflies give (for NaN inputs only a NaN's payload or
// sign may differ). Four products instead of eight per pair.
//
// Whether a run of twiddles has that property is read from the table as
// each pass widens them: bit patterns compared, once per run per pass.

// t[k + half] == -t[k] bit for bit for the eight k from 0.
__attribute__((target("avx512f"))) inline bool negatives8(const TWIDDLE *lower, const TWIDDLE *upper)
{
    const __m512i a = _mm512_loadu_si512(lower), b = _mm512_loadu_si512(upper);
    return _mm512_cmpeq_epi32_mask(a, _mm512_xor_si512(b, _mm512_set1_epi32(INT32_MIN))) == 0xFFFF;
}

// The same for the span-8 pairs k = 1 and 3 (twiddles t[1], t[5] and t[3], t[7]).
inline bool exact_negatives_span8(const TWIDDLE *t)
{
    const auto negative = [](TWIDDLE a, TWIDDLE b) {
        return std::bit_cast<std::uint32_t>(a.re) == (std::bit_cast<std::uint32_t>(b.re) ^ 0x80000000u) &&
               std::bit_cast<std::uint32_t>(a.im) == (std::bit_cast<std::uint32_t>(b.im) ^ 0x80000000u);
    };
    return negative(t[1], t[5]) && negative(t[3], t[7]);
}

// The twiddles of the lower and upper butterflies of eight pairs, widened.
struct Pair512 {
    Split512 lower, upper;
    __m512d neg_re;  // -lower.re, for the exact-negative pairs
};

__attribute__((target("avx512f"))) inline Pair512 twiddle_pair(const TWIDDLE *lower, const TWIDDLE *upper)
{
    const Split512 l = split_twiddles(lower);
    const __m512d neg = _mm512_castsi512_pd(_mm512_xor_si512(_mm512_castpd_si512(l.re), _mm512_set1_epi64(INT64_MIN)));
    return {l, split_twiddles(upper), neg};
}

// a + b w_lower and a + b w_upper; with Negatives, w_upper = -w_lower as above.
template <bool Negatives>
__attribute__((target("avx512f"))) inline void butterfly_pair(const Split512 &a, const Split512 &b, const Pair512 &w,
                                                              Split512 &lower, Split512 &upper)
{
    if constexpr (Negatives) {
        const __m512d p = _mm512_mul_pd(w.lower.re, b.re), q = _mm512_mul_pd(w.lower.im, b.im);
        const __m512d r = _mm512_mul_pd(w.neg_re, b.im), s = _mm512_mul_pd(w.lower.im, b.re);
        lower = {_mm512_add_pd(a.re, _mm512_sub_pd(p, q)), _mm512_add_pd(a.im, _mm512_sub_pd(s, r))};
        upper = {_mm512_add_pd(a.re, _mm512_sub_pd(q, p)), _mm512_add_pd(a.im, _mm512_sub_pd(r, s))};
    } else {
        lower = split_butterfly(a, b, w.lower);
        upper = split_butterfly(a, b, w.upper);
    }
}

// Span 8 of eight lanes after span 4 (z[m] is value m of each lane, w the
// span's eight twiddles, broadcast), and the two 8 x 8 transposes (real
// parts, imaginary parts) that turn the lanes into blocks, each stored
// whole at its place in the split layout: lane i at out + 16 index[8 (r + i)].
// With Negatives, w[5] = -w[1] and w[7] = -w[3] bit for bit (as in every
// table, see the exact-negative pairs above), and those two pairs share
// their products.
template <bool Negatives>
__attribute__((target("avx512f"))) inline void span_8_stored_avx512(const Split512 z[8], const Split512 w[8],
                                                                    const std::uint32_t *index, std::uint32_t r,
                                                                    double *out)
{
    __m512d re[8], im[8];
    for (int k = 0; k < 4; ++k) {  // lower z0..z3, upper z4..z7
        Split512 lower, upper;
        if (Negatives && k % 2 == 1) {
            const __m512d neg = _mm512_castsi512_pd(
                _mm512_xor_si512(_mm512_castpd_si512(w[k].re), _mm512_set1_epi64(INT64_MIN)));
            butterfly_pair<true>(z[k], z[k + 4], Pair512{w[k], w[k + 4], neg}, lower, upper);
        } else {
            lower = split_butterfly(z[k], z[k + 4], w[k]);
            upper = split_butterfly(z[k], z[k + 4], w[k + 4]);
        }
        re[k] = lower.re, im[k] = lower.im, re[k + 4] = upper.re, im[k + 4] = upper.im;
    }
    double *block[8];
    for (std::uint32_t lane = 0; lane < 8; ++lane) block[lane] = out + 16 * index[8 * (r + lane)];
    store_columns_avx512(re, block, 0);
    store_columns_avx512(im, block, 8);
}

// Spans 2 and 4 of four real inputs per lane, x0..x3 at bit-reversed
// places: the butterflies of first_stage_from_signal and FFT_butterflies,
// lane by lane. Output k goes to z[k].
struct FirstSpans512 {
    __m512d c0r, c0i, c1r, c1i, v0r, v0i, v1r, v1i, ur[4], ui[4], zero;

    __attribute__((target("avx512f"))) explicit FirstSpans512(const TWIDDLE *table)
    {
        const double w0r = table[0].re, w0i = table[0].im, w1r = table[1].re, w1i = table[1].im;
        // The products with the zero imaginary parts of the real input, as
        // the complex multiplication forms them.
        c0r = _mm512_set1_pd(w0r * 0.0), c0i = _mm512_set1_pd(w0i * 0.0);
        c1r = _mm512_set1_pd(w1r * 0.0), c1i = _mm512_set1_pd(w1i * 0.0);
        v0r = _mm512_set1_pd(w0r), v0i = _mm512_set1_pd(w0i);
        v1r = _mm512_set1_pd(w1r), v1i = _mm512_set1_pd(w1i);
        for (int k = 0; k < 4; ++k) {
            ur[k] = _mm512_set1_pd(table[2 + k].re);
            ui[k] = _mm512_set1_pd(table[2 + k].im);
        }
        zero = _mm512_setzero_pd();
    }

    // Whether w0 = (1, -0) and w1 has a negative real part, as in every
    // forward table. Then, for every double x (zeros, infinities and NaNs
    // included; x86 returns a NaN operand quieted, and inf - inf and
    // -0 * inf the same default NaN):
    //   1 x - c0i = x - c0i     (the product is x, or x quieted, which the
    //                            subtraction does anyway);
    //   0 + (c0r + (-0) x) = x - x   (+0 for finite x, the default NaN for
    //                            an infinity, x quieted for a NaN);
    //   c1r + p = p             (c1r = -0, the additive identity, and p a
    //                            product, never a signalling NaN).
    static bool known(const TWIDDLE *table)
    {
        return std::bit_cast<std::uint32_t>(table[0].re) == std::bit_cast<std::uint32_t>(1.0f) &&
               std::bit_cast<std::uint32_t>(table[0].im) == std::bit_cast<std::uint32_t>(-0.0f) && table[1].re < 0.0f;
    }

    // One span-2 butterfly pair of real inputs (a, 0), (b, 0).
    template <bool Known>
    __attribute__((target("avx512f"))) inline void span2(__m512d a, __m512d b, Split512 &lower, Split512 &upper) const
    {
        if constexpr (Known) {
            lower = {_mm512_add_pd(a, _mm512_sub_pd(b, c0i)), _mm512_sub_pd(b, b)};
            upper = {_mm512_add_pd(a, _mm512_sub_pd(_mm512_mul_pd(v1r, b), c1i)),
                     _mm512_add_pd(zero, _mm512_mul_pd(v1i, b))};
        } else {
            lower = {_mm512_add_pd(a, _mm512_sub_pd(_mm512_mul_pd(v0r, b), c0i)),
                     _mm512_add_pd(zero, _mm512_add_pd(c0r, _mm512_mul_pd(v0i, b)))};
            upper = {_mm512_add_pd(a, _mm512_sub_pd(_mm512_mul_pd(v1r, b), c1i)),
                     _mm512_add_pd(zero, _mm512_add_pd(c1r, _mm512_mul_pd(v1i, b)))};
        }
    }

    template <bool Known>
    __attribute__((target("avx512f"))) inline void run(__m512d x0, __m512d x1, __m512d x2, __m512d x3,
                                                       Split512 *z) const
    {
        // Span 2: (x0, x1) and (x2, x3), each value entering as (x, 0).
        Split512 y0, y1, y2, y3;
        span2<Known>(x0, x1, y0, y1);
        span2<Known>(x2, x3, y2, y3);
        const __m512d y0r = y0.re, y0i = y0.im, y1r = y1.re, y1i = y1.im;
        const __m512d y2r = y2.re, y2i = y2.im, y3r = y3.re, y3i = y3.im;
        // Span 4: lower (y0, y1), upper (y2, y3).
        split_butterfly_avx512(y0r, y0i, y2r, y2i, ur[0], ui[0], z[0].re, z[0].im);
        split_butterfly_avx512(y1r, y1i, y3r, y3i, ur[1], ui[1], z[1].re, z[1].im);
        split_butterfly_avx512(y0r, y0i, y2r, y2i, ur[2], ui[2], z[2].re, z[2].im);
        split_butterfly_avx512(y1r, y1i, y3r, y3i, ur[3], ui[3], z[3].re, z[3].im);
    }
};

// Spans 2, 4 and 8 for n >= 64, in blocks of eight: block b holds the
// signal at r + m n/8 for the eight m in bit-reversed order (0 4 2 6 1 5 3
// 7), r = index[8b], so each of the eight is one plain vector load for
// eight consecutive r. The butterflies run lane by lane, each lane doing
// exactly the operations of first_stage_from_signal and FFT_butterflies.
template <bool Known, bool Negatives>
__attribute__((target("avx512f"))) void first_three_stages_split_avx512(const double *signal,
                                                                        const std::uint32_t *index, double *out,
                                                                        std::uint32_t n, const TWIDDLE *table)
{
    const FirstSpans512 spans(table);
    Split512 w8[8];
    for (int k = 0; k < 8; ++k) w8[k] = {_mm512_set1_pd(table[6 + k].re), _mm512_set1_pd(table[6 + k].im)};
    const EighthPlaces places(n);
    for (std::uint32_t r = 0; r < n / 8; r += 8) {
        Split512 z[8];
        for (int half = 0; half < 2; ++half) {
            const __m512d x0 = _mm512_loadu_pd(signal + r + places.at[4 * half]);
            const __m512d x1 = _mm512_loadu_pd(signal + r + places.at[4 * half + 1]);
            const __m512d x2 = _mm512_loadu_pd(signal + r + places.at[4 * half + 2]);
            const __m512d x3 = _mm512_loadu_pd(signal + r + places.at[4 * half + 3]);
            spans.run<Known>(x0, x1, x2, x3, z + 4 * half);
        }
        span_8_stored_avx512<Negatives>(z, w8, index, r, out);
    }
}

// How a pass stores: split, for another pass; interleaved, last; only
// the values below n/2, last and still split, for the power spectrum
// (which uses no other line: the stage of span n skips its upper half,
// and the powers read the parts apart as they are); or only the real
// parts, last, in place of each run's real half, for the inverse
// transform of a real signal (the imaginary parts of the last stage,
// never read, are not formed).
enum class Store { Split, Interleaved, LowerHalf, Real };

// The blocks of one run of twiddles of two_stages_split_avx512.
template <Store Out, bool FirstNegatives, bool SecondNegatives>
__attribute__((target("avx512f"))) inline void two_stages_run_avx512(double *data, std::uint32_t s, std::uint32_t n,
                                                                     const Pair512 &f, const Pair512 &s02,
                                                                     const Pair512 &s13)
{
    const std::uint32_t q = s / 2;
    for (std::uint32_t start = 0; start < n; start += 2 * s) {
        double *p0 = data + 2 * start;
        double *p1 = p0 + 2 * q;
        double *p2 = p0 + 2 * s;
        double *p3 = p2 + 2 * q;
        const Split512 x0 = load_split(p0), x1 = load_split(p1), x2 = load_split(p2), x3 = load_split(p3);
        Split512 y0, y1, y2, y3, z0, z1, z2, z3;
        butterfly_pair<FirstNegatives>(x0, x1, f, y0, y1);
        butterfly_pair<FirstNegatives>(x2, x3, f, y2, y3);
        if constexpr (Out == Store::LowerHalf) {
            store_split(p0, split_butterfly(y0, y2, s02.lower));
            store_split(p1, split_butterfly(y1, y3, s13.lower));
            continue;
        }
        butterfly_pair<SecondNegatives>(y0, y2, s02, z0, z2);
        butterfly_pair<SecondNegatives>(y1, y3, s13, z1, z3);
        if constexpr (Out == Store::Interleaved) {
            store_interleaved(p0, z0), store_interleaved(p1, z1);
            store_interleaved(p2, z2), store_interleaved(p3, z3);
        } else if constexpr (Out == Store::Real) {
            _mm512_storeu_pd(p0, z0.re), _mm512_storeu_pd(p1, z1.re);
            _mm512_storeu_pd(p2, z2.re), _mm512_storeu_pd(p3, z3.re);
        } else {
            store_split(p0, z0), store_split(p1, z1), store_split(p2, z2), store_split(p3, z3);
        }
    }
}

// The stages of spans s and 2s (s >= 16) in one pass over split data, as
// two_stages_avx512; the last pass stores the values interleaved.
template <Store Out>
__attribute__((target("avx512f"))) void two_stages_split_avx512(std::uint32_t s, std::uint32_t n, double *data,
                                                                const TWIDDLE *table)
{
    const std::uint32_t q = s / 2;
    const TWIDDLE *first = table + (s - 2);
    const TWIDDLE *second = table + (2 * s - 2);
    for (std::uint32_t k = 0; k < q; k += 8) {
        const Pair512 f = twiddle_pair(first + k, first + k + q);
        const Pair512 s02 = twiddle_pair(second + k, second + k + s);
        const Pair512 s13 = twiddle_pair(second + q + k, second + q + k + s);
        const bool first_negatives = negatives8(first + k, first + k + q);
        const bool second_negatives = negatives8(second + k, second + k + s) &&
                                      negatives8(second + q + k, second + q + k + s);
        double *run = data + 2 * k;
        if (first_negatives && second_negatives)
            two_stages_run_avx512<Out, true, true>(run, s, n, f, s02, s13);
        else if (first_negatives)
            two_stages_run_avx512<Out, true, false>(run, s, n, f, s02, s13);
        else if (second_negatives)
            two_stages_run_avx512<Out, false, true>(run, s, n, f, s02, s13);
        else
            two_stages_run_avx512<Out, false, false>(run, s, n, f, s02, s13);
    }
}

// The stage of span n alone, last, over split data.
__attribute__((target("avx512f"))) void last_stage_split_avx512(std::uint32_t n, double *data, const TWIDDLE *table,
                                                                Store out)
{
    const std::uint32_t q = n / 2;
    const TWIDDLE *w = table + (n - 2);
    for (std::uint32_t k = 0; k < q; k += 8) {
        double *lower = data + 2 * k;
        double *upper = lower + 2 * q;
        const Split512 a = load_split(lower), b = load_split(upper);
        const Pair512 pair = twiddle_pair(w + k, w + k + q);
        Split512 l, u;
        if (out == Store::LowerHalf) {
            store_split(lower, split_butterfly(a, b, pair.lower));
            continue;
        }
        if (negatives8(w + k, w + k + q))
            butterfly_pair<true>(a, b, pair, l, u);
        else
            butterfly_pair<false>(a, b, pair, l, u);
        if (out == Store::Real) {
            _mm512_storeu_pd(lower, l.re);
            _mm512_storeu_pd(upper, u.re);
        } else {
            store_interleaved(lower, l);
            store_interleaved(upper, u);
        }
    }
}

// Spans 2, 4 and 8 of complex input, as first_three_stages_split_avx512
// does them for real input: the eight consecutive values at each of the
// eight places are two plain loads, parted into real and imaginary parts.
template <bool Negatives>
__attribute__((target("avx512f"))) void first_three_stages_complex_split_avx512(const COMPLEX *in,
                                                                                const std::uint32_t *index,
                                                                                double *out, std::uint32_t n,
                                                                                const TWIDDLE *table)
{
    Split512 w[14];
    for (int k = 0; k < 14; ++k) w[k] = {_mm512_set1_pd(table[k].re), _mm512_set1_pd(table[k].im)};
    const __m512i even = _mm512_set_epi64(14, 12, 10, 8, 6, 4, 2, 0);
    const __m512i odd = _mm512_set_epi64(15, 13, 11, 9, 7, 5, 3, 1);
    const EighthPlaces places(n);
    for (std::uint32_t r = 0; r < n / 8; r += 8) {
        Split512 x[8], y[8];
        for (int m = 0; m < 8; ++m) {
            const double *p = &in[r + places.at[m]].re;
            const __m512d v0 = _mm512_loadu_pd(p), v1 = _mm512_loadu_pd(p + 8);
            x[m] = {_mm512_permutex2var_pd(v0, even, v1), _mm512_permutex2var_pd(v0, odd, v1)};
        }
        for (int b = 0; b < 8; b += 2) {  // span 2
            y[b] = split_butterfly(x[b], x[b + 1], w[0]);
            y[b + 1] = split_butterfly(x[b], x[b + 1], w[1]);
        }
        for (int b = 0; b < 8; b += 4)  // span 4
            for (int k = 0; k < 2; ++k) {
                x[b + k] = split_butterfly(y[b + k], y[b + k + 2], w[2 + k]);
                x[b + k + 2] = split_butterfly(y[b + k], y[b + k + 2], w[4 + k]);
            }
        span_8_stored_avx512<Negatives>(x, w + 6, index, r, out);
    }
}

// The stages from span 16 on over split data, the last pass storing as
// `last` says (Interleaved, LowerHalf or Real).
__attribute__((target("avx512f"))) void split_stages_avx512(double *data, std::uint32_t n, const TWIDDLE *table,
                                                            Store last)
{
    std::uint32_t span = 16;
    for (; 4 * span <= n; span *= 4) two_stages_split_avx512<Store::Split>(span, n, data, table);
    if (2 * span != n)
        last_stage_split_avx512(n, data, table, last);
    else if (last == Store::LowerHalf)
        two_stages_split_avx512<Store::LowerHalf>(span, n, data, table);
    else if (last == Store::Real)
        two_stages_split_avx512<Store::Real>(span, n, data, table);
    else
        two_stages_split_avx512<Store::Interleaved>(span, n, data, table);
}
VELUMAR_INTRINSICS_END
#endif

// Butterflies per instruction the stages may use: 4, 2 or 1 (two doubles
// make one complex value).
std::uint32_t stage_width()
{
    const std::uint32_t doubles = vector_doubles();
    return doubles >= 8 ? 4 : doubles >= 4 ? 2 : 1;
}

// The first stage of a forward transform, reading the real signal through
// the reordering table: the permutation and the span-2 butterflies in one
// pass, with the imaginary parts exactly the zeros the permutation would
// have written.
void first_stage_from_signal(const double *signal, const std::uint32_t *index, COMPLEX *out, std::uint32_t n,
                             const TwiddleTable &table)
{
    const TWIDDLE w0 = table.data[0], w1 = table.data[1];
    for (std::uint32_t start = 0; start < n; start += 2) {
        const COMPLEX a{signal[index[start]], 0.0};
        const COMPLEX b{signal[index[start + 1]], 0.0};
        out[start] = complex_add(a, complex_mul_twiddle(b, w0));
        out[start + 1] = complex_add(a, complex_mul_twiddle(b, w1));
    }
}

// The stages from span `first` on (the data already permuted), block by
// block: transforms below 64 points, which the model does not use, and
// processors without AVX2.
void run_stages(COMPLEX *data, std::uint32_t n, const TwiddleTable &table, std::uint32_t first)
{
    for (std::uint32_t span = first; span <= n; span *= 2)
        for (std::uint32_t start = 0; start < n; start += span) FFT_butterflies(span, start, data, table);
}

// With lower_half, out[n/2 ..] may be left unformed (the power spectrum
// uses no value there), and *split tells whether the lower half is left in
// the split layout rather than interleaved.
std::int32_t forward(const double *signal, COMPLEX *out, const std::uint32_t *index, std::uint32_t n,
                     const TwiddleTable &table, const char *permutation_error, bool lower_half = false,
                     bool *split = nullptr)
{
    if (split != nullptr) *split = false;
    if (!table_serves(table, n)) {
        say("error parametrs func:'get_FFT'\n");
        return 1;
    }
    if (n == 1) {
        if (sort_and_cast(signal, out, index, n) != 0) {
            say(permutation_error);
            return 1;
        }
        return 0;
    }
#if defined(__x86_64__)
    if (stage_width() >= 4 && n >= 64) {
        const bool negatives = exact_negatives_span8(table.data + 6);
        if (FirstSpans512::known(table.data) && negatives)
            first_three_stages_split_avx512<true, true>(signal, index, &out->re, n, table.data);
        else
            first_three_stages_split_avx512<false, false>(signal, index, &out->re, n, table.data);
        split_stages_avx512(&out->re, n, table.data, lower_half ? Store::LowerHalf : Store::Interleaved);
        if (split != nullptr) *split = lower_half;
        return 0;
    }
    if (stage_width() >= 2 && n >= 64) {
        first_three_stages_split_avx2(signal, index, &out->re, n, table.data);
        split_stages_avx2(&out->re, n, table.data, lower_half);
        return 0;
    }
#endif
    first_stage_from_signal(signal, index, out, n, table);
    run_stages(out, n, table, 4);
    return 0;
}

} // namespace

std::int32_t get_index_for_FFT(std::uint32_t *index, std::uint32_t n)
{
    auto *temp = static_cast<std::uint32_t *>(obtain(n, sizeof(std::uint32_t)));
    if (temp == nullptr) {
        say("error malloc func:'get_index_for_FFT'\n");
        return 1;
    }
    for (std::uint32_t i = 0; i < n; ++i) index[i] = i;
    if (n > kLargestSize) {
        say("quantity>16");
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

#if defined(VELUMAR_TEST_HOOKS)
extern "C" void velumar_limit_fft_width(std::uint32_t butterflies_per_instruction)
{
    velumar_limit_vector_doubles(butterflies_per_instruction >= 4 ? 8 : butterflies_per_instruction >= 2 ? 4 : 1);
}
#endif

TWIDDLE get_twiddle(std::int32_t m, std::int32_t n) { return twiddle_at(m, n, -kTwoPi); }

TWIDDLE get_inverse_twiddle(std::int32_t m, std::int32_t n) { return twiddle_at(m, n, kTwoPi); }

void fill_twiddle_table(TWIDDLE *table, std::uint32_t n, bool inverse)
{
    for (std::uint32_t span = 2; span <= n; span *= 2) {
        TWIDDLE *section = table + (span - 2);
        const auto size = static_cast<std::int32_t>(span);
        for (std::int32_t k = 0; k < size; ++k)
            section[k] = inverse ? get_inverse_twiddle(k, size) : get_twiddle(k, size);
    }
}

std::int32_t sort_and_cast(const double *signal, COMPLEX *out, const std::uint32_t *index, std::uint32_t n)
{
    for (std::uint32_t i = 0; i < n; ++i) out[i] = {signal[index[i]], 0.0};
    return 0;
}

std::int32_t sort_global(const COMPLEX *in, COMPLEX *out, const std::uint32_t *index, std::uint32_t n)
{
    if (n > kLargestSize) {
        say("quantity>16");
        return 1;
    }
    for (std::uint32_t i = 0; i < n; ++i) out[i] = in[index[i]];
    return 0;
}

std::int32_t get_FFT(const double *signal, COMPLEX *out, const std::uint32_t *index, std::uint32_t n,
                     const TwiddleTable &forward_table)
{
    if (forward(signal, out, index, n, forward_table, "error_sortand_cast") != 0) return 1;
    const double scale = reciprocal(n);
    for (std::uint32_t i = 0; i < n; ++i) {
        out[i].re *= scale;
        out[i].im *= scale;
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
        say("error parametrs func:'get_IFFT'\n");
        return 1;
    }
#if defined(__x86_64__)
    if (stage_width() >= 4 && n >= 64 && n <= kLargestSize) {
        if (exact_negatives_span8(inverse_table.data + 6))
            first_three_stages_complex_split_avx512<true>(in, index, &work->re, n, inverse_table.data);
        else
            first_three_stages_complex_split_avx512<false>(in, index, &work->re, n, inverse_table.data);
        split_stages_avx512(&work->re, n, inverse_table.data, Store::Real);
        // Run c's real parts are the doubles 16c .. 16c + 7.
        const double scale = reciprocal(n);
        const double *real = &work->re;
        for (std::uint32_t run = 0; run < n; run += 8)
            for (std::uint32_t i = 0; i < 8; ++i) out[run + i] = real[2 * run + i] * scale;
        return 0;
    } else if (stage_width() >= 2 && n >= 64 && n <= kLargestSize) {
        first_three_stages_complex_split_avx2(in, index, &work->re, n, inverse_table.data);
        split_stages_avx2(&work->re, n, inverse_table.data, false);
    } else
#endif
    {
        if (sort_global(in, work, index, n) != 0) {
            say("error_sort_global");
            return 1;
        }
        run_stages(work, n, inverse_table, 2);
    }
    const double scale = reciprocal(n);
    for (std::uint32_t i = 0; i < n; ++i) out[i] = work[i].re * scale;
    return 0;
}

namespace {

// The power of one line as the model defines it: the two parts squared and
// summed in extended precision (64-bit significands: each square and the
// sum rounded to 64 bits), the sum then rounded to double.
double extended_power(double re, double im)
{
    const long double r = re, i = im;
    return static_cast<double>(r * r + i * i);
}

// A power the spectra cannot carry: infinite, negative or not a number.
bool unrepresentable(double p) { return !(p >= 0.0) || p > DBL_MAX; }

// Lines [0, count) one by one; a line whose bit in `known` is set (only the
// first 32 have one) takes its power from fast[] (already proven equal to
// extended_power), the others are formed in extended precision. false, with
// nothing written from that line on, at the first power the spectra cannot
// carry.
bool settle_lines(const COMPLEX *lines, double *power, std::uint32_t count, double scale, double factor,
                  const double *fast, std::uint32_t known)
{
    for (std::uint32_t i = 0; i < count; ++i) {
        const bool proven = i < 32 && (known >> i & 1u) != 0;  // the scalar tail passes no proofs
        const double p = proven ? fast[i] : extended_power(lines[i].re * scale, lines[i].im * scale);
        if (unrepresentable(p)) return false;
        power[i] = p * factor;
    }
    return true;
}

#if defined(__x86_64__)
// The vector lines below compute, per lane, the double nearest to the exact
// x^2 + y^2 and prove on the way that extended_power gives that same double;
// a lane where the proof does not go through is settled by settle_lines.
//
// Why it holds. Squaring and summing in 64-bit significands lands within
// 2^-63 (1 + 2^-65) S of the exact sum S = x^2 + y^2: at most 2^-10 (1 +
// 2^-65) of a double's ulp at S (and 2^-10 of the smaller ulp below a
// power of two). Rounding that to double gives the double nearest S unless
// S lies closer than that to a rounding midpoint. So: form S as r + err
// with r the double nearest (r + err within 2^-20 ulp of S), and accept
// the lane when |err| stays (2^-10 + 2^-16) ulp of the binade just below r
// away from half that ulp. About 1 lane in 500 fails.
//
// The squares without a fused multiply-add: x = hi + lo with hi the upper
// 26 significand bits (a mask) and lo the rest, so hi^2 is exact, and so
// is hi^2 - fl(x^2); lo (hi + x) = 2 hi lo + lo^2 up to 2^-75 x^2. Then
// x^2 = ph + pl to within that. The two large parts are added exactly
// (larger first: both are non-negative), the small ones after.
//
// Range: the argument needs no overflow and no loss to underflow that
// matters, which 2^-900 <= r < 2^900 ensures (a tiny part then adds errors
// near 2^-1074, far below an ulp of r). Any overflow on the way makes r
// infinite or NaN, and so does a NaN or infinite part. Zero lines (x = y =
// 0) give +0 exactly. Everything else - subnormal powers, huge parts,
// infinities, NaN - is settled one line at a time.

VELUMAR_INTRINSICS_BEGIN
constexpr double kSmallest = 0x1p-900;
constexpr double kLargest = 0x1p900;
// (1/2 - 2^-10 - 2^-16) ulp, as a multiple of the binade 2^e (ulp = 2^(e-52)).
constexpr double kMargin = 32703 * 0x1p-68;
constexpr std::int64_t kUpper26 = static_cast<std::int64_t>(0xFFFFFFFFF8000000ull);
constexpr std::int64_t kExponent = 0x7FF0000000000000ll;

__attribute__((target("avx512f"))) inline void square_avx512(__m512d x, __m512d &ph, __m512d &pl)
{
    const __m512d hi = _mm512_castsi512_pd(_mm512_and_si512(_mm512_castpd_si512(x), _mm512_set1_epi64(kUpper26)));
    const __m512d lo = _mm512_sub_pd(x, hi);
    ph = _mm512_mul_pd(x, x);
    pl = _mm512_add_pd(_mm512_sub_pd(_mm512_mul_pd(hi, hi), ph), _mm512_mul_pd(lo, _mm512_add_pd(hi, x)));
}

// The power of eight lines from their scaled parts x and y: r, and the
// lanes whose r is proven to be extended_power's.
__attribute__((target("avx512f"))) inline __m512d eight_powers(__m512d x, __m512d y, __mmask8 &known)
{
    const __m512i one = _mm512_set1_epi64(1), exponent = _mm512_set1_epi64(kExponent);
    __m512d px, lx, py, ly;
    square_avx512(x, px, lx);
    square_avx512(y, py, ly);
    const __m512d big = _mm512_max_pd(px, py), small = _mm512_min_pd(px, py);
    const __m512d s = _mm512_add_pd(big, small);
    const __m512d e = _mm512_sub_pd(small, _mm512_sub_pd(s, big));
    const __m512d t = _mm512_add_pd(_mm512_add_pd(e, lx), ly);
    const __m512d r = _mm512_add_pd(s, t);
    const __m512d err = _mm512_sub_pd(t, _mm512_sub_pd(r, s));
    // 2^e of the binade just below r (the largest double under r).
    const __m512d binade = _mm512_castsi512_pd(
        _mm512_and_si512(_mm512_sub_epi64(_mm512_castpd_si512(r), one), exponent));
    const __m512d abs_err = _mm512_castsi512_pd(
        _mm512_andnot_si512(_mm512_set1_epi64(INT64_MIN), _mm512_castpd_si512(err)));
    __mmask8 in_range = _mm512_cmp_pd_mask(r, _mm512_set1_pd(kSmallest), _CMP_GE_OQ);
    in_range = _mm512_mask_cmp_pd_mask(in_range, r, _mm512_set1_pd(kLargest), _CMP_LT_OQ);
    __mmask8 zero = _mm512_cmp_pd_mask(x, _mm512_setzero_pd(), _CMP_EQ_OQ);
    zero = _mm512_mask_cmp_pd_mask(zero, y, _mm512_setzero_pd(), _CMP_EQ_OQ);
    known = _mm512_mask_cmp_pd_mask(static_cast<__mmask8>(in_range | zero), abs_err,
                                    _mm512_mul_pd(binade, _mm512_set1_pd(kMargin)), _CMP_LT_OQ);
    return r;
}

// Lines in blocks of 8; returns the lines done, or count + 1 when a line
// could not be carried (the caller then reports it).
__attribute__((target("avx512f"))) std::uint32_t line_powers_avx512(const COMPLEX *lines, double *power,
                                                                    std::uint32_t count, double scale,
                                                                    double factor)
{
    const __m512i even = _mm512_setr_epi64(0, 2, 4, 6, 8, 10, 12, 14);
    const __m512i odd = _mm512_setr_epi64(1, 3, 5, 7, 9, 11, 13, 15);
    const __m512d vscale = _mm512_set1_pd(scale), vfactor = _mm512_set1_pd(factor);
    std::uint32_t k = 0;
    for (; k + 8 <= count; k += 8) {
        const __m512d a = _mm512_loadu_pd(&lines[k].re), b = _mm512_loadu_pd(&lines[k + 4].re);
        const __m512d x = _mm512_mul_pd(_mm512_permutex2var_pd(a, even, b), vscale);
        const __m512d y = _mm512_mul_pd(_mm512_permutex2var_pd(a, odd, b), vscale);
        __mmask8 known;
        const __m512d r = eight_powers(x, y, known);
        if (known == 0xFF) {
            _mm512_storeu_pd(power + k, _mm512_mul_pd(r, vfactor));
        } else {
            alignas(64) double fast[8];
            _mm512_store_pd(fast, r);
            if (!settle_lines(lines + k, power + k, 8, scale, factor, fast, known)) return count + 1;
        }
    }
    return k;
}

// The same for lines in the split layout (runs of eight real parts, then
// eight imaginary), count a multiple of 8. true, or false after the first
// line that could not be carried.
__attribute__((target("avx512f"))) bool split_line_powers_avx512(const double *split, double *power,
                                                                 std::uint32_t count, double scale, double factor)
{
    const __m512d vscale = _mm512_set1_pd(scale), vfactor = _mm512_set1_pd(factor);
    for (std::uint32_t k = 0; k < count; k += 8) {
        const __m512d re = _mm512_loadu_pd(split + 2 * k), im = _mm512_loadu_pd(split + 2 * k + 8);
        __mmask8 known;
        const __m512d r = eight_powers(_mm512_mul_pd(re, vscale), _mm512_mul_pd(im, vscale), known);
        if (known == 0xFF) {
            _mm512_storeu_pd(power + k, _mm512_mul_pd(r, vfactor));
        } else {
            alignas(64) double fast[8];
            alignas(64) COMPLEX lines[8];
            _mm512_store_pd(fast, r);
            for (int i = 0; i < 8; ++i) lines[i] = {split[2 * k + i], split[2 * k + 8 + i]};
            if (!settle_lines(lines, power + k, 8, scale, factor, fast, known)) return false;
        }
    }
    return true;
}

__attribute__((target("avx2"))) inline void square_avx2(__m256d x, __m256d &ph, __m256d &pl)
{
    const __m256d hi = _mm256_and_pd(x, _mm256_castsi256_pd(_mm256_set1_epi64x(kUpper26)));
    const __m256d lo = _mm256_sub_pd(x, hi);
    ph = _mm256_mul_pd(x, x);
    pl = _mm256_add_pd(_mm256_sub_pd(_mm256_mul_pd(hi, hi), ph), _mm256_mul_pd(lo, _mm256_add_pd(hi, x)));
}

// The same in blocks of 4. The unpacking leaves the lines in the order
// 0 2 1 3, put back before anything is stored.
__attribute__((target("avx2"))) std::uint32_t line_powers_avx2(const COMPLEX *lines, double *power,
                                                                std::uint32_t count, double scale, double factor)
{
    const __m256d vscale = _mm256_set1_pd(scale), vfactor = _mm256_set1_pd(factor);
    const __m256i one = _mm256_set1_epi64x(1), exponent = _mm256_set1_epi64x(kExponent);
    std::uint32_t k = 0;
    for (; k + 4 <= count; k += 4) {
        const __m256d a = _mm256_loadu_pd(&lines[k].re), b = _mm256_loadu_pd(&lines[k + 2].re);
        const __m256d x = _mm256_mul_pd(_mm256_unpacklo_pd(a, b), vscale);
        const __m256d y = _mm256_mul_pd(_mm256_unpackhi_pd(a, b), vscale);
        __m256d px, lx, py, ly;
        square_avx2(x, px, lx);
        square_avx2(y, py, ly);
        const __m256d big = _mm256_max_pd(px, py), small = _mm256_min_pd(px, py);
        const __m256d s = _mm256_add_pd(big, small);
        const __m256d e = _mm256_sub_pd(small, _mm256_sub_pd(s, big));
        const __m256d t = _mm256_add_pd(_mm256_add_pd(e, lx), ly);
        const __m256d r = _mm256_add_pd(s, t);
        const __m256d err = _mm256_sub_pd(t, _mm256_sub_pd(r, s));
        const __m256d binade = _mm256_castsi256_pd(
            _mm256_and_si256(_mm256_sub_epi64(_mm256_castpd_si256(r), one), exponent));
        const __m256d abs_err = _mm256_andnot_pd(_mm256_set1_pd(-0.0), err);
        const __m256d in_range = _mm256_and_pd(_mm256_cmp_pd(r, _mm256_set1_pd(kSmallest), _CMP_GE_OQ),
                                               _mm256_cmp_pd(r, _mm256_set1_pd(kLargest), _CMP_LT_OQ));
        const __m256d zero = _mm256_and_pd(_mm256_cmp_pd(x, _mm256_setzero_pd(), _CMP_EQ_OQ),
                                           _mm256_cmp_pd(y, _mm256_setzero_pd(), _CMP_EQ_OQ));
        const __m256d close = _mm256_cmp_pd(abs_err, _mm256_mul_pd(binade, _mm256_set1_pd(kMargin)), _CMP_LT_OQ);
        const __m256d known = _mm256_permute4x64_pd(_mm256_and_pd(_mm256_or_pd(in_range, zero), close), 0xD8);
        const __m256d ordered = _mm256_permute4x64_pd(r, 0xD8);
        const int mask = _mm256_movemask_pd(known);
        if (mask == 0xF) {
            _mm256_storeu_pd(power + k, _mm256_mul_pd(ordered, vfactor));
        } else {
            alignas(32) double fast[4];
            _mm256_store_pd(fast, ordered);
            if (!settle_lines(lines + k, power + k, 4, scale, factor, fast, static_cast<std::uint32_t>(mask)))
                return count + 1;
        }
    }
    return k;
}
// a[k] = conj(a[k]) b[k] on 4 and 2 lines per instruction: per line
// re = br ar + bi ai and im = bi ar - br ai, the same values as
// complex_mul(conj(a), b) (negating a product and x - (-y) = x + y are
// exact). Written out: left to itself the compiler forms this with fused
// multiply-adds.
__attribute__((target("avx512f"))) std::uint32_t conjugate_products_avx512(COMPLEX *a, const COMPLEX *b,
                                                                           std::uint32_t n)
{
    const __m512i odd_signs = _mm512_set_epi64(INT64_MIN, 0, INT64_MIN, 0, INT64_MIN, 0, INT64_MIN, 0);
    std::uint32_t k = 0;
    for (; k + 4 <= n; k += 4) {
        const __m512d x = _mm512_loadu_pd(&a[k].re), y = _mm512_loadu_pd(&b[k].re);
        const __m512d by_re = _mm512_mul_pd(y, _mm512_movedup_pd(x));                          // br ar, bi ar
        const __m512d by_im = _mm512_mul_pd(_mm512_permute_pd(y, 0x55), _mm512_permute_pd(x, 0xFF));  // bi ai, br ai
        const __m512d by_im_signed = _mm512_castsi512_pd(_mm512_xor_si512(_mm512_castpd_si512(by_im), odd_signs));
        _mm512_storeu_pd(&a[k].re, _mm512_add_pd(by_re, by_im_signed));
    }
    return k;
}

__attribute__((target("avx2"))) std::uint32_t conjugate_products_avx2(COMPLEX *a, const COMPLEX *b, std::uint32_t n)
{
    const __m256d odd_signs = _mm256_setr_pd(0.0, -0.0, 0.0, -0.0);
    std::uint32_t k = 0;
    for (; k + 2 <= n; k += 2) {
        const __m256d x = _mm256_loadu_pd(&a[k].re), y = _mm256_loadu_pd(&b[k].re);
        const __m256d by_re = _mm256_mul_pd(y, _mm256_movedup_pd(x));
        const __m256d by_im = _mm256_mul_pd(_mm256_permute_pd(y, 0x5), _mm256_permute_pd(x, 0xF));
        _mm256_storeu_pd(&a[k].re, _mm256_add_pd(by_re, _mm256_xor_pd(by_im, odd_signs)));
    }
    return k;
}

VELUMAR_INTRINSICS_END
#endif

} // namespace

void conjugate_products(COMPLEX *a, const COMPLEX *b, std::uint32_t n)
{
    std::uint32_t k = 0;
#if defined(__x86_64__)
    if (stage_width() >= 4)
        k = conjugate_products_avx512(a, b, n);
    else if (stage_width() >= 2)
        k = conjugate_products_avx2(a, b, n);
#endif
    for (; k < n; ++k) a[k] = complex_mul({a[k].re, -a[k].im}, b[k]);
}

std::int32_t line_powers(const COMPLEX *lines, double *power, std::uint32_t count, double scale, double factor)
{
    std::uint32_t done = 0;
#if defined(__x86_64__)
    if (stage_width() >= 4)
        done = line_powers_avx512(lines, power, count, scale, factor);
    else if (stage_width() >= 2)
        done = line_powers_avx2(lines, power, count, scale, factor);
#endif
    if (done > count ||
        !settle_lines(lines + done, power + done, count - done, scale, factor, nullptr, 0)) {
        say("\nerror type (func 'get_amplitude_spectrum')(DBL_MAX)");
        return 1;
    }
    return 0;
}

std::int32_t get_power_spectrum(const double *signal, double *power, COMPLEX *work, const std::uint32_t *index,
                                std::uint32_t n, const TwiddleTable &forward_table, double factor)
{
    bool listed = false;
    for (std::uint32_t size : FFT_SIZES) listed = listed || size == n;
    if (!listed) {
        say("error parametrs func:'get_power_spectrum'\n");
        return 1;
    }
    bool split = false;
    if (forward(signal, work, index, n, forward_table, "error_sortand_cast", true, &split) != 0) return 1;
    // The 1/N of the scaled transform is applied in double precision to the
    // lines that are used, as get_FFT would.
#if defined(__x86_64__)
    if (split) {
        if (split_line_powers_avx512(&work->re, power, n / 2, reciprocal(n), factor)) return 0;
        say("\nerror type (func 'get_amplitude_spectrum')(DBL_MAX)");
        return 1;
    }
#endif
    return line_powers(work, power, n / 2, reciprocal(n), factor);
}

VELUMAR_TARGET_CLONES("avx512f", "avx2", "default")
void multiply_arrays(double *x, const double *w, std::uint32_t n)
{
    for (std::uint32_t i = 0; i < n; ++i) x[i] *= w[i];
}

} // namespace velumar::model
