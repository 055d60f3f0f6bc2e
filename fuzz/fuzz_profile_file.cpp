// The settings file is edited by hand and by other programs: reading and
// updating a key must cope with any text, and an update must keep every other
// line byte for byte and read back as written.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "config/profile_file.h"
#include "fuzz/fuzz_support.h"

namespace {

// Names as the programs use them: letters, digits, '_', '-' and '.'.
bool PlainName(const std::string& name) {
  if (name.empty()) return false;
  for (char c : name) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '_' || c == '-' || c == '.';
    if (!ok) return false;
  }
  return true;
}

// A value that reads back exactly as written: no line break or NUL, no blanks
// at its ends, not wrapped in quotes, not longer than a read returns.
bool PlainValue(const std::string& value) {
  if (value.size() > vs32::kProfileValueMax) return false;
  if (value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) return false;
  if (!value.empty()) {
    const std::string blanks = " \t\r\v\f";
    if (blanks.find(value.front()) != std::string::npos) return false;
    if (blanks.find(value.back()) != std::string::npos) return false;
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      return false;
    }
  }
  return true;
}

// Number of line ends in text.
size_t Lines(const std::string& text) {
  size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string section = in.ConsumeRandomLengthString(16);
  const std::string key = in.ConsumeRandomLengthString(16);
  const std::string value = in.ConsumeRandomLengthString(64);
  const std::string content = in.ConsumeRemainingBytesAsString();

  const auto before = vs32::FindProfileValue(content, section, key);
  if (before) VS32_FUZZ_CHECK(before->size() <= vs32::kProfileValueMax);

  const std::string updated = vs32::SetProfileValue(content, section, key, value);
  const auto after = vs32::FindProfileValue(updated, section, key);
  if (after) VS32_FUZZ_CHECK(after->size() <= vs32::kProfileValueMax);

  if (PlainName(section) && PlainName(key) && PlainValue(value)) {
    VS32_FUZZ_CHECK(after.has_value());
    VS32_FUZZ_CHECK(*after == value);
    // An update changes one line or adds at most a section line and a key line
    // (after the line end a last unterminated line lacked, and a blank line
    // in front of a new section).
    VS32_FUZZ_CHECK(Lines(updated) <= Lines(content) + 4);
    // Writing the same value again changes nothing.
    VS32_FUZZ_CHECK(vs32::SetProfileValue(updated, section, key, value) == updated);
    // Another key of the same section keeps what it read before.
    const std::string other = key + "x";
    VS32_FUZZ_CHECK(vs32::FindProfileValue(updated, section, other) ==
                    vs32::FindProfileValue(content, section, other));
  }
  return 0;
}
