#include "engine/known_calls.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/test_support.h"

namespace vs32 {
namespace {

using test::Numbered;

// The reference frame of `call` as the station sends it.
void ExpectFrameOf(const KnownCall& entry, const std::string& call) {
  char symbols[kFrameSymbols + 1] = {};
  int scrambled[kMessageBits] = {};
  EncodeFrame(CallsignFieldForm(call), symbols, scrambled);
  for (int k = 0; k < kFrameSymbols; ++k) {
    ASSERT_EQ(entry.referenceSymbols[k], symbols[k] == '1' ? 1 : -1) << call << " " << k;
  }
  for (int k = 0; k < kMessageBits; ++k) ASSERT_EQ(entry.scrambledMessage[k], scrambled[k]);
}

std::unique_ptr<KnownCallTable> TableWith(int used) {
  auto table = std::make_unique<KnownCallTable>();
  for (int i = 0; i < used; ++i) {
    FillKnownCall(table->entries[i], Numbered("P", i), "JO65HO", 100 + i);
  }
  table->count.store(used);
  return table;
}

TEST(FillKnownCall, OneLetterPrefixCallsGetTheirFieldForm) {
  KnownCall entry;
  FillKnownCall(entry, "G4ABCDEF", "JO65HOXX", 12.5);
  EXPECT_STREQ(entry.callsign, "G4ABCD");
  EXPECT_STREQ(entry.locator, "JO65HO");
  EXPECT_EQ(entry.distanceKm, 12.5);
  ExpectFrameOf(entry, "G4ABCD");

  // The literal text would give another frame: the field form must be what counts.
  char literal[kFrameSymbols + 1] = {};
  int scrambled[kMessageBits] = {};
  EncodeFrame("G4ABCD", literal, scrambled);
  int differing = 0;
  for (int k = 0; k < kFrameSymbols; ++k) {
    differing += entry.referenceSymbols[k] != (literal[k] == '1' ? 1 : -1);
  }
  EXPECT_GT(differing, 0);
}

TEST(AppendLearntCall, PublishesAtTheEnd) {
  auto table = TableWith(3);
  EXPECT_EQ(AppendLearntCall(*table, "K1ABC", 5000), 3);
  ASSERT_EQ(table->size(), 4);
  const KnownCall& e = table->entries[3];
  EXPECT_STREQ(e.callsign, "K1ABC");
  EXPECT_STREQ(e.locator, "");
  EXPECT_EQ(e.distanceKm, -1);
  EXPECT_EQ(e.heardCount, 1);
  EXPECT_EQ(e.lastHeard, 5000);
  ExpectFrameOf(e, "K1ABC");
  EXPECT_STREQ(table->entries[2].callsign, "P2");
}

TEST(AppendLearntCall, FullTableReusesTheOldestSingleDecodeWithoutPosition) {
  auto table = TableWith(KnownCallTable::kMaxUsed);
  auto& e = table->entries;
  // Candidates: no position and heard once. 10 is older but heard twice, 20 has
  // a position; 30 is the oldest candidate.
  for (int i : {10, 30, 40}) {
    e[i].distanceKm = -1;
    e[i].heardCount = 1;
  }
  e[10].heardCount = 2;
  e[10].lastHeard = 10;
  e[20].heardCount = 1;
  e[20].lastHeard = 5;
  e[30].lastHeard = 200;
  e[40].lastHeard = 300;
  EXPECT_EQ(AppendLearntCall(*table, "NEW1", 9000), 30);
  EXPECT_EQ(table->size(), KnownCallTable::kMaxUsed);
  EXPECT_STREQ(e[30].callsign, "NEW1");
  EXPECT_EQ(e[30].lastHeard, 9000);
  ExpectFrameOf(e[30], "NEW1");
  // The next one replaces 40 (30 is now the newest).
  EXPECT_EQ(AppendLearntCall(*table, "NEW2", 9001), 40);
  // Then 30 again, being older than 40.
  EXPECT_EQ(AppendLearntCall(*table, "NEW3", 9002), 30);
}

TEST(AppendLearntCall, FullTableWithoutCandidatesUsesTheScratchSlot) {
  auto table = TableWith(KnownCallTable::kMaxUsed);
  EXPECT_EQ(AppendLearntCall(*table, "NEW1", 9000), KnownCallTable::kMaxUsed);
  EXPECT_EQ(table->size(), KnownCallTable::kMaxUsed);
  EXPECT_STREQ(table->entries[KnownCallTable::kMaxUsed].callsign, "NEW1");
  for (int i = 0; i < KnownCallTable::kMaxUsed; ++i) {
    ASSERT_EQ(table->entries[i].callsign, Numbered("P", i));
  }
}

TEST(RemoveCallsWithoutPosition, KeepsOrder) {
  auto table = TableWith(6);
  table->entries[1].distanceKm = -1;
  table->entries[4].distanceKm = -1;
  EXPECT_EQ(RemoveCallsWithoutPosition(*table), 2);
  ASSERT_EQ(table->size(), 4);
  const char* expected[] = {"P0", "P2", "P3", "P5"};
  for (int i = 0; i < 4; ++i) EXPECT_STREQ(table->entries[i].callsign, expected[i]);
  ExpectFrameOf(table->entries[3], "P5");
}

}  // namespace
}  // namespace vs32
