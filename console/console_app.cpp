#include "console/console_app.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string_view>

#include "audio/pipe_source.h"
#include "audio/sound_device.h"
#include "audio/wav_file.h"
#include "console/console_texts.h"
#include "report/decode_log.h"
#include "report/send_spot.h"

namespace vs32 {
namespace {

constexpr auto kSpinnerStep = std::chrono::milliseconds(75);
// Audio counts as coming in while the worker has processed a block this recently.
constexpr auto kInputSilence = std::chrono::seconds(3);
constexpr auto kStatusLinePeriod = std::chrono::minutes(10);
constexpr auto kServiceStatusPeriod = std::chrono::seconds(10);

ScreenMode ChooseMode(const ConsoleIo& io) {
  if (io.mode) return *io.mode;
  return ::isatty(io.outFd) ? ScreenMode::kTerminal : ScreenMode::kPlain;
}

}  // namespace

void ConsoleEvents::WavEnded() {
  screen_.ClearRow(kMessageRow);
}

void ConsoleEvents::Ambiguity(const char* text) {
  screen_.PrintAt(kAmbiguityColumn, kMessageRow, AmbiguityField(text ? text : ""));
}

void ConsoleEvents::Warning(const char* text, const char* /*caption*/) {
  Once(text ? text : "");
}

void ConsoleEvents::Once(std::string_view text) {
  const std::string message(text);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& s : shown_) {
      if (s == message) return;
    }
    shown_.push_back(message);
  }
  screen_.Warning(message);
}

void ConsoleOutput::SetJson(std::string liveFile, std::string recording) {
  json_ = true;
  liveFile_ = std::move(liveFile);
  recording_ = std::move(recording);
}

void ConsoleOutput::ShowLine(std::string_view line) {
  ++decodes_;
  if (json_) return;  // written by Decode, which follows
  text_.assign(line);
  text_ += '\n';
  screen_.InsertLine(kDecodeRow, text_);
}

void ConsoleOutput::Decode(const DecodeReport& r) {
  if (!json_ || r.hidden) return;
  screen_.InsertLine(kDecodeRow, DecodeJson(r.fromWav ? recording_ : liveFile_, r.reportedAt,
                                            r.call, r.frequencyHz, r.distanceKm, r.ebNoDb, r.snrDb,
                                            r.attempts, r.result, r.mark));
}

void ConsoleOutput::WriteFailed(std::string_view reason) {
  events_.Once(reason);
}

ConsoleApp::ConsoleApp(ConsoleIo io, StopSignals& stop)
    : io_(std::move(io)),
      stop_(stop),
      screen_(io_.outFd, ChooseMode(io_), io_.errFd, io_.textToErr),
      // Keys only for a screen: plain lines never wait, and leave the terminal be.
      keys_(ChooseMode(io_) == ScreenMode::kTerminal ? io_.inFd : -1),
      events_(screen_),
      output_(screen_, events_) {}

ConsoleApp::~ConsoleApp() {
  Shutdown(false);
}

bool ConsoleApp::workerLooping() const {
  return receiver_ && receiver_->workerLooping();
}

int ConsoleApp::StopAfterMessage(int exitCode) {
  if (screen_.terminal()) keys_.WaitForKey(stop_.fd());
  Shutdown(false);
  return exitCode;
}

