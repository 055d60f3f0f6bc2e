// Receive chain speed: one-second blocks through ReceiveChain::ProcessBlock, as
// the worker and the batch decoder drive it. Counter "x_realtime" is seconds of
// audio per second of CPU on one thread.
//
//   Chain/FrontEndAndBank   no channel is picked (MIN_PEAK_SPACE 615): front end,
//                           channel bank, histories and spectrum only
//   Chain/Default           default settings (Deep, every local peak decoded)
//   Chain/Wide              F_CENTER 6000: the 48000 samples/s path
//   Chain/UltraDeepFullTable Ultra Deep, correlation with 998 known stations, after
//                           the histories are half full (so the correlation runs)
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "config/list_files.h"
#include "config/settings.h"
#include "engine/decode_slots.h"
#include "engine/known_calls.h"
#include "engine/receive_chain.h"

namespace vs32 {
namespace {

constexpr int kNoiseBlocks = 16;  // distinct blocks, fed round and round

// Gaussian noise with a carrier in the band, scaled like sound-card samples.
std::vector<float> Recording(int rate, double carrierHz, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> g(0.0f, 0.15f);
  std::vector<float> x(static_cast<size_t>(rate) * kNoiseBlocks);
  for (size_t i = 0; i < x.size(); ++i) {
    x[i] = g(rng) + 0.01f * static_cast<float>(std::sin(6.283185307179586 * carrierHz * i / rate));
  }
  return x;
}

void FillFullTable(KnownCallTable& table) {
  std::mt19937 rng(5);
  const std::string letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  const int count = KnownCallTable::kMaxUsed - 1;
  for (int i = 0; i < count; ++i) {
    std::string call;
    call += letters[rng() % 26];
    call += letters[rng() % 26];
    call += static_cast<char>('0' + rng() % 10);
    for (int k = 0; k < 3; ++k) call += letters[rng() % 26];
    FillKnownCall(table.entries[i], call, "JO65HO", 100.0 + i);
  }
  table.count.store(count);
}

struct ChainSetup {
  ReceiverSettings settings = DefaultSettings(Program::kConsole);
  std::unique_ptr<KnownCallTable> table = std::make_unique<KnownCallTable>();
  ChannelMask loran{}, always{};
  std::unique_ptr<DecodeSlotTable> slots = std::make_unique<DecodeSlotTable>();
  std::unique_ptr<ReceiveChain> chain;
  std::vector<float> input;
  long block = 0;

  void Start() {
    ComputeDerived(settings);
    chain = std::make_unique<ReceiveChain>(settings, table.get(), &loran, &always, slots.get(),
                                           nullptr);
    const int rate = chain->BlockSize();
    input = Recording(rate, settings.bandStartHz + 50.3, 9);
    chain->StartRun();
  }
  void Block() {
    const int n = chain->BlockSize();
    std::copy_n(input.begin() + (block % kNoiseBlocks) * n, n, chain->BlockBuffer());
    chain->ProcessBlock(static_cast<double>(1000000 + block), true);
    ++block;
  }
};

void RunBlocks(benchmark::State& state, ChainSetup& setup) {
  for (auto _ : state) setup.Block();
  state.counters["x_realtime"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void ChainFrontEndAndBank(benchmark::State& state) {
  ChainSetup setup;
  setup.settings.minPeakSpacing = 615;
  setup.Start();
  RunBlocks(state, setup);
  state.counters["decoder_calls"] = setup.chain->decoderCalls();
}
BENCHMARK(ChainFrontEndAndBank)->Unit(benchmark::kMillisecond)->MinTime(3.0);

void ChainDefault(benchmark::State& state) {
  ChainSetup setup;
  setup.Start();
  RunBlocks(state, setup);
}
BENCHMARK(ChainDefault)->Unit(benchmark::kMillisecond)->MinTime(3.0);

void ChainWide(benchmark::State& state) {
  ChainSetup setup;
  setup.settings.bandStartHz = 5950;
  setup.Start();
  RunBlocks(state, setup);
}
BENCHMARK(ChainWide)->Unit(benchmark::kMillisecond)->MinTime(3.0);

void ChainUltraDeepFullTable(benchmark::State& state) {
  // Set up once: the warm-up to half-full histories takes a thousand blocks.
  static ChainSetup* setup = [] {
    auto* s = new ChainSetup;
    s->settings.deepDecoder = true;
    s->settings.ultraDeepDecoder = true;
    s->settings.useCorrelator = true;
    FillFullTable(*s->table);
    s->Start();
    while (!s->chain->historyHalfFull()) s->Block();
    return s;
  }();
  RunBlocks(state, *setup);
}
BENCHMARK(ChainUltraDeepFullTable)->Unit(benchmark::kMillisecond)->MinTime(5.0);

}  // namespace
}  // namespace vs32
