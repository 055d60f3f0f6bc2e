// The reference filter objects the chain's kernels are checked against: one
// channel step of the whole channel bank, and the
// front-end FIRs over a one-second block at 12000 samples/s.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "config/band_plan.h"
#include "support/reference_filters.h"

namespace vs32 {
namespace {

constexpr int kBankChannels = kChannels;
constexpr int kBlock = kWorkingRate;

std::vector<float> NoiseBlock(int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> g(0.0f, 0.3f);
  std::vector<float> x(n);
  for (float& v : x) v = g(rng);
  return x;
}

// The bank as the worker builds it: centre frequencies formed in two float
// roundings, bandwidth 0.000244, three-stage smoothers with cutoff 1/2048.
struct Bank {
  std::vector<ChannelResonator> resonators;
  std::vector<PowerSmoother> smoothers;
  std::vector<float> power = std::vector<float>(kBankChannels);
  Bank() {
    resonators.reserve(kBankChannels);
    smoothers.reserve(kBankChannels);
    for (int c = 0; c < kBankChannels; ++c) {
      const float f = static_cast<float>(ChannelOffsetHz(c) + kMixedBandStartHz);
      const float fn = static_cast<float>(static_cast<double>(f) * (1.0 / 12000) * 24);
      resonators.emplace_back(fn, 0.000244f);
      smoothers.emplace_back(1.0f / 2048, 3);
    }
  }
};

// One channel step: resonator, detector y² with y rounded to float, smoother,
// for every channel. 500 of these make one second of audio.
void BM_ChannelStepAllChannels(benchmark::State& state) {
  Bank bank;
  const std::vector<float> input = NoiseBlock(500, 1);
  int t = 0;
  for (auto _ : state) {
    const float x = input[t];
    t = (t + 1) % 500;
    for (int c = 0; c < kBankChannels; ++c) {
      const float y = static_cast<float>(bank.resonators[c].Step(x));
      bank.power[c] = bank.smoothers[c].Step(y * y);
    }
    benchmark::DoNotOptimize(bank.power.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kBankChannels);
}
BENCHMARK(BM_ChannelStepAllChannels);

// The same step through ChannelBank, channel arrays side by side.
void BM_ChannelBankStepAllChannels(benchmark::State& state) {
  std::vector<float> f(kBankChannels);
  for (int c = 0; c < kBankChannels; ++c) {
    const float hz = static_cast<float>(ChannelOffsetHz(c) + kMixedBandStartHz);
    f[c] = static_cast<float>(static_cast<double>(hz) * (1.0 / 12000) * 24);
  }
  ChannelBank bank(f.data(), kBankChannels, 0.000244f, 1.0f / 2048);
  std::vector<float> detector(kBankChannels), power(kBankChannels);
  const std::vector<float> input = NoiseBlock(500, 1);
  int t = 0;
  for (auto _ : state) {
    bank.Step(input[t], detector.data(), power.data());
    t = (t + 1) % 500;
    benchmark::DoNotOptimize(power.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kBankChannels);
}
BENCHMARK(BM_ChannelBankStepAllChannels);

template <typename Filter>
void BM_FixedFirBlock(benchmark::State& state) {
  Filter fir;
  std::vector<float> block = NoiseBlock(kBlock, 2);
  for (auto _ : state) {
    fir.FilterInPlace(block.data(), kBlock);
    benchmark::DoNotOptimize(block.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kBlock);
}
BENCHMARK(BM_FixedFirBlock<BandFir1500>)->Name("BM_BandFir1500Block12000");
BENCHMARK(BM_FixedFirBlock<MixLowpass>)->Name("BM_MixLowpassBlock12000");

void BM_BandpassFirBlock(benchmark::State& state) {
  BandpassFir fir(850.0f / 12000, 1150.0f / 12000);  // 256 taps
  const std::vector<float> in = NoiseBlock(kBlock, 3);
  std::vector<float> out(kBlock);
  for (auto _ : state) {
    fir.FilterBlock(in.data(), kBlock, out.data());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kBlock);
}
BENCHMARK(BM_BandpassFirBlock)->Name("BM_BandpassFir256Block12000");

}  // namespace
}  // namespace vs32
