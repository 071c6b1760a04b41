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

// A stage that fails ends method() with that stage's code, and the frame in
// hand is not counted. Only a damaged record makes a stage fail; a channel
// mode other than 0 and 1 stands in for one here.
TEST(FrameLoop, AFailingStageEndsTheCallWithItsCodeAndTheFrameIsNotCounted)
{
    auto s = make_instance(false);
    s->stereo = 3;
    std::vector<std::int16_t> block(2048, 100);
    const M_BUFFER b{block.data(), 2048};
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(method(s.get(), &b, &b), 1); }), "ERROR check_energy_threshold_for_frames()\n");
    EXPECT_EQ(s->frame_index, 0u);

    s->version = 1;
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(method(s.get(), &b, &b), 1); }),
              "Error of input datas (HANDLE) for the function - method()!\n");
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

// The band energies of the signals and of the noise are the sums the
// index table describes, of lines weighted by the outer ear (and, for the
// noise, differenced) one by one: every line a band reads has been
// weighted and differenced, bit for bit as the simple form would.
TEST(EarModel, BandEnergiesAreTheIndexedSumsOfWeightedLines)
{
    for (const bool stereo : {true, false}) {
        auto s = make_instance(stereo);
        const int channels = stereo ? 2 : 1;
        Random r(8);
        std::vector<std::vector<double>> spectra;
        for (M_ARRAY *a : {&s->spectrum_ref_ch1, &s->spectrum_ref_ch2, &s->spectrum_test_ch1, &s->spectrum_test_ch2}) {
            spectra.emplace_back(a->data != nullptr ? a->length : 0);
            if (a->data == nullptr) continue;
            for (std::uint32_t k = 0; k < a->length; ++k) {
                a->data[k] = std::exp(30.0 * r.uniform());
                spectra.back()[k] = a->data[k] * (s->outer_ear.data[k] * s->outer_ear.data[k]);
            }
        }
        ASSERT_EQ(outer_ear_weighting_frames(s.get()), 0);
        ASSERT_EQ(get_noise_of_current_frames(s.get()), 0);
        ASSERT_EQ(grouping_into_critical_bands_for_frames(s.get()), 0);
        ASSERT_EQ(grouping_noise_into_critical_bands_for_frames(s.get()), 0);
        const auto group = [&](const auto &line, std::uint32_t k) {
            const BAND_BINS &band = s->band_bins.data[k];
            double energy = 0.0;
            for (std::uint32_t j = 0; j < band.count; ++j) energy += line(band.indices[j]) * band.weights[j];
            return energy;
        };
        const double *bands[] = {s->band_energy_ref_ch1.data, s->band_energy_ref_ch2.data, s->band_energy_test_ch1.data,
                                 s->band_energy_test_ch2.data};
        const double *noise[] = {s->noise_band_energy_ch1.data, s->noise_band_energy_ch2.data};
        for (std::uint32_t k = 0; k < s->band_count; ++k) {
            for (int c = 0; c < 4; ++c) {
                if (c % 2 >= channels) continue;
                ASSERT_EQ(bands[c][k], group([&](std::uint32_t i) { return spectra[c][i]; }, k)) << k;
            }
            for (int ch = 0; ch < channels; ++ch) {
                const auto difference = [&](std::uint32_t i) {
                    const double ref = spectra[ch][i], test = spectra[2 + ch][i];
                    return test + ref - 2.0 * std::sqrt(test * ref);
                };
                ASSERT_EQ(noise[ch][k], group(difference, k)) << k;
            }
        }
    }
}

} // namespace
