#include "engine/decimator.h"

#include <cmath>
#include <cstring>

#include "engine/filter_design.h"
#include "engine/float_vectors.h"
#include "engine/receive_chain.h"

namespace vs32 {

namespace {

// The wide path's low-pass and decimation by four: out[m] = sum over
// j = 0 … taps − 1 of coefficients[j] × y[4m + 3 − j], j ascending, single
// precision. y is held split by phase (y[4q + r] at phases[r·stride + q], with
// `past` earlier values of each phase in front), so the samples one tap meets
// in neighbouring outputs are neighbours in memory.
VS32_ALWAYS_INLINE void DecimateRunBody(const float* coefficients, int taps, const float* phases,
                                        int stride, int past, int count, float* out) {
  constexpr int kLanes = 8;
  constexpr int kVectors = 6;
  constexpr int kWidth = kLanes * kVectors;
  int m = 0;
  for (; m + kWidth <= count; m += kWidth) {
    Floats acc[kVectors] = {};
    for (int j = 0; j < taps; ++j) {
      const float c = coefficients[j];
      const float* src = phases + (3 - (j & 3)) * stride + past + m - (j >> 2);
#pragma GCC unroll 8
      for (int v = 0; v < kVectors; ++v) {
        Floats yv;
        std::memcpy(&yv, src + kLanes * v, sizeof yv);
        acc[v] += c * yv;
      }
    }
    std::memcpy(out + m, acc, sizeof acc);
  }
  for (; m < count; ++m) {
    float acc = 0.0f;
    for (int j = 0; j < taps; ++j) {
      acc += coefficients[j] * phases[(3 - (j & 3)) * stride + past + m - (j >> 2)];
    }
    out[m] = acc;
  }
}

void DecimateRunPortable(const float* coefficients, int taps, const float* phases, int stride,
                         int past, int count, float* out) {
  DecimateRunBody(coefficients, taps, phases, stride, past, count, out);
}

#ifdef VS32_HAVE_AVX2_KERNELS
VS32_AVX2 void DecimateRunAvx2(const float* coefficients, int taps, const float* phases, int stride,
                               int past, int count, float* out) {
  DecimateRunBody(coefficients, taps, phases, stride, past, count, out);
}
#endif

}  // namespace

DecimateRunKernel SelectDecimateRun(bool portable) {
#ifdef VS32_HAVE_AVX2_KERNELS
  if (!portable && Avx2KernelsAvailable()) return &DecimateRunAvx2;
#endif
  return &DecimateRunPortable;
}

DecimatingLowpass::DecimatingLowpass() {
  // Blackman-windowed sinc at 48000 samples/s, cut-off 2400 Hz: flat over the
  // 1500 … 1600 Hz band, more than 70 dB down from about 3.2 kHz, so nothing
  // folds onto the band when every fourth sample is kept.
  constexpr double kCutoff = 2400.0 / kWideRate;
  const int mid = (kTaps - 1) / 2;
  double sum = 0;
  std::array<double, kTaps> h{};
  for (int k = 0; k < kTaps; ++k) {
    const double n = k - mid;
    const double sinc = n == 0 ? 2 * kCutoff : std::sin(kTwoPi * kCutoff * n) / (M_PI * n);
    const double w = 0.42 - 0.5 * std::cos(kTwoPi * k / (kTaps - 1)) +
                     0.08 * std::cos(2 * kTwoPi * k / (kTaps - 1));
    h[k] = sinc * w;
    sum += h[k];
  }
  for (int k = 0; k < kTaps; ++k) coefficients_[k] = static_cast<float>(h[k] / sum);
}

}  // namespace vs32
