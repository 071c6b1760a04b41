#include "alloc.h"
#include "support.h"

#include <cmath>
#include <set>
#include <string>

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

} // namespace
