// The chain's block FIR, with either build of its kernel, against the
// one-sample reference filters: the same bits for every output, over blocks of
// any length, in place or not, and from zero inputs again after a redesign.
#include "engine/block_fir.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "engine/fixed_filters.h"
#include "support/reference_filters.h"

namespace vs32 {
namespace {

constexpr int kMaxBlock = 3000;

std::vector<float> Noise(int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> g(0.0f, 0.4f);
  std::vector<float> x(n);
  for (float& v : x) v = g(rng);
  return x;
}

// Runs `live` over `input` in blocks of awkward lengths (every other block in
// place) and expects the reference's one-sample outputs.
template <typename Reference>
void ExpectSameAsSteps(BlockFir& live, FirRunKernel kernel, Reference& reference,
                       const std::vector<float>& input) {
  std::vector<float> got(input);
  size_t at = 0;
  bool inPlace = false;
  for (const int len : {kMaxBlock, 1, 47, 48, 49, 0, 255, 256, 1000}) {
    ASSERT_LE(at + len, input.size());
    if (inPlace) {
      live.Filter(kernel, got.data() + at, len, got.data() + at);
    } else {
      live.Filter(kernel, input.data() + at, len, got.data() + at);
    }
    at += len;
    inPlace = !inPlace;
  }
  for (size_t i = 0; i < at; ++i) ASSERT_EQ(got[i], reference.Step(input[i])) << "sample " << i;
}

class BlockFirKernel : public ::testing::TestWithParam<bool> {
 protected:
  FirRunKernel kernel() const { return SelectFirRun(GetParam()); }
};

TEST_P(BlockFirKernel, FixedTablesGiveTheReferenceStepsBitForBit) {
  const std::vector<float> x = Noise(6000, 3);
  BlockFir band(kBandFir2000Coefficients, kBandFirTaps, kMaxBlock);
  BandFir2000 bandReference;
  ExpectSameAsSteps(band, kernel(), bandReference, x);
  BlockFir mix(kMixLowpassCoefficients, kMixLowpassTaps, kMaxBlock);
  MixLowpass mixReference;
  ExpectSameAsSteps(mix, kernel(), mixReference, x);
}

TEST_P(BlockFirKernel, RedesignStartsFromZeroInputsAndGivesTheDesignsSteps) {
  BlockFir live(kMaxBlock);
  std::vector<float> out(kMaxBlock);
  const std::vector<float> x = Noise(6000, 4);
  live.Filter(kernel(), x.data(), 100, out.data());  // no design yet: silence
  for (int i = 0; i < 100; ++i) ASSERT_EQ(out[i], 0.0f) << i;

  live.Redesign(BandpassDesign(0.1f, 0.2f));  // 94 taps, then a longer design
  live.Filter(kernel(), x.data(), kMaxBlock, out.data());
  BandpassFir reference(850.0f / 12000, 1150.0f / 12000);
  live.Redesign(reference);
  ExpectSameAsSteps(live, kernel(), reference, Noise(6000, 5));
}

INSTANTIATE_TEST_SUITE_P(Builds, BlockFirKernel, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Portable" : "Widest";
                         });

}  // namespace
}  // namespace vs32
