// Vs32RxC: the console receiver.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "audio/sound_device.h"
#include "console/console_app.h"
#include "console/console_input.h"
#include "console/console_texts.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  // Answered before anything else: no screen, no settings.
  if (!args.empty() && (args[0] == "--version" || args[0] == "--help")) {
    const std::string text =
        args[0] == "--version" ? std::string(vs32::kConsoleVersion) : vs32::ConsoleHelpText();
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
  }
  if (!args.empty() && args[0] == "--devices") {
    const std::string text = vs32::DeviceListText(vs32::SoundDevice::InputDeviceNames());
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
  }
  // Before any thread exists, so that every thread leaves the stop signals to
  // the main loop.
  vs32::StopSignals stop;
  try {
    vs32::ConsoleApp app(vs32::ConsoleIo{}, stop);
    return app.Run(args);
  } catch (const std::exception& e) {
    // The app has put the terminal back on its way out.
    std::fprintf(stderr, "Vs32RxC: %s\n", e.what());
    return 1;
  }
}
