#include "stages.h"
#include "support.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

using namespace velumar::model;
using velumar::test::make_instance;
using velumar::test::Random;
using velumar::test::stdout_of;

void fill_random(M_ARRAY &a, Random &r, double lo_db, double hi_db)
{
    for (std::uint32_t i = 0; i < a.length; ++i)
        a.data[i] = std::pow(10.0, (lo_db + (hi_db - lo_db) * 0.5 * (r.uniform() + 1.0)) / 10.0);
}

TEST(BackHalfStages, ACorruptChannelModeFailsEachStageWithItsMessage)
{
    const std::pair<std::int32_t (*)(M_STATE *), const char *> stages[] = {
        {get_error_harmonic_structure_for_frames, "ERROR get_error_harmonic_structure_for_frames()\n"},
        {outer_ear_weighting_frames, "ERROR in outer_ear_weighting_frames\n"},
        {get_noise_of_current_frames, "ERROR get_noise_of_current_frames()\n"},
        {grouping_into_critical_bands_for_frames, "ERROR - grouping_into_critical_bands_for_frames()\n"},
        {adding_internal_noise_for_frames, "ERROR adding_internal_noise_for_frames()\n"},
        {frequency_spreading_for_frames, "ERROR frequency_spreading_for_frames()\n"},
        {time_spreading_for_frames, "ERROR time_spreading_for_frames()1\n"},
        {get_masking_threshold, "ERROR get_masking_threshold()\n"},
        {smoothing_excitation_for_frames, "ERROR get_masking_threshold()\n"},
        {get_correction_factor, "ERROR get_correction_factor()\n"},
        {pattern_adaptation_for_frames, "ERROR pattern_adaptation_for_frames()\n"},
        {get_modulation_for_frames, "ERROR get_modulation_for_frames()\n"},
        {get_loudnes_for_frames, "ERROR get_loudnes_for_frames()\n"},
        {get_total_loudness_for_frames, "ERROR get_modulation_for_frames()\n"},
        {check_loudness_threshold_for_frames, "ERROR get_noise_of_current_frames()\n"},
        {grouping_noise_into_critical_bands_for_frames, "ERROR get_masking_threshold()\n"},
        {get_modulation_difference_for_frames, "ERROR get_modulation_difference_for_frames()\n"},
        {get_overall_loudnes_of_noise_for_frames, "ERROR get_overall_loudnes_of_noise_for_frames()\n"},
        {get_noise_to_mask_ratio_for_frames, "ERROR get_noise_to_mask_ratio_for_frames()\n"},
        {get_detection_probability_for_frames, "ERROR get_detection_probability_for_frames()\n"},
        {calculating_values_for_MFPD_and_ADB_for_frames, "ERROR calculating_values_for_MFPD_and_ADB_for_frames()\n"},
    };
    auto s = make_instance(true);
    s->stereo = 2;
    for (const auto &[stage, message] : stages) {
        std::int32_t code = 0;
        EXPECT_EQ(stdout_of([&] { code = stage(s.get()); }), message);
        EXPECT_EQ(code, 1) << message;
    }
    EXPECT_EQ(outer_ear_weighting_frames(nullptr), 1);
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(averaging_of_all_mov(s.get()), 2); }), "error:'averaging_of_all_mov()'\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(get_all_mov(s.get()), 2); }), "error:'averaging_of_all_mov()'\n");
    s->version = 1;
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(averaging_of_all_mov(s.get()), 1); }),
              "Error'averaging_of_all_mov()' - version is no basic\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(get_all_mov(s.get()), 1); }), "Error'get_all_mov()' - version is no basic\n");
}

