#include "stages.h"
#include "support.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using namespace velumar::model;
using velumar::test::make_instance;
using velumar::test::Random;

void fill(M_ARRAY &a, double v) { std::fill_n(a.data, a.length, v); }

TEST(LevelAdaptation, ScalesTheLouderSignalDownOnly)
{
    auto s = make_instance(false);
    Random r(11);
    for (std::uint32_t k = 0; k < 109; ++k) {
        s->excitation_ref_ch1.data[k] = 100.0 + 50.0 * r.uniform();
        s->excitation_test_ch1.data[k] = 100.0 + 50.0 * r.uniform();
        s->smoothed_excitation_ref_ch1.data[k] = 10.0 + 5.0 * r.uniform();
        s->smoothed_excitation_test_ch1.data[k] = 2.0 * s->smoothed_excitation_ref_ch1.data[k];
    }
    ASSERT_EQ(get_correction_factor(s.get()), 0);
    EXPECT_NEAR(s->corr_factor_ch1, 0.5, 1e-15);
    for (std::uint32_t k = 0; k < 109; ++k) {
        EXPECT_EQ(s->level_adapted_test_ch1.data[k], s->corr_factor_ch1 * s->excitation_test_ch1.data[k]);
        EXPECT_EQ(s->level_adapted_ref_ch1.data[k], s->excitation_ref_ch1.data[k]);
    }
    // The reference louder: it is divided by the factor instead.
    for (std::uint32_t k = 0; k < 109; ++k) s->smoothed_excitation_ref_ch1.data[k] *= 16.0;
    ASSERT_EQ(get_correction_factor(s.get()), 0);
    EXPECT_NEAR(s->corr_factor_ch1, 8.0, 1e-13);
    EXPECT_EQ(s->level_adapted_ref_ch1.data[5], s->excitation_ref_ch1.data[5] / s->corr_factor_ch1);
    EXPECT_EQ(s->level_adapted_test_ch1.data[5], s->excitation_test_ch1.data[5]);
    // A silent smoothed test pattern: exactly 1, nothing scaled.
    fill(s->smoothed_excitation_test_ch1, 0.0);
    ASSERT_EQ(get_correction_factor(s.get()), 0);
    EXPECT_EQ(s->corr_factor_ch1, 1.0);
    EXPECT_EQ(s->level_adapted_test_ch1.data[7], s->excitation_test_ch1.data[7]);
}

TEST(PatternAdaptation, MatchesTheRecursionAndFillsEmptyBandsFromBelow)
{
    auto s = make_instance(false);
    Random r(5);
    std::vector<double> num(109, 0.0), den(109, 0.0), corr_ref(109, 0.0), corr_test(109, 0.0);
    for (int frame = 0; frame < 4; ++frame) {
        for (std::uint32_t k = 0; k < 109; ++k) {
            s->level_adapted_ref_ch1.data[k] = 1.0 + r.uniform() * 0.9;
            s->level_adapted_test_ch1.data[k] = 1.0 + r.uniform() * 0.9;
        }
        for (std::uint32_t k : {0u, 40u, 41u}) s->level_adapted_ref_ch1.data[k] = s->level_adapted_test_ch1.data[k] = 0.0;
        ASSERT_EQ(pattern_adaptation_for_frames(s.get()), 0);

        std::vector<double> rr(109), rt(109);
        for (std::uint32_t k = 0; k < 109; ++k) {
            const double lr = s->level_adapted_ref_ch1.data[k], lt = s->level_adapted_test_ch1.data[k];
            const double a = s->adapt_a.data[k];
            num[k] = lt * lr + a * num[k];
            den[k] = a * den[k] + lr * lr;
            if (den[k] == 0.0) {
                rr[k] = k == 0 ? 1.0 : rr[k - 1];
                rt[k] = k == 0 ? 1.0 : rt[k - 1];
            } else {
                rr[k] = std::min(1.0, num[k] / den[k]);
                rt[k] = std::min(1.0, den[k] / num[k]);
            }
        }
        for (int k = 0; k < 109; ++k) {
            const int lo = std::max(0, k - 3), hi = std::min(108, k + 4);
            double mr = 0.0, mt = 0.0;
            for (int i = lo; i <= hi; ++i) mr += rr[i], mt += rt[i];
            const double a = s->adapt_a.data[k];
            corr_ref[k] = (1.0 - a) * mr / (hi - lo + 1) + a * corr_ref[k];
            corr_test[k] = (1.0 - a) * mt / (hi - lo + 1) + a * corr_test[k];
            EXPECT_NEAR(s->pattern_adapted_ref_ch1.data[k], corr_ref[k] * s->level_adapted_ref_ch1.data[k], 1e-13);
            EXPECT_NEAR(s->pattern_adapted_test_ch1.data[k], corr_test[k] * s->level_adapted_test_ch1.data[k], 1e-13);
        }
        EXPECT_EQ(s->ratio_ref_ch1.data[0], 1.0);
        EXPECT_EQ(s->ratio_test_ch1.data[41], s->ratio_test_ch1.data[39]);
    }
}

