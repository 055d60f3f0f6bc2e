// Soft decoder. See engine/decoder.h.
#include "engine/decoder.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/correlator.h"

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

struct ChipColumn {
  float score[2];   // best metric (or 0) for chip value 0 and 1
  float energy[2];  // energy at the same history and offset
};

// One chip column of one group. The metric of chip "1" is the exact negation of
// that of chip "0" (x - y versus -x + y), so both are found from one pass over
// the offsets and histories, with the same tie rules as two separate passes:
// per offset the first history with the largest metric, over offsets the first
// offset whose metric is strictly greater than the running score (from 0).
inline ChipColumn DemodulateColumn(const float* const h[3], int base, int halfWidth) {
  ChipColumn c{{0.0f, 0.0f}, {0.0f, 0.0f}};
  for (int d = -halfWidth; d <= halfWidth; ++d) {
    const int n = base + d;
    float best0 = 0, best1 = 0, energy0 = 0, energy1 = 0;
    for (int k = 0; k < 3; ++k) {
      const float on = h[k][n];
      const float off = h[k][n + 4];
      const float m0 = on - off;
      const float m1 = -on + off;
      const float en = on + off;
      if (k == 0 || m0 > best0) {
        best0 = m0;
        energy0 = en;
      }
      if (k == 0 || m1 > best1) {
        best1 = m1;
        energy1 = en;
      }
    }
    if (best0 > c.score[0]) {
      c.score[0] = best0;
      c.energy[0] = energy0;
    }
    if (best1 > c.score[1]) {
      c.score[1] = best1;
      c.energy[1] = energy1;
    }
  }
  return c;
}

uint32_t InfoField(uint64_t bits) {
  return static_cast<uint32_t>((bits >> 19) & 0x0FFFFFFFu);
}

}  // namespace

void Demodulate(const float* centre, const float* lower, const float* upper, Demodulation* out) {
  const float* const h[3] = {centre, lower ? lower : centre, upper ? upper : centre};
  out->s = 0.0f;
  out->e = 0.0f;
  out->bestBits = 0;
  out->runnerUpBits = 0;
  for (int g = 0; g < kGroups; ++g) {
    ChipColumn columns[kChips];
    for (int j = 0; j < kChips; ++j) {
      const int halfWidth = 8 * j / 14;  // 0, 0, 1, 1, 2, 2, 3
      columns[j] = DemodulateColumn(h, 136 * j + 8 * g, halfWidth);
    }
    int best = 0, runnerUp = 0;
    float bestScore = 0.0f, bestEnergy = 0.0f;
    for (int v = 0; v < 8; ++v) {
      float score = 0.0f, energy = 0.0f;
      for (int j = 0; j < kChips; ++j) {
        const int chip = Chip(v, j);
        score += columns[j].score[chip];
        energy += columns[j].energy[chip];
      }
      out->scores[g][v] = score;
      if (score > bestScore) {
        runnerUp = best;
        best = v;
        bestScore = score;
        bestEnergy = energy;
      }
    }
    out->best[g] = best;
    out->runnerUp[g] = runnerUp;
    out->bestScore[g] = bestScore;
    out->bestEnergy[g] = bestEnergy;
    out->s += bestScore;
    out->e += bestEnergy;
    out->bestBits |= static_cast<uint64_t>(best) << (48 - 3 * g);
    out->runnerUpBits |= static_cast<uint64_t>(runnerUp) << (48 - 3 * g);
  }
}

DecodeStatus CheckCandidate(uint64_t descrambled) {
  const FrameCheck fc = FrameCheckFromPacked(InfoField(descrambled));
  const uint16_t word = static_cast<uint16_t>((descrambled >> 3) & 0xFFFF);
  const uint8_t tail = static_cast<uint8_t>(descrambled & 7);
  if (fc.word != word) return 0;
  return fc.tail == tail ? 2 : 1;
}

SearchResult SearchCandidates(uint64_t best, uint64_t runnerUp, int depth) {
  const uint64_t diff = best ^ runnerUp;
  SearchResult r{CheckCandidate(best), best, 1};
  if (depth < 1 || r.status == 2) return r;

  for (int a = 0; a < kGroups; ++a) {
    r.candidate = best ^ (diff & GroupMask(a));
    r.status = CheckCandidate(r.candidate);
    r.attempts = a + 2;
    if (r.status == 2) return r;
  }
  r.candidate = runnerUp;
  r.status = CheckCandidate(r.candidate);
  r.attempts = 19;
  if (depth < 2 || r.status == 2) return r;

  int attempt = 19;
  for (int a = 0; a < kGroups - 1; ++a) {
    for (int b = a + 1; b < kGroups; ++b, ++attempt) {
      r.candidate = best ^ (diff & (GroupMask(a) | GroupMask(b)));
      r.status = CheckCandidate(r.candidate);
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

DecodeStatus DecodeFrame(const float* centre, const float* lower, const float* upper,
                         const int8_t* sign, char call[8], float* ebNoDb, int* attempts, int depth,
                         const DecoderOptions& options) {
  float ebNoScratch;
  int attemptsScratch;
  char callScratch[8];
  if (!ebNoDb) ebNoDb = &ebNoScratch;
  if (!attempts) attempts = &attemptsScratch;
  if (!call) call = callScratch;
  *ebNoDb = -99.0f;
  *attempts = 0;
  if (!centre) return 0;

  Demodulation demod;
  Demodulate(centre, lower, upper, &demod);
  const uint64_t pattern = ScramblePatternBits();
  const SearchResult search =
      SearchCandidates(demod.bestBits ^ pattern, demod.runnerUpBits ^ pattern,
                       depth < 0 ? 0 : (depth > 2 ? 2 : depth));
  DecodeStatus status = search.status;
  *attempts = search.attempts;
  if (status != 0) {
    *ebNoDb = EbNoDb(demod.s, demod.e);
    UnpackCall(InfoField(search.candidate), call);
    return status;
  }

  if (options.useCorrelator && options.historyHalfFull && options.knownCalls) {
    const CorrelationOutcome c =
        CorrelateKnownCalls(demod.bestBits, sign, *options.knownCalls,
                            options.correlator51Threshold, options.correlator237Threshold);
    if (c.status == 1) {
      std::memcpy(call, c.call, 7);
      *attempts = 0;
      *ebNoDb = EbNoDb(demod.s, demod.e);
      return 1;
    }
    if (c.ambiguous && options.events) {
      char text[32];
      std::snprintf(text, sizeof text, "%s or %s?", c.call, c.rival);
      options.events->Ambiguity(text);
    }
  }
  return 0;
}

}  // namespace vs32
