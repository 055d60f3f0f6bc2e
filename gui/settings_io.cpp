#include "gui/settings_io.h"

#include "config/profile_file.h"

namespace vs32::gui {

namespace {

struct ReloadKey {
  const char* name;
  bool writtenBack;
};

// Reads one key into the settings the way start-up does, and writes it back
// when asked. After the first failed write no further writes are tried.
class KeyReader {
 public:
  KeyReader(const std::filesystem::path& iniPath, ReceiverSettings& settings,
            ReloadOutcome& outcome)
      : file_(iniPath), settings_(settings), outcome_(outcome) {}

  // False when the capture folder cannot be created.
  bool Read(const ReloadKey& entry) {
    const SettingKey* key = FindSettingKey(entry.name);
    if (key == nullptr) return true;
    const std::string text = file_.ReadString(key->section, key->key, key->defaultText);
    ApplySettingText(*key, text, Program::kWindowed, settings_);
    if (key->rule == SettingRule::kCapturePath &&
        !EnsureCaptureFolder(settings_.capturePath, &outcome_.error)) {
      outcome_.ok = false;
      return false;
    }
    if (entry.writtenBack && writable_) {
      std::string reason;
      if (!WriteSetting(file_, settings_, *key, &reason)) {
        outcome_.warnings.push_back("Cannot write settings to " + file_.path().string() + ": " +
                                    reason);
        writable_ = false;
      }
    }
    return true;
  }

 private:
  ProfileFile file_;
  ReceiverSettings& settings_;
  ReloadOutcome& outcome_;
  bool writable_ = true;
};

}  // namespace

ReloadOutcome ReloadBandCentre(const std::filesystem::path& iniPath, ReceiverSettings& settings) {
  ReloadOutcome outcome;
  KeyReader reader(iniPath, settings, outcome);
  reader.Read({"F_CENTER", true});
  ComputeDerived(settings);
  return outcome;
}

ReloadOutcome ReloadReceiverKeys(const std::filesystem::path& iniPath, ReceiverSettings& settings) {
  static const ReloadKey kKeys[] = {
      {"F_DIAL", false},
      {"N_MAX", false},
      {"MIN_PEAK_SPACE", true},
      {"MYCALL", false},
      {"MYQTH", false},
      {"FILE", false},
      {"CAPTURE_PATH", true},
      {"VESTA_DB_OFFSET", false},
      {"VS_THRESHOLD", false},
      {"CORRELATOR_51_THRESHOLD", false},
      {"CORRELATOR_237_THRESHOLD", false},
      {"VSDS_THRESHOLD", false},
      {"TIME_CALL_BLOCKED", false},
      {"MYHEADER", false},
      {"LIST_SIZE", false},
      {"LIST_THRESHOLD", false},
      {"CORRELATOR_SECOND_OPINION", false},
  };
  ReloadOutcome outcome;
  KeyReader reader(iniPath, settings, outcome);
  for (const ReloadKey& key : kKeys) {
    if (!reader.Read(key)) break;
  }
  return outcome;
}

const std::vector<const char*>& CloseKeys() {
  static const std::vector<const char*> kKeys = {
      "N_MAX",
      "MIN_PEAK_SPACE",
      "CAPTURE_ENABLE",
      "UPLOAD_SPOT",
      "IGNORE_LORAN_LINES",
      "USE_FREQUENCY_LIST",
      "DEEP_DECODER",
      "ULTRA_DEEP_DECODER",
      "LIST_DECODER",
      "USE_KNOWN_CALLSLIST",
      "USE_COHERENT_DETECTOR",
      "USE_CORRELATOR",
      "OSCILLOGRAM_VISIBLE",
      "SPECTRUM_VISIBLE",
      "WATERFALL_VISIBLE",
  };
  return kKeys;
}

bool SaveSettingsOnClose(const std::filesystem::path& iniPath, const ReceiverSettings& settings,
                         std::string* error) {
  ProfileFile file(iniPath);
  for (const char* name : CloseKeys()) {
    const SettingKey* key = FindSettingKey(name);
    if (key == nullptr) continue;
    if (!WriteSetting(file, settings, *key, error)) return false;
  }
  return true;
}

}  // namespace vs32::gui
