#include "report/results.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/frame_codec.h"
#include "engine/known_calls.h"
#include "report/ipfix_listener.h"
#include "support/test_support.h"

namespace vs32 {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// 2023-11-14 22:13:20 UTC, a multiple of 20 and of 1200? 1700000000 % 20 == 0,
// % 1200 == 800.
constexpr int kNow = 1700000000;
constexpr int kChannel = 615;  // 137500.00 Hz with the default dial and centre
const std::string kWindowedColumns =
    "   DATE     TIME     CALL    FREQ       QRB     Eb/No   SNR\n";

struct Spot {
  std::string call, locator;
  float frequencyHz, reportDb;
};

class CountingSender : public SpotSender {
 public:
  bool Send(std::string_view call, std::string_view locator, float frequencyHz,
            float reportDb) override {
    spots.push_back({std::string(call), std::string(locator), frequencyHz, reportDb});
    if (throws) throw std::runtime_error("reporter down");
    return accept;
  }
  void Tickle() override { ++tickles; }

  std::vector<Spot> spots;
  int tickles = 0;
  bool accept = true;
  bool throws = false;
};

struct Capture {
  int channel;
  std::string call, path, caption;
};

class RecordingOutput : public ResultsOutput {
 public:
  void Decode(const DecodeReport& report) override {
    reports.push_back(report);
    reportLines.emplace_back(report.line);
  }
  void ShowLine(std::string_view line) override { shown.emplace_back(line); }
  void CaptureWaterfall(int channel, std::string_view call, const std::string& path,
                        const std::string& caption) override {
    captures.push_back({channel, std::string(call), path, caption});
  }
  void WriteFailed(std::string_view reason) override { failures.emplace_back(reason); }

  std::vector<DecodeReport> reports;
  std::vector<std::string> reportLines;
  std::vector<std::string> shown;
  std::vector<Capture> captures;
  std::vector<std::string> failures;
};

class ResultsTest : public ::testing::Test {
 protected:
  ResultsTest() : settings(DefaultSettings(Program::kWindowed)) {
    settings.myCall = "ZZ1ZZ";
    settings.myLocator = "JO65HO";
    settings.logFilePath = "log.txt";
    settings.capturePath = "Capture/";
    settings.dbOffset = -10;
    settings.callBlockSeconds = 600;
    settings.useKnownCallsList = false;
    settings.reverseOutput = false;
    settings.captureEnabled = false;
    settings.uploadSpots = true;
    mask.fill(0);
  }

  ResultsProcessor& Make(Program program, ResultsOptions options = {}, bool withSpots = true) {
    if (options.folder.empty()) options.folder = dir.path();
    processor = std::make_unique<ResultsProcessor>(program, settings, *known, mask, *slots, output,
                                                   withSpots ? &sender : nullptr, options);
    return *processor;
  }

  // A known station: with distance (km, or -1 for none).
  void AddKnown(const char* call, double distanceKm, int heardCount = 0, int lastHeard = 0) {
    const int n = known->size();
    FillKnownCall(known->entries[n], call, distanceKm >= 0 ? "JO00AA" : "", distanceKm);
    known->entries[n].heardCount = heardCount;
    known->entries[n].lastHeard = lastHeard;
    known->count.store(n + 1);
  }

  // A decode accepted by the table at `time`, with the given figures. The
  // spectrum is flat but for the channel, which stands out so that the table
  // works out `snr` dB.
  void PutSlot(const char* call, int time, int result = 2, int attempts = 12, float ebno = 12.3f,
               float snr = -15.4f, int channel = kChannel, bool fromWav = false) {
    std::vector<double> spectrum(DecodeSlotTable::kChannels, 1.0);
    int others = 0;
    for (int k = 0; k < DecodeSlotTable::kChannels; ++k)
      others += k <= channel - 10 || k >= channel + 10;
    spectrum[channel] = std::pow(10.0, snr / 10.0) * others;
    slots->AcceptDecode(channel, result, call, ebno, attempts, time, spectrum.data(), -1000,
                        fromWav);
  }

  int Hold(int channel) const { return slots->hold(channel); }
  bool AllFree() const {
    for (int i = 0; i < DecodeSlotTable::kSlots; ++i) {
      if (slots->Peek(i).time != 0) return false;
    }
    return true;
  }

  const KnownCall* FindKnown(const char* call, int from = 0) const {
    for (int i = from; i < known->size(); ++i) {
      if (std::strcmp(known->entries[i].callsign, call) == 0) return &known->entries[i];
    }
    return nullptr;
  }
  int CountKnown(const char* call) const {
    int n = 0;
    for (int i = 0; i < known->size(); ++i) n += std::strcmp(known->entries[i].callsign, call) == 0;
    return n;
  }

