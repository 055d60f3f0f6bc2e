#include "engine/receive_chain.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/block_fir.h"
#include "engine/channel_bank.h"
#include "engine/decimator.h"
#include "engine/fixed_filters.h"
#include "engine/float_vectors.h"
#include "engine/history_sums.h"

namespace vs32 {

// The kernels, as the chain calls them: each stage's widest build the CPU
// runs, or all portable.
struct ChainKernels {
  StepBankKernel stepBankPlain;
  FirRunKernel firRun;
  DecimateRunKernel decimateRun;
  SumEightKernel sumEight;
  bool wide;  // any AVX2 build among them
};

namespace {

constexpr double kStartPhase = kTwoPi / 512;  // both mixers start here every run
constexpr float kResonatorBandwidth = 0.000244f;
constexpr float kSmootherCutoff = 1.0f / 2048;
constexpr int kSmootherStages = 3;
// Channel ticks until every channel's spectrum entries (4 … 960) hold real powers.
constexpr int kFullCount = kChannels * 957;
constexpr int kHalfFullCount = kFullCount / 2;

const ChainKernels* KernelsFor(bool portable) {
  static const ChainKernels kPortable = {SelectStepBankPlain(true), SelectFirRun(true),
                                         SelectDecimateRun(true), SelectSumEight(true), false};
  static const ChainKernels kBest = {SelectStepBankPlain(false), SelectFirRun(false),
                                     SelectDecimateRun(false), SelectSumEight(false),
                                     Avx2KernelsAvailable()};
  return portable ? &kPortable : &kBest;
}

}  // namespace

BandFilterChoice ChooseBandFilter(double bandStartHz) {
  if (bandStartHz > 1430 && bandStartHz < 1460) return BandFilterChoice::kBandFir1500;
  if (bandStartHz > 2430 && bandStartHz < 2460) return BandFilterChoice::kBandFir2500;
  if (bandStartHz > 1930 && bandStartHz < 1960) return BandFilterChoice::kBandFir2000;
  if (bandStartHz < kWideBandStartHz) return BandFilterChoice::kDesigned;
  return BandFilterChoice::kWidePath;
}

struct ChainFilters {
  // The fixed filters: they live as long as the chain and are never reset.
  BlockFir bandFir1500{kBandFir1500Coefficients, kBandFirTaps, kWorkingRate};
  BlockFir bandFir2000{kBandFir2000Coefficients, kBandFirTaps, kWorkingRate};
  BlockFir bandFir2500{kBandFir2500Coefficients, kBandFirTaps, kWorkingRate};
  BlockFir mixLowpass{kMixLowpassCoefficients, kMixLowpassTaps, kWorkingRate};
  // The run's designed band filter (narrow path, or the wide path's 48000
  // samples/s filter), redesigned at the start of every run.
  BlockFir designed{kWideRate};
  std::vector<float> wideFiltered = std::vector<float>(kWideRate);

