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
// signal (Ctrl+C, SIGTERM, SIGHUP).
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/ini_path.h"
#include "config/known_calls.h"
#include "config/list_files.h"
#include "config/settings.h"
#include "console/console_input.h"
#include "console/console_screen.h"
#include "engine/receiver_events.h"
#include "report/psk_reporter.h"
#include "report/results.h"

namespace vs32 {

class SoundDevice;
class WavFile;
class ReceiveChain;
class ReceiveWorker;
class DecodeSlotTable;

// Where the program talks to and which settings file it picks.
struct ConsoleIo {
  int outFd = 1;
  int inFd = 0;
  // Default: a terminal screen when outFd is a terminal, plain lines otherwise.
  std::optional<ScreenMode> mode;
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
  // A log or list file that cannot be written is said once on the message row.
  void WriteFailed(std::string_view reason) override;

 private:
  ConsoleScreen& screen_;
  ConsoleEvents& events_;
  std::string text_;
};

class ConsoleApp {
 public:
  // `stop` is made in main() before any thread starts.
  ConsoleApp(ConsoleIo io, StopSignals& stop);
  ~ConsoleApp();
  ConsoleApp(const ConsoleApp&) = delete;
  ConsoleApp& operator=(const ConsoleApp&) = delete;

  // The program after the --version and --help check: `args` without the
  // program name. Returns the exit code.
  int Run(const std::vector<std::string>& args);

  // For tests: how far the run got.
  bool workerStarted() const { return workerStarted_.load(std::memory_order_acquire); }
  const ReceiverSettings& settings() const { return settings_; }
  const std::filesystem::path& iniPath() const { return iniPath_; }
  const SpotReporter* reporter() const { return reporter_.get(); }
  // Set before workerStarted() turns true.
  DecodeSlotTable* slots() const { return slots_.get(); }
  // Once workerStarted(): true when the worker's run has begun (its slot table
  // cleared) and it reads input.
  bool workerLooping() const;

 private:
  // Prints the text, waits for a key (not when input is not a terminal) and
  // shuts down. The exit code.
  int StopAfterMessage();
  bool StartWav(const std::string& path);
  void MainLoop();
  void Shutdown(bool mainLoopRan);

  ConsoleIo io_;
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
  std::unique_ptr<ReporterSpotSender> spotSender_;
  std::unique_ptr<SoundDevice> sound_;
  std::unique_ptr<WavFile> wav_;
  std::unique_ptr<KnownCallTable> knownCalls_;
  std::unique_ptr<ChannelMask> loranMask_;
  std::unique_ptr<ChannelMask> alwaysDecodeMask_;
  std::unique_ptr<DecodeSlotTable> slots_;
  std::unique_ptr<ReceiveChain> chain_;
  std::unique_ptr<ReceiveWorker> worker_;
  std::unique_ptr<ResultsProcessor> results_;
};

}  // namespace vs32
