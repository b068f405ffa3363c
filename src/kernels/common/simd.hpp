// Element-wise loops marked with this are compiled twice, for AVX2 and for the baseline,
// and the loader picks the version the CPU supports. Wider vectors change no result:
// every lane does the same IEEE operations (no contraction into fused multiply-adds),
// and in-order sums stay scalar chains whatever the target.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define QUARNEL_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define QUARNEL_VECTOR_CLONES
#endif
