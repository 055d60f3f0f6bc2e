// Decode slot table: acceptance, noise and SNR figures, slot search and
// improvement, the hold counts, and the results side's take-and-free.
#include "engine/decode_slots.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

namespace vs32 {
namespace {

constexpr int kN = 1230;
constexpr double kThreshold = 5.0;  // the default VS_THRESHOLD
constexpr int kNow = 1700000000;

class DecodeSlotsTest : public ::testing::Test {
 protected:
  DecodeSlotsTest() { spectrum_.fill(1.0); }

  AcceptOutcome Outcome(int channel, int status, const char* call, float ebNo, int now = kNow,
                        int attempts = 3, bool fromWav = false) {
    return table_->AcceptDecode(channel, status, call, ebNo, attempts, now, spectrum_.data(),
                                kThreshold, fromWav);
  }
  bool Accept(int channel, int status, const char* call, float ebNo, int now = kNow,
              int attempts = 3, bool fromWav = false) {
    return Outcome(channel, status, call, ebNo, now, attempts, fromWav) != AcceptOutcome::kDropped;
  }
  // The slot holding `call`, or -1.
  int Find(const std::string& call) const {
    for (int i = 0; i < DecodeSlotTable::kSlots; ++i) {
      const DecodeSlot s = table_->Peek(i);
      if (s.time != 0 && call == s.call) return i;
    }
    return -1;
  }

