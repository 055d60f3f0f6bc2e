// The receiver: one running receive path from a block source to the results,
// wired once for every front end (console, window, batch decoder, soak run,
// tests).
//
// Owns: the settings it runs with, the known-call table, the two channel masks,
// the decode slot table, the receive chain, the recording it may be asked to
// decode, the receive worker (its thread) and results processing. Borrows: the
// front end's sound device (live runs only), its ReceiverEvents and
// ResultsOutput, and the spot sender it is given; all must outlive it.
//
// Threads: every method runs on the front end's main thread. The worker
// thread runs the chain and reaches the front end only through ReceiverEvents;
// results processing (ResultsTick, Stop's flush, DecodeRecording) and spots
// run on the calling thread.
//
// Policies kept here rather than in each front end: the station's own spot
// (dial + band start + 50 Hz, never while a recording is decoded), reporting
// every pending decode when a run stops, the batch run's recording clock, the
// band-centre clamp of a command-line value, and the user's additions to the
// frequency lists.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "audio/block_source.h"
#include "config/list_files.h"
#include "config/settings.h"
#include "engine/decode_slots.h"
#include "engine/known_calls.h"
#include "engine/receive_chain.h"
#include "engine/receiver_events.h"
#include "report/psk_reporter.h"
#include "report/results.h"

namespace vs32 {

class ReceiveWorker;
class SoundDevice;
class WavFile;

class Receiver {
 public:
  // `settings` is the snapshot the receiver runs with (see settings()).
  // `events` may be null (a batch run); `output` receives every decode.
  Receiver(Program program, ReceiverSettings settings, ResultsOutput& output,
           ReceiverEvents* events = nullptr, ResultsOptions options = {});
  ~Receiver();
  Receiver(const Receiver&) = delete;
  Receiver& operator=(const Receiver&) = delete;

  // The settings of this receiver. The front end changes menu switches here
  // while a run goes on (the worker reads them at the moment of use); band,
  // rate and thresholds take effect at the next Start.
  ReceiverSettings& settings() { return settings_; }
  const ReceiverSettings& settings() const { return settings_; }
  KnownCallTable& knownCalls() { return *knownCalls_; }
  const ChannelMask& loranMask() const { return *loranMask_; }
  ChannelMask& alwaysDecodeMask() { return *alwaysDecodeMask_; }
  DecodeSlotTable& decodeSlots() { return *slots_; }
  ReceiveChain& chain() { return *chain_; }
  const ReceiveChain& chain() const { return *chain_; }
  ResultsProcessor& results() { return *results_; }

  // Reads the station lists (known calls, then the masks) from `folder`
  // (empty: the current folder). Returns the known-call entries loaded.
  int LoadLists(const std::filesystem::path& folder = {});
  // Reads the known calls again (after new settings: MYQTH may have moved).
  int ReloadKnownCalls(const std::filesystem::path& folder = {});

  // Where spots go; null: none. Not owned.
  void SetSpotSender(SpotSender* spots);
  // Spots through `reporter` (not owned) and the receiver's settings.
  void UseReporter(SpotReporter& reporter, ReporterRecord& record);
  SpotSender* spotSender() const { return spots_; }

  // The station's own spot at the band centre with `reportDb`. Nothing is sent
  // while uploading is off or a recording is being decoded. True when the
  // reporter took it.
  bool SendOwnSpot(float reportDb);

  // The results pass (about every 300 ms) at the receiver's clock, with the
  // input level the front end shows (0: no audio, no own-station report).
  void ResultsTick(float inputLevel);

  // Seconds since 1970 by the receiver's clock: the computer's clock unless
  // SetClock gave another.
  int Now() const;
  // Stamps blocks and results with `clock` (e.g. the audio's own time in a
  // simulation). Called on the worker thread too. Only while no run goes on.
  void SetClock(std::function<double()> clock);

  // ---- Live runs (a worker thread; not in builds without a sound card) ----

  // Makes the worker, reading `sound` (not owned) unless a live source is
  // given to Start. Once, before the first Start.
  void AttachSound(SoundDevice& sound);
  // Starts a run (fresh histories and slots) reading `live` (not owned; e.g.
  // standard input), or the sound card when null. No effect while running.
  void Start(BlockSource* live = nullptr);
  // Stops the run and waits for the worker; then every decode still waiting to
  // go quiet is final, so it is reported at once (unless `reportPending` is
  // false: a run abandoned at start-up). No effect when not running.
  void Stop(bool reportPending = true);
  // Stop, then Start with the same live source: a run with the current settings.
  void Restart();
  // The WAV command (see ReceiveWorker::StartWav).
  bool StartWav(const std::string& path, std::string* error);

  bool running() const;
  // The run has begun (its slot table cleared) and reads input.
  bool workerLooping() const;
  bool wavInput() const;
  // The live source has ended or failed (still true after the stop, until the
  // next run's loop begins).
  bool inputEnded() const;
  // Blocks processed in the current run.
  long blocks() const;
  // The worker itself, for tests that drive it directly. After AttachSound.
  ReceiveWorker& worker() { return *worker_; }

  // ---- Batch ----

  // Decodes a recording without a thread: a fresh run, every whole block
  // through the chain stamped `timeBase` + its second, a results pass after
  // each block at the recording's clock, and the pending decodes reported at
  // the end. `afterBlock` (may be empty) sees the chain after each block,
  // before its results pass. Stops after `maxBlocks`. Returns the blocks run.
  long DecodeRecording(BlockSource& recording, int timeBase,
                       const std::function<void(long blocks)>& afterBlock = {},
                       long maxBlocks = 1L << 30);

  // The band start (F_CENTER − 50, clamped as the settings file clamps it) of
  // a band centre given on a command line, in Hz.
  static double BandStartForCentre(double centreHz);

  // Appends `frequencyHz` to the list file `path` as the window's menu does:
  // "\n%.3f" at its end. A missing list is not created. False when nothing was
  // written.
  static bool AppendFrequencyLine(const std::filesystem::path& path, double frequencyHz);

 private:
  ReceiverSettings settings_;
  std::unique_ptr<KnownCallTable> knownCalls_;
  std::unique_ptr<ChannelMask> loranMask_;
  std::unique_ptr<ChannelMask> alwaysDecodeMask_;
  std::unique_ptr<DecodeSlotTable> slots_;
  ReceiverEvents* events_;
  std::unique_ptr<ReceiveChain> chain_;
  std::unique_ptr<ResultsProcessor> results_;
  std::unique_ptr<ReporterSpotSender> reporterSender_;
  SpotSender* spots_ = nullptr;
  Program program_;
  std::function<double()> clock_;
  // The worker and its recording exist only for live runs; the worker is
  // deleted through a function of the live part, so that a build without the
  // worker still links the batch path.
  std::unique_ptr<WavFile> wav_;
  std::unique_ptr<ReceiveWorker, void (*)(ReceiveWorker*)> worker_{nullptr, nullptr};
  BlockSource* live_ = nullptr;
};

}  // namespace vs32
