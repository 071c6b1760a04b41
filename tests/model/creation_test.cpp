#include "alloc.h"
#include "support.h"
#include "tables.h"

#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using velumar::test::settings;
using velumar::test::stdout_of;

constexpr const char *kBadSettings = "Error of input datas (struct M_SETTINGS) for the function -create_method!\n";

TEST(Creation, RefusedSettingsGiveNullAndExactlyOneLineAcceptedOnesTheLevelLine)
{
    for (std::int32_t version : {1, 2, 7, -1}) {
        M_SETTINGS s = settings(false);
        s.version = version;
        M_HANDLE h = reinterpret_cast<M_HANDLE>(1);
        EXPECT_EQ(stdout_of([&] { h = create_method(&s); }), kBadSettings) << "version " << version;
        EXPECT_EQ(h, nullptr);
    }
    EXPECT_EQ(stdout_of([] { EXPECT_EQ(create_method(nullptr), nullptr); }), kBadSettings);
    // A level that is no number would give a NaN grade with return code 0;
    // the extremes of the finite range are still accepted.
    for (double level : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
        M_SETTINGS s = settings(false);
        s.listening_level_db = level;
        const unsigned long made = velumar_allocations_made();
        EXPECT_EQ(stdout_of([&] { EXPECT_EQ(create_method(&s), nullptr); }), kBadSettings) << level;
        EXPECT_EQ(velumar_allocations_made(), made) << "refused before anything is obtained";
    }
    for (double level : {-1e300, 1e300}) {
        M_SETTINGS s = settings(false);
        s.listening_level_db = level;
        M_HANDLE h = nullptr;
        stdout_of([&] { h = create_method(&s); });
        EXPECT_NE(h, nullptr) << level;
        destroy_method(h);
    }

    for (std::uint32_t rate : {44100u, 32000u, 0u}) {
        M_SETTINGS s = settings(true);
        s.sample_rate = rate;
        const unsigned long made = velumar_allocations_made(), released = velumar_allocations_released();
        EXPECT_EQ(stdout_of([&] { EXPECT_EQ(create_method(&s), nullptr); }), "ERROR:Initialization of the tables!\n");
        EXPECT_EQ(velumar_allocations_made() - made, velumar_allocations_released() - released) << rate;
    }
    EXPECT_EQ(destroy_method(nullptr), 1);

    const M_SETTINGS s = settings(false, 92.0);
    M_HANDLE h = nullptr;
    EXPECT_EQ(stdout_of([&] { h = create_method(&s); }), "Уровень громкости = 92.000000\n");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(destroy_method(h), 0);
}

// Every allocation of a creation fails in turn: creation must return null,
// print the failing allocation's label, and give back everything else.
void sweep_allocation_failures(bool stereo, std::set<std::string> &lines)
{
    const M_SETTINGS s = settings(stereo);
    const unsigned long before = velumar_allocations_made();
    destroy_method(velumar::test::make_instance(stereo).release());
    const long total = static_cast<long>(velumar_allocations_made() - before);
    ASSERT_GT(total, 300);  // record, arrays, matrix rows, band bins, accumulators

    for (long nth = 0; nth < total; ++nth) {
        const unsigned long made = velumar_allocations_made();
        const unsigned long released = velumar_allocations_released();
        velumar_fail_allocation(nth);
        M_HANDLE h = reinterpret_cast<M_HANDLE>(1);
        const std::string out = stdout_of([&] { h = create_method(&s); });
        velumar_fail_allocation(-1);
        EXPECT_EQ(h, nullptr) << "allocation " << nth;
        EXPECT_EQ(velumar_allocations_made() - made, velumar_allocations_released() - released)
            << "leak when allocation " << nth << " fails";
        ASSERT_FALSE(out.empty()) << "allocation " << nth;
        for (std::size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1)
            lines.insert(out.substr(at, end + 1 - at));
        if (nth == 0) {
            EXPECT_EQ(out, "error malloc func:'create_basic_method'\n");
        } else if (nth == 1) {
            EXPECT_EQ(out, "error malloc func:'create_basic_method/bv_memory_allocation1'\n");
        }
    }
    const unsigned long made = velumar_allocations_made();
    destroy_method(velumar::test::make_instance(stereo).release());
    EXPECT_EQ(static_cast<long>(velumar_allocations_made() - made), total) << "the hook stayed armed";
}

