// The manual pages: each renders without a warning from groff or man, names
// its program and version as the program itself does, and documents every
// option the program's --help lists.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "release/release_support.h"

namespace vs32 {
namespace {

std::filesystem::path Page(const std::string& program) {
  return std::filesystem::path(VS32_SOURCE_DIR) / "man" / (program + ".1");
}

// The page source as a reader sees the text: groff's "\-" is a plain minus.
std::string PageText(const std::string& program) {
  std::string text = test::ReadFile(Page(program));
  return std::regex_replace(text, std::regex(R"(\\-)"), "-");
}

class ManPage : public ::testing::TestWithParam<std::string> {};

TEST_P(ManPage, RendersWithoutWarningsInGroff) {
  const std::string groff = test::FindOnPath("groff");
  if (groff.empty()) GTEST_SKIP() << "groff is not installed (Debian package groff-base)";
  ASSERT_TRUE(std::filesystem::exists(Page(GetParam()))) << Page(GetParam());
  // -ww: every warning; -z: format, print nothing.
  const auto r = test::RunCommand({groff, "-man", "-ww", "-z", Page(GetParam()).string()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
}

TEST_P(ManPage, RendersWithoutWarningsInMan) {
  const std::string man = test::FindOnPath("man");
  if (man.empty()) GTEST_SKIP() << "man is not installed (Debian package man-db)";
  const auto r = test::RunCommand({man, "--warnings", "-l", Page(GetParam()).string()}, "",
                                  {"MANWIDTH=80", "MANPAGER=cat", "PAGER=cat"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  // The rendered page starts with its title line and has the usual sections.
  EXPECT_NE(r.out.find("NAME"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("SYNOPSIS"), std::string::npos);
  EXPECT_NE(r.out.find("SEE ALSO"), std::string::npos);
}

TEST_P(ManPage, TitleCarriesTheVersionTheProgramPrints) {
  const std::string program = test::BuiltProgram(GetParam());
  if (!std::filesystem::exists(program)) GTEST_SKIP() << GetParam() << " is not built here";
  const auto version = test::RunCommand({program, "--version"}, "",
                                        {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=xcb"});
  ASSERT_EQ(version.status, 0) << version.err;
  std::string line = version.out;
  while (!line.empty() && line.back() == '\n') line.pop_back();
  std::smatch th;
  const std::string text = test::ReadFile(Page(GetParam()));
  ASSERT_TRUE(std::regex_search(text, th, std::regex(R"re(\.TH (\S+) 1 "[^"]*" "([^"]*)")re")))
      << "no .TH line";
  EXPECT_EQ(th[2].str(), line);
  // The section title is the program name in capitals.
  std::string upper = GetParam();
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(th[1].str(), upper);
}

TEST_P(ManPage, DocumentsEveryOptionOfHelp) {
  const std::string program = test::BuiltProgram(GetParam());
  if (!std::filesystem::exists(program)) GTEST_SKIP() << GetParam() << " is not built here";
  const auto help = test::RunCommand({program, "--help"}, "",
                                     {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=xcb"});
  ASSERT_EQ(help.status, 0) << help.err;
  const auto options = test::LongOptions(help.out);
  ASSERT_FALSE(options.empty()) << help.out;
  const std::string page = PageText(GetParam());
  for (const std::string& option : options) {
    EXPECT_NE(page.find(option), std::string::npos) << GetParam() << ".1 lacks " << option;
  }
}

INSTANTIATE_TEST_SUITE_P(Release, ManPage, ::testing::ValuesIn(test::ReleasePrograms()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace vs32
