// Channel selection ("autofocus"): once per block, the channels the decoder
// runs on at the following ticks. Local maxima of the long-term spectrum at a
// minimum spacing, without known interference lines, thinned to a maximum
// number, plus the channels the user always wants decoded and the one picked
// by a click. Keeps no state between blocks and allocates nothing.
#pragma once

#include "config/band_plan.h"

namespace vs32 {

struct SelectionInput {
  const double* spectrum = nullptr;       // kChannels long-term channel powers (required)
  int minPeakSpacing = 1;                 // S, channels, 0 … kChannels / 2 (below 0 counts as 0)
  int maxPeaks = -1;                      // M, −1 … kChannels; −1 or 0: keep every peak
  bool ignoreLoranLines = false;          // remove the channels of loranMask
  const int* loranMask = nullptr;         // kChannels flags, may be null (no lines)
  bool useFrequencyList = true;           // add the channels of alwaysDecodeMask
  const int* alwaysDecodeMask = nullptr;  // kChannels flags, may be null (none)
  bool channelSelected = false;           // a channel picked by a click
  int selectedChannel = 0;                // its index; ignored outside 0 … kChannels − 1
};

// Writes kChannels flags to peakFlags (1: decode this channel, 0: not) and returns
// how many are set, always-decode and selected channels included (so it can
// exceed maxPeaks). With no spectrum every flag is 0.
int SelectChannels(const SelectionInput& input, int* peakFlags);

}  // namespace vs32
