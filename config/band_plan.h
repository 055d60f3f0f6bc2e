// The band plan: how the 100 Hz wide band is cut into channels, the sample
// rates, where the wide path begins and where the mixers move the band. Every
// folder takes these figures from here, so they cannot drift apart.
#pragma once

namespace vs32 {

inline constexpr int kChannels = 1230;       // channels across the band
inline constexpr double kBandWidthHz = 100;  // width of the band the channels cover
inline constexpr double kChannelSpacingHz = kBandWidthHz / kChannels;  // 0.0813… Hz
inline constexpr int kWorkingRate = 12000;        // samples/s the receive chain works at
inline constexpr int kWideRate = 48000;           // samples/s read when the band is high
inline constexpr double kWideBandStartHz = 5450;  // band starts at or above: wide path
// Where the band's lower edge lands: after the mixer, and (wide path) after the
// pre-shift that comes before the decimation to the working rate.
inline constexpr double kMixedBandStartHz = 100;
inline constexpr double kPreShiftedBandStartHz = 1500;
inline constexpr double kTwoPi = 6.283185307179586;

// Offset of a channel above the band start, Hz: channel × spacing. The receive
// chain and the decode reports use this form.
constexpr double ChannelOffsetHz(int channel) {
  return channel * kChannelSpacingHz;
}

// Radio frequency of a channel, Hz, as decodes are reported.
constexpr double ChannelHz(double dialHz, double bandStartHz, int channel) {
  return dialHz + bandStartHz + ChannelOffsetHz(channel);
}

// Width of `channels` channels, Hz, formed as channels × 100 / 1230: the
// displays' form (peak spacing, the window's selected channel). It can differ
// from ChannelOffsetHz in the last bit, so each keeps its own.
constexpr double ChannelsToHz(int channels) {
  return channels * kBandWidthHz / kChannels;
}

// Position in channels of a frequency `offsetHz` above the band start, before
// rounding (the frequency lists truncate it).
constexpr double ChannelPosition(double offsetHz) {
  return offsetHz * kChannels * (1 / kBandWidthHz);
}

// The input rate and the mixer steps for a band starting at `bandStartHz`.
struct MixerPlan {
  int inputRate;        // samples/s: kWideRate on the wide path, else kWorkingRate
  double preShiftStep;  // rad per input sample (wide path only, else 0)
  double mixStep;       // rad per working-rate sample
};

constexpr MixerPlan PlanMixer(double bandStartHz) {
  if (bandStartHz >= kWideBandStartHz) {
    return {kWideRate, (bandStartHz - kPreShiftedBandStartHz) * kTwoPi / kWideRate,
            kTwoPi * (kPreShiftedBandStartHz - kMixedBandStartHz) / kWorkingRate};
  }
  return {kWorkingRate, 0, (bandStartHz - kMixedBandStartHz) * kTwoPi / kWorkingRate};
}

}  // namespace vs32
