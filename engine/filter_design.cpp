#include "engine/filter_design.h"

#include <cmath>
#include <stdexcept>
#include <string>

namespace vs32 {

namespace {

constexpr double kThreePi = 9.42477796076938;
constexpr double kFourPi = 12.566370614359172;

}  // namespace

BandpassDesign::BandpassDesign(float lo, float hi) {
  if (!std::isfinite(lo) || !std::isfinite(hi) || !(lo < hi)) {
    throw std::invalid_argument("band-pass filter: band edges must be finite with lo < hi (lo " +
                                std::to_string(lo) + ", hi " + std::to_string(hi) + ")");
  }
  centre_ = (lo + hi) * 0.5f;

  // Compare before converting so that a very narrow band cannot overflow int.
  const double length = std::fabs(kThreePi / (static_cast<double>(hi) - static_cast<double>(lo)));
  int taps = length >= kMaxTaps ? kMaxTaps : static_cast<int>(length);
  if (taps % 2 != 0) taps += 1;
  if (taps > kMaxTaps) taps = kMaxTaps;
  taps_ = taps;

  const int middle = taps_ / 2;
  float absSum = 0.0f;
  for (int i = 0; i < taps_; ++i) {
    const float e = static_cast<float>(i - middle);
    const float w = static_cast<float>(0.42 + 0.5 * std::cos(kTwoPi * e / taps_) +
                                       0.08 * std::cos(kFourPi * e / taps_));
    coefficients_[i] = static_cast<float>(w * std::sin(kTwoPi * centre_ * i));
    absSum += std::fabs(coefficients_[i]);
  }
  // A band centred on 0 makes every sine tap 0; keep the zeros rather than
  // dividing them into NaNs.
  if (absSum > 0.0f) {
    for (int i = 0; i < taps_; ++i) coefficients_[i] /= absSum;
  }
}

SmootherDesign::SmootherDesign(float cutoff, int stages) {
  if (!std::isfinite(cutoff) || cutoff < 0.0f) {
    throw std::invalid_argument("power smoother: cutoff must be finite and not negative (" +
                                std::to_string(cutoff) + ")");
  }
  if (stages < 1 || stages > kMaxStages) {
    throw std::invalid_argument("power smoother: stages must be 1 .. " +
                                std::to_string(kMaxStages) + " (" + std::to_string(stages) + ")");
  }
  pole_ = std::exp(-kTwoPi * cutoff);
  gain_ = 1.0 - pole_;
  stages_ = stages;
}

ResonatorDesign::ResonatorDesign(float f, float bw) {
  // At f = 0 the gain normalisation divides by zero.
  if (!(f > 0.0f && f <= 0.5f) || !std::isfinite(bw) || bw < 0.0f) {
    throw std::invalid_argument("channel resonator: need 0 < f <= 0.5 and a finite bw >= 0 (f " +
                                std::to_string(f) + ", bw " + std::to_string(bw) + ")");
  }
  const double r = 1.0 - 3.0 * bw;
  const double c = std::cos(kTwoPi * f);
  const double k = (1.0 - 2.0 * r * c + r * r) / (2.0 - 2.0 * c);
  a0_ = 1.0 - k;
  a1_ = 2.0 * (k - r) * c;
  a2_ = r * r - k;
  b1_ = 2.0 * r * c;
  b2_ = -(r * r);
  frequency_ = f;
  phaseStep_ = kTwoPi * f;
}

}  // namespace vs32
