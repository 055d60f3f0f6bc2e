// The receive worker: a thread that feeds one-second blocks from the sound card
// (or another live block source) or a WAV file through the receive chain until
// it is asked to stop or the live source ends.
//
// Stop = request + wake a reader blocked on the sound device + join; a stop
// therefore waits for at most the block in progress. No thread is ever killed.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "audio/block_source.h"
#include "audio/sound_device.h"
#include "audio/wav_file.h"
#include "engine/receive_chain.h"
#include "engine/receiver_events.h"

namespace vs32 {

class ReceiveWorker {
 public:
  ReceiveWorker(ReceiveChain& chain, SoundDevice& sound, WavFile& wav, ReceiverEvents* events);
  ~ReceiveWorker();
  ReceiveWorker(const ReceiveWorker&) = delete;
  ReceiveWorker& operator=(const ReceiveWorker&) = delete;

  // Starts a run (a fresh chain state) on a new thread; no effect while running.
  // The sound input should already be open at the chain's input rate.
  void Start();
  // Stops the run and waits for the thread; no effect when not running.
  void Stop();
  bool running() const { return thread_.joinable(); }
  // Set by the worker at the top of every loop pass.
  bool workerRunning() const { return workerRunning_.load(std::memory_order_relaxed); }

  // The WAV command: opens `path`, checks that it holds 16-bit samples at the
  // chain's input rate, closes the sound input and switches the worker to the
  // file. On failure returns false with the message to show (the format
  // message "WAV-file must be 12000 sps, 16 bit!", or why the file could not
  // be read) and leaves the input as it was. Main thread only.
  bool StartWav(const std::string& path, std::string* error);

  // Blocks come from the WAV file (set by StartWav, cleared at its end and at
  // the start of a run).
  bool wavInput() const { return wavInput_.load(std::memory_order_acquire); }

  // Live blocks come from `source` (not owned; e.g. audio on standard input)
  // instead of the sound card; null: the sound card. Set while no run goes on.
  void SetLiveSource(BlockSource* source) { live_ = source; }
  // The live source has ended or failed: the run has stopped reading (it ends
  // with Stop). Its error() says why when it failed.
  bool inputEnded() const { return inputEnded_.load(std::memory_order_acquire); }

  // Blocks processed in the current run.
  long blocks() const { return blocks_.load(std::memory_order_relaxed); }

  // The time (seconds since 1970) stamped on each block as it is processed:
  // the computer's clock unless a simulation sets its own. Called on the
  // worker thread. Set only while no run is going.
  void setClock(std::function<double()> clock) { clock_ = std::move(clock); }

 private:
  void Run();
  // True with a block in the chain's buffer; `paced`: it came from a live
  // source, which set the pace.
  bool AcquireBlock(bool* fromWav, bool* paced);

  ReceiveChain& chain_;
  SoundDevice& sound_;
  WavFile& wav_;
  BlockSource* live_ = nullptr;
  ReceiverEvents* events_;
  std::function<double()> clock_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> workerRunning_{false};
  std::atomic<bool> wavInput_{false};
  std::atomic<bool> inputEnded_{false};
  std::atomic<long> blocks_{0};
};

}  // namespace vs32
