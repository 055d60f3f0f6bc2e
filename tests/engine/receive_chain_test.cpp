// The receive chain driven block by block: the band path a band start takes,
// which channel a carrier lands in, the first tick, silent input, which
// channels reach the decoder and what they see at a tick, the start of a run,
// the kernels for different CPUs, the bank against the reference objects, and
// no heap use per block.

#include "engine/receive_chain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <random>
#include <vector>

#include "receiver/receiver.h"
#include "support/allocation_counter.h"
#include "support/reference_filters.h"

namespace vs32 {
namespace {

constexpr int kEntries = kNewestEntry + 1;  // history entries in use

// A chain with its own settings, masks and slot table: a receiver's, driven
// here block by block.
struct Rig {
  ResultsOutput output;
  std::unique_ptr<Receiver> receiver;
  ReceiverSettings& settings;
  KnownCallTable* table;
  ChannelMask* always;
  DecodeSlotTable* slots;
  ReceiveChain* chain;
  std::mt19937 rng{11};

  explicit Rig(double bandStartHz = 1450)
      : receiver(std::make_unique<Receiver>(Program::kConsole, Settings(bandStartHz), output)),
        settings(receiver->settings()),
        table(&receiver->knownCalls()),
        always(&receiver->alwaysDecodeMask()),
        slots(&receiver->decodeSlots()),
        chain(&receiver->chain()) {}
  static ReceiverSettings Settings(double bandStartHz) {
    ReceiverSettings settings = DefaultSettings(Program::kConsole);
    settings.bandStartHz = bandStartHz;
    ComputeDerived(settings);
    return settings;
  }
  // Noise plus a carrier in the band, at the block size of the path.
  void NoiseBlock(float amplitude = 0.2f) {
    std::normal_distribution<float> g(0.0f, amplitude);
    const int n = chain->BlockSize();
    float* b = chain->BlockBuffer();
    for (int i = 0; i < n; ++i) {
      b[i] = g(rng) + 0.02f * static_cast<float>(std::sin(0.7 * i));
    }
  }
  void SilentBlock() { std::fill_n(chain->BlockBuffer(), chain->BlockSize(), 0.0f); }
  // A carrier of `hz` (audio frequency at the input) continuing across blocks.
  void ToneBlock(double hz) {
    const int n = chain->BlockSize();
    const double rate = chain->InputRate();
    float* b = chain->BlockBuffer();
    for (int i = 0; i < n; ++i, ++toneSamples) {
      const double cycles = std::fmod(hz * static_cast<double>(toneSamples) / rate, 1.0);
      b[i] = 0.3f * static_cast<float>(std::sin(2 * M_PI * cycles));
    }
  }
  long long toneSamples = 0;
  void Run(int blocks) {
    for (int i = 0; i < blocks; ++i) {
      NoiseBlock();
      chain->ProcessBlock(1000 + i, true);
    }
  }
};

// ---- Band path

TEST(ReceiveChainBandPath, OpenIntervalsPickTheFixedFilters) {
  EXPECT_EQ(ChooseBandFilter(1430), BandFilterChoice::kDesigned);
  EXPECT_EQ(ChooseBandFilter(1430.01), BandFilterChoice::kBandFir1500);
  EXPECT_EQ(ChooseBandFilter(1450), BandFilterChoice::kBandFir1500);
  EXPECT_EQ(ChooseBandFilter(1460), BandFilterChoice::kDesigned);
  EXPECT_EQ(ChooseBandFilter(1930), BandFilterChoice::kDesigned);
  EXPECT_EQ(ChooseBandFilter(1945), BandFilterChoice::kBandFir2000);
  EXPECT_EQ(ChooseBandFilter(1960), BandFilterChoice::kDesigned);
  EXPECT_EQ(ChooseBandFilter(2430), BandFilterChoice::kDesigned);
  EXPECT_EQ(ChooseBandFilter(2445), BandFilterChoice::kBandFir2500);
  EXPECT_EQ(ChooseBandFilter(2460), BandFilterChoice::kDesigned);
  EXPECT_EQ(ChooseBandFilter(5449.9), BandFilterChoice::kDesigned);
  EXPECT_EQ(ChooseBandFilter(5450), BandFilterChoice::kWidePath);
  EXPECT_EQ(ChooseBandFilter(20000), BandFilterChoice::kWidePath);
}

TEST(ReceiveChainBandPath, WidePathFromBandStart5450TakesWholeSecondsAt48000) {
  Rig narrow(5449.9);
  EXPECT_FALSE(narrow.chain->widePath());
  EXPECT_EQ(narrow.chain->BlockSize(), 12000);
  Rig wide(5450);
  EXPECT_TRUE(wide.chain->widePath());
  EXPECT_EQ(wide.chain->BlockSize(), 48000);
  EXPECT_EQ(wide.chain->InputRate(), 48000);
  wide.Run(3);
  EXPECT_EQ(wide.chain->stepCounter(), 1500 - 1024);  // 500 channel steps a second either way
}

// The band plan's promise on every path (fixed and designed band filters,
// either side of the wide-path threshold): a carrier at a channel's offset
// above the band start is strongest in that channel.
class ReceiveChainChannelFrequency : public ::testing::TestWithParam<double> {};

TEST_P(ReceiveChainChannelFrequency, CarrierPeaksInItsOwnChannel) {
  for (const int channel : {40, 615, 1190}) {
    Rig rig(GetParam());
    for (int block = 0; block < 12; ++block) {
      rig.ToneBlock(GetParam() + ChannelOffsetHz(channel));
      rig.chain->ProcessBlock(1000 + block, true);
    }
    const auto& power = rig.chain->channelPower();
    const int strongest =
        static_cast<int>(std::max_element(power.begin(), power.end()) - power.begin());
    EXPECT_EQ(strongest, channel) << "band start " << GetParam();
  }
}

INSTANTIATE_TEST_SUITE_P(BandStarts, ReceiveChainChannelFrequency,
                         ::testing::Values(1450.0, 1700.0, 5449.9, 5450.0, 9000.0));

// ---- Ticks

TEST(ReceiveChainTicks, FirstChannelStepOfARunIsATick) {
  Rig rig;
  rig.NoiseBlock();
  rig.chain->ProcessBlock(1000, true);
  // The same channel as single objects, one step on the first filtered sample.
  const int c = 615;
  const float f = static_cast<float>(c * kChannelSpacingHz + 100);
  ChannelResonator resonator(static_cast<float>(static_cast<double>(f) * (1.0 / 12000) * 24),
                             0.000244f);
  PowerSmoother smoother(1.0f / 2048, 3);
  const float y = static_cast<float>(resonator.Step(rig.chain->filteredBlock()[0]));
  const float expected = smoother.Step(y * y);
  ASSERT_GT(expected, 0.0f);
  const float* h = rig.chain->powerHistory(c);
  EXPECT_EQ(h[kNewestEntry], expected);
  for (int i = 0; i < kNewestEntry; ++i) ASSERT_EQ(h[i], 0.0f) << i;
  EXPECT_EQ(rig.chain->stepCounter(), 500);

  // The next tick is channel step 1024 of the run: in the third block.
  rig.Run(1);
  EXPECT_EQ(rig.chain->powerHistory(c)[kNewestEntry - 1], 0.0f);
  rig.Run(1);
  EXPECT_EQ(rig.chain->powerHistory(c)[kNewestEntry - 1], expected);
  EXPECT_EQ(rig.chain->stepCounter(), 1500 - 1024);
}

TEST(ReceiveChainTicks, SilentInputBlanksNothingAndLetsTheLevelDecay) {
  Rig rig;
  float level = rig.chain->inputLevel();
  EXPECT_EQ(level, 1.0f / 6);
  for (int b = 0; b < 6; ++b) {
    rig.SilentBlock();
    rig.chain->ProcessBlock(1000 + b, true);
    level = static_cast<float>(0.95 * level + 0.05 * 0.0f);
    EXPECT_EQ(rig.chain->inputLevel(), level) << b;
    EXPECT_EQ(rig.chain->blankedCount(), 0);
  }
  for (int c = 0; c < kChannels; ++c) {
    ASSERT_EQ(rig.chain->spectrum()[c], 0.0) << c;
    ASSERT_EQ(rig.chain->channelPower()[c], 0.0f) << c;
  }
}

// ---- What the decoder is given

// A stand-in decoder that notes its calls (and copies one channel's view).
struct Seen {
  std::vector<int> channels;
  int watch = -1;
  std::vector<float> centre, lower, upper;
  std::vector<int8_t> sign;
  int depth = -1;
  bool halfFull = true;
};
Seen* seen = nullptr;
const ReceiveChain* watched = nullptr;

DecodeResult RecordingDecoder(const float* centre, const float* lower, const float* upper,
                              const int8_t* sign, int depth, const DecoderOptions& options) {
  // The chain passes channel c's own history as the centre.
  int c = -1;
  for (int k = 0; k < kChannels; ++k) {
    if (watched->powerHistory(k) == centre) c = k;
  }
  seen->channels.push_back(c);
  seen->depth = depth;
  seen->halfFull = options.historyHalfFull;
  if (c == seen->watch) {
    seen->centre.assign(centre, centre + kEntries);
    seen->lower.assign(lower, lower + kEntries);
    seen->upper.assign(upper, upper + kEntries);
    seen->sign.assign(sign, sign + kEntries);
  }
  DecodeResult none;
  none.attempts = 1;
  return none;
}

class ReceiveChainDecoderView : public ::testing::Test {
 protected:
  void SetUp() override {
    seen = &record;
    rig.settings.minPeakSpacing = 615;  // the spectrum itself picks no channel
    rig.settings.ultraDeepDecoder = true;
    watched = rig.chain;
    rig.chain->setDecoder(&RecordingDecoder);
  }
  void TearDown() override {
    seen = nullptr;
    watched = nullptr;
  }
  Seen record;
  Rig rig;
};

TEST_F(ReceiveChainDecoderView, EdgeChannelsAreNeverDecoded) {
  (*rig.always)[0] = 1;
  (*rig.always)[1229] = 1;
  (*rig.always)[1] = 1;
  (*rig.always)[1228] = 1;
  rig.chain->channelSelected = true;
  rig.chain->selectedChannel = 1229;
  rig.Run(1);  // the first block holds a tick
  EXPECT_EQ(record.channels, (std::vector<int>{1, 1228}));
  EXPECT_EQ(record.depth, 2);
  EXPECT_FALSE(record.halfFull);

  record.channels.clear();
  rig.chain->selectedChannel = 0;
  rig.Run(2);  // the tick of channel step 1024
  EXPECT_EQ(record.channels, (std::vector<int>{1, 1228}));
  EXPECT_EQ(rig.chain->decoderCalls(), 4);
}

TEST_F(ReceiveChainDecoderView, NeighbourBelowIsAdvancedAndTheOneAboveNotYet) {
  record.watch = 615;
  (*rig.always)[615] = 1;
  rig.Run(7);  // four ticks of noise
  ASSERT_EQ(record.centre.size(), static_cast<size_t>(kEntries));
  const float* below = rig.chain->powerHistory(614);
  const float* own = rig.chain->powerHistory(615);
  const float* above = rig.chain->powerHistory(616);
  for (int i = 0; i < kEntries; ++i) {
    ASSERT_EQ(record.lower[i], below[i]) << i;
    ASSERT_EQ(record.centre[i], own[i]) << i;
    ASSERT_EQ(record.sign[i], rig.chain->signHistory(615)[i]) << i;
  }
  // The upper neighbour's window ends with the entry before this tick's.
  for (int i = 0; i < kNewestEntry; ++i) ASSERT_EQ(record.upper[i + 1], above[i]) << i;
  EXPECT_NE(record.upper[kNewestEntry], above[kNewestEntry]);
  EXPECT_GT(own[kNewestEntry - 3], 0.0f);
  for (int i = 0; i < kEntries; ++i) {
    ASSERT_TRUE(record.sign[i] == 1 || record.sign[i] == -1 || i < kNewestEntry - 3) << i;
  }
}

// ---- Start of a run

TEST(ReceiveChainRun, StartRunEmptiesTheRunButKeepsTheFixedFilters) {
  Rig used;
  used.Run(5);
  used.slots->SetHold(100, 5);
  ASSERT_GT(used.chain->spectrum()[615], 0.0);
  used.chain->StartRun();
  EXPECT_EQ(used.chain->stepCounter(), 0);
  EXPECT_EQ(used.chain->decoderCalls(), 0);
  EXPECT_FALSE(used.chain->historyHalfFull());
  EXPECT_EQ(used.chain->inputLevel(), 1.0f / 6);
  EXPECT_EQ(used.slots->hold(100), 0);
  for (int c = 0; c < kChannels; c += 7) {
    ASSERT_EQ(used.chain->spectrum()[c], 0.0);
    for (int i = 0; i < kEntries; ++i) ASSERT_EQ(used.chain->powerHistory(c)[i], 0.0f);
  }

  // The same block into a fresh chain: the band filter and the low-pass of the
  // used chain still hold the inputs of its first run.
  Rig fresh;
  used.NoiseBlock();
  std::copy_n(used.chain->BlockBuffer(), 12000, fresh.chain->BlockBuffer());
  used.chain->ProcessBlock(2000, true);
  fresh.chain->ProcessBlock(2000, true);
  EXPECT_EQ(used.chain->inputBlock(), fresh.chain->inputBlock());
  EXPECT_NE(used.chain->filteredBlock()[0], fresh.chain->filteredBlock()[0]);
  // Far beyond the filters' memory the two agree.
  EXPECT_EQ(used.chain->filteredBlock()[11999], fresh.chain->filteredBlock()[11999]);
}

// ---- Kernels and the bank

// Two chains, one on the portable kernels, fed the same blocks: every history,
// spectrum and power must be the same bit for bit.
void ExpectSameFigures(const ReceiveChain& a, const ReceiveChain& b) {
  ASSERT_EQ(a.channelPower(), b.channelPower());
  ASSERT_EQ(a.spectrum(), b.spectrum());
  ASSERT_EQ(a.recentMean(), b.recentMean());
  ASSERT_EQ(a.filteredBlock(), b.filteredBlock());
  for (int c = 0; c < kChannels; ++c) {
    ASSERT_EQ(std::memcmp(a.powerHistory(c), b.powerHistory(c), sizeof(float) * kEntries), 0) << c;
    ASSERT_EQ(std::memcmp(a.signHistory(c), b.signHistory(c), kEntries), 0) << c;
  }
}

TEST(ReceiveChainKernels, PortableKernelsGiveTheSameBits) {
  if (!Rig().chain->wideKernels()) GTEST_SKIP() << "this CPU runs the portable kernels only";
  for (const double bandStart : {1450.0, 1470.0, 5950.0}) {
    for (const bool coherent : {false, true}) {
      SCOPED_TRACE(bandStart);
      SCOPED_TRACE(coherent);
      Rig wide(bandStart), portable(bandStart);
      wide.settings.coherentDetector = portable.settings.coherentDetector = coherent;
      portable.chain->usePortableKernels(true);
      EXPECT_FALSE(portable.chain->wideKernels());
      for (int b = 0; b < 5; ++b) {
        wide.NoiseBlock();
        std::copy_n(wide.chain->BlockBuffer(), wide.chain->BlockSize(),
                    portable.chain->BlockBuffer());
        wide.chain->ProcessBlock(1000 + b, true);
        portable.chain->ProcessBlock(1000 + b, true);
        ExpectSameFigures(*wide.chain, *portable.chain);
      }
    }
  }
}

// The bank of the chain against ChannelBank (itself checked against the single
// objects) fed the chain's own filtered samples.
TEST(ReceiveChainKernels, BankMatchesTheReferenceBankStepForStep) {
  for (const bool coherent : {false, true}) {
    SCOPED_TRACE(coherent);
    Rig rig;
    rig.settings.coherentDetector = coherent;
    std::vector<float> frequencies(kChannels);
    for (int c = 0; c < kChannels; ++c) {
      const float f = static_cast<float>(c * kChannelSpacingHz + 100);
      frequencies[c] = static_cast<float>(static_cast<double>(f) * (1.0 / 12000) * 24);
    }
    ChannelBank reference(frequencies.data(), kChannels, 0.000244f, 1.0f / 2048);
    std::vector<float> detector(kChannels), power(kChannels);
    for (int b = 0; b < 3; ++b) {
      rig.Run(1);
      for (int t = 0; t < kWorkingRate; t += kSamplesPerStep) {
        const float x = rig.chain->filteredBlock()[t];
        if (coherent) {
          reference.StepCoherent(x, detector.data(), power.data());
        } else {
          reference.Step(x, detector.data(), power.data());
        }
      }
      for (int c = 0; c < kChannels; ++c) ASSERT_EQ(rig.chain->channelPower()[c], power[c]) << c;
    }
  }
}

// ---- Heap use

TEST(ReceiveChainAllocation, NoHeapUsePerBlockTickOrDecode) {
  for (const double bandStart : {1450.0, 5950.0}) {
    SCOPED_TRACE(bandStart);
    Rig rig(bandStart);
    rig.settings.ultraDeepDecoder = true;
    // The wide path runs the best-first list (its workspace comes with the run).
    rig.settings.listDecoder = bandStart > 5000;
    for (int i = 0; i < 20; ++i) {
      FillKnownCall(rig.table->entries[i], i % 2 ? "G4ABC" : "DL1XYZ", "JO65HO", 100.0 + i);
    }
    rig.table->count.store(20);
    rig.Run(2);  // first block: anything set up lazily
    const long before = test::Allocations();
    rig.Run(4);  // two ticks, every peak decoded
    EXPECT_EQ(test::Allocations(), before);
    EXPECT_GT(rig.chain->decoderCalls(), 100);
  }
}

}  // namespace
}  // namespace vs32
