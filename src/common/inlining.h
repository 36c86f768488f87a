// The inlining and placement attributes of the hot paths, spelt once: the compilers we build
// with (GCC, clang, mingw-w64 GCC) take them; any other compiler gets none, which changes speed
// only, never what the program writes.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
// Keeps a rare or large path out of its callers, so that their loops stay small.
#define ROWFLUME_NOINLINE __attribute__((noinline))
// Inlines a quick path into its loop even where the compiler's size estimate would not.
#define ROWFLUME_ALWAYS_INLINE __attribute__((always_inline))
// Marks a path that runs at most a few times per run: laid out away from the hot code, and
// branches to it predicted not taken.
#define ROWFLUME_COLD __attribute__((cold))
#else
#define ROWFLUME_NOINLINE
#define ROWFLUME_ALWAYS_INLINE
#define ROWFLUME_COLD
#endif
