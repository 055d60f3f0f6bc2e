// The receiver's settings: the INI keys of both programs, their defaults,
// validation and write-back, and the values derived from them.
//
// One table (SettingKeys()) describes every key: section, name, type, default,
// clamp, and its place in each pass over the file (each program's start-up,
// the windowed program's reload, close-time save and settings dialog). Those
// passes and the tests walk it; other code names a key by its SettingId.
#pragma once

#include <atomic>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "config/profile_file.h"

namespace vs32 {

enum class Program { kWindowed, kConsole };

// "Vs32Rx" or "Vs32RxC": names the INI file and appears in the default log header.
const char* ProgramName(Program program);

// A value the windowed program's menus change while the worker reads it. Loads
// and stores are relaxed: each is a single value read at the moment of use.
// Copyable, so ReceiverSettings stays copyable (the batch decoder copies it).
template <typename T>
class Relaxed {
 public:
  Relaxed(T value = T()) : value_(value) {}  // NOLINT: converts like the value it holds
  Relaxed(const Relaxed& other) : value_(other.value_.load(std::memory_order_relaxed)) {}
  Relaxed& operator=(const Relaxed& other) {
    value_.store(other.value_.load(std::memory_order_relaxed), std::memory_order_relaxed);
    return *this;
  }
  Relaxed& operator=(T value) {
    value_.store(value, std::memory_order_relaxed);
    return *this;
  }
  operator T() const { return value_.load(std::memory_order_relaxed); }  // NOLINT
  T load() const { return value_.load(std::memory_order_relaxed); }

 private:
  std::atomic<T> value_;
};

// The menu check marks (Deep Decoder, Use Correlator, …).
using Switch = Relaxed<bool>;

// Everything the INI file holds at run time plus the derived values. A default
// constructed record holds every key's default (logHeader empty) and the derived
// values for them.
struct ReceiverSettings {
  ReceiverSettings();

  double bandStartHz = 0;       // Hz, F_CENTER - 50, 350 … 23000
  double dialHz = 0;            // Hz, radio dial frequency
  Relaxed<int> maxPeaks;        // peaks kept per block, -1 … kChannels (-1 and 0: all); menu
  Relaxed<int> minPeakSpacing;  // channels between picked peaks, 0 … kChannels / 2; menu
  std::string myCall;           // may be empty (the front ends check)
  std::string myLocator;        // Maidenhead locator, may be empty
  std::string logFilePath;      // decode log
  Switch captureEnabled;        // windowed program only
  std::string capturePath;      // ends in "/"; windowed program only
  int soundDevice = 0;          // input device index, -1 = system default
  Switch ignoreLoranLines;
  Switch useFrequencyList;
  Switch deepDecoder;
  Switch ultraDeepDecoder;
  Switch useKnownCallsList;
  Switch coherentDetector;
  Switch useCorrelator;
  double dbOffset = 0;         // dB added to every SNR shown, logged or uploaded
  double decodeThreshold = 0;  // Eb/No acceptance threshold
  double vsdsThreshold = 0;
  int correlator51Threshold = 0;   // agreements out of 51
  int correlator237Threshold = 0;  // agreements out of 237
  Switch correlatorSecondOpinion;  // correlator matches need the codeword scores' backing
  int callBlockSeconds = 0;        // s, repeat blocking of a known call
  Switch reverseOutput;            // windowed program only
  Switch oscillogramVisible;       // windowed program only
  Switch spectrumVisible;          // windowed program only
  Switch waterfallVisible;         // windowed program only
  std::string reporterHost;        // UTF-8, at most 255 UTF-16 units
  std::string reporterPort;        // UTF-8, at most 31 UTF-16 units
  Switch uploadSpots;
  std::string logHeader;  // first line of a new decode log
  // Trusted decodes (each off restores the plain check-bits behaviour):
  Switch strictFrameCheck;    // zero prefix and a valid packed callsign required
  Switch decodeAfterWarmup;   // no check-bit decoding while the window is half empty
  Switch learnSameFrequency;  // a heard call is learnt only when it returns within 2 Hz
  Switch listDecoder;         // best-first list over whole messages instead of Deep / Ultra Deep
  int listSize = 0;           // messages in that list, 1 ... 65536
  double listThreshold = 0;   // dB: Eb/No of the best codewords above which the list runs

