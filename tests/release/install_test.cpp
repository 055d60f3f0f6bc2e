// `cmake --install` into a scratch prefix: the four programs, manual pages,
// menu entry, icon and station example land where they belong; the installed
// programs answer --version and --help without a terminal or a display; and an
// installed console receiver started for the first time keeps its settings in
// the per-user folder and its log in the current folder, and says where the
// settings file is.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "config/profile_file.h"
#include "config/settings.h"
#include "console/pty_process.h"
#include "release/release_support.h"

namespace vs32 {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// No display of any kind: a program that tried to open one would fail.
const std::vector<std::string> kNoDisplay = {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=xcb"};

class Installed : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    prefix_ = new test::TempDir;
    const std::string cmake = test::BuildTool("CMAKE_COMMAND", "cmake");
    if (cmake.empty()) return;
    install_ = new test::CommandResult(
        test::RunCommand({cmake, "--install", VS32_BIN_DIR, "--prefix", prefix_->path().string()}));
  }
  static void TearDownTestSuite() {
    // The bin folder may have been made read-only by a test.
    std::error_code ec;
    fs::permissions(Bin(), fs::perms::owner_all, fs::perm_options::add, ec);
    delete install_;
    install_ = nullptr;
    delete prefix_;
    prefix_ = nullptr;
  }
  void SetUp() override {
    if (install_ == nullptr) GTEST_SKIP() << "cmake was not found";
    ASSERT_EQ(install_->status, 0) << install_->out << install_->err;
  }

  static fs::path Bin() { return prefix_->path() / "bin"; }
  static fs::path Share() { return prefix_->path() / "share"; }

  static test::TempDir* prefix_;
  static test::CommandResult* install_;
};

test::TempDir* Installed::prefix_ = nullptr;
test::CommandResult* Installed::install_ = nullptr;

TEST_F(Installed, EveryBuiltProgramAnswersVersionAndHelp) {
  const auto built = test::BuiltReleasePrograms();
  // The console program and the two tools are always part of a build.
  ASSERT_GE(built.size(), 3u);
  for (const std::string& program : built) {
    const fs::path installed = Bin() / program;
    ASSERT_TRUE(fs::exists(installed)) << installed;

    const auto version = test::RunCommand({installed.string(), "--version"}, "", kNoDisplay);
    EXPECT_EQ(version.status, 0) << program << ": " << version.err;
    EXPECT_EQ(version.out, program + " 1.4\n");

    const auto help = test::RunCommand({installed.string(), "--help"}, "", kNoDisplay);
    EXPECT_EQ(help.status, 0) << program << ": " << help.err;
    EXPECT_NE(help.out.find(program), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("--version"), std::string::npos) << help.out;
    // Answered before any screen handling: no escape sequences.
    EXPECT_EQ(help.out.find('\x1b'), std::string::npos) << program;
  }
}

TEST_F(Installed, ManualPagesMenuEntryIconAndExample) {
  for (const std::string& program : test::BuiltReleasePrograms()) {
    const fs::path man = Share() / "man" / "man1" / (program + ".1");
    EXPECT_TRUE(fs::exists(man.string() + ".gz") || fs::exists(man)) << man;
  }
  const bool windowed = fs::exists(test::BuiltProgram("Vs32Rx"));
  EXPECT_EQ(fs::exists(Share() / "applications" / "vs32rx.desktop"), windowed);
  EXPECT_EQ(fs::exists(Share() / "icons" / "hicolor" / "scalable" / "apps" / "vs32rx.svg"),
            windowed);
  if (windowed) {
    // The entry starts the installed program under the application's title,
    // with the installed icon.
    const std::string entry = test::ReadFile(Share() / "applications" / "vs32rx.desktop");
    EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_NE(entry.find("\nName=VS-32 RX\n"), std::string::npos);
    EXPECT_NE(entry.find("\nExec=Vs32Rx\n"), std::string::npos);
    EXPECT_NE(entry.find("\nIcon=vs32rx\n"), std::string::npos);
    EXPECT_NE(entry.find("\nType=Application\n"), std::string::npos);
  }
  const fs::path doc = Share() / "doc" / "vs32rx";
  EXPECT_TRUE(fs::exists(doc / "README.md"));
  for (const char* file : {"callsloc.txt", "freq_list.txt", "loran_lines.txt", "station.INI"}) {
    EXPECT_TRUE(fs::exists(doc / "examples" / file)) << file;
  }
  // Only the release's programs: no build helpers, tests or benchmarks.
  for (const auto& entry : fs::directory_iterator(Bin())) {
    const std::string name = entry.path().filename().string();
    EXPECT_NE(std::find(test::ReleasePrograms().begin(), test::ReleasePrograms().end(), name),
              test::ReleasePrograms().end())
        << "unexpected " << name;
  }
}

