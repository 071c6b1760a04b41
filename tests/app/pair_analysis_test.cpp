#include <velumar/app/pair_analysis.h>

#include "test_wav.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <tuple>
#include <vector>

namespace {

using velumar::app::AnalysePair;
using velumar::app::PairCheck;
using velumar::testing::Scaled;
using Samples = std::vector<std::int16_t>;

// Broadband noise, one or two independent channels.
Samples Noise(std::size_t frames, unsigned channels, std::uint32_t seed, double amplitude = 8000.0)
{
    return velumar::testing::AddNoise(Samples(frames * channels, 0), amplitude, seed);
}

// Frames [from, from + count) of an interleaved signal.
Samples Cut(const Samples &x, unsigned channels, std::size_t from, std::size_t count)
{
    return Samples(x.begin() + static_cast<std::ptrdiff_t>(from * channels),
                   x.begin() + static_cast<std::ptrdiff_t>((from + count) * channels));
}

Samples Swapped(const Samples &x)
{
    Samples out(x);
    for (std::size_t i = 0; i + 1 < out.size(); i += 2) std::swap(out[i], out[i + 1]);
    return out;
}

TEST(PairAnalysis, FindsDelaysExactlyOnBroadbandMaterial)
{
    constexpr std::size_t kFrames = 48000 * 4;
    constexpr std::size_t kStart = 30000;  // room for the test to start earlier or later
    for (const unsigned channels : {1u, 2u}) {
        const Samples source = velumar::testing::AddNoise(Noise(kStart * 2 + kFrames, channels, 3), 300.0, 4);
        const Samples ref = Cut(source, channels, kStart, kFrames);
        for (const std::int64_t delay : {0, 1, 1105, -480, 24000}) {
            SCOPED_TRACE(testing::Message() << channels << " channel(s), delay " << delay);
            // The test's sample i + delay is the reference's sample i, with
            // noise of its own on top as a codec would add.
            const Samples test = velumar::testing::AddNoise(
                Cut(source, channels, static_cast<std::size_t>(static_cast<std::int64_t>(kStart) - delay), kFrames),
                400.0, 9);
            const PairCheck check = AnalysePair(ref, test, channels);
            EXPECT_EQ(check.delay_samples, delay);
            EXPECT_DOUBLE_EQ(check.delay_ms, static_cast<double>(delay) / 48.0);
            EXPECT_TRUE(check.delay_trusted);
            EXPECT_GT(check.correlation, 0.9);
            EXPECT_EQ(check.HasWarning("delay"), delay != 0);
        }
    }
}

TEST(PairAnalysis, SearchStopsAtTheMaximumDelayAcceptsDifferentLengthsAndTrustsNoPeriodicPeak)
{
    const Samples source = Noise(48000 * 3, 1, 5);
    const Samples ref = Cut(source, 1, 0, 48000 * 2);
    // Late by 2400 samples (50 ms) and one second longer.
    Samples test(2400, 0);
    test.insert(test.end(), source.begin(), source.end() - 2400);
    velumar::app::AnalysisSettings narrow;
    narrow.max_delay_ms = 40.0;
    const PairCheck outside = AnalysePair(ref, test, 1, narrow);
    EXPECT_FALSE(outside.delay_trusted);
    EXPECT_FALSE(outside.HasWarning("delay"));
    EXPECT_LE(std::abs(outside.delay_samples), 1920);

    const PairCheck inside = AnalysePair(ref, test, 1);
    EXPECT_EQ(inside.delay_samples, 2400);
    EXPECT_TRUE(inside.HasWarning("delay"));

    // A 1 kHz tone matches itself every 48 samples: a shift cannot be told.
    Samples tone(48000 * 2);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<std::int16_t>(std::lround(8000.0 * std::sin(2.0 * 3.14159265358979 * 1000.0 * static_cast<double>(i) / 48000.0)));
    const PairCheck steady = AnalysePair(tone, Samples(tone.begin() + 100, tone.end()), 1);
    EXPECT_FALSE(steady.delay_trusted);
    EXPECT_FALSE(steady.HasWarning("delay"));
}

// Tests made from the reference in known ways, each with the warnings the
// check must give and the flags behind them; identical material and
// unrelated noise among them.
TEST(PairAnalysis, LevelPolarityChannelOrderAndUnrelatedMaterial)
{
    const Samples ref = Noise(48000 * 3, 2, 11);
    // Channels 0.93 alike, as a centred voice over a stereo bed makes them:
    // a swapped copy is still found, a codec-like noisy copy is not swapped.
    const Samples bed = Noise(48000 * 2, 2, 21, 2500.0);
    const Samples voice = Noise(48000 * 2, 1, 22, 9000.0);
    Samples alike(bed.size()), dual;
    for (std::size_t i = 0; i < voice.size(); ++i) {
        alike[2 * i] = static_cast<std::int16_t>(bed[2 * i] + voice[i]);
        alike[2 * i + 1] = static_cast<std::int16_t>(bed[2 * i + 1] + voice[i]);
    }
    // The same material in both channels cannot be swapped.
    for (const std::int16_t v : Noise(48000 * 2, 1, 12)) dual.insert(dual.end(), {v, v});
    const Samples music[2] = {velumar::testing::MusicSignal(48000 * 3, 1), velumar::testing::MusicSignal(48000 * 3, 2)};
    const struct {
        const char *what;
        Samples ref, test;
        unsigned channels;
        std::vector<std::string> warnings;
        double gain_db;  // NaN: not checked
        bool inverted, swapped;
    } cases[] = {
        {"6 dB quieter", ref, Scaled(ref, std::pow(10.0, -6.0 / 20.0)), 2, {"level"}, -6.0, false, false},
        {"0.3 dB quieter", ref, Scaled(ref, std::pow(10.0, -0.3 / 20.0)), 2, {}, -0.3, false, false},
        {"inverted", ref, Scaled(ref, -1.0), 2, {"inverted"}, std::nan(""), true, false},
        // Paired as found, the level still reads right.
        {"swapped, half", ref, Swapped(Scaled(ref, 0.5)), 2, {"level", "swapped"}, 20.0 * std::log10(0.5), false, true},
        {"alike, swapped", alike, Swapped(alike), 2, {"swapped"}, std::nan(""), false, true},
        {"alike, noisy", alike, velumar::testing::AddNoise(alike, 1500.0, 23), 2, {}, std::nan(""), false, false},
        {"one material, swapped", dual, Swapped(dual), 2, {}, std::nan(""), false, false},
        {"identical mono", music[0], music[0], 1, {}, 0.0, false, false},
        {"identical stereo", music[1], music[1], 2, {}, 0.0, false, false},
        {"unrelated", Noise(48000 * 5, 2, 21), Noise(48000 * 5, 2, 22), 2, {"unrelated"}, std::nan(""), false, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const PairCheck check = AnalysePair(c.ref, c.test, c.channels);
        EXPECT_EQ(check.warnings, c.warnings);
        EXPECT_EQ(check.inverted, c.inverted);
        EXPECT_EQ(check.swapped, c.swapped);
        if (!std::isnan(c.gain_db)) EXPECT_NEAR(check.gain_db, c.gain_db, 0.05);
        if (c.ref == c.test) {
            EXPECT_EQ(check.delay_samples, 0);
            EXPECT_NEAR(check.correlation, 1.0, 1e-9);
            EXPECT_EQ(check.gain_db, 0.0);
        }
        if (c.warnings == std::vector<std::string>{"inverted"}) EXPECT_LT(check.correlation, -0.99);
        if (c.warnings == std::vector<std::string>{"unrelated"}) {
            EXPECT_LT(std::abs(check.correlation), 0.05);
            EXPECT_FALSE(check.delay_trusted);
        }
    }
}

TEST(PairAnalysis, SilenceAndClipping)
{
    const Samples quiet = Noise(48000, 1, 31, 8.0);
    const PairCheck silent = AnalysePair(quiet, Noise(48000, 1, 32), 1);
    EXPECT_TRUE(silent.silent);
    EXPECT_EQ(silent.warnings, std::vector<std::string>{"silent"});

    const PairCheck empty = AnalysePair({}, {}, 2);
    EXPECT_TRUE(empty.silent);

    // Four times louder: most peaks run into full scale.
    const Samples ref = Noise(48000 * 2, 2, 33, 20000.0);
    const PairCheck clipped = AnalysePair(ref, Scaled(ref, 4.0), 2);
    EXPECT_TRUE(clipped.clipped);
    EXPECT_GT(clipped.test_clipped_values, 1000u);
    EXPECT_EQ(clipped.reference_clipped_values, 0u);
    // Clipping the reference shares is not the test's fault.
    EXPECT_FALSE(AnalysePair(Scaled(ref, 4.0), Scaled(ref, 4.0), 2).clipped);

    // The whole-signal scans report their progress block by block, up to
    // each signal's end and never beyond, and change nothing by it.
    const Samples long_ref = Noise(48000 * 7, 2, 34, 20000.0);
    const Samples long_test = Scaled(long_ref, 4.0);
    std::vector<std::size_t> reports[2];
    velumar::app::AnalysisSettings watched;
    watched.scanned = [&](int signal, std::size_t values) { reports[signal].push_back(values); };
    const PairCheck seen = AnalysePair(long_ref, long_test, 2, watched);
    const PairCheck unseen = AnalysePair(long_ref, long_test, 2);
    EXPECT_EQ(seen.test_clipped_values, unseen.test_clipped_values);
    for (int signal : {0, 1}) {
        const std::size_t length = (signal == 0 ? long_ref : long_test).size();
        ASSERT_GE(reports[signal].size(), 2u) << signal;
        EXPECT_LT(reports[signal].front(), length) << "reported only at the end";
        EXPECT_GE(std::count(reports[signal].begin(), reports[signal].end(), length), 1) << signal;
        for (std::size_t v : reports[signal]) EXPECT_LE(v, length) << signal;
    }
}

TEST(PairAnalysis, ClippingCountedPieceByPiece)
{
    // Left: runs of 3, 2 and 4 (the last one at the end); right: runs of 2
    // and 3, the second of the lowest value.
    const std::int16_t F = 32767, N = -32768, m = -32767;
    const Samples stereo = {0, 0, F, 5, F, F, m, F, 7, 1, 0, N, F, N, N, N, 2, 0, F, 0, F, 3, F, 0, F, 0};
    constexpr std::uint64_t kStereoRuns = 3 + 3 + 4;  // the runs of 2 do not count
    const Samples mono = {F, F, 1, F, F, F, 0, m, N, m, N};
    constexpr std::uint64_t kMonoRuns = 3 + 4;
    ASSERT_EQ(AnalysePair(Samples(stereo.size(), 0), stereo, 2).test_clipped_values, kStereoRuns);
    ASSERT_EQ(AnalysePair(Samples(mono.size(), 0), mono, 1).test_clipped_values, kMonoRuns);
    // Pieces that split frames, end inside runs or hold no full-scale value.
    for (const std::size_t piece : {1u, 2u, 3u, 5u, 8u, 64u}) {
        for (const auto &[x, channels, runs] : {std::tuple{stereo, 2u, kStereoRuns}, std::tuple{mono, 1u, kMonoRuns}}) {
            velumar::app::ClippingCounter counter(channels);
            for (std::size_t at = 0; at < x.size(); at += piece) counter.Feed(x.data() + at, std::min(piece, x.size() - at));
            EXPECT_EQ(counter.total(), runs) << "pieces of " << piece << ", " << channels << " channel(s)";
        }
    }
    // A check made without the clipping gets it, with its warning in place.
    velumar::app::AnalysisSettings later;
    later.count_clipping = false;
    const Samples noise = Noise(48000, 2, 43);
    const Samples other = Scaled(Noise(48000, 2, 44, 20000.0), 4.0);
    PairCheck check = AnalysePair(noise, other, 2, later);
    EXPECT_EQ(check.test_clipped_values, 0u);
    velumar::app::AddClipping(check, 0, 100);
    const PairCheck whole = AnalysePair(noise, other, 2);
    EXPECT_EQ(check.warnings, whole.warnings);
    EXPECT_EQ(check.warnings, (std::vector<std::string>{"clipped", "unrelated"}));
}

TEST(PairAnalysis, RefusesWhatItCannotAnalyse)
{
    const Samples x = Noise(1000, 1, 41);
    EXPECT_THROW(AnalysePair(x, x, 3), std::invalid_argument);
    EXPECT_THROW(AnalysePair(x, x, 0), std::invalid_argument);
    velumar::app::AnalysisSettings bad;
    bad.max_delay_ms = std::nan("");
    EXPECT_THROW(AnalysePair(x, x, 1, bad), std::invalid_argument);
    // A stereo signal with a dangling value, and a one-frame pair.
    Samples odd = Noise(2001, 1, 42);
    EXPECT_NO_THROW(AnalysePair(odd, odd, 2));
    EXPECT_NO_THROW(AnalysePair(Samples{1000}, Samples{1000}, 1));
}

} // namespace
