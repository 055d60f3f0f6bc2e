#include "console/console_app.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>

#include "audio/sound_device.h"
#include "audio/wav_file.h"
#include "console/console_texts.h"
#include "engine/decode_slots.h"
#include "engine/receive_chain.h"
#include "engine/receive_worker.h"
#include "report/decode_log.h"
#include "report/send_spot.h"

namespace vs32 {
namespace {

constexpr auto kSpinnerStep = std::chrono::milliseconds(75);

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
  screen_.Message(message);
}

void ConsoleOutput::ShowLine(std::string_view line) {
  text_.assign(line);
  text_ += '\n';
  screen_.InsertLine(kDecodeRow, text_);
}

void ConsoleOutput::WriteFailed(std::string_view reason) {
  events_.Once(reason);
}

ConsoleApp::ConsoleApp(ConsoleIo io, StopSignals& stop)
    : io_(std::move(io)),
      stop_(stop),
      screen_(io_.outFd, ChooseMode(io_)),
      keys_(io_.inFd),
      events_(screen_),
      output_(screen_, events_) {}

ConsoleApp::~ConsoleApp() {
  Shutdown(false);
}

bool ConsoleApp::workerLooping() const {
  return worker_ && worker_->workerRunning();
}

int ConsoleApp::StopAfterMessage() {
  keys_.WaitForKey(stop_.fd());
  Shutdown(false);
  return 0;
}

int ConsoleApp::Run(const std::vector<std::string>& args) {
  const std::string argument = args.empty() ? std::string() : args[0];

  // 1. Banner.
  screen_.Clear();
  screen_.PrintAt(1, kBannerRow, std::string(kConsoleBanner) + "\n");

  // 2. Help words.
  if (!args.empty() && IsHelpWord(argument)) {
    screen_.PrintAt(1, kSummaryRow, kConsoleUsage);
    return StopAfterMessage();
  }

  // 3. Settings, then the reporter. Without a call and locator the run stops at
  // step 11 and could not report anything: no name look-up, no socket then.
  const IniChoice ini = ChooseIniPath(ProgramName(Program::kConsole), io_.environment);
  iniPath_ = ini.path;
  screen_.Message(ini.message);
  const LoadResult loaded = LoadSettings(Program::kConsole, iniPath_, settings_);
  for (const auto& warning : loaded.warnings) screen_.Message(warning);
  reporter_ = std::make_unique<SpotReporter>();
  StoreReporterAddress(record_, settings_.reporterHost, settings_.reporterPort);
  const bool stationSet = !settings_.myCall.empty() && !settings_.myLocator.empty();
  if (settings_.uploadSpots && stationSet && InitializeReporter(*reporter_, record_) != 0) {
    screen_.Message("PSKReporter Init Error: " + ReporterMessage(*reporter_));
  }

  // 4 to 6. Input, decoder and detector.
  std::vector<std::string> names;
  if (settings_.soundDevice != SoundDevice::kDefaultDevice) names = SoundDevice::InputDeviceNames();
  screen_.PrintAt(1, kSummaryRow,
                  InputField(settings_.soundDevice, names) + DecoderFields(settings_));

  // 7. Sound input and output (a device that cannot be opened says so once).
  sound_ = std::make_unique<SoundDevice>(&events_);
  sound_->setInputDevice(settings_.soundDevice);
  sound_->openInput(settings_.inputRate, 16, 1, settings_.inputRate);
  sound_->openOutput(12000, 16, 1, 12000);

  // 8. WAV reader.
  wav_ = std::make_unique<WavFile>();

  // 9. Station lists.
  knownCalls_ = std::make_unique<KnownCallTable>();
  loranMask_ = std::make_unique<ChannelMask>();
  alwaysDecodeMask_ = std::make_unique<ChannelMask>();
  LoadKnownCalls(*knownCalls_, settings_.myLocator);
  LoadChannelMasks(settings_, *loranMask_, *alwaysDecodeMask_);

  // 10. Dial, centre and peak spacing.
  screen_.PrintAt(1, kStationRow, StationLine(settings_));

  // 11. Without a station call and locator nothing is started.
  if (!stationSet) {
    // A sound warning may have taken the message row since step 3; the user
    // has to know which file to edit. (Plain output still holds that line.)
    if (screen_.terminal()) screen_.Message(ini.message);
    screen_.PrintAt(1, kMessageRow, kEmptyCallMessage);
    return StopAfterMessage();
  }

  // 12. Column header.
  screen_.PrintAt(
      1, kHeaderRow,
      std::string(kConsoleSeparator) + std::string(kConsoleColumns) + std::string(kConsoleDashes));

  // 13. Decode log.
  slots_ = std::make_unique<DecodeSlotTable>();
  spotSender_ =
      std::make_unique<ReporterSpotSender>(*reporter_, record_, settings_, Program::kConsole);
  results_ =
      std::make_unique<ResultsProcessor>(Program::kConsole, settings_, *knownCalls_,
                                         *alwaysDecodeMask_, *slots_, output_, spotSender_.get());
  std::string logError;
  if (results_->EnsureLog(&logError) == LogCreation::kFailed) screen_.Message(logError);

  // 14. Receive worker.
  chain_ = std::make_unique<ReceiveChain>(settings_, knownCalls_.get(), loranMask_.get(),
                                          alwaysDecodeMask_.get(), slots_.get(), &events_);
  worker_ = std::make_unique<ReceiveWorker>(*chain_, *sound_, *wav_, &events_);
  worker_->Start();
  workerStarted_.store(true, std::memory_order_release);

  // 15. The station's own spot.
  if (settings_.uploadSpots) {
    spotSender_->Send(settings_.myCall, settings_.myLocator,
                      static_cast<float>(settings_.dialHz + settings_.bandStartHz + 50), 0.0f);
  }

  // 16. The WAV file of the command line.
  if (!argument.empty() && !StartWav(argument)) return StopAfterMessage();

  // 17.
  MainLoop();
  Shutdown(true);
  return 0;
}

bool ConsoleApp::StartWav(const std::string& path) {
  std::string error;
  // A file that cannot be opened at all is said in the system's words; the
  // line names the path once, as typed.
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    std::fclose(file);
    if (worker_->StartWav(path, &error)) {
      screen_.Message(ProcessingFileMessage(path));
      return true;
    }
    const std::string prefix = path + ": ";
    if (error.compare(0, prefix.size(), prefix) == 0) error.erase(0, prefix.size());
  } else {
    error = std::string("cannot be read: ") + std::strerror(errno);
  }
  screen_.Message(WavErrorMessage(path, error));
  return false;
}

