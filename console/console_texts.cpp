#include "console/console_texts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vs32 {

bool IsHelpWord(std::string_view argument) {
  return argument == "/?" || argument == "-?" || argument == "help" || argument == "/h";
}

std::string ConsoleHelpText() {
  return "Vs32RxC - Vesta-32 beacon receiver for the console\n"
         "\n"
         "Usage:\n"
         "  Vs32RxC              receive live from the sound card\n"
         "  Vs32RxC FILE.wav     decode the recording first, then go on live\n"
         "  Vs32RxC --devices    list the sound inputs (the values of DEVICE) and exit\n"
         "  Vs32RxC --version    print the version and exit\n"
         "  Vs32RxC --help       print this text and exit\n"
         "\n"
         "Settings: Vs32RxC.INI beside the program, or the per-user copy in\n"
         "$XDG_CONFIG_HOME/vs32rx/ (default ~/.config/vs32rx/) when that folder is\n"
         "not writable; the environment variable VS32_INI names another file.\n"
         "Station lists (callsloc.txt, known_list.txt, loran_lines.txt,\n"
         "freq_list.txt) and the decode log are read and written in the current\n"
         "folder. Ctrl+C, SIGTERM or closing the terminal ends the program.\n";
}

std::string DeviceListText(std::span<const std::string> names) {
  std::string text = "DEVICE  sound input (set in [SOUND] of the settings file)\n";
  text += "    -1  the system's default input\n";
  char number[24];
  for (size_t i = 0; i < names.size(); ++i) {
    std::snprintf(number, sizeof number, "%6zu  ", i);
    text += number + names[i] + "\n";
  }
  if (names.empty()) text += "        (no input device found)\n";
  return text;
}

std::string InputField(int soundDevice, std::span<const std::string> names) {
  if (soundDevice == -1) return "Input: default\t\t";
  if (soundDevice >= 0 && static_cast<size_t>(soundDevice) < names.size()) {
    return "Input: " + names[static_cast<size_t>(soundDevice)] + "\t";
  }
  return "Input: " + std::to_string(soundDevice) + " (not present)\t";
}

std::string DecoderFields(const ReceiverSettings& settings) {
  std::string text;
  if (settings.listDecoder) {
    text += "Decoder: list\t";
  } else if (settings.ultraDeepDecoder) {
    text += "Decoder: UDeep\t";
  } else if (settings.deepDecoder) {
    text += "Decoder: deep\t";
  }
  text += settings.coherentDetector ? "Detector: chr" : "Detector: rms";
  if (settings.useCorrelator) text += "+vsds";
  text += "\n";
  return text;
}

std::string StationLine(const ReceiverSettings& settings) {
  char buf[256];
  const int n = std::snprintf(buf, sizeof buf, "Dial=%.2f Hz\tFc=%.2f Hz\tPeak spc: %.3f Hz\n",
                              settings.dialHz, settings.bandStartHz + 50,
                              settings.minPeakSpacing.load() * 100.0 / 1230.0);
  return std::string(buf, n > 0 ? std::min(static_cast<size_t>(n), sizeof buf - 1) : 0);
}

size_t FormatPeaks(char* buf, size_t size, int peakCount) {
  const int n = std::snprintf(buf, size, "%3d peaks  ", peakCount);
  return n > 0 ? std::min(static_cast<size_t>(n), size - 1) : 0;
}

size_t FormatLevel(char* buf, size_t size, float inputLevel, int blankedCount) {
  if (!(inputLevel > 0)) return 0;
  const int n =
      std::snprintf(buf, size, "%.1f dB %c", 20.0 * std::log10(static_cast<double>(inputLevel)),
                    blankedCount != 0 ? 'C' : ' ');
  return n > 0 ? std::min(static_cast<size_t>(n), size - 1) : 0;
}

std::string ProcessingFileMessage(std::string_view path) {
  const size_t slash = path.find_last_of('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  return "> processing file " + std::string(name) + "\n";
}

std::string WavErrorMessage(std::string_view path, std::string_view message) {
  return "ERROR: " + std::string(path) + " " + std::string(message) + "\n";
}

std::string AmbiguityField(std::string_view text) {
  std::string field(1, ' ');
  field.append(text);
  return field;
}

}  // namespace vs32
