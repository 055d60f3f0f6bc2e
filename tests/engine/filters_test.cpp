// Filter designs and the reference objects that run them one sample at a
// time: the band-pass FIR design and its step, the power smoother, the channel
// resonator and the reference channel bank.
#include "support/reference_filters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>
#include <stdexcept>
#include <vector>

namespace vs32 {
namespace {

// |H(f)| of an FIR given by its coefficients, f in cycles per sample.
double FirMagnitude(const BandpassFir& fir, double f) {
  std::complex<double> h = 0;
  for (int i = 0; i < fir.taps(); ++i)
    h += double(fir.coefficient(i)) * std::polar(1.0, -kTwoPi * f * i);
  return std::abs(h);
}

// --- BandpassFir design --------------------------------------------------------

TEST(BandpassFirDesign, WideBandDesignIsCappedAt256TapsAndNormalised) {
  // 3π / 0.025 = 376.99 -> 376 -> capped.
  const BandpassFir fir(1350.0f / 12000, 1650.0f / 12000);
  EXPECT_EQ(fir.taps(), 256);
  EXPECT_FLOAT_EQ(fir.centre(), 0.125f);
  double absSum = 0;
  for (int i = 0; i < fir.taps(); ++i) absSum += std::fabs(fir.coefficient(i));
  EXPECT_NEAR(absSum, 1.0, 1e-5);
}

TEST(BandpassFirDesign, TapCountIsTruncatedAndMadeEven) {
  EXPECT_EQ(BandpassFir(0.1f, 0.2f).taps(), 94);  // 3π / 0.1 = 94.25
  EXPECT_EQ(BandpassFir(0.1f, 0.3f).taps(), 48);  // 47.12 -> 47 -> odd -> 48
}

TEST(BandpassFirDesign, BothDesignsOfTheWorkerGive256Taps) {
  // Narrow path at F_CENTER 1000 and wide path at F_CENTER 6000.
  EXPECT_EQ(BandpassFir(850.0f / 12000, 1150.0f / 12000).taps(), 256);
  EXPECT_EQ(BandpassFir(5500.0f / 48000, 6500.0f / 48000).taps(), 256);
}

TEST(BandpassFirDesign, PeaksAtItsCentreAndRejectsFarFrequencies) {
  const BandpassFir fir(850.0f / 12000, 1150.0f / 12000);
  double peakHz = 0, peak = 0;
  for (double hz = 700; hz <= 1300; hz += 0.5) {
    const double m = FirMagnitude(fir, hz / 12000);
    if (m > peak) peak = m, peakHz = hz;
  }
  EXPECT_NEAR(peakHz, 1000, 1.0);
  EXPECT_LT(20 * std::log10(FirMagnitude(fir, 500.0 / 12000) / peak), -60);
  EXPECT_LT(20 * std::log10(FirMagnitude(fir, 2000.0 / 12000) / peak), -60);
}

TEST(BandpassFirDesign, RejectsBandEdgesThatAreNotAnInterval) {
  EXPECT_THROW(BandpassFir(0.2f, 0.2f), std::invalid_argument);
  EXPECT_THROW(BandpassFir(0.3f, 0.2f), std::invalid_argument);
  EXPECT_THROW(BandpassFir(NAN, 0.2f), std::invalid_argument);
  EXPECT_THROW(BandpassFir(0.1f, INFINITY), std::invalid_argument);
  // A band a few float steps wide must not overflow the tap count.
  EXPECT_EQ(BandpassFir(0.1f, std::nextafter(0.1f, 1.0f)).taps(), 256);
}

TEST(BandpassFirDesign, BandCentredOnZeroGivesZerosNotNaNs) {
  BandpassFir fir(-0.1f, 0.1f);
  for (int i = 0; i < fir.taps(); ++i) EXPECT_EQ(fir.coefficient(i), 0.0f);
  EXPECT_EQ(fir.Step(1.0f), 0.0f);
}

// --- BandpassFir step ------------------------------------------------------------

TEST(BandpassFirStep, ImpulseResponseIsTheCoefficientsInOrder) {
  BandpassFir fir(0.1f, 0.2f);
  EXPECT_EQ(fir.Step(1.0f), fir.coefficient(0));
  for (int i = 1; i < fir.taps(); ++i) EXPECT_EQ(fir.Step(0.0f), fir.coefficient(i)) << i;
  EXPECT_EQ(fir.Step(0.0f), 0.0f);  // the impulse has left the history
}

TEST(BandpassFirStep, MatchesAShiftingHistoryBitForBit) {
  // The literal form: history shifted up, newest at 0, single-precision sum in
  // index order. Any other order or precision shows up as a bit difference.
  BandpassFir fir(850.0f / 12000, 1150.0f / 12000);
  const int taps = fir.taps();
  std::vector<float> history(taps + 1, 0.0f);
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  for (int n = 0; n < 3000; ++n) {
    const float x = u(rng);
    for (int j = taps - 1; j >= 1; --j) history[j] = history[j - 1];
    history[0] = x;
    float expected = 0.0f;
    for (int j = 0; j < taps; ++j) expected += history[j] * fir.coefficient(j);
    ASSERT_EQ(fir.Step(x), expected) << "sample " << n;
  }
}

TEST(BandpassFirStep, FilterBlockEqualsRepeatedStepsBitForBit) {
  // Blocks of awkward lengths, in place and not, with single steps between.
  for (const auto& band : {std::pair{0.1f, 0.2f}, std::pair{850.0f / 12000, 1150.0f / 12000}}) {
    BandpassFir stepped(band.first, band.second), blocked(band.first, band.second);
    std::vector<float> in(3000), expected(3000), got(3000);
    for (int i = 0; i < 3000; ++i) in[i] = std::sin(0.3f * i) + 0.25f * std::cos(1.1f * i);
    for (int i = 0; i < 3000; ++i) expected[i] = stepped.Step(in[i]);
    int at = 0;
    bool inPlace = false;
    for (int len : {1, 8, 9, 93, 256, 257, 700, 0, 5, 1000}) {
      if (inPlace) {
        std::copy(in.begin() + at, in.begin() + at + len, got.begin() + at);
        blocked.FilterBlock(got.data() + at, len, got.data() + at);
      } else {
        blocked.FilterBlock(in.data() + at, len, got.data() + at);
      }
      at += len;
      inPlace = !inPlace;
      got[at] = blocked.Step(in[at]);
      ++at;
    }
    got.resize(at);
    expected.resize(at);
    EXPECT_EQ(got, expected) << blocked.taps() << " taps";
  }
}

// --- PowerSmoother ---------------------------------------------------------------

TEST(PowerSmoother, WorkerCutoffGivesItsPoleAndGain) {
  const PowerSmoother s(1.0f / 2048, 3);
  EXPECT_NEAR(s.pole(), 0.9969367398092255, 1e-16);
  EXPECT_NEAR(s.gain(), 0.0030632601907745, 1e-16);
  EXPECT_EQ(s.gain(), 1.0 - s.pole());
}

TEST(PowerSmoother, ThreeStagesRiseToOneWithoutOvershoot) {
  PowerSmoother s(1.0f / 2048, 3);
  const double g = s.gain();
  const float first = s.Step(1.0f);
  EXPECT_EQ(first, static_cast<float>(g * g * g));
  EXPECT_NEAR(first, 2.87e-08, 0.01e-08);
  float previous = first;
  for (int n = 1; n < 20000; ++n) {
    const float y = s.Step(1.0f);
    ASSERT_GE(y, previous) << n;
    ASSERT_LE(y, 1.0f) << n;
    previous = y;
  }
  EXPECT_GT(previous, 0.9999f);
}

TEST(PowerSmoother, RejectsUnusableArguments) {
  EXPECT_THROW(PowerSmoother(0.001f, 0), std::invalid_argument);
  EXPECT_THROW(PowerSmoother(0.001f, PowerSmoother::kMaxStages + 1), std::invalid_argument);
  EXPECT_THROW(PowerSmoother(NAN, 3), std::invalid_argument);
  EXPECT_THROW(PowerSmoother(-0.1f, 3), std::invalid_argument);
}

// --- ChannelResonator ------------------------------------------------------------

// |H(f)| of the resonator from its coefficients, f in cycles per sample.
double ResonatorMagnitude(const ChannelResonator& r, double f) {
  const std::complex<double> z1 = std::polar(1.0, -kTwoPi * f);
  const std::complex<double> z2 = z1 * z1;
  return std::abs((r.a0() + r.a1() * z1 + r.a2() * z2) / (1.0 - r.b1() * z1 - r.b2() * z2));
}

constexpr float kWorkerBandwidth = 0.000244f;
constexpr double kChannelStep = 0.08130081300813008 / 500;  // one channel, cycles per sample

TEST(ChannelResonator, ImpulseResponseStartsWithA0ThenA1PlusB1A0) {
  ChannelResonator r(0.3f, kWorkerBandwidth);
  const double y0 = r.Step(1.0f);
  EXPECT_EQ(y0, r.a0());
  const double y1 = r.Step(0.0f);
  EXPECT_EQ(y1, r.a1() + r.b1() * r.a0());
  EXPECT_EQ(r.Step(0.0f), r.a2() + r.b1() * y1 + r.b2() * y0);
}

TEST(ChannelResonator, UnityGainAtCentreAndNeighbourSelectivity) {
  for (float f : {0.2f, 0.3f, 0.3998374f}) {
    const ChannelResonator r(f, kWorkerBandwidth);
    const double centre = ResonatorMagnitude(r, f);
    EXPECT_NEAR(centre, 1.0, 1e-9) << f;
    const double one = 20 * std::log10(ResonatorMagnitude(r, f + kChannelStep));
    const double two = 20 * std::log10(ResonatorMagnitude(r, f - 2 * kChannelStep));
    EXPECT_NEAR(one, -4.7, 0.15) << f;
    EXPECT_NEAR(two, -9.4, 0.2) << f;
  }
}

TEST(ChannelResonator, HalfPowerWidthIsAboutOneTenthOfAHertz) {
  const float f = 0.3f;
  const ChannelResonator r(f, kWorkerBandwidth);
  double df = 0;  // cycles per sample above the centre where the gain is -3 dB
  while (20 * std::log10(ResonatorMagnitude(r, f + df)) > -3.0103) df += 1e-7;
  EXPECT_NEAR(2 * df * 500, 0.117, 0.005);  // Hz at 500 samples/s
}

TEST(ChannelResonator, SineAtCentreComesThroughUnchanged) {
  // Unity gain and zero phase at the centre: once settled, output = input.
  ChannelResonator r(0.2f, kWorkerBandwidth);
  for (int n = 0; n < 40000; ++n) {
    const float x = static_cast<float>(std::sin(kTwoPi * 0.2f * n + 0.3));
    const double y = r.Step(x);
    if (n >= 38000) {
      ASSERT_NEAR(y, x, 0.01) << n;
    }
  }
}

TEST(ChannelResonator, PhaseIsTheCallersToAdvance) {
  ChannelResonator r(0.3f, kWorkerBandwidth);
  EXPECT_EQ(r.phase(), kTwoPi / 1024);
  EXPECT_EQ(r.phase_step(), kTwoPi * 0.3f);
  EXPECT_EQ(r.frequency(), static_cast<double>(0.3f));
  r.Step(1.0f);
  r.Step(-1.0f);
  EXPECT_EQ(r.phase(), kTwoPi / 1024);  // Step leaves it alone
  double expected = kTwoPi / 1024;
  for (int n = 0; n < 10; ++n) {
    r.AdvancePhase();
    expected += kTwoPi * 0.3f;
    while (expected > kTwoPi) expected -= kTwoPi;
    ASSERT_EQ(r.phase(), expected) << n;
    ASSERT_GT(r.phase(), 0.0);
    ASSERT_LE(r.phase(), kTwoPi);
  }
}

TEST(ChannelResonator, RejectsAZeroFrequency) {
  EXPECT_THROW(ChannelResonator(0.0f, kWorkerBandwidth), std::invalid_argument);
  EXPECT_THROW(ChannelResonator(0.6f, kWorkerBandwidth), std::invalid_argument);
  EXPECT_THROW(ChannelResonator(0.3f, NAN), std::invalid_argument);
}

// --- ChannelBank -----------------------------------------------------------------

// The worker's channel frequencies, formed in two float roundings.
std::vector<float> WorkerFrequencies() {
  std::vector<float> f(ChannelBank::kMaxChannels);
  for (int c = 0; c < ChannelBank::kMaxChannels; ++c) {
    const float hz = static_cast<float>(c * 0.08130081300813008 + 100);
    f[c] = static_cast<float>(static_cast<double>(hz) * (1.0 / 12000) * 24);
  }
  return f;
}

TEST(ChannelBank, MatchesTheSingleObjectsBitForBitWithBothDetectors) {
  const std::vector<float> f = WorkerFrequencies();
  ChannelBank bank(f.data(), ChannelBank::kMaxChannels, kWorkerBandwidth, 1.0f / 2048);
  std::vector<ChannelResonator> resonators;
  std::vector<PowerSmoother> smoothers;
  for (float fc : f) {
    resonators.emplace_back(fc, kWorkerBandwidth);
    smoothers.emplace_back(1.0f / 2048, 3);
  }
  std::vector<float> detector(f.size()), power(f.size());
  std::mt19937 rng(5);
  std::normal_distribution<float> g(0.0f, 0.5f);
  for (int step = 0; step < 600; ++step) {
    const float x = g(rng);
    const bool coherent = step >= 300;  // the switch can change at any step
    if (coherent) {
      bank.StepCoherent(x, detector.data(), power.data());
    } else {
      bank.Step(x, detector.data(), power.data());
    }
    for (size_t c = 0; c < f.size(); ++c) {
      const double y = resonators[c].Step(x);
      float p;
      if (coherent) {
        const float i = static_cast<float>(y * std::cos(resonators[c].phase()));
        const float q = static_cast<float>(y * std::sin(resonators[c].phase()));
        resonators[c].AdvancePhase();
        p = i * i + q * q;
      } else {
        const float yf = static_cast<float>(y);
        p = yf * yf;
      }
      ASSERT_EQ(detector[c], p) << "step " << step << " channel " << c;
      ASSERT_EQ(power[c], smoothers[c].Step(p)) << "step " << step << " channel " << c;
      ASSERT_EQ(bank.phase(c), resonators[c].phase()) << "step " << step << " channel " << c;
    }
  }
}

TEST(ChannelBank, RefusesWhatTheSingleObjectsRefuse) {
  const float good[2] = {0.2f, 0.3f};
  const float zero[2] = {0.2f, 0.0f};
  EXPECT_THROW(ChannelBank(good, 0, kWorkerBandwidth, 1.0f / 2048), std::invalid_argument);
  EXPECT_THROW(ChannelBank(good, ChannelBank::kMaxChannels + 1, kWorkerBandwidth, 1.0f / 2048),
               std::invalid_argument);
  EXPECT_THROW(ChannelBank(zero, 2, kWorkerBandwidth, 1.0f / 2048), std::invalid_argument);
  EXPECT_THROW(ChannelBank(good, 2, kWorkerBandwidth, NAN), std::invalid_argument);
  EXPECT_THROW(ChannelBank(nullptr, 2, kWorkerBandwidth, 1.0f / 2048), std::invalid_argument);
}

}  // namespace
}  // namespace vs32