TEST(EarModel, WeightsSpectraAndGroupsThemByLineOverlap)
{
    auto s = make_instance(false);
    Random r(7);
    fill_random(s->spectrum_ref_ch1, r, 0.0, 90.0);
    fill_random(s->spectrum_test_ch1, r, 0.0, 90.0);
    const std::vector<double> ref(s->spectrum_ref_ch1.data, s->spectrum_ref_ch1.data + 1024);
    const std::vector<double> test(s->spectrum_test_ch1.data, s->spectrum_test_ch1.data + 1024);
    ASSERT_EQ(outer_ear_weighting_frames(s.get()), 0);
    ASSERT_EQ(get_noise_of_current_frames(s.get()), 0);
    for (std::uint32_t k = 0; k < 1024; ++k) {
        const double w2 = s->outer_ear.data[k] * s->outer_ear.data[k];
        EXPECT_DOUBLE_EQ(s->spectrum_ref_ch1.data[k], ref[k] * w2);
        const double diff = std::sqrt(test[k] * w2) - std::sqrt(ref[k] * w2);
        EXPECT_NEAR(s->noise_spectrum_ch1.data[k], diff * diff, 1e-12 * (ref[k] + test[k]) * w2);
    }
    ASSERT_EQ(grouping_into_critical_bands_for_frames(s.get()), 0);
    ASSERT_EQ(grouping_noise_into_critical_bands_for_frames(s.get()), 0);
    // Each line covers res Hz around its centre and gives the band the share
    // of that interval that falls inside it.
    const double res = s->freq_resolution;
    for (std::uint32_t b = 0; b < 109; ++b) {
        double energy = 0.0, noise = 0.0;
        for (std::uint32_t k = 0; k < 1024; ++k) {
            const double lo = std::max((k - 0.5) * res, s->band_lower.data[b]);
            const double hi = std::min((k + 0.5) * res, s->band_upper.data[b]);
            if (hi <= lo) continue;
            energy += s->spectrum_ref_ch1.data[k] * (hi - lo) / res;
            noise += s->noise_spectrum_ch1.data[k] * (hi - lo) / res;
        }
        EXPECT_NEAR(s->band_energy_ref_ch1.data[b], energy, 1e-12 * energy) << b;
        EXPECT_NEAR(s->noise_band_energy_ch1.data[b], noise, 1e-12 * noise + 1e-300) << b;
    }
    // A silent spectrum leaves exactly the internal noise.
    std::fill_n(s->spectrum_test_ch1.data, 1024, 0.0);
    ASSERT_EQ(grouping_into_critical_bands_for_frames(s.get()), 0);
    ASSERT_EQ(adding_internal_noise_for_frames(s.get()), 0);
    for (std::uint32_t b = 0; b < 109; ++b) EXPECT_EQ(s->band_energy_test_ch1.data[b], s->internal_noise.data[b]);
}

// The spreading exactly as its formulas read, every weight a power of ten
// of its own, pair by pair; the stage reaches the same values through
// geometric sequences.
std::vector<double> spread_pair_by_pair(const M_STATE &s, const double *e)
{
    const double dz = 0.25;
    std::vector<double> slope(109), out(109);
    for (std::uint32_t j = 0; j < 109; ++j) slope[j] = 2.0 * std::log10(e[j]) - 24.0 - 230.0 / s.band_centre.data[j];
    const auto weight = [&](std::uint32_t i, std::uint32_t j) {
        return i < j ? std::pow(10.0, -static_cast<double>(j - i) * 27.0 * dz * 0.1)
                     : std::pow(10.0, static_cast<double>(i - j) * slope[j] * dz * 0.1);
    };
    for (std::uint32_t k = 0; k < 109; ++k) {
        double sum = 0.0;
        for (std::uint32_t j = 0; j < 109; ++j) {
            double row = 0.0;
            for (std::uint32_t i = 0; i < 109; ++i) row += weight(i, j);
            sum += std::pow(e[j] * weight(k, j) / row, 0.4);
        }
        out[k] = std::pow(sum, 2.5) / s.spread_norm.data[k];
    }
    return out;
}

