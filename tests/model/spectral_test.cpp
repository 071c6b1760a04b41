#include "fft.h"
#include "stages.h"
#include "support.h"

#include <cmath>
#include <complex>
#include <vector>

namespace {

using namespace velumar::model;
using velumar::test::make_instance;
using velumar::test::stdout_of;

void fill(M_ARRAY &a, double v) { std::fill(a.data, a.data + a.length, v); }

TEST(EnergyGate, CountsOnlyTheSecondHalfAndOnlyStrictlyAboveTheThreshold)
{
    auto s = make_instance(true);
    const auto frames = {&M_STATE::frame_ref_ch1, &M_STATE::frame_ref_ch2, &M_STATE::frame_test_ch1,
                         &M_STATE::frame_test_ch2};
    for (auto f : frames) fill(s.get()->*f, 0.0);
    ASSERT_EQ(check_energy_threshold_for_frames(s.get()), 0);
    EXPECT_EQ(s->energy_flag, 0);

    for (auto loud : frames) {
        for (auto f : frames) fill(s.get()->*f, 0.0);
        M_ARRAY &frame = s.get()->*loud;
        for (int i = 0; i < 1024; ++i) frame.data[i] = 1000.0;  // first half: ignored
        ASSERT_EQ(check_energy_threshold_for_frames(s.get()), 0);
        EXPECT_EQ(s->energy_flag, 0);
        for (int i = 1024; i < 1024 + 80; ++i) frame.data[i] = 10.0;  // second half exactly 8000
        ASSERT_EQ(check_energy_threshold_for_frames(s.get()), 0);
        EXPECT_EQ(s->energy_flag, 0);
        frame.data[2047] = 0.01;
        ASSERT_EQ(check_energy_threshold_for_frames(s.get()), 0);
        EXPECT_EQ(s->energy_flag, 1);
    }
}

TEST(Spectrum, IsTheScaledPowerOfTheWindowedFrame)
{
    auto s = make_instance(false);
    velumar::test::Random random(7);
    std::vector<double> original(2048);
    for (int i = 0; i < 2048; ++i) {
        original[i] = 8000.0 * std::sin(2 * M_PI * 100.25 * i / 2048) + 100.0 * random.uniform();
        s->frame_ref_ch1.data[i] = original[i];
        s->frame_test_ch1.data[i] = -original[i];
    }
    ASSERT_EQ(spectrum_calculation_for_frames(s.get()), 0);
    EXPECT_EQ(s->frame_ref_ch1.data[700], original[700] * s->hann_window.data[700]);  // windowed in place

    // Single-precision twiddles err by up to 2^-24 each; through 11 stages
    // that bounds the error of every line by a share of the summed
    // magnitudes, whatever the line's own size.
    double magnitude = 0.0;
    for (int n = 0; n < 2048; ++n) magnitude += std::fabs(s->frame_ref_ch1.data[n]);
    const double line_error = 11.0 * std::ldexp(1.0, -23) * magnitude / 2048.0;
    double peak = 0.0;
    std::uint32_t peak_line = 0;
    for (std::uint32_t k = 0; k < 1024; k += 1) {
        std::complex<long double> sum = 0;
        for (int n = 0; n < 2048; ++n) {
            const long double a = -2.0L * 3.14159265358979323846264338327950288L * ((k * n) % 2048) / 2048;
            sum += std::complex<long double>(std::cos(a), std::sin(a)) * static_cast<long double>(s->frame_ref_ch1.data[n]);
        }
        const double expected = static_cast<double>(std::norm(sum / 2048.0L)) * s->norm_factor;
        const double got = s->spectrum_ref_ch1.data[k];
        const double amplitude = std::sqrt(expected / s->norm_factor);
        EXPECT_NEAR(got, expected, (2.0 * amplitude + line_error) * line_error * s->norm_factor) << k;
        EXPECT_EQ(s->spectrum_test_ch1.data[k], got) << k;  // the power ignores the sign
        if (got > peak) peak = got, peak_line = k;
    }
    EXPECT_EQ(peak_line, 100u);
}

TEST(Bandwidth, SearchesDownFromLine921AboveTheTestNoiseFloor)
{
    auto s = make_instance(false);
    M_ARRAY &ref = s->spectrum_ref_ch1, &test = s->spectrum_test_ch1;
    s->bandwidth_ref_ch2 = 77;
    s->bandwidth_test_ch2 = 78;

    // Noise floor 1.0 above line 921; reference clears 10x it up to line
    // 600, the test clears sqrt(10)x it up to line 400.
    fill(ref, 0.5);
    fill(test, 0.5);
    test.data[1000] = 1.0;
    for (int k = 0; k < 600; ++k) ref.data[k] = 10.5;
    for (int k = 0; k < 400; ++k) test.data[k] = 3.2;
    ASSERT_EQ(get_bandwidth_of_current_frames(s.get()), 0);
    EXPECT_EQ(s->bandwidth_ref_ch1, 600u);
    EXPECT_EQ(s->bandwidth_test_ch1, 400u);
    EXPECT_EQ(s->bandwidth_ref_ch2, 77u);  // one channel: channel 2 untouched
    EXPECT_EQ(s->bandwidth_test_ch2, 78u);

    // Exactly 10x the floor does not count: the reference stays at 921 and
    // the test search starts right below it.
    for (int k = 0; k < 600; ++k) ref.data[k] = 10.0;
    ASSERT_EQ(get_bandwidth_of_current_frames(s.get()), 0);
    EXPECT_EQ(s->bandwidth_ref_ch1, 921u);
    EXPECT_EQ(s->bandwidth_test_ch1, 400u);
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

TEST(SpectralStages, ACorruptChannelModeFailsEachStageWithItsMessage)
{
    auto s = make_instance(false);
    s->stereo = 3;
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(check_energy_threshold_for_frames(s.get()), 1); }),
              "ERROR check_energy_threshold_for_frames()\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(spectrum_calculation_for_frames(s.get()), 1); }), "ERROR spectrum calculation\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(get_bandwidth_of_current_frames(s.get()), 1); }),
              "ERROR get_bandwidth_of_current_frames()\n");

    // The frame loop reports the first stage's code and does not count the frame.
    std::vector<std::int16_t> block(2048, 100);
    const M_BUFFER b{block.data(), 2048};
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(method(s.get(), &b, &b), 1); }), "ERROR check_energy_threshold_for_frames()\n");
    EXPECT_EQ(s->frame_index, 0u);
    s->stereo = 0;
    s->version = 1;
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(method(s.get(), &b, &b), 1); }),
              "Error of input datas (HANDLE) for the function - method()!\n");
    s->version = 0;
}

} // namespace
