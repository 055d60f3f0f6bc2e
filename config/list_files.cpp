#include "config/list_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>

#include "config/ascii_case.h"

namespace vs32 {

namespace {

constexpr std::string_view kSeparators = " \n\r\t";

bool IsAsciiDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsAsciiLetterOrDigit(char c) {
  return IsAsciiDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The next field of `line` from `pos` on, or an empty view at the end.
std::string_view NextField(std::string_view line, size_t& pos) {
  const size_t start = line.find_first_not_of(kSeparators, pos);
  if (start == std::string_view::npos) {
    pos = line.size();
    return {};
  }
  size_t end = line.find_first_of(kSeparators, start);
  if (end == std::string_view::npos) end = line.size();
  pos = end;
  return line.substr(start, end - start);
}

void LoadMask(const std::filesystem::path& path, const ReceiverSettings& settings,
              ChannelMask& mask) {
  mask.fill(0);
  ForEachListLine(path, [&](std::string_view text) {
    const int channel = ParseMaskLine(text, settings.dialHz, settings.bandStartHz);
    if (channel >= 0) mask[channel] = 1;
    return true;
  });
}

}  // namespace

bool ForEachListLine(const std::filesystem::path& path,
                     const std::function<bool(std::string_view)>& function) {
  // O_NONBLOCK: a FIFO in place of a list must not hang start-up.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  std::string line;
  line.reserve(kListLineKeep);
  bool inLine = false;  // bytes of an unterminated line are pending
  bool goOn = true;
  char buffer[65536];
  while (goOn) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    for (ssize_t i = 0; i < got && goOn; ++i) {
      const char c = buffer[i];
      if (c == '\n') {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        goOn = function(line);
        line.clear();
        inLine = false;
      } else {
        inLine = true;
        if (line.size() < kListLineKeep) line.push_back(c);
      }
    }
  }
  if (goOn && inLine) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    function(line);
  }
  ::close(fd);
  return true;
}

bool ParseCallLine(std::string_view line, CallLine& out) {
  if (line.empty() || !IsAsciiLetterOrDigit(line[0])) return false;
  size_t pos = 0;
  const std::string_view call = NextField(line, pos);
  const std::string_view locator = NextField(line, pos);
  out.callsign.assign(call.substr(0, 6));
  // Decodes are upper case; a call typed in lower case must still match them.
  for (char& c : out.callsign) c = AsciiUpper(c);
  out.locator.assign(locator.substr(0, 6));
  return true;
}

int ParseMaskLine(std::string_view line, double dialHz, double bandStartHz) {
  if (line.empty() || !IsAsciiDigit(line[0])) return -1;
  size_t pos = 0;
  const std::string_view field = NextField(line, pos);
  double number = 0;
  // The leading number of the field counts, whatever follows it.
  const auto result = std::from_chars(field.data(), field.data() + field.size(), number);
  if (result.ec != std::errc()) return -1;
  const float f = static_cast<float>(number);
  if (!(f >= 137450 && f <= 137550)) return -1;
  const double position = std::trunc(ChannelPosition(f - dialHz - bandStartHz));
  if (!(position >= 0 && position < kChannels)) return -1;
  return static_cast<int>(position);
}

void LoadChannelMasks(const ReceiverSettings& settings, ChannelMask& loranMask,
                      ChannelMask& alwaysDecodeMask, const std::filesystem::path& folder) {
  LoadMask(folder / kLoranLinesFile, settings, loranMask);
  LoadMask(folder / kFrequencyListFile, settings, alwaysDecodeMask);
}

}  // namespace vs32
