#include "stages.h"
#include "support.h"

#include <algorithm>
#include <cmath>

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

} // namespace
