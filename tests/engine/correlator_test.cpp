// Correlation with known callsigns: Correlator51, Correlator237, the shift test,
// the ambiguity text, and the false-decode probability.

#include "engine/correlator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "engine/decoder.h"
#include "engine/frame_codec.h"
#include "engine/list_decoder.h"
#include "support/allocation_counter.h"

namespace vs32 {
namespace {

std::unique_ptr<KnownCallTable> MakeTable() {
  return std::make_unique<KnownCallTable>();
}

// Appends a station the way the list loader does: reference frame of the
// callsign's field form, published by raising the count.
KnownCall& Add(KnownCallTable& table, const std::string& call, double distanceKm) {
  const int n = table.size();
  KnownCall& e = table.entries[n];
  std::snprintf(e.callsign, sizeof e.callsign, "%s", call.c_str());
  char symbols[kFrameSymbols + 1];
  EncodeFrame(CallsignFieldForm(call), symbols, e.scrambledMessage);
  for (int s = 0; s < kFrameSymbols; ++s) e.referenceSymbols[s] = symbols[s] == '1' ? 1 : -1;
  e.distanceKm = distanceKm;
  table.count.store(n + 1, std::memory_order_release);
  return e;
}

// Reference symbols rotated so that, at shift t, they read like the original at 0.
void RotateFrom(const KnownCall& from, KnownCall& to, int t) {
  for (int r = 0; r < kFrameSymbols; ++r) {
    to.referenceSymbols[r] = from.referenceSymbols[((r - t) % 239 + 239) % 239];
  }
}

uint64_t ScrambledBits(const KnownCall& e) {
  uint64_t bits = 0;
  for (int k = 0; k < kMessageBits; ++k)
    bits = (bits << 1) | static_cast<uint64_t>(e.scrambledMessage[k]);
  return bits;
}

// Rectangular history of a frame given by its scrambled bits, two samples into
// each symbol (an alignment at which a clean frame always demodulates right).
std::vector<float> History(uint64_t scrambled, float on, float off) {
  std::string symbols = "11";
  for (int j = 0; j < 7; ++j) {
    for (int g = 0; g < 17; ++g) {
      const unsigned v = static_cast<unsigned>((scrambled >> (48 - 3 * g)) & 7);
      symbols += __builtin_parity((j + 1) & v) ? "01" : "10";
    }
  }
  std::vector<float> h(kHistoryLength, off);
  for (int i = 0; i < kHistoryLength; ++i) {
    const int p = i + 10;
    if (p / 4 < 239 && symbols[p / 4] == '1') h[i] = on;
  }
  return h;
}

// Hard-decision history whose symbol s (sample 4 * (s - 2)) is `symbols[s]`.
std::vector<int8_t> SignHistory(const int* symbols) {
  std::vector<int8_t> sign(kHistoryLength, -1);
  for (int s = 2; s < kFrameSymbols; ++s) {
    for (int k = 0; k < 4; ++k) sign[4 * (s - 2) + k] = static_cast<int8_t>(symbols[s]);
  }
  return sign;
}

struct Recorder : ReceiverEvents {
  std::vector<std::string> texts;
  void Ambiguity(const char* text) override { texts.emplace_back(text); }
};

struct Result {
  DecodeStatus status;
  std::string call;
  float ebNoDb;
  int attempts;
};

Result RunDecoder(const std::vector<float>& h, const std::vector<int8_t>& sign,
                  const DecoderOptions& options) {
  const DecodeResult r = DecodeFrame(h.data(), h.data(), h.data(), sign.data(), 0, options);
  return {r.status, r.status ? std::string(r.call) : std::string(), r.ebNoDb, r.attempts};
}

DecoderOptions Options(const KnownCallTable* table, ReceiverEvents* events = nullptr) {
  DecoderOptions o;
  o.knownCalls = table;
  o.historyHalfFull = true;
  o.historyFull = true;
  o.events = events;
  return o;
}

// Flips `count` bits of the information field (positions 6, 12, 18, ...), which
// makes the check word fail.
uint64_t FlipInfoBits(uint64_t scrambled, int count) {
  for (int i = 0; i < count; ++i) scrambled ^= uint64_t{1} << (50 - (6 + 4 * i));
  return scrambled;
}

// ---- Correlator51

TEST(Correlator51, FortySixAgreementsAcceptedFortyFiveNot) {
  auto table = MakeTable();
  const KnownCall& x = Add(*table, "G4ABC", 120.0);
  const std::vector<int8_t> noSymbols(kHistoryLength, -1);  // symbol stage stays below 159

  const auto h46 = History(FlipInfoBits(ScrambledBits(x), 5), 1.1f, 0.1f);
  const auto h45 = History(FlipInfoBits(ScrambledBits(x), 6), 1.1f, 0.1f);
  DecoderOptions off = Options(table.get());
  off.useCorrelator = false;
  ASSERT_EQ(RunDecoder(h46, noSymbols, off).status, 0);  // the check fails by itself

  const Result r = RunDecoder(h46, noSymbols, Options(table.get()));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.call, "G4ABC");
  EXPECT_EQ(r.attempts, 0);
  Demodulation m;
  Demodulate(h46.data(), h46.data(), h46.data(), &m);
  EXPECT_EQ(r.ebNoDb, EbNoDb(m.s, m.e));
  EXPECT_NEAR(r.ebNoDb, 10.0f, 0.01f);
  EXPECT_EQ(Correlator51Count(m.bestBits, x.scrambledMessage), 46);

