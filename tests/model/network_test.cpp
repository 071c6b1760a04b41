#include "avg_value.h"
#include "network.h"
#include "support.h"

#include <cmath>

namespace {

using namespace velumar::model;
using velumar::test::make_instance;
using velumar::test::stdout_of;

// The expected DI and ODG were computed by hand, in double precision outside
// this code, from the network's formula with its weights and scaling limits:
//   DI  = sum_j wy[j] sigmoid(sum_i (x[i] - amin[i]) wx[i][j] / (amax[i] - amin[i]) + wx[11][j]) + wy[3]
//   ODG = -3.98 + 4.2 sigmoid(DI).
// Every input moves each hidden node, so a wrong weight, limit or input slot
// shows; the last set lies outside every limit, where inputs are not clipped.
TEST(Network, GradesMovSetsAsTheWeightedSumFormulaGives)
{
    // Channel 1's MOV fields in network input order (ADB in slot 4).
    double M_STATE::*const inputs[11] = {&M_STATE::mov_ch1_BandwidthRef, &M_STATE::mov_ch1_BandwidthTest,
                                         &M_STATE::mov_ch1_TotalNMR,     &M_STATE::mov_ch1_WinModDiff1,
                                         &M_STATE::mov_ADB,              &M_STATE::mov_ch1_EHS,
                                         &M_STATE::mov_ch1_AvgModDiff1,  &M_STATE::mov_ch1_AvgModDiff2,
                                         &M_STATE::mov_ch1_RmsNoiseLoud, &M_STATE::mov_ch1_MFPD,
                                         &M_STATE::mov_ch1_RelDistFrames};
    const struct {
        double x[11];
        double di, odg;
    } cases[] = {
        {{700, 650, -3, 30, 0.8, 2.5, 15, 200, 3, 0.6, 0.4}, -2.606433447584098, -3.6913528136876907},
        {{850, 820, -15, 5, -0.1, 0.3, 3, 20, 0.5, 0.05, 0.02}, 1.974750443435017, -0.2918941394985364},
        {{300, 250, 20, 150, 3.5, 20, 80, 1500, 20, 1.2, 1.5}, -3.5972658887044267, -3.867994944735391},
    };
    auto s = make_instance(false);
    s->frame_index = 23;
    for (const auto &c : cases) {
        for (int i = 0; i < 11; ++i) s.get()->*inputs[i] = c.x[i];
        const NETWORK_RESULT r = neural_network_basic(s.get());
        EXPECT_NEAR(r.di, c.di, 1e-12) << c.x[0];
        EXPECT_NEAR(r.odg, c.odg, 1e-12) << c.x[0];
        EXPECT_EQ(neural_network(s.get()), r.odg);
    }
}

TEST(Network, OtherVersionsAndBadArgumentsAnswerInBand)
{
    auto s = make_instance(false);
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
    s->version = 0;
    double inputs[11];
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(get_input_signals_array_basic(*s, inputs, 3), 1); }),
              "Error of input datas for the function - get_input_signals_array_basic()!\n");
}

TEST(Averaging, SelectsFramesAsEachMovRequires)
{
    auto s = make_instance(false);
    // Frames 19-22 prime the window with 1, 4, 9, 16; frames 23-25 bring
    // 25, 36, 49: windows of the roots 2-5, 3-6 and 4-7.
    for (std::uint32_t frame = 0; frame < 26; ++frame) {
        s->frame_index = frame;
        s->moddiff1_ch1 = frame >= 19 ? (frame - 18.0) * (frame - 18.0) : 0.0;
        s->moddiff2_ch1 = frame;
        s->temp_wt_ch1 = frame == 25 ? 0.0 : 1.0;
        s->noise_loudness_ch1 = frame;
        s->loud_frame_flag = frame == 24 ? 1 : 0;
        s->bandwidth_ref_ch1 = frame % 2 == 0 ? 346 : 347;
        s->bandwidth_test_ch1 = frame;
        s->disturbed_frame_ch1 = frame < 13 ? 1 : 0;
        s->nmr_mean_ch1 = 0.0;
        s->energy_flag = frame < 2 ? 1 : 0;
        s->ehs_value_ch1 = frame + 1.0;
        s->detect_pm_ch1 = 0.25;
        ASSERT_EQ(averaging_of_all_mov(s.get()), 0);
    }
    ASSERT_EQ(get_all_mov(s.get()), 0);
    EXPECT_EQ(s->mov_ch1_WinModDiff1, std::sqrt((150.0625 + 410.0625 + 915.0625) / 3));
    EXPECT_EQ(s->mov_ch1_AvgModDiff1, 30.5);                // frames 23 and 24: 25 and 36
    EXPECT_EQ(s->mov_ch1_AvgModDiff2, 23.5);
    EXPECT_EQ(s->mov_ch1_RmsNoiseLoud, std::sqrt(577.0));  // frames 23 and 25
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
}

} // namespace
