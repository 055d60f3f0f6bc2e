// The settings file and the list files in places and states a user's disk can
// really hold: full, read-only, replaced by a folder, a pipe, a device or
// garbage. Start-up goes on with what can be read, says what could not be
// written, never hangs and never damages the file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "config/list_files.h"
#include "config/profile_file.h"
#include "config/settings.h"
#include "engine/known_calls.h"
#include "support/fault_injection.h"
#include "support/test_support.h"

namespace vs32 {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

using test::BecomeNobody;
using test::FilesIn;
using test::InChild;
using test::LimitFileSize;
using test::NoFault;

std::string Joined(const std::vector<std::string>& texts) {
  std::string all;
  for (const std::string& t : texts) all += t + "|";
  return all;
}

// ---- The settings file -------------------------------------------------------

TEST(SettingsFileFault, FullDiskKeepsTheFileAndTheValuesReadAreUsed) {
  TempDir dir;
  const auto path = dir / "Vs32RxC.INI";
  const std::string content = "[VS-32]\nF_CENTER=2000\nMYCALL=Q9XYZ\nMYQTH=JO01AA\n";
  WriteFile(path, content);
  const std::string said = InChild([&] { return LimitFileSize(content.size()); },
                                   [&] {
                                     ProfileFile file(path);
                                     std::string error;
                                     const bool ok = file.WriteString("VS-32", "NEW", "1", &error);
                                     ReceiverSettings s;
                                     const LoadResult r = LoadSettings(Program::kConsole, path, s);
                                     return std::string(ok ? "written" : error) + "; " +
                                            (r.ok ? "ok" : "stopped") + "; " + Joined(r.warnings) +
                                            "; " + s.myCall + " " + std::to_string(s.bandStartHz);
                                   });
  EXPECT_EQ(said, std::string("File too large; ok; Cannot write settings to ") + path.string() +
                      ": File too large|; Q9XYZ 1950.000000");
  EXPECT_EQ(ReadFile(path), content);
  EXPECT_EQ(FilesIn(dir.path()), 1u);
}

TEST(SettingsFileFault, ReadOnlyFolderWithAWritableFile) {
  TempDir dir;
  const auto folder = dir / "ro";
  std::filesystem::create_directory(folder);
  const auto path = folder / "Vs32RxC.INI";
  const std::string content = "[VS-32]\nMYCALL=Q9XYZ\n";
  WriteFile(path, content);
  // The file belongs to the user and may be written; its folder may not.
  ASSERT_EQ(::chown(path.c_str(), 65534, 65534), ::geteuid() == 0 ? 0 : -1);
  std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
  std::filesystem::permissions(folder, std::filesystem::perms(0555));
  const std::string said = InChild(BecomeNobody, [&] {
    ReceiverSettings s;
    const LoadResult r = LoadSettings(Program::kConsole, path, s);
    return std::string(r.ok ? "ok" : "stopped") + "; " + std::to_string(r.warnings.size()) +
           " warning; " + s.myCall;
  });
  std::filesystem::permissions(folder, std::filesystem::perms(0755));
  // The whole file is replaced on each write, which needs the folder: refused,
  // said once, and the values read are used.
  EXPECT_EQ(said, "ok; 1 warning; Q9XYZ");
  EXPECT_EQ(ReadFile(path), content);
  EXPECT_EQ(FilesIn(folder), 1u);
}

TEST(SettingsFileFault, PipeDeviceAndFolderInPlaceOfTheFile) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo.INI").c_str(), 0644), 0);
  std::filesystem::create_symlink("/dev/zero", dir / "zero.INI");
  std::filesystem::create_directory(dir / "folder.INI");
  for (const char* name : {"fifo.INI", "zero.INI", "folder.INI"}) {
    const auto path = dir / name;
    const std::string said = InChild(NoFault, [&] {
      ReceiverSettings s;
      const LoadResult r = LoadSettings(Program::kConsole, path, s);
      return std::string(r.ok ? "ok" : "stopped") + "; " + std::to_string(r.warnings.size()) +
             " warning; " + std::to_string(s.bandStartHz);
    });
    // Defaults, one warning, no hang on the pipe, nothing read from the device.
    EXPECT_EQ(said, "ok; 1 warning; 1450.000000") << name;
  }
  // None of them was replaced by a regular file.
  EXPECT_TRUE(std::filesystem::is_fifo(dir / "fifo.INI"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "zero.INI"));
  EXPECT_TRUE(std::filesystem::is_character_file(dir / "zero.INI"));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "folder.INI"));
}

