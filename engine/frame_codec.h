// Vesta-32 frame codec: a six-character callsign field becomes 239 on/off line
// symbols and 51 scrambled message bits; a decoded 28-bit information field
// becomes callsign text again.
//
// Layers, inside out: packed callsign (28 bits) + check word (16) + tail check (3),
// four zero bits in front (51-bit message), XOR with a fixed scramble pattern,
// 17 groups of 3 bits -> [7,3] codewords, column-wise chip interleaving,
// Manchester line code with a "11" lead-in, cut to 239 symbols.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vs32 {

inline constexpr int kFrameSymbols = 239;   // line symbols of a frame
inline constexpr int kMessageBits = 51;     // scrambled message bits
inline constexpr int kInfoBits = 28;        // packed callsign bits
inline constexpr int kCheckBits = 19;       // check word (16) + tail check (3)
inline constexpr int kCodewordGroups = 17;  // 3-bit groups of the message
// Packed callsigns of valid fields lie below this (37 × 36 × 10 × 27³).
inline constexpr uint32_t kPackedCallLimit = 262177560;
inline constexpr int kChips = 7;  // chips per codeword

// The fixed scramble pattern, index 0 first.
inline constexpr char kScramblePattern[] = "111000010101011111100110110100000001100100010101011";

// Encodes the first six characters of `text` literally (a shorter text is padded
// with zero bytes; no alignment). `symbols` receives 239 characters '0'/'1' and a
// terminating NUL (240 bytes); `scrambled` receives 51 integers 0/1.
void EncodeFrame(std::string_view text, char symbols[kFrameSymbols + 1],
                 int scrambled[kMessageBits]);

// `info` holds 28 characters '0'/'1' (most significant bit first); `check`
// receives the 16 check-word and 3 tail-check characters (19, no NUL).
void FrameCheckBits(const char info[kInfoBits], char check[kCheckBits]);

// Inverse of the packing: `call` receives at most 6 characters and a NUL (7 bytes).
void UnpackCall(uint32_t packed, char call[7]);

// The callsign's field form as sent on the air: blanks trimmed, letters
// upper-cased, one leading space when the second character is a digit and the
// third is not, cut to six characters and padded with spaces.
// "G4ABC" -> " G4ABC"; "QA1ABC" -> "QA1ABC"; "E73A" -> "E73A  ".
std::string CallsignFieldForm(std::string_view call);

// ---- Helpers on packed values (the decoder works on these) ----

// CRC-16 with polynomial 0x8005, initial value 0, input and result reflected,
// no final XOR. Check value over "123456789": 0xBB3D.
uint16_t Crc16Arc(const char* data, size_t length);

// Packed callsign of the first six characters of `text` (zero bytes when
// shorter), low 28 bits. Characters outside a position's alphabet count with
// their (unsigned) character code.
uint32_t PackCallField(std::string_view text);

// Check word W (16 bits) and tail check T (3 bits) of a 28-bit packed callsign;
// the same bits FrameCheckBits gives for its 28 bit characters.
struct FrameCheck {
  uint16_t word;
  uint8_t tail;
};
FrameCheck FrameCheckFromPacked(uint32_t packed);

// The 51-bit message (before scrambling) of a packed callsign, message bit k at
// bit position 50 - k: zero prefix, N, W, T.
uint64_t PackMessage(uint32_t packed);

// The scramble pattern in the same bit order (bit k at position 50 - k).
uint64_t ScramblePatternBits();

}  // namespace vs32
