#include <velumar/audio/mapping_guard.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>

#include <csignal>
#include <sys/mman.h>
#include <unistd.h>

namespace velumar::audio {
namespace {

// Two files per calculation, and a batch runs at most 256 at a time: the
// table never fills in practice. When it does, the file is not opened.
constexpr std::size_t kSlots = 1024;

enum SlotState : int { kFree = 0, kTaken = 1 };

// A slot's range is published under a sequence counter: odd while a writer
// changes it, bumped again when it is done. A reader that sees the same even
// count before and after reading begin and end has a range that was
// registered as a whole. Without it, a handler running while another thread
// closes one file and opens the next in the same slot could pair the old
// begin with the new end and map zeros over memory that is not a file.
struct Slot {
    std::atomic<int> state{kFree};       // who owns the slot (writers only)
    std::atomic<std::uint32_t> sequence{0};
    std::atomic<std::uintptr_t> begin{0};
    std::atomic<std::uintptr_t> end{0};  // page-rounded; begin == end: empty
    std::atomic<int> faulted{0};
};
static_assert(std::atomic<std::uintptr_t>::is_always_lock_free && std::atomic<int>::is_always_lock_free &&
                  std::atomic<std::uint32_t>::is_always_lock_free,
              "the signal handler may only use lock-free atomics");

// A reader that keeps meeting a writer gives up after this many tries and
// treats the slot as empty: a writer holds the odd count for two stores, so
// this is never reached unless the writer itself was interrupted.
constexpr int kReadAttempts = 1000;

void Publish(Slot &slot, std::uintptr_t begin, std::uintptr_t end)
{
    const std::uint32_t count = slot.sequence.load(std::memory_order_relaxed);
    slot.sequence.store(count + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    slot.begin.store(begin, std::memory_order_relaxed);
    slot.end.store(end, std::memory_order_relaxed);
    slot.sequence.store(count + 2, std::memory_order_release);
}

// One consistent snapshot of the slot's range; false when none could be had.
bool ReadRange(const Slot &slot, std::uintptr_t &begin, std::uintptr_t &end)
{
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        const std::uint32_t before = slot.sequence.load(std::memory_order_acquire);
        if ((before & 1u) != 0) continue;
        begin = slot.begin.load(std::memory_order_relaxed);
        end = slot.end.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (slot.sequence.load(std::memory_order_relaxed) == before) return true;
    }
    return false;
}

Slot g_slots[kSlots];
std::uintptr_t g_page_size = 4096;
struct sigaction g_previous {};

void PassOn(int signal, siginfo_t *info, void *context)
{
    const bool has_handler = (g_previous.sa_flags & SA_SIGINFO) != 0
                                 ? g_previous.sa_sigaction != nullptr
                                 : g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN;
    if (has_handler) {
        if ((g_previous.sa_flags & SA_SIGINFO) != 0)
            g_previous.sa_sigaction(signal, info, context);
        else
            g_previous.sa_handler(signal);
        return;
    }
    // Default action: for a fault, returning re-executes the access, which
    // faults again and now ends the process; a sent signal is sent again.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(SIGBUS, &fallback, nullptr);
    if (info == nullptr || info->si_code <= 0) raise(signal);
}

void OnBusError(int signal, siginfo_t *info, void *context)
{
    const int saved_errno = errno;
    // Only a fault raised by the hardware has a meaningful address.
    if (info != nullptr && info->si_code > 0) {
        MappingRange range{};
        if (FindMapping(info->si_addr, range)) {
            // Everything from the faulting page on lies beyond the new end of
            // the file; one repair covers it all.
            const std::uintptr_t page = reinterpret_cast<std::uintptr_t>(info->si_addr) & ~(g_page_size - 1);
            void *zeros = mmap(reinterpret_cast<void *>(page), range.end - page, PROT_READ,
                               MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (zeros != MAP_FAILED) {
                g_slots[range.slot].faulted.store(1, std::memory_order_release);
                errno = saved_errno;
                return;
            }
        }
    }
    errno = saved_errno;
    PassOn(signal, info, context);
}

void InstallHandler()
{
    const long page = sysconf(_SC_PAGESIZE);
    if (page > 0) g_page_size = static_cast<std::uintptr_t>(page);
    struct sigaction action {};
    action.sa_sigaction = &OnBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, nullptr, &g_previous);
    sigaction(SIGBUS, &action, nullptr);
}

} // namespace

int RegisterMapping(const void *begin, std::size_t length)
{
    static std::once_flag installed;
    std::call_once(installed, InstallHandler);

    const auto first = reinterpret_cast<std::uintptr_t>(begin);
    const std::uintptr_t last = (first + length + g_page_size - 1) & ~(g_page_size - 1);
    for (std::size_t i = 0; i < kSlots; ++i) {
        Slot &slot = g_slots[i];
        int expected = kFree;
        if (!slot.state.compare_exchange_strong(expected, kTaken, std::memory_order_acquire)) continue;
        slot.faulted.store(0, std::memory_order_relaxed);
        Publish(slot, first, last);
        return static_cast<int>(i);
    }
    return -1;
}

void UnregisterMapping(int slot)
{
    if (slot < 0 || static_cast<std::size_t>(slot) >= kSlots) return;
    Slot &s = g_slots[slot];
    Publish(s, 0, 0);
    s.state.store(kFree, std::memory_order_release);
}

bool FindMapping(const void *address, MappingRange &range)
{
    const auto where = reinterpret_cast<std::uintptr_t>(address);
    for (std::size_t i = 0; i < kSlots; ++i) {
        std::uintptr_t begin = 0;
        std::uintptr_t end = 0;
        if (!ReadRange(g_slots[i], begin, end) || where < begin || where >= end) continue;
        range = {begin, end, static_cast<int>(i)};
        return true;
    }
    return false;
}

bool MappingFaulted(int slot)
{
    if (slot < 0 || static_cast<std::size_t>(slot) >= kSlots) return false;
    return g_slots[slot].faulted.load(std::memory_order_acquire) != 0;
}

} // namespace velumar::audio
