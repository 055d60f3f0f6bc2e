// The decode log and the growing list files when the disk fills up or their
// folder disappears: the decode is still shown and its slot freed, the failure
// is reported, and no file the user keeps is left damaged or missing.
//
// A full disk is simulated with a file size limit (RLIMIT_FSIZE, which binds
// root too) in a child process, so that the limit never reaches the test runner.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/known_calls.h"
#include "report/decode_log.h"
#include "report/results.h"
#include "support/fault_injection.h"
#include "support/test_support.h"

namespace vs32 {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr int kNow = 1700000000;
constexpr int kChannel = 615;

// Runs `body` in a child process whose files may not grow beyond `limitBytes`.
std::string WithFileSizeLimit(rlim_t limitBytes, const std::function<std::string()>& body) {
  return test::InChild([limitBytes] { return test::LimitFileSize(limitBytes); }, body);
}

using test::FilesIn;

// A log of `lines` decode lines under its header block.
std::string LogWithLines(int lines) {
  // Appended piece by piece: GCC 12 warns falsely about "x" + std::string.
  std::string log("Q9XYZ JO01AA header\n\n");
  log.append(kConsoleLogColumns).append("\n");
  for (int i = 0; i < lines; ++i) {
    log.append("2023-11-14 22:13:20 QA")
        .append(std::to_string(i % 10))
        .append("XY 137500.00 ... older line\n");
  }
  return log;
}

TEST(DecodeLogDiskFull, NewestFirstRewriteLeavesTheOldLogWholeAndNoTemporaryFile) {
  TempDir dir;
  const std::string old = LogWithLines(200);
  ASSERT_GT(old.size(), 8000u);
  WriteFile(dir / "log.txt", old);
  const std::string said = WithFileSizeLimit(4096, [&] {
    std::string error;
    const bool ok = InsertDecodeLogLine(dir / "log.txt", "log.txt", "new line", &error);
    return std::string(ok ? "written" : "refused: ") + error;
  });
  EXPECT_EQ(said.rfind("refused: ", 0), 0u) << said;
  EXPECT_NE(said.find("File too large"), std::string::npos) << said;
  EXPECT_EQ(ReadFile(dir / "log.txt"), old);
  EXPECT_EQ(FilesIn(dir.path()), 1u);
}

TEST(DecodeLogDiskFull, AppendThatDoesNotFitLeavesNoPartOfTheLine) {
  TempDir dir;
  for (const char* name : {"log.txt", "known_list.txt"}) {
    const std::string old = LogWithLines(3);
    WriteFile(dir / name, old);
    // Room for a few bytes, not for the whole line.
    const std::string said = WithFileSizeLimit(old.size() + 4, [&] {
      std::string error;
      const bool ok = AppendTextLine(dir / name, "2023-11-14 22:13:20  Q1ABC 137500.00", &error);
      return std::string(ok ? "written" : "refused: ") + error;
    });
    EXPECT_EQ(said.rfind("refused: ", 0), 0u) << said;
    // A torn last line would read back as a different decode or callsign.
    EXPECT_EQ(ReadFile(dir / name), old) << name;
  }
}

TEST(DecodeLogDiskFull, NewLogThatCannotBeWrittenWholeIsNotLeftBehind) {
  TempDir dir;
  const std::string said = WithFileSizeLimit(10, [&] {
    std::string error;
    const LogCreation made = EnsureDecodeLog(dir / "log.txt", "a header longer than ten bytes",
                                             Program::kConsole, &error);
    return std::string(made == LogCreation::kFailed ? "failed: " : "made: ") + error;
  });
  EXPECT_EQ(said.rfind("failed: ", 0), 0u) << said;
  EXPECT_FALSE(std::filesystem::exists(dir / "log.txt"));
}

// Results processing over a log and lists that cannot take another byte.
class ResultsFault : public ::testing::Test {
 protected:
  class Output : public ResultsOutput {
   public:
    void ShowLine(std::string_view line) override { shown.emplace_back(line); }
    void WriteFailed(std::string_view reason) override { failures.emplace_back(reason); }
    std::vector<std::string> shown;
    std::vector<std::string> failures;
  };