  const Result r45 = RunDecoder(h45, noSymbols, Options(table.get()));
  EXPECT_EQ(r45.status, 0);
  EXPECT_EQ(r45.attempts, 1);
  EXPECT_EQ(r45.ebNoDb, -99.0f);
}

TEST(Correlator51, RunsOnlyWhenEnabledAndWithDistance) {
  auto table = MakeTable();
  KnownCall& x = Add(*table, "G4ABC", 120.0);
  const std::vector<int8_t> noSymbols(kHistoryLength, -1);
  const auto h = History(FlipInfoBits(ScrambledBits(x), 5), 1.1f, 0.1f);

  DecoderOptions o = Options(table.get());
  o.historyHalfFull = false;
  EXPECT_EQ(RunDecoder(h, noSymbols, o).status, 0);
  o = Options(nullptr);
  EXPECT_EQ(RunDecoder(h, noSymbols, o).status, 0);
  o = Options(table.get());
  o.correlator51Threshold = 46;
  EXPECT_EQ(RunDecoder(h, noSymbols, o).status, 0);

  x.distanceKm = -1;  // entries without a locator take no part
  EXPECT_EQ(RunDecoder(h, noSymbols, Options(table.get())).status, 0);
  table->count.store(0);
  EXPECT_EQ(RunDecoder(h, noSymbols, Options(table.get())).status, 0);
}

TEST(Correlator51, FirstOfEqualCountsIsKept) {
  auto table = MakeTable();
  Add(*table, "K1AB", 10.0);
  KnownCall& first = Add(*table, "G4ABC", 10.0);
  KnownCall& twin = Add(*table, "DL1XYZ", 10.0);
  for (int k = 0; k < kMessageBits; ++k) twin.scrambledMessage[k] = first.scrambledMessage[k];
  const std::vector<int8_t> noSymbols(kHistoryLength, -1);
  const auto h = History(FlipInfoBits(ScrambledBits(first), 3), 1.0f, 0.0f);
  EXPECT_EQ(RunDecoder(h, noSymbols, Options(table.get())).call, "G4ABC");
}

// ---- Correlator237 and the shift test

TEST(Correlator237, ThresholdAndSingleEntry) {
  auto table = MakeTable();
  const KnownCall& a = Add(*table, "G4ABC", 50.0);
  // A rival that would explain the symbols perfectly, but without a distance.
  KnownCall& ghost = Add(*table, "PA3XYZ", -1);
  RotateFrom(a, ghost, 9);

  // Symbols agreeing in exactly 160 of 237 positions.
  int symbols[kFrameSymbols];
  for (int s = 0; s < kFrameSymbols; ++s) symbols[s] = a.referenceSymbols[s];
  for (int s = 2; s < 2 + 77; ++s) symbols[s] = -symbols[s];
  const std::vector<float> silent(kHistoryLength, 0.0f);  // no codeword decisions

  Recorder events;
  DecoderOptions plain = Options(table.get(), &events);
  plain.correlatorSecondOpinion = false;  // a silent window backs no call
  const Result r = RunDecoder(silent, SignHistory(symbols), plain);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.call, "G4ABC");
  EXPECT_EQ(r.attempts, 0);
  EXPECT_EQ(r.ebNoDb, -99.0f);  // S = 0: no estimate
  EXPECT_TRUE(events.texts.empty());

