// The per-frame record an observer receives must be what the averaging took:
// averaged over the frames by the MOVs' own rules, it gives the MOVs back.
#include "golden_signals.h"
#include "support.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace {

using namespace velumar::golden;
using velumar::test::make_instance;
using velumar::test::stdout_of;

// Loud music, a silence (no frame energy: no EHS), a quiet passage (not
// loud: noise loudness computed), then loud again; the test signal has
// noise over part of it, so some frames are disturbed and others are not.
Signal program(bool stereo)
{
    const auto channel = [](std::uint64_t seed, double peak) {
        const Wave loud = music(30000, seed, peak);
        return concat(concat(concat(loud, silence(12000)), music(16000, seed + 1, 40.0)), music(20000, seed + 2, peak));
    };
    const Wave l = channel(41, 16000.0), r = channel(45, 12000.0);
    const auto degrade = [](const Wave &x, std::uint64_t seed) {
        Wave y = x;
        const Wave noisy = add_noise(x, 12.0, seed);
        for (std::size_t i = 50000; i < 70000; ++i) y[i] = noisy[i];
        return requantise(y, 2.0);
    };
    if (!stereo) return {"mono", 1, pcm(l), pcm(degrade(l, 7))};
    return {"stereo", 2, pcm(l, r), pcm(degrade(l, 7), degrade(r, 8))};
}

struct Observed {
    std::vector<VELUMAR_FRAME> frames;
    M_RESULTS results{};
};

void record(void *user, const VELUMAR_FRAME *frame) { static_cast<Observed *>(user)->frames.push_back(*frame); }

Observed observe(const Signal &sig, const std::vector<std::uint32_t> &blocks)
{
    Observed run;
    auto h = make_instance(sig.channels == 2);
    EXPECT_EQ(velumar_set_frame_observer(h.get(), record, &run), 0);
    for (std::size_t done = 0, i = 0; done < sig.reference.size(); ++i) {
        const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(blocks[i % blocks.size()], sig.reference.size() - done));
        const M_BUFFER r{sig.reference.data() + done, n}, t{sig.test.data() + done, n};
        EXPECT_EQ(method(h.get(), &r, &t), 0);
        done += n;
    }
    EXPECT_EQ(get_model_results(h.get(), &run.results), 0);
    // The plain grade agrees with the results record and can be asked again.
    EXPECT_EQ(get_objective_difference_grade(h.get()), run.results.odg);
    EXPECT_EQ(get_objective_difference_grade(h.get()), run.results.odg);
    return run;
}

TEST(FrameObserver, AveragedByTheMovRulesTheRecordsGiveTheMovsBackWhateverTheBlockSizes)
{
    for (bool stereo : {false, true}) {
        const Observed run = observe(program(stereo), {4096});
        const std::uint32_t channels = stereo ? 2 : 1;
        ASSERT_EQ(run.frames.size(), run.results.frames);
        ASSERT_GT(run.results.frames, 23u);
        int loud = 0, energetic = 0;
        for (std::uint32_t j = 0; j < run.frames.size(); ++j) {
            const VELUMAR_FRAME &f = run.frames[j];
            EXPECT_EQ(f.index, j);
            EXPECT_EQ(f.channels, channels);
            loud += f.loud;
            energetic += f.energy;
            EXPECT_EQ(std::isnan(f.detection_probability_binaural), !stereo) << j;
        }
        // The signal exercises both sides of both flags.
        ASSERT_GT(loud, 0);
        ASSERT_LT(loud, static_cast<int>(run.frames.size()));
        ASSERT_GT(energetic, 0);
        ASSERT_LT(energetic, static_cast<int>(run.frames.size()));

        for (std::uint32_t ch = 0; ch < channels; ++ch) {
            double disturbed = 0.0, nmr = 0.0, ehs = 0.0, noise_sq = 0.0;
            int ehs_frames = 0, noise_frames = 0;
            for (const VELUMAR_FRAME &f : run.frames) {
                const VELUMAR_FRAME_CHANNEL &c = f.channel[ch];
                disturbed += c.disturbed;
                nmr += c.nmr;
                EXPECT_EQ(std::isnan(c.ehs), f.energy == 0) << f.index;
                EXPECT_EQ(std::isnan(c.noise_loudness), f.loud == 1) << f.index;
                if (f.energy == 1) {
                    ehs += c.ehs;
                    ++ehs_frames;
                }
                if (f.index >= 23 && f.loud == 0) {  // the RMS takes frames from 23 on
                    noise_sq += c.noise_loudness * c.noise_loudness;
                    ++noise_frames;
                }
            }
            const double n = static_cast<double>(run.frames.size());
            const double *movs = run.results.channel_movs[ch];
            EXPECT_GT(disturbed, 0.0);
            EXPECT_LT(disturbed, n);
            EXPECT_EQ(disturbed / n, movs[M_MOV_REL_DIST_FRAMES]) << "channel " << ch;
            EXPECT_NEAR(10.0 * std::log10(nmr / n), movs[M_MOV_TOTAL_NMR], 1e-12) << "channel " << ch;
            EXPECT_NEAR(ehs / ehs_frames * 1000.0, movs[M_MOV_EHS], 1e-9) << "channel " << ch;
            ASSERT_GT(noise_frames, 0);
            EXPECT_NEAR(std::sqrt(noise_sq / noise_frames), movs[M_MOV_RMS_NOISE_LOUD], 1e-12) << "channel " << ch;
        }
        if (!stereo) {
            // The missing channel carries nothing that could pass for a value.
            for (const VELUMAR_FRAME &f : run.frames) {
                EXPECT_TRUE(std::isnan(f.channel[1].nmr));
                EXPECT_TRUE(std::isnan(f.channel[1].detection_probability));
                EXPECT_EQ(f.channel[1].bandwidth_ref, 0u);
            }
        }
        // Blocks of any size give the same records and results.
        const Observed odd = observe(program(stereo), {1, 1000, 2047, 100000, 3});
        ASSERT_EQ(odd.frames.size(), run.frames.size());
        for (std::size_t j = 0; j < run.frames.size(); ++j)
            EXPECT_EQ(std::memcmp(&odd.frames[j], &run.frames[j], sizeof(VELUMAR_FRAME)), 0) << "frame " << j;
        EXPECT_EQ(std::memcmp(&odd.results, &run.results, sizeof(M_RESULTS)), 0);
    }
}

