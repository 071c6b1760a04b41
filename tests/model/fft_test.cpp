#include "fft.h"
#include "support.h"

#include <bit>
#include <cmath>
#include <complex>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace velumar::model;
using velumar::test::Random;
using velumar::test::stdout_of;

struct Plan {
    std::vector<std::uint32_t> index;
    std::vector<TWIDDLE> forward, inverse;
    explicit Plan(std::uint32_t n)
        : index(n), forward(twiddle_table_length(2048)), inverse(twiddle_table_length(2048))
    {
        EXPECT_EQ(get_index_for_FFT(index.data(), n), 0);
        fill_twiddle_table(forward.data(), 2048, false);
        fill_twiddle_table(inverse.data(), 2048, true);
    }
    TwiddleTable fwd() const { return {forward.data(), static_cast<std::uint32_t>(forward.size())}; }
    TwiddleTable inv() const { return {inverse.data(), static_cast<std::uint32_t>(inverse.size())}; }
};

// Direct O(N^2) transform in extended precision.
std::vector<std::complex<long double>> dft(const std::vector<double> &x, int sign)
{
    const std::size_t n = x.size();
    std::vector<std::complex<long double>> out(n);
    for (std::size_t k = 0; k < n; ++k)
        for (std::size_t j = 0; j < n; ++j) {
            const long double a = sign * 2.0L * 3.14159265358979323846264338327950288L * ((k * j) % n) / n;
            out[k] += std::complex<long double>(std::cos(a), std::sin(a)) * static_cast<long double>(x[j]);
        }
    return out;
}

TEST(Fft, IndexTableIsTheBitReversalAndTwiddlesRoundFromTheDoubleTwoPi)
{
    std::vector<std::uint32_t> eight(8);
    ASSERT_EQ(get_index_for_FFT(eight.data(), 8), 0);
    EXPECT_EQ(eight, (std::vector<std::uint32_t>{0, 4, 2, 6, 1, 5, 3, 7}));
    std::vector<std::uint32_t> huge(65536);
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(get_index_for_FFT(huge.data(), 65536), 1); }), "quantity>16");

    // Single precision, from an angle formed in extended precision out of
    // the double value of 2 pi. Near the zero crossings that choice shows.
    const long double two_pi = 6.283185307179586;
    EXPECT_EQ(get_twiddle(512, 2048).re, static_cast<float>(std::cos(-two_pi * 512 / 2048)));
    EXPECT_NE(get_twiddle(512, 2048).re, static_cast<float>(std::cos(-6.283185307179586L * 512 / 2048)));
    EXPECT_EQ(get_twiddle(1, 2048).im, static_cast<float>(std::sin(-two_pi / 2048)));
    EXPECT_EQ(get_inverse_twiddle(3, 512).im, static_cast<float>(std::sin(two_pi * 3 / 512)));
}

TEST(Fft, ForwardAndInverseAgreeWithTheDirectTransform)
{
    Random random(42);
    for (std::uint32_t n : {8u, 256u, 512u, 2048u}) {
        const Plan plan(n);
        std::vector<double> x(n);
        double magnitude = 0.0;
        for (double &v : x) {
            v = 30000.0 * random.uniform();
            magnitude += std::fabs(v);
        }
        std::vector<COMPLEX> scaled(n), unscaled(n), work(n);
        ASSERT_EQ(get_FFT(x.data(), scaled.data(), plan.index.data(), n, plan.fwd()), 0);
        ASSERT_EQ(get_FFT_unscaled(x.data(), unscaled.data(), plan.index.data(), n, plan.fwd()), 0);
        const auto reference = dft(x, -1);
        // Each twiddle is off by up to 2^-24 relative; an output passes
        // through log2(n) rotations, each of which can add that much of
        // the sum of magnitudes.
        const double tolerance = std::log2(n) * std::ldexp(1.0, -23) * magnitude;
        for (std::uint32_t k = 0; k < n; ++k) {
            EXPECT_NEAR(unscaled[k].re, static_cast<double>(reference[k].real()), tolerance) << n << ":" << k;
            EXPECT_NEAR(unscaled[k].im, static_cast<double>(reference[k].imag()), tolerance) << n << ":" << k;
            EXPECT_EQ(scaled[k].re, unscaled[k].re / n);
            EXPECT_EQ(scaled[k].im, unscaled[k].im / n);
        }
        // The inverse divides by N too: inverse(forward(x)) = x / N.
        std::vector<double> back(n);
        ASSERT_EQ(get_IFFT(scaled.data(), back.data(), work.data(), plan.index.data(), n, plan.inv()), 0);
        for (std::uint32_t i = 0; i < n; ++i) EXPECT_NEAR(back[i], x[i] / n, tolerance / n / n) << n << ":" << i;
    }
}

