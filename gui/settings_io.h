// The windowed program's settings traffic after start-up: the keys re-read when
// the settings dialog is applied, and the menu state saved when the window closes.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "config/settings.h"

namespace vs32::gui {

struct ReloadOutcome {
  // False when the capture folder could not be created; `error` holds the text
  // to show ("Cannot create <path> directory.") and the keys after
  // CAPTURE_PATH were not re-read.
  bool ok = true;
  std::string error;
  // "Cannot write settings to <path>: <reason>", at most once.
  std::vector<std::string> warnings;
};

// Re-reads F_CENTER (clamped, written back) and recomputes the derived input
// rate and mixer steps. The caller reopens the sound input at the new rate.
ReloadOutcome ReloadBandCentre(const std::filesystem::path& iniPath, ReceiverSettings& settings);

// Re-reads the other keys of the reload pass (KeyPass::kReload) in its order,
// writing back those marked so; CAPTURE_PATH's folder is created when missing.
// Menu switches, the sound device and the reporter keys are left as they are.
ReloadOutcome ReloadReceiverKeys(const std::filesystem::path& iniPath, ReceiverSettings& settings);

// Writes the close-time keys (KeyPass::kCloseSave) from `settings` (the menu state). False when the
// file could not be written; `error` says why.
bool SaveSettingsOnClose(const std::filesystem::path& iniPath, const ReceiverSettings& settings,
                         std::string* error = nullptr);

}  // namespace vs32::gui
