#include "vector_math.h"

#include "dispatch.h"

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>

#if defined(__x86_64__)
#include <immintrin.h>
#endif
#if defined(VELUMAR_TEST_HOOKS)
#include <algorithm>
#include <atomic>
#endif

namespace velumar::model {
namespace {

// ln 2 split so that k * kLn2Hi is exact for every exponent k.
constexpr double kLn2Hi = 6.93147180369123816490e-01;
constexpr double kLn2Lo = 1.90821492927058770002e-10;

// ln(1 + f) = f - f^2/2 + s (f^2/2 + R(s^2)), s = f / (2 + f).
constexpr double kLg1 = 6.666666666666735130e-01;
constexpr double kLg2 = 3.999999999940941908e-01;
constexpr double kLg3 = 2.857142874366239149e-01;
constexpr double kLg4 = 2.222219843214978396e-01;
constexpr double kLg5 = 1.818357216161805012e-01;
constexpr double kLg6 = 1.531383769920937332e-01;
constexpr double kLg7 = 1.479819860511658591e-01;

// e^r = 1 + r + r c / (2 - c), c = r - r^2 P(r^2), |r| <= ln2 / 2.
constexpr double kP1 = 1.66666666666666019037e-01;
constexpr double kP2 = -2.77777777770155933842e-03;
constexpr double kP3 = 6.61375632143793436117e-05;
constexpr double kP4 = -1.65339022054652515390e-06;
constexpr double kP5 = 4.13813679705723846039e-08;
constexpr double kInvLn2 = 1.44269504088896338700e+00;

// Adding 1.5 * 2^52 rounds a double of magnitude below 2^51 to an integer
// held in the low bits of the sum; subtracting it again gives that integer
// as a double. Both are exact in round-to-nearest.
constexpr double kRoundShift = 6755399441055744.0;

// An exponent k (|k| < 2^31) as a double, by the same device: exact and
// free of int-to-double conversions, which not every vector unit has.
inline double exponent_to_double(std::int64_t k)
{
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(kRoundShift) + static_cast<std::uint64_t>(k)) -
           kRoundShift;
}

// Normal, positive and finite: the range the reduction below handles.
inline bool plain_log_argument(double x) { return x >= DBL_MIN && x <= DBL_MAX; }

// The same test on the bits, where it is one unsigned comparison that
// every vector unit does: below DBL_MIN, zero and the negative numbers
// wrap around to the top of the range, infinities and NaN lie above.
inline bool outside_plain_log_range(std::uint64_t bits)
{
    constexpr std::uint64_t kMin = 0x0010000000000000;  // DBL_MIN
    constexpr std::uint64_t kMax = 0x7fefffffffffffff;  // DBL_MAX
    return bits - kMin > kMax - kMin;
}

// Results of e^x in this range are normal and finite. Both comparisons
// are made (no short circuit), so that the loops stay free of branches.
inline bool plain_exp_argument(double x) { return (x >= -708.0) & (x <= 709.0); }

} // namespace

VELUMAR_TARGET_CLONES("avx512f", "avx2", "default")
void log_array(const double *x, double *y, std::uint32_t n)
{
    // Whether any argument needs the standard library, found in the same
    // vector pass, so that the usual all-plain array costs no second one.
    std::uint64_t outside = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        // x = 2^k m with m in [sqrt(2)/2, sqrt(2)): shift the mantissa's
        // high word so that the exponent field carries the rounding.
        const std::uint64_t bits = std::bit_cast<std::uint64_t>(x[i]);
        outside |= outside_plain_log_range(bits) ? 1 : 0;
        const std::uint64_t high = (bits >> 32) + (0x3ff00000 - 0x3fe6a09e);
        const std::int64_t k = static_cast<std::int64_t>(high >> 20) - 0x3ff;
        const std::uint64_t m_bits = ((((high & 0x000fffff) + 0x3fe6a09e)) << 32) | (bits & 0xffffffff);
        const double f = std::bit_cast<double>(m_bits) - 1.0;
        const double half_f2 = 0.5 * f * f;
        const double s = f / (2.0 + f);
        const double z = s * s;
        const double w = z * z;
        const double t1 = w * (kLg2 + w * (kLg4 + w * kLg6));
        const double t2 = z * (kLg1 + w * (kLg3 + w * (kLg5 + w * kLg7)));
        const double r = t2 + t1;
        const double dk = exponent_to_double(k);
        y[i] = dk * kLn2Hi - ((half_f2 - (s * (half_f2 + r) + dk * kLn2Lo)) - f);
    }
    if (outside == 0) return;
    for (std::uint32_t i = 0; i < n; ++i)
        if (!plain_log_argument(x[i])) y[i] = std::log(x[i]);
}

