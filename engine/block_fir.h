// The chain's FIR filters over whole one-second blocks: the fixed band filters
// and mixer low-pass (fixed_filters.h) and the run's designed band filter
// (filter_design.h).
#pragma once

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "engine/filter_design.h"

namespace vs32 {

// out[n] = sum over k = 0 … taps − 1 of coefficients[k] × x[n − k], n = 0 …
// count − 1, each output summed in single precision with k ascending, exactly
// as a one-sample FIR step does; x has taps − 1 earlier samples before x[0].
using FirRunKernel = void (*)(const float* coefficients, int taps, const float* x, int count,
                              float* out);

// The AVX2 build where the CPU runs it, unless `portable`. Both give the same bits.
FirRunKernel SelectFirRun(bool portable);

// A FIR over whole blocks: the last taps − 1 inputs stay in front of the new
// ones, so every output reads one contiguous run.
class BlockFir {
 public:
  static constexpr int kMaxTaps = 256;

  // coefficients: `taps` values (at most kMaxTaps), coefficient k meeting the
  // input k samples old; the filter keeps them. Blocks of up to maxBlock
  // samples. Starts from zero inputs.
  BlockFir(const float* coefficients, int taps, int maxBlock)
      : taps_(std::clamp(taps, 0, kMaxTaps)),
        run_(static_cast<size_t>(kMaxTaps - 1 + maxBlock), 0.0f) {
    std::copy_n(coefficients, taps_, coefficients_.begin());
  }
  // No coefficients until the first Redesign.
  explicit BlockFir(int maxBlock) : BlockFir(kNoCoefficients, 0, maxBlock) {}

  // A new design, from zero inputs (no allocation).
  void Redesign(const BandpassDesign& design) {
    taps_ = std::min(design.taps(), kMaxTaps);
    for (int k = 0; k < taps_; ++k) coefficients_[k] = design.coefficient(k);
    std::fill(run_.begin(), run_.end(), 0.0f);
  }

  // output[i] for input[i], n at most maxBlock; output may be input.
  void Filter(FirRunKernel firRun, const float* input, int n, float* output) {
    if (taps_ == 0) {
      std::fill(output, output + n, 0.0f);
      return;
    }
    const int past = taps_ - 1;
    std::memcpy(run_.data() + past, input, sizeof(float) * n);
    firRun(coefficients_.data(), taps_, run_.data() + past, n, output);
    std::memmove(run_.data(), run_.data() + n, sizeof(float) * past);
  }

 private:
  static constexpr float kNoCoefficients[1] = {0.0f};
  int taps_;
  std::array<float, kMaxTaps> coefficients_{};
  std::vector<float> run_;  // taps − 1 past inputs, then room for a block
};

}  // namespace vs32