  const CorrelationOutcome c = CorrelateKnownCalls(0, SignHistory(symbols).data(), *table, 45, 159);
  EXPECT_EQ(c.count237, 160);
  EXPECT_EQ(c.shiftCount, 0);  // no rival takes part

  symbols[2 + 77] = -symbols[2 + 77];  // 159: not above the threshold
  EXPECT_EQ(RunDecoder(silent, SignHistory(symbols), Options(table.get())).status, 0);
}

TEST(Correlator237, AmbiguityNamesBestThenRival) {
  auto table = MakeTable();
  Add(*table, "K1AB", 30.0);
  const KnownCall& a = Add(*table, "G4ABC", 50.0);
  KnownCall& rival = Add(*table, "PA3XYZ", 70.0);
  RotateFrom(a, rival, 17);  // at shift 17 the rival reads exactly like G4ABC

  // The power history decodes to G4ABC in 49 of 51 bits (Correlator51 matches),
  // and the symbols are G4ABC's.
  const auto h = History(FlipInfoBits(ScrambledBits(a), 2), 1.1f, 0.1f);
  const auto sign = SignHistory(a.referenceSymbols);
  Recorder events;
  const Result r = RunDecoder(h, sign, Options(table.get(), &events));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.ebNoDb, -99.0f);
  EXPECT_EQ(r.attempts, 1);
  ASSERT_EQ(events.texts.size(), 1u);
  EXPECT_EQ(events.texts[0], "G4ABC or PA3XYZ?");

  // Without the events sink the outcome is the same, silently.
  EXPECT_EQ(RunDecoder(h, sign, Options(table.get())).status, 0);

  // One agreement fewer for the rival: G4ABC is accepted.
  const int r0 = ((0 + 17) % 239);
  rival.referenceSymbols[(r0 + 5) % 239] = -rival.referenceSymbols[(r0 + 5) % 239];
  Recorder quiet;
  const Result accepted = RunDecoder(h, sign, Options(table.get(), &quiet));
  EXPECT_EQ(accepted.status, 1);
  EXPECT_EQ(accepted.call, "G4ABC");
  EXPECT_EQ(accepted.attempts, 0);
  EXPECT_TRUE(quiet.texts.empty());
}

TEST(Correlator237, AcceptedSymbolMatchReplacesTheCorrelator51Call) {
  auto table = MakeTable();
  const KnownCall& a = Add(*table, "G4ABC", 50.0);
  KnownCall& b = Add(*table, "DL1XYZ", 60.0);
  // B's scrambled message equals the received best bits; A's symbols are received.
  const auto h = History(FlipInfoBits(ScrambledBits(a), 2), 1.0f, 0.0f);
  Demodulation m;
  Demodulate(h.data(), h.data(), h.data(), &m);
  for (int k = 0; k < kMessageBits; ++k) b.scrambledMessage[k] = (m.bestBits >> (50 - k)) & 1;
  const Result r = RunDecoder(h, SignHistory(a.referenceSymbols), Options(table.get()));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.call, "G4ABC");
}

