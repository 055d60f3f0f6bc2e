// Channel selection: local maxima, interference lines, thinning, always-decode
// and selected channels.
#include "engine/channel_selection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace vs32 {
namespace {

constexpr int kN = 1230;
using Spectrum = std::array<double, kN>;
using Mask = std::array<int, kN>;

// Tents: 5 at 100, 3 at 200, 4 at 300, 1 at 1000, each
// falling by 0.03 per channel; the highest tent wins at every channel.
Spectrum Tents() {
  Spectrum s;
  const struct {
    int c;
    double v;
  } tents[] = {{100, 5}, {200, 3}, {300, 4}, {1000, 1}};
  for (int c = 0; c < kN; ++c) {
    double best = -1e9;
    for (const auto& t : tents) best = std::max(best, t.v - 0.03 * std::abs(c - t.c));
    s[c] = best;
  }
  return s;
}

// A falling ramp (no channel is a peak at spacing 1) with spikes at the given
// channels.
Spectrum Spikes(std::initializer_list<std::pair<int, double>> spikes) {
  Spectrum s;
  for (int c = 0; c < kN; ++c) s[c] = -0.001 * c;
  for (const auto& [c, v] : spikes) s[c] = v;
  return s;
}

struct Selection {
  int count = 0;
  std::array<int, kN> flags{};
  std::vector<int> Flagged() const {
    std::vector<int> out;
    for (int c = 0; c < kN; ++c) {
      if (flags[c] != 0) out.push_back(c);
    }
    return out;
  }
};

Selection Select(const Spectrum& spectrum, int spacing, int maxPeaks, const Mask* loran = nullptr,
                 const Mask* always = nullptr, int selected = -1) {
  SelectionInput in;
  in.spectrum = spectrum.data();
  in.minPeakSpacing = spacing;
  in.maxPeaks = maxPeaks;
  in.ignoreLoranLines = loran != nullptr;
  in.loranMask = loran ? loran->data() : nullptr;
  in.useFrequencyList = always != nullptr;
  in.alwaysDecodeMask = always ? always->data() : nullptr;
  in.channelSelected = selected >= 0;
  in.selectedChannel = selected;
  Selection out;
  out.flags.fill(7);  // stale flags of an earlier block must be cleared
  out.count = SelectChannels(in, out.flags.data());
  return out;
}

using Channels = std::vector<int>;

// --- Local maxima ------------------------------------------------------------------

TEST(ChannelSelectionPeaks, TentsGiveTheirFourTops) {
  const Selection s = Select(Tents(), 1, -1);
  EXPECT_EQ(s.Flagged(), (Channels{100, 200, 300, 1000}));
  EXPECT_EQ(s.count, 4);
  for (int f : s.flags) ASSERT_TRUE(f == 0 || f == 1);
}

TEST(ChannelSelectionPeaks, WideSpacingDropsEdgePeaksAndLowerNeighbours) {
  // 100 is too close to the lower edge; 200 has channel 100's tent within 150.
  EXPECT_EQ(Select(Tents(), 150, -1).Flagged(), (Channels{300, 1000}));
}

TEST(ChannelSelectionPeaks, ZeroSpacingMakesEveryChannelAPeak) {
  EXPECT_EQ(Select(Tents(), 0, -1).count, 1230);
}

TEST(ChannelSelectionPeaks, MaximumSpacingLeavesOnlyAlwaysAndSelectedChannels) {
  Mask always{};
  always[40] = 1;
  const Selection s = Select(Tents(), 615, -1, nullptr, &always, 900);
  EXPECT_EQ(s.Flagged(), (Channels{40, 900}));
  EXPECT_EQ(s.count, 2);
  EXPECT_EQ(Select(Tents(), 615, -1).count, 0);
}

TEST(ChannelSelectionPeaks, FlatSpectrumFlagsEveryChannelButTheEnds) {
  Spectrum flat;
  flat.fill(2.5);
  const Selection s = Select(flat, 1, -1);
  EXPECT_EQ(s.count, 1228);
  EXPECT_EQ(s.flags[0], 0);
  EXPECT_EQ(s.flags[1229], 0);
  EXPECT_EQ(s.flags[1], 1);
  EXPECT_EQ(s.flags[1228], 1);
}

TEST(ChannelSelectionPeaks, FlatTopOfSeveralChannelsGivesSeveralPeaks) {
  Spectrum s = Spikes({{500, 3}, {501, 3}, {502, 3}});
  EXPECT_EQ(Select(s, 1, -1).Flagged(), (Channels{500, 501, 502}));
  // At spacing 2 none of the three has anything higher within two channels.
  EXPECT_EQ(Select(s, 2, -1).Flagged(), (Channels{500, 501, 502}));
}

TEST(ChannelSelectionPeaks, OutOfRangeSpacingIsClampedNotTrusted) {
  EXPECT_EQ(Select(Tents(), -5, -1).count, 1230);  // like 0
  EXPECT_EQ(Select(Tents(), 5000, -1).count, 0);   // like 615
}

// --- Thinning ---------------------------------------------------------------------

TEST(ChannelSelectionThinning, ThreeOfFourTentsLoseTheLowest) {
  // count − M = 1 < 3 makes the window the whole band.
  EXPECT_EQ(Select(Tents(), 1, 3).Flagged(), (Channels{100, 200, 300}));
}

TEST(ChannelSelectionThinning, TwoOfFourTentsFollowTheWindowWalk) {
  // Window 0 … 614 loses 200; the next (the whole band from 615) holds only
  // 1000; the next pass over the whole band removes 1000.
  const Selection s = Select(Tents(), 1, 2);
  EXPECT_EQ(s.Flagged(), (Channels{100, 300}));
  EXPECT_EQ(s.count, 2);
}

TEST(ChannelSelectionThinning, ZeroSpacingThinsToExactlyM) {
  Spectrum s;
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(0.0, 100.0);
  for (double& v : s) v = u(rng);
  for (int m : {1, 10, 100, 614, 615, 616, 1229}) {
    EXPECT_EQ(Select(s, 0, m).count, m) << m;
  }
}

TEST(ChannelSelectionThinning, AutoOrZeroOrEnoughRoomMeansNoThinning) {
  for (int m : {-1, 0, 4, 5, 1230}) {
    EXPECT_EQ(Select(Tents(), 1, m).Flagged(), (Channels{100, 200, 300, 1000})) << m;
  }
}

TEST(ChannelSelectionThinning, SearchLooksOneChannelPastTheCountedWindow) {
  // M = 2, four peaks: window 0 … 614 counts 100 and 200, but the search
  // also sees channel 615, the weakest, and removes it. Then the whole band
  // loses 1000. Had the search stopped at 614, 200 would have gone first.
  const Spectrum s = Spikes({{100, 5}, {200, 4}, {615, 1}, {1000, 3}});
  EXPECT_EQ(Select(s, 1, 2).Flagged(), (Channels{100, 200}));
}

TEST(ChannelSelectionThinning, LowestChannelLosesATie) {
  const Spectrum s = Spikes({{100, 2}, {400, 2}, {700, 5}});
  EXPECT_EQ(Select(s, 1, 2).Flagged(), (Channels{400, 700}));
}

TEST(ChannelSelectionThinning, RunningMinimumIsKeptInSinglePrecision) {
  // Channel 100 holds 1 + 3·2⁻²⁶, which rounds to the float 1.0; channel 200
  // holds 1 + 2⁻²⁶, lower in double precision but not below the float running
  // minimum 1.0, so channel 100 is the one removed.
  const double a = 1.0 + 3 * std::ldexp(1.0, -26);
  const double b = 1.0 + std::ldexp(1.0, -26);
  ASSERT_EQ(static_cast<float>(a), 1.0f);
  const Spectrum s = Spikes({{100, a}, {200, b}, {300, 10}});
  EXPECT_EQ(Select(s, 1, 2).Flagged(), (Channels{200, 300}));
}

TEST(ChannelSelectionThinning, EndsOnValuesBeyondTheFloatRange) {
  // Values the float running minimum can never undercut (infinite, NaN, above
  // the largest float) must not make the thinning go round for ever.
  Spectrum s;
  s.fill(std::numeric_limits<double>::infinity());
  EXPECT_EQ(Select(s, 0, 10).count, 10);
  s.fill(std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(Select(s, 0, 3).count, 3);  // at spacing 0 every channel is a peak
  EXPECT_EQ(Select(s, 1, 3).count, 0);  // otherwise NaN never is
  s.fill(1e300);
  EXPECT_EQ(Select(s, 0, 7).count, 7);
}

// --- Interference lines, always-decode and selected channels ----------------------

TEST(ChannelSelectionMasks, LoranLinesAreRemovedBeforeThinning) {
  Mask loran{};
  loran[1000] = 1;
  loran[5] = 1;  // not a peak: the count must not drop for it
  // Three peaks remain, so M = 3 removes nothing, and M = 2 removes one.
  EXPECT_EQ(Select(Tents(), 1, 3, &loran).Flagged(), (Channels{100, 200, 300}));
  EXPECT_EQ(Select(Tents(), 1, 2, &loran).Flagged(), (Channels{100, 300}));
}

TEST(ChannelSelectionMasks, AlwaysDecodeWinsOverLoranLine) {
  Mask loran{}, always{};
  loran[300] = 1;
  always[300] = 1;
  const Selection s = Select(Tents(), 1, -1, &loran, &always);
  EXPECT_EQ(s.Flagged(), (Channels{100, 200, 300, 1000}));
}

TEST(ChannelSelectionMasks, CountIncludesAlwaysAndSelectedChannelsAndCanExceedM) {
  Mask always{};
  always[10] = 1;
  always[20] = 1;
  const Selection s = Select(Tents(), 1, 2, nullptr, &always, 777);
  EXPECT_EQ(s.Flagged(), (Channels{10, 20, 100, 300, 777}));
  EXPECT_EQ(s.count, 5);
}

TEST(ChannelSelectionMasks, SwitchesOffIgnoreTheMasks) {
  Mask loran{}, always{};
  loran[100] = 1;
  always[50] = 1;
  SelectionInput in;
  const Spectrum t = Tents();
  in.spectrum = t.data();
  in.minPeakSpacing = 1;
  in.maxPeaks = -1;
  in.ignoreLoranLines = false;
  in.loranMask = loran.data();
  in.useFrequencyList = false;
  in.alwaysDecodeMask = always.data();
  std::array<int, kN> flags{};
  EXPECT_EQ(SelectChannels(in, flags.data()), 4);
  EXPECT_EQ(flags[100], 1);
  EXPECT_EQ(flags[50], 0);
}

TEST(ChannelSelectionMasks, SelectedChannelOutsideTheBandIsIgnored) {
  EXPECT_EQ(Select(Tents(), 1, -1, nullptr, nullptr, 1230).count, 4);
  SelectionInput in;
  const Spectrum t = Tents();
  in.spectrum = t.data();
  in.channelSelected = true;
  in.selectedChannel = -3;
  std::array<int, kN> flags{};
  EXPECT_EQ(SelectChannels(in, flags.data()), 4);
}

TEST(ChannelSelectionMasks, NoSpectrumSelectsNothing) {
  SelectionInput in;
  std::array<int, kN> flags;
  flags.fill(1);
  EXPECT_EQ(SelectChannels(in, flags.data()), 0);
  for (int f : flags) ASSERT_EQ(f, 0);
}

}  // namespace
}  // namespace vs32
