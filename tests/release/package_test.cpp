// The Debian package (`make package`): cpack builds it from this build tree
// (a few seconds; nothing is compiled); its control data names the runtime
// libraries; it holds the programs, manual pages, menu entry, icon and
// example under /usr and nothing else; and it installs into a throw-away dpkg
// root whose package list is this machine's, so that every dependency it
// declares must be met by an installed package.
//
// One test program builds the package once and checks it in one test: CTest
// runs every test in a process of its own, and three package builds in the
// same build tree at once would only cost time.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <regex>
#include <sstream>
#include <string>

#include "release/release_support.h"

namespace vs32 {
namespace {

namespace fs = std::filesystem;

class DebianPackage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    cpack_ = test::BuildTool("CMAKE_CPACK_COMMAND", "cpack");
    dpkgDeb_ = test::FindOnPath("dpkg-deb");
    if (cpack_.empty() || dpkgDeb_.empty()) {
      skip_ = "cpack or dpkg-deb is not installed (Debian packages cmake, dpkg)";
      return;
    }
    const fs::path config = fs::path(VS32_BIN_DIR) / "CPackConfig.cmake";
    if (!fs::exists(config)) {
      skip_ = "this build has no package configuration";
      return;
    }
    out_ = new test::TempDir;
    build_ = new test::CommandResult(test::RunCommand(
        {cpack_, "-G", "DEB", "--config", config.string(), "-B", out_->path().string()},
        out_->path().string()));
    for (const auto& entry : fs::directory_iterator(out_->path())) {
      if (entry.path().extension() == ".deb") deb_ = entry.path();
    }
  }
  static void TearDownTestSuite() {
    delete build_;
    build_ = nullptr;
    delete out_;
    out_ = nullptr;
  }
  void SetUp() override {
    if (!skip_.empty()) GTEST_SKIP() << skip_;
    ASSERT_EQ(build_->status, 0) << build_->out << build_->err;
    ASSERT_FALSE(deb_.empty()) << build_->out;
  }

  static std::string Field(const std::string& name) {
    auto r = test::RunCommand({dpkgDeb_, "-f", deb_.string(), name});
    while (!r.out.empty() && r.out.back() == '\n') r.out.pop_back();
    return r.out;
  }

  static void CheckControl();
  static void CheckContents();
  static void CheckInstall();

  static std::string cpack_, dpkgDeb_, skip_;
  static test::TempDir* out_;
  static test::CommandResult* build_;
  static fs::path deb_;
};

std::string DebianPackage::cpack_, DebianPackage::dpkgDeb_, DebianPackage::skip_;
test::TempDir* DebianPackage::out_ = nullptr;
test::CommandResult* DebianPackage::build_ = nullptr;
fs::path DebianPackage::deb_;

void DebianPackage::CheckControl() {
  EXPECT_EQ(Field("Package"), "vs32rx");
  EXPECT_EQ(Field("Version"), "1.4-1");
  EXPECT_EQ(Field("Section"), "hamradio");
  const std::string dpkg = test::FindOnPath("dpkg");
  if (!dpkg.empty()) {
    auto arch = test::RunCommand({dpkg, "--print-architecture"});
    while (!arch.out.empty() && arch.out.back() == '\n') arch.out.pop_back();
    EXPECT_EQ(Field("Architecture"), arch.out);
    EXPECT_EQ(deb_.filename().string(), "vs32rx_1.4-1_" + arch.out + ".deb");
  }
  // The sound library always; the window's toolkit when the window was built.
  const std::string depends = Field("Depends");
  EXPECT_TRUE(std::regex_search(depends, std::regex(R"((^|, )libportaudio2( |,|$))"))) << depends;
  const bool windowed = fs::exists(test::BuiltProgram("Vs32Rx"));
  EXPECT_EQ(std::regex_search(depends, std::regex(R"((^|, )libqt6widgets6( |,|$))")), windowed)
      << depends;
  EXPECT_FALSE(Field("Maintainer").empty());
  EXPECT_FALSE(Field("Description").empty());
}

