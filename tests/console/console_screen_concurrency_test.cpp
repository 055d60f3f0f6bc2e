// The screen lock: the main loop (spinner, live fields, decode lines) and the
// receive worker (end-of-file clearing, ambiguity text) write at the same time;
// every write must still land whole at its own place.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "console/console_screen.h"
#include "console/console_texts.h"
#include "console/vt_screen.h"

// The console program's sources are not in a library: the pieces under test are
// compiled into this test.
#include "console/console_screen.h"
#include "console/console_texts.h"

namespace vs32 {
namespace {

std::string ReadAll(std::FILE* file) {
  std::string all;
  char buf[65536];
  std::rewind(file);
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, file)) > 0) all.append(buf, n);
  return all;
}

TEST(ConsoleScreenConcurrency, WritersOnSeveralThreadsNeverMixTheirCursorMovesAndTexts) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  ConsoleScreen screen(fileno(file), ScreenMode::kTerminal);
  screen.Clear();
  screen.PrintAt(1, kBannerRow, std::string(kConsoleBanner) + "\n");
  screen.PrintAt(1, kSummaryRow, "Input: default\t\tDecoder: deep\tDetector: rms+vsds\n");
  screen.PrintAt(1, kStationRow, "Dial=136000.00 Hz\tFc=1500.00 Hz\tPeak spc: 0.081 Hz\n");
  screen.PrintAt(
      1, kHeaderRow,
      std::string(kConsoleSeparator) + std::string(kConsoleColumns) + std::string(kConsoleDashes));

  constexpr int kRounds = 3000;
  std::vector<std::thread> threads;
  // Main loop: spinner and the two live fields.
  threads.emplace_back([&] {
    char buf[32];
    for (int i = 0; i < kRounds; ++i) {
      screen.ShowLive(1, kMessageRow, std::string_view(&kSpinner[i % 4], 1));
      screen.ShowLive(kPeaksColumn, kSummaryRow,
                      std::string_view(buf, FormatPeaks(buf, sizeof buf, i % 1000)));
      screen.ShowLive(
          kLevelColumn, kStationRow,
          std::string_view(buf, FormatLevel(buf, sizeof buf, 0.001f * (1 + i % 7), i % 2)));
    }
  });
  // Results pass: decode lines.
  threads.emplace_back([&] {
    char buf[64];
    for (int i = 0; i < kRounds; ++i) {
      const int n = std::snprintf(buf, sizeof buf, "decode %04d +\n", i);
      screen.InsertLine(kDecodeRow, std::string_view(buf, static_cast<size_t>(n)));
    }
  });
  // Worker: end of file and ambiguity texts on the message row.
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      screen.ClearRow(kMessageRow);
      screen.PrintAt(kAmbiguityColumn, kMessageRow, AmbiguityField("Q1ABC or Q1ABD?"));
    }
  });
  for (auto& t : threads) t.join();

  test::VtScreen s(24, 80, true);
  s.Feed(ReadAll(file));
  std::fclose(file);

  EXPECT_EQ(s.Row(1), kConsoleBanner) << s.Text();
  EXPECT_EQ(s.Row(2), "Input: default          Decoder: deep   Detector: rms+vsds    999 peaks")
      << s.Text();
  // Last level: 0.001 × (1 + 2999 % 7) = 0.004 → −48.0 dB, blanked (2999 is odd).
  EXPECT_EQ(s.Row(3), "Dial=136000.00 Hz       Fc=1500.00 Hz   Peak spc: 0.081 Hz   -48.0 dB C")
      << s.Text();
  // The spinner's last character may or may not have been overwritten by a
  // later row clearing; the ambiguity text came last in its thread.
  const std::string row4 = s.Row(4);
  ASSERT_EQ(row4.size(), 49u + 16u) << s.Text();
  EXPECT_EQ(row4.substr(49), " Q1ABC or Q1ABD?");
  EXPECT_EQ(row4.substr(1, 48), std::string(48, ' '));
  EXPECT_EQ(s.Row(5), std::string(71, '=')) << s.Text();
  EXPECT_EQ(s.Row(7), std::string(71, '-')) << s.Text();
  // Newest decode first, one whole line per row, none lost among the visible ones.
  for (int row = kDecodeRow; row <= 24; ++row) {
    char want[32];
    std::snprintf(want, sizeof want, "decode %04d +", kRounds - 1 - (row - kDecodeRow));
    EXPECT_EQ(s.Row(row), want) << "row " << row << "\n" << s.Text();
  }
}

}  // namespace
}  // namespace vs32
