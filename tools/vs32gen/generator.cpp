#include "tools/vs32gen/generator.h"

#include <cmath>
#include <numbers>

namespace vs32gen {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kHalfEdge = kEdgeSeconds / 2;

uint64_t SplitMix64(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

uint64_t Rotl(uint64_t x, int k) {
  return (x << k) | (x >> (64 - k));
}

// Rises from 0 at tau = -kHalfEdge to 1 at tau = +kHalfEdge (tau: time from the
// symbol boundary).
double Ramp(double tau) {
  return 0.5 * (1.0 - std::cos(std::numbers::pi * (tau + kHalfEdge) / kEdgeSeconds));
}

}  // namespace

double AmplitudePerSigma(double snrDb, uint32_t rateHz) {
  // Noise power in 2500 Hz is sigma² × 2500 / (fs/2); the carrier's is A²/2.
  const double noiseShare = kNoiseBandHz / (rateHz / 2.0);
  return std::sqrt(2.0 * std::pow(10.0, snrDb / 10.0) * noiseShare);
}

double StationFrequencyHz(const StationSpec& station, double driftHzPerHour, double tSeconds) {
  const double middle = station.startSeconds + kFrameSeconds / 2;
  return station.audioHz + driftHzPerHour / 3600.0 * (tSeconds - middle);
}

SignalGenerator::SignalGenerator(const GeneratorConfig& config) : config_(config) {
  uint64_t s = config.seed;
  for (auto& word : rng_) word = SplitMix64(s);

  double amplitudeSum = 0;  // relative to sigma
  carriers_.reserve(config.stations.size() + config.lines.size());
  for (const auto& st : config.stations) {
    Carrier c{};
    c.amplitude = AmplitudePerSigma(st.snrDb, config.rateHz);
    c.baseHz = st.audioHz;
    c.driftHzPerS = config.driftHzPerHour / 3600.0;
    c.refSeconds = st.startSeconds + kFrameSeconds / 2;
    c.phase = kTwoPi * uniform();
    c.keyed = true;
    c.startSeconds = st.startSeconds;
    int scrambled[vs32::kMessageBits];
    vs32::EncodeFrame(st.field, c.symbols, scrambled);
    amplitudeSum += c.amplitude;
    carriers_.push_back(c);
  }
  for (const auto& line : config.lines) {
    Carrier c{};
    c.amplitude = AmplitudePerSigma(line.snrDb, config.rateHz);
    c.baseHz = line.audioHz;
    c.phase = kTwoPi * uniform();
    c.keyed = false;
    amplitudeSum += c.amplitude;
    carriers_.push_back(c);
  }
  // A carrier and the noise peak together only rarely, so the sum of all
  // amplitudes plus six sigma of noise bounds the samples almost always.
  sigma_ = kFullScale / (kPeakSigmas + amplitudeSum);
  for (auto& c : carriers_) c.amplitude *= sigma_;
}

double SignalGenerator::uniform() {
  // xoshiro256+; the top 53 bits make the double.
  const uint64_t result = rng_[0] + rng_[3];
  const uint64_t t = rng_[1] << 17;
  rng_[2] ^= rng_[0];
  rng_[3] ^= rng_[1];
  rng_[1] ^= rng_[2];
  rng_[0] ^= rng_[3];
  rng_[2] ^= t;
  rng_[3] = Rotl(rng_[3], 45);
  return static_cast<double>(result >> 11) * 0x1.0p-53;
}

double SignalGenerator::gaussian() {
  if (haveSpare_) {
    haveSpare_ = false;
    return spare_;
  }
  double u, v, r2;
  do {
    u = 2.0 * uniform() - 1.0;
    v = 2.0 * uniform() - 1.0;
    r2 = u * u + v * v;
  } while (r2 >= 1.0 || r2 == 0.0);
  const double f = std::sqrt(-2.0 * std::log(r2) / r2);
  spare_ = v * f;
  haveSpare_ = true;
  return u * f;
}

double SignalGenerator::envelope(const Carrier& c, double t) const {
  const double u = (t - c.startSeconds) / kSymbolSeconds;
  if (u < -1.0 || u > vs32::kFrameSymbols + 1.0) return 0.0;
  const int s = static_cast<int>(std::floor(u));
  auto key = [&](int i) {
    return (i >= 0 && i < vs32::kFrameSymbols && c.symbols[i] == '1') ? 1.0 : 0.0;
  };
  const double tau = t - (c.startSeconds + s * kSymbolSeconds);  // into symbol s
  const double here = key(s);
  if (tau < kHalfEdge) {
    const double before = key(s - 1);
    return before + (here - before) * Ramp(tau);
  }
  if (tau > kSymbolSeconds - kHalfEdge) {
    const double after = key(s + 1);
    return here + (after - here) * Ramp(tau - kSymbolSeconds);
  }
  return here;
}

void SignalGenerator::addCarrier(Carrier& c, int64_t first, size_t count) {
  const double rate = config_.rateHz;
  for (size_t i = 0; i < count; ++i) {
    const double t = static_cast<double>(first + static_cast<int64_t>(i)) / rate;
    const double env = c.keyed ? envelope(c, t) : 1.0;
    if (env > 0.0) mix_[i] += c.amplitude * env * std::sin(c.phase);
    const double hz = c.baseHz + c.driftHzPerS * (t - c.refSeconds);
    c.phase += kTwoPi * hz / rate;
    if (c.phase >= kTwoPi) c.phase -= kTwoPi;
  }
}

int16_t SignalGenerator::quantise(double v) {
  const double r = std::nearbyint(v);
  if (r > 32767.0) {
    ++clipped_;
    return 32767;
  }
  if (r < -32768.0) {
    ++clipped_;
    return -32768;
  }
  return static_cast<int16_t>(r);
}

size_t SignalGenerator::render(int16_t* out, size_t maxFrames) {
  int64_t left = config_.frames - next_;
  if (left <= 0) return 0;
  size_t count = maxFrames < kBlockFrames ? maxFrames : kBlockFrames;
  if (static_cast<int64_t>(count) > left) count = static_cast<size_t>(left);

  for (size_t i = 0; i < count; ++i) mix_[i] = 0.0;
  for (auto& c : carriers_) addCarrier(c, next_, count);
  if (config_.channels == 2) {
    for (size_t i = 0; i < count; ++i) {
      out[2 * i] = quantise(sigma_ * gaussian());
      out[2 * i + 1] = quantise(mix_[i] + sigma_ * gaussian());
    }
  } else {
    for (size_t i = 0; i < count; ++i) out[i] = quantise(mix_[i] + sigma_ * gaussian());
  }
  next_ += static_cast<int64_t>(count);
  return count;
}

}  // namespace vs32gen