// Same value to the last bit, the sign of a zero included.
bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The forward transform through the plain butterflies, block by block.
std::vector<COMPLEX> plain_transform(const std::vector<double> &x, const Plan &plan)
{
    const auto n = static_cast<std::uint32_t>(x.size());
    std::vector<COMPLEX> out(n);
    sort_and_cast(x.data(), out.data(), plan.index.data(), n);
    for (std::uint32_t span = 2; span <= n; span *= 2)
        for (std::uint32_t start = 0; start < n; start += span) FFT_butterflies(span, start, out.data(), plan.fwd());
    return out;
}

TEST(Fft, WholeStagesGiveExactlyWhatTheBlockByBlockButterfliesGive)
{
    // Stages may run on wide registers; every value must still be the one
    // the plain butterflies compute, at every width the machine offers:
    // on plain samples, on signed zeros and subnormals only (silence and
    // its dither), and near the top of the range; compared bit for bit.
    Random random(9);
    const double edges[] = {0.0, -0.0, 5e-324, -1e-310};
    for (int kind = 0; kind < 3; ++kind)
    for (std::uint32_t width : {4u, 2u, 1u})
    for (std::uint32_t n : {2u, 4u, 8u, 16u, 32u, 64u, 128u, 256u, 512u, 1024u, 2048u}) {
        velumar_limit_fft_width(width);
        const Plan plan(n);
        std::vector<double> x(n);
        for (std::uint32_t i = 0; i < n; ++i) {
            x[i] = (kind == 2 ? 1e300 : 32768.0) * random.uniform();
            if (kind == 1) x[i] = edges[(i * i + i / 4) % 4];
        }
        std::vector<COMPLEX> fast(n);
        ASSERT_EQ(get_FFT_unscaled(x.data(), fast.data(), plan.index.data(), n, plan.fwd()), 0);
        std::vector<COMPLEX> plain = plain_transform(x, plan);
        // The power spectrum forms only the lower half in its last stage
        // (near the top of the range both refuse the same line).
        std::vector<double> power(n / 2, -1.0), plain_power(n / 2, -1.0);
        std::vector<COMPLEX> scratch(n);
        std::int32_t code = 0, plain_code = 0;
        stdout_of([&] {
            code = get_power_spectrum(x.data(), power.data(), scratch.data(), plan.index.data(), n, plan.fwd(), 3.0);
            plain_code = line_powers(plain.data(), plain_power.data(), n / 2, 1.0 / n, 3.0);
        });
        ASSERT_EQ(code, plain_code);
        velumar_limit_fft_width(4);
        for (std::uint32_t k = 0; k < n; ++k) {
            ASSERT_TRUE(same_bits(fast[k].re, plain[k].re)) << n << ":" << k << " width " << width << " kind " << kind;
            ASSERT_TRUE(same_bits(fast[k].im, plain[k].im)) << n << ":" << k << " width " << width << " kind " << kind;
            if (k < n / 2) {
                ASSERT_TRUE(same_bits(power[k], plain_power[k])) << n << ":" << k << " width " << width;
            }
        }
        // The inverse runs its stages the same way; on two butterflies per
        // instruction its work array holds the whole unscaled transform,
        // imaginary parts included (on four, the last pass forms only the
        // real parts). Forward lines never have an imaginary -0, so the
        // silent kind feeds it signed zeros and subnormals in both parts.
        if (kind == 1)
            for (std::uint32_t k = 0; k < n; ++k) fast[k] = {edges[k * 7 / 3 % 4], edges[(k * k + k / 8) % 4]};
        std::vector<double> back_fast(n), back_plain(n);
        std::vector<COMPLEX> work_fast(n), work_plain(n);
        velumar_limit_fft_width(width);
        get_IFFT(fast.data(), back_fast.data(), work_fast.data(), plan.index.data(), n, plan.inv());
        velumar_limit_fft_width(1);
        get_IFFT(fast.data(), back_plain.data(), work_plain.data(), plan.index.data(), n, plan.inv());
        velumar_limit_fft_width(4);
        for (std::uint32_t k = 0; k < n; ++k) {
            ASSERT_TRUE(same_bits(back_fast[k], back_plain[k])) << n << ":" << k << " width " << width << " kind " << kind;
            if (width == 2) {
                ASSERT_TRUE(same_bits(work_fast[k].im, work_plain[k].im)) << n << ":" << k << " kind " << kind;
            }
        }
    }
    // Quiet lines whose zeros (negative where the bit is set) carry an
    // imaginary -0 into value 31 of the last stage, where the upper butterfly's
    // two products are zeros of opposite signs: -r - s is +0 there, -(r + s)
    // would be -0. Only the pass that keeps the imaginary parts shows it.
    const std::uint64_t negative_re = 0x555500000000, negative_im = 0x5555;
    const Plan plan(64);
    std::vector<COMPLEX> lines(64), work_fast(64), work_plain(64);
    std::vector<double> back(64);
    for (std::uint32_t k = 0; k < 64; ++k)
        lines[k] = {(negative_re >> k & 1) != 0 ? -0.0 : 0.0, (negative_im >> k & 1) != 0 ? -0.0 : 0.0};
    velumar_limit_fft_width(1);
    get_IFFT(lines.data(), back.data(), work_plain.data(), plan.index.data(), 64, plan.inv());
    velumar_limit_fft_width(2);
    get_IFFT(lines.data(), back.data(), work_fast.data(), plan.index.data(), 64, plan.inv());
    for (std::uint32_t k = 0; k < 64; ++k) EXPECT_TRUE(same_bits(work_fast[k].im, work_plain[k].im)) << k;
    velumar_limit_fft_width(4);
    // A sample that is infinite or not a number, at any place, spreads as
    // through the plain butterflies: a line is NaN where theirs is, any
    // other line has their bits.
    for (double bad : {HUGE_VAL, -HUGE_VAL, std::nan("")})
        for (std::uint32_t at = 0; at < 64; ++at) {
            std::vector<double> x(64);
            for (std::uint32_t i = 0; i < 64; ++i) x[i] = i == at ? bad : i % 3 == 0 ? -0.0 : random.uniform();
            std::vector<COMPLEX> fast(64);
            ASSERT_EQ(get_FFT_unscaled(x.data(), fast.data(), plan.index.data(), 64, plan.fwd()), 0);
            const std::vector<COMPLEX> plain = plain_transform(x, plan);
            const auto same = [](double a, double b) { return same_bits(a, b) || (std::isnan(a) && std::isnan(b)); };
            for (std::uint32_t k = 0; k < 64; ++k)
                ASSERT_TRUE(same(fast[k].re, plain[k].re) && same(fast[k].im, plain[k].im)) << bad << " at " << at << ":" << k;
        }
}

