// The command line of Vs32RxC: the old words (a WAV file, the help words) and
// the options a station run from a shell or a service manager needs.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vs32 {

struct ConsoleOptions {
  enum class Action {
    kRun,         // receive (and decode wavPath first when given)
    kHelpWord,    // "/?", "-?", "help", "/h": banner and usage on the screen
    kHelp,        // -h, --help: the help text, nothing else
    kVersion,     // --version
    kDevices,     // --devices
    kUsageError,  // unknown option, missing value, stray argument: exit 2
    kBadValue,    // a value the option cannot take: exit 1
  };
  Action action = Action::kRun;
  std::string error;  // kUsageError, kBadValue: the line to print

  std::string wavPath;                // a recording to decode first
  std::optional<std::string> config;  // --config FILE
  std::optional<std::string> device;  // --device NAME|N
  bool stdinInput = false;            // --input -
  int rawRate = 0;                    // --rate: raw samples at this rate; 0: a WAV stream
  bool lines = false;                 // --lines (also set by --json)
  bool json = false;                  // --json
};

// `args`: the arguments without the program name. Options may come as
// "--name value" or "--name=value"; "--" ends the options.
ConsoleOptions ParseConsoleArguments(const std::vector<std::string>& args);

// The usage hint that ends a usage error.
inline constexpr const char* kUsageHint = "see Vs32RxC --help";

}  // namespace vs32
