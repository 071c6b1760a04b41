#include "fft.h"
#include "support.h"
#include "tables.h"

#include <algorithm>
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

} // namespace
