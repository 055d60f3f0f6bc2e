// The fixed texts of the console program's screen and the fields it builds
// from the settings and the worker's figures.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "config/settings.h"
#include "engine/version.h"
#include "report/decode_log.h"

namespace vs32 {

inline constexpr std::string_view kConsoleBanner =
    "================== Vesta-32 RX (zz0zzz) decoder v" VS32_VERSION " ==================";
inline constexpr std::string_view kConsoleUsage =
    "Usage:\nVs32RxC [file.wav]\n\tfile.wav\t- decode wav-file then exit\n";
inline constexpr std::string_view kConsoleVersion = "Vs32RxC " VS32_VERSION "\n";
inline constexpr std::string_view kEmptyCallMessage =
    "\nPlease set Your CALL and QTH in config file Vs32RxC.ini fields MYCALL and MYQTH\n";
inline constexpr std::string_view kConsoleSeparator =
    "=======================================================================\n";
inline constexpr std::string_view kConsoleColumns = kConsoleColumnsLine;
inline constexpr std::string_view kConsoleDashes =
    "-----------------------------------------------------------------------\n";
// The spinner's characters, in turn.
inline constexpr char kSpinner[4] = {'\\', '|', '/', '-'};

// "/?", "-?", "help", "/h": exact, case-sensitive.
bool IsHelpWord(std::string_view argument);

// What --help prints (the program's own options and files, for a shell user).
std::string ConsoleHelpText();

// What --devices prints: the values DEVICE can take, one line each ("-1" the
// default input, then every input-capable device by its index and name).
std::string DeviceListText(std::span<const std::string> names);

// The input field of row 2: "Input: default\t\t" for device -1, "Input: <name>\t"
// for a device that exists, "Input: <index> (not present)\t" otherwise.
// `names`: the input-capable devices in index order.
std::string InputField(int soundDevice, std::span<const std::string> names);

// Row 2 after the input field: decoder, detector and correlator, then a line feed.
std::string DecoderFields(const ReceiverSettings& settings);

// Row 3: "Dial=%.2f Hz\tFc=%.2f Hz\tPeak spc: %.3f Hz\n".
std::string StationLine(const ReceiverSettings& settings);

// Live fields, formatted into `buf` without allocating; return the length.
// "%3d peaks  ".
size_t FormatPeaks(char* buf, size_t size, int peakCount);
// "%.1f dB %c" with 20·log10(level) and 'C' when samples were blanked; 0 (and
// nothing written) when the level is not above 0, so the old text stays.
size_t FormatLevel(char* buf, size_t size, float inputLevel, int blankedCount);

// "> processing file <name>\n", the name without its folders.
std::string ProcessingFileMessage(std::string_view path);
// "ERROR: <path as typed> <message>\n".
std::string WavErrorMessage(std::string_view path, std::string_view message);
// " <text>": the ambiguity text as it stands at row 4, column 50.
std::string AmbiguityField(std::string_view text);

// The level field while no audio comes in (no number to show).
inline constexpr std::string_view kNoInputField = "no input   ";

// What the receiver is doing, for the status line and the service manager.
struct StatusFigures {
  bool input = false;    // audio blocks are coming in
  float inputLevel = 0;  // linear, as the worker smooths it
  int peaks = 0;         // channels picked in the last block
  long decodes = 0;      // decode lines shown since the start
  unsigned spotsSent = 0;
  unsigned spotsQueued = 0;
  int knownCalls = 0;
};
// "input -32.5 dB, 12 peaks, 3 decodes, spots 2 sent 0 queued, 14 known calls"
// ("no input, ..." while no audio comes in).
std::string StatusText(const StatusFigures& figures);

// A decode as one JSON object on one line (JSON Lines), with the fields of
// vs32decode's columns: file, utc, offset_s, start_s, call, freq_hz, qrb_km,
// ebno_db, snr_db, attempts, status, mark. `file`: where the audio came from
// ("-" for standard input, the recording's path), empty for the sound card
// (null). Live audio has no recording second: offset_s and start_s are null.
std::string DecodeJson(std::string_view file, int reportedAt, std::string_view call,
                       double frequencyHz, int distanceKm, float ebNoDb, double snrDb, int attempts,
                       int status, char mark);

// --device: a number is a DEVICE value (-1 the default input); anything else
// is a part of a device name, matched without regard to case. The index of
// the device it names in `names`, -1 for the default input, or nullopt when no
// device name contains it.
std::optional<int> FindInputDevice(std::string_view device, std::span<const std::string> names);
// True when --device names a device by number.
bool IsDeviceNumber(std::string_view device);

}  // namespace vs32
