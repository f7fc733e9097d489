// Loops the compiler is led to vectorise.
#pragma once

// Marks a function to be built twice, for processors with the 256-bit vector instructions
// and for the rest; the right one is chosen when the program starts. Its results must be
// the same integers either way.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define BV_WIDEST_VECTORS __attribute__((target_clones("avx2", "default")))
#else
#define BV_WIDEST_VECTORS
#endif
