// Run-time selection of a function's widest vector variant.
//
// VELUMAR_TARGET_CLONES(...) in front of a function definition builds one
// copy per named target plus "default", and the loader picks one through an
// ifunc resolver that runs before any constructor. A ThreadSanitizer build
// cannot run code that early (its runtime is not set up yet, and the
// resolver crashes the program at load), so there the macro expands to
// nothing and the plain variant is used. Every variant computes the same
// values to the last bit, so the choice changes speed only.
#pragma once

#if defined(__x86_64__) && !defined(VELUMAR_NO_TARGET_CLONES)
#define VELUMAR_TARGET_CLONES(...) __attribute__((target_clones(__VA_ARGS__)))
#else
#define VELUMAR_TARGET_CLONES(...)
#endif

// Around hand-written vector code: GCC's own intrinsic headers start some
// AVX-512 conversions from an undefined register and then warn that it may
// be used uninitialised.
#if defined(__GNUC__) && !defined(__clang__)
#define VELUMAR_INTRINSICS_BEGIN                                                               \
    _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wmaybe-uninitialized\"") \
        _Pragma("GCC diagnostic ignored \"-Wuninitialized\"")
#define VELUMAR_INTRINSICS_END _Pragma("GCC diagnostic pop")
#else
#define VELUMAR_INTRINSICS_BEGIN
#define VELUMAR_INTRINSICS_END
#endif
