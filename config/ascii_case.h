// Case-insensitive matching of ASCII text (INI sections and keys, callsigns,
// device names, file modes): only the letters A-Z and a-z fold, whatever the
// locale; every other byte matches only itself.
#pragma once

#include <cstddef>
#include <string_view>

namespace vs32 {

constexpr char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

constexpr bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

// True when `part` occurs in `text` (an empty part occurs everywhere).
constexpr bool ContainsIgnoringAsciiCase(std::string_view text, std::string_view part) {
  if (part.size() > text.size()) return false;
  for (std::size_t at = 0; at + part.size() <= text.size(); ++at) {
    if (EqualIgnoringAsciiCase(text.substr(at, part.size()), part)) return true;
  }
  return false;
}

}  // namespace vs32