// An installed program cannot write its own folder: the bin folder is made
// read-only (its mode bits, which the program honours also for root).
class FirstRun : public Installed {
 protected:
  void SetUp() override {
    Installed::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    fs::permissions(Bin(),
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    fs::create_directory(home.path() / "station");
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(Bin(), fs::perms::owner_write, fs::perm_options::add, ec);
  }
  std::vector<std::string> Env() const {
    return {"VS32_INI=", "HOME=" + home.path().string(),
            "XDG_CONFIG_HOME=" + (home.path() / "config").string()};
  }
  fs::path UserIni() const { return home.path() / "config" / "vs32rx" / "Vs32RxC.INI"; }
  fs::path Station() const { return home.path() / "station"; }

  test::TempDir home;
};

TEST_F(FirstRun, ConsoleKeepsSettingsPerUserAndSaysWhere) {
  const auto r = test::RunCommand({(Bin() / "Vs32RxC").string()}, Station().string(), Env());
  // No call and locator yet: the program stops at once (no terminal to wait
  // on), as a failure a service manager sees.
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.out.find("Settings file: " + UserIni().string()), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("Please set Your CALL and QTH"), std::string::npos) << r.err;

  // The per-user file holds every key the console program reads.
  ASSERT_TRUE(fs::exists(UserIni()));
  const std::string ini = test::ReadFile(UserIni());
  for (const SettingKey* key : StartupKeys(Program::kConsole)) {
    EXPECT_TRUE(FindProfileValue(ini, key->section, key->key).has_value()) << key->key;
  }
  EXPECT_FALSE(fs::exists(Bin() / "Vs32RxC.INI"));
  // Nothing is started without a station: no log yet.
  EXPECT_FALSE(fs::exists(Station() / "my_detected.txt"));
}

TEST_F(FirstRun, ConsoleWritesItsLogInTheCurrentFolder) {
  fs::create_directories(UserIni().parent_path());
  test::WriteFile(UserIni(), "[VS-32]\nMYCALL=Q9XYZ\nMYQTH=JO01AA\n[PSKREPORTER]\nUPLOAD_SPOT=0\n");
  // A recording of the wrong rate ends the run right after start-up, which
  // has created the log by then.
  const std::string gen = test::BuiltProgram("vs32gen");
  const auto made = test::RunCommand(
      {gen, "-o", (Station() / "wide.wav").string(), "--rate", "48000", "--duration", "2"});
  ASSERT_EQ(made.status, 0) << made.err;
  const auto r =
      test::RunCommand({(Bin() / "Vs32RxC").string(), "wide.wav"}, Station().string(), Env());
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("WAV-file must be 12000 sps, 16 bit!"), std::string::npos) << r.err;
  ASSERT_TRUE(fs::exists(Station() / "my_detected.txt"));
  EXPECT_EQ(test::ReadFile(Station() / "my_detected.txt")
                .rfind("Q9XYZ JO01AA Vesta-32 decoded (Vs32RxC ZZ0ZZZ software)\n\n", 0),
            0u);
  EXPECT_FALSE(fs::exists(home.path() / "config" / "vs32rx" / "my_detected.txt"));
}

TEST_F(FirstRun, ConsoleOnATerminalShowsTheSettingsFileWithTheMissingCall) {
  test::PtyProcess p;
  ASSERT_TRUE(p.Start({(Bin() / "Vs32RxC").string()}, Station().string(), Env()));
  ASSERT_TRUE(p.WaitForRow(5, "Please set", 20s)) << p.screen().Text();
  // Whatever the sound device said on the message row before, the file to
  // edit is named right above the request.
  EXPECT_EQ(p.screen().Row(4), "Settings file: " + UserIni().string());
  p.Type("q");
  EXPECT_EQ(p.WaitExit(10s), 1);
}

}  // namespace
}  // namespace vs32