void DebianPackage::CheckContents() {
  const auto listing = test::RunCommand({dpkgDeb_, "-c", deb_.string()});
  ASSERT_EQ(listing.status, 0) << listing.err;
  // "mode owner size date time ./path"
  std::set<std::string> files;
  std::istringstream in(listing.out);
  std::string line;
  while (std::getline(in, line)) {
    const size_t at = line.find(" ./");
    ASSERT_NE(at, std::string::npos) << line;
    std::string path = line.substr(at + 2);
    EXPECT_EQ(path.rfind("/usr/", 0), 0u) << path;
    EXPECT_EQ(line.find(" root/root "), 10u) << line;
    if (path.back() != '/') files.insert(path);
  }
  std::set<std::string> expected = {
      "/usr/share/doc/vs32rx/README.md",
      "/usr/share/doc/vs32rx/examples/callsloc.txt",
      "/usr/share/doc/vs32rx/examples/freq_list.txt",
      "/usr/share/doc/vs32rx/examples/loran_lines.txt",
      "/usr/share/doc/vs32rx/examples/station.INI",
  };
  for (const std::string& program : test::BuiltReleasePrograms()) {
    expected.insert("/usr/bin/" + program);
    expected.insert("/usr/share/man/man1/" + program + ".1.gz");
  }
  if (fs::exists(test::BuiltProgram("Vs32RxC"))) {
    expected.insert("/usr/lib/systemd/user/vs32rxc.service");
  }
  if (fs::exists(test::BuiltProgram("Vs32Rx"))) {
    expected.insert("/usr/share/applications/vs32rx.desktop");
    expected.insert("/usr/share/icons/hicolor/scalable/apps/vs32rx.svg");
  }
  for (const std::string& file : expected) {
    EXPECT_EQ(files.count(file), 1u) << "missing " << file;
  }
  for (const std::string& file : files) {
    if (file.rfind("/usr/share/doc/vs32rx/", 0) == 0) continue;  // guide pictures
    EXPECT_EQ(expected.count(file), 1u) << "unexpected " << file;
  }
}

void DebianPackage::CheckInstall() {
  const std::string dpkg = test::FindOnPath("dpkg");
  const fs::path status("/var/lib/dpkg/status");
  if (dpkg.empty() || !fs::exists(status)) {
    std::printf("no dpkg database on this machine: install not tried\n");
    return;
  }

  // A dpkg root that knows this machine's installed packages (their file
  // lists empty), so dependencies are checked for real and nothing is forced.
  test::TempDir root;
  const fs::path admin = root.path() / "var" / "lib" / "dpkg";
  fs::create_directories(admin / "info");
  fs::create_directories(admin / "updates");
  fs::copy_file(status, admin / "status");
  for (const auto& entry : fs::directory_iterator("/var/lib/dpkg/info")) {
    if (entry.path().extension() == ".list")
      test::WriteFile(admin / "info" / entry.path().filename(), "");
  }
  const auto install =
      test::RunCommand({dpkg, "--root=" + root.path().string(), "--force-not-root",
                        "--force-script-chrootless", "--log=/dev/null", "-i", deb_.string()});
  ASSERT_EQ(install.status, 0) << install.out << install.err;
  const auto state = test::RunCommand({dpkg, "--root=" + root.path().string(), "-s", "vs32rx"});
  EXPECT_NE(state.out.find("Status: install ok installed"), std::string::npos) << state.out;

  for (const std::string& program : test::BuiltReleasePrograms()) {
    const auto version =
        test::RunCommand({(root.path() / "usr" / "bin" / program).string(), "--version"}, "",
                         {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=xcb"});
    EXPECT_EQ(version.status, 0) << program << ": " << version.err;
    EXPECT_EQ(version.out, program + " 1.4\n");
  }
}

TEST_F(DebianPackage, DeclaresItsLibrariesHoldsTheReleaseFilesAndInstalls) {
  {
    SCOPED_TRACE("control data");
    CheckControl();
  }
  {
    SCOPED_TRACE("contents");
    CheckContents();
  }
  {
    SCOPED_TRACE("installation into a throw-away root");
    CheckInstall();
  }
}

}  // namespace
}  // namespace vs32