// ---- Second opinion from the codeword scores

std::vector<float> WithNoise(std::vector<float> h, float sigma, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> noise(0.0f, sigma);
  for (float& x : h) x += noise(rng);
  return h;
}

Result RunWithSecondOpinion(const std::vector<float>& h, const KnownCallTable& table, bool on) {
  DecoderOptions o = Options(&table);
  o.correlatorSecondOpinion = on;
  return RunDecoder(h, std::vector<int8_t>(kHistoryLength, -1), o);
}

// Weak frames of a listed call that fail their check but that the correlators
// match: the second opinion lets every one of them through.
TEST(SecondOpinion, KeepsWeakListedFrames) {
  auto table = MakeTable();
  for (int i = 0; i < 50; ++i) {
    char call[8];
    std::snprintf(call, sizeof call, "K%dA%c", i % 10, 'A' + i / 10);
    Add(*table, call, 10.0);
  }
  const KnownCall& a = Add(*table, "G4ABC", 120.0);
  const auto clean = History(ScrambledBits(a), 1.0f, 0.0f);
  int matched = 0;
  for (unsigned seed = 1; seed <= 40; ++seed) {
    const auto h = WithNoise(clean, 0.9f, seed);
    const Result plain = RunWithSecondOpinion(h, *table, false);
    if (plain.status != 1 || plain.attempts != 0) continue;  // decoded by its check, or not at all
    ASSERT_EQ(plain.call, "G4ABC");
    ++matched;
    const Result second = RunWithSecondOpinion(h, *table, true);
    EXPECT_EQ(second.status, 1) << "seed " << seed;
    EXPECT_EQ(second.call, "G4ABC");
  }
  EXPECT_GE(matched, 5);
}

// Hard decisions that read exactly like a listed call's frame over a window
// whose codeword scores are noise: the plain symbol correlator takes it for
// that call, the second opinion refuses it.
TEST(SecondOpinion, RefusesAMatchTheCodewordScoresDoNotBack) {
  auto table = MakeTable();
  const KnownCall& a = Add(*table, "G4ABC", 120.0);
  const auto sign = SignHistory(a.referenceSymbols);
  for (unsigned seed = 1; seed <= 5; ++seed) {
    const auto h = WithNoise(std::vector<float>(kHistoryLength, 1.0f), 1.0f, seed);
    DecoderOptions o = Options(table.get());
    o.correlatorSecondOpinion = false;
    const Result plain = RunDecoder(h, sign, o);
    EXPECT_EQ(plain.status, 1) << "seed " << seed;
    EXPECT_EQ(plain.call, "G4ABC");
    o.correlatorSecondOpinion = true;
    const Result second = RunDecoder(h, sign, o);
    Demodulation m;
    Demodulate(h.data(), h.data(), h.data(), &m);
    EXPECT_EQ(second.status, 0) << "seed " << seed << ", score "
                                << KnownCallScore(m.scores, a.scrambledMessage);
  }
}

// Literal shift test, for comparison with the packed one.
ShiftTestResult LiteralShiftTest(const int8_t* sign, const KnownCallTable& table, int kept) {
  ShiftTestResult r;
  for (int t = -120; t <= 119; ++t) {
    if (t == 0) continue;
    for (int e = 0; e < table.size(); ++e) {
      if (e == kept || table.entries[e].distanceKm == -1) continue;
      int n = 0;
      for (int s = 2; s <= 238; ++s) {
        n += table.entries[e].referenceSymbols[((s + t) % 239 + 239) % 239] == sign[4 * (s - 2)];
      }
      if (n > r.count) {
        r.count = n;
        r.rival = e;
        r.shift = t;
      }
    }
  }
  return r;
}

