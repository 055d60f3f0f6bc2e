// The UTF-8 walker every text cut and conversion uses: well-formed characters
// of each length, and every kind of byte run that is no character.
#include "config/utf8.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string_view>

namespace vs32 {
namespace {

struct Utf8Case {
  std::string_view bytes;
  char32_t value;
  std::size_t length;
};

// Failures name the bytes in hex.
void PrintTo(const Utf8Case& c, std::ostream* os) {
  for (const char b : c.bytes) *os << std::hex << (static_cast<unsigned>(b) & 0xFF) << ' ';
}

class Utf8Walk : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Walk, TakesTheCharacterOrOneByteStandingForTheReplacement) {
  const Utf8Case& c = GetParam();
  const Utf8Char got = Utf8At(c.bytes, 0);
  EXPECT_EQ(got.value, c.value);
  EXPECT_EQ(got.length, c.length);
  // The same bytes behind other text are read the same from their position.
  const std::string behind = "ab" + std::string(c.bytes);
  EXPECT_EQ(Utf8At(behind, 2).value, c.value);
  EXPECT_EQ(Utf8At(behind, 2).length, c.length);
}

INSTANTIATE_TEST_SUITE_P(Characters, Utf8Walk,
                         ::testing::Values(Utf8Case{"A", U'A', 1}, Utf8Case{"\x7F", 0x7F, 1},
                                           Utf8Case{"\xC2\x80", 0x80, 2},
                                           Utf8Case{"\xC3\xA9z", 0xE9, 2},
                                           Utf8Case{"\xE2\x82\xAC", 0x20AC, 3},
                                           Utf8Case{"\xEF\xBF\xBD", 0xFFFD, 3},
                                           Utf8Case{"\xF0\x9F\x93\xA1", 0x1F4E1, 4},
                                           Utf8Case{"\xF4\x8F\xBF\xBF", 0x10FFFF, 4}));

INSTANTIATE_TEST_SUITE_P(
    NoCharacter, Utf8Walk,
    ::testing::Values(Utf8Case{"\x80", 0xFFFD, 1},              // stray continuation
                      Utf8Case{"\xC0\x80", 0xFFFD, 1},          // overlong NUL
                      Utf8Case{"\xC1\xBF", 0xFFFD, 1},          // overlong two bytes
                      Utf8Case{"\xE0\x9F\xBF", 0xFFFD, 1},      // overlong three bytes
                      Utf8Case{"\xF0\x8F\xBF\xBF", 0xFFFD, 1},  // overlong four bytes
                      Utf8Case{"\xED\xA0\x80", 0xFFFD, 1},      // surrogate
                      Utf8Case{"\xF4\x90\x80\x80", 0xFFFD, 1},  // above U+10FFFF
                      Utf8Case{"\xF5\x80\x80\x80", 0xFFFD, 1},  // lead byte out of range
                      Utf8Case{"\xFF", 0xFFFD, 1},
                      Utf8Case{"\xC3", 0xFFFD, 1},  // cut short by the end
                      Utf8Case{"\xF0\x9F\x93", 0xFFFD, 1},
                      Utf8Case{"\xC3\x41", 0xFFFD, 1},  // continuation missing
                      Utf8Case{"\xE2\x82\x41", 0xFFFD, 1}));

}  // namespace
}  // namespace vs32