VELUMAR_TARGET_CLONES("avx512f", "avx2", "default")
void exp_array(const double *x, double *y, std::uint32_t n)
{
    std::uint64_t outside = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        // Arguments outside the plain range go through the same steps (all
        // of them defined for any double; the result is recomputed below):
        // no lane differs in its work, so the loop needs no masked
        // operations and vectorises on every target.
        const double v = x[i];
        outside |= plain_exp_argument(v) ? 0 : 1;
        // x = k ln2 + r, |r| <= ln2 / 2, with r carried as hi - lo.
        const double kd = (v * kInvLn2 + kRoundShift) - kRoundShift;
        const double hi = v - kd * kLn2Hi;
        const double lo = kd * kLn2Lo;
        const double r = hi - lo;
        const double r2 = r * r;
        const double c = r - r2 * (kP1 + r2 * (kP2 + r2 * (kP3 + r2 * (kP4 + r2 * kP5))));
        const double e_r = 1.0 - ((lo - (r * c) / (2.0 - c)) - hi);
        // Scale by 2^k through the exponent field; k fits because the
        // argument is in the plain range.
        const auto k = static_cast<std::int64_t>(std::bit_cast<std::uint64_t>(kd + kRoundShift) -
                                                 std::bit_cast<std::uint64_t>(kRoundShift));
        y[i] = std::bit_cast<double>(std::bit_cast<std::uint64_t>(e_r) + (static_cast<std::uint64_t>(k) << 52));
    }
    if (outside == 0) return;
    for (std::uint32_t i = 0; i < n; ++i)
        if (!plain_exp_argument(x[i])) y[i] = std::exp(x[i]);
}

#if defined(VELUMAR_TEST_HOOKS)
namespace {
std::atomic<std::uint32_t> g_vector_doubles_limit{8};
}
#endif

std::uint32_t vector_doubles()
{
#if defined(__x86_64__)
    static const std::uint32_t width = __builtin_cpu_supports("avx512f") ? 8 : __builtin_cpu_supports("avx2") ? 4 : 1;
#else
    constexpr std::uint32_t width = 1;
#endif
#if defined(VELUMAR_TEST_HOOKS)
    return std::min(width, g_vector_doubles_limit.load());
#else
    return width;
#endif
}

