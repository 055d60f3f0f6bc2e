// Coefficient designs of the receive chain's filters: the band-pass FIR a run
// designs when no fixed table fits its band, the channel resonator and the
// power smoother. Only the coefficients live here; the chain's kernels
// (block_fir.h, channel_bank.h) run them.
//
// Frequencies are normalised: cycles per sample of the rate the filter runs at.
// Constructors validate their arguments, so nothing in a per-sample loop has to.
#pragma once

#include <array>

#include "config/band_plan.h"  // kTwoPi

namespace vs32 {

// Windowed-sine band-pass FIR designed from its band edges.
//
// Taps = |3π / (hi − lo)| truncated, made even, capped at 256. The impulse
// response is a Blackman window centred on the middle tap times a sine that
// starts at tap 0, scaled so that the absolute coefficients sum to 1.
class BandpassDesign {
 public:
  static constexpr int kMaxTaps = 256;

  // lo, hi: band edges in cycles per sample, lo < hi (both finite).
  // Throws std::invalid_argument otherwise.
  BandpassDesign(float lo, float hi);

  int taps() const { return taps_; }
  float centre() const { return centre_; }
  // Coefficient i (applied to the input i samples old), 0 <= i < taps().
  float coefficient(int i) const { return coefficients_[i]; }
  const float* coefficients() const { return coefficients_.data(); }

 private:
  int taps_ = 0;
  float centre_ = 0.0f;
  std::array<float, kMaxTaps + 1> coefficients_{};
};

// A cascade of identical one-pole low-pass stages in double precision: each
// stage is s = gain × input + pole × s.
class SmootherDesign {
 public:
  static constexpr int kMaxStages = 8;

  // cutoff: cycles per sample, finite, >= 0. stages: 1 .. kMaxStages.
  // Throws std::invalid_argument otherwise.
  SmootherDesign(float cutoff, int stages);

  double pole() const { return pole_; }  // exp(−2π × cutoff)
  double gain() const { return gain_; }  // 1 − pole
  int stages() const { return stages_; }

 private:
  double gain_ = 0.0;
  double pole_ = 0.0;
  int stages_ = 0;
};

// Two-pole band-pass with unity gain at its centre frequency:
// y0 = a0·x0 + a1·x1 + a2·x2 + b1·y1 + b2·y2, in double precision. Each
// channel also carries an oscillator phase for the coherent detector, starting
// at kInitialPhase and advancing by phase_step() a step.
class ResonatorDesign {
 public:
  static constexpr double kInitialPhase = kTwoPi / 1024;  // 0.006135923151542565

  // f: centre frequency, bw: bandwidth argument (pole radius 1 − 3 × bw), both
  // in cycles per sample; 0 < f <= 0.5, bw >= 0 (throws std::invalid_argument
  // otherwise). The chain uses bw = 0.000244f.
  ResonatorDesign(float f, float bw);

  double phase_step() const { return phaseStep_; }  // 2π × f
  double frequency() const { return frequency_; }
  double a0() const { return a0_; }
  double a1() const { return a1_; }
  double a2() const { return a2_; }
  double b1() const { return b1_; }
  double b2() const { return b2_; }

 private:
  double a0_, a1_, a2_, b1_, b2_;
  double frequency_;
  double phaseStep_;
};

}  // namespace vs32
