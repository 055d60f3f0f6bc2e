#include "config/ini_path.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "support/test_support.h"

namespace vs32 {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// An executable folder and a home folder inside one scratch folder.
struct Layout {
  TempDir dir;
  std::filesystem::path bin = dir / "bin";
  std::filesystem::path home = dir / "home";
  IniEnvironment environment;
  Layout() {
    std::filesystem::create_directories(bin);
    std::filesystem::create_directories(home);
    environment.executable = bin / "Vs32RxC";
    environment.home = home.string();
  }
};

TEST(IniPath, AnExistingFileBesideIsUsedButNoneIsMadeThere) {
  // Installed under ~/.local/bin (a writable folder): the per-user file, made there.
  Layout layout;
  IniChoice choice = ChooseIniPath("Vs32RxC", layout.environment);
  const auto perUser = layout.home / ".config" / "vs32rx" / "Vs32RxC.INI";
  EXPECT_EQ(choice.path, perUser);
  EXPECT_EQ(choice.message, "Settings file: " + perUser.string());
  EXPECT_TRUE(std::filesystem::is_directory(perUser.parent_path()));
  EXPECT_FALSE(std::filesystem::exists(layout.bin / "Vs32RxC.INI"));

  // A portable install keeps the file it has beside the program.
  WriteFile(layout.bin / "Vs32Rx.INI", "[VS-32]\n");
  choice = ChooseIniPath("Vs32Rx", layout.environment);
  EXPECT_EQ(choice.path, layout.bin / "Vs32Rx.INI");
  EXPECT_EQ(choice.message, "Settings file: " + (layout.bin / "Vs32Rx.INI").string());
}

TEST(IniPath, ProgramInASystemFolderUsesThePerUserFileEvenWhenItMayWriteThere) {
  Layout layout;
  layout.environment.executable = "/usr/bin/Vs32RxC";
  IniChoice choice = ChooseIniPath("Vs32RxC", layout.environment);
  EXPECT_EQ(choice.path, layout.home / ".config" / "vs32rx" / "Vs32RxC.INI");
}

TEST(IniPath, CommandLineThenVariableThenTheRest) {
  Layout layout;
  WriteFile(layout.bin / "Vs32RxC.INI", "[VS-32]\n");
  layout.environment.commandLine = (layout.dir / "service.ini").string();
  layout.environment.vs32Ini = (layout.dir / "station2.ini").string();
  layout.environment.xdgConfigHome = (layout.dir / "xdg").string();
  IniChoice choice = ChooseIniPath("Vs32RxC", layout.environment);
  EXPECT_EQ(choice.path, layout.dir / "service.ini");
  EXPECT_EQ(choice.message,
            "Settings file: " + (layout.dir / "service.ini").string() + " (from --config)");
  layout.environment.commandLine.reset();
  choice = ChooseIniPath("Vs32RxC", layout.environment);
  EXPECT_EQ(choice.path, layout.dir / "station2.ini");
  EXPECT_EQ(choice.message,
            "Settings file: " + (layout.dir / "station2.ini").string() + " (from VS32_INI)");
  // An empty variable counts as unset.
  layout.environment.vs32Ini = "";
  EXPECT_EQ(ChooseIniPath("Vs32RxC", layout.environment).path, layout.bin / "Vs32RxC.INI");
}

TEST(IniPath, ReadOnlyFileBesideGoesToAPerUserCopy) {
  Layout layout;
  WriteFile(layout.bin / "Vs32RxC.INI", "[VS-32]\nMYCALL=ZZ1ZZZ\n");
  ::chmod((layout.bin / "Vs32RxC.INI").c_str(), 0444);
  layout.environment.xdgConfigHome = (layout.dir / "xdg").string();
  const IniChoice choice = ChooseIniPath("Vs32RxC", layout.environment);
  const auto expected = layout.dir / "xdg" / "vs32rx" / "Vs32RxC.INI";
  EXPECT_EQ(choice.path, expected);
  EXPECT_EQ(choice.message, "Settings file: " + expected.string() + " (copied from " +
                                (layout.bin / "Vs32RxC.INI").string() + ")");
  EXPECT_EQ(ReadFile(expected), "[VS-32]\nMYCALL=ZZ1ZZZ\n");
  EXPECT_TRUE(IsWritableEntry(expected));

  // The user's own file is never overwritten by a later copy.
  WriteFile(expected, "[VS-32]\nMYCALL=ZZ2ZZZ\n");
  const IniChoice again = ChooseIniPath("Vs32RxC", layout.environment);
  EXPECT_EQ(again.message, "Settings file: " + expected.string());
  EXPECT_EQ(ReadFile(expected), "[VS-32]\nMYCALL=ZZ2ZZZ\n");
}

TEST(IniPath, ReadOnlyFolderWithoutFileUsesTheHomeConfigFolder) {
  Layout layout;
  ::chmod(layout.bin.c_str(), 0555);
  const IniChoice choice = ChooseIniPath("Vs32Rx", layout.environment);
  const auto expected = layout.home / ".config" / "vs32rx" / "Vs32Rx.INI";
  EXPECT_EQ(choice.path, expected);
  EXPECT_TRUE(std::filesystem::is_directory(expected.parent_path()));
  EXPECT_FALSE(std::filesystem::exists(expected));

  // A relative XDG_CONFIG_HOME is ignored.
  layout.environment.xdgConfigHome = "relative/config";
  EXPECT_EQ(ChooseIniPath("Vs32Rx", layout.environment).path, expected);

  // Without any home the file beside the executable is all there is.
  layout.environment.xdgConfigHome.reset();
  layout.environment.home.reset();
  const IniChoice homeless = ChooseIniPath("Vs32Rx", layout.environment);
  EXPECT_EQ(homeless.path, layout.bin / "Vs32Rx.INI");
  ::chmod(layout.bin.c_str(), 0755);
}

TEST(IniPath, WritableFileInAReadOnlyFolderIsNotUsed) {
  // Writes replace the file through its folder, so the folder must be writable too.
  Layout layout;
  WriteFile(layout.bin / "Vs32RxC.INI", "[VS-32]\n");
  ::chmod(layout.bin.c_str(), 0555);
  EXPECT_EQ(ChooseIniPath("Vs32RxC", layout.environment).path,
            layout.home / ".config" / "vs32rx" / "Vs32RxC.INI");
  ::chmod(layout.bin.c_str(), 0755);
}

TEST(IniPath, RealEnvironmentNamesThisProgram) {
  const IniEnvironment environment = CurrentIniEnvironment();
  EXPECT_EQ(environment.executable.filename(), "config_ini_path_test");
}

}  // namespace
}  // namespace vs32