TEST(ShiftTest, TiesKeepTheFirstInShiftThenEntryOrder) {
  auto table = MakeTable();
  const KnownCall& a = Add(*table, "G4ABC", 1.0);
  KnownCall& late = Add(*table, "DL1XYZ", 1.0);
  KnownCall& early = Add(*table, "PA3XYZ", 1.0);
  RotateFrom(a, late, 5);
  RotateFrom(a, early, -3);
  const auto sign = SignHistory(a.referenceSymbols);
  const PackedSymbols hard = PackHardDecisions(sign.data());
  ShiftTestResult r = ShiftTest(hard, *table, table->size(), 0);
  EXPECT_EQ(r.count, 237);
  EXPECT_EQ(r.rival, 2);  // shift -3 is met before shift 5
  EXPECT_EQ(r.shift, -3);

  RotateFrom(a, early, 5);  // same shift: the earlier entry stays
  r = ShiftTest(hard, *table, table->size(), 0);
  EXPECT_EQ(r.rival, 1);

  // Shifts -120 and 119 are the same rotation; -120 comes first.
  RotateFrom(a, late, 119);
  RotateFrom(a, early, 1);
  for (int s = 0; s < kFrameSymbols; ++s) early.referenceSymbols[s] = 0;
  r = ShiftTest(hard, *table, table->size(), 0);
  EXPECT_EQ(r.rival, 1);
  EXPECT_EQ(r.shift, -120);
}

TEST(ShiftTest, PackedCountsEqualTheLiteralOnes) {
  std::mt19937 rng(99);
  auto table = MakeTable();
  const char* calls[] = {"G4ABC", "DL1XYZ", "PA3A", "K1AB", "JA1QRS", "VK2ZZ", "F5JKL", "OH8X"};
  for (int i = 0; i < 40; ++i) {
    KnownCall& e = Add(*table, calls[i % 8], (i % 5 == 0) ? -1.0 : 10.0 * i);
    if (i % 3 == 0 && i > 0)
      RotateFrom(table->entries[i / 2], e, static_cast<int>(rng() % 239) - 120);
  }
  for (int trial = 0; trial < 6; ++trial) {
    // Received symbols: an entry's frame with some symbols disturbed, including
    // values that are neither +1 nor -1 (they agree with nothing).
    const int source = static_cast<int>(rng() % 40);
    int symbols[kFrameSymbols];
    for (int s = 0; s < kFrameSymbols; ++s) {
      symbols[s] = table->entries[source].referenceSymbols[s];
      if (rng() % 5 == 0) symbols[s] = -symbols[s];
      if (rng() % 50 == 0) symbols[s] = 0;
    }
    const auto sign = SignHistory(symbols);
    const int kept = static_cast<int>(rng() % 40);
    const ShiftTestResult packed =
        ShiftTest(PackHardDecisions(sign.data()), *table, table->size(), kept);
    const ShiftTestResult literal = LiteralShiftTest(sign.data(), *table, kept);
    EXPECT_EQ(packed.count, literal.count) << trial;
    EXPECT_EQ(packed.rival, literal.rival) << trial;
    EXPECT_EQ(packed.shift, literal.shift) << trial;

    for (int e = 0; e < table->size(); ++e) {
      int n = 0;
      for (int s = 2; s <= 238; ++s)
        n += table->entries[e].referenceSymbols[s] == sign[4 * (s - 2)];
      ASSERT_EQ(Correlator237Count(PackHardDecisions(sign.data()),
                                   PackReferenceSymbols(table->entries[e].referenceSymbols)),
                n);
      const uint64_t best = (uint64_t{rng()} << 32 | rng()) & ((uint64_t{1} << 51) - 1);
      int agree = 0;
      for (int k = 0; k < kMessageBits; ++k) {
        agree += static_cast<int>((best >> (50 - k)) & 1) == table->entries[e].scrambledMessage[k];
      }
      ASSERT_EQ(Correlator51Count(best, table->entries[e].scrambledMessage), agree);
    }
  }
}

