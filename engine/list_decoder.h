// Best-first list decoding over whole messages.
//
// The demodulator scores all 8 codewords of each of the 17 groups. A message
// is one codeword per group; its loss is the sum over the groups of (the
// group's highest score - the chosen codeword's score), so the message of the
// best codewords has loss 0. The list holds the K messages of smallest loss,
// in order, and the first of them that is a valid frame is the decode.
//
// Enumeration meets in the middle. Each half of the groups keeps its smallest
// partial messages, sorted, built group by group with merges; the number of
// message pairs up to a loss is then counted with one binary search per entry
// of the shorter half. A bisection on that count finds the K-th loss, and the
// list is every pair up to it. The halves need only as many entries as reach
// that loss (about the square root of K when both halves share the spread),
// so they start short and double until they provably hold the whole list.
//
// Screening: the check word, the tail check and the zero prefix are an affine
// function over GF(2) of the 51 message bits (the check CRCs run over fixed-
// length text whose characters are '0' + bit), apart from the substitutions of
// zero CRC bytes. Each codeword of each group therefore contributes a fixed
// 23-bit term to a syndrome; a candidate whose syndrome lies outside the few
// patterns a valid frame can show is dropped with one XOR, and only the rare
// rest meet the exact check (ValidFrame).
//
// Ties: when the K-th and the (K + 1)-th message have the same loss, every
// message of that loss is left out of the list (whether it belongs in is a
// matter of tie order, and during warm-up whole groups score 0 and tie).
#pragma once

#include <cstdint>
#include <vector>

#include "engine/frame_codec.h"

namespace vs32 {

inline constexpr int kMinListSize = 1;
inline constexpr int kMaxListSize = 65536;
inline constexpr int kDefaultListSize = 4096;

// A valid frame (descrambled, bit k at position 50 - k): check word and tail
// check agree, the four prefix bits are zero and the packed callsign is in range.
bool ValidFrame(uint64_t descrambled);

// The screen on scrambled bits (group g's codeword at bits 48 - 3g ... 50 - 3g),
// through the per-group tables. Passes every valid frame and about one random
// message in 8192.
bool PassesListScreen(uint64_t scrambled);

// One entry of the list (for tests and tools).
struct ListEntry {
  uint64_t scrambled;  // one codeword per group, as in Demodulation::bestBits
  double loss;         // >= 0
};

struct ListOutcome {
  bool found = false;    // a valid frame was in the list (and tied with no other)
  uint64_t message = 0;  // its descrambled bits, when found
  int position = 0;      // 1-based: 1 + the number of messages of smaller loss
  double loss = 0;       // its loss
  int length = 0;        // messages in the list when nothing was found (K, or
                         // fewer when a tie at the end was left out)
};

// The workspace of one list size. Construction allocates it (64 × K bytes,
// 4 MB at the largest K) and builds the shared tables on first use; Search
// and List allocate nothing. One object per thread: the calls write the
// workspace. The tables are shared and read-only once built.
class ListDecoder {
 public:
  // `listSize`: K, clamped to kMinListSize ... kMaxListSize.
  explicit ListDecoder(int listSize);

  int listSize() const { return size_; }

  // Searches the list of `scores` (Demodulation::scores: every codeword's
  // score per group, >= 0) and returns the valid frame of smallest loss. A
  // valid frame that ties in loss with another valid frame is refused.
  ListOutcome Search(const float scores[kCodewordGroups][8]);

  // Writes the list itself in order of loss (ties in a fixed but unspecified
  // order) into `out`, which holds at least listSize() entries, and returns its
  // length (0 when `out` is too small).
  int List(const float scores[kCodewordGroups][8], ListEntry* out, int capacity);

 private:
  struct Entry {
    double loss;
    uint64_t packed;  // syndrome term (low 23 bits) and the half's codeword changes
  };
  struct Prepared;
  struct Bounds;

  void Prepare(const float scores[kCodewordGroups][8], Prepared* p);
  void BuildHalf(const Prepared& p, int half, int cap);
  template <bool kStrict>
  long Count(double loss, long limit) const;
  bool FindBounds(const float scores[kCodewordGroups][8], Prepared* p, Bounds* bounds);
  template <typename Visit>
  void ForEach(const Prepared& p, const Bounds& bounds, Visit&& visit) const;

  int size_;
  int cap_;  // K + 1: enough to tell whether the K-th place is tied
  std::vector<Entry> buffers_[2][2];
  const Entry* half_[2] = {nullptr, nullptr};
  int halfLength_[2] = {0, 0};
};

}  // namespace vs32
