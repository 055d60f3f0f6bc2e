#include "engine/block_fir.h"

#include <cstring>

#include "engine/float_vectors.h"

namespace vs32 {

namespace {

// out[n] = sum over k = 0 … taps − 1 of coefficients[k] × x[n − k], each output
// summed in single precision with k ascending, exactly as a one-sample FIR step
// does; x has taps − 1 earlier samples before x[0]. Forty-eight outputs are
// summed side by side so that the adds of one output never wait on each other.
VS32_ALWAYS_INLINE void FirRunBody(const float* coefficients, int taps, const float* x, int count,
                                   float* out) {
  constexpr int kLanes = 8;
  constexpr int kVectors = 6;
  constexpr int kWidth = kLanes * kVectors;
  int n = 0;
  for (; n + kWidth <= count; n += kWidth) {
    Floats acc[kVectors] = {};
    const float* base = x + n;
    for (int k = 0; k < taps; ++k) {
      const float c = coefficients[k];
      const float* xk = base - k;
#pragma GCC unroll 8
      for (int v = 0; v < kVectors; ++v) {
        Floats xv;
        std::memcpy(&xv, xk + kLanes * v, sizeof xv);
        acc[v] += c * xv;
      }
    }
    std::memcpy(out + n, acc, sizeof acc);
  }
  for (; n < count; ++n) {
    float acc = 0.0f;
    for (int k = 0; k < taps; ++k) acc += coefficients[k] * x[n - k];
    out[n] = acc;
  }
}

void FirRunPortable(const float* coefficients, int taps, const float* x, int count, float* out) {
  FirRunBody(coefficients, taps, x, count, out);
}

#ifdef VS32_HAVE_AVX2_KERNELS
VS32_AVX2 void FirRunAvx2(const float* coefficients, int taps, const float* x, int count,
                          float* out) {
  FirRunBody(coefficients, taps, x, count, out);
}
#endif

}  // namespace

FirRunKernel SelectFirRun(bool portable) {
#ifdef VS32_HAVE_AVX2_KERNELS
  if (!portable && Avx2KernelsAvailable()) return &FirRunAvx2;
#endif
  return &FirRunPortable;
}

}  // namespace vs32
