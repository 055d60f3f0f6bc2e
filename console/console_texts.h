// The fixed texts of the console program's screen and the fields it builds
// from the settings and the worker's figures.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "config/settings.h"

namespace vs32 {

inline constexpr std::string_view kConsoleBanner =
    "================== Vesta-32 RX (zz0zzz) decoder v1.4 ==================";
inline constexpr std::string_view kConsoleUsage =
    "Usage:\nVs32RxC.exe [file.wav]\n\tfile.wav\t- decode wav-file then exit\n";
inline constexpr std::string_view kConsoleVersion = "Vs32RxC 1.4\n";
inline constexpr std::string_view kEmptyCallMessage =
    "\nPlease set Your CALL and QTH in config file Vs32RxC.ini fields MYCALL and MYQTH\n";
inline constexpr std::string_view kConsoleSeparator =
    "=======================================================================\n";
inline constexpr std::string_view kConsoleColumns =
    "   DATE     TIME     CALL    FREQ      QRB     Eb/No\t  SNR\tDEC   U\n";
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

}  // namespace vs32
