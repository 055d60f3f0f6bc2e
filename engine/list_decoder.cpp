// Best-first list decoding. See engine/list_decoder.h.
#include "engine/list_decoder.h"

#include <algorithm>
#include <array>
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
  if ((descrambled >> 47) != 0) return false;
  const uint32_t packed = static_cast<uint32_t>((descrambled >> 19) & 0x0FFFFFFFu);
  return packed < kPackedCallLimit && CheckCandidate(descrambled) == 2;
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

ListDecoder::ListDecoder(int listSize)
    : size_(std::clamp(listSize, kMinListSize, kMaxListSize)), cap_(size_ + 1) {
  for (auto& half : buffers_) {
    for (auto& buffer : half) buffer.resize(static_cast<size_t>(cap_));
  }
  heap_.resize(static_cast<size_t>(cap_) + 1);
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

// The cap_ smallest partial messages of groups first ... last, sorted by loss
// (earlier entries first on ties). Group by group: the list so far with the
// best codeword (loss 0) is the list itself; each further codeword's copy of
// the list, shifted by its loss, is merged in from the back, and only as far
// as it still reaches below the current end of a full list.
int ListDecoder::BuildHalf(const Prepared& p, int first, int last, int half) {
  Entry* cur = buffers_[half][0].data();
  Entry* out = buffers_[half][1].data();
  cur[0] = Entry{0.0, 0};
  int n = 1;
  for (int g = first; g <= last; ++g) {
    std::memcpy(out, cur, sizeof(Entry) * static_cast<size_t>(n));
    int nOut = n;
    for (int r = 1; r < 8; ++r) {
      const double l = p.loss[g][r];
      if (nOut == cap_ && !(cur[0].loss + l < out[cap_ - 1].loss)) break;
      const int nNew = std::min(cap_, nOut + n);
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
  return n;
}

// Visits the messages in order of loss (ties: the lower row of the first half
// first) until `visit` returns false or the list runs out. visit(position,
// loss, scrambled bits, syndrome).
template <typename Visit>
void ListDecoder::Walk(const Prepared& p, Visit&& visit) {
  BuildHalf(p, 0, kHalfEnd[0], 0);
  BuildHalf(p, kHalfEnd[0] + 1, kHalfEnd[1], 1);
  const Entry* a = half_[0];
  const Entry* b = half_[1];
  const int rows = halfLength_[0];
  const int columns = halfLength_[1];
  constexpr int kFirstHalfShift = 48 - 3 * kHalfEnd[0];

  auto before = [](const HeapItem& x, const HeapItem& y) {
    return x.sum < y.sum || (x.sum == y.sum && x.row < y.row);
  };
  // A min-heap: std::push_heap keeps the greatest under the ordering at the top.
  auto after = [&before](const HeapItem& x, const HeapItem& y) { return before(y, x); };
  HeapItem* heap = heap_.data();
  int size = 0;
  heap[size++] = HeapItem{a[0].loss + b[0].loss, 0, 0};
  for (int position = 1; size > 0; ++position) {
    std::pop_heap(heap, heap + size, after);
    const HeapItem top = heap[--size];
    const uint64_t pa = a[top.row].packed;
    const uint64_t pb = b[top.column].packed;
    const uint64_t scrambled =
        p.baseScrambled ^ ((pa >> kSyndromeBits) << kFirstHalfShift) ^ (pb >> kSyndromeBits);
    const uint32_t syndrome = static_cast<uint32_t>((p.baseSyndrome ^ pa ^ pb) & kSyndromeMask);
    if (!visit(position, top.sum, scrambled, syndrome)) return;
    if (top.column + 1 < columns) {
      heap[size++] = HeapItem{a[top.row].loss + b[top.column + 1].loss, top.row, top.column + 1};
      std::push_heap(heap, heap + size, after);
    }
    if (top.column == 0 && top.row + 1 < rows) {
      heap[size++] = HeapItem{a[top.row + 1].loss + b[0].loss, top.row + 1, 0};
      std::push_heap(heap, heap + size, after);
    }
  }
}

namespace {

bool FiniteScores(const float scores[kCodewordGroups][8]) {
  for (int g = 0; g < kGroups; ++g) {
    for (int v = 0; v < 8; ++v) {
      if (!std::isfinite(scores[g][v])) return false;
    }
  }
  return true;
}

// Where the list ends: the K-th loss and whether the (K + 1)-th ties with it.
struct ListEnd {
  double lastLoss = 0;  // loss at the last position visited within K
  int firstOfLast = 0;  // first position with that loss
  int visited = 0;      // positions visited within K
  bool tied = false;    // the (K + 1)-th message has the same loss
  int Length(int k) const { return tied ? firstOfLast - 1 : std::min(visited, k); }
};

}  // namespace

ListOutcome ListDecoder::Search(const float scores[kCodewordGroups][8]) {
  ListOutcome outcome;
  if (!FiniteScores(scores)) return outcome;
  Prepared p;
  Prepare(scores, &p);
  const uint64_t pattern = ScramblePatternBits();
  ListEnd end;
  bool ambiguous = false;
  Walk(p, [&](int position, double loss, uint64_t scrambled, uint32_t syndrome) {
    if (position > size_) {
      end.tied = loss == end.lastLoss;
      return false;
    }
    if (position == 1 || loss != end.lastLoss) {
      // Every later message has a larger loss than a frame already found.
      if (outcome.found) return false;
      end.lastLoss = loss;
      end.firstOfLast = position;
    }
    end.visited = position;
    if (SyndromePasses(syndrome) && ValidFrame(scrambled ^ pattern)) {
      if (outcome.found) {
        ambiguous = true;  // another valid frame of the same loss
      } else {
        outcome.found = true;
        outcome.message = scrambled ^ pattern;
        outcome.position = end.firstOfLast;
        outcome.loss = loss;
      }
    }
    return true;
  });
  if (outcome.found && (ambiguous || (end.tied && outcome.loss == end.lastLoss))) {
    outcome = ListOutcome{};
    outcome.length = end.Length(size_);
    return outcome;
  }
  if (!outcome.found) outcome.length = end.Length(size_);
  return outcome;
}

int ListDecoder::List(const float scores[kCodewordGroups][8], ListEntry* out, int capacity) {
  if (!FiniteScores(scores)) return 0;
  Prepared p;
  Prepare(scores, &p);
  ListEnd end;
  Walk(p, [&](int position, double loss, uint64_t scrambled, uint32_t) {
    if (position > size_) {
      end.tied = loss == end.lastLoss;
      return false;
    }
    if (position == 1 || loss != end.lastLoss) {
      end.lastLoss = loss;
      end.firstOfLast = position;
    }
    end.visited = position;
    if (position <= capacity) out[position - 1] = ListEntry{scrambled, loss};
    return true;
  });
  return std::min(end.Length(size_), capacity);
}

}  // namespace vs32
