#include "avg_value.h"
#include "network.h"
#include "support.h"

#include <cmath>
#include <cstring>

namespace {

using namespace velumar::model;
using velumar::test::make_instance;
using velumar::test::stdout_of;

// Channel 1's MOV fields in network input order (ADB in slot 4).
double M_STATE::*const kCh1[11] = {&M_STATE::mov_ch1_BandwidthRef, &M_STATE::mov_ch1_BandwidthTest,
                                   &M_STATE::mov_ch1_TotalNMR,     &M_STATE::mov_ch1_WinModDiff1,
                                   &M_STATE::mov_ADB,              &M_STATE::mov_ch1_EHS,
                                   &M_STATE::mov_ch1_AvgModDiff1,  &M_STATE::mov_ch1_AvgModDiff2,
                                   &M_STATE::mov_ch1_RmsNoiseLoud, &M_STATE::mov_ch1_MFPD,
                                   &M_STATE::mov_ch1_RelDistFrames};
constexpr double kAmin[11] = {393.916656, 361.965332, -24.045116, 1.110661, -0.206623, 0.074318,
                              1.113683,   0.950345,   0.029985,   0.000101, 0.0};
constexpr double kAmax[11] = {921.0, 881.131226, 16.21203, 107.137772, 2.886017, 13.933351,
                              63.257874, 1145.018555, 14.81974, 1.0, 1.0};

// Channel 2's, with the ADB again in slot 4.
double M_STATE::*const kCh2[11] = {&M_STATE::mov_ch2_BandwidthRef, &M_STATE::mov_ch2_BandwidthTest,
                                   &M_STATE::mov_ch2_TotalNMR,     &M_STATE::mov_ch2_WinModDiff1,
                                   &M_STATE::mov_ADB,              &M_STATE::mov_ch2_EHS,
                                   &M_STATE::mov_ch2_AvgModDiff1,  &M_STATE::mov_ch2_AvgModDiff2,
                                   &M_STATE::mov_ch2_RmsNoiseLoud, &M_STATE::mov_ch2_MFPD,
                                   &M_STATE::mov_ch2_RelDistFrames};

void set_movs(M_STATE &s, const double *values, double M_STATE::*const *fields = kCh1)
{
    for (int i = 0; i < 11; ++i) s.*fields[i] = values[i];
}

TEST(Network, GradesTheInputLimitsAsStated)
{
    auto s = make_instance(false);
    s->frame_index = 23;
    set_movs(*s, kAmin);
    NETWORK_RESULT r = neural_network_basic(s.get());
    EXPECT_NEAR(r.di, 2.5694151, 1e-7);
    EXPECT_NEAR(r.odg, -0.0787583, 1e-7);
    set_movs(*s, kAmax);
    r = neural_network_basic(s.get());
    EXPECT_NEAR(r.di, -4.1205877, 1e-7);
    EXPECT_NEAR(r.odg, -3.9129024, 1e-7);
    EXPECT_EQ(neural_network(s.get()), r.odg);
    // Inputs beyond their limits are used as they are.
    s->mov_ch1_EHS = 20.0;
    EXPECT_NE(neural_network_basic(s.get()).odg, r.odg);
    EXPECT_EQ(sigmoid(0.0), 0.5);
}

TEST(Network, TwoEqualChannelsGiveTheOneChannelInputs)
{
    auto mono = make_instance(false);
    auto stereo = make_instance(true);
    const double values[11] = {500.0, 450.0, -3.0, 20.0, 1.2, 0.5, 10.0, 50.0, 0.7, 0.8, 0.3};
    set_movs(*mono, values);
    set_movs(*stereo, values);
    set_movs(*stereo, values, kCh2);
    double a[11], b[11];
    ASSERT_EQ(get_input_signals_array_basic(*mono, a, 0), 0);
    ASSERT_EQ(get_input_signals_array_basic(*stereo, b, 1), 0);
    EXPECT_EQ(std::memcmp(a, b, sizeof a), 0);
    stereo->mov_ch2_MFPD = 0.4;
    stereo->mov_ADB = 2.0;
    ASSERT_EQ(get_input_signals_array_basic(*stereo, b, 1), 0);
    EXPECT_EQ(b[9], (0.4 + 0.8) * 0.5);
    EXPECT_EQ(b[4], 2.0);
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(get_input_signals_array_basic(*stereo, b, 3), 1); }),
              "Error of input datas for the function - get_input_signals_array_basic()!\n");
}

