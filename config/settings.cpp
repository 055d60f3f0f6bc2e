#include "config/settings.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <iterator>

#include "config/band_plan.h"
#include "config/utf8.h"

namespace vs32 {

namespace {

using R = ReceiverSettings;

constexpr size_t kReporterHostUnits = 255;  // 256 UTF-16 units with the terminator
constexpr size_t kReporterPortUnits = 31;   // 32 UTF-16 units with the terminator

// The INI keys, in SettingId order. The console program reads no capture or
// display keys; the windowed program writes N_MAX only when it closes, and its
// reload re-reads F_CENTER on its own first (the sound input reopens at the new
// rate before the other keys are read).
constexpr SettingKey kKeys[] = {
    {.id = SettingId::kBandStartHz,
     .section = "VS-32",
     .key = "F_CENTER",
     .field = &R::bandStartHz,
     .defaultText = "1500",
     .rule = SettingRule::kBandCentre,
     .clamped = true,
     .minValue = 350,
     .maxValue = 23000,
     .windowedOrder = 1,
     .consoleOrder = 1,
     .reloadOrder = 1,
     .reloadWriteBack = true,
     .dialogOrder = 6},
    {.id = SettingId::kDialHz,
     .section = "VS-32",
     .key = "F_DIAL",
     .field = &R::dialHz,
     .defaultText = "136000",
     .windowedOrder = 2,
     .consoleOrder = 2,
     .reloadOrder = 2,
     .dialogOrder = 7},
    {.id = SettingId::kMaxPeaks,
     .section = "VS-32",
     .key = "N_MAX",
     .field = &R::maxPeaks,
     .defaultText = "-1",
     .clamped = true,
     .minValue = -1,
     .maxValue = kChannels,
     .windowedOrder = 3,
     .consoleOrder = 3,
     .windowedWriteBack = false,
     .reloadOrder = 3,
     .closeOrder = 1},
    {.id = SettingId::kMinPeakSpacing,
     .section = "VS-32",
     .key = "MIN_PEAK_SPACE",
     .field = &R::minPeakSpacing,
     .defaultText = "1",
     .clamped = true,
     .minValue = 0,
     .maxValue = kChannels / 2,
     .windowedOrder = 4,
     .consoleOrder = 4,
     .reloadOrder = 4,
     .reloadWriteBack = true,
     .closeOrder = 2},
    {.id = SettingId::kMyCall,
     .section = "VS-32",
     .key = "MYCALL",
     .field = &R::myCall,
     .defaultText = "",
     .windowedOrder = 5,
     .consoleOrder = 5,
     .reloadOrder = 5,
     .dialogOrder = 1},
    {.id = SettingId::kMyLocator,
     .section = "VS-32",
     .key = "MYQTH",
     .field = &R::myLocator,
     .defaultText = "",
     .windowedOrder = 6,
     .consoleOrder = 6,
     .reloadOrder = 6,
     .dialogOrder = 2},
    {.id = SettingId::kLogFilePath,
     .section = "VS-32",
     .key = "FILE",
     .field = &R::logFilePath,
     .defaultText = "my_detected.txt",
     .windowedOrder = 7,
     .consoleOrder = 7,
     .reloadOrder = 7,
     .dialogOrder = 3},
    {.id = SettingId::kCaptureEnabled,
     .section = "VS-32",
     .key = "CAPTURE_ENABLE",
     .field = &R::captureEnabled,
     .defaultText = "1",
     .windowedOrder = 8,
     .closeOrder = 3},
    {.id = SettingId::kCapturePath,
     .section = "VS-32",
     .key = "CAPTURE_PATH",
     .field = &R::capturePath,
     .defaultText = "Capture/",
     .rule = SettingRule::kCapturePath,
     .windowedOrder = 9,
     .reloadOrder = 8,
     .reloadWriteBack = true,
     .dialogOrder = 4},
    {.id = SettingId::kSoundDevice,
     .section = "SOUND",
     .key = "DEVICE",
     .field = &R::soundDevice,
     .defaultText = "-1",
     .windowedOrder = 10,
     .consoleOrder = 8},
    {.id = SettingId::kIgnoreLoranLines,
     .section = "VS-32",
     .key = "IGNORE_LORAN_LINES",
     .field = &R::ignoreLoranLines,
     .defaultText = "0",
     .windowedOrder = 11,
     .consoleOrder = 9,
     .closeOrder = 5},
    {.id = SettingId::kUseFrequencyList,
     .section = "VS-32",
     .key = "USE_FREQUENCY_LIST",
     .field = &R::useFrequencyList,
     .defaultText = "1",
     .windowedOrder = 12,
     .consoleOrder = 10,
     .closeOrder = 6},
    {.id = SettingId::kDeepDecoder,
     .section = "VS-32",
     .key = "DEEP_DECODER",
     .field = &R::deepDecoder,
     .defaultText = "1",
     .windowedOrder = 13,
     .consoleOrder = 11,
     .closeOrder = 7},
    {.id = SettingId::kUltraDeepDecoder,
     .section = "VS-32",
     .key = "ULTRA_DEEP_DECODER",
     .field = &R::ultraDeepDecoder,
     .defaultText = "0",
     .windowedOrder = 14,
     .consoleOrder = 12,
     .closeOrder = 8},
    {.id = SettingId::kUseKnownCallsList,
     .section = "VS-32",
     .key = "USE_KNOWN_CALLSLIST",
     .field = &R::useKnownCallsList,
     .defaultText = "1",
     .windowedOrder = 15,
     .consoleOrder = 13,
     .closeOrder = 10},
    {.id = SettingId::kCoherentDetector,
     .section = "VS-32",
     .key = "USE_COHERENT_DETECTOR",
     .field = &R::coherentDetector,
     .defaultText = "0",
     .windowedOrder = 16,
     .consoleOrder = 14,
     .closeOrder = 11},
    {.id = SettingId::kUseCorrelator,
     .section = "VS-32",
     .key = "USE_CORRELATOR",
     .field = &R::useCorrelator,
     .defaultText = "1",
     .windowedOrder = 17,
     .consoleOrder = 17,
     .closeOrder = 12},
    {.id = SettingId::kDbOffset,
     .section = "VS-32",
     .key = "VESTA_DB_OFFSET",
     .field = &R::dbOffset,
     .defaultText = "-10",
     .windowedOrder = 18,
     .consoleOrder = 15,
     .reloadOrder = 9,
     .dialogOrder = 8},
    {.id = SettingId::kDecodeThreshold,
     .section = "VS-32",
     .key = "VS_THRESHOLD",
     .field = &R::decodeThreshold,
     .defaultText = "5",
     .windowedOrder = 19,
     .consoleOrder = 16,
     .reloadOrder = 10,
     .dialogOrder = 9},
    {.id = SettingId::kVsdsThreshold,
     .section = "VS-32",
     .key = "VSDS_THRESHOLD",
     .field = &R::vsdsThreshold,
     .defaultText = "1",
     .windowedOrder = 22,
     .consoleOrder = 18,
     .reloadOrder = 13,
     .dialogOrder = 10},
    {.id = SettingId::kCorrelator51Threshold,
     .section = "VS-32",
     .key = "CORRELATOR_51_THRESHOLD",
     .field = &R::correlator51Threshold,
     .defaultText = "45",
     .windowedOrder = 20,
     .consoleOrder = 19,
     .reloadOrder = 11,
     .dialogOrder = 11},
    {.id = SettingId::kCorrelator237Threshold,
     .section = "VS-32",
     .key = "CORRELATOR_237_THRESHOLD",
     .field = &R::correlator237Threshold,
     .defaultText = "159",
     .windowedOrder = 21,
     .consoleOrder = 20,
     .reloadOrder = 12,
     .dialogOrder = 12},
    {.id = SettingId::kCallBlockSeconds,
     .section = "VS-32",
     .key = "TIME_CALL_BLOCKED",
     .field = &R::callBlockSeconds,
     .defaultText = "600",
     .windowedOrder = 23,
     .consoleOrder = 21,
     .reloadOrder = 14,
     .dialogOrder = 13},
    {.id = SettingId::kReverseOutput,
     .section = "VS-32",
     .key = "REVERSE_OUTPUT",
     .field = &R::reverseOutput,
     .defaultText = "1",
     .windowedOrder = 24},
    {.id = SettingId::kOscillogramVisible,
     .section = "VS-32",
     .key = "OSCILLOGRAM_VISIBLE",
     .field = &R::oscillogramVisible,
     .defaultText = "1",
     .windowedOrder = 25,
     .closeOrder = 13},
    {.id = SettingId::kSpectrumVisible,
     .section = "VS-32",
     .key = "SPECTRUM_VISIBLE",
     .field = &R::spectrumVisible,
     .defaultText = "1",
     .windowedOrder = 26,
     .closeOrder = 14},
    {.id = SettingId::kWaterfallVisible,
     .section = "VS-32",
     .key = "WATERFALL_VISIBLE",
     .field = &R::waterfallVisible,
     .defaultText = "1",
     .windowedOrder = 27,
     .closeOrder = 15},
    {.id = SettingId::kReporterHost,
     .section = "PSKREPORTER",
     .key = "HOSTNAME",
     .field = &R::reporterHost,
     .defaultText = "report.pskreporter.info",
     .rule = SettingRule::kReporterHost,
     .windowedOrder = 28,
     .consoleOrder = 22},
    {.id = SettingId::kReporterPort,
     .section = "PSKREPORTER",
     .key = "PORT",
     .field = &R::reporterPort,
     .defaultText = "4739",
     .rule = SettingRule::kReporterPort,
     .windowedOrder = 29,
     .consoleOrder = 23},
    {.id = SettingId::kUploadSpots,
     .section = "PSKREPORTER",
     .key = "UPLOAD_SPOT",
     .field = &R::uploadSpots,
     .defaultText = "1",
     .windowedOrder = 30,
     .consoleOrder = 24,
     .closeOrder = 4},
    {.id = SettingId::kLogHeader,
     .section = "VS-32",
     .key = "MYHEADER",
     .field = &R::logHeader,
     .defaultText = "",
     .rule = SettingRule::kLogHeader,
     .windowedOrder = 31,
     .consoleOrder = 25,
     .reloadOrder = 15,
     .dialogOrder = 5},
    {.id = SettingId::kStrictFrameCheck,
     .section = "VS-32",
     .key = "STRICT_FRAME_CHECK",
     .field = &R::strictFrameCheck,
     .defaultText = "1",
     .windowedOrder = 32,
     .consoleOrder = 26},
    {.id = SettingId::kDecodeAfterWarmup,
     .section = "VS-32",
     .key = "DECODE_AFTER_WARMUP",
     .field = &R::decodeAfterWarmup,
     .defaultText = "1",
     .windowedOrder = 33,
     .consoleOrder = 27},
    {.id = SettingId::kLearnSameFrequency,
     .section = "VS-32",
     .key = "LEARN_SAME_FREQUENCY",
     .field = &R::learnSameFrequency,
     .defaultText = "1",
     .windowedOrder = 34,
     .consoleOrder = 28},
    {.id = SettingId::kListDecoder,
     .section = "VS-32",
     .key = "LIST_DECODER",
     .field = &R::listDecoder,
     .defaultText = "0",
     .windowedOrder = 35,
     .consoleOrder = 29,
     .closeOrder = 9},
    {.id = SettingId::kListSize,
     .section = "VS-32",
     .key = "LIST_SIZE",
     .field = &R::listSize,
     .defaultText = "4096",
     .clamped = true,
     .minValue = 1,
     .maxValue = 65536,
     .windowedOrder = 36,
     .consoleOrder = 30,
     .reloadOrder = 16},
    {.id = SettingId::kListThreshold,
     .section = "VS-32",
     .key = "LIST_THRESHOLD",
     .field = &R::listThreshold,
     .defaultText = "5.2",
     .windowedOrder = 37,
     .consoleOrder = 31,
     .reloadOrder = 17},
    {.id = SettingId::kCorrelatorSecondOpinion,
     .section = "VS-32",
     .key = "CORRELATOR_SECOND_OPINION",
     .field = &R::correlatorSecondOpinion,
     .defaultText = "1",
     .windowedOrder = 38,
     .consoleOrder = 32,
     .reloadOrder = 18},
};

constexpr bool IdsFollowTheTable() {
  for (size_t i = 0; i < std::size(kKeys); ++i) {
    if (static_cast<size_t>(kKeys[i].id) != i) return false;
  }
  return true;
}
static_assert(IdsFollowTheTable(), "each key's id is its place in the table");
static_assert(std::size(kKeys) == static_cast<size_t>(SettingId::kCorrelatorSecondOpinion) + 1,
              "one key per id");

std::string_view TrimBlanks(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The longest prefix of `text` that fits `maxUnits` UTF-16 code units, cut on a
// character boundary. A byte that starts no character counts as one unit (the
// U+FFFD it becomes).
std::string CutToUtf16Units(std::string_view text, size_t maxUnits) {
  size_t units = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    const Utf8Char c = Utf8At(text, pos);
    const size_t needed = c.value >= 0x10000 ? 2 : 1;
    if (units + needed > maxUnits) break;
    units += needed;
    pos += c.length;
  }
  return std::string(text.substr(0, pos));
}

}  // namespace

const char* ProgramName(Program program) {
  return program == Program::kWindowed ? "Vs32Rx" : "Vs32RxC";
}

ReceiverSettings::ReceiverSettings() {
  for (const SettingKey& key : kKeys) {
    ApplySettingText(key, key.defaultText, Program::kConsole, *this);
  }
  logHeader.clear();
  ComputeDerived(*this);
}

std::span<const SettingKey> SettingKeys() {
  return kKeys;
}

const SettingKey& Setting(SettingId id) {
  return kKeys[static_cast<size_t>(id)];
}

const SettingKey* FindSettingKey(std::string_view key) {
  for (const SettingKey& entry : kKeys) {
    if (key == entry.key) return &entry;
  }
  return nullptr;
}

std::vector<const SettingKey*> PassKeys(KeyPass pass) {
  std::vector<const SettingKey*> keys;
  for (const SettingKey& entry : kKeys) {
    if (entry.position(pass) > 0) keys.push_back(&entry);
  }
  std::sort(keys.begin(), keys.end(), [pass](const SettingKey* a, const SettingKey* b) {
    return a->position(pass) < b->position(pass);
  });
  return keys;
}

std::vector<const SettingKey*> StartupKeys(Program program) {
  return PassKeys(program == Program::kWindowed ? KeyPass::kWindowedStart : KeyPass::kConsoleStart);
}

std::string DefaultLogHeader(Program program, std::string_view myCall, std::string_view myLocator) {
  std::string header(myCall);
  header.append(" ").append(myLocator).append(" Vesta-32 decoded (");
  header.append(ProgramName(program)).append(" ZZ0ZZZ software)");
  return header;
}

void ComputeDerived(ReceiverSettings& settings) {
  const MixerPlan plan = PlanMixer(settings.bandStartHz);
  settings.inputRate = plan.inputRate;
  settings.preShiftStep = plan.preShiftStep;
  settings.mixStep = plan.mixStep;
}

ReceiverSettings DefaultSettings(Program program) {
  ReceiverSettings settings;
  settings.logHeader = DefaultLogHeader(program, "", "");
  return settings;
}

bool ParseSettingInt(std::string_view text, int& value) {
  text = TrimBlanks(text);
  long long parsed = 0;
  std::from_chars_result result{};
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    if (text[2] == '+' || text[2] == '-') return false;
    result = std::from_chars(text.data() + 2, text.data() + text.size(), parsed, 16);
  } else {
    if (!text.empty() && text[0] == '+') text.remove_prefix(1);
    if (text.empty() || text[0] == '+') return false;
    result = std::from_chars(text.data(), text.data() + text.size(), parsed, 10);
  }
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return false;
  if (parsed < INT_MIN || parsed > INT_MAX) return false;
  value = static_cast<int>(parsed);
  return true;
}