void ConsoleApp::MainLoop() {
  char buf[64];
  int spin = 0;
  while (!stop_.requested()) {
    results_->Tick(static_cast<int>(std::time(nullptr)), chain_->inputLevel(), worker_->wavInput());
    for (int i = 0; i < 4; ++i) {
      screen_.ShowLive(1, kMessageRow, std::string_view(&kSpinner[spin], 1));
      spin = (spin + 1) % 4;
      if (stop_.WaitFor(kSpinnerStep)) return;
    }
    screen_.ShowLive(kPeaksColumn, kSummaryRow,
                     std::string_view(buf, FormatPeaks(buf, sizeof buf, chain_->peakCount())));
    const size_t n = FormatLevel(buf, sizeof buf, chain_->inputLevel(), chain_->blankedCount());
    if (n > 0) screen_.ShowLive(kLevelColumn, kStationRow, std::string_view(buf, n));
  }
}

void ConsoleApp::Shutdown(bool mainLoopRan) {
  if (shutDown_) return;
  shutDown_ = true;
  if (worker_) worker_->Stop();
  // Decodes from the last seconds are still waiting to go quiet; with the
  // worker stopped they are final, so they are shown, logged and spotted now.
  if (mainLoopRan && results_) results_->Flush(static_cast<int>(std::time(nullptr)));
  worker_.reset();
  chain_.reset();
  if (wav_) wav_->close();
  if (sound_) {
    sound_->closeInput();
    sound_->closeOutput();
  }
  if (reporter_) reporter_->Flush();
  screen_.Finish(mainLoopRan);
  keys_.Restore();
}

}  // namespace vs32
