#pragma once
// KESTA_WIDE_VECTORS before a function compiles its hot loop once more for
// wider vectors, picked at load time where the processor has them (not under
// the address sanitizer, whose checks the clones would escape).

#if defined(__GNUC__) && defined(__x86_64__) && !defined(__SANITIZE_ADDRESS__)
#define KESTA_WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#else
#define KESTA_WIDE_VECTORS
#endif
