// Best-first list decoding. See engine/list_decoder.h.
#include "engine/list_decoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/decoder.h"

namespace vs32 {

namespace {

constexpr int kGroups = kCodewordGroups;
constexpr int kHalfEnd[2] = {8, 16};  // last group of each half; the first starts at 0
constexpr int kSyndromeBits = 23;
constexpr uint64_t kSyndromeMask = (uint64_t{1} << kSyndromeBits) - 1;

// Syndrome layout, which mirrors the message's own: the four prefix bits at
// 19 ... 22, (check word XOR the check word computed before its zero bytes are
// substituted) at 3 ... 18, (tail check XOR the unsubstituted tail) at 0 ... 2.
// A valid frame shows zero except where a substitution can act: a zero low CRC
// byte sent as 27, a zero high byte sent as 43, a zero tail byte sent as 3.
constexpr uint32_t kSubstitutionBits = ((27u << 8 | 43u) << 3) | 3u;

// The syndrome computed straight from its definition, on the character form
// the check CRCs read. Only used to build the tables.
uint32_t DirectSyndrome(uint64_t descrambled) {
  char text[kInfoBits + 16];
  for (int i = 0; i < kInfoBits; ++i) text[i] = ((descrambled >> (46 - i)) & 1) ? '1' : '0';
  const uint16_t c1 = Crc16Arc(text, kInfoBits);
  const uint32_t unsubstituted = ((c1 & 0xFFu) << 8) | (c1 >> 8u);
  const uint32_t word = static_cast<uint32_t>((descrambled >> 3) & 0xFFFF);
  for (int i = 0; i < 16; ++i) text[kInfoBits + i] = ((word >> (15 - i)) & 1) ? '1' : '0';
  const uint32_t tail = static_cast<uint32_t>(Crc16Arc(text, kInfoBits + 16) >> 8) & 7u;
  const uint32_t prefix = static_cast<uint32_t>(descrambled >> 47) & 0xFu;
  return prefix << 19 | (word ^ unsubstituted) << 3 | ((descrambled & 7u) ^ tail);
}

// Per group and scrambled codeword, its linear term of the syndrome; and the
// syndrome of the all-zero scrambled message (the scramble pattern's).
struct ScreenTables {
  uint32_t term[kGroups][8];
  uint32_t constant;

