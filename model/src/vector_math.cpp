#include "vector_math.h"

#include "dispatch.h"

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>

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

VELUMAR_TARGET_CLONES("avx512f", "avx2", "default")
void widen_samples(const std::int16_t *in, double *out, std::uint32_t n)
{
    for (std::uint32_t i = 0; i < n; ++i) out[i] = in[i];
}

VELUMAR_TARGET_CLONES("avx512f", "avx2", "default")
void split_sample_pairs(const std::int16_t *in, double *first, double *second, std::uint32_t pairs)
{
    // A 64-bit index: with a 32-bit one, 2 i could wrap, and the loop
    // would not be vectorised.
    for (std::size_t i = 0; i < pairs; ++i) {
        first[i] = in[2 * i];
        second[i] = in[2 * i + 1];
    }
}

} // namespace velumar::model
