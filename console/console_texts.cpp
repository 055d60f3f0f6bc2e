#include "console/console_texts.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "config/ascii_case.h"
#include "config/band_plan.h"

namespace vs32 {

bool IsHelpWord(std::string_view argument) {
  return argument == "/?" || argument == "-?" || argument == "help" || argument == "/h";
}

std::string ConsoleHelpText() {
  return "Vs32RxC - Vesta-32 beacon receiver for the console\n"
         "\n"
         "Usage: Vs32RxC [OPTION]... [FILE.wav]\n"
         "  Vs32RxC              receive live from the sound card\n"
         "  Vs32RxC FILE.wav     decode the recording first, then go on live\n"
         "\n"
         "Options:\n"
         "  --config FILE        use this settings file (before VS32_INI)\n"
         "  --device NAME|N      sound input for this run instead of DEVICE: a part of\n"
         "                       its name as --devices lists it (any case), or its number\n"
         "  --input -            read the audio from standard input: a WAV stream, or\n"
         "                       with --rate raw signed 16-bit little-endian mono; the\n"
         "                       program ends when the input ends\n"
         "  --rate 12000|48000   samples per second of raw input on --input -\n"
         "  --lines              plain lines even on a terminal (decodes on standard\n"
         "                       output, warnings and errors on standard error)\n"
         "  --json               decodes as JSON Lines with the fields file utc offset_s\n"
         "                       start_s call freq_hz qrb_km ebno_db snr_db attempts\n"
         "                       status mark; other text goes to standard error\n"
         "  --devices            list the sound inputs (the values of DEVICE) and exit\n"
         "  --version            print the version and exit\n"
         "  -h, --help           print this text and exit\n"
         "\n"
         "Settings: --config FILE, else the file VS32_INI names, else Vs32RxC.INI\n"
         "beside the program when it exists there, else\n"
         "$XDG_CONFIG_HOME/vs32rx/Vs32RxC.INI (default ~/.config/vs32rx/).\n"
         "Station lists (callsloc.txt, known_list.txt, loran_lines.txt,\n"
         "freq_list.txt) and the decode log are read and written in the current\n"
         "folder. Ctrl+C, SIGTERM or closing the terminal ends the program.\n"
         "\n"
         "Exit status: 0 stopped or input ended, 1 settings, option value or input\n"
         "error, 2 usage error.\n";
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
                              ChannelsToHz(settings.minPeakSpacing.load()));
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

std::string StatusText(const StatusFigures& f) {
  char buf[256];
  int n;
  if (f.input && f.inputLevel > 0) {
    n = std::snprintf(buf, sizeof buf, "input %.1f dB, ",
                      20.0 * std::log10(static_cast<double>(f.inputLevel)));
  } else {
    n = std::snprintf(buf, sizeof buf, "no input, ");
  }
  std::string text(buf, n > 0 ? static_cast<size_t>(n) : 0);
  n = std::snprintf(buf, sizeof buf,
                    "%d peaks, %ld decodes, spots %u sent %u queued, %d known calls", f.peaks,
                    f.decodes, f.spotsSent, f.spotsQueued, f.knownCalls);
  text.append(buf, n > 0 ? static_cast<size_t>(n) : 0);
  return text;
}

namespace {

std::string JsonString(std::string_view s) {
  std::string out = "\"";
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

}  // namespace

std::string DecodeJson(std::string_view file, int reportedAt, std::string_view call,
                       double frequencyHz, int distanceKm, float ebNoDb, double snrDb, int attempts,
                       int status, char mark) {
  const std::string utc = UtcText(reportedAt);
  char numbers[160];
  std::snprintf(numbers, sizeof numbers,
                "\"freq_hz\": %.2f, \"qrb_km\": %s, \"ebno_db\": %.1f, \"snr_db\": %.1f, "
                "\"attempts\": %d, \"status\": %d, ",
                frequencyHz, distanceKm >= 0 ? std::to_string(distanceKm).c_str() : "null",
                static_cast<double>(ebNoDb), snrDb, attempts, status);
  std::string line =
      "{\"file\": " + (file.empty() ? std::string("null") : JsonString(file)) +
      ", \"utc\": " + JsonString(utc) +
      ", \"offset_s\": null, \"start_s\": null, \"call\": " + JsonString(call) + ", " + numbers +
      "\"mark\": " + (mark == ' ' ? std::string("null") : JsonString(std::string_view(&mark, 1))) +
      "}\n";
  return line;
}

bool IsDeviceNumber(std::string_view device) {
  int value = 0;
  const auto r = std::from_chars(device.data(), device.data() + device.size(), value);
  return !device.empty() && r.ec == std::errc() && r.ptr == device.data() + device.size();
}

std::optional<int> FindInputDevice(std::string_view device, std::span<const std::string> names) {
  if (IsDeviceNumber(device)) {
    int value = 0;
    std::from_chars(device.data(), device.data() + device.size(), value);
    return value;
  }
  for (size_t i = 0; i < names.size(); ++i) {
    if (ContainsIgnoringAsciiCase(names[i], device)) return static_cast<int>(i);
  }
  return std::nullopt;
}

}  // namespace vs32
