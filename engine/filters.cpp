#include "engine/filters.h"

#include <cmath>
#include <stdexcept>
#include <string>

namespace vs32 {

namespace {

constexpr double kThreePi = 9.42477796076938;
constexpr double kFourPi = 12.566370614359172;

}  // namespace

BandpassFir::BandpassFir(float lo, float hi) {
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

void BandpassFir::FilterBlock(const float* input, int n, float* output) {
  if (taps_ == 0) {
    for (int i = 0; i < n; ++i) output[i] = 0.0f;
    return;
  }
  const int past = taps_ - 1;
  while (n > 0) {
    const int m = n < kChunk ? n : kChunk;
    // The input j samples old sits at history_[pos_ + j − 1].
    for (int i = 0; i < past; ++i) run_[i] = history_[pos_ + past - 1 - i];
    for (int i = 0; i < m; ++i) run_[past + i] = input[i];
    FirKernel(coefficients_.data(), taps_, run_.data() + past, m, output);
    for (int i = 0; i < m; ++i) {
      pos_ = (pos_ == 0) ? taps_ - 1 : pos_ - 1;
      history_[pos_] = run_[past + i];
      history_[pos_ + taps_] = run_[past + i];
    }
    input += m;
    output += m;
    n -= m;
  }
}

PowerSmoother::PowerSmoother(float cutoff, int stages) {
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

ChannelResonator::ChannelResonator(float f, float bw) {
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

ChannelBank::ChannelBank(const float* frequencies, int count, float bw, float cutoff) {
  if (frequencies == nullptr || count < 1 || count > kMaxChannels) {
    throw std::invalid_argument("channel bank: 1 .. " + std::to_string(kMaxChannels) +
                                " channels needed (" + std::to_string(count) + ")");
  }
  const PowerSmoother smoother(cutoff, kStages);  // validates cutoff
  gain_ = smoother.gain();
  pole_ = smoother.pole();
  count_ = count;
  for (int c = 0; c < count; ++c) {
    const ChannelResonator r(frequencies[c], bw);  // validates f and bw
    a0_[c] = r.a0();
    a1_[c] = r.a1();
    a2_[c] = r.a2();
    b1_[c] = r.b1();
    b2_[c] = r.b2();
    phase_[c] = r.phase();
    phaseStep_[c] = r.phase_step();
  }
}

void ChannelBank::Step(float x, float* detectorPower, float* channelPower) {
  x2_ = x1_;
  x1_ = x0_;
  x0_ = x;
  const double x0 = x0_, x1 = x1_, x2 = x2_;
  for (int c = 0; c < count_; ++c) {
    const double y1 = y0_[c];
    const double y2 = y1_[c];
    const double y0 = a0_[c] * x0 + a1_[c] * x1 + a2_[c] * x2 + b1_[c] * y1 + b2_[c] * y2;
    y1_[c] = y1;
    y0_[c] = y0;
    const float yf = static_cast<float>(y0);
    const float power = yf * yf;
    detectorPower[c] = power;
    s0_[c] = gain_ * power + pole_ * s0_[c];
    s1_[c] = gain_ * s0_[c] + pole_ * s1_[c];
    s2_[c] = gain_ * s1_[c] + pole_ * s2_[c];
    channelPower[c] = static_cast<float>(s2_[c]);
  }
}

void ChannelBank::StepCoherent(float x, float* detectorPower, float* channelPower) {
  x2_ = x1_;
  x1_ = x0_;
  x0_ = x;
  const double x0 = x0_, x1 = x1_, x2 = x2_;
  for (int c = 0; c < count_; ++c) {
    const double y1 = y0_[c];
    const double y2 = y1_[c];
    const double y0 = a0_[c] * x0 + a1_[c] * x1 + a2_[c] * x2 + b1_[c] * y1 + b2_[c] * y2;
    y1_[c] = y1;
    y0_[c] = y0;
    const float i = static_cast<float>(y0 * std::cos(phase_[c]));
    const float q = static_cast<float>(y0 * std::sin(phase_[c]));
    phase_[c] += phaseStep_[c];
    while (phase_[c] > kTwoPi) phase_[c] -= kTwoPi;
    const float power = i * i + q * q;
    detectorPower[c] = power;
    channelPower[c] = Smooth(c, power);
  }
}

}  // namespace vs32
