// Correlation stages of the decoder. See engine/correlator.h.
#include "engine/correlator.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <mutex>

namespace vs32 {

namespace {

constexpr int kSymbols = kFrameSymbols;  // 239
constexpr int kWords = 4;                // 256 bits hold 239 symbols
constexpr uint64_t kMessageMask = (uint64_t{1} << kMessageBits) - 1;
constexpr int kShifts = 239;  // t = -120 ... 119, 0 included (skipped)

bool TakesPart(const KnownCall& entry) {
  return entry.distanceKm != -1;
}

void CopyCall(const KnownCall& entry, char out[7]) {
  int i = 0;
  for (; i < 6 && entry.callsign[i] != '\0'; ++i) out[i] = entry.callsign[i];
  for (; i < 7; ++i) out[i] = '\0';
}

// A symbol is either +1 or -1 (or neither), so the two masks are disjoint and
// one popcount of their union counts both kinds of agreement.
int Agreements(const PackedSymbols& a, const PackedSymbols& b) {
  int count = 0;
  for (int w = 0; w < kWords; ++w) {
    count += std::popcount((a.plus[w] & b.plus[w]) | (a.minus[w] & b.minus[w]));
  }
  return count;
}

// Agreement counts of one reference with the hard decisions at every shift. The
// baseline x86-64 target has no popcount instruction; where the CPU has one, a
// clone that uses it is picked at load time (same counts either way). The
// load-time resolver runs before ThreadSanitizer is set up, so TSan builds
// keep the one portable version.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
__attribute__((target_clones("popcnt", "default")))
#endif
void CountAllShifts(const PackedSymbols& ref, const PackedSymbols* rotated, int counts[]) {
  for (int ti = 0; ti < kShifts; ++ti) {
    int n = 0;
    for (int w = 0; w < kWords; ++w) {
      n += std::popcount((ref.plus[w] & rotated[ti].plus[w]) |
                         (ref.minus[w] & rotated[ti].minus[w]));
    }
    counts[ti] = n;
  }
}

// Bits [start, start + 256) of a bit array of 9 words.
void ExtractWords(const uint64_t* doubled, int start, uint64_t out[kWords]) {
  const int word = start >> 6;
  const int bit = start & 63;
  for (int w = 0; w < kWords; ++w) {
    out[w] = bit == 0 ? doubled[word + w]
                      : (doubled[word + w] >> bit) | (doubled[word + w + 1] << (64 - bit));
  }
  out[kWords - 1] &= (uint64_t{1} << (kSymbols - 64 * (kWords - 1))) - 1;
}

// Agreement counts straight from the table's integers, for every entry:
// packing each entry's 290 integers into bits on every call cost far more than
// the comparisons. Eight positions are compared per vector operation.
typedef int Ints __attribute__((vector_size(32)));

// What one call compares the entries with.
struct Received {
  // Scrambled best bits as 0/1, positions 0 … 50 (48 … 50 compared one by one).
  alignas(32) int best[56];
  // Hard decision of each symbol 0 … 239 (0 where there is none), and −1
  // where it is +1 or −1 (a reference value agrees only with those), else 0.
  alignas(32) int hard[240];
  alignas(32) int hardValid[240];
};

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
__attribute__((target_clones("avx2", "default")))
#endif
void CountAgreements(const KnownCallTable& table, int count, const Received& received,
                     bool withSymbols, int* counts51, int* counts237) {
  for (int e = 0; e < count; ++e) {
    const KnownCall& entry = table.entries[e];
    // A message value agrees with a best bit only when it is that bit, 0 or 1.
    Ints agree = {};
    for (int k = 0; k < 48; k += 8) {
      Ints message, best;
      std::memcpy(&message, entry.scrambledMessage + k, sizeof message);
      std::memcpy(&best, received.best + k, sizeof best);
      agree -= message == best;
    }
    int n = 0;
    for (int lane = 0; lane < 8; ++lane) n += agree[lane];
    for (int k = 48; k < kMessageBits; ++k) n += entry.scrambledMessage[k] == received.best[k];
    counts51[e] = n;
    if (!withSymbols) continue;
    Ints symbols = {};
    for (int s = 0; s < 240; s += 8) {
      Ints reference, hard, valid;
      std::memcpy(&reference, entry.referenceSymbols + s, sizeof reference);
      std::memcpy(&hard, received.hard + s, sizeof hard);
      std::memcpy(&valid, received.hardValid + s, sizeof valid);
      symbols -= (reference == hard) & valid;
    }
    int m = 0;
    for (int lane = 0; lane < 8; ++lane) m += symbols[lane];
    counts237[e] = m;
  }
}

}  // namespace

PackedSymbols PackHardDecisions(const int8_t* sign) {
  PackedSymbols p{};
  for (int s = 2; s < kSymbols; ++s) {
    const int8_t v = sign[4 * (s - 2)];
    p.plus[s >> 6] |= static_cast<uint64_t>(v == 1) << (s & 63);
    p.minus[s >> 6] |= static_cast<uint64_t>(v == -1) << (s & 63);
  }
  return p;
}

PackedSymbols PackReferenceSymbols(const int* referenceSymbols) {
  PackedSymbols p{};
  for (int s = 0; s < kSymbols; ++s) {
    const int v = referenceSymbols[s];
    p.plus[s >> 6] |= static_cast<uint64_t>(v == 1) << (s & 63);
    p.minus[s >> 6] |= static_cast<uint64_t>(v == -1) << (s & 63);
  }
  return p;
}

int Correlator51Count(uint64_t scrambledBest, const int* scrambledMessage) {
  uint64_t ones = 0, zeros = 0;
  for (int k = 0; k < kMessageBits; ++k) {
    ones = (ones << 1) | static_cast<uint64_t>(scrambledMessage[k] == 1);
    zeros = (zeros << 1) | static_cast<uint64_t>(scrambledMessage[k] == 0);
  }
  const uint64_t best = scrambledBest & kMessageMask;
  return std::popcount(best & ones) + std::popcount(~best & zeros);
}

float KnownCallScore(const float scores[kCodewordGroups][8], const int* scrambledMessage) {
  float sum = 0.0f, variance = 0.0f;
  for (int g = 0; g < kCodewordGroups; ++g) {
    const int* b = scrambledMessage + 3 * g;
    const int v = 4 * (b[0] & 1) + 2 * (b[1] & 1) + (b[2] & 1);
    float mean = 0.0f;
    for (int i = 0; i < 8; ++i) mean += scores[g][i];
    mean /= 8.0f;
    float s2 = 0.0f;
    for (int i = 0; i < 8; ++i) s2 += (scores[g][i] - mean) * (scores[g][i] - mean);
    variance += s2 / 8.0f;
    sum += scores[g][v] - mean;
  }
  if (!(variance > 0.0f)) return 0.0f;
  return sum / std::sqrt(variance);
}

int Correlator237Count(const PackedSymbols& hard, const PackedSymbols& reference) {
  return Agreements(hard, reference);
}

ShiftTestResult ShiftTest(const PackedSymbols& hard, const KnownCallTable& table, int count,
                          int kept) {
  // Counting ref[(s + t) mod 239] == hard[s] over s is the same as counting
  // ref[r] == rotated[r] over r, with the hard decisions rotated by t. Rotate the
  // hard decisions once per shift instead of every reference per shift.
  uint64_t doubledPlus[2 * kWords + 1] = {};
  uint64_t doubledMinus[2 * kWords + 1] = {};
  for (int i = 0; i < 2 * kSymbols; ++i) {
    const int s = i % kSymbols;
    doubledPlus[i >> 6] |= ((hard.plus[s >> 6] >> (s & 63)) & 1) << (i & 63);
    doubledMinus[i >> 6] |= ((hard.minus[s >> 6] >> (s & 63)) & 1) << (i & 63);
  }
  // rotated[ti][r] = hard[(r - t) mod 239], t = ti - 120, i.e. doubled bit r + u
  // with u = (239 - t) mod 239.
  PackedSymbols rotated[kShifts];
  for (int ti = 0; ti < kShifts; ++ti) {
    const int t = ti - 120;
    const int u = ((kSymbols - t) % kSymbols + kSymbols) % kSymbols;
    ExtractWords(doubledPlus, u, rotated[ti].plus);
    ExtractWords(doubledMinus, u, rotated[ti].minus);
  }

  // Entries outside, shifts inside; ties resolved as in the order (shift, entry).
  ShiftTestResult result;
  int resultTi = kShifts;
  for (int e = 0; e < count; ++e) {
    const KnownCall& entry = table.entries[e];
    if (e == kept || !TakesPart(entry)) continue;
    int counts[kShifts];
    CountAllShifts(PackReferenceSymbols(entry.referenceSymbols), rotated, counts);
    for (int ti = 0; ti < kShifts; ++ti) {
      if (ti == 120) continue;  // t = 0
      const int n = counts[ti];
      if (n > result.count || (n == result.count && n > 0 && ti < resultTi)) {
        result.count = n;
        result.rival = e;
        result.shift = ti - 120;
        resultTi = ti;
      }
    }
  }
  return result;
}

CorrelationOutcome CorrelateKnownCalls(uint64_t scrambledBest, const int8_t* sign,
                                       const KnownCallTable& table, int threshold51,
                                       int threshold237, const float (*scores)[8], float minScore51,
                                       float minScore237) {
  CorrelationOutcome out;
  std::lock_guard lock(table.mutex);
  const int count = std::clamp(table.size(), 0, KnownCallTable::kSlots);

  Received received;
  for (int k = 0; k < 56; ++k) {
    received.best[k] = k < kMessageBits ? static_cast<int>((scrambledBest >> (50 - k)) & 1) : 0;
  }
  for (int s = 0; s < 240; ++s) {
    const int v = sign && s >= 2 && s < kSymbols ? sign[4 * (s - 2)] : 0;
    received.hard[s] = v;
    received.hardValid[s] = v == 1 || v == -1 ? -1 : 0;
  }
  int counts51[KnownCallTable::kSlots];
  int counts237[KnownCallTable::kSlots];
  CountAgreements(table, count, received, sign != nullptr, counts51, counts237);

  // Correlator51: the first taking-part entry is kept, a later one only with a
  // strictly higher count.
  int kept51 = -1;
  for (int e = 0; e < count; ++e) {
    if (!TakesPart(table.entries[e])) continue;
    if (counts51[e] > out.count51) {
      out.count51 = counts51[e];
      kept51 = e;
    }
  }
  if (kept51 >= 0 && out.count51 > threshold51) {
    if (scores) out.score51 = KnownCallScore(scores, table.entries[kept51].scrambledMessage);
    if (!scores || out.score51 > minScore51) {
      out.status = 1;
      CopyCall(table.entries[kept51], out.call);
    } else {
      out.refused = true;
    }
  }
  if (!sign) return out;

  // Correlator237: kept only with a count above 0.
  int kept237 = -1;
  for (int e = 0; e < count; ++e) {
    if (!TakesPart(table.entries[e])) continue;
    if (counts237[e] > out.count237) {
      out.count237 = counts237[e];
      kept237 = e;
    }
  }
  if (kept237 < 0 || out.count237 <= threshold237) return out;

  const ShiftTestResult shift = ShiftTest(PackHardDecisions(sign), table, count, kept237);
  out.shiftCount = shift.count;
  if (out.count237 > shift.count || shift.rival < 0) {
    if (scores) out.score237 = KnownCallScore(scores, table.entries[kept237].scrambledMessage);
    if (!scores || out.score237 > minScore237) {
      out.status = 1;
      CopyCall(table.entries[kept237], out.call);
    } else {
      out.refused = true;
    }
    return out;
  }
  CopyCall(table.entries[kept237], out.call);
  out.status = 0;
  out.ambiguous = true;
  CopyCall(table.entries[shift.rival], out.rival);
  return out;
}

double FalseDecodeProbability(int n, int t) {
  if (n < 0) return 0.0;
  if (t > n) return 0.0;
  if (t <= 0) return 1.0;
  double sum = 1.0;  // the term for t = n
  for (int i = t; i < n; ++i) {
    double c = 1.0;
    for (int k = i + 1; k <= n; ++k) c *= k;
    for (int k = 1; k <= n - i; ++k) c /= k;
    sum += c;
  }
  double p = sum / std::pow(2.0, n);
  if (!std::isfinite(p)) {
    // Far outside the thresholds' ranges the products overflow: form the
    // binomial coefficients by the ratio recurrence instead.
    sum = 1.0;
    double c = 1.0;
    for (int i = n - 1; i >= t; --i) {
      c = c * (i + 1) / (n - i);
      sum += c;
    }
    p = std::min(1.0, std::exp(std::log(sum) - n * std::log(2.0)));
  }
  return p;
}

}  // namespace vs32
