// The wide path's decimating low-pass: its response (the band passes flat,
// nothing from about 3.2 kHz up folds back onto it), and the kernel's outputs,
// with either build, against the plain sum that defines them, bit for bit.
#include "engine/decimator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

namespace vs32 {
namespace {

constexpr double kRateHz = 48000;

double GainDb(const DecimatingLowpass& f, double hz) {
  std::complex<double> h = 0;
  for (int k = 0; k < DecimatingLowpass::kTaps; ++k) {
    h += double(f.coefficient(k)) * std::polar(1.0, -2 * M_PI * hz * k / kRateHz);
  }
  return 20 * std::log10(std::abs(h));
}

TEST(DecimatingLowpass, PassesTheBandFlatAndStopsWhatWouldFoldOntoIt) {
  const DecimatingLowpass f;
  for (double hz = 0; hz <= 1700; hz += 50) EXPECT_NEAR(GainDb(f, hz), 0.0, 0.01) << hz;
  for (double hz = 3200; hz <= 24000; hz += 25) ASSERT_LT(GainDb(f, hz), -70.0) << hz;
}

class DecimateKernel : public ::testing::TestWithParam<bool> {};

TEST_P(DecimateKernel, EveryOutputIsTheSumOverTheTapsInOrder) {
  const DecimatingLowpass f;
  constexpr int kTaps = DecimatingLowpass::kTaps;
  const int past = (kTaps - 1) / 4 + 1;  // earlier values each phase needs
  const int count = 203;                 // not a whole number of vectors
  const int stride = past + count;
  // y[i] for i = −4·past … 4·count − 1, held split by phase.
  std::mt19937 rng(8);
  std::normal_distribution<float> g(0.0f, 0.5f);
  std::vector<float> y(4 * stride);
  for (float& v : y) v = g(rng);
  auto at = [&](int i) { return y[i + 4 * past]; };
  std::vector<float> phases(4 * stride);
  for (int r = 0; r < 4; ++r) {
    for (int p = 0; p < stride; ++p) phases[r * stride + p] = at(4 * (p - past) + r);
  }
  std::vector<float> out(count);
  SelectDecimateRun(GetParam())(f.coefficients(), kTaps, phases.data(), stride, past, count,
                                out.data());
  for (int m = 0; m < count; ++m) {
    float expected = 0.0f;
    for (int j = 0; j < kTaps; ++j) expected += f.coefficient(j) * at(4 * m + 3 - j);
    ASSERT_EQ(out[m], expected) << m;
  }
}

INSTANTIATE_TEST_SUITE_P(Builds, DecimateKernel, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Portable" : "Widest";
                         });

}  // namespace
}  // namespace vs32
