#include "engine/receive_worker.h"

#include <chrono>
#include <exception>

namespace vs32 {
namespace {

double WallClockSeconds() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

ReceiveWorker::ReceiveWorker(ReceiveChain& chain, SoundDevice& sound, WavFile& wav,
                             ReceiverEvents* events)
    : chain_(chain), sound_(sound), wav_(wav), events_(events) {}

ReceiveWorker::~ReceiveWorker() {
  Stop();
}

void ReceiveWorker::Start() {
  if (thread_.joinable()) return;
  stop_.store(false);
  workerRunning_.store(false);
  thread_ = std::thread([this] { Run(); });
}

void ReceiveWorker::Stop() {
  if (!thread_.joinable()) return;
  stop_.store(true);
  sound_.WakeReader();
  if (live_) live_->Wake();
  thread_.join();
  workerRunning_.store(false);
}

bool ReceiveWorker::StartWav(const std::string& path, std::string* error) {
  // From the settings (main thread), not from the chain, whose state the
  // worker rewrites when a run starts.
  const int rate = chain_.settings().inputRate;
  if (!wav_.open(path, "r")) {
    if (error) *error = path + ": " + wav_.error();
    return false;
  }
  if (!wav_.matchesInput(rate)) {
    wav_.close();
    if (error) *error = WavFormatMessage(rate);
    return false;
  }
  sound_.closeInput();
  wavInput_.store(true, std::memory_order_release);
  return true;
}

bool ReceiveWorker::AcquireBlock(bool* fromWav, bool* paced) {
  float* block = chain_.BlockBuffer();
  const int n = chain_.BlockSize();
  *paced = false;
  if (wavInput_.load(std::memory_order_acquire)) {
    if (wav_.ReadBlock(block, n) == BlockSource::Read::kBlock) {
      *fromWav = true;
      return true;
    }
    // End of the recording (a trailing partial block is not processed):
    // back to the sound card.
    wav_.close();
    wavInput_.store(false, std::memory_order_release);
    if (events_) events_->WavEnded();
    sound_.openInput(n, 16, 1, n);
  }
  BlockSource& live = live_ ? *live_ : sound_;
  *fromWav = !live.live();
  // A short read means the input is closed, being reopened, or we are being
  // stopped: never feed a stale block into the histories.
  switch (live.ReadBlock(block, n)) {
    case BlockSource::Read::kBlock:
      *paced = live.live();
      return true;
    case BlockSource::Read::kNone:
      return false;
    case BlockSource::Read::kEnd:
    case BlockSource::Read::kFailed:
      inputEnded_.store(true, std::memory_order_release);
      return false;
  }
  return false;
}

void ReceiveWorker::Run() {
  chain_.StartRun();
  // A recording still open from before the restart goes on only if it suits
  // this run's input rate (the band may have moved to the other path).
  bool wav = wavInput_.load() && wav_.reading();
  if (wav && static_cast<int>(wav_.format().samplesPerSec) != chain_.BlockSize()) {
    wav_.close();
    wav = false;
    if (events_) events_->WavEnded();
  }
  wavInput_.store(wav);
  inputEnded_.store(false);
  blocks_.store(0);
  while (!stop_.load(std::memory_order_acquire) && !inputEnded_.load(std::memory_order_acquire)) {
    workerRunning_.store(true, std::memory_order_relaxed);
    bool paced = false;
    try {
      bool fromWav = false;
      if (AcquireBlock(&fromWav, &paced) && !stop_.load(std::memory_order_acquire)) {
        chain_.ProcessBlock(clock_ ? clock_() : WallClockSeconds(), fromWav);
        blocks_.fetch_add(1, std::memory_order_relaxed);
      }
    } catch (const std::exception&) {
      // A failed pass is abandoned; the next block starts afresh.
    }
    // A live source that delivered has set the pace already.
    if (!paced) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

}  // namespace vs32
