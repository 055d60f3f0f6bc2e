#include "console/console_options.h"

#include <string_view>

#include "console/console_texts.h"

namespace vs32 {
namespace {

using Action = ConsoleOptions::Action;

ConsoleOptions Fail(Action action, const std::string& text) {
  ConsoleOptions o;
  o.action = action;
  o.error = "Vs32RxC: " + text;
  if (action == Action::kUsageError) o.error += std::string("; ") + kUsageHint;
  return o;
}

bool TakesValue(std::string_view name) {
  return name == "--config" || name == "--device" || name == "--input" || name == "--rate";
}

}  // namespace

ConsoleOptions ParseConsoleArguments(const std::vector<std::string>& args) {
  ConsoleOptions o;
  // The old help words only count as the first and only word, as they always did.
  if (!args.empty() && IsHelpWord(args[0])) {
    o.action = Action::kHelpWord;
    return o;
  }
  bool optionsEnded = false;
  bool haveRate = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      if (!o.wavPath.empty()) return Fail(Action::kUsageError, "more than one file: " + arg);
      o.wavPath = arg;
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name = arg;
    std::optional<std::string> value;
    if (const size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
    }
    if (name == "-h" || name == "--help" || name == "--version" || name == "--devices") {
      if (value) return Fail(Action::kUsageError, "option " + name + " takes no value");
      // Answered at once, whatever else is on the line.
      ConsoleOptions answer;
      answer.action = name == "--version"   ? Action::kVersion
                      : name == "--devices" ? Action::kDevices
                                            : Action::kHelp;
      return answer;
    }
    if (name == "--lines" || name == "--json") {
      if (value) return Fail(Action::kUsageError, "option " + name + " takes no value");
      o.lines = true;
      if (name == "--json") o.json = true;
      continue;
    }
    if (!TakesValue(name)) return Fail(Action::kUsageError, "unknown option " + arg);
    if (!value) {
      if (i + 1 >= args.size())
        return Fail(Action::kUsageError, "option " + name + " needs a value");
      value = args[++i];
    }
    if (name == "--config") {
      if (value->empty()) return Fail(Action::kBadValue, "--config needs a file name");
      o.config = *value;
    } else if (name == "--device") {
      if (value->empty()) return Fail(Action::kBadValue, "--device needs a name or a number");
      o.device = *value;
    } else if (name == "--input") {
      if (*value != "-") {
        return Fail(Action::kBadValue,
                    "--input takes only - (standard input), not \"" + *value + "\"");
      }
      o.stdinInput = true;
    } else {  // --rate
      if (*value != "12000" && *value != "48000") {
        return Fail(Action::kBadValue, "--rate must be 12000 or 48000, not \"" + *value + "\"");
      }
      o.rawRate = std::stoi(*value);
      haveRate = true;
    }
  }
  if (haveRate && !o.stdinInput) {
    return Fail(Action::kUsageError, "--rate is for raw samples on --input -");
  }
  if (o.stdinInput && !o.wavPath.empty()) {
    return Fail(Action::kUsageError, "a WAV file and --input - cannot be used together");
  }
  return o;
}

}  // namespace vs32