bool ParseSettingDouble(std::string_view text, double& value) {
  text = TrimBlanks(text);
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  if (text.empty() || text[0] == '+') return false;
  double parsed = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return false;
  // "nan" and "inf" parse, but would poison every frequency computed from them.
  if (!std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

std::string FormatSettingDouble(double value) {
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
  return std::string(buffer, result.ptr);
}

std::string NormaliseCapturePath(std::string_view path) {
  std::string normal(path);
  if (normal.empty()) return "./";
  if (normal.back() == '\\') normal.back() = '/';
  if (normal.back() != '/') normal.push_back('/');
  return normal;
}

bool EnsureCaptureFolder(const std::string& path, std::string* error) {
  struct stat st {};
  bool ok = ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  if (!ok && ::mkdir(path.c_str(), 0777) == 0) ok = true;
  if (!ok && errno == EEXIST) ok = ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  if (!ok && error) *error = "Cannot create " + path + " directory.";
  return ok;
}

void ApplySettingText(const SettingKey& key, std::string_view text, Program program,
                      ReceiverSettings& settings) {
  switch (key.type()) {
    case SettingType::kInt: {
      int value = 0;
      if (!ParseSettingInt(text, value)) ParseSettingInt(key.defaultText, value);
      if (key.clamped) {
        value = std::clamp(value, static_cast<int>(key.minValue), static_cast<int>(key.maxValue));
      }
      if (auto plain = std::get_if<int R::*>(&key.field)) {
        settings.** plain = value;
      } else {
        settings.*std::get<Relaxed<int> R::*>(key.field) = value;
      }
      break;
    }
    case SettingType::kBool: {
      int value = 0;
      if (!ParseSettingInt(text, value)) ParseSettingInt(key.defaultText, value);
      settings.*std::get<Switch R::*>(key.field) = value != 0;
      break;
    }
    case SettingType::kDouble: {
      double value = 0;
      if (!ParseSettingDouble(text, value)) ParseSettingDouble(key.defaultText, value);
      if (key.rule == SettingRule::kBandCentre) value = value - 50;
      if (key.clamped) value = std::clamp(value, key.minValue, key.maxValue);
      settings.*std::get<double R::*>(key.field) = value;
      break;
    }
    case SettingType::kText: {
      std::string value(text);
      switch (key.rule) {
        case SettingRule::kCapturePath:
          value = NormaliseCapturePath(value);
          break;
        case SettingRule::kReporterHost:
          value = CutToUtf16Units(value, kReporterHostUnits);
          break;
        case SettingRule::kReporterPort:
          value = CutToUtf16Units(value, kReporterPortUnits);
          break;
        case SettingRule::kLogHeader:
          if (TrimBlanks(value).empty()) {
            value = DefaultLogHeader(program, settings.myCall, settings.myLocator);
          }
          break;
        default:
          break;
      }
      settings.*std::get<std::string R::*>(key.field) = std::move(value);
      break;
    }
  }
}

std::string SettingText(const SettingKey& key, const ReceiverSettings& settings) {
  switch (key.type()) {
    case SettingType::kInt:
      if (auto plain = std::get_if<int R::*>(&key.field)) {
        return std::to_string(settings.**plain);
      }
      return std::to_string((settings.*std::get<Relaxed<int> R::*>(key.field)).load());
    case SettingType::kBool:
      return (settings.*std::get<Switch R::*>(key.field)) ? "1" : "0";
    case SettingType::kDouble: {
      double value = settings.*std::get<double R::*>(key.field);
      if (key.rule == SettingRule::kBandCentre) value = value + 50;
      return FormatSettingDouble(value);
    }
    case SettingType::kText:
      return settings.*std::get<std::string R::*>(key.field);
  }
  return {};
}

bool TypedSettingText(const SettingKey& key, std::string_view typed, std::string& text) {
  switch (key.type()) {
    case SettingType::kInt:
    case SettingType::kBool: {
      int value = 0;
      if (!ParseSettingInt(typed, value)) return false;
      text = std::to_string(value);
      return true;
    }
    case SettingType::kDouble: {
      double value = 0;
      if (!ParseSettingDouble(typed, value)) return false;
      text = FormatSettingDouble(value);
      return true;
    }
    case SettingType::kText:
      text = typed;
      return true;
  }
  return false;
}

bool WriteSetting(ProfileFile& file, const ReceiverSettings& settings, const SettingKey& key,
                  std::string* error) {
  return file.WriteString(key.section, key.key, SettingText(key, settings), error);
}

LoadResult LoadSettings(Program program, const std::filesystem::path& iniPath,
                        ReceiverSettings& settings, LoadMode mode) {
  LoadResult result;
  settings = ReceiverSettings();
  ProfileFile file(iniPath);
  bool writable = mode == LoadMode::kReadWrite;
  for (const SettingKey* key : StartupKeys(program)) {
    const std::string text = file.ReadString(key->section, key->key, key->defaultText);
    ApplySettingText(*key, text, program, settings);
    if (key->rule == SettingRule::kCapturePath && mode == LoadMode::kReadWrite) {
      if (!EnsureCaptureFolder(settings.capturePath, &result.error)) {
        result.ok = false;
        break;
      }
    }
    if (writable && key->writtenBack(program)) {
      std::string reason;
      // A header built from an empty call or locator would stay so in the
      // file after they are set: it is written only once both are there.
      const bool headerWaits = key->rule == SettingRule::kLogHeader && TrimBlanks(text).empty() &&
                               (settings.myCall.empty() || settings.myLocator.empty());
      if (!(headerWaits ? file.WriteString(key->section, key->key, "", &reason)
                        : WriteSetting(file, settings, *key, &reason))) {
        // One message is enough: the rest of the keys would fail the same way.
        result.warnings.push_back("Cannot write settings to " + iniPath.string() + ": " + reason);
        writable = false;
      }
    }
  }
  ComputeDerived(settings);
  result.stationMissing = settings.myCall.empty() || settings.myLocator.empty();
  if (program == Program::kWindowed && result.stationMissing) settings.uploadSpots = false;
  return result;
}

}  // namespace vs32
