#include "report/decode_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/test_support.h"

namespace vs32 {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

const std::string kWindowedColumns =
    "   DATE     TIME     CALL    FREQ       QRB     Eb/No   SNR\n";
const std::string kConsoleColumns =
    "   DATE     TIME     CALL    FREQ      QRB     Eb/No\t  SNR\tDEC   U\n";

// Files in the folder other than the ones named (left-over temporary files).
int OtherFiles(const std::filesystem::path& folder, const std::string& keep) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().filename() != keep) ++count;
  }
  return count;
}

TEST(DecodeLogCreation, MissingLogGetsHeaderAndTheProgramsColumns) {
  TempDir dir;
  std::string error;
  EXPECT_EQ(EnsureDecodeLog(dir / "w.txt", "ZZ1ZZ JO65HO header", Program::kWindowed, &error),
            LogCreation::kCreated);
  EXPECT_EQ(ReadFile(dir / "w.txt"), "ZZ1ZZ JO65HO header\n\n" + kWindowedColumns);
  EXPECT_EQ(EnsureDecodeLog(dir / "c.txt", "console header", Program::kConsole, &error),
            LogCreation::kCreated);
  EXPECT_EQ(ReadFile(dir / "c.txt"), "console header\n\n" + kConsoleColumns);
}

TEST(DecodeLogCreation, ExistingLogIsLeftUntouchedEvenWhenEmpty) {
  TempDir dir;
  WriteFile(dir / "log.txt", "old content\n");
  WriteFile(dir / "empty.txt", "");
  EXPECT_EQ(EnsureDecodeLog(dir / "log.txt", "new", Program::kConsole), LogCreation::kExists);
  EXPECT_EQ(EnsureDecodeLog(dir / "empty.txt", "new", Program::kConsole), LogCreation::kExists);
  EXPECT_EQ(ReadFile(dir / "log.txt"), "old content\n");
  EXPECT_EQ(ReadFile(dir / "empty.txt"), "");
}

TEST(DecodeLogCreation, UnusableNamesAreReportedNotCreated) {
  TempDir dir;
  std::filesystem::create_directory(dir / "adir");
  std::string error;
  EXPECT_EQ(EnsureDecodeLog(dir / "adir", "h", Program::kWindowed, &error), LogCreation::kFailed);
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
  error.clear();
  EXPECT_EQ(EnsureDecodeLog(dir / "missing" / "log.txt", "h", Program::kWindowed, &error),
            LogCreation::kFailed);
  EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
}

TEST(DecodeLogAppend, AppendsLinesInOrderAndCreatesAMissingFileWithoutHeader) {
  TempDir dir;
  EXPECT_TRUE(AppendTextLine(dir / "log.txt", "first"));
  EXPECT_TRUE(AppendTextLine(dir / "log.txt", "second\tx"));
  EXPECT_EQ(ReadFile(dir / "log.txt"), "first\nsecond\tx\n");
}

TEST(DecodeLogAppend, FailureIsReported) {
  TempDir dir;
  std::filesystem::create_directory(dir / "adir");
  std::string error;
  EXPECT_FALSE(AppendTextLine(dir / "adir", "line", &error));
  EXPECT_FALSE(error.empty());
}

TEST(DecodeLogInsert, NewLineGoesRightUnderTheHeaderBlock) {
  TempDir dir;
  const std::string header = "head\n\n" + kWindowedColumns;
  WriteFile(dir / "log.txt", header + "older\noldest\n");
  ASSERT_TRUE(InsertDecodeLogLine(dir / "log.txt", "log.txt", "newest"));
  EXPECT_EQ(ReadFile(dir / "log.txt"), header + "newest\nolder\noldest\n");
  EXPECT_EQ(OtherFiles(dir.path(), "log.txt"), 0);
}

TEST(DecodeLogInsert, ExactlyThreeLineEndsAndALongLogCopyIntact) {
  TempDir dir;
  const std::string header = "h\n\nc\n";
  WriteFile(dir / "three.txt", header);
  ASSERT_TRUE(InsertDecodeLogLine(dir / "three.txt", "three.txt", "L"));
  EXPECT_EQ(ReadFile(dir / "three.txt"), header + "L\n");

  // Larger than the copy buffer, with the header ends straddling nothing special
  // and a last line without its line feed.
  std::string body;
  for (int i = 0; i < 20000; ++i) body += "2024-01-01 00:00:00 ZZ" + std::to_string(i) + "\n";
  body += "tail without line end";
  WriteFile(dir / "big.txt", header + body);
  ASSERT_TRUE(InsertDecodeLogLine(dir / "big.txt", "big.txt", "NEW"));
  EXPECT_EQ(ReadFile(dir / "big.txt"), header + "NEW\n" + body);
}

