// Vs32Rx: the windowed receiver.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/version.h"
#include "gui/myvsrx1.h"

namespace {

const char* const kUsage =
    "Usage: Vs32Rx [--version | --help]\n"
    "\n"
    "The windowed Vesta-32 receiver: oscillogram, spectrum, waterfall and decode\n"
    "list of the 100 Hz band around the centre frequency, with menus for the\n"
    "decoder and a settings dialog. It listens to the sound input chosen in\n"
    "Settings > Select Sound Input, or decodes a recording (File > Decode WAV-file...).\n"
    "\n"
    "Settings are kept in Vs32Rx.INI beside the program, or in\n"
    "~/.config/vs32rx/Vs32Rx.INI when that folder is not writable; the environment\n"
    "variable VS32_INI names another file. The station lists (callsloc.txt,\n"
    "known_list.txt, loran_lines.txt, freq_list.txt) and the decode log are read\n"
    "and written in the current folder.\n"
    "\n"
    "  --version  print the program name and version\n"
    "  --help     print this text\n"
    "\n"
    "It needs a display (DISPLAY or WAYLAND_DISPLAY); without one it says so and\n"
    "exits with status 1. Qt's -platform NAME (or QT_QPA_PLATFORM) picks another\n"
    "display system, e.g. vnc or offscreen.\n";

const char* const kNoDisplay = "no display; use Vs32RxC for a station without a screen\n";

bool Unset(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr || *value == '\0';
}

// A display system named on the command line or in the environment is left to
// Qt to open (offscreen for tests, vnc, eglfs on a bare Raspberry Pi).
bool PlatformNamed(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
      return true;
  }
  return !Unset("QT_QPA_PLATFORM");
}

QtMessageHandler qtMessages = nullptr;

// Qt aborts (exit status 134, a core dump) when its display system cannot be
// opened; its own warning says why, this says what to do.
void StartUpMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type != QtFatalMsg) {
    qtMessages(type, context, text);
    return;
  }
  std::fputs(kNoDisplay, stderr);
  std::_Exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  // Answered before a display is needed.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("Vs32Rx " VS32_VERSION "\n");
      return 0;
    }
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  if (!PlatformNamed(argc, argv) && Unset("DISPLAY") && Unset("WAYLAND_DISPLAY")) {
    std::fputs(kNoDisplay, stderr);
    return 1;
  }
  qtMessages = qInstallMessageHandler(StartUpMessage);
  QApplication application(argc, argv);
  qInstallMessageHandler(qtMessages);
  vs32::gui::SetUpApplication();
  vs32::gui::TForm1 form;
  form.FormCreate();
  form.show();
  return application.exec();
}