TEST(Modulation, StartsFromTheFirstFrameAndDecaysForASteadyPattern)
{
    auto s = make_instance(false);
    fill(s->spread_energy_ref_ch1, 1e6);
    fill(s->spread_energy_test_ch1, 1e3);
    ASSERT_EQ(get_modulation_for_frames(s.get()), 0);
    const double v = std::pow(1e6, 0.3);
    std::vector<double> previous(109);
    for (std::uint32_t k = 0; k < 109; ++k) {
        const double b = s->adapt_b.data[k];
        EXPECT_DOUBLE_EQ(s->mod_avg_ref_ch1.data[k], b * v);
        EXPECT_DOUBLE_EQ(s->mod_deriv_ref_ch1.data[k], b * 46.875 * v);
        EXPECT_DOUBLE_EQ(s->modulation_ref_ch1.data[k], b * 46.875 * v / (1.0 + b * v / 0.3));
        previous[k] = s->mod_deriv_ref_ch1.data[k];
    }
    for (int frame = 0; frame < 3; ++frame) {
        ASSERT_EQ(get_modulation_for_frames(s.get()), 0);
        for (std::uint32_t k = 0; k < 109; ++k) {
            EXPECT_DOUBLE_EQ(s->mod_deriv_ref_ch1.data[k], s->adapt_a.data[k] * previous[k]);
            previous[k] = s->mod_deriv_ref_ch1.data[k];
        }
    }
}

TEST(Loudness, SpecificAndTotalLoudnessAndTheHangOver)
{
    auto s = make_instance(false);
    Random r(2);
    for (std::uint32_t k = 0; k < 109; ++k) {
        s->excitation_ref_ch1.data[k] = s->loudness_thresh.data[k];  // exactly at threshold
        s->excitation_test_ch1.data[k] = std::pow(10.0, 3.0 + 3.0 * r.uniform());
    }
    ASSERT_EQ(get_loudnes_for_frames(s.get()), 0);
    ASSERT_EQ(get_total_loudness_for_frames(s.get()), 0);
    double positive = 0.0;
    for (std::uint32_t k = 0; k < 109; ++k) {
        EXPECT_NEAR(s->specific_loudness_ref_ch1.data[k], 0.0, 1e-14);
        const double idx = s->loudness_index.data[k], eth = s->loudness_thresh.data[k];
        const double e = s->excitation_test_ch1.data[k];
        const double n = 1.07664 * std::pow(eth / (idx * 1e4), 0.23) *
                         (std::pow(1.0 - idx + idx * e / eth, 0.23) - 1.0);
        EXPECT_NEAR(s->specific_loudness_test_ch1.data[k], n, 1e-12 * std::fabs(n));
        positive += std::max(0.0, s->specific_loudness_test_ch1.data[k]);
    }
    EXPECT_DOUBLE_EQ(s->total_loudness_test_ch1, 24.0 * positive / 109.0);
    fill(s->specific_loudness_ref_ch1, -0.5);
    ASSERT_EQ(get_total_loudness_for_frames(s.get()), 0);
    EXPECT_EQ(s->total_loudness_ref_ch1, 0.0);

    // Loud while both signals exceed 0.1 sone, then three frames more.
    const std::pair<double, double> frames[] = {{0.2, 0.2}, {0.2, 0.05}, {0.05, 0.2}, {0.0, 0.0}, {0.0, 0.0}, {0.2, 0.3}};
    const int expected[] = {1, 1, 1, 1, 0, 1};
    for (int i = 0; i < 6; ++i) {
        s->total_loudness_ref_ch1 = frames[i].first;
        s->total_loudness_test_ch1 = frames[i].second;
        ASSERT_EQ(check_loudness_threshold_for_frames(s.get()), 0);
        EXPECT_EQ(s->loud_frame_flag, expected[i]) << "frame " << i;
    }
}

} // namespace
