#include "engine/history_sums.h"

#include <cstring>

#include "engine/float_vectors.h"
#include "engine/receive_chain.h"

namespace vs32 {

namespace {

constexpr int kSpectrumFirst = 4;  // the spectrum sums entries 4 … 960
constexpr int kRecentFirst = 944;  // the recent mean, entries 944 … 959

// Adds entries first … first + count − 1 of eight histories to their sums,
// oldest first: lane l of sums is history l's own chain of single-precision
// additions. Eight entries of the eight histories are turned around at a time
// so that one vector add serves all eight.
VS32_ALWAYS_INLINE void AddEntries(const float* const* h, int first, int count, Floats* sums) {
  int i = first;
  for (; i + 8 <= first + count; i += 8) {
    Floats r[8], c[8];
    for (int l = 0; l < 8; ++l) std::memcpy(&r[l], h[l] + i, sizeof(Floats));
    Transpose8(r, c);
    for (int t = 0; t < 8; ++t) *sums += c[t];
  }
  for (; i < first + count; ++i) {
    float lanes[8];
    for (int l = 0; l < 8; ++l) lanes[l] = h[l][i];
    Floats v;
    std::memcpy(&v, lanes, sizeof v);
    *sums += v;
  }
}

// The spectrum sum (entries 4 … 960) and the recent sum (944 … 959) of eight
// histories.
VS32_ALWAYS_INLINE void SumEightBody(const float* const* h, float* spectrumSums,
                                     float* recentSums) {
  Floats sum = {}, recent = {};
  AddEntries(h, kSpectrumFirst, kNewestEntry + 1 - kSpectrumFirst, &sum);
  AddEntries(h, kRecentFirst, kNewestEntry - kRecentFirst, &recent);
  std::memcpy(spectrumSums, &sum, sizeof sum);
  std::memcpy(recentSums, &recent, sizeof recent);
}

void SumEightPortable(const float* const* h, float* spectrumSums, float* recentSums) {
  SumEightBody(h, spectrumSums, recentSums);
}

#ifdef VS32_HAVE_AVX2_KERNELS
VS32_AVX2 void SumEightAvx2(const float* const* h, float* spectrumSums, float* recentSums) {
  SumEightBody(h, spectrumSums, recentSums);
}
#endif

}  // namespace

SumEightKernel SelectSumEight(bool portable) {
#ifdef VS32_HAVE_AVX2_KERNELS
  if (!portable && Avx2KernelsAvailable()) return &SumEightAvx2;
#endif
  return &SumEightPortable;
}

}  // namespace vs32
