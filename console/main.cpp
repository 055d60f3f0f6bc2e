// Vs32RxC: the console receiver.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "audio/sound_device.h"
#include "console/console_app.h"
#include "console/console_input.h"
#include "console/console_options.h"
#include "console/console_texts.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const vs32::ConsoleOptions options = vs32::ParseConsoleArguments(args);
  using Action = vs32::ConsoleOptions::Action;
  // Answered before anything else: no screen, no settings.
  switch (options.action) {
    case Action::kVersion:
    case Action::kHelp:
    case Action::kDevices: {
      const std::string text = options.action == Action::kVersion
                                   ? std::string(vs32::kConsoleVersion)
                               : options.action == Action::kHelp
                                   ? vs32::ConsoleHelpText()
                                   : vs32::DeviceListText(vs32::SoundDevice::InputDeviceNames());
      std::fwrite(text.data(), 1, text.size(), stdout);
      return 0;
    }
    case Action::kUsageError:
    case Action::kBadValue:
      std::fprintf(stderr, "%s\n", options.error.c_str());
      return options.action == Action::kUsageError ? 2 : 1;
    case Action::kRun:
    case Action::kHelpWord:
      break;
  }
  vs32::ConsoleIo io;
  if (options.lines) io.mode = vs32::ScreenMode::kPlain;
  io.textToErr = options.json;
  // Before any thread exists, so that every thread leaves the stop signals to
  // the main loop.
  vs32::StopSignals stop;
  try {
    vs32::ConsoleApp app(io, stop);
    return app.RunWith(options);
  } catch (const std::exception& e) {
    // The app has put the terminal back on its way out.
    std::fprintf(stderr, "Vs32RxC: %s\n", e.what());
    return 1;
  }
}
