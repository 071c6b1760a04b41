#include "stages.h"
#include "support.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using namespace velumar::model;
using velumar::test::make_instance;
using velumar::test::Random;
using velumar::test::stdout_of;

TEST(Stages, ACorruptChannelModeFailsEachStageWithItsMessage)
{
    const std::pair<std::int32_t (*)(M_STATE *), const char *> stages[] = {
        {check_energy_threshold_for_frames, "ERROR check_energy_threshold_for_frames()\n"},
        {spectrum_calculation_for_frames, "ERROR spectrum calculation\n"},
        {get_bandwidth_of_current_frames, "ERROR get_bandwidth_of_current_frames()\n"},
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
    auto s = make_instance(false);
    s->stereo = 3;
    for (const auto &[stage, message] : stages) {
        std::int32_t code = 0;
        EXPECT_EQ(stdout_of([&] { code = stage(s.get()); }), message);
        EXPECT_EQ(code, 1) << message;
    }
    EXPECT_EQ(outer_ear_weighting_frames(nullptr), 1);
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(averaging_of_all_mov(s.get()), 2); }), "error:'averaging_of_all_mov()'\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(get_all_mov(s.get()), 2); }), "error:'averaging_of_all_mov()'\n");

    // The frame loop reports the first stage's code and does not count the frame.
    std::vector<std::int16_t> block(2048, 100);
    const M_BUFFER b{block.data(), 2048};
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(method(s.get(), &b, &b), 1); }), "ERROR check_energy_threshold_for_frames()\n");
    EXPECT_EQ(s->frame_index, 0u);

    s->version = 1;
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(method(s.get(), &b, &b), 1); }),
              "Error of input datas (HANDLE) for the function - method()!\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(averaging_of_all_mov(s.get()), 1); }),
              "Error'averaging_of_all_mov()' - version is no basic\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(get_all_mov(s.get()), 1); }), "Error'get_all_mov()' - version is no basic\n");
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

} // namespace
