#include "support/reference_filters.h"

#include <cmath>
#include <stdexcept>
#include <string>

namespace vs32 {

void BandpassFir::FilterBlock(const float* input, int n, float* output) {
  const int taps = this->taps();
  if (taps == 0) {
    for (int i = 0; i < n; ++i) output[i] = 0.0f;
    return;
  }
  const int past = taps - 1;
  while (n > 0) {
    const int m = n < kChunk ? n : kChunk;
    // The input j samples old sits at history_[pos_ + j − 1].
    for (int i = 0; i < past; ++i) run_[i] = history_[pos_ + past - 1 - i];
    for (int i = 0; i < m; ++i) run_[past + i] = input[i];
    FirKernel(coefficients(), taps, run_.data() + past, m, output);
    for (int i = 0; i < m; ++i) {
      pos_ = (pos_ == 0) ? taps - 1 : pos_ - 1;
      history_[pos_] = run_[past + i];
      history_[pos_ + taps] = run_[past + i];
    }
    input += m;
    output += m;
    n -= m;
  }
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
