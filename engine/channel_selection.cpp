#include "engine/channel_selection.h"

#include <atomic>

namespace vs32 {

namespace {

// The results side sets always-decode flags while the worker runs: read them
// atomically (relaxed; a flag set now takes effect at this block or the next).
bool MaskFlag(const int* mask, int c) {
  return std::atomic_ref<int>(const_cast<int&>(mask[c])).load(std::memory_order_relaxed) != 0;
}

constexpr int kMaxSpacing = kChannels / 2;  // half the band: no channel can be a peak beyond it
constexpr float kLargestFloat = 3.4028235e38f;

// Clears the weakest flagged channel of [start, last] and returns true, or
// returns false when the window holds no flagged channel.
bool ClearWeakest(const double* spectrum, int* flags, int start, int last) {
  // The running minimum is a float: a channel is taken only when its value is
  // strictly below it, so the lowest channel wins a tie, and so do values that
  // round to the same float.
  float lowest = kLargestFloat;
  int weakest = -1;
  int firstFlagged = -1;
  for (int c = start; c <= last && c < kChannels; ++c) {
    if (flags[c] == 0) continue;
    if (firstFlagged < 0) firstFlagged = c;
    if (spectrum[c] < static_cast<double>(lowest)) {
      lowest = static_cast<float>(spectrum[c]);
      weakest = c;
    }
  }
  // Values that are not below the largest float (infinite, NaN, beyond the float
  // range) are never taken by the scan; without this the thinning could go round
  // for ever on such a spectrum.
  if (weakest < 0) weakest = firstFlagged;
  if (weakest < 0) return false;
  flags[weakest] = 0;
  return true;
}

}  // namespace

int SelectChannels(const SelectionInput& in, int* flags) {
  for (int c = 0; c < kChannels; ++c) flags[c] = 0;
  const double* p = in.spectrum;
  if (p == nullptr) return 0;

  // 1-2. Local maxima: at least as high as every channel within s on both
  // sides, nearest first; ties count, so a flat top gives several peaks.
  int s = in.minPeakSpacing;
  if (s < 0) s = 0;
  if (s > kMaxSpacing) s = kMaxSpacing;
  int count = 0;
  for (int c = s; c < kChannels - s; ++c) {
    bool peak = true;
    for (int j = 1; j <= s; ++j) {
      if (!(p[c] >= p[c + j] && p[c] >= p[c - j])) {
        peak = false;
        break;
      }
    }
    if (peak) {
      flags[c] = 1;
      ++count;
    }
  }

  // 3. Interference lines.
  if (in.ignoreLoranLines && in.loranMask != nullptr) {
    for (int c = 0; c < kChannels; ++c) {
      if (MaskFlag(in.loranMask, c)) {
        if (flags[c] != 0) --count;
        flags[c] = 0;
      }
    }
  }

  // 4. Thinning: walk the band in windows, dropping the weakest peak of every
  // window that holds more than one, until exactly m remain. The window widens
  // as the excess shrinks.
  const int m = in.maxPeaks;
  if (m > 0) {
    int win = kChannels / m;
    int start = 0;
    while (count > m) {
      if (count - m < m) win = kChannels / (count - m);
      int n = 0;
      for (int c = start; c < start + win && c < kChannels; ++c) {
        if (flags[c] != 0) ++n;
      }
      // The search looks at one channel more than the count did.
      if (n > 1 && ClearWeakest(p, flags, start, start + win)) --count;
      start += win;
      if (start >= kChannels) start = 0;
    }
  }

  // 5-6. Channels decoded whatever the spectrum says; the thinning never removes them.
  if (in.useFrequencyList && in.alwaysDecodeMask != nullptr) {
    for (int c = 0; c < kChannels; ++c) {
      if (MaskFlag(in.alwaysDecodeMask, c)) flags[c] = 1;
    }
  }
  if (in.channelSelected && in.selectedChannel >= 0 && in.selectedChannel < kChannels) {
    flags[in.selectedChannel] = 1;
  }

  // 7.
  int total = 0;
  for (int c = 0; c < kChannels; ++c) {
    if (flags[c] != 0) ++total;
  }
  return total;
}

}  // namespace vs32