// The frame input: each sample is widened (exact) and multiplied by its
// window value, one rounding, as multiplying the widened frame by the window
// would give. The squares of the samples themselves are summed on the side,
// on as many lanes as the vector unit has. Squares of 16-bit values are
// integers of at most 2^30, and sums of fewer than 2^23 of them stay below
// 2^53: every partial sum is exact, and the total is the same integer in
// any order of summing.
namespace {

// The plain forms, which also finish what the vector forms leave: positions
// from i on.
template <bool Sum>
double window_samples_from(std::size_t i, const std::int16_t *in, const double *w, double *out, std::uint32_t n)
{
    double energy = 0.0;
    for (; i < n; ++i) {
        const double v = in[i];
        out[i] = v * w[i];
        if constexpr (Sum) energy += v * v;
    }
    return energy;
}

template <bool Sum>
PairEnergy window_sample_pairs_from(std::size_t i, const std::int16_t *in, const double *w, double *first,
                                    double *second, std::uint32_t pairs)
{
    PairEnergy energy{0.0, 0.0};
    for (; i < pairs; ++i) {
        const double a = in[2 * i];
        const double b = in[2 * i + 1];
        first[i] = a * w[i];
        second[i] = b * w[i];
        if constexpr (Sum) energy.first += a * a;
        if constexpr (Sum) energy.second += b * b;
    }
    return energy;
}

#if defined(__x86_64__)

VELUMAR_INTRINSICS_BEGIN

__attribute__((target("avx512f"))) double sum_lanes(__m512d a, __m512d b)
{
    alignas(64) double lanes[16];
    _mm512_store_pd(lanes, a);
    _mm512_store_pd(lanes + 8, b);
    double sum = 0.0;
    for (double v : lanes) sum += v;
    return sum;
}

__attribute__((target("avx2"))) double sum_lanes(__m256d a, __m256d b)
{
    alignas(32) double lanes[8];
    _mm256_store_pd(lanes, a);
    _mm256_store_pd(lanes + 4, b);
    double sum = 0.0;
    for (double v : lanes) sum += v;
    return sum;
}

template <bool Sum>
__attribute__((target("avx512f"))) double window_samples_avx512(const std::int16_t *in, const double *w, double *out,
                                                                std::uint32_t n)
{
    __m512d e0 = _mm512_setzero_pd(), e1 = _mm512_setzero_pd();
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m512i v = _mm512_cvtepi16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + i)));
        const __m512d lo = _mm512_cvtepi32_pd(_mm512_castsi512_si256(v));
        const __m512d hi = _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(v, 1));
        _mm512_storeu_pd(out + i, _mm512_mul_pd(lo, _mm512_loadu_pd(w + i)));
        _mm512_storeu_pd(out + i + 8, _mm512_mul_pd(hi, _mm512_loadu_pd(w + i + 8)));
        if constexpr (Sum) e0 = _mm512_add_pd(e0, _mm512_mul_pd(lo, lo));
        if constexpr (Sum) e1 = _mm512_add_pd(e1, _mm512_mul_pd(hi, hi));
    }
    return sum_lanes(e0, e1) + window_samples_from<Sum>(i, in, w, out, n);
}

template <bool Sum>
__attribute__((target("avx2"))) double window_samples_avx2(const std::int16_t *in, const double *w, double *out,
                                                           std::uint32_t n)
{
    __m256d e0 = _mm256_setzero_pd(), e1 = _mm256_setzero_pd();
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i v = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i)));
        const __m256d lo = _mm256_cvtepi32_pd(_mm256_castsi256_si128(v));
        const __m256d hi = _mm256_cvtepi32_pd(_mm256_extracti128_si256(v, 1));
        _mm256_storeu_pd(out + i, _mm256_mul_pd(lo, _mm256_loadu_pd(w + i)));
        _mm256_storeu_pd(out + i + 4, _mm256_mul_pd(hi, _mm256_loadu_pd(w + i + 4)));
        if constexpr (Sum) e0 = _mm256_add_pd(e0, _mm256_mul_pd(lo, lo));
        if constexpr (Sum) e1 = _mm256_add_pd(e1, _mm256_mul_pd(hi, hi));
    }
    return sum_lanes(e0, e1) + window_samples_from<Sum>(i, in, w, out, n);
}

// A pair is one 32-bit lane: the first sample in its low half, the second
// in its high half. Arithmetic shifts take each out sign-extended.
template <bool Sum>
__attribute__((target("avx512f"))) PairEnergy window_sample_pairs_avx512(const std::int16_t *in, const double *w,
                                                                         double *first, double *second,
                                                                         std::uint32_t pairs)
{
    __m512d ea = _mm512_setzero_pd(), eb = _mm512_setzero_pd();
    std::size_t i = 0;
    for (; i + 8 <= pairs; i += 8) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + 2 * i));
        const __m512d a = _mm512_cvtepi32_pd(_mm256_srai_epi32(_mm256_slli_epi32(v, 16), 16));
        const __m512d b = _mm512_cvtepi32_pd(_mm256_srai_epi32(v, 16));
        const __m512d wv = _mm512_loadu_pd(w + i);
        _mm512_storeu_pd(first + i, _mm512_mul_pd(a, wv));
        _mm512_storeu_pd(second + i, _mm512_mul_pd(b, wv));
        if constexpr (Sum) ea = _mm512_add_pd(ea, _mm512_mul_pd(a, a));
        if constexpr (Sum) eb = _mm512_add_pd(eb, _mm512_mul_pd(b, b));
    }
    PairEnergy rest = window_sample_pairs_from<Sum>(i, in, w, first, second, pairs);
    const __m512d zero = _mm512_setzero_pd();
    return {sum_lanes(ea, zero) + rest.first, sum_lanes(eb, zero) + rest.second};
}

