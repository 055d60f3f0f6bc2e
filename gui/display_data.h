// What one timer tick draws: the receive chain's display values of its last
// block, copied on the main thread into storage allocated once.
#pragma once

#include <array>

namespace vs32::gui {

struct DisplayData {
  std::array<float, 12000> input{};        // latest input block after blanking and normalising
  int inputCount = 0;                      // samples valid in `input`
  int blankedCount = 0;                    // samples blanked in that block
  float inputLevel = 0;                    // smoothed mean absolute input amplitude
  std::array<double, 1230> spectrum{};     // per-channel history sums
  std::array<float, 1230> channelPower{};  // smoothed channel powers
  std::array<float, 961> history{};        // the selected channel's power history, 960 newest
  double recentMean = 0;                   // the selected channel's recent mean
  std::array<int, 1230> peakFlags{};       // channels picked for decoding
  std::array<int, 1230> decodeHold{};      // hold counts
};

}  // namespace vs32::gui