TEST(EarModel, SpreadingAgreesWithThePairByPairFormulasOverTheWholeLevelRange)
{
    auto s = make_instance(false);
    Random r(3);
    std::vector<std::vector<double>> patterns;
    patterns.emplace_back(109, 1.0);  // 0 dB everywhere: the normaliser's own pattern
    for (auto [lo, hi] : {std::pair{10.0, 80.0}, {0.0, 20.0}, {100.0, 140.0}}) {
        patterns.emplace_back(109);
        for (double &v : patterns.back()) v = std::pow(10.0, (lo + (hi - lo) * 0.5 * (r.uniform() + 1.0)) / 10.0);
    }
    // The upward slope crosses zero at E = 10^(12 + 115/fc) and turns
    // positive above it: the geometric sums must not care.
    patterns.emplace_back(109);
    for (std::uint32_t j = 0; j < 109; ++j) patterns.back()[j] = std::pow(10.0, 12.0 + 115.0 / s->band_centre.data[j]);
    patterns.emplace_back(109, 1e15);
    patterns.emplace_back(109, 2.0);  // one loud band among quiet ones
    patterns.back()[60] = 1e9;

    for (std::size_t p = 0; p < patterns.size(); ++p) {
        std::copy(patterns[p].begin(), patterns[p].end(), s->band_energy_ref_ch1.data);
        ASSERT_EQ(frequency_spreading_for_frames(s.get()), 0);
        const std::vector<double> want = spread_pair_by_pair(*s, patterns[p].data());
        for (std::uint32_t k = 0; k < 109; ++k)
            EXPECT_NEAR(s->spread_energy_ref_ch1.data[k], want[k], 1e-13 * want[k]) << "pattern " << p << " band " << k;
    }
}

TEST(EarModel, TimeSpreadingSmoothingAndThresholdFollowTheirRecursions)
{
    auto s = make_instance(false);
    // One loud frame, then quiet ones: the excitation decays by a per frame
    // towards the quiet pattern (forward masking).
    const double levels[] = {1e6, 1e2, 1e2, 1e2, 1e2, 1e2};
    std::vector<double> memory(109, 0.0), smoothed(109, 0.0);
    for (double level : levels) {
        std::fill_n(s->spread_energy_ref_ch1.data, 109, level);
        std::fill_n(s->spread_energy_test_ch1.data, 109, 1e4);
        ASSERT_EQ(time_spreading_for_frames(s.get()), 0);
        ASSERT_EQ(get_masking_threshold(s.get()), 0);
        ASSERT_EQ(smoothing_excitation_for_frames(s.get()), 0);
        for (std::uint32_t k = 0; k < 109; ++k) {
            const double a = s->time_spread_a.data[k];
            memory[k] = (1.0 - a) * level + a * memory[k];
            const double excitation = std::max(memory[k], level);
            EXPECT_DOUBLE_EQ(s->excitation_ref_ch1.data[k], excitation);
            EXPECT_DOUBLE_EQ(s->time_spread_state_ref_ch1.data[k], memory[k]);
            // A steady pattern is approached from below and never exceeded.
            EXPECT_EQ(s->excitation_test_ch1.data[k], 1e4);
            EXPECT_LE(s->time_spread_state_test_ch1.data[k], 1e4);
            const double b = s->adapt_a.data[k];
            smoothed[k] = b * smoothed[k] + (1.0 - b) * excitation;
            EXPECT_DOUBLE_EQ(s->smoothed_excitation_ref_ch1.data[k], smoothed[k]);
        }
        // 3 dB below the excitation up to band 48, then 1/16 dB more per band.
        EXPECT_DOUBLE_EQ(s->mask_threshold_ch1.data[48], s->excitation_ref_ch1.data[48] * std::pow(10.0, -0.3));
        EXPECT_DOUBLE_EQ(s->mask_threshold_ch1.data[49], s->excitation_ref_ch1.data[49] * std::pow(10.0, -0.30625));
        EXPECT_DOUBLE_EQ(s->mask_threshold_ch1.data[108], s->excitation_ref_ch1.data[108] * std::pow(10.0, -0.675));
    }
}

} // namespace
