// The fixed FIR filters: the circular buffer with its downward write position,
// and the designed tables against every response figure they must meet.
#include "engine/fixed_filters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <string>
#include <vector>

#include "support/reference_filters.h"

namespace vs32 {
namespace {

constexpr double kRateHz = 12000.0;
constexpr double kPi = 3.141592653589793;

// |H(f)| of a table at f Hz (12000 samples/s), evaluated in double precision.
double Magnitude(const float* h, int n, double hz) {
  std::complex<double> sum = 0;
  for (int k = 0; k < n; ++k) sum += double(h[k]) * std::polar(1.0, -2 * kPi * hz * k / kRateHz);
  return std::abs(sum);
}

// --- The circular buffer -------------------------------------------------------

TEST(FixedFirBuffer, ImpulseReturnsTheCoefficientsInOrderAndThePositionWrapsOnce) {
  MixLowpass fir;
  EXPECT_EQ(fir.position(), 0);
  EXPECT_EQ(fir.Step(1.0f), kMixLowpassCoefficients[0]);
  EXPECT_EQ(fir.position(), kMixLowpassTaps - 1);  // p steps downward
  for (int k = 1; k < kMixLowpassTaps; ++k) {
    ASSERT_EQ(fir.Step(0.0f), kMixLowpassCoefficients[k]) << k;
  }
  EXPECT_EQ(fir.position(), 0);  // N steps: back at the start
  EXPECT_EQ(fir.Step(0.0f), 0.0f);
}

// The literal form: buffer[p] = x, sum of coefficient k × buffer[(p + k) mod N]
// in single precision with k ascending, then p − 1 (wrapping to N − 1).
template <typename Filter, int N>
void ExpectLiteralCircularBuffer(const float (&coefficients)[N], unsigned seed) {
  Filter fir;
  std::vector<float> buffer(N, 0.0f);
  int p = 0;
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  for (int n = 0; n < 4 * N + 17; ++n) {
    const float x = u(rng);
    buffer[p] = x;
    float expected = 0.0f;
    for (int k = 0; k < N; ++k) expected += coefficients[k] * buffer[(p + k) % N];
    p = (p - 1 < 0) ? N - 1 : p - 1;
    ASSERT_EQ(fir.Step(x), expected) << "sample " << n;
    ASSERT_EQ(fir.position(), p);
  }
}

TEST(FixedFirBuffer, EveryFilterMatchesTheLiteralCircularBufferBitForBit) {
  ExpectLiteralCircularBuffer<MixLowpass>(kMixLowpassCoefficients, 1);
  ExpectLiteralCircularBuffer<BandFir1500>(kBandFir1500Coefficients, 2);
  ExpectLiteralCircularBuffer<BandFir2000>(kBandFir2000Coefficients, 3);
  ExpectLiteralCircularBuffer<BandFir2500>(kBandFir2500Coefficients, 4);
}

TEST(FixedFirBuffer, BlockFormsEqualSingleStepsBitForBit) {
  // Blocks of every awkward length, in place and not, mixed with single
  // steps: the fast block path must hand over the same state as the steps.
  std::vector<float> in(4000);
  for (int i = 0; i < 4000; ++i) in[i] = std::sin(0.7f * i) * (i % 7 == 0 ? 3.0f : 1.0f);
  BandFir2000 stepped, blocked;
  std::vector<float> expected(4000), got(4000);
  for (int i = 0; i < 4000; ++i) expected[i] = stepped.Step(in[i]);
  const int lengths[] = {1, 7, 8, 9, 255, 256, 257, 600, 0, 3, 1000};
  int at = 0;
  bool inPlace = false;
  for (int len : lengths) {
    if (inPlace) {
      std::copy(in.begin() + at, in.begin() + at + len, got.begin() + at);
      blocked.FilterInPlace(got.data() + at, len);
    } else {
      blocked.Filter(in.data() + at, len, got.data() + at);
    }
    at += len;
    inPlace = !inPlace;
    got[at] = blocked.Step(in[at]);  // and one single step between blocks
    ++at;
  }
  got.resize(at);
  expected.resize(at);
  EXPECT_EQ(got, expected);
}

TEST(FixedFirBuffer, BlockThenStepsMatchTheLiteralPosition) {
  MixLowpass a, b;
  std::vector<float> x(100, 0.5f);
  a.FilterInPlace(x.data(), 100);
  for (int i = 0; i < 100; ++i) b.Step(0.5f);
  EXPECT_EQ(a.position(), b.position());
  EXPECT_EQ(a.position(), (kMixLowpassTaps - 100 % kMixLowpassTaps) % kMixLowpassTaps);
}

TEST(FixedFirBuffer, StateCarriesAcrossBlocks) {
  // One 2000-sample pass and two 1000-sample passes give the same output: the
  // buffer is never reset between blocks.
  std::vector<float> in(2000);
  for (int i = 0; i < 2000; ++i) in[i] = std::cos(0.01f * i * i);
  BandFir1500 whole, split;
  std::vector<float> a = in, b = in;
  whole.FilterInPlace(a.data(), 2000);
  split.FilterInPlace(b.data(), 1000);
  split.FilterInPlace(b.data() + 1000, 1000);
  EXPECT_EQ(a, b);
}

TEST(FixedFirBuffer, SineAtTheCentreComesOutScaledAndDelayedBy127Samples) {
  BandFir2500 fir;
  const double w = 2 * kPi * 2500 / kRateHz;
  for (int n = 0; n < 3000; ++n) {
    const float y = fir.Step(static_cast<float>(std::sin(w * n)));
    if (n >= 1000) {
      ASSERT_NEAR(y, 101.4 * std::sin(w * (n - 127)), 101.4 * 1e-3) << n;
    }
  }
}

// --- The tables --------------------------------------------------------------------

struct BandFilterCase {
  const char* name;
  const float* table;
  double centreHz;
  double gain;
  double at100Db;    // the value at ±100 Hz
  double stop200Db;  // bound from ±200 Hz on
};

class BandFilterTable : public ::testing::TestWithParam<BandFilterCase> {
 protected:
  double RelativeDb(double hz) const {
    const BandFilterCase& f = GetParam();
    return 20 * std::log10(Magnitude(f.table, kBandFirTaps, hz) /
                           Magnitude(f.table, kBandFirTaps, f.centreHz));
  }
};

TEST_P(BandFilterTable, IsSymmetricSoItsDelayIs127Samples) {
  const float* h = GetParam().table;
  for (int k = 0; k < kBandFirTaps; ++k) ASSERT_EQ(h[k], h[kBandFirTaps - 1 - k]) << k;
}

TEST_P(BandFilterTable, HasItsCentreGain) {
  const BandFilterCase& f = GetParam();
  EXPECT_NEAR(Magnitude(f.table, kBandFirTaps, f.centreHz) / f.gain, 1.0, 1e-4);
}

TEST_P(BandFilterTable, IsFlatWithin0p2DbOverPlusMinus50Hz) {
  const double centre = GetParam().centreHz;
  for (double d = -50; d <= 50; d += 0.5) {
    ASSERT_LE(std::fabs(RelativeDb(centre + d)), 0.2) << "offset " << d << " Hz";
  }
}

TEST_P(BandFilterTable, MeetsTheSkirtFigures) {
  const BandFilterCase& f = GetParam();
  for (int sign : {-1, 1}) {
    EXPECT_NEAR(RelativeDb(f.centreHz + sign * 100.0), f.at100Db, 0.5) << sign * 100 << " Hz";
    EXPECT_NEAR(RelativeDb(f.centreHz + sign * 150.0), -20.0, 1.5) << sign * 150 << " Hz";
  }
}

TEST_P(BandFilterTable, StaysBelowTheStopBandBounds) {
  const BandFilterCase& f = GetParam();
  for (double hz = 0; hz <= 6000; hz += 0.5) {
    const double d = std::fabs(hz - f.centreHz);
    if (d < 200) continue;
    const double db = RelativeDb(hz);
    ASSERT_LT(db, f.stop200Db) << hz << " Hz";
    if (d > 400) {
      ASSERT_LT(db, -55.0) << hz << " Hz";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AllBandFilters, BandFilterTable,
                         ::testing::Values(BandFilterCase{"BandFir1500", kBandFir1500Coefficients,
                                                          1500, 1.749, -4.3, -46},
                                           BandFilterCase{"BandFir2000", kBandFir2000Coefficients,
                                                          2000, 38.8, -4.3, -48},
                                           BandFilterCase{"BandFir2500", kBandFir2500Coefficients,
                                                          2500, 101.4, -4.2, -51}),
                         [](const ::testing::TestParamInfo<BandFilterCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(MixLowpassTable, IsSymmetricWithUnitSum) {
  const float* h = kMixLowpassCoefficients;
  double sum = 0;
  for (int k = 0; k < kMixLowpassTaps; ++k) {
    ASSERT_EQ(h[k], h[kMixLowpassTaps - 1 - k]) << k;
    sum += h[k];
  }
  EXPECT_NEAR(sum, 1.0, 1e-6);
  // The largest tap is the middle one: the delay is 31 samples.
  for (int k = 0; k < kMixLowpassTaps; ++k) ASSERT_LE(h[k], h[31]) << k;
}

TEST(MixLowpassTable, FollowsTheRequiredResponse) {
  const struct {
    double hz, db;
  } points[] = {{0, 0.0},     {100, 0.26}, {200, 0.52},  {300, -0.27},
                {384, -2.45}, {500, -8.8}, {600, -18.2}, {700, -27.1}};
  for (const auto& p : points) {
    const double db = 20 * std::log10(Magnitude(kMixLowpassCoefficients, kMixLowpassTaps, p.hz));
    EXPECT_NEAR(db, p.db, 0.5) << p.hz << " Hz";
  }
}

TEST(MixLowpassTable, StopsBelowMinus43DbFrom1000Hz) {
  for (double hz = 1000; hz <= 6000; hz += 0.5) {
    const double db = 20 * std::log10(Magnitude(kMixLowpassCoefficients, kMixLowpassTaps, hz));
    ASSERT_LT(db, -43.0) << hz << " Hz";
  }
}

}  // namespace
}  // namespace vs32