  // Derived by ComputeDerived() from the band plan (PlanMixer).
  int inputRate = 0;        // samples/s: kWideRate on the wide path, else kWorkingRate
  double preShiftStep = 0;  // rad per input sample (wide path only, else 0)
  double mixStep = 0;       // rad per working-rate sample
};

// One per key, named after its field, in the table's order (the table is
// checked against the last one when it compiles).
enum class SettingId {
  kBandStartHz,
  kDialHz,
  kMaxPeaks,
  kMinPeakSpacing,
  kMyCall,
  kMyLocator,
  kLogFilePath,
  kCaptureEnabled,
  kCapturePath,
  kSoundDevice,
  kIgnoreLoranLines,
  kUseFrequencyList,
  kDeepDecoder,
  kUltraDeepDecoder,
  kUseKnownCallsList,
  kCoherentDetector,
  kUseCorrelator,
  kDbOffset,
  kDecodeThreshold,
  kVsdsThreshold,
  kCorrelator51Threshold,
  kCorrelator237Threshold,
  kCallBlockSeconds,
  kReverseOutput,
  kOscillogramVisible,
  kSpectrumVisible,
  kWaterfallVisible,
  kReporterHost,
  kReporterPort,
  kUploadSpots,
  kLogHeader,
  kStrictFrameCheck,
  kDecodeAfterWarmup,
  kLearnSameFrequency,
  kListDecoder,
  kListSize,
  kListThreshold,
  kCorrelatorSecondOpinion,
};

// The passes over the INI file, each walking its keys in its own order.
enum class KeyPass {
  kWindowedStart,  // the windowed program's start-up read
  kConsoleStart,   // the console program's start-up read
  kReload,         // the windowed program's re-read after the settings dialog's Apply
  kCloseSave,      // the windowed program's write when its main window closes
  kDialogApply,    // the settings dialog's write on Apply
};

// How a key's text becomes a field value beyond its plain type.
enum class SettingRule {
  kPlain,
  kBandCentre,    // field = key - 50, clamped, written back + 50
  kCapturePath,   // trailing "/" ensured, folder created
  kReporterHost,  // cut to 255 UTF-16 units
  kReporterPort,  // cut to 31 UTF-16 units
  kLogHeader,     // an empty text is replaced by the program's default header
};

enum class SettingType { kInt, kDouble, kBool, kText };

using SettingField =
    std::variant<int ReceiverSettings::*, double ReceiverSettings::*, Switch ReceiverSettings::*,
                 std::string ReceiverSettings::*, Relaxed<int> ReceiverSettings::*>;

struct SettingKey {
  SettingId id;
  const char* section;
  const char* key;
  SettingField field;
  const char* defaultText;  // as written into the file
  SettingRule rule = SettingRule::kPlain;
  bool clamped = false;
  double minValue = 0;  // field units
  double maxValue = 0;
  // Positions in each pass (1, 2, …), 0 = not in that pass.
  int windowedOrder = 0;          // the windowed program's start-up read
  int consoleOrder = 0;           // the console program's start-up read
  bool windowedWriteBack = true;  // written back at the windowed program's start-up
  int reloadOrder = 0;            // the re-read after the dialog's Apply
  bool reloadWriteBack = false;   // written back by that re-read
  int closeOrder = 0;             // the close-time save
  int dialogOrder = 0;            // the dialog's Apply (numbers as typed, in file units)

