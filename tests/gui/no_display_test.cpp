// The windowed program started where there is no screen: it says what to use
// instead and exits with status 1, rather than Qt's abort. A display system
// named to Qt (offscreen here, as the tests use) still opens.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace vs32::test {
namespace {

struct Start {
  const char* name;
  std::vector<std::string> env;
  std::vector<std::string> args;
  bool opens;  // the window opens: still running when the timeout ends it
};

class WithoutDisplay : public ::testing::TestWithParam<Start> {};

TEST_P(WithoutDisplay, SaysWhatToUseOrOpensTheNamedPlatform) {
  TempDir dir;
  // No display of any kind; the test environment's offscreen platform removed.
  std::vector<std::string> env = {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=",
                                  "VS32_INI=" + (dir / "Vs32Rx.INI").string()};
  env.insert(env.end(), GetParam().env.begin(), GetParam().env.end());
  std::vector<std::string> argv = {"/usr/bin/timeout", "3", BuiltProgram("Vs32Rx")};
  argv.insert(argv.end(), GetParam().args.begin(), GetParam().args.end());
  const CommandResult r = RunCommand(argv, dir.path().string(), env);
  const std::string message = "no display; use Vs32RxC for a station without a screen\n";
  if (GetParam().opens) {
    EXPECT_EQ(r.status, 124) << "not running after 3 s: " << r.err;
    EXPECT_EQ(r.err.find(message), std::string::npos) << r.err;
  } else {
    EXPECT_EQ(r.status, 1) << r.err;
    ASSERT_GE(r.err.size(), message.size()) << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - message.size()), message) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Vs32Rx, WithoutDisplay,
    ::testing::Values(Start{"NothingSet", {}, {}, false},
                      // Qt tries the X server named and fails.
                      Start{"DisplayWithoutServer", {"DISPLAY=:9173"}, {}, false},
                      Start{"PlatformThatCannotOpen", {}, {"-platform", "xcb"}, false},
                      Start{"OffscreenFromTheEnvironment", {"QT_QPA_PLATFORM=offscreen"}, {}, true},
                      Start{"OffscreenFromTheCommandLine", {}, {"-platform", "offscreen"}, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vs32::test