TEST(Fft, PowerSpectrumRefusesBadLengthsAndUnrepresentablePowers)
{
    const Plan plan(4);
    std::vector<COMPLEX> work(4);
    std::vector<double> power(2, -1.0);
    const auto code = [&](double value, std::uint32_t n, std::string &out) {
        std::vector<double> x(4, value);
        std::int32_t result = -1;
        out = stdout_of([&] {
            result = get_power_spectrum(x.data(), power.data(), work.data(), plan.index.data(), n, plan.fwd());
        });
        return result;
    };
    std::string out;
    for (std::uint32_t n : {3u, 65536u, 0u}) {
        EXPECT_EQ(code(1.0, n, out), 1) << n;
        EXPECT_EQ(out, "error parametrs func:'get_power_spectrum'\n") << n;
    }
    for (double bad : {1e200, std::nan("")}) {
        EXPECT_EQ(code(bad, 4, out), 1) << bad;
        EXPECT_EQ(out, "\nerror type (func 'get_amplitude_spectrum')(DBL_MAX)") << bad;
    }
    // Just below the largest double the power is still accepted.
    EXPECT_EQ(code(1e154, 4, out), 0);
    EXPECT_DOUBLE_EQ(power[0], 1e308);
}

// The powers the spectra are defined by, formed the plain way.
double extended(COMPLEX line, double scale, double factor)
{
    const long double re = line.re * scale, im = line.im * scale;
    return static_cast<double>(re * re + im * im) * factor;
}

