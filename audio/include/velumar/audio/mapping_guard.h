// Survival of a mapped file that shrinks under the reader.
//
// A WAV file is read through a read-only mapping of the whole file. When
// another process truncates the file meanwhile, touching a mapped page that
// now lies beyond its end raises SIGBUS, which would kill the program in
// the middle of a grade. Instead, every live mapping is registered here and
// one process-wide SIGBUS handler repairs faults inside a registered mapping:
// it maps anonymous zero pages over the rest of that mapping, so the read
// completes (and reads zeros), and marks the mapping as faulted. Whoever
// reads the mapping asks afterwards whether it faulted and throws away
// everything computed from it: no result is ever reported from the zeros.
// A fault anywhere else goes to the handler that was installed before
// (a sanitizer's or a fuzzer's), or takes the default action.
//
// The registry is a fixed table of slots updated with atomic operations
// only, so the handler can read it at any moment from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velumar::audio {

// Registers the mapping [begin, begin + length) and installs the handler on
// first use. Returns the slot, or -1 when the table is full.
int RegisterMapping(const void *begin, std::size_t length);

// Forgets the slot before its mapping is unmapped. -1 is ignored.
void UnregisterMapping(int slot);

// True once a fault inside the slot's mapping has been repaired.
bool MappingFaulted(int slot);

// A registered range: [begin, end) rounded up to whole pages, and its slot.
struct MappingRange {
    std::uintptr_t begin = 0;
    std::uintptr_t end = 0;
    int slot = -1;
};

// The registered range that holds `address`, read as one whole (never the
// begin of one registration with the end of another, whatever other threads
// register or forget meanwhile). This is the lookup the SIGBUS handler
// makes, and it is async-signal-safe. False when no range holds it.
bool FindMapping(const void *address, MappingRange &range);

} // namespace velumar::audio
