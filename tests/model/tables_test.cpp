#include "fft.h"
#include "support.h"
#include "tables.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using namespace velumar::model;
using velumar::test::make_instance;

TEST(Tables, BandsLinesAndPerBandConstants)
{
    auto s = make_instance(false);
    EXPECT_DOUBLE_EQ(s->band_lower.data[0], 80.00000000000003);
    EXPECT_DOUBLE_EQ(s->band_upper.data[0], 103.44544743832324);
    EXPECT_DOUBLE_EQ(s->band_centre.data[0], 91.70810150320176);
    EXPECT_DOUBLE_EQ(s->band_lower.data[108], 17385.417495187132);
    EXPECT_EQ(s->band_upper.data[108], 18000.0);
    EXPECT_DOUBLE_EQ(s->band_centre.data[108], 17698.876779775237);

    // Lines 3 and 4 are shared between bands 0 and 1 by their overlap.
    const auto weight_of = [&](std::uint32_t band, std::uint32_t line) {
        const BAND_BINS &b = s->band_bins.data[band];
        for (std::uint32_t i = 0; i < b.count; ++i)
            if (b.indices[i] == line) return b.weights[i];
        return 0.0;
    };
    EXPECT_DOUBLE_EQ(weight_of(0, 3), (82.03125 - 80.00000000000003) / 23.4375);
    EXPECT_DOUBLE_EQ(weight_of(0, 4), (103.44544743832324 - 82.03125) / 23.4375);
    EXPECT_DOUBLE_EQ(weight_of(1, 4), (105.46875 - 103.44544743832324) / 23.4375);
    EXPECT_EQ(weight_of(0, 2), 0.0);

    EXPECT_DOUBLE_EQ(s->mask_offset.data[0], std::pow(10.0, -0.3));
    EXPECT_DOUBLE_EQ(s->mask_offset.data[48], std::pow(10.0, -0.3));
    EXPECT_DOUBLE_EQ(s->mask_offset.data[49], std::pow(10.0, -0.30625));
    for (auto [band, lo, hi, count] : {std::tuple{0u, 0u, 4u, 5u}, {50u, 47u, 54u, 8u}, {108u, 105u, 108u, 4u}}) {
        const PATTERN_RANGE r = s->pattern_ranges.data[band];
        EXPECT_EQ(std::tuple(r.lo, r.hi, r.count), std::tuple(lo, hi, count)) << "band " << band;
    }
    EXPECT_DOUBLE_EQ(s->time_spread_a.data[0], 0.5133011087738022);
    EXPECT_DOUBLE_EQ(s->adapt_a.data[0], 0.6726373642205109);
}

TEST(Tables, WindowsAndOuterEar)
{
    std::vector<double> w(2048, -1.0);
    ASSERT_EQ(get_hann_array(w.data(), 2048), 0);
    EXPECT_EQ(w[0], 0.0);
    // The two middle values are the largest, just below sqrt(8/3).
    EXPECT_NEAR(w[1023], 1.632993161855452, 1e-6);
    EXPECT_NEAR(w[1024], 1.632993161855452, 1e-6);
    const double top = std::min(w[1023], w[1024]);
    EXPECT_LT(std::max(w[1023], w[1024]), 1.632993161855452);
    w[1023] = w[1024] = 0.0;
    EXPECT_LT(*std::max_element(w.begin(), w.end()), top);

    std::vector<double> untouched(4, 7.0);
    EXPECT_EQ(get_hann_array(untouched.data(), 1), 1);
    EXPECT_EQ(untouched[0], 7.0);
    EXPECT_EQ(get_hann_array(nullptr, 16), 1);

    std::vector<double> ear(1024);
    ASSERT_EQ(get_outer_ear_weighting_coefficient_array(ear.data(), 1024), 0);
    EXPECT_EQ(ear[0], 0.0);
    EXPECT_DOUBLE_EQ(ear[1], 0.006326620427550832);  // -43.98 dB
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

} // namespace