TEST(FrameObserver, FieldsByNumberAndRegistration)
{
    const Observed run = observe(program(false), {4096});
    for (const VELUMAR_FRAME &f : run.frames) {
        const VELUMAR_FRAME_CHANNEL &c = f.channel[0];
        const double expected[] = {double(c.bandwidth_ref), double(c.bandwidth_test), c.nmr, double(c.disturbed),
                                   c.moddiff1, c.moddiff2, c.temporal_weight, c.noise_loudness, c.ehs,
                                   c.detection_probability};
        for (std::int32_t field = 0; field < VELUMAR_FRAME_FIELD_COUNT; ++field) {
            double v = 0.0;
            const std::int32_t code = velumar_frame_field(&f, 0, field, &v);
            EXPECT_EQ(code, std::isnan(expected[field]) ? 1 : 0) << velumar_frame_field_name(field) << " " << f.index;
            if (code == 0) {
                EXPECT_EQ(v, expected[field]) << velumar_frame_field_name(field);
            }
        }
        double v = 42.0;
        EXPECT_EQ(velumar_frame_field(&f, 1, VELUMAR_FRAME_NMR, &v), 2) << "one channel only";
        EXPECT_EQ(velumar_frame_field(&f, 0, VELUMAR_FRAME_FIELD_COUNT, &v), 2);
        EXPECT_EQ(velumar_frame_field(&f, 0, -1, &v), 2);
        EXPECT_EQ(velumar_frame_field(&f, 0, VELUMAR_FRAME_NMR, nullptr), 2);
        EXPECT_EQ(v, 42.0);
    }

    // Removing the observer stops the calls; a missing instance is refused.
    Observed later;
    auto h = make_instance(false);
    ASSERT_EQ(velumar_set_frame_observer(h.get(), record, &later), 0);
    const Signal sig = program(false);
    const M_BUFFER r{sig.reference.data(), 8192}, t{sig.test.data(), 8192};
    ASSERT_EQ(method(h.get(), &r, &t), 0);
    EXPECT_EQ(later.frames.size(), 7u);
    ASSERT_EQ(velumar_set_frame_observer(h.get(), nullptr, &later), 0);
    ASSERT_EQ(method(h.get(), &r, &t), 0);
    EXPECT_EQ(later.frames.size(), 7u);
    EXPECT_EQ(stdout_of([] { EXPECT_EQ(velumar_set_frame_observer(nullptr, record, nullptr), 1); }),
              "Error of input datas (HANDLE) for the function - velumar_set_frame_observer()!\n");
}

} // namespace
