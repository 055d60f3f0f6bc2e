// The receive chain: one-second audio blocks in, 1230 channel histories, a
// spectrum, the picked channels and decoder outcomes out.
//
// Per block: impulse blanking and normalisation, band filter, mixer (the band's
// lower edge lands at 100 Hz), low-pass, then 500 channel steps of 1230
// resonator + detector + smoother channels. Every 1024 channel steps (2.048 s)
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

#include "config/known_calls.h"
#include "config/list_files.h"
#include "config/settings.h"
#include "engine/channel_selection.h"
#include "engine/decode_slots.h"
#include "engine/decoder.h"
#include "engine/filters.h"
#include "engine/fixed_filters.h"
#include "engine/receiver_events.h"

namespace vs32 {

inline constexpr int kChannels = 1230;
inline constexpr double kChannelSpacingHz = 0.08130081300813008;  // 100/1230 Hz
inline constexpr int kWorkingRate = 12000;                        // samples/s
inline constexpr int kWideRate = 48000;                           // samples/s
inline constexpr double kWideBandStartHz = 5450;  // band starts at or above: wide path
inline constexpr int kStepsPerBlock = 500;        // channel steps per second
inline constexpr int kSamplesPerStep = 24;        // working samples per channel step
inline constexpr int kStepsPerTick = 1024;        // channel steps per history tick
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

// Low-pass in front of the wide path's decimation by four: keeps the real
// pre-shift's sum product and everything else above ~3 kHz from folding onto
// the band. Only the kept outputs are computed.
class DecimatingLowpass {
 public:
  static constexpr int kTaps = 191;
  DecimatingLowpass();
  void Push(float x) {
    pos_ = (pos_ == 0) ? kTaps - 1 : pos_ - 1;
    history_[pos_] = x;
    history_[pos_ + kTaps] = x;
  }
  float Output() const {
    const float* h = &history_[pos_];
    float y = 0.0f;
    for (int k = 0; k < kTaps; ++k) y += coefficients_[k] * h[k];
    return y;
  }
  float coefficient(int k) const { return coefficients_[k]; }

 private:
  std::array<float, kTaps> coefficients_{};
  std::array<float, 2 * kTaps> history_{};
  int pos_ = 0;
};

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

  // Direct access for the batch decoder and tests (worker thread only).
  const float* powerHistory(int c) const { return &powerHistory_[c * kHistoryLength]; }
  const int8_t* signHistory(int c) const { return &signHistory_[c * kHistoryLength]; }
  const std::array<double, kChannels>& spectrum() const { return spectrum_; }
  const std::array<float, kChannels>& channelPower() const { return channelPower_; }
  const std::array<int, kChannels>& peakFlags() const { return peakFlags_; }
  const std::array<float, kWorkingRate>& inputBlock() const { return inputBlock_; }
  const std::array<float, kWorkingRate>& filteredBlock() const { return filteredBlock_; }
  int stepCounter() const { return stepCounter_; }
  int decoderCalls() const { return decoderCalls_; }

 private:
  void FrontEnd();
  void ChannelSteps(double blockStartSeconds, bool fromWav);
  void Tick(int c, double tickSeconds, bool fromWav);
  void Publish();

  const ReceiverSettings& settings_;
  const KnownCallTable* knownCalls_;
  const ChannelMask* loranMask_;
  const ChannelMask* alwaysDecodeMask_;
  DecodeSlotTable* slots_;
  ReceiverEvents* events_;

  // Fixed filters: live as long as the chain, never reset.
  BandFir1500 bandFir1500_;
  BandFir2000 bandFir2000_;
  BandFir2500 bandFir2500_;
  MixLowpass mixLowpass_;
  DecimatingLowpass decimator_;

  // Per-run objects.
  bool wide_ = false;
  BandFilterChoice choice_ = BandFilterChoice::kBandFir1500;
  std::unique_ptr<BandpassFir> bandFilter_;
  std::vector<ChannelResonator> resonators_;
  std::vector<PowerSmoother> smoothers_;
  double preShiftPhase_ = 0;
  double mixPhase_ = 0;

  std::array<float, kWorkingRate> inputBlock_{};
  std::array<float, kWideRate> wideBlock_{};
  std::array<float, kWorkingRate> filteredBlock_{};
  std::array<float, kChannels> detectorPower_{};
  std::array<float, kChannels> channelPower_{};
  std::vector<float> powerHistory_;  // kChannels × kHistoryLength
  std::vector<int8_t> signHistory_;  // kChannels × kHistoryLength
  std::array<double, kChannels> spectrum_{};
  std::array<double, kChannels> recentMean_{};
  std::array<int, kChannels> peakFlags_{};
  int stepCounter_ = 0;
  int historyFill_ = 0;
  bool historyHalfFull_ = false;
  int decoderCalls_ = 0;
  long blocks_ = 0;

  std::atomic<float> inputLevel_{1.0f / 6};
  std::atomic<int> peakCount_{0};
  std::atomic<int> blankedCount_{0};

  mutable std::mutex snapshotMutex_;
  std::unique_ptr<DisplaySnapshot> snapshot_;
};

}  // namespace vs32
