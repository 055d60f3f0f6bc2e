// Vectors of the compiler's vector extension (element-wise arithmetic, each
// lane exactly the scalar operation), the 8 × 8 transpose that the receive
// chain and the decoder share, and what the chain's kernels need to be built
// once portable and once for AVX2. Vectors pass through memory only (by pointer), never as
// arguments or results by value, whose layout would differ between the builds for different CPUs.
#pragma once

namespace vs32 {

typedef float Floats __attribute__((vector_size(32)));    // 8 lanes
typedef double Doubles __attribute__((vector_size(32)));  // 4 lanes
typedef float Floats4 __attribute__((vector_size(16)));   // 4 lanes, single precision

// A kernel body: always inlined into each CPU-specific build of its caller.
#define VS32_ALWAYS_INLINE __attribute__((always_inline)) inline

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// The chain's kernels are built a second time for CPUs with AVX2, picked at run
// time, so the program itself needs only the baseline x86-64 CPU. Both builds
// do the same operations in the same order on every value (separate multiplies
// and adds: -ffp-contract=off, and no FMA in these builds), so their results
// are bit-identical.
#define VS32_HAVE_AVX2_KERNELS 1
#define VS32_AVX2 __attribute__((target("avx2")))
#endif

// True when the CPU runs the AVX2 builds of the kernels.
inline bool Avx2KernelsAvailable() {
#ifdef VS32_HAVE_AVX2_KERNELS
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

// r[i] lane t becomes c[t] lane i. Always inlined, so that every CPU-specific
// clone of a caller has its own copy.
[[gnu::always_inline]] inline void Transpose8(const Floats* r, Floats* c) {
#define VS32_SHUFFLE(a, b, ...) __builtin_shufflevector(a, b, __VA_ARGS__)
  const Floats t0 = VS32_SHUFFLE(r[0], r[1], 0, 8, 1, 9, 4, 12, 5, 13);
  const Floats t1 = VS32_SHUFFLE(r[0], r[1], 2, 10, 3, 11, 6, 14, 7, 15);
  const Floats t2 = VS32_SHUFFLE(r[2], r[3], 0, 8, 1, 9, 4, 12, 5, 13);
  const Floats t3 = VS32_SHUFFLE(r[2], r[3], 2, 10, 3, 11, 6, 14, 7, 15);
  const Floats t4 = VS32_SHUFFLE(r[4], r[5], 0, 8, 1, 9, 4, 12, 5, 13);
  const Floats t5 = VS32_SHUFFLE(r[4], r[5], 2, 10, 3, 11, 6, 14, 7, 15);
  const Floats t6 = VS32_SHUFFLE(r[6], r[7], 0, 8, 1, 9, 4, 12, 5, 13);
  const Floats t7 = VS32_SHUFFLE(r[6], r[7], 2, 10, 3, 11, 6, 14, 7, 15);
  const Floats u0 = VS32_SHUFFLE(t0, t2, 0, 1, 8, 9, 4, 5, 12, 13);
  const Floats u1 = VS32_SHUFFLE(t0, t2, 2, 3, 10, 11, 6, 7, 14, 15);
  const Floats u2 = VS32_SHUFFLE(t1, t3, 0, 1, 8, 9, 4, 5, 12, 13);
  const Floats u3 = VS32_SHUFFLE(t1, t3, 2, 3, 10, 11, 6, 7, 14, 15);
  const Floats u4 = VS32_SHUFFLE(t4, t6, 0, 1, 8, 9, 4, 5, 12, 13);
  const Floats u5 = VS32_SHUFFLE(t4, t6, 2, 3, 10, 11, 6, 7, 14, 15);
  const Floats u6 = VS32_SHUFFLE(t5, t7, 0, 1, 8, 9, 4, 5, 12, 13);
  const Floats u7 = VS32_SHUFFLE(t5, t7, 2, 3, 10, 11, 6, 7, 14, 15);
  c[0] = VS32_SHUFFLE(u0, u4, 0, 1, 2, 3, 8, 9, 10, 11);
  c[1] = VS32_SHUFFLE(u1, u5, 0, 1, 2, 3, 8, 9, 10, 11);
  c[2] = VS32_SHUFFLE(u2, u6, 0, 1, 2, 3, 8, 9, 10, 11);
  c[3] = VS32_SHUFFLE(u3, u7, 0, 1, 2, 3, 8, 9, 10, 11);
  c[4] = VS32_SHUFFLE(u0, u4, 4, 5, 6, 7, 12, 13, 14, 15);
  c[5] = VS32_SHUFFLE(u1, u5, 4, 5, 6, 7, 12, 13, 14, 15);
  c[6] = VS32_SHUFFLE(u2, u6, 4, 5, 6, 7, 12, 13, 14, 15);
  c[7] = VS32_SHUFFLE(u3, u7, 4, 5, 6, 7, 12, 13, 14, 15);
#undef VS32_SHUFFLE
}

}  // namespace vs32
