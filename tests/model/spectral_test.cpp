#include "stages.h"
#include "support.h"

#include <cmath>
#include <vector>

namespace {

using namespace velumar::model;
using velumar::test::make_instance;

void fill(M_ARRAY &a, double v) { std::fill(a.data, a.data + a.length, v); }

TEST(EnergyGate, CountsOnlyTheSecondHalfAndOnlyStrictlyAboveTheThreshold)
{
    auto s = make_instance(true);
    const auto frames = {&M_STATE::frame_ref_ch1, &M_STATE::frame_ref_ch2, &M_STATE::frame_test_ch1,
                         &M_STATE::frame_test_ch2};
    for (auto loud : frames) {
        for (auto f : frames) fill(s.get()->*f, 0.0);
        M_ARRAY &frame = s.get()->*loud;
        const auto gate = [&] {
            EXPECT_EQ(check_energy_threshold_for_frames(s.get()), 0);
            return s->energy_flag;
        };
        EXPECT_EQ(gate(), 0);
        for (int i = 0; i < 1024; ++i) frame.data[i] = 1000.0;  // first half: ignored
        for (int i = 1024; i < 1024 + 80; ++i) frame.data[i] = 10.0;  // second half exactly 8000
        EXPECT_EQ(gate(), 0);
        frame.data[2047] = 0.01;
        EXPECT_EQ(gate(), 1);
    }

    // The gate decides as the energy summed in order would, also for
    // thresholds at, or an ulp around, that sum (where other orders of
    // summing round differently).
    velumar::test::Random random(5);
    for (auto f : frames) fill(s.get()->*f, 0.0);
    M_ARRAY &frame = s->frame_ref_ch1;
    for (int trial = 0; trial < 50; ++trial) {
        for (std::uint32_t i = 0; i < frame.length; ++i) frame.data[i] = std::ldexp(random.uniform(), trial % 20);
        double in_order = 0.0;
        for (std::uint32_t i = 1024; i < 2048; ++i) in_order += frame.data[i] * frame.data[i];
        for (double threshold : {in_order, std::nextafter(in_order, 0.0), std::nextafter(in_order, HUGE_VAL),
                                 in_order * (1 - 0x1p-35), in_order * (1 + 0x1p-35), in_order * 0.99, in_order * 1.01}) {
            s->energy_threshold = threshold;
            ASSERT_EQ(check_energy_threshold_for_frames(s.get()), 0);
            ASSERT_EQ(s->energy_flag, in_order > threshold ? 1 : 0) << trial << " " << threshold;
        }
    }
}

TEST(Bandwidth, SearchesDownFromLine921AboveTheTestNoiseFloor)
{
    auto s = make_instance(false);
    M_ARRAY &ref = s->spectrum_ref_ch1, &test = s->spectrum_test_ch1;
    s->bandwidth_ref_ch2 = 77;
    s->bandwidth_test_ch2 = 78;

    // Noise floor 1.0 above line 921 (wherever its peak); reference clears
    // 10x it up to line 600, the test clears sqrt(10)x it up to line 400.
    for (int peak : {1000, 1023}) {
        fill(ref, 0.5);
        fill(test, 0.5);
        test.data[peak] = 1.0;
        for (int k = 0; k < 600; ++k) ref.data[k] = 10.5;
        for (int k = 0; k < 400; ++k) test.data[k] = 3.2;
        ASSERT_EQ(get_bandwidth_of_current_frames(s.get()), 0);
        EXPECT_EQ(s->bandwidth_ref_ch1, 600u);
        EXPECT_EQ(s->bandwidth_test_ch1, 400u);
        EXPECT_EQ(s->bandwidth_ref_ch2, 77u);  // one channel: channel 2 untouched
        EXPECT_EQ(s->bandwidth_test_ch2, 78u);

        // Exactly 10x the floor does not count: the reference stays at 921
        // and the test search starts right below it.
        for (int k = 0; k < 600; ++k) ref.data[k] = 10.0;
        ASSERT_EQ(get_bandwidth_of_current_frames(s.get()), 0);
        EXPECT_EQ(s->bandwidth_ref_ch1, 921u) << peak;
        EXPECT_EQ(s->bandwidth_test_ch1, 400u);
    }
    test.data[920] = 3.2;
    ASSERT_EQ(get_bandwidth_of_current_frames(s.get()), 0);
    EXPECT_EQ(s->bandwidth_test_ch1, 921u);

    // A silent test top: any positive power counts.
    fill(ref, 0.0);
    fill(test, 0.0);
    ref.data[500] = 1e-30;
    test.data[499] = 1e-30;
    test.data[700] = 1e-30;  // above the reference bandwidth: never searched
    ASSERT_EQ(get_bandwidth_of_current_frames(s.get()), 0);
    EXPECT_EQ(s->bandwidth_ref_ch1, 501u);
    EXPECT_EQ(s->bandwidth_test_ch1, 500u);
}

} // namespace
