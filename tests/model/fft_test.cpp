#include "fft.h"
#include "support.h"

#include <cmath>
#include <complex>
#include <cstring>
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
        std::vector<COMPLEX> fast(n), plain(n);
        ASSERT_EQ(get_FFT_unscaled(x.data(), fast.data(), plan.index.data(), n, plan.fwd()), 0);
        sort_and_cast(x.data(), plain.data(), plan.index.data(), n);
        for (std::uint32_t span = 2; span <= n; span *= 2)
            for (std::uint32_t start = 0; start < n; start += span) FFT_butterflies(span, start, plain.data(), plan.fwd());
        velumar_limit_fft_width(4);
        for (std::uint32_t k = 0; k < n; ++k) {
            ASSERT_TRUE(same_bits(fast[k].re, plain[k].re)) << n << ":" << k << " width " << width << " kind " << kind;
            ASSERT_TRUE(same_bits(fast[k].im, plain[k].im)) << n << ":" << k << " width " << width << " kind " << kind;
        }
        // The inverse runs its stages the same way.
        std::vector<double> back_fast(n), back_plain(n);
        std::vector<COMPLEX> work(n);
        velumar_limit_fft_width(width);
        get_IFFT(fast.data(), back_fast.data(), work.data(), plan.index.data(), n, plan.inv());
        velumar_limit_fft_width(1);
        get_IFFT(fast.data(), back_plain.data(), work.data(), plan.index.data(), n, plan.inv());
        velumar_limit_fft_width(4);
        for (std::uint32_t k = 0; k < n; ++k)
            ASSERT_TRUE(same_bits(back_fast[k], back_plain[k])) << n << ":" << k << " width " << width << " kind " << kind;
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

} // namespace
