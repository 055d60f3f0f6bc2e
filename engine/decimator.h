// The wide path's low-pass and decimation by four, from 48000 to 12000
// samples/s, in front of the band filter the narrow path also runs.
#pragma once

#include <array>

namespace vs32 {

// Low-pass in front of the wide path's decimation by four: keeps the real
// pre-shift's sum product and everything else above ~3 kHz from folding onto
// the band. Only the kept outputs are computed.
class DecimatingLowpass {
 public:
  static constexpr int kTaps = 191;
  DecimatingLowpass();
  // Coefficient k meets the input k samples old.
  float coefficient(int k) const { return coefficients_[k]; }
  const float* coefficients() const { return coefficients_.data(); }

 private:
  std::array<float, kTaps> coefficients_{};
};

// out[m] = sum over j = 0 … taps − 1 of coefficients[j] × y[4m + 3 − j], j
// ascending, single precision, m = 0 … count − 1. y is held split by phase:
// y[4q + r] at phases[r·stride + past + q], with `past` earlier values of each
// phase in front.
using DecimateRunKernel = void (*)(const float* coefficients, int taps, const float* phases,
                                   int stride, int past, int count, float* out);

// The AVX2 build where the CPU runs it, unless `portable`. Both give the same bits.
DecimateRunKernel SelectDecimateRun(bool portable);

}  // namespace vs32