  // The wide path's low-pass before decimation. Its input is kept split by
  // phase (sample 4q + r of a block at phases[r·kPhaseStride + kDecimatorPast + q]),
  // behind the last kDecimatorPast samples of each phase from the block before;
  // like the fixed filters it carries them from run to run.
  static constexpr int kDecimatorPast = (DecimatingLowpass::kTaps - 1) / 4 + 1;
  static constexpr int kPhaseStride = kDecimatorPast + kWorkingRate;
  DecimatingLowpass decimator;
  std::vector<float> phases = std::vector<float>(4 * kPhaseStride);
};

ReceiveChain::ReceiveChain(const ReceiverSettings& settings, const KnownCallTable* knownCalls,
                           const ChannelMask* loranMask, const ChannelMask* alwaysDecodeMask,
                           DecodeSlotTable* slots, ReceiverEvents* events)
    : settings_(settings),
      knownCalls_(knownCalls),
      loranMask_(loranMask),
      alwaysDecodeMask_(alwaysDecodeMask),
      slots_(slots),
      events_(events),
      kernels_(KernelsFor(false)),
      filters_(std::make_unique<ChainFilters>()),
      bank_(std::make_unique<ChainBank>()),
      powerRing_(static_cast<size_t>(kChannels) * 2 * kRingSlots),
      signRing_(static_cast<size_t>(kChannels) * 2 * kRingSlots),
      snapshot_(std::make_unique<DisplaySnapshot>()) {
  StartRun();
}

ReceiveChain::~ReceiveChain() = default;

bool ReceiveChain::wideKernels() const {
  return kernels_->wide;
}

void ReceiveChain::usePortableKernels(bool portable) {
  kernels_ = KernelsFor(portable);
}

void ReceiveChain::StartRun() {
  const double bandStart = settings_.bandStartHz;
  wide_ = bandStart >= kWideBandStartHz;
  choice_ = ChooseBandFilter(bandStart);

  // The menu may switch the list on during the run: its workspace is always there.
  if (!list_ || list_->listSize() != std::clamp(settings_.listSize, kMinListSize, kMaxListSize)) {
    list_ = std::make_unique<ListDecoder>(settings_.listSize);
  }
  historyFill_ = 0;
  historyHalfFull_ = false;
  ticks_ = 0;
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
  stepPower_.fill(0);
  spectrum_.fill(0);
  recentMean_.fill(0);
  peakFlags_.fill(0);
  peakCount_.store(0, std::memory_order_relaxed);
  blankedCount_.store(0, std::memory_order_relaxed);
  inputLevel_.store(1.0f / 6, std::memory_order_relaxed);
  if (slots_) slots_->Clear();

  // New channels: the resonators and smoothers as designed, all state zero. The padding channels
  // copy the last.
  ChainBank& b = *bank_;
  const SmootherDesign smoother(kSmootherCutoff, kSmootherStages);
  b.gain = smoother.gain();
  b.pole = smoother.pole();
  b.x1 = b.x2 = 0;
  for (int c = 0; c < kPaddedChannels; ++c) {
    const int channel = std::min(c, kChannels - 1);
    // Two roundings, as the channel frequencies have always been formed.
    const float f = static_cast<float>(ChannelOffsetHz(channel) + kMixedBandStartHz);
    const float fn =
        static_cast<float>(static_cast<double>(f) * (1.0 / kWorkingRate) * kSamplesPerStep);
    const ResonatorDesign r(fn, kResonatorBandwidth);
    b.a0[c] = r.a0();
    b.a1[c] = r.a1();
    b.a2[c] = r.a2();
    b.b1[c] = r.b1();
    b.b2[c] = r.b2();
    b.phase[c] = ResonatorDesign::kInitialPhase;
    b.phaseStep[c] = r.phase_step();
    b.y0[c] = b.y1[c] = 0;
    b.s0[c] = b.s1[c] = b.s2[c] = 0;
  }

  std::fill(powerRing_.begin(), powerRing_.end(), 0.0f);
  std::fill(signRing_.begin(), signRing_.end(), int8_t{0});
  ringPos_ = 0;
  spectrumStale_ = false;
  nextSpectrum_.fill(0);
  nextRecent_.fill(0);

  // Both designs are centred on F_CENTER; edges in extended precision, passed as floats.
  const long double start = bandStart;
  float lo, hi;
  if (wide_) {
    lo = static_cast<float>((start - 450) / kWideRate);
    hi = static_cast<float>((start + 550) / kWideRate);
  } else {
    lo = static_cast<float>((start - 100) / kWorkingRate);
    hi = static_cast<float>((start + 200) / kWorkingRate);
  }
  bandFilter_ = std::make_unique<BandpassDesign>(lo, hi);
  filters_->designed.Redesign(*bandFilter_);
  Publish();
}

void ReceiveChain::ProcessBlock(double blockStartSeconds, bool fromWav) {
  FrontEnd();
  // The histories change only at ticks, so the sums of the last block still
  // hold when no tick came since.
  if (spectrumStale_) UpdateSpectrum();

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

void ReceiveChain::UpdateSpectrum() {
  for (int c = 0; c < kChannels; ++c) {
    spectrum_[c] = nextSpectrum_[c];
    recentMean_[c] = 0.0625 * nextRecent_[c];
  }
  spectrumStale_ = false;
}

// The sums of history entries 4 … 960 (the spectrum) and 944 … 959 (the
// recent mean) of channels first … last − 1, each channel's own chain of
// single-precision additions, oldest entry first. Reading a channel's history
// here also brings it into the cache for its decoder.
void ReceiveChain::SumHistories(int first, int last) {
  constexpr int kLanes = 8;
  const int start = WindowStart();
  for (int c0 = first; c0 < last; c0 += kLanes) {
    const int lanes = std::min(kLanes, last - c0);
    const float* h[kLanes];
    for (int l = 0; l < kLanes; ++l) {
      h[l] = &powerRing_[RingOffset(c0 + std::min(l, lanes - 1)) + start];
    }
    float sum[kLanes], recent[kLanes];
    kernels_->sumEight(h, sum, recent);
    for (int l = 0; l < lanes; ++l) {
      nextSpectrum_[c0 + l] = sum[l];
      nextRecent_[c0 + l] = recent[l];
    }
  }
}

void ReceiveChain::FrontEnd() {
  float* block = inputBlock_.data();

  if (wide_) {
    // Band filter, pre-shift so the band starts at 1500 Hz, low-pass, keep
    // sample 4k + 3 of every group of four.
    ChainFilters& f = *filters_;
    f.designed.Filter(kernels_->firRun, wideBlock_.data(), kWideRate, f.wideFiltered.data());
    const double step = settings_.preShiftStep;
    constexpr int kStride = ChainFilters::kPhaseStride;
    constexpr int kPast = ChainFilters::kDecimatorPast;
    float* phases = f.phases.data();
    for (int i = 0; i < kWideRate; ++i) {
      const float y = static_cast<float>(f.wideFiltered[i] * std::cos(preShiftPhase_));
      preShiftPhase_ += step;
      if (preShiftPhase_ > kTwoPi) preShiftPhase_ -= kTwoPi;
      phases[(i & 3) * kStride + kPast + (i >> 2)] = y;
    }
    kernels_->decimateRun(f.decimator.coefficients(), DecimatingLowpass::kTaps, phases, kStride,
                          kPast, kWorkingRate, block);
    for (int r = 0; r < 4; ++r) {
      float* phase = phases + r * kStride;
      std::memmove(phase, phase + kWorkingRate, sizeof(float) * kPast);
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

  ChainFilters& f = *filters_;
  float* out = filteredBlock_.data();
  switch (choice_) {
    case BandFilterChoice::kBandFir1500:
    case BandFilterChoice::kWidePath:
      f.bandFir1500.Filter(kernels_->firRun, block, kWorkingRate, out);
      break;
    case BandFilterChoice::kBandFir2500:
      f.bandFir2500.Filter(kernels_->firRun, block, kWorkingRate, out);
      break;
    case BandFilterChoice::kBandFir2000:
      f.bandFir2000.Filter(kernels_->firRun, block, kWorkingRate, out);
      break;
    case BandFilterChoice::kDesigned:
      f.designed.Filter(kernels_->firRun, block, kWorkingRate, out);
      break;
  }

  // Mixer: the band's lower edge moves to 100 Hz.
  const double mixStep = settings_.mixStep;
  for (int i = 0; i < kWorkingRate; ++i) {
    out[i] = static_cast<float>(out[i] * std::cos(mixPhase_));
    mixPhase_ += mixStep;
    if (mixPhase_ > kTwoPi) mixPhase_ -= kTwoPi;
  }
  f.mixLowpass.Filter(kernels_->firRun, out, kWorkingRate, out);
}

void ReceiveChain::RunBank(int firstStep, int steps, bool coherent) {
  ChainBank& b = *bank_;
  bankInput_[0] = b.x2;
  bankInput_[1] = b.x1;
  for (int s = 0; s < steps; ++s) {
    bankInput_[2 + s] = filteredBlock_[(firstStep + s) * kSamplesPerStep];
  }
  if (coherent) {
    StepBankCoherent(b, bankInput_.data(), steps, detectorPower_.data(), stepPower_.data());
  } else {
    kernels_->stepBankPlain(b, bankInput_.data(), steps, detectorPower_.data(), stepPower_.data());
  }
  b.x2 = bankInput_[steps];
  b.x1 = bankInput_[steps + 1];
}

void ReceiveChain::ChannelSteps(double blockStartSeconds, bool fromWav) {
  const bool coherent = settings_.coherentDetector;
  // The bank runs from tick to tick: a channel's state stays in registers over
  // hundreds of steps, and only the powers at a tick and at the end of the
  // block are kept.
  int step = 0;
  while (step < kStepsPerBlock) {
    const int remaining = kStepsPerBlock - step;
    const int beforeTick = stepCounter_ % kStepsPerTick == 0 ? 0 : kStepsPerTick - stepCounter_;
    const bool tick = beforeTick < remaining;
    const int n = tick ? beforeTick + 1 : remaining;
    RunBank(step, n, coherent);
    step += n;
    if (tick) {
      const int t = (step - 1) * kSamplesPerStep;
      Tick(blockStartSeconds + static_cast<double>(t) / kWorkingRate, fromWav);
      stepCounter_ = 1;
    } else {
      stepCounter_ += n;
    }
  }
  std::copy_n(stepPower_.begin(), kChannels, channelPower_.begin());
}

void ReceiveChain::Tick(double tickSeconds, bool fromWav) {
  // Every channel's new entry goes in first; the decoder of channel c is then
  // shown channels c − 1 and c with it and channel c + 1 without it (its window
  // before this tick, which the ring still holds), as when the channels tick
  // one after the other.
  const int p = ringPos_;
  for (int c = 0; c < kChannels; ++c) {
    const float power = stepPower_[c];
    float* h = &powerRing_[RingOffset(c)];
    h[p] = power;
    h[p + kRingSlots] = power;
    const int8_t sign = power > recentMean_[c] ? 1 : -1;
    int8_t* s = &signRing_[RingOffset(c)];
    s[p] = sign;
    s[p + kRingSlots] = sign;
  }
  ringPos_ = p + 1 == kRingSlots ? 0 : p + 1;
  spectrumStale_ = true;
  const int now = WindowStart();
  const int before = now == 0 ? kRingSlots - 1 : now - 1;

  DecoderOptions options;
  options.useCorrelator = settings_.useCorrelator;
  options.correlator51Threshold = settings_.correlator51Threshold;
  options.correlator237Threshold = settings_.correlator237Threshold;
  options.correlatorSecondOpinion = settings_.correlatorSecondOpinion;
  options.knownCalls = knownCalls_;
  options.events = events_;
  options.strictFrameCheck = settings_.strictFrameCheck;
  options.decodeAfterWarmup = settings_.decodeAfterWarmup;
  options.listDecoder = list_.get();
  options.listThreshold = settings_.listThreshold;
  if (ticks_ <= kNewestEntry) ++ticks_;
  options.historyFull = ticks_ > kNewestEntry;
  const int depth = settings_.listDecoder        ? 3
                    : settings_.ultraDeepDecoder ? 2
                    : settings_.deepDecoder      ? 1
                                                 : 0;

  // The sums for the next block's spectrum are formed channel by channel just
  // ahead of the decoder, so each history comes from memory once a tick.
  constexpr int kSumAhead = 8;
  int summed = 0;  // channels 0 … summed − 1 have their sums
  for (int c = 0; c < kChannels; ++c) {
    if (summed < kChannels && summed <= c + 1) {
      const int last = std::min(summed + kSumAhead, kChannels);
      SumHistories(summed, last);
      summed = last;
    }
    historyFill_ += 1;
    if (historyFill_ >= kHalfFullCount) {
      historyFill_ = kFullCount;
      historyHalfFull_ = true;
    } else {
      historyHalfFull_ = false;
    }

    if (slots_) slots_->CountDownHold(c);

    DecodeResult decoded;
    if (peakFlags_[c] != 0 && c > 0 && c < kChannels - 1) {
      options.historyHalfFull = historyHalfFull_;
      decoded = decoder_(&powerRing_[RingOffset(c) + now], &powerRing_[RingOffset(c - 1) + now],
                         &powerRing_[RingOffset(c + 1) + before], &signRing_[RingOffset(c) + now],
                         depth, options);
      ++decoderCalls_;
    }
    if (slots_ && decoded.status != 0) {
      slots_->AcceptDecode(c, decoded.status, decoded.call, decoded.ebNoDb, decoded.attempts,
                           static_cast<int>(tickSeconds), spectrum_.data(),
                           settings_.decodeThreshold, fromWav);
    }
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
  std::memcpy(s.selectedHistory.data(), powerHistory(sel), sizeof(float) * (kNewestEntry + 1));
  std::fill(s.selectedHistory.begin() + kNewestEntry + 1, s.selectedHistory.end(), 0.0f);
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
