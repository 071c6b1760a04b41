// The single place where the model obtains and releases memory.
//
// Builds with VELUMAR_TEST_HOOKS (the instrumented library the tests link)
// count every allocation and can be told to fail the n-th one, so tests can
// walk every failure path of creation. The production library has no such
// state: obtain() is a zeroed allocation aligned to a cache line.
#pragma once

#include <cstddef>

namespace velumar::model {

// n zeroed elements of size bytes each; nullptr when memory runs out.
void *obtain(std::size_t n, std::size_t size);

// Gives back what obtain() returned; nullptr is ignored.
void give_back(void *p);

// While one of these lives, the allocations of its thread are not counted
// and are never failed on purpose: the start-up tables every instance
// copies are built once per process, inside whichever creation comes first,
// and what that costs belongs to no instance.
class UntrackedAllocations {
public:
    UntrackedAllocations();
    ~UntrackedAllocations();
    UntrackedAllocations(const UntrackedAllocations &) = delete;
    UntrackedAllocations &operator=(const UntrackedAllocations &) = delete;

private:
    bool was_;
};

} // namespace velumar::model

#if defined(VELUMAR_TEST_HOOKS)
extern "C" {
// Makes the allocation numbered nth from now (0 = the next one) fail;
// a negative nth disarms the hook.
void velumar_fail_allocation(long nth);
// Allocations made and released since the process started.
unsigned long velumar_allocations_made(void);
unsigned long velumar_allocations_released(void);
}
#endif