  ResultsFault() : settings(DefaultSettings(Program::kConsole)) {
    settings.myCall = "Q9XYZ";
    settings.myLocator = "JO01AA";
    settings.logFilePath = "my_detected.txt";
    settings.useKnownCallsList = false;
    settings.callBlockSeconds = 0;
    mask.fill(0);
  }

  ResultsProcessor& Make(Program program, const std::filesystem::path& folder) {
    ResultsOptions options;
    options.folder = folder;
    processor = std::make_unique<ResultsProcessor>(program, settings, *known, mask, *slots, output,
                                                   nullptr, options);
    return *processor;
  }

  void PutSlot(const char* call, int time) {
    std::vector<double> spectrum(DecodeSlotTable::kChannels, 1.0);
    spectrum[kChannel] = 100.0;
    slots->AcceptDecode(kChannel, 2, call, 12.0f, 3, time, spectrum.data(), 5, false);
  }

  bool AllFree() const { return slots->PendingCount() == 0; }

  TempDir dir;
  ReceiverSettings settings;
  std::unique_ptr<KnownCallTable> known = std::make_unique<KnownCallTable>();
  ChannelMask mask{};
  std::unique_ptr<DecodeSlotTable> slots = std::make_unique<DecodeSlotTable>();
  Output output;
  std::unique_ptr<ResultsProcessor> processor;
};

TEST_F(ResultsFault, FullDiskStillShowsEveryDecodeAndKeepsLogAndListsIntact) {
  const std::string log = LogWithLines(150);
  WriteFile(dir / "my_detected.txt", log);
  // A station with a position: its second decode would append to freq_list.txt;
  // a call without one would grow known_list.txt on its second acceptance.
  const std::string freqList = "137400.000\n";
  const std::string knownList = "QZ9ZZ\n";
  WriteFile(dir / "freq_list.txt", freqList);
  WriteFile(dir / "known_list.txt", knownList);
  FillKnownCall(known->entries[0], "QA1ABC", "JO65HO", 500.0);
  FillKnownCall(known->entries[1], "QB1AA", "", -1);
  known->entries[1].heardCount = 1;
  known->count.store(2);

  for (Program program : {Program::kConsole, Program::kWindowed}) {
    settings.reverseOutput = program == Program::kConsole;
    output = Output();
    ResultsProcessor& results = Make(program, dir.path());
    // No file may grow past 8 bytes: each list is already at or near that size.
    const std::string said = WithFileSizeLimit(8, [&] {
      PutSlot("QA1ABC", kNow - 9);
      PutSlot("QB1AA", kNow - 9);
      PutSlot("QC9NEW", kNow - 9);
      results.Tick(kNow, 0);
      return std::to_string(output.shown.size()) + " shown, " +
             std::to_string(output.failures.size()) + " failed, " +
             (AllFree() ? "all free" : "slots left");
    });
    // The log three times, freq_list.txt and known_list.txt once each.
    EXPECT_EQ(said, "3 shown, 5 failed, all free");
  }
  EXPECT_EQ(ReadFile(dir / "my_detected.txt"), log);
  EXPECT_EQ(ReadFile(dir / "freq_list.txt"), freqList);
  EXPECT_EQ(ReadFile(dir / "known_list.txt"), knownList);
  EXPECT_EQ(FilesIn(dir.path()), 3u);
}

TEST_F(ResultsFault, LogFolderRemovedWhileRunning) {
  const std::filesystem::path logs = dir / "logs";
  settings.logFilePath = (logs / "my_detected.txt").string();
  for (Program program : {Program::kConsole, Program::kWindowed}) {
    std::filesystem::create_directory(logs);
    settings.reverseOutput = program == Program::kConsole;
    output = Output();
    ResultsProcessor& results = Make(program, dir.path());
    ASSERT_EQ(results.EnsureLog(), LogCreation::kCreated);
    // The folder goes away (a removable disk, a clean-up script).
    std::filesystem::remove_all(logs);
    PutSlot("QA1ABC", kNow - 9);
    results.Tick(kNow, 0);
    EXPECT_EQ(output.shown.size(), 1u);
    ASSERT_EQ(output.failures.size(), 1u);
    EXPECT_NE(output.failures[0].find("my_detected.txt"), std::string::npos) << output.failures[0];
    EXPECT_TRUE(AllFree());
    // Nothing is recreated in its place, and the next decode goes on the same way.
    EXPECT_FALSE(std::filesystem::exists(logs));
    PutSlot("QA1ABC", kNow + 1);
    results.Tick(kNow + 10, 0);
    EXPECT_EQ(output.shown.size(), 2u);
    EXPECT_TRUE(AllFree());
  }
}

TEST_F(ResultsFault, ListFilesThatAreFoldersDoNotStopTheDecode) {
  std::filesystem::create_directory(dir / "known_list.txt");
  std::filesystem::create_directory(dir / "freq_list.txt");
  FillKnownCall(known->entries[0], "QA1ABC", "JO65HO", 500.0);
  FillKnownCall(known->entries[1], "QB1AA", "", -1);
  known->entries[1].heardCount = 1;
  known->count.store(2);
  ResultsProcessor& results = Make(Program::kConsole, dir.path());
  PutSlot("QA1ABC", kNow - 9);
  PutSlot("QB1AA", kNow - 9);
  results.Tick(kNow, 0);
  EXPECT_EQ(output.shown.size(), 2u);
  // One failure for each list; the log itself was written.
  EXPECT_EQ(output.failures.size(), 2u);
  EXPECT_TRUE(AllFree());
  EXPECT_NE(ReadFile(dir / "my_detected.txt").find("QB1AA"), std::string::npos);
  // The learning happened in memory all the same: the channel is marked.
  EXPECT_EQ(mask[kChannel], 1);
}

TEST_F(ResultsFault, LogAndListsThatArePipesNeverBlockTheMainLoop) {
  // Opening a pipe for reading or writing waits for the other end: a main loop
  // that did so would stop showing decodes for good.
  for (const char* name : {"my_detected.txt", "known_list.txt", "freq_list.txt"}) {
    ASSERT_EQ(::mkfifo((dir / name).c_str(), 0644), 0);
  }
  FillKnownCall(known->entries[0], "QA1ABC", "JO65HO", 500.0);
  FillKnownCall(known->entries[1], "QB1AA", "", -1);
  known->entries[1].heardCount = 1;
  known->count.store(2);
  for (Program program : {Program::kConsole, Program::kWindowed}) {
    settings.reverseOutput = program == Program::kConsole;
    output = Output();
    ResultsProcessor& results = Make(program, dir.path());
    const std::string said = test::InChild(test::NoFault, [&] {
      std::string error;
      const LogCreation made = results.EnsureLog(&error);
      PutSlot("QA1ABC", kNow - 9);
      PutSlot("QB1AA", kNow - 9);
      results.Tick(kNow, 0);
      return std::string(made == LogCreation::kFailed ? "not created, " : "created, ") +
             std::to_string(output.shown.size()) + " shown, " +
             std::to_string(output.failures.size()) + " failed, " +
             (AllFree() ? "all free" : "slots left");
    });
    // The log twice, freq_list.txt and known_list.txt once each.
    EXPECT_EQ(said, "not created, 2 shown, 4 failed, all free");
  }
  for (const char* name : {"my_detected.txt", "known_list.txt", "freq_list.txt"}) {
    EXPECT_TRUE(std::filesystem::is_fifo(dir / name)) << name;
  }
}

}  // namespace
}  // namespace vs32
