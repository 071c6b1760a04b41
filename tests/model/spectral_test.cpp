#include "stages.h"
#include "support.h"
#include "vector_math.h"

#include <cmath>
#include <vector>

namespace {

using namespace velumar::model;
using velumar::test::make_instance;

void fill(M_ARRAY &a, double v) { std::fill(a.data, a.data + a.length, v); }

// Feeds one frame of each signal (ch1 and ch2 interleaved when stereo)
// through the frame input and runs the gate on it.
std::int32_t gate(M_STATE *s, const std::vector<std::int16_t> &ref, const std::vector<std::int16_t> &test)
{
    const M_BUFFER r{ref.data(), static_cast<std::uint32_t>(ref.size())};
    const M_BUFFER t{test.data(), static_cast<std::uint32_t>(test.size())};
    std::uint32_t kr = 0, kt = 0;
    EXPECT_TRUE(next_frame_pair(s, &r, &t, kr, kt));
    EXPECT_EQ(check_energy_threshold_for_frames(s), 0);
    return s->energy_flag;
}

TEST(EnergyGate, CountsOnlyTheSecondHalfAndOnlyStrictlyAboveTheThreshold)
{
    for (bool stereo : {false, true}) {
        const std::size_t channels = stereo ? 2 : 1;
        auto s = make_instance(stereo);
        // Each signal and channel in turn is the loud one.
        for (std::size_t loud = 0; loud < 2 * channels; ++loud) {
            std::vector<std::int16_t> frames[2] = {std::vector<std::int16_t>(2048 * channels),
                                                   std::vector<std::int16_t>(2048 * channels)};
            std::vector<std::int16_t> &frame = frames[loud / channels];
            const auto at = [&](std::size_t i) -> std::int16_t & { return frame[i * channels + loud % channels]; };
            EXPECT_EQ(gate(s.get(), frames[0], frames[1]), 0);
            for (std::size_t i = 0; i < 1024; ++i) at(i) = -32768;         // first half: ignored
            for (std::size_t i = 1024; i < 1024 + 80; ++i) at(i) = 10;     // second half exactly 8000
            EXPECT_EQ(gate(s.get(), frames[0], frames[1]), 0) << loud;
            at(2047) = -1;
            EXPECT_EQ(gate(s.get(), frames[0], frames[1]), 1) << loud;
        }
    }

    // The gate decides as the energy summed in order would, also for
    // thresholds at, or an ulp around, that sum.
    velumar::test::Random random(5);
    auto s = make_instance(false);
    std::vector<std::int16_t> frame(2048), quiet(2048);
    for (int trial = 0; trial < 30; ++trial) {
        for (auto &v : frame) v = static_cast<std::int16_t>(static_cast<std::int16_t>(random.next()) >> (trial % 16));
        double in_order = 0.0;
        for (std::uint32_t i = 1024; i < 2048; ++i) in_order += static_cast<double>(frame[i]) * frame[i];
        for (double threshold : {in_order, std::nextafter(in_order, 0.0), std::nextafter(in_order, HUGE_VAL),
                                 in_order * (1 - 0x1p-35), in_order * (1 + 0x1p-35), in_order * 0.99, in_order * 1.01}) {
            s->energy_threshold = threshold;
            ASSERT_EQ(gate(s.get(), quiet, frame), in_order > threshold ? 1 : 0) << trial << " " << threshold;
        }
    }
}

TEST(Bandwidth, SearchesDownFromLine921AboveTheTestNoiseFloor)
{
    for (const std::uint32_t width : {8u, 4u, 1u}) {  // every vector path and the plain one
        velumar_limit_vector_doubles(width);
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

        // The highest line above the level wherever it lies (the lowest lines
        // included), NaN lines above it never counting; none: 921.
        velumar::test::Random random(3);
        for (std::uint32_t top : {0u, 1u, 5u, 7u, 8u, 9u, 63u, 64u, 65u, 400u, 919u, 920u, 921u}) {
            fill(ref, 0.0);
            fill(test, 0.0);
            test.data[1000] = 1.0;  // floor 1: the reference needs more than 10
            for (std::uint32_t k = 0; k < 921; ++k) ref.data[k] = 10.0 * random.uniform();
            for (std::uint32_t k = top; k < 921; k += 3) ref.data[k] = std::nan("");
            if (top > 0) ref.data[top - 1] = 10.5;
            ASSERT_EQ(get_bandwidth_of_current_frames(s.get()), 0);
            EXPECT_EQ(s->bandwidth_ref_ch1, top > 0 ? top : 921u) << top << " width " << width;
        }
    }
    velumar_limit_vector_doubles(8);
}

} // namespace
