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

enum SlotState : int { kFree = 0, kBusy = 1, kLive = 2 };

struct Slot {
    std::atomic<int> state{kFree};
    std::atomic<std::uintptr_t> begin{0};
    std::atomic<std::uintptr_t> end{0};  // page-rounded
    std::atomic<int> faulted{0};
};
static_assert(std::atomic<std::uintptr_t>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "the signal handler may only use lock-free atomics");

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
        const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
        for (Slot &slot : g_slots) {
            if (slot.state.load(std::memory_order_acquire) != kLive) continue;
            const std::uintptr_t begin = slot.begin.load(std::memory_order_relaxed);
            const std::uintptr_t end = slot.end.load(std::memory_order_relaxed);
            if (address < begin || address >= end) continue;
            // Everything from the faulting page on lies beyond the new end of
            // the file; one repair covers it all.
            const std::uintptr_t page = address & ~(g_page_size - 1);
            void *zeros = mmap(reinterpret_cast<void *>(page), end - page, PROT_READ,
                               MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (zeros == MAP_FAILED) break;
            slot.faulted.store(1, std::memory_order_release);
            errno = saved_errno;
            return;
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
        if (!slot.state.compare_exchange_strong(expected, kBusy, std::memory_order_acquire)) continue;
        slot.begin.store(first, std::memory_order_relaxed);
        slot.end.store(last, std::memory_order_relaxed);
        slot.faulted.store(0, std::memory_order_relaxed);
        slot.state.store(kLive, std::memory_order_release);
        return static_cast<int>(i);
    }
    return -1;
}

void UnregisterMapping(int slot)
{
    if (slot < 0 || static_cast<std::size_t>(slot) >= kSlots) return;
    Slot &s = g_slots[slot];
    s.state.store(kBusy, std::memory_order_release);
    s.begin.store(0, std::memory_order_relaxed);
    s.end.store(0, std::memory_order_relaxed);
    s.state.store(kFree, std::memory_order_release);
}

bool MappingFaulted(int slot)
{
    if (slot < 0 || static_cast<std::size_t>(slot) >= kSlots) return false;
    return g_slots[slot].faulted.load(std::memory_order_acquire) != 0;
}

} // namespace velumar::audio
