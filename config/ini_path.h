// Which INI file a program uses.
//
// 1. A file named on the command line (Vs32RxC --config FILE).
// 2. $VS32_INI, when set and not empty (tests, several stations on one machine).
// 3. <folder of the executable>/<program>.INI, when that file exists and it
//    and its folder are writable (a portable install keeps its settings with
//    it). A program never creates a new file beside itself: installed under
//    ~/.local/bin or in a build folder, it uses the per-user file.
// 4. Otherwise $XDG_CONFIG_HOME/vs32rx/<program>.INI, default
//    ~/.config/vs32rx/; the folder is created when missing, and a new
//    per-user file starts as a copy of the file beside the executable.
// "Writable" means the process may write there and the entry is not marked
// read-only (it has at least one write permission bit), so a user's chmod a-w
// is honoured even for root.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vs32 {

// What the choice depends on; CurrentIniEnvironment() reads the real values.
struct IniEnvironment {
  std::optional<std::string> commandLine;    // a file named on the command line
  std::filesystem::path executable;          // e.g. the target of /proc/self/exe
  std::optional<std::string> vs32Ini;        // $VS32_INI
  std::optional<std::string> xdgConfigHome;  // $XDG_CONFIG_HOME
  std::optional<std::string> home;           // $HOME
};

IniEnvironment CurrentIniEnvironment();

struct IniChoice {
  std::filesystem::path path;
  // One line for the user: "Settings file: <path>", with what happened on the way.
  std::string message;
};

// programName: "Vs32Rx" or "Vs32RxC" (see ProgramName in config/settings.h).
IniChoice ChooseIniPath(std::string_view programName, const IniEnvironment& environment);

// True when a write to `path` may succeed (see the header comment).
bool IsWritableEntry(const std::filesystem::path& path);

}  // namespace vs32
