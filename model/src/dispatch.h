// Run-time dispatch of the vectorised loops: each marked function is
// compiled once per listed target and the loader picks the widest the
// processor has. A build that must see one plain copy of every function
// (ThreadSanitizer cannot follow the resolvers) defines VELUMAR_NO_DISPATCH.
#pragma once

#if defined(VELUMAR_NO_DISPATCH)
#define VELUMAR_TARGET_CLONES(...)
#else
#define VELUMAR_TARGET_CLONES(...) __attribute__((target_clones(__VA_ARGS__)))
#endif
