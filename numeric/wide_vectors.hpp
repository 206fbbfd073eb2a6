#pragma once
// KESTA_WIDE_VECTORS before a function compiles its hot loop once more for
// wider vectors, picked at load time where the processor has them: with GCC
// only (clang refuses clones of function templates) and not under the
// address sanitizer, whose checks the clones would escape.
// KESTA_WIDEST_VECTORS adds a 512-bit clone: for loops measured faster with it
// (the cake's set-up, about an eighth). Every clone gives the same values: the
// operations are the same, correctly rounded, and files that use them build
// without fused multiply-adds.

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && \
    !defined(__SANITIZE_ADDRESS__)
#define KESTA_WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#define KESTA_WIDEST_VECTORS \
  __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define KESTA_WIDE_VECTORS
#define KESTA_WIDEST_VECTORS
#endif
