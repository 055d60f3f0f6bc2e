// Case-insensitive matching of ASCII text: the letters fold, nothing else does
// (the neighbours of the letters and non-ASCII bytes match only themselves).
#include "config/ascii_case.h"

#include <gtest/gtest.h>

#include <string_view>

namespace vs32 {
namespace {

struct CaseMatch {
  std::string_view a;
  std::string_view b;
  bool equal;     // EqualIgnoringAsciiCase(a, b)
  bool contains;  // ContainsIgnoringAsciiCase(a, b)
};

TEST(AsciiCase, OnlyTheLettersFold) {
  constexpr CaseMatch kCases[] = {
      {"", "", true, true},
      {"PskReporter", "PSKREPORTER", true, true},
      {"g4abc", "G4ABC", true, true},
      {"[@", "{`", false, false},              // one step beyond Z and before a
      {"\xC3\xA9", "\xC3\x89", false, false},  // é and É are not ASCII
      {"USB Audio CODEC", "audio", false, true},
      {"hw:1,0", "HW:1", false, true},
      {"pulse", "", false, true},
      {"ab", "abc", false, false},
      {"abc", "CD", false, false},
  };
  for (const CaseMatch& c : kCases) {
    SCOPED_TRACE(std::string(c.a) + " / " + std::string(c.b));
    EXPECT_EQ(EqualIgnoringAsciiCase(c.a, c.b), c.equal);
    EXPECT_EQ(EqualIgnoringAsciiCase(c.b, c.a), c.equal);
    EXPECT_EQ(ContainsIgnoringAsciiCase(c.a, c.b), c.contains);
  }
}

}  // namespace
}  // namespace vs32
