#include "receiver/receiver.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <utility>

#include "audio/wav_file.h"
#include "engine/receive_worker.h"

namespace vs32 {

Receiver::Receiver(Program program, ReceiverSettings settings, ResultsOutput& output,
                   ReceiverEvents* events, ResultsOptions options)
    : settings_(std::move(settings)),
      knownCalls_(std::make_unique<KnownCallTable>()),
      loranMask_(std::make_unique<ChannelMask>()),
      alwaysDecodeMask_(std::make_unique<ChannelMask>()),
      slots_(std::make_unique<DecodeSlotTable>()),
      events_(events),
      chain_(std::make_unique<ReceiveChain>(settings_, knownCalls_.get(), loranMask_.get(),
                                            alwaysDecodeMask_.get(), slots_.get(), events)),
      results_(std::make_unique<ResultsProcessor>(program, settings_, *knownCalls_,
                                                  *alwaysDecodeMask_, *slots_, output, nullptr,
                                                  std::move(options))),
      program_(program) {}

// The worker (if any) is stopped by its own destructor before the chain goes.
Receiver::~Receiver() = default;

int Receiver::LoadLists(const std::filesystem::path& folder) {
  const int loaded = LoadKnownCalls(*knownCalls_, settings_.myLocator, folder);
  LoadChannelMasks(settings_, *loranMask_, *alwaysDecodeMask_, folder);
  return loaded;
}

int Receiver::ReloadKnownCalls(const std::filesystem::path& folder) {
  return LoadKnownCalls(*knownCalls_, settings_.myLocator, folder);
}

void Receiver::SetSpotSender(SpotSender* spots) {
  spots_ = spots;
  results_->SetSpotSender(spots);
}

void Receiver::UseReporter(SpotReporter& reporter, ReporterRecord& record) {
  reporterSender_ = std::make_unique<ReporterSpotSender>(reporter, record, settings_, program_);
  SetSpotSender(reporterSender_.get());
}

bool Receiver::SendOwnSpot(float reportDb) {
  if (!spots_ || !settings_.uploadSpots || wavInput()) return false;
  const float frequencyHz = static_cast<float>(settings_.dialHz + settings_.bandStartHz + 50);
  return spots_->Send(settings_.myCall, settings_.myLocator, frequencyHz, reportDb);
}

void Receiver::ResultsTick(float inputLevel) {
  results_->Tick(Now(), inputLevel, wavInput());
}

int Receiver::Now() const {
  return clock_ ? static_cast<int>(clock_()) : static_cast<int>(std::time(nullptr));
}

void Receiver::SetClock(std::function<double()> clock) {
  clock_ = std::move(clock);
  if (worker_) worker_->setClock(clock_);
}

// The worker's figures are read inline: the batch path links without it.
bool Receiver::running() const {
  return worker_ && worker_->running();
}

bool Receiver::workerLooping() const {
  return worker_ && worker_->workerRunning();
}

bool Receiver::wavInput() const {
  return worker_ && worker_->wavInput();
}

bool Receiver::inputEnded() const {
  return worker_ && worker_->inputEnded();
}

long Receiver::blocks() const {
  return worker_ ? worker_->blocks() : 0;
}

long Receiver::DecodeRecording(BlockSource& recording, int timeBase,
                               const std::function<void(long blocks)>& afterBlock, long maxBlocks) {
  chain_->StartRun();
  const int n = chain_->BlockSize();
  long blocks = 0;
  while (blocks < maxBlocks &&
         recording.ReadBlock(chain_->BlockBuffer(), n) == BlockSource::Read::kBlock) {
    chain_->ProcessBlock(timeBase + static_cast<double>(blocks), true);
    ++blocks;
    if (afterBlock) afterBlock(blocks);
    results_->Tick(timeBase + static_cast<int>(blocks), chain_->inputLevel(), true);
  }
  results_->Flush(timeBase + static_cast<int>(blocks));
  return blocks;
}

double Receiver::BandStartForCentre(double centreHz) {
  const SettingKey& key = Setting(SettingId::kBandStartHz);
  return std::clamp(centreHz - 50, key.minValue, key.maxValue);
}

bool Receiver::AppendFrequencyLine(const std::filesystem::path& path, double frequencyHz) {
  // A list that does not exist is not created here.
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  std::FILE* file = std::fopen(path.c_str(), "a");
  if (file == nullptr) return false;
  const bool written = std::fprintf(file, "\n%.3f", static_cast<float>(frequencyHz)) > 0;
  return std::fclose(file) == 0 && written;
}

}  // namespace vs32