template <bool Sum>
__attribute__((target("avx2"))) PairEnergy window_sample_pairs_avx2(const std::int16_t *in, const double *w,
                                                                    double *first, double *second,
                                                                    std::uint32_t pairs)
{
    __m256d ea0 = _mm256_setzero_pd(), ea1 = _mm256_setzero_pd();
    __m256d eb0 = _mm256_setzero_pd(), eb1 = _mm256_setzero_pd();
    std::size_t i = 0;
    for (; i + 8 <= pairs; i += 8) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + 2 * i));
        const __m256i a = _mm256_srai_epi32(_mm256_slli_epi32(v, 16), 16);
        const __m256i b = _mm256_srai_epi32(v, 16);
        const __m256d a0 = _mm256_cvtepi32_pd(_mm256_castsi256_si128(a));
        const __m256d a1 = _mm256_cvtepi32_pd(_mm256_extracti128_si256(a, 1));
        const __m256d b0 = _mm256_cvtepi32_pd(_mm256_castsi256_si128(b));
        const __m256d b1 = _mm256_cvtepi32_pd(_mm256_extracti128_si256(b, 1));
        const __m256d w0 = _mm256_loadu_pd(w + i), w1 = _mm256_loadu_pd(w + i + 4);
        _mm256_storeu_pd(first + i, _mm256_mul_pd(a0, w0));
        _mm256_storeu_pd(first + i + 4, _mm256_mul_pd(a1, w1));
        _mm256_storeu_pd(second + i, _mm256_mul_pd(b0, w0));
        _mm256_storeu_pd(second + i + 4, _mm256_mul_pd(b1, w1));
        if constexpr (Sum) {
            ea0 = _mm256_add_pd(ea0, _mm256_mul_pd(a0, a0));
            ea1 = _mm256_add_pd(ea1, _mm256_mul_pd(a1, a1));
            eb0 = _mm256_add_pd(eb0, _mm256_mul_pd(b0, b0));
            eb1 = _mm256_add_pd(eb1, _mm256_mul_pd(b1, b1));
        }
    }
    PairEnergy rest = window_sample_pairs_from<Sum>(i, in, w, first, second, pairs);
    return {sum_lanes(ea0, ea1) + rest.first, sum_lanes(eb0, eb1) + rest.second};
}

VELUMAR_INTRINSICS_END

#endif

} // namespace

double window_samples(const std::int16_t *in, const double *w, double *out, std::uint32_t n, bool sum_squares)
{
#if defined(__x86_64__)
    const std::uint32_t width = vector_doubles();
    if (width >= 8)
        return sum_squares ? window_samples_avx512<true>(in, w, out, n) : window_samples_avx512<false>(in, w, out, n);
    if (width >= 4)
        return sum_squares ? window_samples_avx2<true>(in, w, out, n) : window_samples_avx2<false>(in, w, out, n);
#endif
    return sum_squares ? window_samples_from<true>(0, in, w, out, n) : window_samples_from<false>(0, in, w, out, n);
}

PairEnergy window_sample_pairs(const std::int16_t *in, const double *w, double *first, double *second,
                               std::uint32_t pairs, bool sum_squares)
{
#if defined(__x86_64__)
    const std::uint32_t width = vector_doubles();
    if (width >= 8)
        return sum_squares ? window_sample_pairs_avx512<true>(in, w, first, second, pairs)
                           : window_sample_pairs_avx512<false>(in, w, first, second, pairs);
    if (width >= 4)
        return sum_squares ? window_sample_pairs_avx2<true>(in, w, first, second, pairs)
                           : window_sample_pairs_avx2<false>(in, w, first, second, pairs);
#endif
    return sum_squares ? window_sample_pairs_from<true>(0, in, w, first, second, pairs)
                       : window_sample_pairs_from<false>(0, in, w, first, second, pairs);
}

} // namespace velumar::model

#if defined(VELUMAR_TEST_HOOKS)
extern "C" void velumar_limit_vector_doubles(std::uint32_t doubles_per_instruction)
{
    velumar::model::g_vector_doubles_limit = doubles_per_instruction;
}
#endif