  std::unique_ptr<DecodeSlotTable> table_ = std::make_unique<DecodeSlotTable>();
  std::array<double, kN> spectrum_{};
};

// --- Acceptance ------------------------------------------------------------------

TEST_F(DecodeSlotsTest, StatusOneNeedsEbNoStrictlyAboveTheThreshold) {
  EXPECT_FALSE(Accept(300, 1, "Q1AAA", 5.0f));
  EXPECT_EQ(table_->PendingCount(), 0);
  EXPECT_TRUE(Accept(300, 1, "Q1AAA", 5.1f));
  EXPECT_EQ(Find("Q1AAA"), 0);
}

TEST_F(DecodeSlotsTest, StatusZeroIsDroppedWhateverItsFigures) {
  EXPECT_FALSE(Accept(300, 0, "Q1AAA", 30.0f));
  EXPECT_EQ(table_->PendingCount(), 0);
}

TEST_F(DecodeSlotsTest, HeldChannelRefusesStatusOneButNotStatusTwo) {
  table_->SetHold(400, 287);
  EXPECT_FALSE(Accept(400, 1, "Q1AAA", 20.0f));
  EXPECT_TRUE(Accept(401, 1, "Q1AAA", 20.0f));  // only the held channel is refused
  EXPECT_TRUE(Accept(400, 2, "Q1BBB", -3.0f));  // status 2: accepted on any channel, any Eb/No
  EXPECT_EQ(table_->PendingCount(), 2);
}

TEST_F(DecodeSlotsTest, HoldCountedDownBeforeDecodingLetsTheNextTickThrough) {
  // A hold of 2 when a tick begins: the worker counts it down to 1 first, so
  // the status-1 decode of that tick is refused; at the next tick it reaches
  // 0 and the decode is taken.
  table_->SetHold(500, 2);
  table_->CountDownHold(500);
  EXPECT_EQ(table_->hold(500), 1);
  EXPECT_FALSE(Accept(500, 1, "Q1AAA", 9.0f));
  table_->CountDownHold(500);
  EXPECT_EQ(table_->hold(500), 0);
  EXPECT_TRUE(Accept(500, 1, "Q1AAA", 9.0f));
  table_->CountDownHold(500);
  EXPECT_EQ(table_->hold(500), 0);  // stays at 0
}

TEST_F(DecodeSlotsTest, HoldsOutsideTheBandAreIgnored) {
  table_->SetHold(-1, 287);
  table_->SetHold(kN, 287);
  table_->CountDownHold(kN);
  EXPECT_EQ(table_->hold(-1), 0);
  EXPECT_EQ(table_->hold(kN), 0);
}

TEST_F(DecodeSlotsTest, UnusableArgumentsAreRefused) {
  EXPECT_FALSE(Accept(-1, 2, "Q1AAA", 9.0f));
  EXPECT_FALSE(Accept(kN, 2, "Q1AAA", 9.0f));
  EXPECT_FALSE(Accept(10, 2, nullptr, 9.0f));
  EXPECT_EQ(table_->AcceptDecode(10, 2, "Q1AAA", 9, 0, kNow, nullptr, kThreshold, false),
            AcceptOutcome::kDropped);
  EXPECT_EQ(table_->PendingCount(), 0);
}

// --- Noise and SNR -----------------------------------------------------------------

TEST_F(DecodeSlotsTest, NoiseLeavesOutNineChannelsEachSideAndDividesBy1211) {
  // The 19 channels around 600 are loud; everything else is 1, so the noise is
  // exactly 1211 / 1211.
  for (int k = 591; k <= 609; ++k) spectrum_[k] = 1000;
  spectrum_[600] = 1000;
  ASSERT_TRUE(Accept(600, 2, "Q1AAA", 9.0f));
  const DecodeSlot s = table_->Peek(0);
  EXPECT_NEAR(s.channel_snr, 30.0, 1e-5);
  EXPECT_NEAR(s.snr, 30.0 - 10 * std::log10(1211.0), 1e-5);
}

TEST_F(DecodeSlotsTest, NoiseNearTheEdgeStillDividesBy1211) {
  // Channel 5 uses channels 15 … 1229: 1215 of them.
  for (int k = 0; k < 15; ++k) spectrum_[k] = 1000;
  ASSERT_TRUE(Accept(5, 2, "Q1AAA", 9.0f));
  const DecodeSlot s = table_->Peek(0);
  const double noise = 1215.0 / 1211.0;
  EXPECT_NEAR(s.channel_snr, 10 * std::log10(1000 / noise), 1e-5);
  EXPECT_NEAR(s.snr, 10 * std::log10(1000 / noise / 1211), 1e-5);
}

TEST_F(DecodeSlotsTest, NoiseIsSummedInSinglePrecision) {
  // Once the float sum passes 16, the 2⁻²⁰ part of each term is lost; a
  // double sum would keep it and give a noise of 1 + 2⁻²⁰.
  spectrum_.fill(1.0 + std::ldexp(1.0, -20));
  spectrum_[700] = 1.0;
  ASSERT_TRUE(Accept(700, 2, "Q1AAA", 9.0f));
  float sum = 0.0f;
  double doubleSum = 0.0;
  for (int k = 0; k < kN; ++k) {
    if (k <= 690 || k >= 710) {
      sum += spectrum_[k];
      doubleSum += spectrum_[k];
    }
  }
  const float noise = static_cast<float>(sum * (1.0 / 1211));
  const float doubleNoise = static_cast<float>(doubleSum * (1.0 / 1211));
  ASSERT_NE(noise, doubleNoise);
  EXPECT_EQ(table_->Peek(0).channel_snr, static_cast<float>(10 * std::log10(1.0 / noise)));
}

TEST_F(DecodeSlotsTest, SilentSpectrumLeavesTheFiguresAtMinus100) {
  spectrum_.fill(0.0);
  ASSERT_TRUE(Accept(600, 2, "Q1AAA", 9.0f));
  EXPECT_EQ(table_->Peek(0).channel_snr, -100.0f);
  EXPECT_EQ(table_->Peek(0).snr, -100.0f);
}

// --- Slots -------------------------------------------------------------------------

TEST_F(DecodeSlotsTest, NewDecodeFillsEveryField) {
  ASSERT_TRUE(Accept(321, 2, "Q1AAA", 7.5f, kNow, 42, true));
  const DecodeSlot s = table_->Peek(0);
  EXPECT_STREQ(s.call, "Q1AAA");
  EXPECT_EQ(s.ebno, 7.5f);
  EXPECT_EQ(s.channel, 321);
  EXPECT_EQ(s.time, kNow);
  EXPECT_EQ(s.attempts, 42);
  EXPECT_EQ(s.result, 2);
  EXPECT_EQ(s.used, 1);
  EXPECT_TRUE(s.fromWav);
  EXPECT_NEAR(s.channel_snr, 0.0, 1e-6);  // flat spectrum: the channel equals the noise
}

TEST_F(DecodeSlotsTest, SlotFollowsTheBestDecodeOfItsCall) {
  // Status 1 at 7 dB, then status 2 at 3 dB on another channel: the higher
  // status wins although its Eb/No is lower.
  ASSERT_TRUE(Accept(600, 1, "Q1AAA", 7.0f, kNow, 5));
  ASSERT_TRUE(Accept(601, 2, "Q1AAA", 3.0f, kNow + 2, 6));
  DecodeSlot s = table_->Peek(0);
  EXPECT_EQ(s.result, 2);
  EXPECT_EQ(s.ebno, 3.0f);
  EXPECT_EQ(s.channel, 601);
  EXPECT_EQ(s.time, kNow + 2);
  EXPECT_EQ(s.attempts, 6);
  // A status-1 decode at 2 dB is below the threshold: nothing changes.
  EXPECT_FALSE(Accept(602, 1, "Q1AAA", 2.0f, kNow + 4));
  s = table_->Peek(0);
  EXPECT_EQ(s.channel, 601);
  EXPECT_EQ(s.time, kNow + 2);
  // One at 6 dB replaces every figure, and the status goes back to 1.
  spectrum_[603] = 50;
  ASSERT_TRUE(Accept(603, 1, "Q1AAA", 6.0f, kNow + 6, 0));
  s = table_->Peek(0);
  EXPECT_EQ(s.result, 1);
  EXPECT_EQ(s.ebno, 6.0f);
  EXPECT_EQ(s.channel, 603);
  EXPECT_EQ(s.time, kNow + 6);
  EXPECT_EQ(s.attempts, 0);
  EXPECT_GT(s.channel_snr, 16.0f);
  EXPECT_STREQ(s.call, "Q1AAA");
  EXPECT_EQ(s.used, 1);
  EXPECT_EQ(table_->PendingCount(), 1);
}

TEST_F(DecodeSlotsTest, EqualOrWorseDecodeLeavesTheSlotAndItsTimeAlone) {
  EXPECT_EQ(Outcome(600, 2, "Q1AAA", 7.0f, kNow), AcceptOutcome::kOpened);
  EXPECT_EQ(Outcome(610, 2, "Q1AAA", 7.0f, kNow + 5), AcceptOutcome::kUnchanged);
  EXPECT_EQ(Outcome(620, 2, "Q1AAA", 1.0f, kNow + 6), AcceptOutcome::kUnchanged);
  EXPECT_EQ(Outcome(620, 2, "Q1AAA", 7.5f, kNow + 7), AcceptOutcome::kImproved);
  EXPECT_EQ(Outcome(630, 2, "Q1AAA", 7.0f, kNow + 8), AcceptOutcome::kUnchanged);
  const DecodeSlot s = table_->Peek(0);
  EXPECT_EQ(s.channel, 620);
  EXPECT_EQ(s.time, kNow + 7);  // the quiet time keeps running from the last improvement
}

TEST_F(DecodeSlotsTest, CallsAreComparedAsWholeStrings) {
  ASSERT_TRUE(Accept(100, 2, "Q1AB", 7.0f));
  ASSERT_TRUE(Accept(200, 2, "Q1ABC", 7.0f));
  ASSERT_TRUE(Accept(300, 2, "q1abc", 7.0f));
  EXPECT_EQ(Find("Q1AB"), 0);
  EXPECT_EQ(Find("Q1ABC"), 1);
  EXPECT_EQ(Find("q1abc"), 2);
}

TEST_F(DecodeSlotsTest, OnlySixCharactersAreKeptAndTheyFindTheSlotAgain) {
  ASSERT_TRUE(Accept(100, 2, "Q1ABCDEFG", 7.0f));
  EXPECT_STREQ(table_->Peek(0).call, "Q1ABCD");
  ASSERT_TRUE(Accept(101, 2, "Q1ABCDXY", 8.0f));
  EXPECT_EQ(table_->PendingCount(), 1);
  EXPECT_EQ(table_->Peek(0).channel, 101);
}

TEST_F(DecodeSlotsTest, FreedSlotIsReusedFirst) {
  ASSERT_TRUE(Accept(100, 2, "Q1AAA", 7.0f));
  ASSERT_TRUE(Accept(200, 2, "Q1BBB", 7.0f));
  DecodeSlot out;
  ASSERT_TRUE(table_->TakeAny(0, out));
  ASSERT_TRUE(Accept(300, 2, "Q1CCC", 7.0f));
  EXPECT_EQ(Find("Q1CCC"), 0);
  EXPECT_EQ(Find("Q1BBB"), 1);
}

TEST_F(DecodeSlotsTest, EmptyCallDoesNotMatchAFreeSlot) {
  ASSERT_TRUE(Accept(100, 2, "", 7.0f));
  const DecodeSlot s = table_->Peek(0);
  EXPECT_EQ(s.used, 1);
  EXPECT_EQ(s.time, kNow);
  ASSERT_TRUE(Accept(101, 2, "", 9.0f));  // improves its own slot
  EXPECT_EQ(table_->PendingCount(), 1);
  EXPECT_EQ(table_->Peek(0).channel, 101);
}

TEST_F(DecodeSlotsTest, FullTableHandsSlotZeroToANewCall) {
  char call[8];
  for (int i = 0; i < DecodeSlotTable::kSlots; ++i) {
    std::snprintf(call, sizeof call, "C%d", i);
    ASSERT_TRUE(Accept(100 + i % 1000, 2, call, 7.0f));
  }
  EXPECT_EQ(table_->PendingCount(), 1000);
  ASSERT_TRUE(Accept(50, 1, "Q1NEW", 6.0f, kNow + 1, 9));
  const DecodeSlot s = table_->Peek(0);
  EXPECT_STREQ(s.call, "Q1NEW");
  EXPECT_EQ(s.channel, 50);
  EXPECT_EQ(s.result, 1);
  EXPECT_EQ(s.attempts, 9);
  EXPECT_EQ(Find("C0"), -1);
  EXPECT_EQ(Find("C1"), 1);
}

TEST_F(DecodeSlotsTest, RecordingMarkStaysOnceARecordingContributed) {
  ASSERT_TRUE(Accept(100, 2, "Q1AAA", 7.0f, kNow, 1, true));
  ASSERT_TRUE(Accept(100, 2, "Q1AAA", 9.0f, kNow + 3, 1, false));
  EXPECT_TRUE(table_->Peek(0).fromWav);
  ASSERT_TRUE(Accept(200, 2, "Q1BBB", 7.0f, kNow, 1, false));
  EXPECT_FALSE(table_->Peek(1).fromWav);
  ASSERT_TRUE(Accept(200, 2, "Q1BBB", 2.0f, kNow, 1, true));  // not better, still marks it
  EXPECT_TRUE(table_->Peek(1).fromWav);
}

TEST_F(DecodeSlotsTest, TimeStampZeroStillMarksTheSlotInUse) {
  ASSERT_TRUE(Accept(100, 2, "Q1AAA", 7.0f, 0));
  EXPECT_EQ(table_->Peek(0).time, 1);
  EXPECT_EQ(table_->PendingCount(), 1);
  ASSERT_TRUE(Accept(100, 2, "Q1BBB", 7.0f, 0));
  EXPECT_EQ(Find("Q1BBB"), 1);  // did not overwrite slot 0
}

// --- The results side ----------------------------------------------------------------

TEST_F(DecodeSlotsTest, SlotIsTakenOnlyWhenQuietForMoreThanEightSeconds) {
  ASSERT_TRUE(Accept(100, 2, "Q1AAA", 7.0f, kNow, 12, true));
  DecodeSlot out;
  EXPECT_FALSE(table_->TakeIfQuiet(0, kNow + 8, out));
  EXPECT_EQ(table_->PendingCount(), 1);
  ASSERT_TRUE(table_->TakeIfQuiet(0, kNow + 9, out));
  EXPECT_STREQ(out.call, "Q1AAA");
  EXPECT_EQ(out.channel, 100);
  EXPECT_EQ(out.attempts, 12);
  EXPECT_TRUE(out.fromWav);
  // Freed: call, time, ebno, channel_snr, channel, result and used cleared.
  const DecodeSlot s = table_->Peek(0);
  EXPECT_EQ(s.call[0], 0);
  EXPECT_EQ(s.time, 0);
  EXPECT_EQ(s.ebno, 0.0f);
  EXPECT_EQ(s.channel_snr, 0.0f);
  EXPECT_EQ(s.channel, 0);
  EXPECT_EQ(s.result, 0);
  EXPECT_EQ(s.used, 0);
  EXPECT_FALSE(table_->TakeIfQuiet(0, kNow + 100, out));
}

TEST_F(DecodeSlotsTest, ImprovementRestartsTheQuietTime) {
  ASSERT_TRUE(Accept(100, 2, "Q1AAA", 7.0f, kNow));
  ASSERT_TRUE(Accept(100, 2, "Q1AAA", 8.0f, kNow + 6));
  DecodeSlot out;
  EXPECT_FALSE(table_->TakeIfQuiet(0, kNow + 9, out));
  EXPECT_TRUE(table_->TakeIfQuiet(0, kNow + 15, out));
  EXPECT_EQ(out.ebno, 8.0f);
}

TEST_F(DecodeSlotsTest, TakeAnyEmptiesPendingSlotsAtTheEndOfARecording) {
  ASSERT_TRUE(Accept(100, 2, "Q1AAA", 7.0f));
  ASSERT_TRUE(Accept(200, 2, "Q1BBB", 7.0f));
  DecodeSlot out;
  int taken = 0;
  for (int i = 0; i < DecodeSlotTable::kSlots; ++i) taken += table_->TakeAny(i, out) ? 1 : 0;
  EXPECT_EQ(taken, 2);
  EXPECT_EQ(table_->PendingCount(), 0);
  EXPECT_FALSE(table_->TakeAny(-1, out));
  EXPECT_FALSE(table_->TakeAny(DecodeSlotTable::kSlots, out));
  EXPECT_FALSE(table_->TakeIfQuiet(DecodeSlotTable::kSlots, kNow, out));
}

TEST_F(DecodeSlotsTest, ClearEmptiesSlotsAndHolds) {
  ASSERT_TRUE(Accept(100, 2, "Q1AAA", 7.0f));
  table_->SetHold(100, 287);
  table_->Clear();
  EXPECT_EQ(table_->PendingCount(), 0);
  EXPECT_EQ(table_->hold(100), 0);
  EXPECT_EQ(table_->Peek(0).call[0], 0);
  EXPECT_EQ(table_->Peek(-5).time, 0);
}

}  // namespace
}  // namespace vs32
