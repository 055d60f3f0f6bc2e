// Soft decoder. See engine/decoder.h.
#include "engine/decoder.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/correlator.h"
#include "engine/float_vectors.h"
#include "engine/list_decoder.h"

namespace vs32 {

namespace {

constexpr int kGroups = kCodewordGroups;

// Chip j of codeword v is the parity of ((j + 1) AND v): 0 is sent on-then-off
// (weights +1, -1), 1 off-then-on (-1, +1).
constexpr int Chip(int v, int j) {
  return __builtin_parity(static_cast<unsigned>((j + 1) & v));
}

// Bits 3a ... 3a + 2 of a 51-bit value held with bit k at position 50 - k.
constexpr uint64_t GroupMask(int a) {
  return uint64_t{7} << (48 - 3 * a);
}

uint32_t InfoField(uint64_t bits) {
  return static_cast<uint32_t>((bits >> 19) & 0x0FFFFFFFu);
}

}  // namespace

// The demodulation works on the 17 groups side by side: lanes of three
// vectors of eight (lanes 17 … 23 are padding and dropped). Every lane does
// exactly the operations, in the order, that one group on its own would.
namespace {

typedef int Ints __attribute__((vector_size(32)));
constexpr int kGroupVectors = 3;

// A history split by phase: sample 8q + r at [r][q]. Chip j's first sample in
// group g is 136 j + 8 g + d = 8 (17 j + g) + d, so for one chip and offset the
// 17 groups' samples are neighbours in one phase row. Rows are padded with
// zeros up to the last sample the padding lanes reach.
constexpr int kPhaseRow = 128;
struct PhaseSplit {
  float at[8][kPhaseRow];
};

inline void SplitByPhase(const float* h, PhaseSplit* out) {
  constexpr int kFullBlocks = kDecoderSpan / 64;  // 64 samples: 8 q × 8 phases
  for (int block = 0; block < kFullBlocks; ++block) {
    Floats r[8];
    for (int i = 0; i < 8; ++i) std::memcpy(&r[i], h + 64 * block + 8 * i, sizeof(Floats));
    // Row i (q = 8 block + i, lane = phase) to one row per phase.
    Floats c[8];
    Transpose8(r, c);
    for (int phase = 0; phase < 8; ++phase) {
      std::memcpy(&out->at[phase][8 * block], &c[phase], sizeof(Floats));
    }
  }
  for (int n = 64 * kFullBlocks; n < kDecoderSpan; ++n) out->at[n & 7][n >> 3] = h[n];
  for (int phase = 0; phase < 8; ++phase) {
    for (int q = kDecoderSpan / 8; q < kPhaseRow; ++q) out->at[phase][q] = 0.0f;
  }
}

struct Column {
  Floats score[2][kGroupVectors];   // per chip value: best metric (or 0) per group
  Floats energy[2][kGroupVectors];  // energy at the same history and offset
};

}  // namespace

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
__attribute__((target_clones("avx2", "default")))
#endif
void Demodulate(const float* centre, const float* lower, const float* upper, Demodulation* out) {
  static_assert(kDecoderSpan % 8 == 0 && kDecoderSpan / 8 + 7 + 1 <= kPhaseRow);
  PhaseSplit h[3];
  SplitByPhase(centre, &h[0]);
  SplitByPhase(lower ? lower : centre, &h[1]);
  SplitByPhase(upper ? upper : centre, &h[2]);

  // Chip columns. Per offset d = −w … w (in increasing order) the history with
  // the largest metric counts, the centre first and a later one only when
  // strictly greater; over the offsets, the first metric strictly greater than
  // the running score (from 0) sets the score and the energy. The metric of
  // chip "1" (−on + off) is the negation of that of chip "0" (on − off), so
  // both come from the same samples.
  Column columns[kChips];
  for (int j = 0; j < kChips; ++j) {
    const int halfWidth = 8 * j / 14;  // 0, 0, 1, 1, 2, 2, 3
    Column& c = columns[j];
    for (int p = 0; p < kGroupVectors; ++p) {
      c.score[0][p] = c.score[1][p] = c.energy[0][p] = c.energy[1][p] = Floats{};
    }
    for (int d = -halfWidth; d <= halfWidth; ++d) {
      const int phase = d & 7;                      // n = 8 q + phase
      const int q0 = 17 * j + (d < 0 ? -1 : 0);     // q of group 0
      const int offPhase = (phase + 4) & 7;         // n + 4
      const int offQ0 = q0 + (phase >= 4 ? 1 : 0);  //
      for (int p = 0; p < kGroupVectors; ++p) {
        Floats best0, best1, energy0, energy1;
        for (int k = 0; k < 3; ++k) {
          Floats on, off;
          std::memcpy(&on, &h[k].at[phase][q0 + 8 * p], sizeof on);
          std::memcpy(&off, &h[k].at[offPhase][offQ0 + 8 * p], sizeof off);
          const Floats m0 = on - off, m1 = -on + off, en = on + off;
          if (k == 0) {
            best0 = m0;
            best1 = m1;
            energy0 = energy1 = en;
          } else {
            const Ints better0 = m0 > best0;
            const Ints better1 = m1 > best1;
            best0 = better0 ? m0 : best0;
            energy0 = better0 ? en : energy0;
            best1 = better1 ? m1 : best1;
            energy1 = better1 ? en : energy1;
          }
        }
        const Ints better0 = best0 > c.score[0][p];
        const Ints better1 = best1 > c.score[1][p];
        c.score[0][p] = better0 ? best0 : c.score[0][p];
        c.energy[0][p] = better0 ? energy0 : c.energy[0][p];
        c.score[1][p] = better1 ? best1 : c.score[1][p];
        c.energy[1][p] = better1 ? energy1 : c.energy[1][p];
      }
    }
  }

  // Codeword scores, and per group the best and the one it took over from: the
  // candidates in order, a later one only when strictly greater (from 0).
  float scores[8][kGroupVectors * 8];
  Floats bestScore[kGroupVectors], bestEnergy[kGroupVectors];
  Ints best[kGroupVectors], runnerUp[kGroupVectors];
  for (int p = 0; p < kGroupVectors; ++p) {
    bestScore[p] = bestEnergy[p] = Floats{};
    best[p] = runnerUp[p] = Ints{};
  }
  for (int v = 0; v < 8; ++v) {
    for (int p = 0; p < kGroupVectors; ++p) {
      Floats score = {}, energy = {};
      for (int j = 0; j < kChips; ++j) {
        const int chip = Chip(v, j);
        score += columns[j].score[chip][p];
        energy += columns[j].energy[chip][p];
      }
      std::memcpy(&scores[v][8 * p], &score, sizeof score);
      const Ints better = score > bestScore[p];
      const Ints candidate = Ints{} + v;
      runnerUp[p] = better ? best[p] : runnerUp[p];
      best[p] = better ? candidate : best[p];
      bestScore[p] = better ? score : bestScore[p];
      bestEnergy[p] = better ? energy : bestEnergy[p];
    }
  }

  int bestOf[kGroupVectors * 8], runnerUpOf[kGroupVectors * 8];
  float bestScoreOf[kGroupVectors * 8], bestEnergyOf[kGroupVectors * 8];
  std::memcpy(bestOf, best, sizeof bestOf);
  std::memcpy(runnerUpOf, runnerUp, sizeof runnerUpOf);
  std::memcpy(bestScoreOf, bestScore, sizeof bestScoreOf);
  std::memcpy(bestEnergyOf, bestEnergy, sizeof bestEnergyOf);
  out->s = 0.0f;
  out->e = 0.0f;
  out->bestBits = 0;
  out->runnerUpBits = 0;
  for (int g = 0; g < kGroups; ++g) {
    for (int v = 0; v < 8; ++v) out->scores[g][v] = scores[v][g];
    out->best[g] = bestOf[g];
    out->runnerUp[g] = runnerUpOf[g];
    out->bestScore[g] = bestScoreOf[g];
    out->bestEnergy[g] = bestEnergyOf[g];
    out->s += bestScoreOf[g];
    out->e += bestEnergyOf[g];
    out->bestBits |= static_cast<uint64_t>(bestOf[g]) << (48 - 3 * g);
    out->runnerUpBits |= static_cast<uint64_t>(runnerUpOf[g]) << (48 - 3 * g);
  }
}

bool ValidCallFields(uint64_t descrambled) {
  const bool prefixClear = (descrambled >> 47) == 0;  // message bits 0 ... 3
  return prefixClear && InfoField(descrambled) < kPackedCallLimit;
}

DecodeStatus CheckCandidate(uint64_t descrambled, bool strict) {
  if (strict && !ValidCallFields(descrambled)) return 0;
  const FrameCheck fc = FrameCheckFromPacked(InfoField(descrambled));
  const uint16_t word = static_cast<uint16_t>((descrambled >> 3) & 0xFFFF);
  const uint8_t tail = static_cast<uint8_t>(descrambled & 7);
  if (fc.word != word) return 0;
  return fc.tail == tail ? 2 : 1;
}

SearchResult SearchCandidates(uint64_t best, uint64_t runnerUp, int depth, bool strict) {
  const uint64_t diff = best ^ runnerUp;
  SearchResult r{CheckCandidate(best, strict), best, 1};
  if (depth < 1 || r.status == 2) return r;

  for (int a = 0; a < kGroups; ++a) {
    r.candidate = best ^ (diff & GroupMask(a));
    r.status = CheckCandidate(r.candidate, strict);
    r.attempts = a + 2;
    if (r.status == 2) return r;
  }
  r.candidate = runnerUp;
  r.status = CheckCandidate(r.candidate, strict);
  r.attempts = 19;
  if (depth < 2 || r.status == 2) return r;

  int attempt = 19;
  for (int a = 0; a < kGroups - 1; ++a) {
    for (int b = a + 1; b < kGroups; ++b, ++attempt) {
      r.candidate = best ^ (diff & (GroupMask(a) | GroupMask(b)));
      r.status = CheckCandidate(r.candidate, strict);
      // The pair counter steps past the end of the list on the last pair.
      r.attempts = (a == kGroups - 2) ? 157 : attempt + 1;
      if (r.status == 2) return r;
    }
  }
  return r;
}

float EbNoDb(float s, float e) {
  if (s == 0.0f || !(e > s)) return -99.0f;
  const float ratio = 2.0f * s / (e - s);
  const double db = 10.0 * std::log10(static_cast<double>(ratio));
  if (!std::isfinite(db)) return -99.0f;
  return static_cast<float>(db);
}

DecodeResult DecodeFrame(const float* centre, const float* lower, const float* upper,
                         const int8_t* sign, int depth, const DecoderOptions& options) {
  DecodeResult r;
  if (!centre) return r;
  if (options.decodeAfterWarmup && !options.historyHalfFull) return r;

  Demodulation demod;
  Demodulate(centre, lower, upper, &demod);
  depth = depth < 0 ? 0 : (depth > 3 ? 3 : depth);
  if (depth == 3 && !options.listDecoder) depth = 2;
  if (depth == 3) {
    // Noise makes valid frames somewhere in any long list: the list runs only
    // on a strong best path, and only on histories of real audio throughout
    // (partly empty windows raise the Eb/No of noise, and no frame fits them).
    // Otherwise only its first message, the best codewords, is tried, as the
    // single attempt does (a frame cut by the start of the run still decodes).
    const float bestEbNo = EbNoDb(demod.s, demod.e);
    bool found = false;
    uint64_t message = demod.bestBits ^ ScramblePatternBits();
    if (options.historyFull && bestEbNo > options.listThreshold) {
      const ListOutcome list = options.listDecoder->Search(demod.scores);
      found = list.found;
      message = list.message;
      r.attempts = found ? list.position : list.length;
    } else {
      found = CheckCandidate(message, true) == 2;
      r.attempts = 1;
    }
    if (found) {
      r.status = 2;
      r.ebNoDb = bestEbNo;
      UnpackCall(InfoField(message), r.call);
      return r;
    }
  } else {
    const uint64_t pattern = ScramblePatternBits();
    const SearchResult search = SearchCandidates(
        demod.bestBits ^ pattern, demod.runnerUpBits ^ pattern, depth, options.strictFrameCheck);
    r.attempts = search.attempts;
    if (search.status != 0) {
      r.status = search.status;
      r.ebNoDb = EbNoDb(demod.s, demod.e);
      UnpackCall(InfoField(search.candidate), r.call);
      return r;
    }
  }

  if (options.useCorrelator && options.historyHalfFull && options.knownCalls) {
    const CorrelationOutcome c = CorrelateKnownCalls(
        demod.bestBits, sign, *options.knownCalls, options.correlator51Threshold,
        options.correlator237Threshold, options.correlatorSecondOpinion ? demod.scores : nullptr);
    if (c.status == 1) {
      r.status = 1;
      std::memcpy(r.call, c.call, 7);
      r.attempts = 0;
      r.ebNoDb = EbNoDb(demod.s, demod.e);
      return r;
    }
    if (c.ambiguous && options.events) {
      char text[32];
      std::snprintf(text, sizeof text, "%s or %s?", c.call, c.rival);
      options.events->Ambiguity(text);
    }
  }
  return r;
}

}  // namespace vs32
