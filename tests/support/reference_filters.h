// Reference models of the receive chain's DSP: plain one-sample objects written
// the obvious way, which the tests and benchmarks hold the chain's kernels
// against bit for bit. No program runs them.
//
// Frequencies are normalised (cycles per sample). Each object rounds exactly
// where its comment says so, as the kernels must (the build uses
// -ffp-contract=off).
#pragma once

#include <array>

#include "engine/filter_design.h"
#include "engine/fixed_filters.h"

namespace vs32 {

// FIR over a run of samples: out[n] = sum over k = 0 … taps − 1 of
// coefficients[k] × x[n − k], each output summed in single precision with k
// ascending, exactly as a one-sample step does. `x` points at the first new
// sample and must have taps − 1 earlier samples before it (oldest first).
// Eight outputs are formed side by side without changing any output's order of
// operations.
inline void FirKernel(const float* coefficients, int taps, const float* x, int count, float* out) {
  constexpr int kLanes = 8;
  int n = 0;
  for (; n + kLanes <= count; n += kLanes) {
    float acc[kLanes] = {};
    const float* base = x + n;
    for (int k = 0; k < taps; ++k) {
      const float c = coefficients[k];
      const float* xk = base - k;
      for (int i = 0; i < kLanes; ++i) acc[i] += c * xk[i];
    }
    for (int i = 0; i < kLanes; ++i) out[n + i] = acc[i];
  }
  for (; n < count; ++n) {
    float acc = 0.0f;
    for (int k = 0; k < taps; ++k) acc += coefficients[k] * x[n - k];
    out[n] = acc;
  }
}

// The designed band-pass FIR, one sample at a time or over a block.
class BandpassFir : public BandpassDesign {
 public:
  using BandpassDesign::BandpassDesign;

  // One input sample in, one output sample out (single-precision sum over the
  // taps, newest input times coefficient 0 first).
  float Step(float x) {
    const int taps = this->taps();
    pos_ = (pos_ == 0) ? taps - 1 : pos_ - 1;
    history_[pos_] = x;
    history_[pos_ + taps] = x;  // second copy keeps the window contiguous
    const float* h = &history_[pos_];
    const float* c = coefficients();
    float y = 0.0f;
    for (int j = 0; j < taps; ++j) y += h[j] * c[j];
    return y;
  }

  // Same results as Step over n samples, input[i] -> output[i].
  // input and output may be the same array.
  void FilterBlock(const float* input, int n, float* output);

 private:
  static constexpr int kChunk = 256;  // samples per FirKernel call in FilterBlock

  int pos_ = 0;
  // History written twice (at pos and pos + taps): element pos + j is the input
  // j samples old, the same values a shifting history would hold.
  std::array<float, 2 * kMaxTaps> history_{};
  // FilterBlock's run of samples: the history oldest first, then the new chunk.
  std::array<float, kMaxTaps - 1 + kChunk> run_{};
};

// The power smoother, one sample at a time.
class PowerSmoother : public SmootherDesign {
 public:
  using SmootherDesign::SmootherDesign;

  float Step(float x) {
    const double gain = this->gain(), pole = this->pole();
    stage_[0] = gain * x + pole * stage_[0];
    for (int k = 1; k < stages(); ++k) stage_[k] = gain * stage_[k - 1] + pole * stage_[k];
    return static_cast<float>(stage_[stages() - 1]);
  }

 private:
  std::array<double, kMaxStages> stage_{};
};

// One channel's resonator, one sample at a time. It also carries the channel's
// oscillator phase for the coherent detector; Step never touches the phase,
// the caller advances it.
class ChannelResonator : public ResonatorDesign {
 public:
  using ResonatorDesign::ResonatorDesign;

  // x in, latest output out (double; the caller rounds it).
  double Step(float x) {
    x2_ = x1_;
    x1_ = x0_;
    x0_ = x;
    y2_ = y1_;
    y1_ = y0_;
    y0_ = a0() * x0_ + a1() * x1_ + a2() * x2_ + b1() * y1_ + b2() * y2_;
    return y0_;
  }

  // phase += 2π × f, then brought back to at most 2π by repeated subtraction.
  void AdvancePhase() {
    phase_ += phase_step();
    while (phase_ > kTwoPi) phase_ -= kTwoPi;
  }

  double phase() const { return phase_; }
  void set_phase(double radians) { phase_ = radians; }

 private:
  double y0_ = 0, y1_ = 0, y2_ = 0;
  double x0_ = 0, x1_ = 0, x2_ = 0;
  double phase_ = kInitialPhase;
};

// The whole channel bank stepped at once: for every channel a ChannelResonator,
// a detector and a three-stage PowerSmoother, stored array by array. Each
// channel's arithmetic is exactly that of the single objects (same operations,
// same order, same roundings), so results are bit-identical to them.
class ChannelBank {
 public:
  static constexpr int kMaxChannels = kChannels;
  static constexpr int kStages = 3;

