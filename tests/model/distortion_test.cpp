#include "stages.h"
#include "support.h"

#include <algorithm>
#include <cmath>

namespace {

using namespace velumar::model;
using velumar::test::make_instance;

void fill(M_ARRAY &a, double v) { std::fill_n(a.data, a.length, v); }

// Expected values computed by hand from the per-band term d / (offset +
// Mod_r), d = Mod_t - Mod_r, a decrease (d <= 0) weighted by negwt, and
// MD = 100 x (sum of the terms) / 109: with Mod_r = 1 and Mod_t = 0.5 the
// terms are 0.5 / 2 = 0.25 (negwt 1, offset 1) and 0.1 x 0.5 / 1.01
// (negwt 0.1, offset 0.01); with Mod_t = 1.5 (an increase) 0.25 and 0.5 / 1.01.
TEST(ModulationDifference, CountsADecreaseFullyInTheFirstAndAtOneTenthInTheSecond)
{
    auto s = make_instance(false);
    fill(s->modulation_ref_ch1, 1.0);
    fill(s->modulation_test_ch1, 0.5);
    fill(s->mod_avg_ref_ch1, 0.0);
    s->mod_avg_ref_ch1.data[3] = 50.0;
    ASSERT_EQ(get_modulation_difference_for_frames(s.get()), 0);
    EXPECT_DOUBLE_EQ(s->moddiff1_bands_ch1.data[0], 0.25);
    EXPECT_DOUBLE_EQ(s->moddiff2_bands_ch1.data[0], 0.1 * 0.5 / 1.01);
    EXPECT_EQ(s->moddiff1_ch1, 25.0);
    EXPECT_NEAR(s->moddiff2_ch1, 4.950495, 1e-6);

    fill(s->modulation_test_ch1, 1.5);
    ASSERT_EQ(get_modulation_difference_for_frames(s.get()), 0);
    EXPECT_DOUBLE_EQ(s->moddiff1_bands_ch1.data[7], 0.25);
    EXPECT_NEAR(s->moddiff2_bands_ch1.data[7], 0.495, 1e-3);
    EXPECT_NEAR(s->moddiff2_ch1, 0.5 / 1.01 * 100.0, 1e-12);
}

// Expected values computed by hand from the per-band noise loudness
// (E_IN / s_t)^0.23 x ((1 + num / (E_IN + beta s_r e_r))^0.23 - 1), with
// s = 0.15 Mod + 0.5, beta = exp(-1.5 (e_t - e_r) / e_r), num = s_t e_t - s_r e_r,
// and NL = 24 x (sum of the terms) / 109: for e_r = 1, e_t = 2, Mod = 0 and
// E_IN = 1 that is s = 0.5, beta = exp(-1.5), num = 0.5, term 0.1046002 and
// NL = 24 x term 2.510406.
TEST(NoiseLoudness, EqualBandsGiveTheHandComputedValueAndNoNoiseGivesZero)
{
    auto s = make_instance(false);
    fill(s->pattern_adapted_ref_ch1, 1.0);
    fill(s->pattern_adapted_test_ch1, 2.0);
    fill(s->modulation_ref_ch1, 0.0);
    fill(s->modulation_test_ch1, 0.0);
    fill(s->internal_noise, 1.0);
    ASSERT_EQ(get_overall_loudnes_of_noise_for_frames(s.get()), 0);
    EXPECT_NEAR(s->noise_loudness_bands_ch1.data[50], 0.1046002, 1e-7);
    EXPECT_NEAR(s->noise_loudness_ch1, 2.510406, 1e-6);
    // With no reference pattern at all: beta 0 for a positive test pattern.
    fill(s->pattern_adapted_ref_ch1, 0.0);
    ASSERT_EQ(get_overall_loudnes_of_noise_for_frames(s.get()), 0);
    EXPECT_DOUBLE_EQ(s->noise_loudness_bands_ch1.data[0], std::pow(2.0, 0.23) * (std::pow(2.0, 0.23) - 1.0));
    fill(s->pattern_adapted_test_ch1, 0.0);
    ASSERT_EQ(get_overall_loudnes_of_noise_for_frames(s.get()), 0);
    EXPECT_EQ(s->noise_loudness_ch1, 0.0);
}

TEST(NoiseToMaskRatio, FlagsAFrameFromOnePointFiveDecibels)
{
    auto s = make_instance(false);
    fill(s->mask_threshold_ch1, 2.0);
    fill(s->noise_band_energy_ch1, 1.0);
    s->noise_band_energy_ch1.data[9] = 2.0 * s->disturbed_threshold * 0.999999;
    ASSERT_EQ(get_noise_to_mask_ratio_for_frames(s.get()), 0);
    EXPECT_EQ(s->disturbed_frame_ch1, 0);
    s->noise_band_energy_ch1.data[9] = 2.0 * s->disturbed_threshold;
    ASSERT_EQ(get_noise_to_mask_ratio_for_frames(s.get()), 0);
    EXPECT_EQ(s->disturbed_frame_ch1, 1);
    s->noise_band_energy_ch1.data[9] = 1.0;
    s->mask_threshold_ch1.data[100] = 0.0;
    ASSERT_EQ(get_noise_to_mask_ratio_for_frames(s.get()), 0);
    EXPECT_EQ(s->nmr_bands_ch1.data[100], 1e100);
    EXPECT_EQ(s->disturbed_frame_ch1, 1);
}

// Expected values computed by hand for one band from e = L_r - L_t; L =
// 0.3 L_r + 0.7 L_t and b = 4 when e > 0, else L = L_t and b = 6; the slope
// s = 142.9535716811 L^-1.71332 + (((9.01033e-11 L + 5.05622e-6) L
// - 0.00102438) L + 0.0550197) L - 0.198719; pc = 1 - 0.5^((e/s)^b) and
// qc = |e| truncated / s: for a 0.5 dB and a 1 dB loss and a 1 dB gain.
TEST(DetectionProbability, OneBandLossOrGainGivesTheHandComputedProbabilityAndSteps)
{
    struct Case {
        double ref_db, test_db, pc, qc;
    };
    const Case cases[] = {{60.0, 59.5, 0.224678, 0.0}, {60.0, 59.0, 0.980266, 1.542642}, {59.0, 60.0, 0.999970, 1.571259}};
    for (const Case &c : cases) {
        auto s = make_instance(false);
        fill(s->excitation_ref_ch1, std::pow(10.0, c.ref_db / 10.0));
        fill(s->excitation_test_ch1, std::pow(10.0, c.test_db / 10.0));
        ASSERT_EQ(get_detection_probability_for_frames(s.get()), 0);
        EXPECT_NEAR(s->detect_prob_ch1.data[0], c.pc, 1e-6);
        EXPECT_NEAR(s->detect_steps_ch1.data[0], c.qc, 1e-6);
    }
    // A silent band on either side makes the frame certainly audible.
    for (bool silent_ref : {true, false}) {
        auto s = make_instance(false);
        fill(s->excitation_ref_ch1, 1e5);
        fill(s->excitation_test_ch1, 1e5);
        (silent_ref ? s->excitation_ref_ch1 : s->excitation_test_ch1).data[20] = 0.0;
        ASSERT_EQ(get_detection_probability_for_frames(s.get()), 0);
        EXPECT_EQ(s->detect_prob_ch1.data[20], 1.0);
        EXPECT_EQ(s->detect_p_ch1, 1.0);
        EXPECT_EQ(s->detect_prob_ch1.data[21], 0.0);
    }
}

TEST(DetectionProbability, MfpdKeepsTheMaximumAndAdbCountsFramesAboveOneHalf)
{
    auto s = make_instance(true);
    // MFPD keeps the largest smoothed P; the ADB counts the frames whose
    // binaural P lies strictly above one half, and sums their Q.
    const struct {
        double p, ptilde, pm, q_sum;
        std::uint32_t counted;
    } frames[] = {{0.5, 0.3, 0.3, 0.0, 0}, {0.5000001, 0.2, 0.3, 5.000001, 1}, {0.9, 0.6, 0.6, 14.000001, 2},
                  {0.0, 0.5, 0.6, 14.000001, 2}};
    for (const auto &f : frames) {
        s->detect_p_binaural = f.p;
        s->detect_q_binaural = 10.0 * f.p;
        s->detect_ptilde_binaural = f.ptilde;
        ASSERT_EQ(calculating_values_for_MFPD_and_ADB_for_frames(s.get()), 0);
        EXPECT_EQ(s->detect_pm_binaural, f.pm) << f.p;
        EXPECT_EQ(s->detect_count, f.counted) << f.p;
        EXPECT_DOUBLE_EQ(s->detect_q_accum, f.q_sum) << f.p;
    }
}

} // namespace
