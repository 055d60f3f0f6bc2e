#include "engine/receive_chain.h"

#include <cmath>
#include <cstring>

namespace vs32 {
namespace {

constexpr double kStartPhase = kTwoPi / 512;  // both mixers start here every run
constexpr float kResonatorBandwidth = 0.000244f;
constexpr float kSmootherCutoff = 1.0f / 2048;
constexpr int kSmootherStages = 3;
constexpr int kHalfFullCount = 588555;  // 1230 × 957 / 2 channel ticks
constexpr int kFullCount = 1177110;     // 1230 × 957

}  // namespace

DecimatingLowpass::DecimatingLowpass() {
  // Blackman-windowed sinc at 48000 samples/s, cut-off 2400 Hz: flat over the
  // 1500 … 1600 Hz band, more than 70 dB down from about 3.2 kHz, so nothing
  // folds onto the band when every fourth sample is kept.
  constexpr double kCutoff = 2400.0 / kWideRate;
  const int mid = (kTaps - 1) / 2;
  double sum = 0;
  std::array<double, kTaps> h{};
  for (int k = 0; k < kTaps; ++k) {
    const double n = k - mid;
    const double sinc = n == 0 ? 2 * kCutoff : std::sin(kTwoPi * kCutoff * n) / (M_PI * n);
    const double w = 0.42 - 0.5 * std::cos(kTwoPi * k / (kTaps - 1)) +
                     0.08 * std::cos(2 * kTwoPi * k / (kTaps - 1));
    h[k] = sinc * w;
    sum += h[k];
  }
  for (int k = 0; k < kTaps; ++k) coefficients_[k] = static_cast<float>(h[k] / sum);
}

BandFilterChoice ChooseBandFilter(double bandStartHz) {
  if (bandStartHz > 1430 && bandStartHz < 1460) return BandFilterChoice::kBandFir1500;
  if (bandStartHz > 2430 && bandStartHz < 2460) return BandFilterChoice::kBandFir2500;
  if (bandStartHz > 1930 && bandStartHz < 1960) return BandFilterChoice::kBandFir2000;
  if (bandStartHz < kWideBandStartHz) return BandFilterChoice::kDesigned;
  return BandFilterChoice::kWidePath;
}

ReceiveChain::ReceiveChain(const ReceiverSettings& settings, const KnownCallTable* knownCalls,
                           const ChannelMask* loranMask, const ChannelMask* alwaysDecodeMask,
                           DecodeSlotTable* slots, ReceiverEvents* events)
    : settings_(settings),
      knownCalls_(knownCalls),
      loranMask_(loranMask),
      alwaysDecodeMask_(alwaysDecodeMask),
      slots_(slots),
      events_(events),
      powerHistory_(static_cast<size_t>(kChannels) * kHistoryLength),
      signHistory_(static_cast<size_t>(kChannels) * kHistoryLength),
      snapshot_(std::make_unique<DisplaySnapshot>()) {
  resonators_.reserve(kChannels);
  smoothers_.reserve(kChannels);
  StartRun();
}

void ReceiveChain::StartRun() {
  const double bandStart = settings_.bandStartHz;
  wide_ = bandStart >= kWideBandStartHz;
  choice_ = ChooseBandFilter(bandStart);

  historyFill_ = 0;
  historyHalfFull_ = false;
  stepCounter_ = 0;
  decoderCalls_ = 0;
  blocks_ = 0;
  preShiftPhase_ = kStartPhase;
  mixPhase_ = kStartPhase;

  inputBlock_.fill(0);
  filteredBlock_.fill(0);
  wideBlock_.fill(0);
  channelPower_.fill(0);
  detectorPower_.fill(0);
  spectrum_.fill(0);
  recentMean_.fill(0);
  peakFlags_.fill(0);
  peakCount_.store(0, std::memory_order_relaxed);
  blankedCount_.store(0, std::memory_order_relaxed);
  inputLevel_.store(1.0f / 6, std::memory_order_relaxed);
  if (slots_) slots_->Clear();

  resonators_.clear();
  smoothers_.clear();
  for (int c = 0; c < kChannels; ++c) {
    // Two roundings, as the channel frequencies have always been formed.
    const float f = static_cast<float>(c * kChannelSpacingHz + 100);
    const float fn = static_cast<float>(static_cast<double>(f) * (1.0 / 12000) * 24);
    resonators_.emplace_back(fn, kResonatorBandwidth);
    smoothers_.emplace_back(kSmootherCutoff, kSmootherStages);
  }
  std::fill(powerHistory_.begin(), powerHistory_.end(), 0.0f);
  std::fill(signHistory_.begin(), signHistory_.end(), int8_t{0});

  // Both designs are centred on F_CENTER; edges in extended precision, passed as floats.
  const long double start = bandStart;
  float lo, hi;
  if (wide_) {
    lo = static_cast<float>((start - 450) / 48000);
    hi = static_cast<float>((start + 550) / 48000);
  } else {
    lo = static_cast<float>((start - 100) / 12000);
    hi = static_cast<float>((start + 200) / 12000);
  }
  bandFilter_ = std::make_unique<BandpassFir>(lo, hi);
  Publish();
}

void ReceiveChain::ProcessBlock(double blockStartSeconds, bool fromWav) {
  FrontEnd();

  // Long-term spectrum and recent mean from the histories.
  for (int c = 0; c < kChannels; ++c) {
    const float* h = &powerHistory_[c * kHistoryLength];
    float sum = 0.0f;
    for (int i = 4; i <= kNewestEntry; ++i) sum += h[i];
    spectrum_[c] = sum;
    float recent = 0.0f;
    for (int i = 944; i <= 959; ++i) recent += h[i];
    recentMean_[c] = 0.0625 * recent;
  }

  SelectionInput selection;
  selection.spectrum = spectrum_.data();
  selection.minPeakSpacing = settings_.minPeakSpacing;
  selection.maxPeaks = settings_.maxPeaks;
  selection.ignoreLoranLines = settings_.ignoreLoranLines;
  selection.loranMask = loranMask_ ? loranMask_->data() : nullptr;
  selection.useFrequencyList = settings_.useFrequencyList;
  selection.alwaysDecodeMask = alwaysDecodeMask_ ? alwaysDecodeMask_->data() : nullptr;
  selection.channelSelected = channelSelected.load(std::memory_order_relaxed);
  selection.selectedChannel = selectedChannel.load(std::memory_order_relaxed);
  const int count = SelectChannels(selection, peakFlags_.data());
  peakCount_.store(count, std::memory_order_relaxed);
  if (events_) events_->PeaksSelected(count);

  ChannelSteps(blockStartSeconds, fromWav);
  ++blocks_;
  Publish();
}

void ReceiveChain::FrontEnd() {
  float* block = inputBlock_.data();

  if (wide_) {
    // Band filter, pre-shift so the band starts at 1500 Hz, low-pass, keep
    // sample 4k + 3 of every group of four.
    const double step = settings_.preShiftStep;
    for (int i = 0; i < kWideRate; ++i) {
      const float y =
          static_cast<float>(bandFilter_->Step(wideBlock_[i]) * std::cos(preShiftPhase_));
      preShiftPhase_ += step;
      if (preShiftPhase_ > kTwoPi) preShiftPhase_ -= kTwoPi;
      decimator_.Push(y);
      if ((i & 3) == 3) block[i >> 2] = decimator_.Output();
    }
  }

  // Level and impulse blanking.
  float sum = 0.0f;
  for (int i = 0; i < kWorkingRate; ++i) sum += std::fabs(block[i]);
  const float m = sum / kWorkingRate;
  float level = inputLevel_.load(std::memory_order_relaxed);
  level = static_cast<float>(0.95 * level + 0.05 * m);
  inputLevel_.store(level, std::memory_order_relaxed);
  int blanked = 0;
  const double limit = 3.0 * level;
  for (int i = 0; i < kWorkingRate; ++i) {
    if (std::fabs(block[i]) > limit) {
      block[i] = 0;
      ++blanked;
    }
  }
  blankedCount_.store(blanked, std::memory_order_relaxed);
  if (level > 0) {
    const double scale = 6.0 * level;
    for (int i = 0; i < kWorkingRate; ++i) block[i] = static_cast<float>(block[i] / scale);
  }

  float* out = filteredBlock_.data();
  switch (choice_) {
    case BandFilterChoice::kBandFir1500:
    case BandFilterChoice::kWidePath:
      bandFir1500_.Filter(block, kWorkingRate, out);
      break;
    case BandFilterChoice::kBandFir2500:
      bandFir2500_.Filter(block, kWorkingRate, out);
      break;
    case BandFilterChoice::kBandFir2000:
      bandFir2000_.Filter(block, kWorkingRate, out);
      break;
    case BandFilterChoice::kDesigned:
      bandFilter_->FilterBlock(block, kWorkingRate, out);
      break;
  }

  // Mixer: the band's lower edge moves to 100 Hz.
  const double mixStep = settings_.mixStep;
  for (int i = 0; i < kWorkingRate; ++i) {
    out[i] = static_cast<float>(out[i] * std::cos(mixPhase_));
    mixPhase_ += mixStep;
    if (mixPhase_ > kTwoPi) mixPhase_ -= kTwoPi;
  }
  mixLowpass_.FilterInPlace(out, kWorkingRate);
}

void ReceiveChain::ChannelSteps(double blockStartSeconds, bool fromWav) {
  const bool coherent = settings_.coherentDetector;
  for (int t = 0; t < kWorkingRate; t += kSamplesPerStep) {
    const float x = filteredBlock_[t];
    const bool tick = stepCounter_ % kStepsPerTick == 0;
    for (int c = 0; c < kChannels; ++c) {
      ChannelResonator& r = resonators_[c];
      const double y = r.Step(x);
      float power;
      if (coherent) {
        const float i = static_cast<float>(y * std::cos(r.phase()));
        const float q = static_cast<float>(y * std::sin(r.phase()));
        r.AdvancePhase();
        power = i * i + q * q;
      } else {
        const float yf = static_cast<float>(y);
        power = yf * yf;
      }
      detectorPower_[c] = power;
      channelPower_[c] = smoothers_[c].Step(power);
      if (tick) Tick(c, blockStartSeconds + static_cast<double>(t) / kWorkingRate, fromWav);
    }
    if (tick) stepCounter_ = 0;
    ++stepCounter_;
  }
}

void ReceiveChain::Tick(int c, double tickSeconds, bool fromWav) {
  float* h = &powerHistory_[c * kHistoryLength];
  std::memmove(h, h + 1, kNewestEntry * sizeof(float));
  h[kNewestEntry] = channelPower_[c];
  int8_t* s = &signHistory_[c * kHistoryLength];
  std::memmove(s, s + 1, kNewestEntry);
  s[kNewestEntry] = channelPower_[c] > recentMean_[c] ? 1 : -1;

  historyFill_ += 1;
  if (historyFill_ >= kHalfFullCount) {
    historyFill_ = kFullCount;
    historyHalfFull_ = true;
  } else {
    historyHalfFull_ = false;
  }

  if (slots_) slots_->CountDownHold(c);

  char call[8] = {};
  float ebNo = -100.0f;
  int attempts = 0;
  DecodeStatus status = 0;
  if (peakFlags_[c] != 0 && c > 0 && c < kChannels - 1) {
    DecoderOptions options;
    options.useCorrelator = settings_.useCorrelator;
    options.correlator51Threshold = settings_.correlator51Threshold;
    options.correlator237Threshold = settings_.correlator237Threshold;
    options.knownCalls = knownCalls_;
    options.historyHalfFull = historyHalfFull_;
    options.events = events_;
    const int depth = settings_.ultraDeepDecoder ? 2 : settings_.deepDecoder ? 1 : 0;
    status = DecodeFrame(h, h - kHistoryLength, h + kHistoryLength, s, call, &ebNo, &attempts,
                         depth, options);
    ++decoderCalls_;
  }
  if (slots_ && status != 0) {
    slots_->AcceptDecode(c, status, call, ebNo, attempts, static_cast<int>(tickSeconds),
                         spectrum_.data(), settings_.decodeThreshold, fromWav);
  }
}

void ReceiveChain::Publish() {
  std::lock_guard lock(snapshotMutex_);
  DisplaySnapshot& s = *snapshot_;
  s.inputBlock = inputBlock_;
  s.channelPower = channelPower_;
  s.spectrum = spectrum_;
  s.peakFlags = peakFlags_;
  int sel = selectedChannel.load(std::memory_order_relaxed);
  if (sel < 0 || sel >= kChannels) sel = 0;
  s.selectedChannel = sel;
  std::memcpy(s.selectedHistory.data(), &powerHistory_[sel * kHistoryLength],
              sizeof(float) * kHistoryLength);
  s.selectedRecentMean = recentMean_[sel];
  s.peakCount = peakCount_.load(std::memory_order_relaxed);
  s.inputLevel = inputLevel_.load(std::memory_order_relaxed);
  s.blankedCount = blankedCount_.load(std::memory_order_relaxed);
  s.blocks = blocks_;
}

void ReceiveChain::Snapshot(DisplaySnapshot* out) const {
  std::lock_guard lock(snapshotMutex_);
  *out = *snapshot_;
}

}  // namespace vs32
