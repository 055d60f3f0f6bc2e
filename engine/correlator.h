// Correlation with the frames of known callsigns: the last resort of the decoder
// when no candidate passes its check. Correlator51 compares the best codeword
// bits with each station's scrambled message; Correlator237 compares the hard
// decisions of symbols 2 ... 238 with each station's reference symbols, and the
// shift test makes sure no other station (at any cyclic shift) explains the
// received symbols at least as well before the best one is accepted.
//
// Only entries with a distance (distanceKm != -1) take part. All counting is on
// packed bits; nothing is allocated.
#pragma once

#include <cstdint>

#include "engine/frame_codec.h"
#include "engine/known_calls.h"

namespace vs32 {

// Symbols 0 ... 238 as bits (bit s of word s / 64): `plus` where the value is
// +1, `minus` where it is -1. Other values agree with nothing.
struct PackedSymbols {
  uint64_t plus[4];
  uint64_t minus[4];
};

// Hard decisions of symbols 2 ... 238 from the sign history (symbol s at index
// 4 * (s - 2), so indices 0 ... 944 are read); symbols 0 and 1 stay empty.
PackedSymbols PackHardDecisions(const int8_t* sign);

// A station's reference symbols 0 ... 238 (+1 for symbol '1', -1 otherwise).
PackedSymbols PackReferenceSymbols(const int* referenceSymbols);

// Positions k = 0 ... 50 at which the scrambled best bits (bit k at position
// 50 - k) equal the station's scrambled message (integers 0/1).
int Correlator51Count(uint64_t scrambledBest, const int* scrambledMessage);

// Symbols at which the station's reference equals the hard decision (at most 237).
int Correlator237Count(const PackedSymbols& hard, const PackedSymbols& reference);

struct ShiftTestResult {
  int count = 0;   // N: the highest agreement count at any nonzero shift
  int rival = -1;  // table index of the entry that reached it first; -1 when none
  int shift = 0;   // its shift t (-120 ... 119, never 0)
};

// For every cyclic shift t = -120 ... 119 except 0 and every taking-part entry
// 0 ... count - 1 other than `kept`: the symbols s = 2 ... 238 at which the
// entry's reference at (s + t) mod 239 equals the hard decision. Ties keep the
// first found in the order (shift, entry). The caller holds table.mutex.
ShiftTestResult ShiftTest(const PackedSymbols& hard, const KnownCallTable& table, int count,
                          int kept);

// Second opinion on a correlator match, from the soft codeword scores of the
// window (Demodulation::scores). With v_g(c) the codeword of call c in group g
// (bits 3g ... 3g + 2 of its scrambled message), m_g and s2_g the mean and the
// variance of the 8 scores of group g:
//
//   Z(c) = sum_g (scores[g][v_g(c)] - m_g) / sqrt(sum_g s2_g)
//
// A call drawn at random (each group's codeword uniform) has Z of mean 0 and
// spread 1 whatever the level of the window, so one threshold serves every
// signal and noise level. The hard correlators only count agreements with the
// best codewords; on noise the best codeword of a group wins by a hair, while a
// real frame's codewords stand out of the other seven, which Z sees. Returns 0
// when all scores of every group are equal.
float KnownCallScore(const float scores[kCodewordGroups][8], const int* scrambledMessage);

// The relaxed thresholds on KnownCallScore that a correlator match must pass
// when the second opinion is on. Measured with 998 listed calls: wrong matches
// (noise, and other calls beside a weak station) scored at most 4.3 after a
// symbol match and 5.1 after a Correlator51 match; the right call's best
// match per frame scored 4.1 ... 7.1, and all but the weakest above 4.6. A
// Correlator51 match already means the call's codewords are the best ones in
// most groups, which lifts the score of noise too (about 6 when all 17
// agree), hence its higher threshold.
inline constexpr float kSecondOpinion51 = 6.0f;
inline constexpr float kSecondOpinion237 = 4.5f;

struct CorrelationOutcome {
  int status = 0;          // 1 when a known call was accepted
  bool ambiguous = false;  // the symbol correlation found a rival at least as good
  char call[7] = {};       // the accepted call, or the best one when ambiguous
  char rival[7] = {};      // the rival when ambiguous
  int count51 = -1;        // best Correlator51 count (-1: no entry took part)
  int count237 = 0;        // best Correlator237 count (0: none kept)
  int shiftCount = 0;      // N of the shift test when it ran
  // KnownCallScore of the calls matched by Correlator51 and Correlator237 (over
  // their thresholds; -99 when none matched or no scores were given), and
  // whether the second opinion refused any match.
  float score51 = -99.0f;
  float score237 = -99.0f;
  bool refused = false;
};

// Runs Correlator51, Correlator237 and the shift test on the table (locks
// table.mutex while it reads). `sign` may be null: only Correlator51 runs.
// With `scores` (the window's codeword scores) a correlator's match counts only
// when the matched call's KnownCallScore is above its minimum; a refused
// Correlator237 match leaves the outcome of Correlator51. Null `scores`: the
// plain correlators.
CorrelationOutcome CorrelateKnownCalls(uint64_t scrambledBest, const int8_t* sign,
                                       const KnownCallTable& table, int threshold51,
                                       int threshold237, const float (*scores)[8] = nullptr,
                                       float minScore51 = kSecondOpinion51,
                                       float minScore237 = kSecondOpinion237);

// Probability that a random n-bit pattern agrees with a fixed one in at least t
// positions. Shown beside the correlation thresholds.
double FalseDecodeProbability(int n, int t);

}  // namespace vs32
