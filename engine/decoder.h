// Soft decoder: turns the power histories of one channel and its two neighbours
// into a callsign. Demodulates the 17 [7,3] codewords with a small timing search
// per chip, checks the check word of the best bits, optionally tries a list of
// candidates built from the runner-up codewords (Deep / Ultra Deep) or the
// best-first list over whole messages (engine/list_decoder.h), and finally the
// correlation with the frames of known callsigns (engine/correlator.h).
//
// Every call is independent; nothing is allocated.
#pragma once

#include <cstdint>

#include "engine/frame_codec.h"
#include "engine/known_calls.h"
#include "engine/receiver_events.h"

namespace vs32 {

class ListDecoder;

using DecodeStatus = int;  // 0 no decode, 1 check word ok / correlation match, 2 full

inline constexpr int kHistoryLength = 963;  // entries per channel history (961 used)
inline constexpr int kDecoderSpan = 952;    // history indices 0 ... 951 are read

struct DecoderOptions {
  bool useCorrelator = true;
  int correlator51Threshold = 45;    // accepted above this many agreements of 51
  int correlator237Threshold = 159;  // accepted above this many agreements of 237
  // A correlator match counts only when the codeword scores back the matched
  // call (KnownCallScore in engine/correlator.h); off: the plain correlators.
  bool correlatorSecondOpinion = true;
  const KnownCallTable* knownCalls = nullptr;
  bool historyHalfFull = false;  // the correlation stages run only when set
  // Frame validity: a candidate counts only with its four zero-prefix bits clear
  // and a packed callsign a valid field can give (N < kPackedCallLimit). Off:
  // only the check word and tail check decide.
  bool strictFrameCheck = true;
  // No single-attempt or list decoding before historyHalfFull: no frame can be
  // complete in a window that is still half zeros. The receive chain sets it
  // from the settings; a caller without a warm-up leaves it off.
  bool decodeAfterWarmup = false;
  ReceiverEvents* events = nullptr;  // receives the ambiguity text "%s or %s?"
  // Depth 3: the caller's list workspace (one per thread); whether every
  // history entry read is real audio (a run's first 961 ticks are not); the
  // Eb/No of the best codewords (dB) above which the list is searched.
  ListDecoder* listDecoder = nullptr;
  bool historyFull = false;
  double listThreshold = 5.2;
};

// What DecodeFrame found in one window.
struct DecodeResult {
  DecodeStatus status = 0;
  char call[8] = {};      // at most 6 characters and a NUL when the status is 1 or 2
  float ebNoDb = -99.0f;  // dB, -99 when there is no decode
  int attempts = 0;       // candidates tried (or the list position of the decode)
};

// Decodes one window. `centre`, `lower`, `upper`: power histories, oldest first,
// index 0 = first sample of symbol 2; indices 0 ... 951 are read. A null
// neighbour is read as the centre history (the centre wins ties anyway).
// `sign`: hard decisions (+1/-1) of the centre channel, indices 0 ... 944; may be
// null, which leaves out the symbol correlation. `depth`: 0 single attempt,
// 1 Deep, 2 Ultra Deep, 3 best-first list (values outside are clamped). Depth 3 searches the list
// when `options.listDecoder` is set, `historyFull` is set and the Eb/No of the best codewords is
// above `listThreshold`, and otherwise tries only the best codewords; its decodes are status 2 with
// `attempts` = the list position, and need the zero prefix and a packed callsign in range whatever
// `strictFrameCheck` says. Without a workspace depth 3 runs as depth 2.
DecodeResult DecodeFrame(const float* centre, const float* lower, const float* upper,
                         const int8_t* sign, int depth, const DecoderOptions& options);

// ---- Pieces of the decoder, exposed for tests and tools ----

// Codeword decisions of one window.
struct Demodulation {
  float scores[kCodewordGroups][8];  // score of every codeword candidate per group
  int best[kCodewordGroups];         // best codeword index per group
  int runnerUp[kCodewordGroups];     // the best before the final best took over
  float bestScore[kCodewordGroups];
  float bestEnergy[kCodewordGroups];
  float s;                // sum of the best scores, group order
  float e;                // sum of the best energies, group order
  uint64_t bestBits;      // scrambled, message bit k at bit position 50 - k
  uint64_t runnerUpBits;  // same layout
};

void Demodulate(const float* centre, const float* lower, const float* upper, Demodulation* out);

// Status of a descrambled 51-bit candidate (bit k at position 50 - k):
// 2 check word and tail check agree, 1 only the check word, 0 otherwise.
// `strict`: also 0 unless ValidCallFields().
DecodeStatus CheckCandidate(uint64_t descrambled, bool strict = false);

// True when message bits 0 ... 3 of the descrambled candidate are zero and its
// packed callsign is below kPackedCallLimit: what every real frame carries.
bool ValidCallFields(uint64_t descrambled);

// Candidate search over the list of the given depth.
struct SearchResult {
  DecodeStatus status;  // status of the last candidate tried
  uint64_t candidate;   // the last candidate tried (descrambled)
  int attempts;         // as reported (1; up to 19; up to 155, or 157 after the last pair)
};
SearchResult SearchCandidates(uint64_t bestDescrambled, uint64_t runnerUpDescrambled, int depth,
                              bool strict = false);

// 10 * log10(2S / (E - S)), or -99 when S = 0, E <= S or the result is not finite.
float EbNoDb(float s, float e);

}  // namespace vs32