  // frequencies: `count` centre frequencies (cycles per sample, as for
  // ChannelResonator), 1 <= count <= kMaxChannels; bw: resonator bandwidth
  // argument; cutoff: smoother cutoff (cycles per sample). Throws
  // std::invalid_argument on values the single objects would refuse.
  ChannelBank(const float* frequencies, int count, float bw, float cutoff);

  // One channel step with the plain detector: y rounded to float, power y².
  // Writes `count` detector powers and smoothed powers.
  void Step(float x, float* detectorPower, float* channelPower);

  // One channel step with the coherent detector: I = y cos φ and Q = y sin φ,
  // each rounded to float, power I² + Q², then φ advances by 2π f (brought
  // back below 2π by subtraction).
  void StepCoherent(float x, float* detectorPower, float* channelPower);

  int count() const { return count_; }
  double phase(int c) const { return phase_[c]; }

 private:
  float Smooth(int c, float power) {
    s0_[c] = gain_ * power + pole_ * s0_[c];
    s1_[c] = gain_ * s0_[c] + pole_ * s1_[c];
    s2_[c] = gain_ * s1_[c] + pole_ * s2_[c];
    return static_cast<float>(s2_[c]);
  }

  int count_ = 0;
  double gain_ = 0, pole_ = 0;
  double x0_ = 0, x1_ = 0, x2_ = 0;  // the input history is common to every channel
  std::array<double, kMaxChannels> a0_{}, a1_{}, a2_{}, b1_{}, b2_{};
  std::array<double, kMaxChannels> y0_{}, y1_{};
  std::array<double, kMaxChannels> s0_{}, s1_{}, s2_{};
  std::array<double, kMaxChannels> phase_{}, phaseStep_{};
};

// FIR over one of the fixed coefficient tables with a circular buffer whose
// write position p steps downward, so buffer[(p + k) mod N] is the input k
// samples old and meets coefficient k.
template <int N>
class FixedFir {
 public:
  static constexpr int kTaps = N;

  explicit FixedFir(const float (&coefficients)[N]) : coefficients_(coefficients) {}

  float Step(float x) {
    buffer_[p_] = x;
    buffer_[p_ + N] = x;  // second copy: the window p .. p + N − 1 never wraps
    const float* b = &buffer_[p_];
    float y = 0.0f;
    for (int k = 0; k < N; ++k) y += coefficients_[k] * b[k];
    p_ = (p_ == 0) ? N - 1 : p_ - 1;
    return y;
  }

  // Filters n samples in place; the same results as Step.
  void FilterInPlace(float* samples, int n) { Filter(samples, n, samples); }

  // Filters n samples, input[i] -> output[i] (the arrays may be the same); the
  // same results as Step.
  void Filter(const float* input, int n, float* output) {
    constexpr int kPast = N - 1;
    while (n > 0) {
      const int m = n < kChunk ? n : kChunk;
      // The input j samples old sits at buffer_[p_ + j].
      for (int i = 0; i < kPast; ++i) run_[i] = buffer_[p_ + kPast - i];
      for (int i = 0; i < m; ++i) run_[kPast + i] = input[i];
      FirKernel(coefficients_, N, run_.data() + kPast, m, output);
      for (int i = 0; i < m; ++i) {
        buffer_[p_] = run_[kPast + i];
        buffer_[p_ + N] = run_[kPast + i];
        p_ = (p_ == 0) ? N - 1 : p_ - 1;
      }
      input += m;
      output += m;
      n -= m;
    }
  }

  int position() const { return p_; }  // the write position of the next Step
  const float* coefficients() const { return coefficients_; }

 private:
  static constexpr int kChunk = 256;  // samples per FirKernel call in Filter

  const float* coefficients_;
  int p_ = 0;
  std::array<float, 2 * N> buffer_{};
  // Filter's run of samples: the last N − 1 inputs oldest first, then the chunk.
  std::array<float, N - 1 + kChunk> run_{};
};

class BandFir1500 : public FixedFir<kBandFirTaps> {
 public:
  BandFir1500() : FixedFir(kBandFir1500Coefficients) {}
};

class BandFir2000 : public FixedFir<kBandFirTaps> {
 public:
  BandFir2000() : FixedFir(kBandFir2000Coefficients) {}
};

class BandFir2500 : public FixedFir<kBandFirTaps> {
 public:
  BandFir2500() : FixedFir(kBandFir2500Coefficients) {}
};

class MixLowpass : public FixedFir<kMixLowpassTaps> {
 public:
  MixLowpass() : FixedFir(kMixLowpassCoefficients) {}
};

}  // namespace vs32
