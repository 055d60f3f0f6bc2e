// The receive chain: one-second audio blocks in, one history per channel, a
// spectrum, the picked channels and decoder outcomes out.
//
// Per block: impulse blanking and normalisation, band filter, mixer (the band's
// lower edge lands at 100 Hz), low-pass, then 500 channel steps of the band
// plan's resonator + detector + smoother channels. Every 1024 channel steps (2.048 s)
// each channel's history advances by one entry and the decoder runs on the
// picked channels; accepted outcomes go to the decode slot table.
//
// The chain has no thread and no clock: the caller fills a block, says what
// time it started at, and calls ProcessBlock. The worker thread, the batch
// decoder and the tests all drive it the same way.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "config/band_plan.h"
#include "config/list_files.h"
#include "config/settings.h"
#include "engine/channel_bank.h"
#include "engine/channel_selection.h"
#include "engine/decode_slots.h"
#include "engine/decoder.h"
#include "engine/filter_design.h"
#include "engine/known_calls.h"
#include "engine/list_decoder.h"
#include "engine/receiver_events.h"

namespace vs32 {

inline constexpr int kStepsPerBlock = 500;  // channel steps per second
inline constexpr int kSamplesPerStep = 24;  // working samples per channel step
inline constexpr int kStepsPerTick = 1024;  // channel steps per history tick
inline constexpr double kTickSeconds = 2.048;
inline constexpr int kNewestEntry = 960;  // history entry written at a tick

// What the displays read, published once per block (a copy under a lock, so the
// displays never race the worker).
struct DisplaySnapshot {
  std::array<float, kWorkingRate> inputBlock{};
  std::array<float, kChannels> channelPower{};
  std::array<double, kChannels> spectrum{};
  std::array<int, kChannels> peakFlags{};
  std::array<float, kHistoryLength> selectedHistory{};  // powerHistory of selectedChannel
  double selectedRecentMean = 0;
  int selectedChannel = 0;
  int peakCount = 0;
  float inputLevel = 0;
  int blankedCount = 0;
  long blocks = 0;  // blocks processed in this run
};

struct ChainFilters;
struct ChainKernels;

// Which band filter a band start uses (open intervals, tested in this order).
enum class BandFilterChoice { kBandFir1500, kBandFir2500, kBandFir2000, kDesigned, kWidePath };
BandFilterChoice ChooseBandFilter(double bandStartHz);

class ReceiveChain {
 public:
  // `settings`, `knownCalls`, the masks, `slots` and `events` are owned by the
  // front end and outlive the chain; switches in `settings` are read at the
  // moment of use, band and thresholds only by StartRun.
  ReceiveChain(const ReceiverSettings& settings, const KnownCallTable* knownCalls,
               const ChannelMask* loranMask, const ChannelMask* alwaysDecodeMask,
               DecodeSlotTable* slots, ReceiverEvents* events);
  ~ReceiveChain();
  ReceiveChain(const ReceiveChain&) = delete;
  ReceiveChain& operator=(const ReceiveChain&) = delete;

  // Starts a run: empty histories, zero hold counts, an empty slot table, new
  // channel objects and a band filter designed for the current band. The fixed
  // filters keep their state.
  void StartRun();

  // The buffer the next block goes into, and its size: 12000 samples, or 48000
  // in the wide path.
  float* BlockBuffer() { return wide_ ? wideBlock_.data() : inputBlock_.data(); }
  int BlockSize() const { return wide_ ? kWideRate : kWorkingRate; }
  int InputRate() const { return BlockSize(); }

  // Processes the block in BlockBuffer(). `blockStartSeconds` is the time of the
  // block's first sample (wall clock live, recording time in batch); each tick
  // stamps its decodes with the time of its own sample. `fromWav`: the block
  // came from a recording.
  void ProcessBlock(double blockStartSeconds, bool fromWav);

  // Selected-channel view of the windowed program (read once per block).
  std::atomic<bool> channelSelected{false};
  std::atomic<int> selectedChannel{0};

  // Worker figures readable from any thread.
  float inputLevel() const { return inputLevel_.load(std::memory_order_relaxed); }
  int peakCount() const { return peakCount_.load(std::memory_order_relaxed); }
  int blankedCount() const { return blankedCount_.load(std::memory_order_relaxed); }
  bool historyHalfFull() const { return historyHalfFull_; }
  bool widePath() const { return wide_; }
  const ReceiverSettings& settings() const { return settings_; }

  // Copies the figures of the last block for the displays.
  void Snapshot(DisplaySnapshot* out) const;