int ConsoleApp::RunWith(const ConsoleOptions& options) {
  options_ = options;
  const std::string& argument = options_.wavPath;

  // 1. Banner.
  screen_.Clear();
  screen_.PrintAt(1, kBannerRow, std::string(kConsoleBanner) + "\n");

  // 2. Help words.
  if (options_.action == ConsoleOptions::Action::kHelpWord) {
    screen_.PrintAt(1, kSummaryRow, kConsoleUsage);
    return StopAfterMessage(0);
  }
  if (options_.action != ConsoleOptions::Action::kRun) {
    // Left to main(); here only for a caller that did not.
    screen_.Warning(options_.error.empty() ? std::string("Vs32RxC: nothing to run")
                                           : options_.error);
    return StopAfterMessage(options_.action == ConsoleOptions::Action::kUsageError ? 2 : 1);
  }

  // 3. Settings, then the reporter. Without a call and locator the run stops at
  // step 11 and could not report anything: no name look-up, no socket then.
  IniEnvironment environment = io_.environment;
  if (options_.config) environment.commandLine = *options_.config;
  const IniChoice ini = ChooseIniPath(ProgramName(Program::kConsole), environment);
  iniPath_ = ini.path;
  screen_.Message(ini.message);
  // A file that is there but cannot be read would silently give every default.
  std::error_code folderError;
  if (std::filesystem::is_directory(iniPath_, folderError)) {
    screen_.Warning("Cannot read settings file " + iniPath_.string() + ": it is a folder");
    return StopAfterMessage(1);
  }
  if (std::FILE* file = std::fopen(iniPath_.c_str(), "rb")) {
    std::fclose(file);
  } else if (errno != ENOENT) {
    screen_.Warning("Cannot read settings file " + iniPath_.string() + ": " + std::strerror(errno));
    return StopAfterMessage(1);
  }
  const LoadResult loaded = LoadSettings(Program::kConsole, iniPath_, settings_);
  for (const auto& warning : loaded.warnings) screen_.Warning(warning);
  reporter_ = std::make_unique<SpotReporter>();
  StoreReporterAddress(record_, settings_.reporterHost, settings_.reporterPort);
  const bool stationSet = !settings_.myCall.empty() && !settings_.myLocator.empty();
  if (settings_.uploadSpots && stationSet && InitializeReporter(*reporter_, record_) != 0) {
    screen_.Warning("PSKReporter Init Error: " + ReporterMessage(*reporter_));
  }

  // 4 to 6. Input, decoder and detector.
  std::vector<std::string> names;
  const std::string deviceText =
      options_.device ? *options_.device : std::to_string(settings_.soundDevice);
  std::string inputField;
  if (options_.stdinInput) {
    inputField = "Input: standard input\t";
  } else {
    if (deviceText != "-1") names = SoundDevice::InputDeviceNames();
    const std::optional<int> device = FindInputDevice(deviceText, names);
    inputField = device ? InputField(*device, names) : "Input: " + deviceText + " (not present)\t";
  }
  screen_.PrintAt(1, kSummaryRow, inputField + DecoderFields(settings_));

  // 7. Sound input and output (a device that cannot be opened says so once,
  // and is tried again while the program runs). Standard input is read once
  // the station is known to be set (step 13).
  sound_ = std::make_unique<SoundDevice>(ForwardWarnings(&events_));
  if (!options_.stdinInput) OpenSound(deviceText);
  sound_->openOutput(12000, 16, 1, 12000);

  // 8, 9. The receiver (its WAV reader among its parts) and the station lists.
  receiver_ = std::make_unique<Receiver>(Program::kConsole, settings_, output_, &events_);
  receiver_->LoadLists();

  // 10. Dial, centre and peak spacing.
  screen_.PrintAt(1, kStationRow, StationLine(settings_));

  // 11. Without a station call and locator nothing is started.
  if (!stationSet) {
    // A sound warning may have taken the message row since step 3; the user
    // has to know which file to edit. (Plain output still holds that line.)
    if (screen_.terminal()) {
      screen_.Message(ini.message);
      screen_.PrintAt(1, kMessageRow, kEmptyCallMessage);
    } else {
      screen_.Warning(kEmptyCallMessage);
    }
    return StopAfterMessage(1);
  }

  // 12. Column header.
  screen_.PrintAt(
      1, kHeaderRow,
      std::string(kConsoleSeparator) + std::string(kConsoleColumns) + std::string(kConsoleDashes));

  // 13. Decode log; audio on standard input.
  receiver_->UseReporter(*reporter_, record_);
  if (options_.json) output_.SetJson(options_.stdinInput ? "-" : "", argument);
  std::string logError;
  if (receiver_->results().EnsureLog(&logError) == LogCreation::kFailed) screen_.Warning(logError);
  if (options_.stdinInput && !OpenStandardInput()) {
    if (stop_.requested()) {
      Shutdown(false);
      return 0;
    }
    return StopAfterMessage(1);
  }

  // 14. Receive worker.
  receiver_->AttachSound(*sound_);
  // Tries again from now on (not before: a run that stops for its settings
  // would promise a try it never makes).
  if (retry_) retry_->Started(sound_->inputOpen(), SoundRetry::Clock::now());
  receiver_->Start(pipe_.get());
  workerStarted_.store(true, std::memory_order_release);
  notify_.Ready(StatusText(Figures(false)));

  // 15. The station's own spot.
  receiver_->SendOwnSpot(0.0f);

  // 16. The WAV file of the command line.
  if (!argument.empty() && !StartWav(argument)) return StopAfterMessage(1);

  // 17.
  MainLoop();
  int exitCode = 0;
  if (receiver_->inputEnded()) {
    // The last decodes first, then the word on why the program ends.
    receiver_->Stop();
    const std::string error = pipe_ ? pipe_->error() : std::string();
    if (error.empty()) {
      screen_.Message("End of input");
    } else {
      screen_.Warning("Standard input: " + error);
      exitCode = 1;
    }
  }
  notify_.Stopping(!receiver_->inputEnded() ? "stopped"
                   : exitCode == 0          ? "end of input"
                                            : "input failed");
  Shutdown(true);
  return exitCode;
}