  TempDir dir;
  ReceiverSettings settings;
  std::unique_ptr<KnownCallTable> known = std::make_unique<KnownCallTable>();
  ChannelMask mask{};
  std::unique_ptr<DecodeSlotTable> slots = std::make_unique<DecodeSlotTable>();
  RecordingOutput output;
  CountingSender sender;
  std::unique_ptr<ResultsProcessor> processor;
};

class ResultsTiming : public ResultsTest {};
class ResultsLines : public ResultsTest {};
class ResultsKnownCalls : public ResultsTest {};
class ResultsLog : public ResultsTest {};
class ResultsHoldAndCapture : public ResultsTest {};
class ResultsSpots : public ResultsTest {};

// ---- When a slot is reported ----

TEST_F(ResultsTiming, SlotIsReportedOnlyOnceQuietForMoreThanEightSeconds) {
  ResultsProcessor& results = Make(Program::kWindowed);
  PutSlot("ZZ9ABC", kNow - 8);
  results.Tick(kNow, 0);
  EXPECT_TRUE(output.reports.empty());
  EXPECT_FALSE(AllFree());
  results.Tick(kNow + 1, 0);
  ASSERT_EQ(output.reports.size(), 1u);
  EXPECT_STREQ(output.reports[0].call, "ZZ9ABC");
  EXPECT_EQ(output.reports[0].slotTime, kNow - 8);
  EXPECT_EQ(output.reports[0].reportedAt, kNow + 1);
  EXPECT_TRUE(AllFree());
  results.Tick(kNow + 2, 0);
  EXPECT_EQ(output.reports.size(), 1u);
}

TEST_F(ResultsTiming, SlotsAreReportedInIndexOrderAndFlushTakesYoungOnes) {
  ResultsProcessor& results = Make(Program::kWindowed);
  PutSlot("ZZ1X", kNow - 30);  // slot 0
  PutSlot("ZZ2Y", kNow - 2);   // slot 1
  results.Tick(kNow, 0);       // reports ZZ1X, freeing slot 0
  PutSlot("ZZ3Z", kNow - 1);   // slot 0 again
  PutSlot("ZZ4W", kNow + 8);   // slot 2
  results.Tick(kNow + 9, 0);
  ASSERT_EQ(output.reports.size(), 3u);
  EXPECT_STREQ(output.reports[0].call, "ZZ1X");
  EXPECT_STREQ(output.reports[1].call, "ZZ3Z");  // lower index first, though younger
  EXPECT_STREQ(output.reports[2].call, "ZZ2Y");
  EXPECT_FALSE(AllFree());
  results.Flush(kNow + 9);
  ASSERT_EQ(output.reports.size(), 4u);
  EXPECT_STREQ(output.reports[3].call, "ZZ4W");
  EXPECT_EQ(output.reports[3].reportedAt, kNow + 9);
  EXPECT_TRUE(AllFree());
}

// ---- Line formats ----

TEST_F(ResultsLines, WindowedLinesByteForByte) {
  settings.callBlockSeconds = 3600;
  AddKnown("ZZ9ABC", 1234.9);
  ResultsProcessor& results = Make(Program::kWindowed);
  PutSlot("ZZ9ABC", kNow - 9, 2, 17, 12.3f, -15.44f);
  PutSlot("G4AB", kNow - 9, 1, 3, 6.0f, -20.0f, 0);
  results.Tick(kNow, 0);
  PutSlot("ZZ9ABC", kNow + 3599 - 9, 1, 0, 7.0f, -1.0f, 1229);  // blocked repeat: new
  results.Tick(kNow + 3599, 0);
  ASSERT_EQ(output.shown.size(), 3u);
  EXPECT_EQ(output.shown[0], "2023-11-14 22:13:20 ZZ9ABC 137500.00  1234 km\t12.3dB -25.4dB 17  ");
  EXPECT_EQ(output.shown[1], "2023-11-14 22:13:20   G4AB 137450.00         \t6.0dB -30.0dB 3 -");
  EXPECT_EQ(output.shown[2], "2023-11-14 23:13:19 ZZ9ABC 137549.92         \t7.0dB -11.0dB 0 -");
  EXPECT_EQ(output.reportLines, output.shown);
}

TEST_F(ResultsLines, ConsoleLinesByteForByteWithTheUploadMark) {
  AddKnown("ZZ9ABC", 1234.9);
  AddKnown("ZZ8ABC", 250.2);
  ResultsProcessor& results = Make(Program::kConsole);
  PutSlot("ZZ9ABC", kNow - 9, 2, 17, 12.3f, -15.44f);
  PutSlot("ZZ8ABC", kNow - 9, 1, 0, 4.0f, -21.0f);
  PutSlot("G4AB", kNow - 9, 2, 123, 6.0f, -20.0f);
  results.Tick(kNow, 0);
  sender.accept = false;
  AddKnown("ZZ7ABC", 10);
  PutSlot("ZZ7ABC", kNow - 9, 2, 1, 9.0f, -12.0f);
  results.Tick(kNow + 1, 0);
  ASSERT_EQ(output.shown.size(), 4u);
  EXPECT_EQ(output.shown[0],
            "2023-11-14 22:13:20 ZZ9ABC 137500.00  1234 km 12.3dB\t-25.4dB\t 17   +");
  EXPECT_EQ(output.shown[1],
            "2023-11-14 22:13:20 ZZ8ABC 137500.00   250 km 4.0dB\t-31.0dB\t  0 c  ");
  EXPECT_EQ(output.shown[2],
            "2023-11-14 22:13:20   G4AB 137500.00          6.0dB\t-30.0dB\t123 -  ");
  EXPECT_EQ(output.shown[3],
            "2023-11-14 22:13:21 ZZ7ABC 137500.00    10 km 9.0dB\t-22.0dB\t  1   x");
  EXPECT_EQ(output.reports[0].uploadMark, '+');
  EXPECT_EQ(output.reports[3].uploadMark, 'x');
}

TEST_F(ResultsLines, DecodeMarks) {
  AddKnown("ZZ1AA", 100);
  AddKnown("ZZ2AA", 100);
  AddKnown("ZZ3AA", 100);
  AddKnown("ZZ4AA", 100);
  ResultsProcessor& results = Make(Program::kWindowed);
  PutSlot("ZZ1AA", kNow - 9, 2, 5);
  PutSlot("ZZ2AA", kNow - 9, 1, 5);
  PutSlot("ZZ3AA", kNow - 9, 1, 0);
  PutSlot("ZZ4AA", kNow - 9, 2, 0);
  PutSlot("ZZ5AA", kNow - 9, 2, 5);
  results.Tick(kNow, 0);
  ASSERT_EQ(output.reports.size(), 5u);
  EXPECT_EQ(output.reports[0].mark, ' ');
  EXPECT_EQ(output.reports[1].mark, '?');
  EXPECT_EQ(output.reports[2].mark, 'c');
  EXPECT_EQ(output.reports[3].mark, ' ');  // status 2 from no attempts is still clean
  EXPECT_EQ(output.reports[4].mark, '-');
  EXPECT_TRUE(output.reports[0].known);
  EXPECT_FALSE(output.reports[4].known);
}

// ---- Known calls: blocking, learning, list files ----

TEST_F(ResultsKnownCalls, RepeatWithinBlockingTimeIsTreatedAsUnknown) {
  AddKnown("ZZ9ABC", 500);
  ResultsProcessor& results = Make(Program::kWindowed);
  PutSlot("ZZ9ABC", kNow - 9);
  results.Tick(kNow, 0);
  ASSERT_EQ(output.reports.size(), 1u);
  EXPECT_TRUE(output.reports[0].known);
  EXPECT_EQ(output.reports[0].distanceKm, 500);

  // 600 s later: still blocked (not greater than the blocking time).
  PutSlot("ZZ9ABC", kNow + 600 - 9);
  results.Tick(kNow + 600, 0);
  ASSERT_EQ(output.reports.size(), 2u);
  const DecodeReport& repeat = output.reports[1];
  EXPECT_FALSE(repeat.known);
  EXPECT_EQ(repeat.mark, '-');
  EXPECT_EQ(repeat.distanceKm, -1);
  EXPECT_NE(output.shown[1].find("        \t"), std::string::npos) << output.shown[1];
  EXPECT_EQ(CountKnown("ZZ9ABC"), 2);
  const KnownCall* first = FindKnown("ZZ9ABC");
  const KnownCall* learnt = FindKnown("ZZ9ABC", static_cast<int>(first - &known->entries[0]) + 1);
  ASSERT_NE(learnt, nullptr);
  EXPECT_EQ(first->heardCount, 1);
  EXPECT_EQ(first->lastHeard, kNow);  // a blocked repeat does not refresh the time
  EXPECT_EQ(learnt->heardCount, 1);
  EXPECT_EQ(learnt->lastHeard, kNow + 600);
  EXPECT_DOUBLE_EQ(learnt->distanceKm, -1);
  EXPECT_STREQ(learnt->locator, "");
  EXPECT_EQ(sender.spots.size(), 1u);  // the first, clean decode only

  // One second later the original entry is free again and matches.
  PutSlot("ZZ9ABC", kNow + 601 - 9);
  results.Tick(kNow + 601, 0);
  EXPECT_TRUE(output.reports[2].known);
  EXPECT_EQ(output.reports[2].distanceKm, 500);
}

TEST_F(ResultsKnownCalls, BlockedRepeatIsHiddenWhenTheKnownListIsInUse) {
  settings.useKnownCallsList = true;
  AddKnown("ZZ9ABC", 500);
  ResultsProcessor& results = Make(Program::kWindowed);
  PutSlot("ZZ9ABC", kNow - 9);
  results.Tick(kNow, 0);
  PutSlot("ZZ9ABC", kNow + 1 - 9, 2, 12, 12.3f, -15.4f, 100);
  results.Tick(kNow + 1, 0);
  ASSERT_EQ(output.reports.size(), 2u);
  EXPECT_FALSE(output.reports[0].hidden);
  EXPECT_TRUE(output.reports[1].hidden);
  EXPECT_EQ(output.reports[1].mark, '-');
  EXPECT_EQ(output.shown.size(), 1u);
  EXPECT_EQ(CountKnown("ZZ9ABC"), 2);  // learnt all the same
  // Hidden: not logged, not spotted, channel not held.
  EXPECT_EQ(ReadFile(dir / "log.txt"), output.shown[0] + "\n");
  EXPECT_EQ(sender.spots.size(), 1u);
  EXPECT_EQ(Hold(100), 0);
}

TEST_F(ResultsKnownCalls, ZeroBlockingTimeAcceptsARepeatOneSecondLater) {
  settings.callBlockSeconds = 0;
  AddKnown("ZZ9ABC", 500);
  ResultsProcessor& results = Make(Program::kWindowed);
  PutSlot("ZZ9ABC", kNow - 9);
  results.Tick(kNow, 0);
  PutSlot("ZZ9ABC", kNow + 1 - 9);
  results.Tick(kNow + 1, 0);
  ASSERT_EQ(output.reports.size(), 2u);
  EXPECT_TRUE(output.reports[1].known);
  EXPECT_EQ(CountKnown("ZZ9ABC"), 1);
  EXPECT_EQ(FindKnown("ZZ9ABC")->heardCount, 2);
}

TEST_F(ResultsKnownCalls, KnownListGrowsExactlyWhenACallWithoutPositionIsHeardTheSecondTime) {
  settings.callBlockSeconds = 0;
  ResultsProcessor& results = Make(Program::kWindowed);
  const auto knownList = dir / "known_list.txt";
  PutSlot("ZZ9ABC", kNow - 9);
  results.Tick(kNow, 0);  // learnt: heard once
  EXPECT_FALSE(std::filesystem::exists(knownList));
  ASSERT_NE(FindKnown("ZZ9ABC"), nullptr);
  EXPECT_EQ(FindKnown("ZZ9ABC")->heardCount, 1);
  PutSlot("ZZ9ABC", kNow + 1 - 9);
  results.Tick(kNow + 1, 0);  // 1 -> 2
  EXPECT_EQ(ReadFile(knownList), "ZZ9ABC\n");
  PutSlot("ZZ9ABC", kNow + 2 - 9);
  results.Tick(kNow + 2, 0);  // 2 -> 3
  EXPECT_EQ(ReadFile(knownList), "ZZ9ABC\n");
  EXPECT_EQ(FindKnown("ZZ9ABC")->heardCount, 3);
  EXPECT_FALSE(std::filesystem::exists(dir / "freq_list.txt"));
  EXPECT_EQ(mask[kChannel], 0);

  // A table entry without a position that the run has not heard yet (0 -> 1 -> 2).
  AddKnown("ZZ8AA", -1);
  PutSlot("ZZ8AA", kNow + 3 - 9);
  results.Tick(kNow + 3, 0);
  EXPECT_EQ(ReadFile(knownList), "ZZ9ABC\n");
  PutSlot("ZZ8AA", kNow + 4 - 9);
  results.Tick(kNow + 4, 0);
  EXPECT_EQ(ReadFile(knownList), "ZZ9ABC\nZZ8AA\n");
}

TEST_F(ResultsKnownCalls, CallAlreadyInTheKnownListFileIsNotListedAgain) {
  settings.callBlockSeconds = 0;
  WriteFile(dir / "known_list.txt", "ZZ9ABC\n");
  AddKnown("ZZ9ABC", -1);  // as loaded from the file: never heard in this run
  ResultsProcessor& results = Make(Program::kWindowed);
  for (int k = 0; k < 3; ++k) {
    PutSlot("ZZ9ABC", kNow + k - 9);
    results.Tick(kNow + k, 0);
  }
  EXPECT_EQ(FindKnown("ZZ9ABC")->heardCount, 3);
  EXPECT_EQ(ReadFile(dir / "known_list.txt"), "ZZ9ABC\n");
}

TEST_F(ResultsKnownCalls, DistanceBelowOneKmShowsZeroAndCountsAsNoPosition) {
  settings.callBlockSeconds = 0;
  AddKnown("ZZ9ABC", 0.6, 1);
  ResultsProcessor& results = Make(Program::kWindowed);
  PutSlot("ZZ9ABC", kNow - 9);
  results.Tick(kNow, 0);
  ASSERT_EQ(output.shown.size(), 1u);
  EXPECT_NE(output.shown[0].find(" 137500.00     0 km\t"), std::string::npos) << output.shown[0];
  EXPECT_EQ(output.reports[0].distanceKm, 0);
  EXPECT_EQ(ReadFile(dir / "known_list.txt"), "ZZ9ABC\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "freq_list.txt"));
  EXPECT_EQ(mask[kChannel], 0);
}

TEST_F(ResultsKnownCalls, CallWithPositionMarksItsChannelForAlwaysDecoding) {
  settings.callBlockSeconds = 0;
  AddKnown("ZZ9ABC", 1.0, 1);
  ResultsProcessor& results = Make(Program::kWindowed);
  PutSlot("ZZ9ABC", kNow - 9, 2, 12, 12.3f, -15.4f, 100);
  results.Tick(kNow, 0);
  EXPECT_EQ(mask[100], 1);
  EXPECT_EQ(ReadFile(dir / "freq_list.txt"), "137458.130\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "known_list.txt"));
  // Once the channel is marked, nothing more is appended for it.
  PutSlot("ZZ9ABC", kNow + 1 - 9, 2, 12, 12.3f, -15.4f, 100);
  results.Tick(kNow + 1, 0);
  mask[101] = 1;
  PutSlot("ZZ9ABC", kNow + 2 - 9, 2, 12, 12.3f, -15.4f, 101);
  results.Tick(kNow + 2, 0);
  EXPECT_EQ(ReadFile(dir / "freq_list.txt"), "137458.130\n");
}

TEST_F(ResultsKnownCalls, LearntCallsGetTheReferenceFrameOfTheirFieldForm) {
  ResultsProcessor& results = Make(Program::kWindowed);
  PutSlot("G4ABC", kNow - 9);
  results.Tick(kNow, 0);
  const KnownCall* entry = FindKnown("G4ABC");
  ASSERT_NE(entry, nullptr);
  char symbols[kFrameSymbols + 1] = {};
  int scrambled[kMessageBits] = {};
  EncodeFrame(CallsignFieldForm("G4ABC"), symbols, scrambled);  // " G4ABC"
  for (int k = 0; k < kFrameSymbols; ++k) {
    ASSERT_EQ(entry->referenceSymbols[k], symbols[k] == '1' ? 1 : -1) << k;
  }
  for (int k = 0; k < kMessageBits; ++k) ASSERT_EQ(entry->scrambledMessage[k], scrambled[k]) << k;
  EXPECT_EQ(entry->heardCount, 1);
  EXPECT_EQ(entry->lastHeard, kNow);
}

TEST_F(ResultsKnownCalls, FullTableReplacesTheOldestCallHeardOnceWithoutPosition) {
  // 999 entries: stations with positions, calls heard twice, and heard-once calls
  // of which index 700 is the oldest.
  for (int i = 0; i < KnownCallTable::kMaxUsed; ++i) {
    char call[8];
    std::snprintf(call, sizeof call, "Q%d", i);
    if (i % 3 == 0) {
      AddKnown(call, 100 + i);
    } else {
      AddKnown(call, -1, i % 3 == 1 ? 1 : 2, kNow - 5000 + i);
    }
  }
  known->entries[700].lastHeard = kNow - 90000;  // oldest heard-once
  known->entries[300].lastHeard = kNow - 99000;  // older, but a station with position
  known->entries[302].lastHeard = kNow - 99000;  // older, but heard twice
  ASSERT_EQ(known->entries[700].heardCount, 1);
  ResultsProcessor& results = Make(Program::kWindowed);
  PutSlot("ZZ9NEW", kNow - 9);
  results.Tick(kNow, 0);
  EXPECT_EQ(known->size(), KnownCallTable::kMaxUsed);
  EXPECT_STREQ(known->entries[700].callsign, "ZZ9NEW");
  EXPECT_STREQ(known->entries[300].callsign, "Q300");
  EXPECT_STREQ(known->entries[302].callsign, "Q302");
  // The new call is searchable: its next decode after the blocking time matches.
  PutSlot("ZZ9NEW", kNow + 601 - 9);
  results.Tick(kNow + 601, 0);
  ASSERT_EQ(output.reports.size(), 2u);
  EXPECT_TRUE(output.reports[1].known);
  EXPECT_EQ(known->entries[700].heardCount, 2);
}

// A call learnt from one decode returns `offset` channels away (0.0813 Hz each):
// it is accepted, listed and spotted only when the two agree within 2 Hz, or
// when the agreement rule is off. A return elsewhere is a first hearing there,
// so a third decode close to the second is accepted.
struct ReturnCase {
  int offset;
  bool sameFrequencyRule;
  bool accepted;
};
class ResultsLearning : public ResultsTest, public ::testing::WithParamInterface<ReturnCase> {};

TEST_P(ResultsLearning, LearntCallIsAcceptedOnlyWhereItWasHeard) {
  const ReturnCase c = GetParam();
  settings.callBlockSeconds = 0;
  settings.useKnownCallsList = true;
  settings.learnSameFrequency = c.sameFrequencyRule;
  ResultsProcessor& results = Make(Program::kConsole);
  const auto knownList = dir / "known_list.txt";
  PutSlot("ZZ9ABC", kNow - 9, 2, 1, 12.3f, -15.4f, kChannel);
  results.Tick(kNow, 0);
  PutSlot("ZZ9ABC", kNow + 1 - 9, 2, 1, 12.3f, -15.4f, kChannel + c.offset);
  results.Tick(kNow + 1, 0);
  ASSERT_EQ(output.reports.size(), 2u);
  EXPECT_EQ(output.reports[1].known, c.accepted);
  EXPECT_EQ(output.reports[1].hidden, !c.accepted);
  EXPECT_EQ(output.shown.size(), c.accepted ? 1u : 0u);
  EXPECT_EQ(sender.spots.size(), c.accepted ? 1u : 0u);
  EXPECT_EQ(std::filesystem::exists(knownList), c.accepted);
  EXPECT_EQ(CountKnown("ZZ9ABC"), 1);
  if (c.accepted) return;

  PutSlot("ZZ9ABC", kNow + 2 - 9, 2, 1, 12.3f, -15.4f, kChannel + c.offset + 1);
  results.Tick(kNow + 2, 0);
  ASSERT_EQ(output.reports.size(), 3u);
  EXPECT_TRUE(output.reports[2].known);
  EXPECT_EQ(ReadFile(knownList), "ZZ9ABC\n");
  EXPECT_EQ(sender.spots.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Returns, ResultsLearning,
                         ::testing::Values(ReturnCase{0, true, true}, ReturnCase{24, true, true},
                                           ReturnCase{-24, true, true}, ReturnCase{26, true, false},
                                           ReturnCase{-400, true, false},
                                           ReturnCase{-400, false, true}));

// ---- Log ----

TEST_F(ResultsLog, WindowedLogAppendsOrInsertsNewestFirst) {
  ResultsProcessor& results = Make(Program::kWindowed);
  PutSlot("ZZ1AA", kNow - 9);
  results.Tick(kNow, 0);
  PutSlot("ZZ2AA", kNow + 1 - 9);
  results.Tick(kNow + 1, 0);
  EXPECT_EQ(ReadFile(dir / "log.txt"), output.shown[0] + "\n" + output.shown[1] + "\n");

  settings.reverseOutput = true;
  settings.logFilePath = "rev.txt";
  PutSlot("ZZ3AA", kNow + 2 - 9);
  results.Tick(kNow + 2, 0);
  PutSlot("ZZ4AA", kNow + 3 - 9);
  results.Tick(kNow + 3, 0);
  EXPECT_EQ(ReadFile(dir / "rev.txt"),
            "rev.txt\n\n" + kWindowedColumns + output.shown[3] + "\n" + output.shown[2] + "\n");
}

TEST_F(ResultsLog, ConsoleLogIsAlwaysNewestFirstWithTheUploadMark) {
  const std::string start =
      "head\n\n   DATE     TIME     CALL    FREQ      QRB     Eb/No\t  SNR\tDEC   U\n";
  WriteFile(dir / "log.txt", start + "older\n");
  AddKnown("ZZ1AA", 42);
  ResultsProcessor& results = Make(Program::kConsole);
  PutSlot("ZZ1AA", kNow - 9);
  results.Tick(kNow, 0);
  ASSERT_EQ(output.shown.size(), 1u);
  EXPECT_EQ(output.shown[0].back(), '+');
  EXPECT_EQ(ReadFile(dir / "log.txt"), start + output.shown[0] + "\nolder\n");
}

TEST_F(ResultsLog, MissingOrEmptyLogWithNewestFirstGetsTheHeaderBlock) {
  settings.reverseOutput = true;
  ResultsProcessor& results = Make(Program::kWindowed);
  PutSlot("ZZ1AA", kNow - 9);
  results.Tick(kNow, 0);
  EXPECT_EQ(ReadFile(dir / "log.txt"), "log.txt\n\n" + kWindowedColumns + output.shown[0] + "\n");

  WriteFile(dir / "log.txt", "");
  PutSlot("ZZ2AA", kNow + 1 - 9);
  results.Tick(kNow + 1, 0);
  EXPECT_EQ(ReadFile(dir / "log.txt"), "log.txt\n\n" + kWindowedColumns + output.shown[1] + "\n");
}

TEST_F(ResultsLog, LogThatIsADirectoryStillShowsTheLineAndFreesTheSlot) {
  std::filesystem::create_directory(dir / "log.txt");
  for (bool reverse : {false, true}) {
    settings.reverseOutput = reverse;
    output = RecordingOutput();
    ResultsProcessor& results = Make(Program::kWindowed);
    PutSlot("ZZ1AA", kNow - 9, 2, 12, 12.3f, -15.4f, 200);
    results.Tick(kNow, 0);
    EXPECT_EQ(output.shown.size(), 1u);
    EXPECT_EQ(output.failures.size(), 1u);
    EXPECT_TRUE(AllFree());
    EXPECT_EQ(Hold(200), ResultsProcessor::kHoldTicks);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "log.txt"));
  }
}

TEST_F(ResultsLog, ReadOnlyFolderKeepsTheOldLogAndStillShowsTheLine) {
  const std::filesystem::path folder = dir / "ro";
  std::filesystem::create_directory(folder);
  const std::string old = "h\n\nc\nolder\n";
  WriteFile(folder / "log.txt", old);
  std::filesystem::permissions(folder / "log.txt", std::filesystem::perms(0644));
  std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
  std::filesystem::permissions(folder, std::filesystem::perms(0555));
  settings.reverseOutput = true;
  ResultsOptions options;
  options.folder = folder;
  ResultsProcessor& results = Make(Program::kWindowed, options);
  PutSlot("ZZ1AA", kNow - 9);

  // Where the tests run as root, the processing runs as an unprivileged user so
  // that the folder really is read-only to it.
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
    results.Tick(kNow, 0);
    const bool ok = output.shown.size() == 1 && output.failures.size() == 1 && AllFree();
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  std::filesystem::permissions(folder, std::filesystem::perms(0755));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(ReadFile(folder / "log.txt"), old);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                          std::filesystem::directory_iterator()),
            1);
}

