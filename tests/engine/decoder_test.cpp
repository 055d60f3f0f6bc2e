// Soft decoder: demodulation, candidate check, Eb/No, and the Deep / Ultra Deep lists.
#include "engine/decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "engine/frame_codec.h"

namespace vs32 {
namespace {

constexpr const char* kCodewords[8] = {"0000000", "1010101", "0110011", "1100110",
                                       "0001111", "1011010", "0111100", "1101001"};

int ChipOf(int v, int j) {
  return kCodewords[v][j] - '0';
}

// Codeword index of group g of scrambled bits (bit k at position 50 - k).
int GroupValue(uint64_t scrambled, int g) {
  return static_cast<int>((scrambled >> (48 - 3 * g)) & 7);
}

// Line symbols of a frame from its scrambled message bits.
std::string SymbolsFromScrambled(uint64_t scrambled) {
  std::string symbols = "11";
  for (int j = 0; j < 7; ++j) {
    for (int g = 0; g < 17; ++g) symbols += ChipOf(GroupValue(scrambled, g), j) ? "01" : "10";
  }
  return symbols.substr(0, 239);
}

uint64_t ScrambledOf(const std::string& field) {
  return PackMessage(PackCallField(field)) ^ ScramblePatternBits();
}

// Rectangular history: four samples per symbol, on level for "1", off level for
// "0" and after the frame. `shift` > 0 places the frame that many samples
// earlier (index 0 = sample `shift` of symbol 2), < 0 later.
std::vector<float> Rectangular(const std::string& symbols, float on, float off, int shift = 0,
                               int length = kHistoryLength) {
  std::vector<float> h(length, off);
  for (int i = 0; i < length; ++i) {
    const int p = i + 8 + shift;
    if (p >= 0 && p / 4 < 239 && symbols[p / 4] == '1') h[i] = on;
  }
  return h;
}

struct Decoded {
  DecodeStatus status;
  std::string call;
  float ebNoDb;
  int attempts;
};

Decoded Decode(const std::vector<float>& centre, const std::vector<float>& lower,
               const std::vector<float>& upper, int depth, int offset = 0, bool strict = true) {
  DecoderOptions options;
  options.strictFrameCheck = strict;
  const DecodeResult r = DecodeFrame(centre.data() + offset, lower.data() + offset,
                                     upper.data() + offset, nullptr, depth, options);
  return {r.status, r.status != 0 ? std::string(r.call) : std::string(), r.ebNoDb, r.attempts};
}

Decoded Decode(const std::vector<float>& h, int depth, bool strict = true) {
  return Decode(h, h, h, depth, 0, strict);
}

Demodulation Demod(const std::vector<float>& h) {
  Demodulation d;
  Demodulate(h.data(), h.data(), h.data(), &d);
  return d;
}

const std::string kExample = " Q1ABC";

TEST(DecoderRectangular, ExampleFrameAtLevelsOneAndZero) {
  const auto h = Rectangular(SymbolsFromScrambled(ScrambledOf(kExample)), 1.0f, 0.0f);
  const Decoded d = Decode(h, 0);
  EXPECT_EQ(d.status, 2);
  EXPECT_EQ(d.attempts, 1);
  EXPECT_EQ(d.call, "Q1ABC");
  EXPECT_EQ(d.ebNoDb, -99.0f);  // E = S: no off-half power to compare with
  const Demodulation m = Demod(h);
  EXPECT_EQ(m.s, 118.0f);
  EXPECT_EQ(m.e, 118.0f);
}

TEST(DecoderRectangular, WarmUpGateHoldsEveryDecodeUntilTheWindowIsHalfFull) {
  const auto h = Rectangular(SymbolsFromScrambled(ScrambledOf(kExample)), 1.1f, 0.1f);
  DecoderOptions options;
  options.decodeAfterWarmup = true;
  const DecodeResult held = DecodeFrame(h.data(), h.data(), h.data(), nullptr, 2, options);
  EXPECT_EQ(held.status, 0);
  EXPECT_EQ(held.ebNoDb, -99.0f);
  EXPECT_EQ(held.attempts, 0);
  options.historyHalfFull = true;
  const DecodeResult r = DecodeFrame(h.data(), h.data(), h.data(), nullptr, 2, options);
  EXPECT_EQ(r.status, 2);
  EXPECT_STREQ(r.call, "Q1ABC");
}

TEST(DecoderRectangular, ExampleFrameAtLevelsOnePointOneAndPointOne) {
  const auto h = Rectangular(SymbolsFromScrambled(ScrambledOf(kExample)), 1.1f, 0.1f);
  const Decoded d = Decode(h, 0);
  EXPECT_EQ(d.status, 2);
  EXPECT_EQ(d.call, "Q1ABC");
  const Demodulation m = Demod(h);
  EXPECT_NEAR(m.s, 118.0f, 1e-4);
  EXPECT_NEAR(m.e, 141.6f, 1e-3);
  EXPECT_NEAR(d.ebNoDb, 10.0f, 1e-4);
  EXPECT_EQ(d.ebNoDb, EbNoDb(m.s, m.e));
}

TEST(DecoderRectangular, FirstGroupScoresAndStrictMaximum) {
  const auto h = Rectangular(SymbolsFromScrambled(ScrambledOf(kExample)), 1.0f, 0.0f);
  const Demodulation m = Demod(h);
  const float expected[8] = {4, 6, 5, 5, 4, 4, 5, 7};
  for (int v = 0; v < 8; ++v) EXPECT_EQ(m.scores[0][v], expected[v]) << v;
  EXPECT_EQ(m.best[0], 7);
  EXPECT_EQ(m.runnerUp[0], 1);  // 4 -> 6 at index 1, then 7 at index 7
  EXPECT_EQ(m.bestScore[0], 7.0f);
  // Every group's best is the codeword sent.
  const uint64_t scrambled = ScrambledOf(kExample);
  for (int g = 0; g < 17; ++g) EXPECT_EQ(m.best[g], GroupValue(scrambled, g)) << g;
  EXPECT_EQ(m.bestBits, scrambled);
}

TEST(DecoderRectangular, TimingOffsets) {
  const std::string symbols = SymbolsFromScrambled(ScrambledOf(kExample));
  for (int shift : {1, 2}) {
    const Decoded d = Decode(Rectangular(symbols, 1.0f, 0.0f, shift), 0);
    EXPECT_EQ(d.status, 2) << shift;
    EXPECT_EQ(d.call, "Q1ABC") << shift;
  }
  // One sample late: not found now, found on the next call when the history
  // has moved on by one sample.
  const auto late = Rectangular(symbols, 1.0f, 0.0f, -1, kHistoryLength + 1);
  EXPECT_EQ(Decode(late, late, late, 0, 0).status, 0);
  const Decoded next = Decode(late, late, late, 0, 1);
  EXPECT_EQ(next.status, 2);
  EXPECT_EQ(next.call, "Q1ABC");
}

TEST(DecoderRectangular, AllZeroHistories) {
  const std::vector<float> zero(kHistoryLength, 0.0f);
  const Demodulation m = Demod(zero);
  for (int g = 0; g < 17; ++g) {
    EXPECT_EQ(m.best[g], 0);
    EXPECT_EQ(m.runnerUp[g], 0);
    for (int v = 0; v < 8; ++v) EXPECT_EQ(m.scores[g][v], 0.0f);
  }
  const uint64_t pattern = ScramblePatternBits();
  const SearchResult r = SearchCandidates(m.bestBits ^ pattern, m.runnerUpBits ^ pattern, 0);
  EXPECT_EQ(r.candidate, pattern);
  const Decoded d = Decode(zero, 0);
  EXPECT_EQ(d.status, 0);
  EXPECT_EQ(d.ebNoDb, -99.0f);
  EXPECT_EQ(d.attempts, 1);
  // Exhausted lists.
  EXPECT_EQ(Decode(zero, 1).attempts, 19);
  EXPECT_EQ(Decode(zero, 2).attempts, 157);
  EXPECT_EQ(Decode(zero, 2).status, 0);
}

TEST(DecoderRectangular, FrameOnlyInNeighbourHistories) {
  const auto frame = Rectangular(SymbolsFromScrambled(ScrambledOf(kExample)), 1.0f, 0.0f);
  const std::vector<float> quiet(kHistoryLength, 0.05f);
  for (int which = 0; which < 2; ++which) {
    const Decoded d = which == 0 ? Decode(quiet, frame, quiet, 0) : Decode(quiet, quiet, frame, 0);
    EXPECT_EQ(d.status, 2) << which;
    EXPECT_EQ(d.call, "Q1ABC") << which;
  }
  // Chips of even columns only in the lower history, odd columns only in the
  // upper one: the maximum is taken per chip, not per frame.
  std::vector<float> lower = frame, upper = frame;
  for (int i = 0; i < kHistoryLength; ++i) {
    const int column = (i / 8) / 17;
    (column % 2 == 0 ? upper : lower)[i] = 0.0f;
  }
  const Decoded split = Decode(quiet, lower, upper, 0);
  EXPECT_EQ(split.status, 2);
  EXPECT_EQ(split.call, "Q1ABC");
}

TEST(DecoderRectangular, TailCheckFailureGivesStatusOne) {
  const uint32_t n = PackCallField(kExample);
  const uint64_t message = PackMessage(n);
  const uint64_t badTail = (message & ~uint64_t{7}) | ((message + 1) & 7);
  const auto h = Rectangular(SymbolsFromScrambled(badTail ^ ScramblePatternBits()), 1.1f, 0.1f);
  const Decoded d = Decode(h, 0);
  EXPECT_EQ(d.status, 1);
  EXPECT_EQ(d.call, "Q1ABC");
  EXPECT_EQ(d.attempts, 1);
  EXPECT_NEAR(d.ebNoDb, 10.0f, 1e-3);
  // A status 1 early in the list is not kept: the search goes on and reports
  // the last candidate's status.
  const Decoded deep = Decode(h, 1);
  EXPECT_EQ(deep.attempts, 19);
  const Demodulation m = Demod(h);
  EXPECT_EQ(deep.status, CheckCandidate(m.runnerUpBits ^ ScramblePatternBits()));
  EXPECT_NE(deep.status, 2);
}

// The demodulation exactly as described, one codeword, chip, offset and history
// at a time; the decoder computes each chip column once per group instead.
void LiteralDemodulate(const float* const h[3], float scores[17][8], float energies[17][8],
                       int best[17], int runnerUp[17]) {
  for (int g = 0; g < 17; ++g) {
    best[g] = 0;
    runnerUp[g] = 0;
    float bestScore = 0;
    for (int v = 0; v < 8; ++v) {
      float score = 0, energy = 0;
      for (int j = 0; j < 7; ++j) {
        const int a = ChipOf(v, j) == 0 ? 1 : -1, b = -a;
        const int w = 8 * j / 14;
        float chipScore = 0, chipEnergy = 0;
        for (int d = -w; d <= w; ++d) {
          const int n = 136 * j + 8 * g + d;
          float m = 0, e = 0;
          for (int k = 0; k < 3; ++k) {
            const float metric = a * h[k][n] + b * h[k][n + 4];
            if (k == 0 || metric > m) {
              m = metric;
              e = h[k][n] + h[k][n + 4];
            }
          }
          if (m > chipScore) {
            chipScore = m;
            chipEnergy = e;
          }
        }
        score += chipScore;
        energy += chipEnergy;
      }
      scores[g][v] = score;
      energies[g][v] = energy;
      if (score > bestScore) {
        runnerUp[g] = best[g];
        best[g] = v;
        bestScore = score;
      }
    }
  }
}

TEST(DecoderDemodulation, SameAsTheLiteralAlgorithmIncludingTies) {
  std::mt19937 rng(31);
  for (int trial = 0; trial < 200; ++trial) {
    // Small integers make ties between histories, offsets and codewords common;
    // every other trial uses general float values.
    std::vector<float> hist[3];
    for (auto& h : hist) {
      h.resize(kHistoryLength);
      for (float& x : h) {
        x = trial % 2 ? static_cast<float>(rng() % 4)
                      : std::uniform_real_distribution<float>(0.0f, 5.0f)(rng);
      }
    }
    const float* const h[3] = {hist[0].data(), hist[1].data(), hist[2].data()};
    float scores[17][8], energies[17][8];
    int best[17], runnerUp[17];
    LiteralDemodulate(h, scores, energies, best, runnerUp);
    Demodulation m;
    Demodulate(h[0], h[1], h[2], &m);
    float s = 0, e = 0;
    for (int g = 0; g < 17; ++g) {
      for (int v = 0; v < 8; ++v) ASSERT_EQ(m.scores[g][v], scores[g][v]) << trial;
      ASSERT_EQ(m.best[g], best[g]) << trial << " " << g;
      ASSERT_EQ(m.runnerUp[g], runnerUp[g]) << trial << " " << g;
      ASSERT_EQ(m.bestEnergy[g], energies[g][best[g]]);
      s += m.bestScore[g];
      e += m.bestEnergy[g];
    }
    ASSERT_EQ(m.s, s);
    ASSERT_EQ(m.e, e);
  }
}

TEST(DecoderDemodulation, HistoryTiesGoToTheCentreThenTheLower) {
  // The same metric (on - off = 1) in every history, with different energies.
  const std::string symbols = SymbolsFromScrambled(ScrambledOf(kExample));
  const auto c = Rectangular(symbols, 1.5f, 0.5f, 2);
  const auto l = Rectangular(symbols, 2.5f, 1.5f, 2);
  const auto u = Rectangular(symbols, 3.5f, 2.5f, 2);
  Demodulation m;
  Demodulate(c.data(), l.data(), u.data(), &m);
  EXPECT_EQ(m.bestEnergy[1], 14.0f);  // 7 chips x (1.5 + 0.5)
  const auto weak = Rectangular(symbols, 1.0f, 0.5f, 2);
  Demodulate(weak.data(), l.data(), u.data(), &m);
  EXPECT_EQ(m.bestEnergy[1], 28.0f);  // 7 chips x (2.5 + 1.5)
  EXPECT_EQ(m.bestScore[1], 7.0f);
}

TEST(DecoderCheck, CandidateStatus) {
  const uint64_t message = PackMessage(PackCallField(kExample));
  EXPECT_EQ(CheckCandidate(message), 2);
  EXPECT_EQ(CheckCandidate(message ^ 1), 1);                   // tail check bit
  EXPECT_EQ(CheckCandidate(message ^ (uint64_t{1} << 3)), 0);  // check word bit
  EXPECT_EQ(CheckCandidate(message ^ (uint64_t{1} << 3) ^ 1), 0);
  EXPECT_EQ(CheckCandidate(message ^ (uint64_t{1} << 25)), 0);   // information bit
  EXPECT_EQ(CheckCandidate(message ^ (uint64_t{15} << 47)), 2);  // zero prefix is not read
  // The frame check: any prefix bit set, or a packed callsign no valid field
  // gives, refuses a candidate whose check bits agree.
  EXPECT_EQ(CheckCandidate(message, true), 2);
  EXPECT_EQ(CheckCandidate(message ^ 1, true), 1);
  for (int bit = 47; bit <= 50; ++bit) {
    EXPECT_EQ(CheckCandidate(message ^ (uint64_t{1} << bit), true), 0) << bit;
  }
  EXPECT_EQ(CheckCandidate(PackMessage(kPackedCallLimit - 1), true), 2);
  EXPECT_EQ(CheckCandidate(PackMessage(kPackedCallLimit), false), 2);
  EXPECT_EQ(CheckCandidate(PackMessage(kPackedCallLimit), true), 0);
  EXPECT_EQ(CheckCandidate(PackMessage(0x0FFFFFFF), true), 0);
}

TEST(DecoderEbNo, Rule) {
  EXPECT_EQ(EbNoDb(0.0f, 10.0f), -99.0f);
  EXPECT_EQ(EbNoDb(5.0f, 5.0f), -99.0f);
  EXPECT_EQ(EbNoDb(5.0f, 4.0f), -99.0f);
  EXPECT_NEAR(EbNoDb(10.0f, 12.0f), 10.0f, 1e-5);  // 20 / 2
  EXPECT_EQ(EbNoDb(-1.0f, 5.0f), -99.0f);          // negative ratio: no estimate
}

// ---- List decoding: frames whose chosen groups decode to a wrong best codeword
// with the right runner-up. The runner-up is the best just before the final best
// took over, so the wrong codeword must come later in index order and beat the
// right one, and nothing between them may beat the right one first.

struct ListFrame {
  std::vector<float> history;
  std::string call;
};

void PaintChip(std::vector<float>& h, int j, int g, int chip, float amplitude) {
  const int start = 8 * (17 * j + g);
  for (int k = 0; k < 8; ++k) {
    const bool firstHalf = k < 4;
    const bool on = chip == 0 ? firstHalf : !firstHalf;
    if (start + k < static_cast<int>(h.size())) h[start + k] = on ? amplitude : 0.0f;
  }
}

bool GroupsAsWanted(const Demodulation& m, uint64_t scrambled, const std::vector<int>& wrong) {
  for (int g = 0; g < 17; ++g) {
    const int right = GroupValue(scrambled, g);
    const bool isWrong = std::find(wrong.begin(), wrong.end(), g) != wrong.end();
    if (!isWrong) {
      if (m.best[g] != right) return false;
    } else if (m.best[g] == right) {
      return false;
    } else if (g != 0 && m.runnerUp[g] != right) {
      // Group 0 always sends codeword 7 (zero prefix), which no later candidate
      // can overtake, so its runner-up can never be right; it needs none.
      return false;
    }
  }
  return true;
}

// Tries to make group `g` decode wrongly with the right runner-up, keeping the
// groups in `done` as they are. Returns false when no variant works.
bool PerturbGroup(std::vector<float>& h, uint64_t scrambled, int g, std::vector<int> done) {
  const int right = GroupValue(scrambled, g);
  done.push_back(g);
  for (int w = g == 0 ? 0 : right + 1; w < 8; ++w) {
    if (w == right) continue;
    for (int subset = 1; subset < 128; ++subset) {
      for (float amplitude : {1.0f, 1.5f, 2.0f, 3.0f}) {
        std::vector<float> copy = h;
        bool used = true;
        for (int j = 0; j < 7; ++j) {
          const bool flip = (subset >> j) & 1;
          if (flip && ChipOf(w, j) == ChipOf(right, j)) used = false;
          PaintChip(copy, j, g, flip ? ChipOf(w, j) : ChipOf(right, j), flip ? amplitude : 1.0f);
        }
        if (!used) continue;
        if (GroupsAsWanted(Demod(copy), scrambled, done)) {
          h = copy;
          return true;
        }
      }
    }
  }
  return false;
}

// The first callsign of a fixed pseudo-random sequence for which all `groups`
// can be perturbed.
ListFrame MakeListFrame(const std::vector<int>& groups) {
  std::mt19937 rng(1234);
  const std::string letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  for (int attempt = 0; attempt < 200; ++attempt) {
    std::string field = " ";
    field += letters[rng() % 26];
    field += static_cast<char>('0' + rng() % 10);
    for (int i = 0; i < 3; ++i) field += letters[rng() % 26];
    const uint64_t scrambled = ScrambledOf(field);
    std::vector<float> h = Rectangular(SymbolsFromScrambled(scrambled), 1.0f, 0.0f);
    std::vector<int> done;
    bool ok = true;
    for (int g : groups) {
      if (!PerturbGroup(h, scrambled, g, done)) {
        ok = false;
        break;
      }
      done.push_back(g);
    }
    if (ok) return {h, field.substr(1)};
  }
  return {};
}

TEST(DecoderList, DeepFindsGroupFiveRunnerUp) {
  const ListFrame f = MakeListFrame({5});
  ASSERT_FALSE(f.history.empty());
  EXPECT_NE(Decode(f.history, 0).status, 2);
  const Decoded d = Decode(f.history, 1);
  EXPECT_EQ(d.status, 2);
  EXPECT_EQ(d.attempts, 7);
  EXPECT_EQ(d.call, f.call);
  // Ultra Deep walks the same list first.
  EXPECT_EQ(Decode(f.history, 2).attempts, 7);
}

TEST(DecoderList, UltraDeepLastPairReports157) {
  const ListFrame f = MakeListFrame({15, 16});
  ASSERT_FALSE(f.history.empty());
  EXPECT_NE(Decode(f.history, 1).status, 2);
  const Decoded d = Decode(f.history, 2);
  EXPECT_EQ(d.status, 2);
  EXPECT_EQ(d.attempts, 157);
  EXPECT_EQ(d.call, f.call);
}

TEST(DecoderList, UltraDeepPairOfGroupsOneAndTwo) {
  const ListFrame f = MakeListFrame({1, 2});
  ASSERT_FALSE(f.history.empty());
  EXPECT_NE(Decode(f.history, 0).status, 2);
  EXPECT_NE(Decode(f.history, 1).status, 2);
  EXPECT_EQ(Decode(f.history, 1).attempts, 19);
  const Decoded d = Decode(f.history, 2);
  EXPECT_EQ(d.status, 2);
  EXPECT_EQ(d.attempts, 36);  // pairs (0,1) ... (0,16) are attempts 19 ... 34
  EXPECT_EQ(d.call, f.call);
}

TEST(DecoderList, GroupZeroMattersOnlyToTheFrameCheck) {
  // Group 0 carries the zero prefix and two bits no check word covers: without
  // the frame check a wrong group 0 passes, with it the candidate is refused.
  const ListFrame alone = MakeListFrame({0});
  ASSERT_FALSE(alone.history.empty());
  const Decoded loose = Decode(alone.history, 0, false);
  EXPECT_EQ(loose.status, 2);
  EXPECT_EQ(loose.attempts, 1);
  EXPECT_EQ(loose.call, alone.call);
  const Decoded strict = Decode(alone.history, 0);
  EXPECT_EQ(strict.status, 0);
  EXPECT_EQ(strict.call, "");

  // Groups 0 and 1 wrong: without the frame check group 1's runner-up alone is
  // enough (attempt 2), so a pair with group 0 is never needed.
  const ListFrame pair = MakeListFrame({0, 1});
  ASSERT_FALSE(pair.history.empty());
  EXPECT_NE(Decode(pair.history, 0, false).status, 2);
  const Decoded p = Decode(pair.history, 2, false);
  EXPECT_EQ(p.status, 2);
  EXPECT_EQ(p.attempts, 3);
  EXPECT_EQ(p.call, pair.call);
}

TEST(DecoderList, AttemptNumbersOverTheWholeList) {
  // One frame per group: the group's runner-up completes the check at attempt
  // group + 1 (group 0 needs none).
  for (int g = 1; g < 17; ++g) {
    const ListFrame f = MakeListFrame({g});
    ASSERT_FALSE(f.history.empty()) << g;
    const Decoded d = Decode(f.history, 1);
    EXPECT_EQ(d.status, 2) << g;
    EXPECT_EQ(d.attempts, g + 2) << g;
  }
}

TEST(DecoderList, DepthOutsideTheRangeIsClamped) {
  const std::vector<float> zero(kHistoryLength, 0.0f);
  EXPECT_EQ(Decode(zero, -3).attempts, 1);
  EXPECT_EQ(Decode(zero, 9).attempts, 157);
}

// ---- Round trip: random callsigns through the encoder and a rectangular
// history come back from the decoder.
//
// At the nominal alignment (symbol 2 from index 0) the offset search can give a
// wrong codeword earlier in index order the same score as the right one (its
// chips read the neighbouring symbol one sample early), and the strict maximum
// keeps the earlier one; over half of all callsigns fail there. Two samples
// later in the symbol no wrong codeword can reach 7, and the worker, which calls
// the decoder at every sample, meets that alignment for every frame.
TEST(DecoderProperty, RandomCallsignsRoundTrip) {
  std::mt19937 rng(2024);
  const std::string letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  const std::string digits = "0123456789";
  std::uniform_real_distribution<float> onLevel(0.5f, 3.0f), offLevel(0.01f, 0.3f),
      noise(0.0f, 0.04f);
  int decodedAtNominal = 0;
  const int kCalls = 300;
  for (int i = 0; i < kCalls; ++i) {
    std::string call;
    const int prefix = 1 + static_cast<int>(rng() % 2);
    for (int k = 0; k < prefix; ++k) {
      call += (k == 1 && rng() % 4 == 0) ? digits[rng() % 10] : letters[rng() % 26];
    }
    call += digits[rng() % 10];
    const int suffix = 1 + static_cast<int>(rng() % 3);
    for (int k = 0; k < suffix; ++k) call += letters[rng() % 26];

    char symbols[kFrameSymbols + 1];
    int scrambled[kMessageBits];
    EncodeFrame(CallsignFieldForm(call), symbols, scrambled);
    const float on = onLevel(rng), off = offLevel(rng);

    // Clean, two samples into the symbol: always decoded.
    const auto clean = Rectangular(symbols, on, off, 2);
    const Decoded d = Decode(clean, 0);
    ASSERT_EQ(d.status, 2) << call;
    ASSERT_EQ(d.call, call);
    ASSERT_EQ(d.attempts, 1);
    // Every chip scores on - off with energy on + off: 2S / (E - S) = (on - off) / off.
    ASSERT_NEAR(d.ebNoDb, 10.0 * std::log10((on - off) / off), 2e-3) << call;

    // Noisy, with noise-only neighbours, slid over five alignments as the
    // worker does: found at least once, and never as another callsign.
    auto centre = Rectangular(symbols, on, off, -1, kHistoryLength + 4);
    std::vector<float> lower(centre.size()), upper(centre.size());
    for (size_t k = 0; k < centre.size(); ++k) {
      centre[k] += noise(rng);
      lower[k] = noise(rng);
      upper[k] = noise(rng);
    }
    int found = 0;
    for (int offset = 0; offset <= 4; ++offset) {
      const Decoded slid = Decode(centre, lower, upper, 0, offset);
      if (slid.status == 2) {
        ASSERT_EQ(slid.call, call) << offset;
        ++found;
        if (offset == 1) ++decodedAtNominal;
      }
    }
    ASSERT_GT(found, 0) << call;
  }
  // The nominal alignment alone misses a good share (see above).
  EXPECT_LT(decodedAtNominal, kCalls);
}

TEST(DecoderInputs, NullHistories) {
  const auto h = Rectangular(SymbolsFromScrambled(ScrambledOf(kExample)), 1.0f, 0.0f);
  const DecoderOptions options;
  const DecodeResult none = DecodeFrame(nullptr, h.data(), h.data(), nullptr, 0, options);
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.ebNoDb, -99.0f);
  EXPECT_EQ(none.attempts, 0);
  // Missing neighbours read as the centre history.
  const DecodeResult r = DecodeFrame(h.data(), nullptr, nullptr, nullptr, 0, options);
  EXPECT_EQ(r.status, 2);
  EXPECT_STREQ(r.call, "Q1ABC");
}

}  // namespace
}  // namespace vs32
