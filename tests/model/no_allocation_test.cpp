// Everything an instance needs is obtained when it is created: feeding it
// and grading it must not allocate. Library storage goes through one
// counted allocator; C++ allocations are caught by replacing operator new
// for this test program (counted only while a test asks for it).
#include "alloc.h"
#include "golden_signals.h"
#include "support.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> g_counting{false};
std::atomic<unsigned long> g_news{0};
} // namespace

void *operator new(std::size_t size)
{
    if (g_counting) ++g_news;
    if (void *p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void *operator new[](std::size_t size) { return operator new(size); }
void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }

namespace {

TEST(NoAllocation, FeedingAndGradingAllocateNothing)
{
    using velumar::golden::Signal;
    const auto music = velumar::golden::music(48000, 3, 15000.0);
    for (int channels : {1, 2}) {
        const Signal signal{"", channels,
                            channels == 1 ? velumar::golden::pcm(music) : velumar::golden::pcm(music, music),
                            channels == 1 ? velumar::golden::pcm(velumar::golden::add_noise(music, 20.0, 4))
                                          : velumar::golden::pcm(music, velumar::golden::add_noise(music, 20.0, 4))};
        auto s = velumar::test::make_instance(channels == 2);
        M_RESULTS results{};
        testing::internal::CaptureStdout();  // allocates: before counting starts
        const unsigned long obtained = velumar_allocations_made();
        g_counting = true;
        // Blocks of odd sizes, so the carry buffers are exercised too.
        std::size_t at = 0;
        for (std::uint32_t block = 1; at < signal.reference.size(); block = block * 3 + 1) {
            const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(block, signal.reference.size() - at));
            const M_BUFFER ref{signal.reference.data() + at, count}, test{signal.test.data() + at, count};
            ASSERT_EQ(method(s.get(), &ref, &test), 0);
            at += count;
        }
        get_model_results(s.get(), &results);
        get_objective_difference_grade(s.get());
        g_counting = false;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(results.frames, 45u);
        EXPECT_EQ(velumar_allocations_made() - obtained, 0u) << channels << " channels";
        EXPECT_EQ(g_news.exchange(0), 0u) << channels << " channels";
    }
}

} // namespace
