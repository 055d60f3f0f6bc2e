// The channel masks read from the frequency list files.
#include "config/list_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "support/test_support.h"

namespace vs32 {
namespace {

using test::TempDir;
using test::WriteFile;

class Masks : public ::testing::Test {
 protected:
  TempDir dir;
  ReceiverSettings settings = DefaultSettings(Program::kConsole);
  ChannelMask loran{};
  ChannelMask always{};
  void Write(const char* name, const std::string& content) { WriteFile(dir / name, content); }
  int Count(const ChannelMask& mask) {
    int n = 0;
    for (int flag : mask) n += flag;
    return n;
  }
};

TEST_F(Masks, FrequenciesMapToChannels) {
  // Dial 136000, band start 1450: the band is 137450 … 137550 Hz.
  Write("loran_lines.txt", "137500.0\n137450.0\n137550.0\n137449.9\n137500.04\n");
  Write("freq_list.txt", "\n137500.000\n137460.5");  // as the menu command writes it
  LoadChannelMasks(settings, loran, always, dir.path());
  EXPECT_EQ(Count(loran), 2);
  EXPECT_EQ(loran[615], 1);
  EXPECT_EQ(loran[0], 1);
  EXPECT_EQ(Count(always), 2);
  EXPECT_EQ(always[615], 1);
  EXPECT_EQ(always[129], 1);  // trunc(10.5 * 12.3) = trunc(129.15)
}

TEST_F(Masks, FixedRangeAndBand) {
  Write("loran_lines.txt", "137460.0\n137500.0\n");
  Write("freq_list.txt", "137000.0\n136990.0\n");
  settings.bandStartHz = 950;  // F_CENTER 1000: band 136950 … 137050 Hz
  LoadChannelMasks(settings, loran, always, dir.path());
  EXPECT_EQ(Count(loran), 0);   // in range, but above the band
  EXPECT_EQ(Count(always), 0);  // in the band, but outside the fixed range

  // A small negative position still truncates to channel 0.
  settings.bandStartHz = 1450.05;
  Write("loran_lines.txt", "137450.0\n");
  LoadChannelMasks(settings, loran, always, dir.path());
  EXPECT_EQ(loran[0], 1);
}

TEST_F(Masks, LineRules) {
  Write("loran_lines.txt",
        "137500.0\r\n"  // CRLF
        " 137460.0\n"   // does not start with a digit
        "#137470.0\n"
        "137480.0abc 1\n"  // the leading number counts
        "137490,5\n"
        "\xD9\xA1"
        "37455\n");  // an Arabic-Indic digit is not a digit here
  LoadChannelMasks(settings, loran, always, dir.path());
  EXPECT_EQ(Count(loran), 3);
  EXPECT_EQ(loran[615], 1);
  EXPECT_EQ(loran[369], 1);  // 137480: trunc(30 * 12.3)
  EXPECT_EQ(loran[492], 1);  // 137490: trunc(40 * 12.3)
}

TEST_F(Masks, MasksAreClearedAndBadFilesSkipped) {
  loran.fill(1);
  always.fill(1);
  LoadChannelMasks(settings, loran, always, dir.path());
  EXPECT_EQ(Count(loran), 0);
  EXPECT_EQ(Count(always), 0);

  std::filesystem::create_directory(dir / "loran_lines.txt");
  std::mt19937 random(2);
  std::string lines;
  for (int i = 0; i < 100000; ++i) {
    lines += std::to_string(137450 + static_cast<int>(random() % 101)) + ".0\n";
    if (i % 7 == 0) lines += std::string(1, static_cast<char>(random())) + "\x80\xff\n";
  }
  Write("freq_list.txt", lines);
  LoadChannelMasks(settings, loran, always, dir.path());
  EXPECT_EQ(Count(loran), 0);
  EXPECT_GT(Count(always), 90);
  EXPECT_LE(Count(always), 101);
}

}  // namespace
}  // namespace vs32
