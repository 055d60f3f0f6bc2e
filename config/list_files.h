// The station list files and what is loaded from them.
//
// callsloc.txt   "CALL LOCATOR ..." per line: stations with a position.
// known_list.txt "CALL ..." per line: stations heard before, without a position.
// (The known-call table loads these two: engine/known_calls.h.)
// loran_lines.txt, freq_list.txt: absolute frequencies in Hz, one per line.
//
// Lines are read whole, with LF or CRLF endings; fields are separated by blanks,
// tabs and line-end characters. A call line counts when it starts with an ASCII
// letter or digit, a frequency line when it starts with an ASCII digit; others
// are skipped silently, as are missing or unreadable files. The files are
// opened by bare name inside `folder` (empty: the current folder).
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "config/band_plan.h"
#include "config/settings.h"

namespace vs32 {

// The list files' names.
inline constexpr const char* kCallsLocFile = "callsloc.txt";
inline constexpr const char* kKnownListFile = "known_list.txt";
inline constexpr const char* kLoranLinesFile = "loran_lines.txt";
inline constexpr const char* kFrequencyListFile = "freq_list.txt";

// One flag (0 or 1) per channel. Owned by the front end.
using ChannelMask = std::array<int, kChannels>;

// Only this part of a line is looked at; the rest of a very long line is ignored.
inline constexpr size_t kListLineKeep = 4096;

// Calls the function with every line of the file (without its line ending, cut
// to kListLineKeep bytes) until it returns false. False when the file is missing
// or not a readable regular file.
bool ForEachListLine(const std::filesystem::path& path,
                     const std::function<bool(std::string_view)>& function);

// A parsed call line: callsign upper-cased and cut to 6 characters, locator
// (possibly empty) cut to 6 characters. False for a line that does not count.
struct CallLine {
  std::string callsign;
  std::string locator;
};
bool ParseCallLine(std::string_view line, CallLine& out);

// The channel a frequency line marks, or -1: the first field as a 32-bit float
// f, accepted in 137450 … 137550 Hz, channel trunc(ChannelPosition(f - dialHz -
// bandStartHz)) when it lies in 0 … kChannels − 1.
int ParseMaskLine(std::string_view line, double dialHz, double bandStartHz);

// Clears both masks and sets the channels listed in loran_lines.txt and freq_list.txt.
void LoadChannelMasks(const ReceiverSettings& settings, ChannelMask& loranMask,
                      ChannelMask& alwaysDecodeMask, const std::filesystem::path& folder = {});

}  // namespace vs32
