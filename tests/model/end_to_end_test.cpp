#include "avg_value.h"
#include "golden_signals.h"
#include "stages.h"
#include "support.h"

#include <map>

namespace {

using namespace velumar::golden;
using namespace velumar::model;
using velumar::test::make_instance;
using velumar::test::stdout_of;

Measurement quietly(const Signal &signal, const std::vector<std::uint32_t> &blocks)
{
    Measurement m{};
    stdout_of([&] { m = measure(signal, blocks); });
    return m;
}

TEST(EndToEnd, IdenticalSignalsShowNoDistortion)
{
    const Wave ch1 = concat(music(18000, 21, 16000.0), music(18000, 22, 10.0));  // loud, then quiet
    const Wave ch2 = concat(music(18000, 23, 12000.0), music(18000, 24, 10.0));
    for (bool stereo : {false, true}) {
        const std::vector<std::int16_t> samples = stereo ? pcm(ch1, ch2) : pcm(ch1);
        auto s = make_instance(stereo);
        const M_BUFFER block{samples.data(), static_cast<std::uint32_t>(samples.size())};
        ASSERT_EQ(method(s.get(), &block, &block), 0);
        ASSERT_EQ(s->frame_index, 34u);
        ASSERT_EQ(get_all_mov(s.get()), 0);
        EXPECT_GT(s->avg_noise_loud_ch1->count, 0u);  // some quiet frames were averaged
        for (double mov : {s->mov_ch1_WinModDiff1, s->mov_ch1_AvgModDiff1, s->mov_ch1_AvgModDiff2,
                           s->mov_ch1_RmsNoiseLoud, s->mov_ch1_MFPD, s->mov_ch2_AvgModDiff1, s->mov_ch2_MFPD})
            EXPECT_EQ(mov, 0.0);
        EXPECT_EQ(s->detect_count, 0u);
        EXPECT_EQ(s->mov_ADB, 0.0);
    }
}

TEST(EndToEnd, TwoEqualChannelsGiveTheOneChannelInputs)
{
    const Wave ref = music(30000, 31, 15000.0);
    const Wave test = add_noise(ref, 28.0, 32);
    const Measurement mono = quietly({"mono", 1, pcm(ref), pcm(test)}, {4096});
    const Measurement stereo = quietly({"stereo", 2, pcm(ref, ref), pcm(test, test)}, {4096});
    ASSERT_EQ(mono.results_code, 0);
    ASSERT_EQ(stereo.results_code, 0);
    for (int i = 0; i < M_MOV_COUNT; ++i) {
        if (i == M_MOV_ADB) continue;
        EXPECT_EQ(mono.results.movs[i], stereo.results.movs[i]) << get_mov_name(i);
        EXPECT_EQ(stereo.results.channel_movs[0][i], stereo.results.channel_movs[1][i]) << get_mov_name(i);
    }
}

TEST(EndToEnd, GradesFollowTheDegradation)
{
    std::map<std::string, Measurement> by_name;
    for (const Signal &signal : golden_signals()) {
        if (signal.name.find("noise_") == std::string::npos && signal.name.find("frames") == std::string::npos) continue;
        by_name[signal.name] = quietly(signal, {kGoldenBlock});
    }
    EXPECT_LT(by_name["mono_noise_20db"].results.odg, by_name["mono_noise_30db"].results.odg);
    EXPECT_LT(by_name["mono_noise_30db"].results.odg, by_name["mono_noise_40db"].results.odg);

    // 22 frames: the network is not evaluated at all; 23: it is.
    const Measurement &short22 = by_name["mono_frames_22"];
    EXPECT_EQ(short22.results.frames, 22u);
    EXPECT_EQ(short22.results_code, 1);
    EXPECT_EQ(short22.results.odg, 1.0);
    EXPECT_EQ(short22.results.di, 1.0);
    const Measurement &short23 = by_name["mono_frames_23"];
    EXPECT_EQ(short23.results.frames, 23u);
    EXPECT_EQ(short23.results_code, 0);
    EXPECT_GE(short23.results.odg, -3.98);
    EXPECT_LE(short23.results.odg, 0.22);
    EXPECT_EQ(short23.results.movs[M_MOV_AVG_MOD_DIFF1], 0.0);  // nothing averaged before frame 23
}

} // namespace
