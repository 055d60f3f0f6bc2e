// The known-call table loaded from the list files.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "config/locator.h"
#include "engine/known_calls.h"
#include "support/test_support.h"

namespace vs32 {
namespace {

using test::ScopedCwd;
using test::TempDir;
using test::WriteFile;

// The worked example of the frame format: field " Q1ABC".
constexpr char kQ1abcSymbols[] =
    "110110101001100101100110101001011001011001010101010110100101011001101010100101100110101001"
    "010101011010010110100110010110101010011001100110101010010101100110011001101001010110100110"
    "01101001101001100101010110011001101010011010010110011010010";
constexpr char kQ1abcScrambled[] = "111000010110011110111011000001010110010101011100001";

double Km(const char* a, const char* b) {
  const GeoPoint p = LocatorToLatLon(a), q = LocatorToLatLon(b);
  return DistanceKm(p.longitude, p.latitude, q.longitude, q.latitude);
}

std::string Call(const KnownCallTable& table, int i) {
  return table.entries[i].callsign;
}

class ListFiles : public ::testing::Test {
 protected:
  TempDir dir;
  std::unique_ptr<KnownCallTable> table = std::make_unique<KnownCallTable>();
  void Write(const char* name, const std::string& content) { WriteFile(dir / name, content); }
};

TEST_F(ListFiles, CallsWithLocatorsThenKnownCalls) {
  Write("callsloc.txt",
        "ZZ1AB JO65HO\n"
        "#ZZ2AB JO65HO\n"
        "ABCDEFG IO91WM\n"
        "zz3ab\tjo65hn trailing words\n"
        " ZZ5AB JO65HO\n"
        "ZZ4AB\n");
  Write("known_list.txt", "ZZ6AB\nZZ6AB\n\n;ZZ7AB\nzz8ab anything\n");
  EXPECT_EQ(LoadKnownCalls(*table, "IO91WM", dir.path()), 7);
  ASSERT_EQ(table->size(), 7);
  const KnownCall* e = table->entries.data();
  EXPECT_EQ(Call(*table, 0), "ZZ1AB");
  EXPECT_STREQ(e[0].locator, "JO65HO");
  EXPECT_DOUBLE_EQ(e[0].distanceKm, Km("JO65HO", "IO91WM"));
  EXPECT_GT(e[0].distanceKm, 900);
  EXPECT_LT(e[0].distanceKm, 1000);
  EXPECT_EQ(Call(*table, 1), "ABCDEF");  // cut to six
  EXPECT_EQ(e[1].distanceKm, 0);
  EXPECT_EQ(Call(*table, 2), "ZZ3AB");  // upper-cased
  EXPECT_STREQ(e[2].locator, "jo65hn");
  EXPECT_DOUBLE_EQ(e[2].distanceKm, Km("JO65HN", "IO91WM"));
  // A line without a locator is a station without a position.
  EXPECT_EQ(Call(*table, 3), "ZZ4AB");
  EXPECT_STREQ(e[3].locator, "");
  EXPECT_EQ(e[3].distanceKm, -1);
  EXPECT_EQ(Call(*table, 4), "ZZ6AB");
  EXPECT_EQ(Call(*table, 5), "ZZ6AB");
  EXPECT_EQ(Call(*table, 6), "ZZ8AB");
  for (int i = 4; i < 7; ++i) {
    EXPECT_STREQ(e[i].locator, "");
    EXPECT_EQ(e[i].distanceKm, -1);
  }
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(e[i].heardCount, 0);
    EXPECT_EQ(e[i].lastHeard, 0);
  }
}

TEST_F(ListFiles, ReferenceFrameComesFromTheFieldForm) {
  Write("callsloc.txt", "q1abc JO65HO\nQ1ABC\n");
  ASSERT_EQ(LoadKnownCalls(*table, "JO65HO", dir.path()), 2);
  for (int i = 0; i < 2; ++i) {
    const KnownCall& entry = table->entries[i];
    EXPECT_STREQ(entry.callsign, "Q1ABC");
    for (int k = 0; k < kFrameSymbols; ++k) {
      ASSERT_EQ(entry.referenceSymbols[k], kQ1abcSymbols[k] == '1' ? 1 : -1) << k;
    }
    for (int k = 0; k < kMessageBits; ++k) {
      ASSERT_EQ(entry.scrambledMessage[k], kQ1abcScrambled[k] - '0') << k;
    }
  }
  EXPECT_EQ(table->entries[0].distanceKm, 0);
}

TEST_F(ListFiles, WholeLinesAreRead) {
  // Pieces of 39 characters would have made "TAILCALL" a station of its own.
  const std::string head = "ZZ1AB JO65HO " + std::string(26, 'x');
  ASSERT_EQ(head.size(), 39u);
  Write("callsloc.txt", head + "TAILCALL JO00AA\n" + "ZZ2AB JO65HO\n");
  Write("known_list.txt", "ZZ3AB " + std::string(100000, 'y') + " ZZ4AB\nZZ5AB");
  ASSERT_EQ(LoadKnownCalls(*table, "JO65HO", dir.path()), 4);
  EXPECT_EQ(Call(*table, 0), "ZZ1AB");
  EXPECT_EQ(Call(*table, 1), "ZZ2AB");
  EXPECT_EQ(Call(*table, 2), "ZZ3AB");
  EXPECT_EQ(Call(*table, 3), "ZZ5AB");  // the last line has no line feed
}

TEST_F(ListFiles, CrlfFilesGiveTheSameEntries) {
  Write("callsloc.txt", "ZZ1AB JO65HO\r\nZZ2AB\r\n\r\n");
  Write("known_list.txt", "ZZ3AB\r\n");
  ASSERT_EQ(LoadKnownCalls(*table, "IO91WM", dir.path()), 3);
  EXPECT_STREQ(table->entries[0].locator, "JO65HO");
  EXPECT_DOUBLE_EQ(table->entries[0].distanceKm, Km("JO65HO", "IO91WM"));
  EXPECT_STREQ(table->entries[1].callsign, "ZZ2AB");
  EXPECT_EQ(table->entries[1].distanceKm, -1);
  EXPECT_STREQ(table->entries[2].callsign, "ZZ3AB");
}

TEST_F(ListFiles, EveryLoadStartsFromAnEmptyTable) {
  Write("callsloc.txt", "ZZ1AB JO65HO\nZZ2AB JO65HO\n");
  Write("known_list.txt", "ZZ3AB\n");
  ASSERT_EQ(LoadKnownCalls(*table, "JO65HO", dir.path()), 3);
  std::filesystem::remove(dir / "callsloc.txt");
  // A reload without callsloc.txt must not append known_list.txt again.
  EXPECT_EQ(LoadKnownCalls(*table, "JO65HO", dir.path()), 1);
  EXPECT_EQ(table->size(), 1);
  EXPECT_EQ(Call(*table, 0), "ZZ3AB");
  std::filesystem::remove(dir / "known_list.txt");
  EXPECT_EQ(LoadKnownCalls(*table, "JO65HO", dir.path()), 0);
  EXPECT_EQ(table->size(), 0);
}

TEST_F(ListFiles, AtMost999EntriesFromBothFiles) {
  std::string calls, known;
  for (int i = 0; i < 998; ++i) calls.append("C").append(std::to_string(i)).append(" JO65HO\n");
  for (int i = 0; i < 100000; ++i) known.append("K").append(std::to_string(i)).append("\n");
  Write("callsloc.txt", calls);
  Write("known_list.txt", known);
  EXPECT_EQ(LoadKnownCalls(*table, "JO65HO", dir.path()), KnownCallTable::kMaxUsed);
  EXPECT_EQ(table->size(), 999);
  EXPECT_EQ(Call(*table, 997), "C997");
  EXPECT_EQ(Call(*table, 998), "K0");

  std::filesystem::remove(dir / "callsloc.txt");
  EXPECT_EQ(LoadKnownCalls(*table, "JO65HO", dir.path()), 999);
  EXPECT_EQ(Call(*table, 998), "K998");
}

TEST_F(ListFiles, BadInputIsSkipped) {
  std::mt19937 random(1);
  std::string garbage(200000, '\0');
  for (char& c : garbage) c = static_cast<char>(random());
  Write("callsloc.txt", garbage);
  Write("known_list.txt",
        "\xC3\x84"
        "BC\n"  // a non-ASCII letter does not start a call
        "\xE9"
        "ZZ\n"  // nor does a Latin-1 byte
        "Z\xC3\x84"
        "B JO65HO\n"  // but may follow one
        "\x01ZZ1AB\n");
  const int count = LoadKnownCalls(*table, "\xff\xfe", dir.path());
  EXPECT_GE(count, 1);
  EXPECT_LE(count, 999);
  EXPECT_STREQ(table->entries[count - 1].callsign,
               "Z\xC3\x84"
               "B");
  for (int i = 0; i < count; ++i) {
    const KnownCall& e = table->entries[i];
    EXPECT_LE(std::string(e.callsign).size(), 6u);
    EXPECT_LE(std::string(e.locator).size(), 6u);
    EXPECT_FALSE(std::isnan(e.distanceKm));
  }

  // A folder in place of a list file is no list.
  std::filesystem::remove(dir / "callsloc.txt");
  std::filesystem::remove(dir / "known_list.txt");
  std::filesystem::create_directory(dir / "callsloc.txt");
  std::filesystem::create_directory(dir / "known_list.txt");
  EXPECT_EQ(LoadKnownCalls(*table, "JO65HO", dir.path()), 0);
}

TEST_F(ListFiles, BareNamesInTheCurrentFolderByDefault) {
  Write("callsloc.txt", "ZZ1AB JO65HO\n");
  ScopedCwd cwd(dir.path());
  EXPECT_EQ(LoadKnownCalls(*table, "JO65HO"), 1);
}

// ---- Clean-up ----------------------------------------------------------------

TEST_F(ListFiles, CleanUpKeepsOnlyStationsWithAPosition) {
  Write("callsloc.txt", "ZZ1AB JO65HO\nZZ2AB\nZZ3AB IO91WM\n");
  Write("known_list.txt", "ZZ4AB\nZZ5AB\n");
  ASSERT_EQ(LoadKnownCalls(*table, "JO65HO", dir.path()), 5);
  AppendLearntCall(*table, "ZZ6AB", 1000);
  table->entries[2].distanceKm = std::nan("");  // a broken distance counts as none
  EXPECT_EQ(CleanUpKnownList(*table, dir.path()), 5);
  ASSERT_EQ(table->size(), 1);
  EXPECT_EQ(Call(*table, 0), "ZZ1AB");
  EXPECT_FALSE(std::filesystem::exists(dir / "known_list.txt"));
  EXPECT_TRUE(std::filesystem::exists(dir / "callsloc.txt"));
  EXPECT_EQ(CleanUpKnownList(*table, dir.path()), 0);

  // A folder named like the list is not removed.
  std::filesystem::create_directory(dir / "known_list.txt");
  CleanUpKnownList(*table, dir.path());
  EXPECT_TRUE(std::filesystem::is_directory(dir / "known_list.txt"));
}

}  // namespace
}  // namespace vs32
