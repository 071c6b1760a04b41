#include "stages.h"
#include "support.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using namespace velumar::model;
using velumar::test::make_instance;

TEST(Loudness, NothingAtTheThresholdNegativeBandsDropAndLoudFramesHangOver)
{
    auto s = make_instance(false);
    for (std::uint32_t k = 0; k < 109; ++k) {
        s->excitation_ref_ch1.data[k] = s->loudness_thresh.data[k];
        s->excitation_test_ch1.data[k] = s->loudness_thresh.data[k] * (k < 50 ? 0.5 : 100.0);
    }
    ASSERT_EQ(get_loudnes_for_frames(s.get()), 0);
    ASSERT_EQ(get_total_loudness_for_frames(s.get()), 0);
    double positive = 0.0;
    for (std::uint32_t k = 0; k < 109; ++k) {
        EXPECT_NEAR(s->specific_loudness_ref_ch1.data[k], 0.0, 1e-14) << k;
        EXPECT_EQ(s->specific_loudness_test_ch1.data[k] < 0.0, k < 50) << k;  // below the threshold
        positive += std::max(0.0, s->specific_loudness_test_ch1.data[k]);
    }
    EXPECT_DOUBLE_EQ(s->total_loudness_test_ch1, 24.0 * positive / 109.0);

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

// Pattern adaptation as its formulas read, band by band, on copies of one
// channel's memories: the ratio of the smoothed cross and reference
// energies, a band without any taking the ratios of the band below, the
// means over each band's window and the smoothed corrections.
struct Adaptation {
    std::vector<double> num, den, corr_ref, corr_test, out_ref, out_test;
};

void adapt_by_the_formulas(const M_STATE &s, const double *ref, const double *test, Adaptation &m)
{
    const std::uint32_t bands = s.band_count;
    std::vector<double> ratio_ref(bands), ratio_test(bands);
    for (std::uint32_t k = 0; k < bands; ++k) {
        const double a = s.adapt_a.data[k];
        m.num[k] = test[k] * ref[k] + a * m.num[k];
        m.den[k] = a * m.den[k] + ref[k] * ref[k];
        if (m.den[k] != 0.0) {
            const double q = m.num[k] / m.den[k];
            ratio_ref[k] = q < 1.0 ? q : 1.0;
            ratio_test[k] = q < 1.0 ? 1.0 : 1.0 / q;
        } else if (m.num[k] != 0.0) {
            ratio_ref[k] = 1.0;
            ratio_test[k] = 0.0;
        } else {
            ratio_ref[k] = k > 0 ? ratio_ref[k - 1] : 1.0;
            ratio_test[k] = k > 0 ? ratio_test[k - 1] : 1.0;
        }
    }
    for (std::uint32_t k = 0; k < bands; ++k) {
        const PATTERN_RANGE &r = s.pattern_ranges.data[k];
        double sum_ref = 0.0, sum_test = 0.0;
        for (std::uint32_t i = r.lo; i <= r.hi; ++i) {
            sum_ref += ratio_ref[i];
            sum_test += ratio_test[i];
        }
        const double a = s.adapt_a.data[k], b = s.adapt_b.data[k];
        m.corr_ref[k] = b * (sum_ref / r.count) + a * m.corr_ref[k];
        m.corr_test[k] = b * (sum_test / r.count) + a * m.corr_test[k];
        m.out_ref[k] = ref[k] * m.corr_ref[k];
        m.out_test[k] = test[k] * m.corr_test[k];
    }
}

// The vector form gives the very numbers of the formulas, in both channels
// and over frames (the memories carry over), with silent bands among them:
// the lowest band, a run of bands, and a band whose memory holds cross
// energy but no reference energy.
TEST(PatternAdaptation, EqualsTheBandByBandFormulasBitForBit)
{
    auto s = make_instance(true);
    velumar::test::Random random(11);
    const std::uint32_t bands = s->band_count;
    Adaptation want[2];
    for (Adaptation &m : want)
        for (auto *v : {&m.num, &m.den, &m.corr_ref, &m.corr_test, &m.out_ref, &m.out_test}) v->assign(bands, 0.0);
    for (int ch = 0; ch < 2; ++ch) {
        std::copy_n(ch == 0 ? s->pattern_corr_ref_ch1.data : s->pattern_corr_ref_ch2.data, bands, want[ch].corr_ref.begin());
        std::copy_n(ch == 0 ? s->pattern_corr_test_ch1.data : s->pattern_corr_test_ch2.data, bands, want[ch].corr_test.begin());
    }
    s->pattern_num_ch2.data[70] = want[1].num[70] = 1.0;
    for (int frame = 0; frame < 3; ++frame) {
        for (M_ARRAY *a : {&s->level_adapted_ref_ch1, &s->level_adapted_test_ch1, &s->level_adapted_ref_ch2,
                           &s->level_adapted_test_ch2})
            for (std::uint32_t k = 0; k < bands; ++k) a->data[k] = std::exp(20.0 * random.uniform());
        for (M_ARRAY *a : {&s->level_adapted_ref_ch1, &s->level_adapted_test_ch1}) {
            a->data[0] = 0.0;
            std::fill_n(a->data + 40, 5, 0.0);
        }
        s->level_adapted_ref_ch2.data[70] = 0.0;
        ASSERT_EQ(pattern_adaptation_for_frames(s.get()), 0);
        adapt_by_the_formulas(*s, s->level_adapted_ref_ch1.data, s->level_adapted_test_ch1.data, want[0]);
        adapt_by_the_formulas(*s, s->level_adapted_ref_ch2.data, s->level_adapted_test_ch2.data, want[1]);
        const double *got[2][2] = {{s->pattern_adapted_ref_ch1.data, s->pattern_adapted_test_ch1.data},
                                   {s->pattern_adapted_ref_ch2.data, s->pattern_adapted_test_ch2.data}};
        for (int ch = 0; ch < 2; ++ch)
            for (std::uint32_t k = 0; k < bands; ++k) {
                ASSERT_EQ(got[ch][0][k], want[ch].out_ref[k]) << "frame " << frame << " channel " << ch << " band " << k;
                ASSERT_EQ(got[ch][1][k], want[ch].out_test[k]) << "frame " << frame << " channel " << ch << " band " << k;
            }
    }
}

} // namespace
