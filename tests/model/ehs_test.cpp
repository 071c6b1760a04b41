#include "stages.h"
#include "support.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace {

using namespace velumar::model;
using velumar::test::make_instance;
using velumar::test::Random;

constexpr double kPi = 3.141592653589793;

// Fills channel `ch` with reference and test spectra from two line functions
// and returns the channel's EHS; S of the last channel stays in ehs_buf_a.
double ehs_of(M_STATE *s, int ch, const std::function<double(int)> &ref, const std::function<double(int)> &test)
{
    M_ARRAY &r = ch == 0 ? s->spectrum_ref_ch1 : s->spectrum_ref_ch2;
    M_ARRAY &t = ch == 0 ? s->spectrum_test_ch1 : s->spectrum_test_ch2;
    for (int k = 0; k < 1024; ++k) r.data[k] = ref(k), t.data[k] = test(k);
    EXPECT_EQ(get_error_harmonic_structure_for_frames(s), 0);
    return ch == 0 ? s->ehs_value_ch1 : s->ehs_value_ch2;
}

int peak_line(const M_STATE *s) { return static_cast<int>(std::max_element(s->ehs_buf_a.data + 1, s->ehs_buf_a.data + 128) - s->ehs_buf_a.data); }

TEST(ErrorHarmonicStructure, FindsThePeriodOfAComblikeError)
{
    auto s = make_instance(false);
    const double comb = ehs_of(s.get(), 0, [](int) { return 1.0; },
                               [](int k) { return 1.0 + 0.5 * std::cos(2.0 * kPi * k / 16.0); });
    EXPECT_NEAR(comb, 0.1494, 5e-5);
    EXPECT_EQ(peak_line(s.get()), 16);
    const double sine = ehs_of(s.get(), 0, [](int k) { return std::pow(10.0, 0.1 * (1.0 + std::sin(2.0 * kPi * k / 8.0))); },
                               [](int) { return 1.0; });
    EXPECT_NEAR(sine, 0.01837, 5e-6);
    EXPECT_EQ(peak_line(s.get()), 32);
}

TEST(ErrorHarmonicStructure, IsZeroForNoErrorAndForAConstantRatio)
{
    auto s = make_instance(true);
    Random r(9);
    std::fill_n(s->spectrum_ref_ch1.data, 1024, 3.0);
    std::fill_n(s->spectrum_test_ch1.data, 1024, 3.0);
    // Channel 2 carries a comb error; channel 1 must not see it.
    EXPECT_NEAR(ehs_of(s.get(), 1, [](int) { return 1.0; }, [](int k) { return 1.0 + 0.5 * std::cos(2.0 * kPi * k / 16.0); }),
                0.1494, 5e-5);
    EXPECT_EQ(s->ehs_value_ch1, 0.0);
    std::vector<double> line(1024);
    for (double &v : line) v = 1.0 + 0.9 * r.uniform();
    EXPECT_NEAR(ehs_of(s.get(), 1, [&](int k) { return 4.0 * line[k]; }, [&](int k) { return line[k]; }), 0.0, 1e-20);
    // Silent lines take the fixed stand-ins.
    ehs_of(s.get(), 0, [](int k) { return k == 5 ? 0.0 : 1.0; }, [](int k) { return k == 6 || k == 7 ? 0.0 : 1.0; });
    EXPECT_EQ(s->ehs_d_ch1.data[5], -1e100);
    EXPECT_EQ(s->ehs_d_ch1.data[6], 1e100);
    ehs_of(s.get(), 0, [](int k) { return k == 5 ? 0.0 : 1.0; }, [](int k) { return k == 5 ? 0.0 : 1.0; });
    EXPECT_EQ(s->ehs_d_ch1.data[5], 0.0);
    EXPECT_EQ(s->ehs_value_ch1, 0.0);
}

TEST(ErrorHarmonicStructure, TwoChannelsGiveWhatEachGivesAlone)
{
    // A stereo frame works both channels together; each must come out as
    // a mono frame with the same spectra, to the last bit.
    auto stereo = make_instance(true);
    auto mono = make_instance(false);
    Random r(21);
    M_ARRAY *spectra[] = {&stereo->spectrum_ref_ch1, &stereo->spectrum_test_ch1, &stereo->spectrum_ref_ch2,
                          &stereo->spectrum_test_ch2};
    for (M_ARRAY *a : spectra)
        for (int k = 0; k < 1024; ++k) a->data[k] = std::ldexp(1.0 + r.uniform(), r.below(40));
    ASSERT_EQ(get_error_harmonic_structure_for_frames(stereo.get()), 0);
    for (int ch = 0; ch < 2; ++ch) {
        std::copy_n(spectra[2 * ch]->data, 1024, mono->spectrum_ref_ch1.data);
        std::copy_n(spectra[2 * ch + 1]->data, 1024, mono->spectrum_test_ch1.data);
        ASSERT_EQ(get_error_harmonic_structure_for_frames(mono.get()), 0);
        EXPECT_EQ(ch == 0 ? stereo->ehs_value_ch1 : stereo->ehs_value_ch2, mono->ehs_value_ch1) << ch;
        const M_ARRAY &corr = ch == 0 ? stereo->ehs_corr_ch1 : stereo->ehs_corr_ch2;
        for (int l = 0; l < 256; ++l) ASSERT_EQ(corr.data[l], mono->ehs_corr_ch1.data[l]) << ch << ":" << l;
    }
}

} // namespace
