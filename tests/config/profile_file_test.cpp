#include "config/profile_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>

#include "support/test_support.h"

namespace vs32 {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// ---- Reading ---------------------------------------------------------------

TEST(ProfileRead, NamesMatchWithoutRegardToCase) {
  const std::string ini = "[Vs-32]\nf_center=1600\n[SOUND]\nDevice = 3\n";
  EXPECT_EQ(FindProfileValue(ini, "VS-32", "F_CENTER"), "1600");
  EXPECT_EQ(FindProfileValue(ini, "sound", "DEVICE"), "3");
  EXPECT_EQ(FindProfileValue(ini, "SOUND", "F_CENTER"), std::nullopt);
  EXPECT_EQ(FindProfileValue(ini, "VS-32", "DEVICE"), std::nullopt);
  EXPECT_EQ(FindProfileValue(ini, "OTHER", "DEVICE"), std::nullopt);
}

TEST(ProfileRead, FirstOfDuplicatesCounts) {
  const std::string ini = "[A]\nK=1\nK=2\n[B]\nK=3\n[a]\nK=4\nJ=5\n";
  EXPECT_EQ(FindProfileValue(ini, "A", "K"), "1");
  EXPECT_EQ(FindProfileValue(ini, "B", "K"), "3");
  // Only the first section of a name is looked at.
  EXPECT_EQ(FindProfileValue(ini, "A", "J"), std::nullopt);
}

TEST(ProfileRead, ValuesAreTrimmedUnquotedAndCut) {
  const std::string ini =
      "[S]\n  KEY1 \t=  two words  \r\nKEY2=\"  quoted  \"\nKEY3='x'\nKEY4=\"open\nKEY5=\n"
      "KEY6=a=b\nKEY7=" +
      std::string(5000, 'v') + "\n";
  EXPECT_EQ(FindProfileValue(ini, "S", "KEY1"), "two words");
  EXPECT_EQ(FindProfileValue(ini, "S", "KEY2"), "  quoted  ");
  EXPECT_EQ(FindProfileValue(ini, "S", "KEY3"), "x");
  EXPECT_EQ(FindProfileValue(ini, "S", "KEY4"), "\"open");
  EXPECT_EQ(FindProfileValue(ini, "S", "KEY5"), "");
  EXPECT_EQ(FindProfileValue(ini, "S", "KEY6"), "a=b");
  EXPECT_EQ(FindProfileValue(ini, "S", "KEY7"), std::string(kProfileValueMax, 'v'));
}

TEST(ProfileRead, OddLinesDoNotMatch) {
  const std::string ini =
      "K=outside\n; comment\n[ S ]\n;K=commented\nno equals sign\n=empty key\nK=inside\n";
  EXPECT_EQ(FindProfileValue(ini, "S", "K"), "inside");
  EXPECT_EQ(FindProfileValue("\xEF\xBB\xBF[S]\r\nK=bom\r\n", "S", "K"), "bom");
  EXPECT_EQ(FindProfileValue("[S]\nK=last", "S", "K"), "last");
  EXPECT_EQ(FindProfileValue("", "S", "K"), std::nullopt);
}

// ---- Writing (text) ----------------------------------------------------------

TEST(ProfileWrite, UpdatesInPlaceKeepingEveryOtherByte) {
  const std::string ini =
      "; top comment\r\n[VS-32]\r\nF_CENTER = 300 \r\n; inner\r\nMYCALL=ZZ1ZZ\r\n\r\n[SOUND]\r\n"
      "DEVICE=-1\r\n";
  EXPECT_EQ(SetProfileValue(ini, "vs-32", "F_CENTER", "400"),
            "; top comment\r\n[VS-32]\r\nF_CENTER=400\r\n; inner\r\nMYCALL=ZZ1ZZ\r\n\r\n"
            "[SOUND]\r\nDEVICE=-1\r\n");
  // Only the first of duplicate keys changes.
  EXPECT_EQ(SetProfileValue("[S]\nK=1\nK=2\n", "S", "K", "9"), "[S]\nK=9\nK=2\n");
}

TEST(ProfileWrite, NewKeyGoesAfterTheLastLineOfItsSection) {
  const std::string ini = "[VS-32]\nA=1\n; note\n\n\n[SOUND]\nDEVICE=-1\n";
  EXPECT_EQ(SetProfileValue(ini, "VS-32", "B", "2"),
            "[VS-32]\nA=1\n; note\nB=2\n\n\n[SOUND]\nDEVICE=-1\n");
  EXPECT_EQ(SetProfileValue("[S]\r\n", "S", "K", "v"), "[S]\r\nK=v\r\n");
  // An unterminated last line gets the file's line ending before the new key.
  EXPECT_EQ(SetProfileValue("[S]\r\nA=1", "S", "K", "v"), "[S]\r\nA=1\r\nK=v\r\n");
}

TEST(ProfileWrite, NewSectionGoesAtTheEnd) {
  EXPECT_EQ(SetProfileValue("", "S", "K", "v"), "[S]\nK=v\n");
  EXPECT_EQ(SetProfileValue("[A]\nX=1\n", "S", "K", "v"), "[A]\nX=1\n\n[S]\nK=v\n");
  EXPECT_EQ(SetProfileValue("[A]\r\nX=1", "S", "K", "v"), "[A]\r\nX=1\r\n\r\n[S]\r\nK=v\r\n");
  EXPECT_EQ(SetProfileValue("[A]\nX=1\n\n", "S", "K", "v"), "[A]\nX=1\n\n[S]\nK=v\n");
  // A key outside any section is no section of that name.
  EXPECT_EQ(SetProfileValue("K=stray\n", "S", "K", "v"), "K=stray\n\n[S]\nK=v\n");
}

TEST(ProfileWrite, GarbageAndLongLinesSurvive) {
  std::mt19937 random(5);
  std::string garbage(20000, '\0');
  for (char& c : garbage) c = static_cast<char>(random());
  const std::string longLine = "[S]\nJUNK=" + std::string(1 << 20, 'x') + "\n";
  for (const std::string& content : {garbage, longLine}) {
    const std::string updated = SetProfileValue(content, "NEW", "K", "v");
    EXPECT_EQ(updated.compare(0, content.size(), content), 0);
    EXPECT_EQ(FindProfileValue(updated, "NEW", "K"), "v");
  }
}

// ---- Files -----------------------------------------------------------------

TEST(ProfileFile, MissingFileReadsDefaultsAndIsCreatedWithLf) {
  TempDir dir;
  ProfileFile file(dir / "A.INI");
  EXPECT_EQ(file.ReadString("S", "K", "dflt"), "dflt");
  std::string error;
  ASSERT_TRUE(file.WriteString("S", "K", "v", &error)) << error;
  ASSERT_TRUE(file.WriteString("S", "L", "w", &error)) << error;
  ASSERT_TRUE(file.WriteString("T", "M", "", &error)) << error;
  EXPECT_EQ(ReadFile(dir / "A.INI"), "[S]\nK=v\nL=w\n\n[T]\nM=\n");
  EXPECT_EQ(file.ReadString("s", "k", "dflt"), "v");
  EXPECT_EQ(file.ReadString("T", "M", "dflt"), "");
}

TEST(ProfileFile, WritesReplaceTheFileAndLeaveNoTemporaryFiles) {
  TempDir dir;
  const auto path = dir / "A.INI";
  WriteFile(path, "; mine\r\n[S]\r\nK=1\r\n");
  ::chmod(path.c_str(), 0640);
  struct stat before {};
  ::stat(path.c_str(), &before);
  ProfileFile file(path);
  ASSERT_TRUE(file.WriteString("S", "K", "2"));
  EXPECT_EQ(ReadFile(path), "; mine\r\n[S]\r\nK=2\r\n");
  struct stat after {};
  ::stat(path.c_str(), &after);
  EXPECT_NE(before.st_ino, after.st_ino) << "expected a new file renamed into place";
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    (void)entry;
    ++entries;
  }
  EXPECT_EQ(entries, 1);

