// The worker's AcceptDecode against the results side's take-and-free, on two
// threads at once: no slot is ever read half written, and no decode is lost.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/decode_slots.h"

namespace vs32 {
namespace {

constexpr int kN = 1230;
constexpr int kCalls = 50;
constexpr int kDecodes = 100000;

// Every field of decode k is a function of k, so a slot mixing two decodes
// shows up as an inconsistency.
std::string CallOf(int k) {
  char call[8];
  std::snprintf(call, sizeof call, "W%d", k % kCalls);
  return call;
}
int ChannelOf(int k) {
  return 1 + k % (kN - 2);
}

TEST(DecodeSlotsConcurrency, TakesNeverSeeATornSlotAndTheLastDecodeOfEveryCallArrives) {
  std::array<double, kN> spectrum{};
  for (int c = 0; c < kN; ++c) spectrum[c] = c + 1.0;

  // The SNR figures each channel gets, worked out on one thread.
  std::vector<float> channelSnr(kN), snr(kN);
  {
    auto reference = std::make_unique<DecodeSlotTable>();
    for (int c = 1; c < kN - 1; ++c) {
      reference->Clear();
      ASSERT_EQ(reference->AcceptDecode(c, 2, "REF", 1, 0, 1, spectrum.data(), 5, false),
                AcceptOutcome::kOpened);
      channelSnr[c] = reference->Peek(0).channel_snr;
      snr[c] = reference->Peek(0).snr;
    }
  }

  auto table = std::make_unique<DecodeSlotTable>();
  std::atomic<bool> writerDone{false};

  // Which decodes opened a slot rather than improving one.
  std::vector<char> opened(kDecodes, 0);
  std::thread writer([&] {
    for (int k = 0; k < kDecodes; ++k) {
      // Eb/No rises with k, so every decode improves its call's slot.
      const AcceptOutcome outcome =
          table->AcceptDecode(ChannelOf(k), 2, CallOf(k).c_str(), static_cast<float>(k), k, 1,
                              spectrum.data(), 5, k % 2 == 0);
      if (outcome == AcceptOutcome::kOpened) opened[k] = 1;
      if (outcome != AcceptOutcome::kOpened && outcome != AcceptOutcome::kImproved) break;
    }
    writerDone.store(true);
  });

  std::vector<DecodeSlot> taken;
  taken.reserve(kDecodes);
  DecodeSlot out;
  while (!writerDone.load()) {
    for (int i = 0; i < kCalls + 5; ++i) {
      if (table->TakeIfQuiet(i, 100, out)) taken.push_back(out);
    }
  }
  writer.join();
  for (int i = 0; i < DecodeSlotTable::kSlots; ++i) {
    if (table->TakeAny(i, out)) taken.push_back(out);
  }
  EXPECT_EQ(table->PendingCount(), 0);

  std::vector<char> wasTaken(kDecodes, 0);
  std::map<std::string, int> lastTaken;
  for (const DecodeSlot& s : taken) {
    const int k = s.attempts;
    ASSERT_GE(k, 0);
    ASSERT_LT(k, kDecodes);
    ASSERT_EQ(s.ebno, static_cast<float>(k));
    ASSERT_EQ(std::string(s.call), CallOf(k));
    ASSERT_EQ(s.channel, ChannelOf(k));
    ASSERT_EQ(s.channel_snr, channelSnr[s.channel]);
    ASSERT_EQ(s.snr, snr[s.channel]);
    ASSERT_EQ(s.result, 2);
    ASSERT_EQ(s.used, 1);
    ASSERT_EQ(s.time, 1);
    // Each call's takes come in decode order, none twice.
    auto it = lastTaken.find(s.call);
    if (it != lastTaken.end()) {
      ASSERT_GT(k, it->second) << s.call;
    }
    lastTaken[s.call] = k;
    wasTaken[k] = 1;
  }
  // A decode that opened a new slot for its call found the old one freed; the
  // take that freed it must have carried the call's decode just before (a take
  // that raced a late improvement would lose that one).
  int opens = 0;
  for (int k = 0; k < kDecodes; ++k) {
    if (opened[k] == 0) continue;
    ++opens;
    if (k >= kCalls) {
      ASSERT_EQ(wasTaken[k - kCalls], 1) << "decode " << k - kCalls << " was lost";
    }
  }
  EXPECT_GE(opens, kCalls);
  // The final decode of every call reached the results side.
  ASSERT_EQ(lastTaken.size(), static_cast<size_t>(kCalls));
  for (int c = 0; c < kCalls; ++c) {
    const int last = kDecodes - kCalls + c;
    EXPECT_EQ(lastTaken[CallOf(last)], last) << CallOf(last);
  }
  // The reader really ran alongside the writer.
  EXPECT_GT(taken.size(), static_cast<size_t>(kCalls));
}

}  // namespace
}  // namespace vs32