  // Direct access for the batch decoder and tests (worker thread only). A
  // history is kNewestEntry + 1 entries, oldest first, contiguous; the pointer
  // stays valid until the next tick.
  const float* powerHistory(int c) const { return &powerRing_[RingOffset(c) + WindowStart()]; }
  const int8_t* signHistory(int c) const { return &signRing_[RingOffset(c) + WindowStart()]; }
  const std::array<double, kChannels>& spectrum() const { return spectrum_; }
  const std::array<double, kChannels>& recentMean() const { return recentMean_; }
  const std::array<float, kChannels>& channelPower() const { return channelPower_; }
  const std::array<int, kChannels>& peakFlags() const { return peakFlags_; }
  const std::array<float, kWorkingRate>& inputBlock() const { return inputBlock_; }
  const std::array<float, kWorkingRate>& filteredBlock() const { return filteredBlock_; }
  int stepCounter() const { return stepCounter_; }
  int decoderCalls() const { return decoderCalls_; }

  // The decoder called at ticks: DecodeFrame unless a test puts another in.
  using DecodeFunction = DecodeResult (*)(const float* centre, const float* lower,
                                          const float* upper, const int8_t* sign, int depth,
                                          const DecoderOptions& options);
  void setDecoder(DecodeFunction decoder) { decoder_ = decoder ? decoder : &DecodeFrame; }

  // The vector kernels in use: the widest the CPU runs (AVX2 on x86-64 where
  // present), or the portable ones, which give the same results bit for bit.
  bool wideKernels() const;
  void usePortableKernels(bool portable);

  // Channels padded to whole vectors in the bank and the spectrum rows.
  static constexpr int kPaddedChannels = ChainBank::kPadded;
  // History ring: the 961 entries of the window and the one before it, so that
  // the window a channel had before this tick's entry stays readable (the upper
  // neighbour's, at a tick). Written twice, at slot and slot + kRingSlots, so
  // any window is contiguous.
  static constexpr int kRingSlots = kNewestEntry + 2;

 private:
  void FrontEnd();
  void UpdateSpectrum();
  void SumHistories(int first, int last);
  void ChannelSteps(double blockStartSeconds, bool fromWav);
  void RunBank(int firstStep, int steps, bool coherent);
  void Tick(double tickSeconds, bool fromWav);
  void Publish();

  static size_t RingOffset(int c) { return static_cast<size_t>(c) * 2 * kRingSlots; }
  // Slot of entry 0 of the current window.
  int WindowStart() const { return ringPos_ + 1 == kRingSlots ? 0 : ringPos_ + 1; }

  const ReceiverSettings& settings_;
  const KnownCallTable* knownCalls_;
  const ChannelMask* loranMask_;
  const ChannelMask* alwaysDecodeMask_;
  DecodeSlotTable* slots_;
  ReceiverEvents* events_;

  const ChainKernels* kernels_;
  // The fixed filters (never reset), the wide path's decimator and the run's
  // designed band filter, each with the inputs it still needs.
  std::unique_ptr<ChainFilters> filters_;

  // Per-run objects.
  bool wide_ = false;
  BandFilterChoice choice_ = BandFilterChoice::kBandFir1500;
  std::unique_ptr<BandpassDesign> bandFilter_;  // the design; it runs as filters_->designed
  std::unique_ptr<ChainBank> bank_;
  std::unique_ptr<ListDecoder> list_;  // the best-first list's workspace, LIST_SIZE long
  double preShiftPhase_ = 0;
  double mixPhase_ = 0;

  std::array<float, kWorkingRate> inputBlock_{};
  std::array<float, kWideRate> wideBlock_{};
  std::array<float, kWorkingRate> filteredBlock_{};
  std::array<double, kStepsPerBlock + 2> bankInput_{};  // the last two inputs, then a block's
  alignas(64) std::array<float, kPaddedChannels> detectorPower_{};
  alignas(64) std::array<float, kPaddedChannels> stepPower_{};  // smoothed, at the last step run
  std::array<float, kChannels> channelPower_{};
  std::vector<float> powerRing_;  // kChannels × 2·kRingSlots
  std::vector<int8_t> signRing_;  // kChannels × 2·kRingSlots
  int ringPos_ = 0;               // slot the next tick writes
  bool spectrumStale_ = false;    // a tick since the spectrum was taken over
  // The sums of the histories after the last tick, taken over as spectrum and
  // recent mean by the next block (the block of the tick keeps the ones it
  // started with).
  std::array<float, kChannels> nextSpectrum_{};
  std::array<float, kChannels> nextRecent_{};
  std::array<double, kChannels> spectrum_{};
  std::array<double, kChannels> recentMean_{};
  std::array<int, kChannels> peakFlags_{};
  DecodeFunction decoder_ = &DecodeFrame;
  int stepCounter_ = 0;
  int historyFill_ = 0;
  bool historyHalfFull_ = false;
  int ticks_ = 0;  // ticks of this run, counted up to a full history window
  int decoderCalls_ = 0;
  long blocks_ = 0;

  std::atomic<float> inputLevel_{1.0f / 6};
  std::atomic<int> peakCount_{0};
  std::atomic<int> blankedCount_{0};

  mutable std::mutex snapshotMutex_;
  std::unique_ptr<DisplaySnapshot> snapshot_;
};

}  // namespace vs32
