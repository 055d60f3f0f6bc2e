// The chain's channel bank: for every channel a two-pole resonator, a detector
// and a three-stage power smoother (designs in filter_design.h), stored array
// by array so that one instruction steps several channels. Each channel's
// arithmetic is that of the one-channel objects, operation for operation, so
// the results do not depend on how many channels go through at once.
#pragma once

#include <array>

namespace vs32 {

// The resonator, detector and smoother state of every channel, array by array
// (the padding channels run but are never read).
struct ChainBank {
  static constexpr int kPadded = 1232;  // channels, padded to whole vectors of eight
  alignas(64) std::array<double, kPadded> a0, a1, a2, b1, b2;
  alignas(64) std::array<double, kPadded> y0, y1;      // latest output, one before
  alignas(64) std::array<double, kPadded> s0, s1, s2;  // smoother stages
  alignas(64) std::array<double, kPadded> phase, phaseStep;
  double x1 = 0, x2 = 0;  // the last two inputs, common to every channel
  double gain = 0, pole = 0;
};

// The bank over `steps` channel steps (steps >= 1): x[s], x[s+1], x[s+2] are
// the inputs two before, one before and at step s. Writes the detector power
// and the smoothed power of the last step for every channel.
using StepBankKernel = void (*)(ChainBank& bank, const double* x, int steps, float* detectorPower,
                                float* channelPower);

// The plain detector (power y², y rounded to float): the AVX2 build where the
// CPU runs it, unless `portable`. Both give the same bits.
StepBankKernel SelectStepBankPlain(bool portable);

// The coherent detector (power I² + Q² of y against the channel's oscillator),
// for the channels that are read.
void StepBankCoherent(ChainBank& bank, const double* x, int steps, float* detectorPower,
                      float* channelPower);

}  // namespace vs32
