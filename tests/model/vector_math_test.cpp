#include "vector_math.h"
#include "support.h"

#include <bit>
#include <cfloat>
#include <cmath>
#include <limits>
#include <vector>

namespace {

using namespace velumar::model;

// Distance in units in the last place between two doubles of one sign.
double ulps(double a, double b)
{
    if (a == b || (std::isnan(a) && std::isnan(b))) return 0.0;
    if (std::signbit(a) != std::signbit(b)) return std::numeric_limits<double>::infinity();
    return std::fabs(static_cast<double>(std::bit_cast<std::int64_t>(a) - std::bit_cast<std::int64_t>(b)));
}

TEST(VectorMath, LogAndExpStayWithinOneUlpOfTheStandardLibrary)
{
    velumar::test::Random random(5);
    std::vector<double> x(200000), y(x.size());
    // Logarithms across the whole normal range; exponentials across the
    // range whose results are normal, and of the small arguments the model
    // mostly feeds them.
    for (double &v : x) v = std::exp(705.0 * random.uniform()) * (1.0 + 0.5 * random.uniform());
    log_array(x.data(), y.data(), static_cast<std::uint32_t>(x.size()));
    for (std::size_t i = 0; i < x.size(); ++i) ASSERT_LE(ulps(y[i], std::log(x[i])), 1.0) << x[i];
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = i % 2 ? 708.0 * random.uniform() : 2.0 * random.uniform();
    exp_array(x.data(), y.data(), static_cast<std::uint32_t>(x.size()));
    for (std::size_t i = 0; i < x.size(); ++i) ASSERT_LE(ulps(y[i], std::exp(x[i])), 1.0) << x[i];
}

TEST(VectorMath, ArgumentsOutsideThePlainRangeGiveTheStandardResults)
{
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    const std::vector<double> logs = {0.0, -0.0, -1.0, inf, -inf, nan, 5e-324, DBL_MIN, DBL_MAX, 1.0};
    std::vector<double> y(logs.size());
    log_array(logs.data(), y.data(), static_cast<std::uint32_t>(logs.size()));
    for (std::size_t i = 0; i < logs.size(); ++i) EXPECT_EQ(ulps(y[i], std::log(logs[i])), 0.0) << logs[i];
    const std::vector<double> exps = {0.0, -0.0, 709.78, 710.0, -708.5, -745.0, -746.0, inf, -inf, nan};
    y.resize(exps.size());
    exp_array(exps.data(), y.data(), static_cast<std::uint32_t>(exps.size()));
    for (std::size_t i = 0; i < exps.size(); ++i) EXPECT_EQ(ulps(y[i], std::exp(exps[i])), 0.0) << exps[i];
    // One such argument inside a long plain array: it alone is recomputed,
    // wherever the vector loop meets it, and its neighbours keep theirs.
    for (const bool log : {true, false}) {
        const auto array = log ? log_array : exp_array;
        std::vector<double> plain(37, 0.75), expected(plain.size()), out(plain.size());
        array(plain.data(), expected.data(), static_cast<std::uint32_t>(plain.size()));
        for (const double special : log ? logs : exps)
            for (const std::size_t at : {0u, 21u, 36u}) {
                std::vector<double> in = plain;
                in[at] = special;
                array(in.data(), out.data(), static_cast<std::uint32_t>(in.size()));
                for (std::size_t i = 0; i < in.size(); ++i)
                    ASSERT_EQ(ulps(out[i], i == at ? (log ? std::log(special) : std::exp(special)) : expected[i]), 0.0)
                        << special << " at " << at;
            }
    }
}

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

// The frame input's kernels on every vector width the machine has, against
// the plain form: each value windowed with one rounding, and the energies
// (when asked for) the exact integer sums of the squares, whatever the
// length (vector body, tail, both) and the alignment of the samples.
TEST(VectorMath, WindowedSamplesAndTheirEnergyMatchThePlainFormOnEveryWidth)
{
    velumar::test::Random random(9);
    std::vector<std::int16_t> samples(2 * 2100 + 1);
    for (auto &v : samples) v = static_cast<std::int16_t>(random.next());
    for (std::size_t i = 0; i < 40; ++i) samples[i] = i % 3 == 0 ? -32768 : i % 3 == 1 ? 32767 : 0;
    std::vector<double> w(2100);
    for (double &v : w) v = 1.7 * random.uniform();
    w[3] = -0.0;
    w[5] = 5e-324;
    w[9] = 1e300;
    for (const std::uint32_t width : {8u, 4u, 1u}) {
        velumar_limit_vector_doubles(width);
        for (const std::uint32_t n : {0u, 1u, 3u, 7u, 8u, 15u, 16u, 17u, 1023u, 2048u, 2100u}) {
            for (const std::size_t offset : {0u, 1u}) {
                const std::int16_t *in = samples.data() + offset;
                std::vector<double> out(n + 1, 7.0), first(n + 1, 7.0), second(n + 1, 7.0);
                const bool sum = (n + offset) % 2 == 0;  // both forms of each path
                const double energy = window_samples(in, w.data(), out.data(), n, sum);
                const PairEnergy pair = window_sample_pairs(in, w.data(), first.data(), second.data(), n, sum);
                std::int64_t e = 0, e1 = 0, e2 = 0;
                for (std::uint32_t i = 0; i < n; ++i) {
                    ASSERT_EQ(bits(out[i]), bits(static_cast<double>(in[i]) * w[i])) << width << " " << n << " " << i;
                    ASSERT_EQ(bits(first[i]), bits(static_cast<double>(in[2 * i]) * w[i])) << width << " " << n;
                    ASSERT_EQ(bits(second[i]), bits(static_cast<double>(in[2 * i + 1]) * w[i])) << width << " " << n;
                    e += std::int64_t{in[i]} * in[i];
                    e1 += std::int64_t{in[2 * i]} * in[2 * i];
                    e2 += std::int64_t{in[2 * i + 1]} * in[2 * i + 1];
                }
                EXPECT_EQ(energy, sum ? static_cast<double>(e) : 0.0) << width << " " << n;
                EXPECT_EQ(pair.first, sum ? static_cast<double>(e1) : 0.0) << width << " " << n;
                EXPECT_EQ(pair.second, sum ? static_cast<double>(e2) : 0.0) << width << " " << n;
                // Nothing written past the end.
                EXPECT_EQ(out[n], 7.0);
                EXPECT_EQ(first[n], 7.0);
                EXPECT_EQ(second[n], 7.0);
            }
        }
    }
    velumar_limit_vector_doubles(8);
}

} // namespace
