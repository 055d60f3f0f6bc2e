// Filter primitives of the receive chain: the run-time band-pass FIR in front of
// the mixer, and the resonator + power smoother pair that makes up one channel of
// the channel bank.
//
// Frequencies are normalised: cycles per sample of the rate the object runs at.
// Every object is single-threaded, allocation-free after construction, and
// rounds exactly where its comment says so: results must be bit-identical on
// every machine (the engine is built with -ffp-contract=off).
#pragma once

#include <array>
#include <cstdint>

#include "config/band_plan.h"

namespace vs32 {

// FIR over a run of samples: out[n] = sum over k = 0 … taps − 1 of
// coefficients[k] × x[n − k], each output summed in single precision with k
// ascending, exactly as a one-sample step does. `x` points at the first new
// sample and must have taps − 1 earlier samples before it (oldest first).
// Eight outputs are formed side by side, which lets the compiler use vector
// instructions without changing any output's order of operations.
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

// Windowed-sine band-pass FIR designed from its band edges.
//
// Taps = |3π / (hi − lo)| truncated, made even, capped at 256. The impulse
// response is a Blackman window centred on the middle tap times a sine that
// starts at tap 0, scaled so that the absolute coefficients sum to 1.
class BandpassFir {
 public:
  static constexpr int kMaxTaps = 256;

  // lo, hi: band edges in cycles per sample, lo < hi (both finite).
  // Throws std::invalid_argument otherwise.
  BandpassFir(float lo, float hi);

  // One input sample in, one output sample out (single-precision sum over the
  // taps, newest input times coefficient 0 first).
  float Step(float x) {
    pos_ = (pos_ == 0) ? taps_ - 1 : pos_ - 1;
    history_[pos_] = x;
    history_[pos_ + taps_] = x;  // second copy keeps the window contiguous
    const float* h = &history_[pos_];
    float y = 0.0f;
    for (int j = 0; j < taps_; ++j) y += h[j] * coefficients_[j];
    return y;
  }

  // Same results as Step over n samples, input[i] -> output[i], but faster.
  // input and output may be the same array.
  void FilterBlock(const float* input, int n, float* output);

  int taps() const { return taps_; }
  float centre() const { return centre_; }
  // Coefficient i (applied to the input i samples old), 0 <= i < taps().
  float coefficient(int i) const { return coefficients_[i]; }

 private:
  static constexpr int kChunk = 256;  // samples per FirKernel call in FilterBlock

  int taps_ = 0;
  float centre_ = 0.0f;
  int pos_ = 0;
  std::array<float, kMaxTaps + 1> coefficients_{};
  // History written twice (at pos and pos + taps): element pos + j is the input
  // j samples old, the same values a shifting history would hold.
  std::array<float, 2 * kMaxTaps> history_{};
  // FilterBlock's run of samples: the history oldest first, then the new chunk.
  std::array<float, kMaxTaps - 1 + kChunk> run_{};
};

// A cascade of identical one-pole low-pass stages in double precision.
class PowerSmoother {
 public:
  static constexpr int kMaxStages = 8;

  // cutoff: cycles per sample, finite, >= 0. stages: 1 .. kMaxStages.
  // Throws std::invalid_argument otherwise.
  PowerSmoother(float cutoff, int stages);

  float Step(float x) {
    stage_[0] = gain_ * x + pole_ * stage_[0];
    for (int k = 1; k < stages_; ++k) stage_[k] = gain_ * stage_[k - 1] + pole_ * stage_[k];
    return static_cast<float>(stage_[stages_ - 1]);
  }

  double pole() const { return pole_; }  // exp(−2π × cutoff)
  double gain() const { return gain_; }  // 1 − pole
  int stages() const { return stages_; }

 private:
  double gain_ = 0.0;
  double pole_ = 0.0;
  int stages_ = 0;
  std::array<double, kMaxStages> stage_{};
};

// Two-pole band-pass with unity gain at its centre frequency. It also carries
// the channel's oscillator phase for the coherent detector; Step never touches
// the phase, the caller advances it.
class ChannelResonator {
 public:
  static constexpr double kInitialPhase = kTwoPi / 1024;  // 0.006135923151542565

  // f: centre frequency, bw: bandwidth argument (pole radius 1 − 3 × bw), both
  // in cycles per sample; 0 < f <= 0.5, bw >= 0 (throws std::invalid_argument
  // otherwise). The worker uses bw = 0.000244f.
  ChannelResonator(float f, float bw);

  // x in, latest output out (double; the caller rounds it).
  double Step(float x) {
    x2_ = x1_;
    x1_ = x0_;
    x0_ = x;
    y2_ = y1_;
    y1_ = y0_;
    y0_ = a0_ * x0_ + a1_ * x1_ + a2_ * x2_ + b1_ * y1_ + b2_ * y2_;
    return y0_;
  }

  // phase += 2π × f, then brought back to at most 2π by repeated subtraction.
  void AdvancePhase() {
    phase_ += phaseStep_;
    while (phase_ > kTwoPi) phase_ -= kTwoPi;
  }

  double phase() const { return phase_; }
  void set_phase(double radians) { phase_ = radians; }
  double phase_step() const { return phaseStep_; }  // 2π × f
  double frequency() const { return frequency_; }
  double a0() const { return a0_; }
  double a1() const { return a1_; }
  double a2() const { return a2_; }
  double b1() const { return b1_; }
  double b2() const { return b2_; }

 private:
  double a0_, a1_, a2_, b1_, b2_;
  double y0_ = 0, y1_ = 0, y2_ = 0;
  double x0_ = 0, x1_ = 0, x2_ = 0;
  double frequency_;
  double phase_ = kInitialPhase;
  double phaseStep_;
};

// The whole channel bank stepped at once: for every channel a ChannelResonator,
// a detector and a three-stage PowerSmoother, stored array by array so the
// compiler can work on several channels per instruction. Each channel's
// arithmetic is exactly that of the single objects (same operations, same
// order, same roundings), so results are bit-identical to them.
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

}  // namespace vs32
