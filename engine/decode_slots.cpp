#include "engine/decode_slots.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace vs32 {

namespace {

constexpr int kNoiseGap = 10;                     // channels nearer than this are not noise
constexpr double kNoiseDivisor = kChannels - 19;  // kept at the band edges too
constexpr float kNoFigure = -100.0f;              // dB, when there is no noise to compare with

bool IsFree(const DecodeSlot& slot) {
  return slot.time == 0;
}

}  // namespace

AcceptOutcome DecodeSlotTable::AcceptDecode(int channel, int status, const char* call, float ebNoDb,
                                            int attempts, int nowSeconds, const double* spectrum,
                                            double decodeThreshold, bool fromWav) {
  if (!ValidChannel(channel) || call == nullptr || spectrum == nullptr) {
    return AcceptOutcome::kDropped;
  }
  const bool accepted =
      status == 2 || (status == 1 && ebNoDb > decodeThreshold && hold(channel) <= 0);
  if (!accepted) return AcceptOutcome::kDropped;

  // Noise: every channel at least 10 away, summed in single precision.
  float sum = 0.0f;
  for (int k = 0; k < kChannels; ++k) {
    if (k <= channel - kNoiseGap || k >= channel + kNoiseGap) sum += spectrum[k];
  }
  const float noise = static_cast<float>(sum * (1.0 / kNoiseDivisor));
  float channelSnr = kNoFigure;
  float snr = kNoFigure;
  if (noise > 0) {
    channelSnr = static_cast<float>(10 * std::log10(spectrum[channel] / noise));
    snr = static_cast<float>(10 * std::log10(spectrum[channel] / noise / kNoiseDivisor));
  }

  // The slot keeps 6 characters; comparing the same 6 makes a longer text find
  // the slot it opened.
  char key[sizeof(DecodeSlot::call)] = {};
  for (int i = 0; i < kCallChars && call[i] != 0; ++i) key[i] = call[i];
  const int stamp = nowSeconds > 0 ? nowSeconds : 1;

  std::lock_guard lock(mutex_);
  // A free slot holds no callsign, so only slots in use are searched.
  for (DecodeSlot& slot : slots_) {
    if (IsFree(slot) || std::strcmp(slot.call, key) != 0) continue;
    AcceptOutcome outcome = AcceptOutcome::kUnchanged;
    if (slot.ebno < ebNoDb || slot.result < status) {
      outcome = AcceptOutcome::kImproved;
      slot.ebno = ebNoDb;
      slot.time = stamp;
      slot.channel_snr = channelSnr;
      slot.snr = snr;
      slot.channel = channel;
      slot.result = status;
      slot.attempts = attempts;
    }
    // Once a recording contributed, the slot stays marked, even when a live
    // decode improves it: the histories still hold the recording.
    slot.fromWav = slot.fromWav || fromWav;
    return outcome;
  }

  DecodeSlot* target = &slots_[0];  // all in use: slot 0 is overwritten
  for (DecodeSlot& slot : slots_) {
    if (IsFree(slot)) {
      target = &slot;
      break;
    }
  }
  std::memcpy(target->call, key, sizeof key);
  target->ebno = ebNoDb;
  target->channel_snr = channelSnr;
  target->snr = snr;
  target->time = stamp;
  target->channel = channel;
  target->result = status;
  target->attempts = attempts;
  target->used = 1;
  target->fromWav = fromWav;
  return AcceptOutcome::kOpened;
}

void DecodeSlotTable::Free(DecodeSlot& slot) {
  slot.call[0] = 0;
  slot.time = 0;
  slot.ebno = 0;
  slot.channel_snr = 0;
  slot.channel = 0;
  slot.result = 0;
  slot.used = 0;
  slot.fromWav = false;
}

bool DecodeSlotTable::TakeIfQuiet(int index, int nowSeconds, DecodeSlot& out) {
  if (index < 0 || index >= kSlots) return false;
  std::lock_guard lock(mutex_);
  DecodeSlot& slot = slots_[index];
  if (IsFree(slot)) return false;
  if (static_cast<int64_t>(nowSeconds) - slot.time <= kQuietSeconds) return false;
  out = slot;
  Free(slot);
  return true;
}

bool DecodeSlotTable::TakeAny(int index, DecodeSlot& out) {
  if (index < 0 || index >= kSlots) return false;
  std::lock_guard lock(mutex_);
  DecodeSlot& slot = slots_[index];
  if (IsFree(slot)) return false;
  out = slot;
  Free(slot);
  return true;
}

void DecodeSlotTable::Clear() {
  std::lock_guard lock(mutex_);
  for (DecodeSlot& slot : slots_) slot = DecodeSlot{};
  for (auto& h : hold_) h.store(0, std::memory_order_relaxed);
}

DecodeSlot DecodeSlotTable::Peek(int index) const {
  if (index < 0 || index >= kSlots) return DecodeSlot{};
  std::lock_guard lock(mutex_);
  return slots_[index];
}

int DecodeSlotTable::PendingCount() const {
  std::lock_guard lock(mutex_);
  int n = 0;
  for (const DecodeSlot& slot : slots_) {
    if (!IsFree(slot)) ++n;
  }
  return n;
}

}  // namespace vs32