TEST(DecodeLogInsert, MissingOrEmptyLogGetsTheNameHeaderBlock) {
  TempDir dir;
  const std::filesystem::path missing = dir / "missing.txt";
  ASSERT_TRUE(InsertDecodeLogLine(missing, "my_detected.txt", "line one"));
  EXPECT_EQ(ReadFile(missing), "my_detected.txt\n\n" + kWindowedColumns + "line one\n");

  WriteFile(dir / "empty.txt", "");
  ASSERT_TRUE(InsertDecodeLogLine(dir / "empty.txt", "empty.txt", "line"));
  EXPECT_EQ(ReadFile(dir / "empty.txt"), "empty.txt\n\n" + kWindowedColumns + "line\n");
}

TEST(DecodeLogInsert, ShortLogLeavesNoStaleBytes) {
  TempDir dir;
  // Two line ends only, and longer than the header block that replaces it.
  const std::string old = std::string(300, 'x') + "\n" + std::string(300, 'y') + "\nzzzz";
  WriteFile(dir / "log.txt", old);
  ASSERT_TRUE(InsertDecodeLogLine(dir / "log.txt", "log.txt", "new"));
  EXPECT_EQ(ReadFile(dir / "log.txt"), "log.txt\n\n" + kWindowedColumns + "new\n");
  EXPECT_EQ(OtherFiles(dir.path(), "log.txt"), 0);
}

TEST(DecodeLogInsert, KeepsPermissionsAndFollowsASymbolicLink) {
  TempDir dir;
  const std::string header = "h\n\nc\n";
  WriteFile(dir / "real.txt", header + "a\n");
  std::filesystem::permissions(dir / "real.txt", std::filesystem::perms(0640));
  std::filesystem::create_symlink("real.txt", dir / "link.txt");
  ASSERT_TRUE(InsertDecodeLogLine(dir / "link.txt", "link.txt", "b"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.txt"));
  EXPECT_EQ(ReadFile(dir / "real.txt"), header + "b\na\n");
  EXPECT_EQ(std::filesystem::status(dir / "real.txt").permissions(), std::filesystem::perms(0640));
}

TEST(DecodeLogInsert, LogThatIsADirectoryFailsCleanly) {
  TempDir dir;
  std::filesystem::create_directory(dir / "log.txt");
  std::string error;
  EXPECT_FALSE(InsertDecodeLogLine(dir / "log.txt", "log.txt", "line", &error));
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
  EXPECT_TRUE(std::filesystem::is_directory(dir / "log.txt"));
  EXPECT_EQ(OtherFiles(dir.path(), "log.txt"), 0);
}

// Runs `body` where writing into a read-only folder really fails: as an
// unprivileged user when the tests run as root. The child's exit status is 0
// when `body` returned true.
template <typename Body>
bool RunWithoutPrivileges(Body body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
    ::_exit(body() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(DecodeLogInsert, ReadOnlyFolderLeavesTheOldLogIntact) {
  TempDir dir;
  const std::filesystem::path folder = dir / "ro";
  std::filesystem::create_directory(folder);
  const std::string old = "h\n\nc\nolder\n";
  WriteFile(folder / "log.txt", old);
  std::filesystem::permissions(folder / "log.txt", std::filesystem::perms(0644));
  std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
  std::filesystem::permissions(folder, std::filesystem::perms(0555));

  const bool childSawFailure = RunWithoutPrivileges([&] {
    std::string error;
    const bool ok = InsertDecodeLogLine(folder / "log.txt", "log.txt", "new", &error);
    return !ok && error.find("temporary") != std::string::npos;
  });
  std::filesystem::permissions(folder, std::filesystem::perms(0755));
  EXPECT_TRUE(childSawFailure);
  EXPECT_EQ(ReadFile(folder / "log.txt"), old);
  EXPECT_EQ(OtherFiles(folder, "log.txt"), 0);
}

}  // namespace
}  // namespace vs32
