#include "gui/settings_io.h"

#include "config/profile_file.h"

namespace vs32::gui {

namespace {

// Reads one key into the settings the way start-up does, and writes it back
// when its reload column says so. After the first failed write no further
// writes are tried.
class KeyReader {
 public:
  KeyReader(const std::filesystem::path& iniPath, ReceiverSettings& settings,
            ReloadOutcome& outcome)
      : file_(iniPath), settings_(settings), outcome_(outcome) {}

  // False when the capture folder cannot be created.
  bool Read(const SettingKey& key) {
    const std::string text = file_.ReadString(key.section, key.key, key.defaultText);
    ApplySettingText(key, text, Program::kWindowed, settings_);
    if (key.rule == SettingRule::kCapturePath &&
        !EnsureCaptureFolder(settings_.capturePath, &outcome_.error)) {
      outcome_.ok = false;
      return false;
    }
    if (key.reloadWriteBack && writable_) {
      std::string reason;
      if (!WriteSetting(file_, settings_, key, &reason)) {
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
  reader.Read(Setting(SettingId::kBandStartHz));
  ComputeDerived(settings);
  return outcome;
}

ReloadOutcome ReloadReceiverKeys(const std::filesystem::path& iniPath, ReceiverSettings& settings) {
  ReloadOutcome outcome;
  KeyReader reader(iniPath, settings, outcome);
  for (const SettingKey* key : PassKeys(KeyPass::kReload)) {
    // Re-read on its own before the sound input reopens.
    if (key->id == SettingId::kBandStartHz) continue;
    if (!reader.Read(*key)) break;
  }
  return outcome;
}

bool SaveSettingsOnClose(const std::filesystem::path& iniPath, const ReceiverSettings& settings,
                         std::string* error) {
  ProfileFile file(iniPath);
  for (const SettingKey* key : PassKeys(KeyPass::kCloseSave)) {
    if (!WriteSetting(file, settings, *key, error)) return false;
  }
  return true;
}

}  // namespace vs32::gui