  SettingType type() const {
    static constexpr SettingType kTypes[] = {SettingType::kInt, SettingType::kDouble,
                                             SettingType::kBool, SettingType::kText,
                                             SettingType::kInt};
    return kTypes[field.index()];
  }
  int position(KeyPass pass) const {
    switch (pass) {
      case KeyPass::kWindowedStart:
        return windowedOrder;
      case KeyPass::kConsoleStart:
        return consoleOrder;
      case KeyPass::kReload:
        return reloadOrder;
      case KeyPass::kCloseSave:
        return closeOrder;
      case KeyPass::kDialogApply:
        return dialogOrder;
    }
    return 0;
  }
  bool writtenBack(Program program) const {
    return program == Program::kConsole || windowedWriteBack;
  }
};

// Every key, in SettingId order.
std::span<const SettingKey> SettingKeys();
// The key with that id.
const SettingKey& Setting(SettingId id);
// The key of that name (exact, upper case), or nullptr.
const SettingKey* FindSettingKey(std::string_view key);
// The keys of a pass, in its order.
std::vector<const SettingKey*> PassKeys(KeyPass pass);
// The keys a program reads at start-up, in its order.
std::vector<const SettingKey*> StartupKeys(Program program);

// The default log header: "<call> <locator> Vesta-32 decoded (<program> ZZ0ZZZ software)".
std::string DefaultLogHeader(Program program, std::string_view myCall, std::string_view myLocator);

// inputRate, preShiftStep and mixStep from bandStartHz.
void ComputeDerived(ReceiverSettings& settings);

// Every default without any file: the log header built from empty texts, derived
// values computed.
ReceiverSettings DefaultSettings(Program program);

// Number parsing as the file's readers do it: decimal, or hexadecimal after
// "0x"/"0X"; the whole (trimmed) text must be a number in range.
bool ParseSettingInt(std::string_view text, int& value);
// Decimal floating point; the whole text must be a finite number.
bool ParseSettingDouble(std::string_view text, double& value);
// "%.15g", independent of the C locale.
std::string FormatSettingDouble(double value);

// Stores `text` (as read from the file) into the key's field with its type,
// default-on-bad-number, clamp and rule (no folder is created here).
void ApplySettingText(const SettingKey& key, std::string_view text, Program program,
                      ReceiverSettings& settings);
// The text the file receives for the key's current field value.
std::string SettingText(const SettingKey& key, const ReceiverSettings& settings);
// The text the file receives for a value typed in file units (the settings
// dialog): a number as its type parses and formats it, any text as it is.
// False when a number does not parse.
bool TypedSettingText(const SettingKey& key, std::string_view typed, std::string& text);

// Writes one key from the settings. False with a reason when the file cannot be written.
bool WriteSetting(ProfileFile& file, const ReceiverSettings& settings, const SettingKey& key,
                  std::string* error = nullptr);

// Makes `path` end in "/" (a trailing "\" from a file written elsewhere becomes
// "/"; an empty path means the current folder, "./").
std::string NormaliseCapturePath(std::string_view path);
// Creates the capture folder (one level) when missing. False when it neither
// exists nor can be created; `error` then holds "Cannot create <path> directory.".
bool EnsureCaptureFolder(const std::string& path, std::string* error);

enum class LoadMode {
  kReadWrite,  // the programs' start-up: every key read is written back
  kReadOnly,   // nothing is written and no folder created (e.g. a batch decoder)
};

struct LoadResult {
  // False when start-up must stop: the capture folder could not be created.
  // `error` then holds the text to show; the keys after CAPTURE_PATH keep their defaults.
  bool ok = true;
  std::string error;
  // Non-fatal: "Cannot write settings to <path>: <reason>" (once); the values read are used.
  std::vector<std::string> warnings;
  // MYCALL or MYQTH is empty (the windowed program has then switched spot upload off).
  bool stationMissing = false;
};

// Reads the program's keys in its order, validates, stores, writes back (unless
// kReadOnly), and computes the derived values.
LoadResult LoadSettings(Program program, const std::filesystem::path& iniPath,
                        ReceiverSettings& settings, LoadMode mode = LoadMode::kReadWrite);

}  // namespace vs32
