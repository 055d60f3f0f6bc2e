// Best-first list decoding: the list against a brute force, the syndrome screen
// against the exact check, ties at the end of the list, and depth 3 inside
// DecodeFrame (weak frames, the Eb/No gate).
#include "engine/list_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/decoder.h"
#include "engine/frame_codec.h"

namespace vs32 {
namespace {

using Scores = float[kCodewordGroups][8];

uint64_t WithGroup(uint64_t scrambled, int g, int v) {
  const int shift = 48 - 3 * g;
  return (scrambled & ~(uint64_t{7} << shift)) | (static_cast<uint64_t>(v) << shift);
}

int GroupOf(uint64_t scrambled, int g) {
  return static_cast<int>((scrambled >> (48 - 3 * g)) & 7);
}

// Loss of a message under `scores`, summed in group order. The tests use scores
// on a coarse binary grid, so every sum is exact whatever its order.
double LossOf(const Scores& scores, uint64_t scrambled) {
  double loss = 0;
  for (int g = 0; g < kCodewordGroups; ++g) {
    const float top = *std::max_element(scores[g], scores[g] + 8);
    loss += static_cast<double>(top) - scores[g][GroupOf(scrambled, g)];
  }
  return loss;
}

// ---- The list against a brute force

struct ListCase {
  int k;
  bool smallIntegers;  // scores 0 ... 3: ties everywhere
};

class ListOrder : public ::testing::TestWithParam<ListCase> {};

// Five groups chosen at random score freely; in the others one codeword leads
// by far more than the five can lose together, so the K + 1 smallest messages
// all keep those groups at their best and a brute force over 8^5 messages
// gives the list to expect.
TEST_P(ListOrder, IsTheKSmallestLossMessagesInOrder) {
  const ListCase c = GetParam();
  ListDecoder list(c.k);
  std::vector<ListEntry> got(c.k);
  std::mt19937 rng(c.k * 2 + c.smallIntegers);
  for (int trial = 0; trial < 12; ++trial) {
    SCOPED_TRACE(trial);
    std::vector<int> groups(kCodewordGroups);
    for (int g = 0; g < kCodewordGroups; ++g) groups[g] = g;
    std::shuffle(groups.begin(), groups.end(), rng);
    groups.resize(5);
    Scores scores;
    uint64_t fixed = 0;
    for (int g = 0; g < kCodewordGroups; ++g) {
      const bool free = std::find(groups.begin(), groups.end(), g) != groups.end();
      const int lead = static_cast<int>(rng() % 8);
      for (int v = 0; v < 8; ++v) {
        if (free) {
          scores[g][v] = c.smallIntegers ? static_cast<float>(rng() % 4)
                                         : static_cast<float>(rng() % (1 << 20)) / 1024.0f;
        } else {
          scores[g][v] = v == lead ? 1.0e6f : 0.0f;
        }
      }
      if (!free) fixed = WithGroup(fixed, g, lead);
    }
    std::vector<ListEntry> all;
    for (int i = 0; i < 1 << 15; ++i) {
      uint64_t m = fixed;
      for (int f = 0; f < 5; ++f) m = WithGroup(m, groups[f], (i >> (3 * f)) & 7);
      all.push_back({m, LossOf(scores, m)});
    }
    std::stable_sort(all.begin(), all.end(),
                     [](const ListEntry& a, const ListEntry& b) { return a.loss < b.loss; });
    const double kth = all[c.k - 1].loss;
    const bool tied = all[c.k].loss == kth;
    const int expectedLength =
        tied ? static_cast<int>(
                   std::lower_bound(all.begin(), all.end(), kth,
                                    [](const ListEntry& e, double l) { return e.loss < l; }) -
                   all.begin())
             : c.k;

    const int length = list.List(scores, got.data(), c.k);
    ASSERT_EQ(length, expectedLength);
    // Same losses in the same order, and the same messages within each loss.
    for (int i = 0; i < length;) {
      int end = i;
      while (end < length && all[end].loss == all[i].loss) ++end;
      std::vector<uint64_t> want, have;
      for (int j = i; j < end; ++j) {
        ASSERT_EQ(got[j].loss, all[j].loss) << j;
        ASSERT_EQ(LossOf(scores, got[j].scrambled), got[j].loss) << j;
        want.push_back(all[j].scrambled);
        have.push_back(got[j].scrambled);
      }
      std::sort(want.begin(), want.end());
      std::sort(have.begin(), have.end());
      ASSERT_EQ(have, want) << "messages of loss " << all[i].loss;
      i = end;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, ListOrder,
                         ::testing::Values(ListCase{1, false}, ListCase{157, false},
                                           ListCase{4096, false}, ListCase{157, true},
                                           ListCase{4096, true}));

// ---- The syndrome screen against the exact check

TEST(ListScreen, PassesEveryValidFrameAndFewOthers) {
  const uint64_t pattern = ScramblePatternBits();
  std::mt19937_64 rng(11);
  // Valid frames of random callsigns; among 300000 of them the zero CRC bytes
  // that are sent as 27, 43 and 3 occur about a thousand times each.
  for (int i = 0; i < 300000; ++i) {
    const uint32_t n = static_cast<uint32_t>(rng() % kPackedCallLimit);
    const uint64_t message = PackMessage(n);
    ASSERT_TRUE(ValidFrame(message)) << n;
    ASSERT_TRUE(PassesListScreen(message ^ pattern)) << n;
  }
  // Random messages: where the exact check passes, so does the screen; the
  // screen lets few others through.
  int passed = 0, exact = 0;
  const int trials = 1 << 21;
  for (int i = 0; i < trials; ++i) {
    const uint64_t message = rng() & ((uint64_t{1} << kMessageBits) - 1);
    const bool screen = PassesListScreen(message ^ pattern);
    const bool check = CheckCandidate(message) == 2 && (message >> 47) == 0 &&
                       ((message >> 19) & 0x0FFFFFFF) < kPackedCallLimit;
    ASSERT_EQ(ValidFrame(message), check);
    ASSERT_TRUE(screen || !check) << std::hex << message;
    passed += screen;
    exact += check;
  }
  EXPECT_LT(passed - exact, trials / 1000);
}

// ---- Ties at the end of the list

// Scores whose best codewords spell `wrong`: the frame `right` differs from it
// in group `g` at a loss of 1, a decoy message (group `h` changed) also loses
// 1, and everything else loses 8 or more.
void TiedScores(uint64_t right, int g, int h, Scores& scores) {
  for (int group = 0; group < kCodewordGroups; ++group) {
    for (int v = 0; v < 8; ++v) scores[group][v] = 0.0f;
    const int v = GroupOf(right, group);
    scores[group][v] = 16.0f;
    if (group == g) {
      scores[group][(v + 1) % 8] = 17.0f;  // the wrong best
    } else if (group == h) {
      scores[group][(v + 1) % 8] = 15.0f;  // the decoy
    }
  }
}

TEST(ListTies, AMessageTiedAcrossTheLastPlaceIsRefused) {
  const uint64_t pattern = ScramblePatternBits();
  const uint64_t right = PackMessage(PackCallField(" Q1ABC")) ^ pattern;
  Scores scores;
  TiedScores(right, 6, 11, scores);

  // Positions: 1 the best path (loss 0), then the frame and the decoy (loss 1).
  ListDecoder two(2);
  const ListOutcome refused = two.Search(scores);
  EXPECT_FALSE(refused.found);
  EXPECT_EQ(refused.length, 1);  // both of loss 1 left out

  ListDecoder three(3);
  const ListOutcome found = three.Search(scores);
  ASSERT_TRUE(found.found);
  EXPECT_EQ(found.message, right ^ pattern);
  EXPECT_EQ(found.position, 2);
  EXPECT_EQ(found.loss, 1.0);

  // A group whose codewords all score alike (a history still filling) ties
  // eight messages at every place: the third and fourth tie, nothing is left.
  for (int v = 0; v < 8; ++v) scores[3][v] = 0.0f;
  const ListOutcome warmUp = three.Search(scores);
  EXPECT_FALSE(warmUp.found);
  EXPECT_EQ(warmUp.length, 0);
}

TEST(ListTies, TwoValidFramesOfTheSameLossAreRefused) {
  // Where the frames of two calls differ, both codewords score the top: every
  // mix of the two has loss 0, and everything else loses 16 or more.
  const uint64_t pattern = ScramblePatternBits();
  const uint64_t a = PackMessage(PackCallField(" Q1ABC")) ^ pattern;
  const uint64_t b = PackMessage(PackCallField("QA2XY ")) ^ pattern;
  Scores scores;
  int differing = 0, last = 0;
  for (int g = 0; g < kCodewordGroups; ++g) {
    for (int v = 0; v < 8; ++v) scores[g][v] = 0.0f;
    scores[g][GroupOf(a, g)] = 16.0f;
    scores[g][GroupOf(b, g)] = 16.0f;
    if (GroupOf(a, g) != GroupOf(b, g)) {
      ++differing;
      last = g;
    }
  }
  ASSERT_LE(differing, 16);
  ListDecoder list(1 << differing);  // exactly the mixes, both frames among them
  const ListOutcome both = list.Search(scores);
  EXPECT_FALSE(both.found);
  EXPECT_EQ(both.length, 1 << differing);
  // With one of them a little weaker, the other is the decode.
  scores[last][GroupOf(b, last)] = 15.5f;
  const ListOutcome one = list.Search(scores);
  ASSERT_TRUE(one.found);
  EXPECT_EQ(one.message, a ^ pattern);
  EXPECT_EQ(one.position, 1);
}

// ---- Depth 3 inside DecodeFrame

// Power history of a frame: four samples per line symbol at `on` or `off`,
// index 0 at symbol 2, plus non-negative Gaussian noise.
std::vector<float> FrameHistory(const std::string& call, float on, float off, float sigma,
                                std::mt19937& rng) {
  char symbols[kFrameSymbols + 1];
  int scrambled[kMessageBits];
  EncodeFrame(CallsignFieldForm(call), symbols, scrambled);
  std::normal_distribution<float> noise(0.0f, sigma);
  std::vector<float> h(kHistoryLength);
  for (int i = 0; i < kHistoryLength; ++i) {
    const int s = (i + 8) / 4;
    const float level = s < kFrameSymbols && symbols[s] == '1' ? on : off;
    h[i] = std::max(0.0f, level + noise(rng));
  }
  return h;
}

std::vector<float> Noise(float sigma, std::mt19937& rng) {
  return FrameHistory("Q1A", 0.0f, 0.0f, sigma, rng);
}

struct DepthResult {
  DecodeStatus status;
  std::string call;
  int attempts;
};

DepthResult DecodeAt(const std::vector<float>& c, const std::vector<float>& l,
                     const std::vector<float>& u, int depth, DecoderOptions options) {
  const DecodeResult r = DecodeFrame(c.data(), l.data(), u.data(), nullptr, depth, options);
  return {r.status, r.status ? std::string(r.call) : std::string(), r.attempts};
}

TEST(ListDepth, FindsWeakFramesTheShorterListsMiss) {
  ListDecoder list(kDefaultListSize);
  DecoderOptions options;
  options.useCorrelator = false;
  options.historyFull = true;
  options.listDecoder = &list;
  std::mt19937 rng(5);
  int byUltraDeep = 0, byList = 0, wrong = 0;
  for (int trial = 0; trial < 30; ++trial) {
    const auto centre = FrameHistory("QA2XY", 1.0f, 0.0f, 0.40f, rng);
    const auto lower = Noise(0.40f, rng);
    const auto upper = Noise(0.40f, rng);
    const DepthResult ultra = DecodeAt(centre, lower, upper, 2, options);
    const DepthResult listed = DecodeAt(centre, lower, upper, 3, options);
    byUltraDeep += ultra.status == 2 && ultra.call == "QA2XY";
    if (listed.status == 0) continue;
    EXPECT_EQ(listed.status, 2);
    if (listed.call != "QA2XY") {
      ++wrong;
      continue;
    }
    ++byList;
    // `attempts` is the frame's place in the list.
    Demodulation m;
    Demodulate(centre.data(), lower.data(), upper.data(), &m);
    std::vector<ListEntry> entries(kDefaultListSize);
    const int n = list.List(m.scores, entries.data(), kDefaultListSize);
    const uint64_t sent = PackMessage(PackCallField("QA2XY")) ^ ScramblePatternBits();
    const double loss = LossOf(m.scores, sent);
    int place = 1;
    while (place <= n && entries[place - 1].loss < loss) ++place;
    EXPECT_EQ(listed.attempts, place);
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(byList, byUltraDeep + 5) << byUltraDeep;
}

TEST(ListDepth, SearchesOnlyAboveTheEbNoGateAndOnFullHistories) {
  ListDecoder list(kDefaultListSize);
  std::mt19937 rng(9);
  const auto noise = Noise(1.0f, rng);
  Demodulation m;
  Demodulate(noise.data(), noise.data(), noise.data(), &m);
  const float ebNo = EbNoDb(m.s, m.e);

  DecoderOptions options;
  options.useCorrelator = false;
  options.historyFull = true;
  options.listDecoder = &list;
  options.listThreshold = ebNo;  // not above: the best codewords alone
  DepthResult r = DecodeAt(noise, noise, noise, 3, options);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.attempts, 1);

  options.listThreshold = ebNo - 0.01;  // the list runs, and finds nothing in noise
  r = DecodeAt(noise, noise, noise, 3, options);
  EXPECT_EQ(r.status, 0);
  EXPECT_GT(r.attempts, 1);
  options.historyFull = false;
  EXPECT_EQ(DecodeAt(noise, noise, noise, 3, options).attempts, 1);

  // A clean frame is the first message of its own list, and decodes as the
  // single attempt while the histories fill.
  const auto clean = FrameHistory("Q1ABC", 1.1f, 0.1f, 0.0f, rng);
  for (const bool full : {true, false}) {
    options.historyFull = full;
    options.listThreshold = 5;
    r = DecodeAt(clean, clean, clean, 3, options);
    EXPECT_EQ(r.status, 2) << full;
    EXPECT_EQ(r.call, "Q1ABC") << full;
    EXPECT_EQ(r.attempts, 1) << full;
  }
}

}  // namespace
}  // namespace vs32