TEST_F(ResultsLog, WithoutFilesNothingIsWrittenButEverythingIsComputed) {
  settings.callBlockSeconds = 0;
  settings.captureEnabled = true;
  settings.useKnownCallsList = true;
  AddKnown("ZZ1AA", -1, 1);
  AddKnown("ZZ2AA", 300, 1);
  ResultsOptions options;
  options.writeFiles = false;
  ResultsProcessor& results = Make(Program::kWindowed, options);
  PutSlot("ZZ1AA", kNow - 9, 2, 12, 12.3f, -15.4f, 10);
  PutSlot("ZZ2AA", kNow - 9, 2, 12, 12.3f, -15.4f, 20);
  PutSlot("ZZ3AA", kNow - 9, 1, 0, 12.3f, -15.4f, 30);
  results.Tick(kNow, 0);
  ASSERT_EQ(output.reports.size(), 3u);
  EXPECT_FALSE(output.reports[0].hidden);
  EXPECT_EQ(output.reports[1].distanceKm, 300);
  EXPECT_TRUE(output.reports[2].hidden);
  EXPECT_EQ(output.reports[2].mark, '-');
  EXPECT_EQ(mask[20], 1);
  EXPECT_EQ(Hold(10), ResultsProcessor::kHoldTicks);
  EXPECT_EQ(FindKnown("ZZ1AA")->heardCount, 2);
  EXPECT_NE(FindKnown("ZZ3AA"), nullptr);
  EXPECT_TRUE(output.captures.empty());
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

// ---- Hold and capture ----

TEST_F(ResultsHoldAndCapture, ChannelAndItsNeighboursAreHeld) {
  ResultsProcessor& results = Make(Program::kWindowed);
  PutSlot("ZZ1AA", kNow - 9, 2, 12, 12.3f, -15.4f, 500);
  PutSlot("ZZ2AA", kNow - 9, 2, 12, 12.3f, -15.4f, 0);
  PutSlot("ZZ3AA", kNow - 9, 2, 12, 12.3f, -15.4f, 1229);
  results.Tick(kNow, 0);
  EXPECT_EQ(Hold(498), 0);
  EXPECT_EQ(Hold(499), 287);
  EXPECT_EQ(Hold(500), 287);
  EXPECT_EQ(Hold(501), 287);
  EXPECT_EQ(Hold(502), 0);
  EXPECT_EQ(Hold(0), 287);
  EXPECT_EQ(Hold(1), 287);
  EXPECT_EQ(Hold(2), 0);
  EXPECT_EQ(Hold(1228), 287);
  EXPECT_EQ(Hold(1229), 287);
}

TEST_F(ResultsHoldAndCapture, WindowedCaptureNamesTheImageAndCaptionsIt) {
  settings.captureEnabled = true;
  AddKnown("ZZ9ABC", 77);
  ResultsProcessor& results = Make(Program::kWindowed);
  PutSlot("ZZ9ABC", kNow - 9, 2, 12, 12.3f, -15.44f, 321);
  results.Tick(kNow, 0);
  ASSERT_EQ(output.captures.size(), 1u);
  EXPECT_EQ(output.captures[0].channel, 321);
  EXPECT_EQ(output.captures[0].call, "ZZ9ABC");
  EXPECT_EQ(output.captures[0].path, "Capture/ZZ9ABC_20231114_2213.jpg");
  EXPECT_EQ(output.captures[0].caption, "2023-11-14 22:13:20 ZZ9ABC de ZZ1ZZ -25.4dB in JO65HO");

  // The console program never captures.
  output = RecordingOutput();
  ResultsProcessor& console = Make(Program::kConsole);
  PutSlot("ZZ9ABC", kNow + 700 - 9);
  console.Tick(kNow + 700, 0);
  EXPECT_EQ(output.reports.size(), 1u);
  EXPECT_TRUE(output.captures.empty());
}

// ---- Spots ----

TEST_F(ResultsSpots, OnlyCleanDecodesOfKnownCallsAreUploaded) {
  settings.callBlockSeconds = 0;
  AddKnown("ZZ1AA", 100);
  AddKnown("ZZ2AA", 100);
  AddKnown("ZZ3AA", -1);
  ResultsProcessor& results = Make(Program::kWindowed);
  PutSlot("ZZ1AA", kNow - 9, 2, 12, 12.3f, -15.4f, 615);
  PutSlot("ZZ2AA", kNow - 9, 1, 12);  // '?'
  PutSlot("ZZ3AA", kNow - 9, 1, 0);   // 'c'
  PutSlot("ZZ4AA", kNow - 9, 2, 12);  // new: '-'
  results.Tick(kNow + 1, 0);
  ASSERT_EQ(sender.spots.size(), 1u);
  EXPECT_EQ(sender.spots[0].call, "ZZ1AA");
  EXPECT_EQ(sender.spots[0].locator, " ");
  EXPECT_FLOAT_EQ(sender.spots[0].frequencyHz, 137500.0f);
  EXPECT_FLOAT_EQ(sender.spots[0].reportDb, -25.4f);
  EXPECT_EQ(output.reports[0].uploadMark, '+');
  EXPECT_EQ(output.reports[1].uploadMark, ' ');
  EXPECT_EQ(output.reports[2].uploadMark, ' ');
  EXPECT_EQ(output.reports[3].uploadMark, ' ');

  // Uploading off, or no reporter at all: nothing.
  settings.uploadSpots = false;
  PutSlot("ZZ1AA", kNow + 2 - 9);
  results.Tick(kNow + 2, 0);
  settings.uploadSpots = true;
  ResultsProcessor& noSpots = Make(Program::kConsole, {}, false);
  PutSlot("ZZ1AA", kNow + 3 - 9);
  noSpots.Tick(kNow + 3, 0);
  EXPECT_EQ(sender.spots.size(), 1u);
  EXPECT_EQ(output.shown.back().back(), ' ');
}

TEST_F(ResultsSpots, RecordingDecodesAreShownAndLoggedButNeverUploadedOrCaptured) {
  settings.captureEnabled = true;
  AddKnown("ZZ1AA", 100);
  AddKnown("ZZ2AA", 100);
  for (Program program : {Program::kWindowed, Program::kConsole}) {
    output = RecordingOutput();
    ResultsProcessor& results = Make(program);
    PutSlot("ZZ1AA", kNow - 9, 2, 12, 12.3f, -15.4f, 615, true);
    results.Tick(kNow + (program == Program::kConsole ? 1000 : 0), 0);
    ASSERT_EQ(output.shown.size(), 1u);
    EXPECT_TRUE(output.reports[0].fromWav);
    EXPECT_EQ(output.reports[0].uploadMark, ' ');
    EXPECT_TRUE(output.captures.empty());
    EXPECT_NE(ReadFile(dir / "log.txt").find(output.shown[0]), std::string::npos);
  }
  EXPECT_TRUE(sender.spots.empty());
}

TEST_F(ResultsSpots, UploadFailuresGiveTheMarkAndProcessingGoesOn) {
  settings.callBlockSeconds = 0;
  AddKnown("ZZ1AA", 100);
  AddKnown("ZZ2AA", 100);
  ResultsProcessor& results = Make(Program::kConsole);
  sender.throws = true;
  PutSlot("ZZ1AA", kNow - 9);
  PutSlot("ZZ2AA", kNow - 9);
  results.Tick(kNow + 1, 0);
  ASSERT_EQ(output.shown.size(), 2u);
  EXPECT_EQ(output.shown[0].back(), 'x');
  EXPECT_EQ(output.shown[1].back(), 'x');
  EXPECT_TRUE(AllFree());
}

TEST_F(ResultsSpots, PeriodicReporterCallsAndTheSelfSpot) {
  ResultsProcessor& results = Make(Program::kWindowed);
  constexpr int kHour = 1700002800;  // multiple of 1200
  results.Tick(kHour + 1, 0.5f);     // not a multiple of 20: nothing
  EXPECT_EQ(sender.tickles, 0);
  results.Tick(kHour + 20, 0.5f);  // keep-alive only
  EXPECT_EQ(sender.tickles, 1);
  EXPECT_TRUE(sender.spots.empty());
  results.Tick(kHour, 0.0f);  // level 0: no self-spot
  EXPECT_EQ(sender.tickles, 2);
  EXPECT_TRUE(sender.spots.empty());
  results.Tick(kHour, 0.1f, true);  // a recording's level: no self-spot
  EXPECT_TRUE(sender.spots.empty());
  results.Tick(kHour, 0.1f);
  ASSERT_EQ(sender.spots.size(), 1u);
  EXPECT_EQ(sender.tickles, 4);
  EXPECT_EQ(sender.spots[0].call, "ZZ1ZZ");
  EXPECT_EQ(sender.spots[0].locator, "JO65HO");
  EXPECT_FLOAT_EQ(sender.spots[0].frequencyHz, 137500.0f);
  EXPECT_FLOAT_EQ(sender.spots[0].reportDb, -20.0f);
  // Several ticks in the same second each make the calls.
  results.Tick(kHour, 0.1f);
  EXPECT_EQ(sender.spots.size(), 2u);
  EXPECT_EQ(sender.tickles, 5);

  settings.uploadSpots = false;
  results.Tick(kHour, 0.1f);
  EXPECT_EQ(sender.tickles, 5);
  EXPECT_EQ(sender.spots.size(), 2u);

  settings.uploadSpots = true;
  sender.throws = true;
  EXPECT_NO_THROW(results.Tick(kHour, 0.1f));
}

// ---- The real sender over the reporting component ----

bool Contains(const test::Bytes& bytes, std::string_view text) {
  return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

TEST(ResultsReporterSender, SendsWithTheProgramsIdentityAndFollowsTheUploadSwitch) {
  test::UdpListener listener;
  ReceiverSettings settings = DefaultSettings(Program::kConsole);
  settings.myCall = "ZZ1ZZ";
  settings.myLocator = "JO65HO";
  settings.useCorrelator = true;
  settings.uploadSpots = false;
  SpotReporter reporter;
  ReporterRecord record{};
  StoreReporterAddress(record, "127.0.0.1", std::to_string(listener.port()));
  ReporterSpotSender sender(reporter, record, settings, Program::kConsole);

  EXPECT_FALSE(sender.Send("ZZ2AA", " ", 137500.0f, -20.0f));
  EXPECT_EQ(reporter.Counters().spotsAccepted, 0u);

  settings.uploadSpots = true;
  EXPECT_TRUE(sender.Send("ZZ2AA", " ", 137500.0f, -20.0f));
  EXPECT_EQ(reporter.Counters().spotsAccepted, 1u);
  sender.Tickle();
  const std::optional<test::Bytes> datagram = listener.Receive();
  ASSERT_TRUE(datagram.has_value());
  EXPECT_TRUE(Contains(*datagram, "ZZ2AA"));
  EXPECT_TRUE(Contains(*datagram, "Vs32RxC v1.4+correlator"));
}

}  // namespace
}  // namespace vs32