TEST(Network, FewerThan23FramesAndOtherVersionsAnswerInBand)
{
    auto s = make_instance(false);
    set_movs(*s, kAmin);
    s->frame_index = 22;
    const NETWORK_RESULT r = neural_network_basic(s.get());
    EXPECT_EQ(r.odg, 1.0);
    EXPECT_EQ(r.di, 1.0);
    s->frame_index = 23;
    EXPECT_NE(neural_network_basic(s.get()).odg, 1.0);

    const char *grade_error = "Error of input datas (HANDLE) for the function - get_objective_difference_grade()!\n";
    const std::pair<std::int32_t, double> versions[] = {{1, 1.0}, {2, 2.0}, {7, 3.0}};
    for (const auto &[version, grade] : versions) {
        s->version = version;
        double odg = 0.0;
        EXPECT_EQ(stdout_of([&] { odg = get_objective_difference_grade(s.get()); }), grade_error);
        EXPECT_EQ(odg, grade);
        M_RESULTS results{};
        stdout_of([&] { EXPECT_EQ(get_model_results(s.get(), &results), 1); });
        EXPECT_EQ(results.odg, grade);
    }
    EXPECT_EQ(neural_network(s.get()), 3.0);
    s->version = 2;
    EXPECT_EQ(neural_network(s.get()), 2.0);
    EXPECT_EQ(std::string(get_mov_name(M_MOV_BANDWIDTH_REF)), "BandwidthRefB");
    EXPECT_EQ(std::string(get_mov_name(M_MOV_REL_DIST_FRAMES)), "RelDistFramesB");
    EXPECT_EQ(get_mov_name(M_MOV_COUNT), nullptr);
    EXPECT_EQ(get_mov_name(-1), nullptr);
}

TEST(Averaging, SelectsFramesAsEachMovRequires)
{
    auto s = make_instance(false);
    // Frames 19-22 prime the window with 1, 4, 9, 16; frame 23 brings 25.
    for (std::uint32_t frame = 0; frame < 26; ++frame) {
        s->frame_index = frame;
        s->moddiff1_ch1 = frame >= 19 ? (frame - 18.0) * (frame - 18.0) : 0.0;
        s->moddiff2_ch1 = 2.0;
        s->temp_wt_ch1 = frame == 25 ? 0.0 : 1.0;
        s->noise_loudness_ch1 = 3.0;
        s->loud_frame_flag = frame == 24 ? 1 : 0;
        s->bandwidth_ref_ch1 = frame % 2 == 0 ? 346 : 347;
        s->bandwidth_test_ch1 = frame;
        s->disturbed_frame_ch1 = frame < 13 ? 1 : 0;
        s->nmr_mean_ch1 = 0.0;
        s->energy_flag = frame < 2 ? 1 : 0;
        s->ehs_value_ch1 = frame + 1.0;
        s->detect_pm_ch1 = 0.25;
        ASSERT_EQ(averaging_of_all_mov(s.get()), 0);
        if (frame == 23) {
            EXPECT_EQ(s->avg_win_moddiff1_ch1->sum, 150.0625);
        }
    }
    ASSERT_EQ(get_all_mov(s.get()), 0);
    EXPECT_EQ(s->avg_win_moddiff1_ch1->count, 3u);
    EXPECT_EQ(s->avg_moddiff1_ch1->weight_sum, 2.0);
    EXPECT_EQ(s->mov_ch1_AvgModDiff2, 2.0);
    EXPECT_EQ(s->mov_ch1_RmsNoiseLoud, 3.0);
    EXPECT_EQ(s->avg_noise_loud_ch1->count, 2u);
    EXPECT_EQ(s->mov_ch1_BandwidthRef, 347.0);
    EXPECT_EQ(s->mov_ch1_BandwidthTest, 13.0);  // odd frames 1..25
    EXPECT_EQ(s->mov_ch1_RelDistFrames, 0.5);
    EXPECT_EQ(s->mov_ch1_TotalNMR, -1e100);
    EXPECT_EQ(s->mov_ch1_EHS, 1500.0);  // frames 0 and 1, times 1000
    EXPECT_EQ(s->mov_ch1_MFPD, 0.25);
    EXPECT_EQ(s->mov_ADB, 0.0);
    s->detect_count = 4;
    ASSERT_EQ(get_all_mov(s.get()), 0);
    EXPECT_EQ(s->mov_ADB, -0.5);
    s->detect_q_accum = 40.0;
    ASSERT_EQ(get_all_mov(s.get()), 0);
    EXPECT_EQ(s->mov_ADB, 1.0);
    EXPECT_EQ(s->adb_value, 1.0);
}

} // namespace