bool ConsoleApp::OpenSound(const std::string& deviceText) {
  const std::string name = "\"" + deviceText + "\"";
  SoundRetry::Input input;
  input.open = [this, deviceText] {
    // Numbers change as USB devices come and go: a name is looked up anew.
    std::vector<std::string> names;
    if (!IsDeviceNumber(deviceText)) names = SoundDevice::InputDeviceNames();
    const std::optional<int> device = FindInputDevice(deviceText, names);
    if (!device) return false;
    sound_->setInputDevice(*device);
    return sound_->openInput(settings_.inputRate, 16, 1, settings_.inputRate);
  };
  input.close = [this] { sound_->closeInput(); };
  input.isOpen = [this] { return sound_->inputOpen(); };
  input.lastDelivery = [this] { return sound_->lastDelivery(); };
  retry_ = std::make_unique<SoundRetry>(input, deviceText == "-1" ? "(default)" : name,
                                        [this](const std::string& text) { screen_.Warning(text); });
  const bool opened = input.open();
  // (Said by the sound device when it tried; a name that matches nothing is said here.)
  if (!opened) events_.Once(SoundDevice::kInputFailedText);
  return opened;
}

bool ConsoleApp::OpenStandardInput() {
  pipe_ = std::make_unique<PipeSource>(io_.inFd);
  const int rate = settings_.inputRate;
  if (options_.rawRate > 0) {
    pipe_->OpenRaw(options_.rawRate);
  } else if (!pipe_->OpenWav(stop_.fd())) {
    if (stop_.requested()) return false;
    screen_.Warning(
        "ERROR: standard input: " + pipe_->error() +
        (pipe_->error().find("RIFF") != std::string::npos ? " (raw samples need --rate)" : ""));
    return false;
  }
  if (!pipe_->matchesInput(rate)) {
    // The rule for recordings, and the same words.
    screen_.Warning(WavErrorMessage("standard input", options_.rawRate > 0
                                                          ? "--rate must be " + std::to_string(rate)
                                                          : WavFormatMessage(rate)));
    return false;
  }
  screen_.Message("> reading standard input");
  return true;
}

