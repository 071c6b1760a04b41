#include "fft.h"
#include "support.h"
#include "tables.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <vector>

namespace {

using namespace velumar::model;
using velumar::test::make_instance;

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

// The twiddle tables built from the largest span alone are, entry for
// entry and bit for bit, the ones every span's own sines and cosines give;
// an instance holds them.
TEST(Tables, TwiddleTablesFromTheLargestSpanAreTheDirectOnes)
{
    const auto bits = [](const std::vector<TWIDDLE> &t) {
        std::vector<std::uint64_t> v;
        for (const TWIDDLE &w : t) v.push_back(std::uint64_t{std::bit_cast<std::uint32_t>(w.re)} << 32 | std::bit_cast<std::uint32_t>(w.im));
        return v;
    };
    for (const std::uint32_t n : {2u, 4u, 64u, 2048u, 32768u}) {
        std::vector<TWIDDLE> forward(twiddle_table_length(n)), inverse(forward.size());
        std::vector<TWIDDLE> direct_forward(forward.size()), direct_inverse(forward.size());
        fill_twiddle_tables(forward.data(), inverse.data(), n);
        fill_twiddle_table(direct_forward.data(), n, false);
        fill_twiddle_table(direct_inverse.data(), n, true);
        EXPECT_EQ(bits(forward), bits(direct_forward)) << n;
        EXPECT_EQ(bits(inverse), bits(direct_inverse)) << n;
        if (n != 2048) continue;
        auto s = make_instance(false);
        EXPECT_EQ(bits(forward), bits({s->fft_twiddle.data, s->fft_twiddle.data + s->fft_twiddle.length}));
        EXPECT_EQ(bits(inverse),
                  bits({s->fft_inverse_twiddle.data, s->fft_inverse_twiddle.data + s->fft_inverse_twiddle.length}));
    }
}

} // namespace
