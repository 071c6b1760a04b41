#include "fft.h"
#include "support.h"
#include "tables.h"

#include <cmath>
#include <vector>

namespace {

using namespace velumar::model;
using velumar::test::make_instance;

TEST(Tables, BandEdgesAndCentres)
{
    auto s = make_instance(false);
    EXPECT_DOUBLE_EQ(s->band_lower.data[0], 80.00000000000003);
    EXPECT_DOUBLE_EQ(s->band_upper.data[0], 103.44544743832324);
    EXPECT_DOUBLE_EQ(s->band_centre.data[0], 91.70810150320176);
    EXPECT_DOUBLE_EQ(s->band_lower.data[108], 17385.417495187132);
    EXPECT_EQ(s->band_upper.data[108], 18000.0);
    EXPECT_DOUBLE_EQ(s->band_centre.data[108], 17698.876779775237);
    for (std::uint32_t k = 0; k + 1 < 109; ++k) EXPECT_EQ(s->band_upper.data[k], s->band_lower.data[k + 1]) << k;
}

TEST(Tables, SpectralLinesAreSharedOutAmongTheBands)
{
    auto s = make_instance(false);
    const double res = 23.4375;
    const auto weight_of = [&](std::uint32_t band, std::uint32_t line) {
        const BAND_BINS &b = s->band_bins.data[band];
        for (std::uint32_t i = 0; i < b.count; ++i)
            if (b.indices[i] == line) return b.weights[i];
        return 0.0;
    };
    EXPECT_DOUBLE_EQ(weight_of(0, 3), (82.03125 - 80.00000000000003) / res);
    EXPECT_DOUBLE_EQ(weight_of(0, 4), (103.44544743832324 - 82.03125) / res);
    EXPECT_DOUBLE_EQ(weight_of(1, 4), (105.46875 - 103.44544743832324) / res);

    // Lines 0-2 and 769-1023 lie outside 80 Hz - 18 kHz; inside, every line's
    // shares add up to 1 and indices ascend.
    std::vector<double> total(1024, 0.0);
    for (std::uint32_t band = 0; band < 109; ++band) {
        const BAND_BINS &b = s->band_bins.data[band];
        ASSERT_GT(b.count, 0u);
        for (std::uint32_t i = 0; i < b.count; ++i) {
            total[b.indices[i]] += b.weights[i];
            if (i > 0) {
                EXPECT_LT(b.indices[i - 1], b.indices[i]);
            }
        }
    }
    for (std::uint32_t k = 0; k < 1024; ++k) {
        if (k <= 2 || k >= 769) {
            EXPECT_EQ(total[k], 0.0) << k;
        } else if (k >= 4 && k <= 767) {
            EXPECT_NEAR(total[k], 1.0, 1e-12) << k;
        }
    }
}

TEST(Tables, PerBandConstants)
{
    auto s = make_instance(false);
    EXPECT_DOUBLE_EQ(s->mask_offset.data[48], std::pow(10.0, -0.3));
    EXPECT_DOUBLE_EQ(s->mask_offset.data[49], std::pow(10.0, -0.30625));
    EXPECT_DOUBLE_EQ(s->mask_offset.data[0], s->mask_offset.data[48]);

    const auto range = [&](std::uint32_t k) {
        const PATTERN_RANGE r = s->pattern_ranges.data[k];
        return std::vector<std::uint32_t>{r.lo, r.hi, r.count};
    };
    EXPECT_EQ(range(0), (std::vector<std::uint32_t>{0, 4, 5}));
    EXPECT_EQ(range(50), (std::vector<std::uint32_t>{47, 54, 8}));
    EXPECT_EQ(range(108), (std::vector<std::uint32_t>{105, 108, 4}));

    EXPECT_DOUBLE_EQ(s->time_spread_a.data[0], 0.5133011087738022);
    EXPECT_DOUBLE_EQ(s->adapt_a.data[0], 0.6726373642205109);
    EXPECT_EQ(s->time_spread_b.data[0], 1.0 - s->time_spread_a.data[0]);

    // Internal noise to the 0.3 is its own table; the two must agree.
    for (std::uint32_t k = 0; k < 109; ++k)
        EXPECT_NEAR(s->internal_noise_pow.data[k], std::pow(s->internal_noise.data[k], 0.3),
                    1e-13 * s->internal_noise_pow.data[k]);
}

TEST(Tables, WindowsAndOuterEar)
{
    std::vector<double> w(2048, -1.0);
    ASSERT_EQ(get_hann_array(w.data(), 2048), 0);
    EXPECT_EQ(w[0], 0.0);
    const double peak = 1.632993161855452;
    const double top = std::max(w[1023], w[1024]);
    EXPECT_LT(top, peak);
    EXPECT_NEAR(w[1023], peak, 1e-6);
    EXPECT_NEAR(w[1024], peak, 1e-6);
    for (std::size_t i = 0; i < 2048; ++i) {
        if (i != 1023 && i != 1024) {
            ASSERT_LT(w[i], std::min(w[1023], w[1024])) << i;
        }
    }

    std::vector<double> untouched(4, 7.0);
    EXPECT_EQ(get_hann_array(untouched.data(), 1), 1);
    EXPECT_EQ(untouched[0], 7.0);
    EXPECT_EQ(get_hann_array(nullptr, 16), 1);

    std::vector<double> ear(1024);
    ASSERT_EQ(get_outer_ear_weighting_coefficient_array(ear.data(), 1024), 0);
    EXPECT_EQ(ear[0], 0.0);
    EXPECT_DOUBLE_EQ(ear[1], 0.006326620427550832);
    EXPECT_NEAR(20.0 * std::log10(ear[1]), -43.97656441454745, 1e-12);
}

TEST(Tables, LevelCalibrationPutsTheTestTonePeakAtTheListeningLevel)
{
    for (double level : {92.0, 0.0, 100.0}) {
        auto s = make_instance(false, level);
        std::vector<double> frame(2048), power(1024);
        double largest = 0.0;
        for (int j = 0; j < 10; ++j) {
            for (int i = 0; i < 2048; ++i)
                frame[i] = 32767.0 * std::sin((1024.0 * j + i) * 6402.5658280368 / 48000) * s->hann_window.data[i];
            get_power_spectrum(frame.data(), power.data(), s->fft_work.data, s->fft_index.data, 2048,
                               forward_twiddles(*s));
            for (double p : power) largest = std::max(largest, p);
        }
        // The level enters as 10^(0.1 level): for 92 dB that exponent is
        // 9.200000000000001, not 9.2.
        EXPECT_DOUBLE_EQ(largest * s->norm_factor, std::pow(10.0, 0.1 * level)) << level;
    }
}

TEST(Tables, SpreadingRowsOfTheNormaliserEachDistributeOneUnit)
{
    auto s = make_instance(false);
    for (std::uint32_t i = 0; i < 109; ++i) {
        double sum = 0.0;
        for (std::uint32_t j = 0; j < 109; ++j) sum += s->spread_matrix.data[i][j];
        EXPECT_NEAR(sum, 1.0, 1e-14) << i;
    }
}

} // namespace