// ---- No allocation per call

struct FixedSink : ReceiverEvents {
  char last[32] = {};
  void Ambiguity(const char* text) override { std::snprintf(last, sizeof last, "%s", text); }
};

TEST(DecoderAllocation, NoHeapUseOnAnyPath) {
  auto table = MakeTable();
  for (int i = 0; i < 200; ++i) Add(*table, i % 2 ? "G4ABC" : "DL1XYZ", 10.0 + i);
  const KnownCall& a = table->entries[1];
  RotateFrom(a, table->entries[7], 17);  // makes the symbol match ambiguous
  const auto h = History(FlipInfoBits(ScrambledBits(a), 2), 1.1f, 0.1f);
  const auto sign = SignHistory(a.referenceSymbols);
  std::vector<float> noise(kHistoryLength);
  std::mt19937 rng(3);
  for (float& x : noise) x = std::uniform_real_distribution<float>(0.0f, 1.0f)(rng);
  FixedSink sink;
  DecoderOptions options = Options(table.get(), &sink);
  ListDecoder list(kDefaultListSize);  // the caller's workspace, made beforehand
  options.listDecoder = &list;

  const long before = test::Allocations();
  const DecodeResult ambiguous = DecodeFrame(h.data(), h.data(), h.data(), sign.data(), 2, options);
  const DecodeResult nothing =
      DecodeFrame(noise.data(), noise.data(), noise.data(), sign.data(), 2, options);
  // Depth 3: the list runs on the strong frame, and on noise let through the gate.
  const DecodeResult listed = DecodeFrame(h.data(), h.data(), h.data(), sign.data(), 3, options);
  options.listThreshold = -100;
  const DecodeResult listedNoise =
      DecodeFrame(noise.data(), noise.data(), noise.data(), sign.data(), 3, options);
  EXPECT_EQ(test::Allocations(), before);
  EXPECT_EQ(ambiguous.status, 0);
  EXPECT_EQ(nothing.status, 0);
  EXPECT_STREQ(sink.last, "G4ABC or G4ABC?");
  EXPECT_EQ(listed.status, 2);
  EXPECT_EQ(listedNoise.status, 0);
  EXPECT_GT(listedNoise.attempts, 0);
}

// ---- False-decode probability

TEST(FalseDecodeProbability, PrintedValues) {
  auto fmt = [](double p) {
    char text[32];
    std::snprintf(text, sizeof text, "%e", p);
    return std::string(text);
  };
  EXPECT_EQ(fmt(FalseDecodeProbability(51, 45)), "9.161814e-09");
  EXPECT_EQ(fmt(FalseDecodeProbability(51, 44)), "6.057629e-08");
  EXPECT_EQ(fmt(FalseDecodeProbability(51, 25)), "6.101160e-01");
  EXPECT_EQ(fmt(FalseDecodeProbability(51, 51)), "4.440892e-16");
  EXPECT_EQ(fmt(FalseDecodeProbability(237, 159)), "7.765477e-08");
  EXPECT_EQ(fmt(FalseDecodeProbability(237, 160)), "3.722263e-08");
  EXPECT_EQ(fmt(FalseDecodeProbability(237, 119)), "5.000000e-01");
}

TEST(FalseDecodeProbability, OutsideTheDialogRanges) {
  EXPECT_EQ(FalseDecodeProbability(51, 52), 0.0);
  EXPECT_EQ(FalseDecodeProbability(51, 0), 1.0);
  EXPECT_EQ(FalseDecodeProbability(51, -4), 1.0);
  // Small thresholds on the long correlator overflow the literal products.
  const double p = FalseDecodeProbability(237, 40);
  EXPECT_TRUE(std::isfinite(p));
  EXPECT_GT(p, 0.999999);
  EXPECT_LE(p, 1.0);
}

}  // namespace
}  // namespace vs32
