// The console receiver: start-up, the WAV command, the main loop and the
// shutdown of Vs32RxC, apart from main() so that tests can run it in-process.
//
// Start-up (in this order): clear the screen and show the banner; answer a help
// word; read the INI file; show input, decoder and detector (row 2); open the
// sound input and output; load the list files; show dial, centre and peak
// spacing (row 3); stop when MYCALL or MYQTH is empty; draw the column header
// (rows 5 to 7); create the decode log when missing; start the receive worker;
// send the station's own spot; decode the WAV file named on the command line.
// Then the main loop: a results pass (new decode lines at row 8), the spinner,
// the number of peaks and the input level, about every 300 ms, until a stop
// signal (Ctrl+C, SIGTERM, SIGHUP) or the end of audio on standard input.
//
// Unattended (plain lines, a service): no key is waited for, a sound input
// that cannot be opened or stops is tried again (SoundRetry), a status line
// comes every 10 minutes, and a service manager hears how the receiver is
// (ServiceNotify). Exit status: 0 stopped or input ended, 1 settings, option
// value or input error.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/ini_path.h"
#include "config/list_files.h"
#include "config/settings.h"
#include "console/console_input.h"
#include "console/console_options.h"
#include "console/console_screen.h"
#include "console/console_texts.h"
#include "console/service_notify.h"
#include "console/sound_retry.h"
#include "engine/known_calls.h"
#include "engine/receiver_events.h"
#include "receiver/receiver.h"
#include "report/psk_reporter.h"
#include "report/results.h"

namespace vs32 {

class SoundDevice;
class PipeSource;

// Where the program talks to and which settings file it picks.
struct ConsoleIo {
  int outFd = 1;
  int inFd = 0;   // keys, or the audio of --input -
  int errFd = 2;  // plain mode: warnings and errors (-1: outFd)
  // Default: a terminal screen when outFd is a terminal, plain lines otherwise.
  std::optional<ScreenMode> mode;
  // Plain mode: texts other than decodes go to errFd (standard output carries
  // JSON decodes only).
  bool textToErr = false;
  IniEnvironment environment = CurrentIniEnvironment();
};

// Writes what the receive worker reports (it calls from its own thread).
class ConsoleEvents : public ReceiverEvents {
 public:
  explicit ConsoleEvents(ConsoleScreen& screen) : screen_(screen) {}
  // Clears the message row (the "> processing file" line).
  void WavEnded() override;
  // " <best> or <rival>?" at row 4, column 50.
  void Ambiguity(const char* text) override;
  // On the message row, each distinct text once per run.
  void Warning(const char* text, const char* caption) override;
  void Once(std::string_view text);

 private:
  ConsoleScreen& screen_;
  std::mutex mutex_;
  std::vector<std::string> shown_;
};

// Decode lines from the results pass: inserted at row 8, newest first.
class ConsoleOutput : public ResultsOutput {
 public:
  ConsoleOutput(ConsoleScreen& screen, ConsoleEvents& events) : screen_(screen), events_(events) {}
  void ShowLine(std::string_view line) override;
  // With JSON output: each shown decode as a JSON line instead of its text.
  void Decode(const DecodeReport& report) override;
  // A log or list file that cannot be written is said once on the message row.
  void WriteFailed(std::string_view reason) override;

  // JSON lines instead of text lines; `file` names the audio's source (see
  // DecodeJson), `recording` the file decoded first.
  void SetJson(std::string liveFile, std::string recording);
  long decodes() const { return decodes_; }

 private:
  ConsoleScreen& screen_;
  ConsoleEvents& events_;
  std::string text_;
  bool json_ = false;
  std::string liveFile_;
  std::string recording_;
  long decodes_ = 0;
};

class ConsoleApp {
 public:
  // `stop` is made in main() before any thread starts.
  ConsoleApp(ConsoleIo io, StopSignals& stop);
  ~ConsoleApp();
  ConsoleApp(const ConsoleApp&) = delete;
  ConsoleApp& operator=(const ConsoleApp&) = delete;

  // The program after the --version, --help and --devices check. Returns the
  // exit code.
  int RunWith(const ConsoleOptions& options);
  // The same from the arguments (without the program name).
  int Run(const std::vector<std::string>& args) { return RunWith(ParseConsoleArguments(args)); }

  // For tests: how far the run got.
  bool workerStarted() const { return workerStarted_.load(std::memory_order_acquire); }
  const ReceiverSettings& settings() const { return settings_; }
  const std::filesystem::path& iniPath() const { return iniPath_; }
  const SpotReporter* reporter() const { return reporter_.get(); }
  // Set before workerStarted() turns true.
  DecodeSlotTable* slots() const { return receiver_ ? &receiver_->decodeSlots() : nullptr; }
  // Once workerStarted(): true when the worker's run has begun (its slot table
  // cleared) and it reads input.
  bool workerLooping() const;

 private:
  // Waits for a key (on a terminal screen only) and shuts down. Returns
  // `exitCode`.
  int StopAfterMessage(int exitCode);
  bool StartWav(const std::string& path);
  bool OpenStandardInput();
  bool OpenSound(const std::string& deviceText);
  void MainLoop();
  // The figures of the status line; `input`: audio blocks are coming in.
  StatusFigures Figures(bool input) const;
  void Shutdown(bool mainLoopRan);

  ConsoleIo io_;
  ConsoleOptions options_;
  StopSignals& stop_;
  ConsoleScreen screen_;
  TerminalKeys keys_;
  ConsoleEvents events_;
  ConsoleOutput output_;
  ReceiverSettings settings_;
  std::filesystem::path iniPath_;
  std::atomic<bool> workerStarted_{false};
  bool shutDown_ = false;

  std::unique_ptr<SpotReporter> reporter_;
  ReporterRecord record_{};
  std::unique_ptr<SoundDevice> sound_;
  std::unique_ptr<SoundRetry> retry_;
  std::unique_ptr<PipeSource> pipe_;
  ServiceNotify notify_;
  // Reads sound_ or pipe_: made after them, so it goes first.
  std::unique_ptr<Receiver> receiver_;
};

}  // namespace vs32
