// Synthesis of test recordings: on/off-keyed beacon carriers, steady
// interference lines and white Gaussian noise, rendered block by block into
// 16-bit samples.
//
// Levels: the noise is white over 0 … fs/2 with standard deviation sigma; a
// carrier at SNR_DB has, while keyed on, the power of the noise in a 2500 Hz
// bandwidth times 10^(SNR_DB/10), i.e. amplitude sigma × sqrt(10^(SNR_DB/10) ×
// 2 × 2500 / (fs/2)). Sigma is chosen so that the sum of all carrier
// amplitudes plus six sigma stays inside the 16-bit range.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/frame_codec.h"

namespace vs32gen {

inline constexpr double kSymbolSeconds = 8.192;                                // one line symbol
inline constexpr double kFrameSeconds = vs32::kFrameSymbols * kSymbolSeconds;  // 1957.888 s
inline constexpr double kEdgeSeconds = 0.050;         // raised-cosine keying edge, full width
inline constexpr double kDefaultStartSeconds = 40.0;  // first symbol of the frame
inline constexpr double kTailSeconds = 60.0;          // default recording after the last frame
inline constexpr double kNoiseBandHz = 2500.0;        // bandwidth the SNR refers to
inline constexpr double kPeakSigmas = 6.0;            // noise peaks allowed for in the scale
inline constexpr double kFullScale = 32000.0;         // headroom under 32767
inline constexpr size_t kBlockFrames = 4096;          // frames rendered per call

struct StationSpec {
  std::string field;                           // callsign field as sent (6 characters)
  double audioHz = 0;                          // carrier frequency at the frame's middle
  double snrDb = 0;                            // keyed-on carrier power over noise in 2500 Hz
  double startSeconds = kDefaultStartSeconds;  // start of the frame's first symbol
};

struct LineSpec {
  double audioHz = 0;  // steady, unkeyed carrier
  double snrDb = 0;    // its power over noise in 2500 Hz
};

struct GeneratorConfig {
  uint32_t rateHz = 12000;    // 12000 or 48000
  int channels = 1;           // 1, or 2: noise only in the first, signal + noise in the second
  int64_t frames = 0;         // length in sample frames
  uint64_t seed = 1;          // noise and carrier phases are reproducible from it
  double driftHzPerHour = 0;  // linear frequency drift of every station carrier
  std::vector<StationSpec> stations;
  std::vector<LineSpec> lines;
};

// Carrier amplitude relative to the noise sigma for an SNR in 2500 Hz at rateHz.
double AmplitudePerSigma(double snrDb, uint32_t rateHz);

// Frequency of a station's carrier at recording time tSeconds (drift applied
// around the frame's middle, so audioHz is its mean over the frame).
double StationFrequencyHz(const StationSpec& station, double driftHzPerHour, double tSeconds);

class SignalGenerator {
 public:
  // The configuration must be valid (checked by the caller): frequencies inside
  // (0, fs/2) over the whole recording, finite levels, channels 1 or 2.
  explicit SignalGenerator(const GeneratorConfig& config);

  // Renders the next frames (at most maxFrames and kBlockFrames) as interleaved
  // 16-bit samples; returns how many, 0 once the recording is complete.
  size_t render(int16_t* out, size_t maxFrames);

  int64_t totalFrames() const { return config_.frames; }
  uint64_t clippedSamples() const { return clipped_; }
  double noiseSigma() const { return sigma_; }

 private:
  struct Carrier {
    double amplitude;     // 16-bit units
    double baseHz;        // frequency at refSeconds
    double driftHzPerS;   // frequency change per second
    double refSeconds;    // time at which the frequency is baseHz
    double phase;         // radians, kept in [0, 2π)
    bool keyed;           // follows a frame; otherwise always on
    double startSeconds;  // frame start (keyed carriers)
    char symbols[vs32::kFrameSymbols + 1];
  };

  // Gaussian deviates (polar method) from a xoshiro256+ stream.
  double uniform();  // in [0, 1)
  double gaussian();
  double envelope(const Carrier& c, double t) const;
  void addCarrier(Carrier& c, int64_t first, size_t count);
  int16_t quantise(double v);

  GeneratorConfig config_;
  std::vector<Carrier> carriers_;  // built once; nothing is allocated while rendering
  double sigma_ = 0;
  int64_t next_ = 0;
  uint64_t clipped_ = 0;
  uint64_t rng_[4] = {};
  double spare_ = 0;
  bool haveSpare_ = false;
  double mix_[kBlockFrames] = {};
};

}  // namespace vs32gen
