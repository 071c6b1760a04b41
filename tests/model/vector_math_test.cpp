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

} // namespace
