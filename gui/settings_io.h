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

// Re-reads, in this order: F_DIAL, N_MAX (clamped), MIN_PEAK_SPACE (clamped,
// written back), MYCALL, MYQTH, FILE, CAPTURE_PATH (folder created when
// missing, written back), VESTA_DB_OFFSET, VS_THRESHOLD,
// CORRELATOR_51_THRESHOLD, CORRELATOR_237_THRESHOLD, VSDS_THRESHOLD,
// TIME_CALL_BLOCKED, MYHEADER (default header when empty). Menu switches,
// the sound device and the reporter keys are left as they are.
ReloadOutcome ReloadReceiverKeys(const std::filesystem::path& iniPath, ReceiverSettings& settings);

// The keys written when the main window closes, in their order.
const std::vector<const char*>& CloseKeys();

// Writes the close keys from `settings` (the menu state). False when the file
// could not be written; `error` says why.
bool SaveSettingsOnClose(const std::filesystem::path& iniPath, const ReceiverSettings& settings,
                         std::string* error = nullptr);

}  // namespace vs32::gui