TEST(Creation, EveryAllocationFailureIsReportedAndLeaksNothing)
{
    std::set<std::string> lines;
    sweep_allocation_failures(false, lines);
    sweep_allocation_failures(true, lines);
    for (const char *expected : {
             "error malloc func:'create_basic_method/memory_allocation22'\n",
             "error malloc func:'create_basic_method/memory_allocation33\n",
             "error malloc func:'create_basic_method/memory_allocation63'\n",
             "error malloc func:'create_basic_method/memory_allocation63\n",
             "error malloc func:'create_basic_method/memory_allocation115'\n",
             "error malloc func:'create_basic_method/bv_memory_allocation124/2'\n",
             "error malloc func:'create_avg_value()'\n",
             "error calloc func:'create_avg_value()'\n",
             "error malloc func:'get_index_for_FFT'\n",
             "ERROR get_index_for_FFT()\n",  // its caller reports it too
             "error malloc func:'create_basic_method/get_normalizing_factor()3'\n",
             "ERROR memory allocation/get_frequency_bands_info()1\n",
             "ERROR memory allocation/get_frequency_bands_info()2\n",
         })
        EXPECT_EQ(lines.count(expected), 1u) << expected;
    // Labels that never carried a closing quote keep it off.
    EXPECT_EQ(lines.count("error malloc func:'create_basic_method/memory_allocation33'\n"), 0u);
}

// Instances created at the same time, on several threads, share every table
// that depends on the grid alone, down to the last bit, and differ only in
// the scaling from their listening level; that scaling is the one a fresh
// computation of the test tone gives.
TEST(Creation, InstancesMadeAtOnceShareEveryGridTableAndDifferOnlyInTheLevelScaling)
{
    const double levels[] = {92.0, 80.0, 92.0, 65.5};
    std::vector<velumar::test::Instance> instances(std::size(levels));
    testing::internal::CaptureStdout();
    {
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < std::size(levels); ++i)
            threads.emplace_back([&, i] {
                const M_SETTINGS s = settings(i % 2 == 1, levels[i]);
                instances[i].reset(create_method(&s));
            });
        for (std::thread &t : threads) t.join();
    }
    testing::internal::GetCapturedStdout();
    for (const auto &instance : instances) ASSERT_NE(instance, nullptr);

    const M_STATE &first = *instances[0];
    const auto same = [](const auto &a, const auto &b) {
        return a.length == b.length && std::memcmp(a.data, b.data, a.length * sizeof(*a.data)) == 0;
    };
    for (std::size_t i = 1; i < instances.size(); ++i) {
        const M_STATE &other = *instances[i];
        EXPECT_TRUE(same(first.hann_window, other.hann_window) && same(first.ehs_window, other.ehs_window) &&
                    same(first.fft_twiddle, other.fft_twiddle) && same(first.fft_inverse_twiddle, other.fft_inverse_twiddle) &&
                    same(first.fft_index, other.fft_index) && same(first.ehs_fft_index_512, other.ehs_fft_index_512) &&
                    same(first.ehs_fft_index_256, other.ehs_fft_index_256) && same(first.outer_ear, other.outer_ear) &&
                    same(first.band_centre, other.band_centre) && same(first.spread_norm, other.spread_norm) &&
                    same(first.internal_noise, other.internal_noise) && same(first.time_spread_a, other.time_spread_a) &&
                    same(first.adapt_b, other.adapt_b) && same(first.mask_offset, other.mask_offset) &&
                    same(first.loudness_thresh, other.loudness_thresh) && same(first.pattern_ranges, other.pattern_ranges))
            << "instance " << i;
        EXPECT_EQ(std::memcmp(first.spread_upper_base, other.spread_upper_base, sizeof first.spread_upper_base), 0);
        EXPECT_EQ(std::memcmp(first.loudness_base, other.loudness_base, sizeof first.loudness_base), 0);
        for (std::uint32_t b = 0; b < first.band_count; ++b) {
            const BAND_BINS &x = first.band_bins.data[b], &y = other.band_bins.data[b];
            ASSERT_EQ(x.count, y.count) << b;
            EXPECT_NE(x.indices, y.indices) << "band " << b << " shares its lines with another instance";
            EXPECT_EQ(std::memcmp(x.indices, y.indices, x.count * sizeof(std::uint32_t)), 0) << b;
            EXPECT_EQ(std::memcmp(x.weights, y.weights, x.count * sizeof(double)), 0) << b;
        }
        EXPECT_NE(first.hann_window.data, other.hann_window.data);
    }
    EXPECT_EQ(instances[2]->norm_factor, first.norm_factor);
    EXPECT_NEAR(instances[1]->norm_factor / first.norm_factor, std::pow(10.0, -1.2), 1e-15);
    for (auto &instance : instances) {
        const double copied = instance->norm_factor;
        testing::internal::CaptureStdout();
        ASSERT_EQ(velumar::model::get_normalizing_factor(instance.get()), 0);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(instance->norm_factor, copied);
    }
}

} // namespace