// Lines whose powers are hard to round: random parts of any size ratio,
// sums of squares built to sit on or within 2^-60 of a point halfway
// between doubles, zeros, subnormal, tiny and huge parts, and powers of two.
std::vector<COMPLEX> hard_lines()
{
    Random random(7);
    std::vector<COMPLEX> lines;
    const auto exponent = [&](int span) { return static_cast<int>(random.below(2 * span + 1)) - span; };
    for (int i = 0; i < 3000; ++i) {
        const int e = exponent(80);
        lines.push_back({std::ldexp(random.uniform(), e), std::ldexp(random.uniform(), e + exponent(70))});
    }
    for (int i = 0; i < 1500; ++i) {
        // An odd square between 2^53 and 2^54 is a midpoint; a small second
        // part just past it is lost when the square is rounded first.
        const double odd = 94906267.0 + 2.0 * random.below(20000000);
        const int e = exponent(60);
        lines.push_back({std::ldexp(odd, e), std::ldexp(random.below(2) != 0 ? 1.0 : -1.0, e - 9 - exponent(4))});
        lines.push_back({std::ldexp(odd, e), 0.0});
    }
    for (int i = 0; i < 3000; ++i) {
        // re^2 + im^2 = a midpoint + offset * midpoint, im^2 carrying the gap.
        const double re = std::ldexp(1.0 + 0.5 * (random.uniform() + 1.0), exponent(100));
        const __float128 square = static_cast<__float128>(re) * re;
        const double nearest = static_cast<double>(square);
        const double ulp = std::nextafter(nearest, HUGE_VAL) - nearest;
        const __float128 midpoint = static_cast<__float128>(nearest) + 1.5 * static_cast<__float128>(ulp);
        static const int kOffsets[] = {0, -58, -60, -62, -63, -64, -65, -66, -70, -80};
        const int shift = kOffsets[random.below(10)];
        const double offset = shift == 0 ? 0.0 : std::ldexp(random.uniform(), shift);
        const double gap = static_cast<double>(midpoint - square + offset * midpoint);
        lines.push_back({random.below(2) != 0 ? re : -re, std::sqrt(gap)});
    }
    const double edges[] = {0.0,     -0.0,     5e-324,  1e-310,  0x1p-1022, 0x1p-900,  0x1p-899, 0x1p-451,
                            0x1p-450, 0x1p-449, 1e-200, 1.0,     0.75,      0x1p449,   0x1p450,  0x1p451,
                            1e150,   9.4e153,  0x1.4p-538, 0x1p-540, 0x1p-537, 3e-170,   -2.5,     0x1.fffffffffffffp-1};
    // (0x1.4p-538 squared rounds to zero in double, twice it does not.)
    for (double re : edges)
        for (double im : edges) lines.push_back({re, im});
    lines.push_back({1.34e154, 1e-300});  // just below the largest double
    lines.push_back({-1e150, 1.34e154});
    return lines;
}