  // Writing the value the file already holds does not touch it.
  ASSERT_TRUE(file.WriteString("S", "K", "2"));
  struct stat again {};
  ::stat(path.c_str(), &again);
  EXPECT_EQ(again.st_ino, after.st_ino);
}

TEST(ProfileFile, FailedWritesReportAndChangeNothing) {
  TempDir dir;
  const auto path = dir / "A.INI";
  const std::string original = "[S]\nK=1\n";
  WriteFile(path, original);
  ::chmod(path.c_str(), 0444);
  ProfileFile file(path);
  std::string error;
  EXPECT_FALSE(file.WriteString("S", "K", "2", &error));
  EXPECT_EQ(error, "Permission denied");
  EXPECT_FALSE(file.WriteString("S", "NEW", "2", &error));
  EXPECT_EQ(ReadFile(path), original);
  EXPECT_EQ(file.ReadString("S", "K", ""), "1");

  ProfileFile noFolder(dir / "missing" / "A.INI");
  EXPECT_FALSE(noFolder.WriteString("S", "K", "2", &error));
  EXPECT_EQ(error, "No such file or directory");

  std::filesystem::create_directory(dir / "D.INI");
  ProfileFile folder(dir / "D.INI");
  EXPECT_FALSE(folder.WriteString("S", "K", "2", &error));
  EXPECT_EQ(folder.ReadString("S", "K", "dflt"), "dflt");

  // A value that would break the line structure is refused.
  ::chmod(path.c_str(), 0644);
  EXPECT_FALSE(file.WriteString("S", "K", "1\n[EVIL]\nX=1", &error));
  EXPECT_FALSE(file.WriteString("S", "K=", "1", &error));
  EXPECT_FALSE(file.WriteString("S]", "K", "1", &error));
  EXPECT_EQ(ReadFile(path), original);
}

TEST(ProfileFile, WritesThroughASymbolicLink) {
  TempDir dir;
  WriteFile(dir / "real.INI", "[S]\nK=1\n");
  std::filesystem::create_symlink("real.INI", dir / "link.INI");
  ProfileFile file(dir / "link.INI");
  ASSERT_TRUE(file.WriteString("S", "K", "2"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.INI"));
  EXPECT_EQ(ReadFile(dir / "real.INI"), "[S]\nK=2\n");
}

TEST(ProfileFile, OversizedFileIsNotParsed) {
  TempDir dir;
  const auto path = dir / "A.INI";
  WriteFile(path, "[S]\nK=1\n" + std::string(kProfileFileMaxBytes, ';'));
  ProfileFile file(path);
  EXPECT_EQ(file.ReadString("S", "K", "dflt"), "dflt");
  std::string error;
  EXPECT_FALSE(file.WriteString("S", "K", "2", &error));
  EXPECT_EQ(error, "file too large");
}

}  // namespace
}  // namespace vs32