  ScreenTables() {
    const uint64_t pattern = ScramblePatternBits();
    constant = DirectSyndrome(pattern);
    uint32_t bit[kMessageBits];
    for (int p = 0; p < kMessageBits; ++p) {
      bit[p] = DirectSyndrome(pattern ^ (uint64_t{1} << p)) ^ constant;
    }
    for (int g = 0; g < kGroups; ++g) {
      for (int v = 0; v < 8; ++v) {
        uint32_t t = 0;
        for (int b = 0; b < 3; ++b) {
          if ((v >> b) & 1) t ^= bit[48 - 3 * g + b];
        }
        term[g][v] = t;
      }
    }
  }
};

const ScreenTables& Tables() {
  static const ScreenTables tables;
  return tables;
}

bool SyndromePasses(uint32_t syndrome) {
  return (syndrome & ~kSubstitutionBits) == 0;
}

}  // namespace

bool ValidFrame(uint64_t descrambled) {
  return CheckCandidate(descrambled, true) == 2;
}

bool PassesListScreen(uint64_t scrambled) {
  const ScreenTables& t = Tables();
  uint32_t s = t.constant;
  for (int g = 0; g < kGroups; ++g) s ^= t.term[g][(scrambled >> (48 - 3 * g)) & 7];
  return SyndromePasses(s);
}

// Per group, the codewords in order of loss, and what choosing each one
// changes relative to the group's best: its loss, and its packed term (the
// syndrome change and the codeword change at the group's place in its half).
struct ListDecoder::Prepared {
  double loss[kGroups][8];
  uint64_t delta[kGroups][8];
  uint64_t baseScrambled;  // the best codeword of every group
  uint32_t baseSyndrome;
};

// Where the list ends: the K-th loss, and whether the (K + 1)-th ties with it
// (the list then stops below that loss).
struct ListDecoder::Bounds {
  double limit = 0;  // the list is every message of loss <= limit (or < when tied)
  bool tied = false;
  long length = 0;
};

ListDecoder::ListDecoder(int listSize)
    : size_(std::clamp(listSize, kMinListSize, kMaxListSize)), cap_(size_ + 1) {
  for (auto& half : buffers_) {
    for (auto& buffer : half) buffer.resize(static_cast<size_t>(cap_));
  }
  Tables();
}

void ListDecoder::Prepare(const float scores[kCodewordGroups][8], Prepared* p) {
  const ScreenTables& t = Tables();
  p->baseScrambled = 0;
  p->baseSyndrome = t.constant;
  for (int g = 0; g < kGroups; ++g) {
    const int halfEnd = g <= kHalfEnd[0] ? kHalfEnd[0] : kHalfEnd[1];
    float top = scores[g][0];
    for (int v = 1; v < 8; ++v) top = std::max(top, scores[g][v]);
    double loss[8];
    int order[8];
    for (int v = 0; v < 8; ++v) {
      loss[v] = static_cast<double>(top) - static_cast<double>(scores[g][v]);
      order[v] = v;
    }
    // Insertion sort by loss, codeword index breaking ties.
    for (int i = 1; i < 8; ++i) {
      const int v = order[i];
      int k = i;
      for (; k > 0 && loss[order[k - 1]] > loss[v]; --k) order[k] = order[k - 1];
      order[k] = v;
    }
    const int best = order[0];
    p->baseScrambled |= static_cast<uint64_t>(best) << (48 - 3 * g);
    p->baseSyndrome ^= t.term[g][best];
    for (int r = 0; r < 8; ++r) {
      const int v = order[r];
      const uint64_t change = static_cast<uint64_t>(v ^ best) << (3 * (halfEnd - g));
      p->loss[g][r] = loss[v];
      p->delta[g][r] = (change << kSyndromeBits) | (t.term[g][v] ^ t.term[g][best]);
    }
  }
}

// The `cap` smallest partial messages of one half, sorted by loss (earlier
// entries first on ties). Group by group: the list so far with the best
// codeword (loss 0) is the list itself; each further codeword's copy of the
// list, shifted by its loss, is merged in from the back, and only as far as it
// still reaches below the current end of a full list.
void ListDecoder::BuildHalf(const Prepared& p, int half, int cap) {
  const int first = half == 0 ? 0 : kHalfEnd[0] + 1;
  const int last = kHalfEnd[half];
  Entry* cur = buffers_[half][0].data();
  Entry* out = buffers_[half][1].data();
  cur[0] = Entry{0.0, 0};
  int n = 1;
  for (int g = first; g <= last; ++g) {
    std::memcpy(out, cur, sizeof(Entry) * static_cast<size_t>(n));
    int nOut = n;
    for (int r = 1; r < 8; ++r) {
      const double l = p.loss[g][r];
      if (nOut == cap && !(cur[0].loss + l < out[cap - 1].loss)) break;
      const int nNew = std::min(cap, nOut + n);
      // How many of the shifted copy make the first nNew: the largest b whose
      // last taken entry is below the first existing entry left out.
      int lo = std::max(0, nNew - nOut), hi = std::min(nNew, n);
      while (lo < hi) {
        const int mid = (lo + hi + 1) / 2;
        const int a = nNew - mid;
        if (a == nOut || cur[mid - 1].loss + l < out[a].loss) {
          lo = mid;
        } else {
          hi = mid - 1;
        }
      }
      const uint64_t delta = p.delta[g][r];
      int i = nNew - lo - 1;
      int k = nNew - 1;
      for (int j = lo - 1; j >= 0; --k) {
        const double y = cur[j].loss + l;
        if (i >= 0 && out[i].loss > y) {
          out[k] = out[i--];
        } else {
          out[k] = Entry{y, cur[j].packed ^ delta};
          --j;
        }
      }
      nOut = nNew;
    }
    std::swap(cur, out);
    n = nOut;
  }
  half_[half] = cur;
  halfLength_[half] = n;
}

// Pairs of the two halves with a + b <= loss (kStrict: < loss), counted up to
// `limit` (the count returned may stop anywhere above it). For each entry of the
// first half, in order, the entries of the second half within reach only shrink.
template <bool kStrict>
long ListDecoder::Count(double loss, long limit) const {
  const Entry* a = half_[0];
  const Entry* b = half_[1];
  int reach = halfLength_[1];
  auto within = [loss](double sum) { return kStrict ? sum < loss : sum <= loss; };
  long count = 0;
  for (int i = 0; i < halfLength_[0]; ++i) {
    const double x = a[i].loss;
    while (reach > 0 && !within(x + b[reach - 1].loss)) --reach;
    if (reach == 0) break;
    count += reach;
    if (count > limit) break;
  }
  return count;
}

// Builds the halves long enough to hold the whole list and finds where it ends.
// Halves cut short suffice once the pairs up to T = the smaller of their last
// losses number more than K: every pair left out reaches at least T, and the
// list ends at or below T (at T only when that loss is tied, and then the list
// stops below it).
bool ListDecoder::FindBounds(const float scores[kCodewordGroups][8], Prepared* p, Bounds* bounds) {
  for (int g = 0; g < kGroups; ++g) {
    for (int v = 0; v < 8; ++v) {
      if (!std::isfinite(scores[g][v])) return false;
    }
  }
  Prepare(scores, p);
  const long k = size_;
  const int start = std::min(cap_, std::max(16, 8 * static_cast<int>(std::sqrt(double(k)))));
  int cap[2] = {start, start};
  BuildHalf(*p, 0, cap[0]);
  BuildHalf(*p, 1, cap[1]);
  double top = 0;
  for (;;) {
    const double last[2] = {half_[0][halfLength_[0] - 1].loss, half_[1][halfLength_[1] - 1].loss};
    top = std::min(last[0], last[1]);
    if (Count<false>(top, k) > k) break;
    // Only a half that ends at T holds the list back; a half of K + 1
    // entries that does always suffices.
    bool grown = false;
    for (int h = 0; h < 2; ++h) {
      if (last[h] == top && cap[h] < cap_) {
        cap[h] = std::min(cap_, 2 * cap[h]);
        BuildHalf(*p, h, cap[h]);
        grown = true;
      }
    }
    if (!grown) break;
  }
  // The K-th loss: the smallest loss with at least K pairs up to it, by
  // bisection over the ordered bit patterns of non-negative doubles.
  auto bits = [](double x) {
    uint64_t u;
    std::memcpy(&u, &x, sizeof u);
    return u;
  };
  auto value = [](uint64_t u) {
    double x;
    std::memcpy(&x, &u, sizeof x);
    return x;
  };
  uint64_t hi = bits(top);
  if (Count<false>(0.0, k) >= k) {
    hi = bits(0.0);
  } else {
    uint64_t lo = bits(0.0);
    while (hi - lo > 1) {
      const uint64_t mid = lo + (hi - lo) / 2;
      if (Count<false>(value(mid), k) >= k) {
        hi = mid;
      } else {
        lo = mid;
      }
    }
  }
  bounds->limit = value(hi);
  bounds->tied = Count<false>(bounds->limit, k) > k;
  bounds->length = bounds->tied ? Count<true>(bounds->limit, k) : k;
  return true;
}

// Calls visit(loss, scrambled bits, syndrome) for every message of the list,
// in no particular order.
template <typename Visit>
void ListDecoder::ForEach(const Prepared& p, const Bounds& bounds, Visit&& visit) const {
  constexpr int kFirstHalfShift = 48 - 3 * kHalfEnd[0];
  const Entry* a = half_[0];
  const Entry* b = half_[1];
  const double limit = bounds.limit;
  const bool strict = bounds.tied;
  for (int i = 0; i < halfLength_[0]; ++i) {
    const uint64_t pa = a[i].packed;
    const uint64_t scrambledA = p.baseScrambled ^ ((pa >> kSyndromeBits) << kFirstHalfShift);
    const uint64_t syndromeA = p.baseSyndrome ^ pa;
    int j = 0;
    for (; j < halfLength_[1]; ++j) {
      const double sum = a[i].loss + b[j].loss;
      if (strict ? !(sum < limit) : !(sum <= limit)) break;
      const uint64_t pb = b[j].packed;
      visit(sum, scrambledA ^ (pb >> kSyndromeBits),
            static_cast<uint32_t>((syndromeA ^ pb) & kSyndromeMask));
    }
    if (j == 0) break;
  }
}

ListOutcome ListDecoder::Search(const float scores[kCodewordGroups][8]) {
  ListOutcome outcome;
  Prepared p;
  Bounds bounds;
  if (!FindBounds(scores, &p, &bounds)) return outcome;
  const uint64_t pattern = ScramblePatternBits();
  int sameLoss = 0;  // valid frames at the smallest loss found
  ForEach(p, bounds, [&](double loss, uint64_t scrambled, uint32_t syndrome) {
    if (!SyndromePasses(syndrome)) return;
    if (outcome.found && loss > outcome.loss) return;
    const uint64_t message = scrambled ^ pattern;
    if (!ValidFrame(message)) return;
    if (!outcome.found || loss < outcome.loss) {
      outcome.found = true;
      outcome.message = message;
      outcome.loss = loss;
      sameLoss = 1;
    } else {
      ++sameLoss;
    }
  });
  if (!outcome.found || sameLoss > 1) {
    outcome = ListOutcome{};
    outcome.length = static_cast<int>(bounds.length);
    return outcome;
  }
  outcome.position = static_cast<int>(Count<true>(outcome.loss, size_)) + 1;
  return outcome;
}

int ListDecoder::List(const float scores[kCodewordGroups][8], ListEntry* out, int capacity) {
  Prepared p;
  Bounds bounds;
  if (capacity < size_ || !FindBounds(scores, &p, &bounds)) return 0;
  int n = 0;
  ForEach(p, bounds, [&](double loss, uint64_t scrambled, uint32_t) {
    if (n < capacity) out[n++] = ListEntry{scrambled, loss};
  });
  std::sort(out, out + n, [](const ListEntry& x, const ListEntry& y) {
    return x.loss < y.loss || (x.loss == y.loss && x.scrambled < y.scrambled);
  });
  return n;
}

}  // namespace vs32
