// Walking UTF-8 text one character at a time. A character is well formed when
// its lead byte is C2-DF, E0-EF or F0-F4, the continuation bytes follow, and it
// is neither an overlong form, a surrogate nor above U+10FFFF. Anything else is
// taken one byte at a time, each byte standing for U+FFFD, so that every byte
// string can be walked, cut and converted the same way everywhere.
#pragma once

#include <cstddef>
#include <string_view>

namespace vs32 {

inline constexpr char32_t kUtf8Replacement = 0xFFFD;

struct Utf8Char {
  char32_t value;      // the code point; U+FFFD for a byte that starts no character
  std::size_t length;  // bytes taken, 1 … 4
};

// The character at text[pos], pos < text.size().
constexpr Utf8Char Utf8At(std::string_view text, std::size_t pos) {
  const auto c = static_cast<unsigned char>(text[pos]);
  if (c < 0x80) return {c, 1};
  std::size_t length = 0;
  char32_t value = 0;
  char32_t minimum = 0;
  if (c >= 0xC2 && c < 0xE0) {
    length = 2, value = c & 0x1F, minimum = 0x80;
  } else if (c >= 0xE0 && c < 0xF0) {
    length = 3, value = c & 0x0F, minimum = 0x800;
  } else if (c >= 0xF0 && c < 0xF5) {
    length = 4, value = c & 0x07, minimum = 0x10000;
  } else {
    return {kUtf8Replacement, 1};
  }
  if (pos + length > text.size()) return {kUtf8Replacement, 1};
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[pos + i]);
    if ((next & 0xC0) != 0x80) return {kUtf8Replacement, 1};
    value = (value << 6) | (next & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value < 0xE000)) {
    return {kUtf8Replacement, 1};
  }
  return {value, length};
}

}  // namespace vs32
