// The decoder's correlation stages read the known-call table on the worker
// thread while results processing appends learnt calls and the user's clean-up
// and a settings reload rebuild it on the main thread. A frame that only the
// correlation with a listed station can decode must come out the same, with
// the same call, whatever the main thread is doing at that moment.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "config/list_files.h"
#include "engine/decoder.h"
#include "engine/frame_codec.h"
#include "engine/known_calls.h"
#include "support/test_support.h"

namespace vs32 {
namespace {

using test::Numbered;

// Rectangular power history of a frame with the given scrambled message bits
// (bit k at position 50 - k), two samples into each symbol.
std::vector<float> History(uint64_t scrambled) {
  std::string symbols = "11";
  for (int j = 0; j < 7; ++j) {
    for (int g = 0; g < 17; ++g) {
      const unsigned v = static_cast<unsigned>((scrambled >> (48 - 3 * g)) & 7);
      symbols += __builtin_parity((j + 1) & v) ? "01" : "10";
    }
  }
  std::vector<float> h(kHistoryLength, 0.0f);
  for (int i = 0; i < kHistoryLength; ++i) {
    const int p = i + 10;
    if (p / 4 < kFrameSymbols && symbols[p / 4] == '1') h[i] = 1.0f;
  }
  return h;
}

// Hard decisions whose symbol s (sample 4 × (s − 2)) is the reference symbol s.
std::vector<int8_t> SignHistory(const KnownCall& entry) {
  std::vector<int8_t> sign(kHistoryLength, -1);
  for (int s = 2; s < kFrameSymbols; ++s) {
    for (int k = 0; k < 4; ++k) {
      sign[4 * (s - 2) + k] = static_cast<int8_t>(entry.referenceSymbols[s]);
    }
  }
  return sign;
}

struct Outcome {
  DecodeStatus status = 0;
  std::string call;
  bool operator==(const Outcome&) const = default;
};

TEST(DecoderKnownCallsConcurrency, CorrelationDecodesStayTheSameWhileTheTableChanges) {
  test::TempDir dir;
  std::string callsloc;
  for (int i = 0; i < 40; ++i) callsloc += Numbered("K", i, "ST") + " JO65HO\n";
  test::WriteFile(dir / "callsloc.txt", callsloc);

  auto table = std::make_unique<KnownCallTable>();
  ASSERT_EQ(LoadKnownCalls(*table, "IO91WM", dir.path()), 40);

  // Station 17's frame with two information bits flipped: the check word fails,
  // so only the correlation with the table can name the station.
  const KnownCall station = table->entries[17];
  uint64_t scrambled = 0;
  for (int k = 0; k < kMessageBits; ++k) {
    scrambled = (scrambled << 1) | static_cast<uint64_t>(station.scrambledMessage[k]);
  }
  scrambled ^= (uint64_t{1} << (50 - 6)) | (uint64_t{1} << (50 - 10));
  const std::vector<float> history = History(scrambled);
  const std::vector<int8_t> sign = SignHistory(station);

  DecoderOptions options;
  options.knownCalls = table.get();
  options.historyHalfFull = true;
  auto decode = [&] {
    const DecodeResult r =
        DecodeFrame(history.data(), history.data(), history.data(), sign.data(), 1, options);
    Outcome o;
    o.status = r.status;
    if (o.status != 0) o.call = r.call;
    return o;
  };
  const Outcome expected = decode();
  ASSERT_EQ(expected.status, 1);
  ASSERT_EQ(expected.call, station.callsign);

  std::atomic<bool> stop{false};
  std::atomic<int> decodes{0};
  std::atomic<int> wrong{0};
  std::thread worker([&] {
    while (!stop.load()) {
      if (!(decode() == expected)) ++wrong;
      ++decodes;
    }
  });

  // Learnt calls have no position and take no part in the correlation; they
  // fill the table past full (reuse of old entries, then the scratch slot).
  std::vector<std::string> learnt;
  for (int i = 0; i < 1100; ++i) learnt.push_back(Numbered("N", i));
  for (int round = 0; round < 4; ++round) {
    for (size_t i = 0; i < learnt.size(); ++i) {
      AppendLearntCall(*table, learnt[i], static_cast<int>(round * 10000 + i));
      if (i % 100 == 0) std::this_thread::yield();
    }
    EXPECT_EQ(table->size(), KnownCallTable::kMaxUsed);
    EXPECT_EQ(CleanUpKnownList(*table, dir.path()), KnownCallTable::kMaxUsed - 40);
    for (int i = 0; i < 200; ++i) AppendLearntCall(*table, learnt[static_cast<size_t>(i)], 1);
    EXPECT_EQ(LoadKnownCalls(*table, "IO91WM", dir.path()), 40);
  }
  // Let the worker overlap with at least some of the changes.
  while (decodes.load() < 20) std::this_thread::yield();
  stop.store(true);
  worker.join();
  EXPECT_EQ(wrong.load(), 0) << "of " << decodes.load() << " decodes";
}

}  // namespace
}  // namespace vs32