bool ConsoleApp::StartWav(const std::string& path) {
  std::string error;
  // A file that cannot be opened at all is said in the system's words; the
  // line names the path once, as typed.
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    std::fclose(file);
    if (receiver_->StartWav(path, &error)) {
      screen_.Message(ProcessingFileMessage(path));
      return true;
    }
    const std::string prefix = path + ": ";
    if (error.compare(0, prefix.size(), prefix) == 0) error.erase(0, prefix.size());
  } else {
    error = std::string("cannot be read: ") + std::strerror(errno);
  }
  screen_.Warning(WavErrorMessage(path, error));
  return false;
}

StatusFigures ConsoleApp::Figures(bool input) const {
  StatusFigures f;
  f.input = input;
  if (receiver_) {
    f.inputLevel = receiver_->chain().inputLevel();
    f.peaks = receiver_->chain().peakCount();
  }
  f.decodes = output_.decodes();
  if (reporter_) {
    const ReporterCounters counters = reporter_->Counters();
    f.spotsSent = counters.spotsSent;
    f.spotsQueued = counters.spotsQueued;
  }
  if (receiver_) f.knownCalls = receiver_->knownCalls().size();
  return f;
}

void ConsoleApp::MainLoop() {
  using Clock = std::chrono::steady_clock;
  char buf[64];
  int spin = 0;
  long lastBlocks = -1;
  Clock::time_point lastBlockAt = Clock::now() - kInputSilence;
  Clock::time_point nextStatusLine = Clock::now() + kStatusLinePeriod;
  Clock::time_point nextServiceStatus = Clock::now() + kServiceStatusPeriod;
  while (!stop_.requested()) {
    const Clock::time_point now = Clock::now();
    const long blocks = receiver_->blocks();
    if (blocks != lastBlocks) {
      if (lastBlocks >= 0 || blocks > 0) lastBlockAt = now;
      lastBlocks = blocks;
    }
    const bool input = now - lastBlockAt < kInputSilence;
    // Without audio the worker's level is a start value, not a measurement:
    // nothing to report in the station's own spots.
    const ReceiveChain& chain = receiver_->chain();
    receiver_->ResultsTick(input ? chain.inputLevel() : 0.0f);
    if (receiver_->inputEnded()) return;
    if (retry_) retry_->Poll(now, receiver_->wavInput());
    notify_.Poll(now, blocks);
    if (now >= nextServiceStatus) {
      notify_.Status(StatusText(Figures(input)));
      nextServiceStatus = now + kServiceStatusPeriod;
    }
    if (!screen_.terminal() && now >= nextStatusLine) {
      screen_.Message(UtcText(std::time(nullptr)) + "  status: " + StatusText(Figures(input)));
      nextStatusLine = now + kStatusLinePeriod;
    }
    for (int i = 0; i < 4; ++i) {
      screen_.ShowLive(1, kMessageRow, std::string_view(&kSpinner[spin], 1));
      spin = (spin + 1) % 4;
      if (stop_.WaitFor(kSpinnerStep)) return;
    }
    screen_.ShowLive(kPeaksColumn, kSummaryRow,
                     std::string_view(buf, FormatPeaks(buf, sizeof buf, chain.peakCount())));
    if (!input) {
      screen_.ShowLive(kLevelColumn, kStationRow, kNoInputField);
      continue;
    }
    const size_t n = FormatLevel(buf, sizeof buf, chain.inputLevel(), chain.blankedCount());
    if (n > 0) screen_.ShowLive(kLevelColumn, kStationRow, std::string_view(buf, n));
  }
}

void ConsoleApp::Shutdown(bool mainLoopRan) {
  if (shutDown_) return;
  shutDown_ = true;
  // Decodes from the last seconds are still waiting to go quiet; with the
  // worker stopped they are final, so they are shown, logged and spotted now.
  // (A run stopped before the main loop began is dropped.)
  if (receiver_) receiver_->Stop(mainLoopRan);
  if (sound_) {
    sound_->closeInput();
    sound_->closeOutput();
  }
  if (reporter_) reporter_->Flush();
  screen_.Finish(mainLoopRan);
  keys_.Restore();
}

}  // namespace vs32
