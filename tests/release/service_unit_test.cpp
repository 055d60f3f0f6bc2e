// The systemd user unit that runs Vs32RxC as a service: systemd itself finds
// nothing wrong with it (pointed at this build's program), and it restarts the
// receiver on failure from the user's data folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "release/release_support.h"

namespace vs32 {
namespace {

TEST(ServiceUnit, SystemdVerifiesItAndItRestartsTheReceiverOnFailure) {
  const std::filesystem::path unit =
      std::filesystem::path(VS32_BIN_DIR) / "packaging" / "vs32rxc.service";
  ASSERT_TRUE(std::filesystem::exists(unit));
  const std::string text = test::ReadFile(unit);
  EXPECT_NE(text.find("\nExecStart=Vs32RxC --lines\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nRestart=on-failure\n"), std::string::npos);
  EXPECT_NE(text.find("\nWorkingDirectory=%h/.local/share/vs32rx\n"), std::string::npos);
  EXPECT_NE(text.find("\nWantedBy=default.target\n"), std::string::npos);
  // A watchdog only for a program that pings it.
  EXPECT_EQ(text.find("\nType=notify\n") != std::string::npos,
            text.find("\nWatchdogSec=") != std::string::npos);

  const std::string analyze = test::FindOnPath("systemd-analyze");
  if (analyze.empty()) GTEST_SKIP() << "systemd-analyze is not installed (Debian package systemd)";
  test::TempDir dir;
  const auto copy = dir / "vs32rxc.service";
  test::WriteFile(copy, std::regex_replace(text, std::regex("\nExecStart=Vs32RxC"),
                                           "\nExecStart=" + test::BuiltProgram("Vs32RxC")));
  const auto r = test::RunCommand({analyze, "verify", "--man=no", copy.string()});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  // Bad values are only warned about: there must be none.
  EXPECT_EQ(r.out + r.err, "");
}

}  // namespace
}  // namespace vs32
