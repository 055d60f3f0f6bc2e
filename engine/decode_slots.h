// The decode slot table: the hand-off between the receive worker and results
// processing. A slot collects the best decode of one callsign over all the
// channels and ticks in which it keeps being decoded; results processing
// reports it once it has been quiet for more than 8 s and frees it.
//
// Threads: the worker calls AcceptDecode and CountDownHold; the main thread
// takes slots (TakeIfQuiet / TakeAny) and sets holds. A slot's look-up-and-write
// and its read-and-free run under one mutex, so neither side ever sees the
// other's half-written slot. Hold counts are relaxed atomics.
#pragma once

#include <array>
#include <atomic>
#include <mutex>

#include "config/band_plan.h"

namespace vs32 {

struct DecodeSlot {
  char call[8] = {};       // NUL-terminated, at most 6 characters; "" when free
  float ebno = 0;          // dB, the decoder's Eb/No of the best decode so far
  float channel_snr = 0;   // dB, 10 log10(spectrum[c] / noise)
  float snr = 0;           // dB, 10 log10(spectrum[c] / noise / 1211)
  int channel = 0;         // channel index 0 … kChannels − 1
  int time = 0;            // seconds of the last improving decode; 0 marks a free slot
  int attempts = 0;        // the decoder's attempts (0: a correlation stage)
  int result = 0;          // decode status, 2 or 1
  unsigned char used = 0;  // 1 once filled
  bool fromWav = false;    // a decode from a recording went into it: never spotted or captured
};

// What AcceptDecode did with a decoder outcome.
enum class AcceptOutcome {
  kDropped,    // failed the acceptance test (or unusable arguments)
  kOpened,     // filled a free slot (or slot 0 when none was free)
  kImproved,   // rewrote the figures of its call's slot
  kUnchanged,  // its call's slot already held an equal or better decode
};

class DecodeSlotTable {
 public:
  static constexpr int kSlots = 1000;
  static constexpr int kChannels = vs32::kChannels;
  static constexpr int kHoldTicks = 287;   // set by results processing for a reported channel
  static constexpr int kQuietSeconds = 8;  // a slot is reported once quiet for more than this
  static constexpr int kCallChars = 6;     // characters of a callsign that are kept

  DecodeSlotTable() = default;
  DecodeSlotTable(const DecodeSlotTable&) = delete;
  DecodeSlotTable& operator=(const DecodeSlotTable&) = delete;

  // Worker, at a history tick: judges a decoder outcome and opens or improves
  // the callsign's slot.
  //   channel: 0 … kChannels − 1 (anything else is ignored); status: 0, 1 or 2;
  //   call: NUL-terminated, only its first 6 characters count;
  //   ebNoDb: dB; nowSeconds: time stamp, > 0 (0 marks a free slot, so 0 or less
  //   is stored as 1); spectrum: the long-term power of every channel;
  //   decodeThreshold: dB; fromWav: the decode came from a recording.
  // Accepted: status 2; or status 1 with ebNoDb > decodeThreshold on a channel
  // whose hold is 0 or less. Everything else is dropped.
  AcceptOutcome AcceptDecode(int channel, int status, const char* call, float ebNoDb, int attempts,
                             int nowSeconds, const double* spectrum, double decodeThreshold,
                             bool fromWav);

  // Results side: when slot `index` is in use and nowSeconds − time > 8, copies
  // it to `out`, frees it and returns true.
  bool TakeIfQuiet(int index, int nowSeconds, DecodeSlot& out);
  // Results side, end of a recording: takes slot `index` whatever its age.
  bool TakeAny(int index, DecodeSlot& out);

  // Start of a worker run: every slot free, every hold 0.
  void Clear();

  // Copy of a slot (tests, displays); an empty slot for an index out of range.
  DecodeSlot Peek(int index) const;
  // Number of slots in use.
  int PendingCount() const;

  // Hold counts: set by results processing, counted down by the worker.
  // Channels outside 0 … kChannels − 1 are ignored (hold reads 0).
  void SetHold(int channel, int ticks) {
    if (ValidChannel(channel)) hold_[channel].store(ticks, std::memory_order_relaxed);
  }
  int hold(int channel) const {
    return ValidChannel(channel) ? hold_[channel].load(std::memory_order_relaxed) : 0;
  }
  // Worker, at the channel's tick before decoding: a nonzero hold falls by one.
  // A compare-exchange, so a hold set by the main thread in between is never
  // overwritten with the old count minus one.
  void CountDownHold(int channel) {
    if (!ValidChannel(channel)) return;
    std::atomic<int>& h = hold_[channel];
    int value = h.load(std::memory_order_relaxed);
    while (value != 0 && !h.compare_exchange_weak(value, value - 1, std::memory_order_relaxed)) {
    }
  }

 private:
  static bool ValidChannel(int channel) { return channel >= 0 && channel < kChannels; }
  static void Free(DecodeSlot& slot);

  mutable std::mutex mutex_;
  std::array<DecodeSlot, kSlots> slots_{};
  std::array<std::atomic<int>, kChannels> hold_{};
};

}  // namespace vs32
