// The decoder walks the known-call table on the worker thread while the main
// thread appends learnt calls, cleans up and reloads. The reader must never see
// an entry whose callsign and reference frame do not belong together, nor a
// count beyond what was published.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "config/list_files.h"
#include "engine/known_calls.h"
#include "support/test_support.h"

namespace vs32 {
namespace {

using test::Numbered;

struct Frame {
  int symbols[kFrameSymbols];
  int scrambled[kMessageBits];
};

TEST(KnownCallTableConcurrency, ReaderNeverSeesAHalfWrittenEntry) {
  test::TempDir dir;
  std::string callsloc;
  std::map<std::string, Frame> frames;
  auto addFrame = [&](const std::string& call) {
    KnownCall entry;
    FillKnownCall(entry, call, "", -1);
    Frame& frame = frames[call];
    std::copy(entry.referenceSymbols, entry.referenceSymbols + kFrameSymbols, frame.symbols);
    std::copy(entry.scrambledMessage, entry.scrambledMessage + kMessageBits, frame.scrambled);
  };
  for (int i = 0; i < 50; ++i) {
    const std::string call = Numbered("L", i, "X");
    callsloc += call + " JO65HO\n";
    addFrame(call);
  }
  test::WriteFile(dir / "callsloc.txt", callsloc);
  std::vector<std::string> learnt;
  for (int i = 0; i < 1200; ++i) {
    learnt.push_back(Numbered("N", i));
    addFrame(learnt.back());
  }

  auto table = std::make_unique<KnownCallTable>();
  LoadKnownCalls(*table, "JO65HO", dir.path());

  std::atomic<bool> stop{false};
  std::atomic<long> walks{0};
  std::atomic<int> faults{0};
  std::thread reader([&] {
    while (!stop.load()) {
      std::lock_guard lock(table->mutex);
      const int used = table->size();
      if (used < 0 || used > KnownCallTable::kMaxUsed) ++faults;
      for (int i = 0; i < used && i < KnownCallTable::kMaxUsed; ++i) {
        const KnownCall& entry = table->entries[i];
        const auto found = frames.find(entry.callsign);
        if (found == frames.end() ||
            !std::equal(entry.referenceSymbols, entry.referenceSymbols + kFrameSymbols,
                        found->second.symbols) ||
            !std::equal(entry.scrambledMessage, entry.scrambledMessage + kMessageBits,
                        found->second.scrambled)) {
          ++faults;
          break;
        }
      }
      ++walks;
    }
  });

  // Main thread: fill past full (in-place reuse and scratch slot), clean up, reload.
  for (int round = 0; round < 6; ++round) {
    for (size_t i = 0; i < learnt.size(); ++i) {
      AppendLearntCall(*table, learnt[i], static_cast<int>(round * 10000 + i));
    }
    EXPECT_EQ(table->size(), KnownCallTable::kMaxUsed);
    EXPECT_EQ(CleanUpKnownList(*table, dir.path()), KnownCallTable::kMaxUsed - 50);
    for (size_t i = 0; i < 300; ++i) AppendLearntCall(*table, learnt[i], 1);
    EXPECT_EQ(LoadKnownCalls(*table, "JO65HO", dir.path()), 50);
  }
  // Give the reader a fair chance to overlap with the writes.
  while (walks.load() < 100) std::this_thread::yield();
  stop.store(true);
  reader.join();
  EXPECT_EQ(faults.load(), 0);
  EXPECT_GT(walks.load(), 0);
}

}  // namespace
}  // namespace vs32
