// Decoder speed: DecodeFrame on noise at each depth (nothing decodes, so Deep and
// Ultra Deep walk their whole lists), the best-first list on noise and on a weak
// frame, and the shift test against a full table.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/correlator.h"
#include "engine/decoder.h"
#include "engine/frame_codec.h"
#include "engine/list_decoder.h"

namespace {

using namespace vs32;

constexpr int kWindows = 16;

// Noise power histories: squared Gaussian samples lightly smoothed, like the
// channel powers of an empty band.
struct NoiseHistories {
  std::vector<float> centre, lower, upper;
  std::vector<int8_t> sign;
  NoiseHistories() {
    std::mt19937 rng(77);
    std::normal_distribution<float> gauss(0.0f, 1.0f);
    const int n = kHistoryLength + kWindows;
    for (auto* h : {&centre, &lower, &upper}) {
      h->resize(n);
      float smooth = 1.0f;
      for (int i = 0; i < n; ++i) {
        const float a = gauss(rng), b = gauss(rng);
        smooth = 0.7f * smooth + 0.3f * (a * a + b * b);
        (*h)[i] = smooth;
      }
    }
    sign.resize(n);
    for (int i = 0; i < n; ++i) sign[i] = centre[i] > 2.0f ? 1 : -1;
  }
};

void DecodeNoise(benchmark::State& state) {
  static const NoiseHistories noise;
  const int depth = static_cast<int>(state.range(0));
  const DecoderOptions options;  // no known-call table: the correlation stages stay out
  int attempts = 0;
  int window = 0;
  int decoded = 0;
  for (auto _ : state) {
    const DecodeResult r =
        DecodeFrame(noise.centre.data() + window, noise.lower.data() + window,
                    noise.upper.data() + window, noise.sign.data() + window, depth, options);
    attempts = r.attempts;
    decoded += r.status == 2;
    benchmark::DoNotOptimize(r);
    window = (window + 1) % kWindows;
  }
  state.counters["attempts"] = attempts;
  state.counters["decoded"] = decoded;
}
BENCHMARK(DecodeNoise)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// One search of the best-first list of K messages on the scores of a noise
// window (the whole list is walked), as depth 3 runs when the gate lets it.
void ListSearchNoise(benchmark::State& state) {
  static const NoiseHistories noise;
  ListDecoder list(static_cast<int>(state.range(0)));
  std::vector<Demodulation> windows(kWindows);
  for (int w = 0; w < kWindows; ++w) {
    Demodulate(noise.centre.data() + w, noise.lower.data() + w, noise.upper.data() + w,
               &windows[w]);
  }
  int window = 0;
  int found = 0;
  for (auto _ : state) {
    const ListOutcome r = list.Search(windows[window].scores);
    found += r.found;
    benchmark::DoNotOptimize(r);
    window = (window + 1) % kWindows;
  }
  state.counters["found"] = found;
}
BENCHMARK(ListSearchNoise)->Arg(157)->Arg(4096)->Arg(65536)->Unit(benchmark::kMicrosecond);

// The same on a weak frame (on/off keyed powers with Gaussian noise) that the
// Ultra Deep list misses and the list of 4096 finds; `position` is its place.
void ListSearchWeakFrame(benchmark::State& state) {
  char symbols[kFrameSymbols + 1];
  int scrambled[kMessageBits];
  EncodeFrame(CallsignFieldForm("QA2XY"), symbols, scrambled);
  std::mt19937 rng(5);
  std::normal_distribution<float> gauss(0.0f, 0.4f);
  ListDecoder reference(4096);
  Demodulation m{};
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::vector<float> h[3];
    for (int k = 0; k < 3; ++k) {
      h[k].resize(kHistoryLength);
      for (int i = 0; i < kHistoryLength; ++i) {
        const int s = (i + 8) / 4;
        const float level = k == 0 && s < kFrameSymbols && symbols[s] == '1' ? 1.0f : 0.0f;
        h[k][i] = std::max(0.0f, level + gauss(rng));
      }
    }
    Demodulate(h[0].data(), h[1].data(), h[2].data(), &m);
    const uint64_t pattern = ScramblePatternBits();
    const SearchResult ultra = SearchCandidates(m.bestBits ^ pattern, m.runnerUpBits ^ pattern, 2);
    const ListOutcome r = reference.Search(m.scores);
    if (ultra.status != 2 && r.found && r.position > 100) break;
  }
  ListDecoder list(static_cast<int>(state.range(0)));
  ListOutcome r;
  for (auto _ : state) {
    r = list.Search(m.scores);
    benchmark::DoNotOptimize(r);
  }
  state.counters["found"] = r.found;
  state.counters["position"] = r.found ? r.position : 0;
}
BENCHMARK(ListSearchWeakFrame)->Arg(157)->Arg(4096)->Arg(65536)->Unit(benchmark::kMicrosecond);

std::unique_ptr<KnownCallTable> FullTable() {
  auto table = std::make_unique<KnownCallTable>();
  std::mt19937 rng(5);
  const std::string letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  for (int i = 0; i < KnownCallTable::kMaxUsed - 1; ++i) {
    std::string call;
    call += letters[rng() % 26];
    call += letters[rng() % 26];
    call += static_cast<char>('0' + rng() % 10);
    for (int k = 0; k < 3; ++k) call += letters[rng() % 26];
    KnownCall& e = table->entries[i];
    std::snprintf(e.callsign, sizeof e.callsign, "%s", call.c_str());
    char symbols[kFrameSymbols + 1];
    EncodeFrame(CallsignFieldForm(call), symbols, e.scrambledMessage);
    for (int s = 0; s < kFrameSymbols; ++s) e.referenceSymbols[s] = symbols[s] == '1' ? 1 : -1;
    e.distanceKm = 100.0 + i;
  }
  table->count.store(KnownCallTable::kMaxUsed - 1);
  return table;
}

// Hard decisions of entry `index`'s frame.
std::vector<int8_t> SymbolsOf(const KnownCall& e) {
  std::vector<int8_t> sign(kHistoryLength, -1);
  for (int s = 2; s < kFrameSymbols; ++s) {
    for (int k = 0; k < 4; ++k) sign[4 * (s - 2) + k] = static_cast<int8_t>(e.referenceSymbols[s]);
  }
  return sign;
}

void ShiftTestFullTable(benchmark::State& state) {
  const auto table = FullTable();
  const auto sign = SymbolsOf(table->entries[500]);
  for (auto _ : state) {
    const ShiftTestResult r = ShiftTest(PackHardDecisions(sign.data()), *table, table->size(), 500);
    benchmark::DoNotOptimize(r);
  }
  state.counters["entries"] = table->size();
}
BENCHMARK(ShiftTestFullTable)->Unit(benchmark::kMillisecond);

// The whole correlation path inside DecodeFrame (Correlator51, Correlator237 and
// the shift test, which runs because the symbols match an entry).
void DecodeWithCorrelationFullTable(benchmark::State& state) {
  const auto table = FullTable();
  const auto sign = SymbolsOf(table->entries[500]);
  const std::vector<float> silent(kHistoryLength, 0.0f);
  DecoderOptions options;
  options.knownCalls = table.get();
  options.historyHalfFull = true;
  for (auto _ : state) {
    const DecodeResult r =
        DecodeFrame(silent.data(), silent.data(), silent.data(), sign.data(), 0, options);
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(DecodeWithCorrelationFullTable)->Unit(benchmark::kMillisecond);

}  // namespace