TEST(SettingsFileFault, BinaryGarbageIsKeptAndDefaultsAreAddedAfterIt) {
  TempDir dir;
  const auto path = dir / "Vs32RxC.INI";
  std::mt19937 random(4);
  std::string garbage(5000, '\0');
  for (char& c : garbage) {
    c = static_cast<char>(random());
    if (c == '[' || c == '=' || c == '\n') c = '\0';
  }
  WriteFile(path, garbage);
  ReceiverSettings s;
  const LoadResult r = LoadSettings(Program::kConsole, path, s);
  EXPECT_TRUE(r.ok);
  EXPECT_TRUE(r.warnings.empty());
  EXPECT_EQ(s.bandStartHz, 1450);
  EXPECT_TRUE(r.stationMissing);
  // Every byte of the old content stays where it was; the keys follow it.
  const std::string now = ReadFile(path);
  EXPECT_EQ(now.substr(0, garbage.size()), garbage);
  EXPECT_EQ(ProfileFile(path).ReadString("VS-32", "F_CENTER", ""), "1500");
}

// ---- The list files -------------------------------------------------------------

class ListFault : public ::testing::Test {
 protected:
  std::string LoadAll(const std::filesystem::path& folder) {
    auto table = std::make_unique<KnownCallTable>();
    auto loran = std::make_unique<ChannelMask>();
    auto always = std::make_unique<ChannelMask>();
    const ReceiverSettings settings = DefaultSettings(Program::kConsole);
    const int calls = LoadKnownCalls(*table, "JO01AA", folder);
    LoadChannelMasks(settings, *loran, *always, folder);
    int flags = 0;
    for (int c = 0; c < 1230; ++c)
      flags += (*loran)[static_cast<size_t>(c)] + (*always)[static_cast<size_t>(c)];
    return std::to_string(calls) + " calls, " + std::to_string(flags) + " channels";
  }

  TempDir dir;
};

TEST_F(ListFault, PipesAndDevicesAreNoListsAndNeverHang) {
  for (const char* name : {"callsloc.txt", "known_list.txt", "loran_lines.txt"}) {
    ASSERT_EQ(::mkfifo((dir / name).c_str(), 0644), 0);
  }
  // An endless device: reading it would never end.
  std::filesystem::create_symlink("/dev/zero", dir / "freq_list.txt");
  const std::string said = InChild(NoFault, [&] { return LoadAll(dir.path()); });
  EXPECT_EQ(said, "0 calls, 0 channels");
}

TEST_F(ListFault, UnreadableAndDanglingListsAreSkippedTheOthersStillCount) {
  WriteFile(dir / "callsloc.txt", "QA1ABC JO65HO\n");
  ::chmod((dir / "callsloc.txt").c_str(), 0);
  std::filesystem::create_symlink("gone.txt", dir / "loran_lines.txt");
  std::filesystem::create_symlink("known_list.txt", dir / "known_list.txt");  // a loop
  WriteFile(dir / "freq_list.txt", "137500.000\n");
  std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
  const std::string said = InChild(BecomeNobody, [&] { return LoadAll(dir.path()); });
  EXPECT_EQ(said, "0 calls, 1 channels");
}

TEST_F(ListFault, HugeListsStopAtTheTableSize) {
  std::string lines;
  for (int i = 0; i < 50000; ++i) {
    // Appended piece by piece: GCC 12 warns falsely about "x" + std::string.
    lines.append("Q").append(std::to_string(i)).append("X JO65HO trailing words\n");
  }
  WriteFile(dir / "callsloc.txt", lines);
  WriteFile(dir / "known_list.txt", std::string(3u << 20, 'A'));  // one 3 MB line
  EXPECT_EQ(LoadAll(dir.path()), "999 calls, 0 channels");
}

}  // namespace
}  // namespace vs32