TEST(Fft, LinePowersAreTheExtendedPrecisionPowersToTheLastBit)
{
    // The vector paths take the double nearest the exact sum of squares
    // where that is provably the extended-precision result; the lines must
    // include some where the two differ, or the proof is not exercised.
    const std::vector<COMPLEX> lines = hard_lines();
    int nearest_differs = 0;
    for (COMPLEX z : lines) {
        const __float128 re = z.re, im = z.im;
        nearest_differs += static_cast<double>(re * re + im * im) != extended(z, 1.0, 1.0);
    }
    EXPECT_GT(nearest_differs, 100);

    const auto count = static_cast<std::uint32_t>(lines.size());
    std::vector<double> power(count);
    for (std::uint32_t width : {4u, 2u, 1u})
        for (double scale : {1.0, 1.0 / 2048})
            for (double factor : {1.0, 0.7123456789}) {
                velumar_limit_fft_width(width);
                ASSERT_EQ(line_powers(lines.data(), power.data(), count, scale, factor), 0);
                for (std::uint32_t k = 0; k < count; ++k)
                    ASSERT_EQ(power[k], extended(lines[k], scale, factor))
                        << k << ": " << lines[k].re << " " << lines[k].im << " width " << width;
                // Every tail length after the whole blocks.
                for (std::uint32_t n = 0; n < 20; ++n) {
                    std::vector<double> part(21, -1.0);
                    ASSERT_EQ(line_powers(lines.data() + 4500, part.data(), n, scale, factor), 0);
                    for (std::uint32_t k = 0; k < 21; ++k)
                        ASSERT_EQ(part[k], k < n ? extended(lines[4500 + k], scale, factor) : -1.0) << n << ":" << k;
                }
            }
    velumar_limit_fft_width(4);
}

TEST(Fft, LinePowersStopAtTheFirstPowerBeyondTheDoubles)
{
    // Whatever lane or tail line it falls in, a line whose power is not a
    // finite double stops the pass there: the lines below are written,
    // that one and those above are not.
    const std::vector<COMPLEX> good = hard_lines();
    const COMPLEX bad[] = {{std::nan(""), 1.0},
                           {1.0, -std::nan("")},
                           {std::bit_cast<double>(0x7FF0000000000001ull), 0.0},
                           {HUGE_VAL, 0.0},
                           {0.0, -HUGE_VAL},
                           {1e160, 1.0},
                           {1e154, 1e154}};
    for (std::uint32_t width : {4u, 2u, 1u}) {
        velumar_limit_fft_width(width);
        for (COMPLEX z : bad)
            for (std::uint32_t at = 0; at < 19; ++at) {
                std::vector<COMPLEX> lines(good.begin() + 4400, good.begin() + 4419);
                lines[at] = z;
                std::vector<double> power(19, -1.0);
                std::string out = stdout_of([&] { EXPECT_EQ(line_powers(lines.data(), power.data(), 19, 1.0, 1.0), 1); });
                EXPECT_EQ(out, "\nerror type (func 'get_amplitude_spectrum')(DBL_MAX)");
                for (std::uint32_t k = 0; k < 19; ++k)
                    ASSERT_EQ(power[k], k < at ? extended(lines[k], 1.0, 1.0) : -1.0) << at << ":" << k << " width " << width;
            }
    }
    velumar_limit_fft_width(4);
}

TEST(Fft, ConjugateProductsAreTheComplexProductsToTheSignOfZero)
{
    Random random(11);
    const double parts[] = {0.0, -0.0, 1.0, -1.0, 1e100, -3e-200};
    std::vector<COMPLEX> a(40), b(40);
    for (std::size_t k = 0; k < a.size(); ++k) {
        const bool fixed = k % 3 == 0;
        a[k] = {fixed ? parts[k % 6] : random.uniform(), fixed ? parts[(k / 6) % 6] : random.uniform()};
        b[k] = {fixed ? parts[(k + 2) % 6] : random.uniform(), fixed ? parts[(k / 2) % 6] : random.uniform()};
    }
    for (std::uint32_t width : {4u, 2u, 1u})
        for (std::uint32_t n : {0u, 1u, 2u, 3u, 5u, 8u, 11u, 40u}) {
            velumar_limit_fft_width(width);
            std::vector<COMPLEX> out = a;
            conjugate_products(out.data(), b.data(), n);
            for (std::uint32_t k = 0; k < a.size(); ++k) {
                const COMPLEX want = k < n ? complex_mul({a[k].re, -a[k].im}, b[k]) : a[k];
                ASSERT_EQ(std::bit_cast<std::uint64_t>(out[k].re), std::bit_cast<std::uint64_t>(want.re)) << k << " " << width;
                ASSERT_EQ(std::bit_cast<std::uint64_t>(out[k].im), std::bit_cast<std::uint64_t>(want.im)) << k << " " << width;
            }
        }
    velumar_limit_fft_width(4);
}

} // namespace
