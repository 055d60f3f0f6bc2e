// Vs32Rx: the windowed receiver.
#include <QApplication>
#include <cstdio>
#include <cstring>

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
    "  --help     print this text\n";

}  // namespace

int main(int argc, char** argv) {
  // Answered before a display is needed.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("Vs32Rx 1.4\n");
      return 0;
    }
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  QApplication application(argc, argv);
  vs32::gui::SetUpApplication();
  vs32::gui::TForm1 form;
  form.FormCreate();
  form.show();
  return application.exec();
}
