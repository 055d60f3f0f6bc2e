// List files are edited by hand and grown by the programs: any line must parse
// to a bounded entry or be skipped, and any file must be walked line by line
// without reading past it or holding more than the kept part of a line.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/list_files.h"
#include "fuzz/fuzz_support.h"

namespace {

bool IsSeparator(char c) {
  return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

void CheckCallLine(std::string_view line) {
  vs32::CallLine parsed;
  if (!vs32::ParseCallLine(line, parsed)) return;
  VS32_FUZZ_CHECK(!line.empty());
  VS32_FUZZ_CHECK(!parsed.callsign.empty() && parsed.callsign.size() <= 6);
  VS32_FUZZ_CHECK(parsed.locator.size() <= 6);
  for (char c : parsed.callsign) VS32_FUZZ_CHECK(!IsSeparator(c) && !(c >= 'a' && c <= 'z'));
  for (char c : parsed.locator) VS32_FUZZ_CHECK(!IsSeparator(c));
}

void CheckMaskLine(std::string_view line, double dialHz, double bandStartHz) {
  const int channel = vs32::ParseMaskLine(line, dialHz, bandStartHz);
  VS32_FUZZ_CHECK(channel >= -1 && channel < vs32::kChannels);
  if (channel >= 0) VS32_FUZZ_CHECK(line[0] >= '0' && line[0] <= '9');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // The whole input as one line, with the default band and with one whose
  // channels the fixed 137450 ... 137550 Hz range cuts.
  CheckCallLine(bytes);
  CheckMaskLine(bytes, 136000, 1450);
  CheckMaskLine(bytes, 136000, 1480.5);

  // The input as a file: every line handed over in order, without its line end
  // (LF or CRLF), whole or cut to the kept part, and as many lines as the file has.
  std::vector<std::string_view> expected;
  for (size_t start = 0; start < size;) {
    size_t end = bytes.find('\n', start);
    if (end == std::string_view::npos) end = size;
    std::string_view line = bytes.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    expected.push_back(line);
    start = end + 1;
  }
  const vs32::fuzz::MemoryFile file(data, size);
  size_t lines = 0;
  const bool read = vs32::ForEachListLine(file.path(), [&](std::string_view line) {
    VS32_FUZZ_CHECK(lines < expected.size());
    const std::string_view whole = expected[lines++];
    VS32_FUZZ_CHECK(line.size() <= vs32::kListLineKeep);
    VS32_FUZZ_CHECK(whole.substr(0, line.size()) == line);
    // Only a line longer than the kept part is cut (a carriage return at the
    // cut may go with the line end).
    const size_t kept = std::min(whole.size(), vs32::kListLineKeep);
    VS32_FUZZ_CHECK(line.size() == kept || (line.size() + 1 == kept && whole.size() > kept));
    CheckCallLine(line);
    CheckMaskLine(line, 136000, 1450);
    return true;
  });
  VS32_FUZZ_CHECK(read);
  VS32_FUZZ_CHECK(lines == expected.size());

  // Stopping early is honoured.
  size_t calls = 0;
  vs32::ForEachListLine(file.path(), [&](std::string_view) { return ++calls < 2; });
  VS32_FUZZ_CHECK(calls == (lines < 2 ? lines : 2));
  return 0;
}
