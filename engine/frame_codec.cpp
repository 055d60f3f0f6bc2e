// Vesta-32 frame codec. See engine/frame_codec.h for the frame layers.
#include "engine/frame_codec.h"

#include <array>
#include <cctype>

namespace vs32 {

namespace {

// Byte-wise table of the reflected CRC-16 with polynomial 0x8005 (0xA001 reflected).
constexpr std::array<uint16_t, 256> MakeCrcTable() {
  std::array<uint16_t, 256> table{};
  for (int i = 0; i < 256; ++i) {
    uint16_t crc = static_cast<uint16_t>(i);
    for (int k = 0; k < 8; ++k)
      crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    table[i] = crc;
  }
  return table;
}

constexpr std::array<uint16_t, 256> kCrcTable = MakeCrcTable();

constexpr uint16_t CrcStep(uint16_t crc, uint8_t byte) {
  return static_cast<uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ byte) & 0xFF]);
}

// Feeding the bit characters '0'/'1' of a value through the CRC is an affine map
// of (state, bits) over GF(2), so eight bit characters at a time can be done with
// three lookups: the state's low byte, its high byte and the eight bits. The
// tables are built from the byte-wise step above, so the results are identical.
constexpr uint16_t FeedBitChars(uint16_t crc, uint32_t bits, int count) {
  for (int k = count - 1; k >= 0; --k) crc = CrcStep(crc, ((bits >> k) & 1) ? '1' : '0');
  return crc;
}

struct BitCharTables {
  std::array<uint16_t, 256> stateLow{};   // linear part of the state's low byte
  std::array<uint16_t, 256> stateHigh{};  // linear part of the state's high byte
  std::array<uint16_t, 256> bits{};       // eight bit characters from state 0
  std::array<uint16_t, 16> nibble{};      // four bit characters from state 0
};

constexpr BitCharTables MakeBitCharTables() {
  BitCharTables t{};
  const uint16_t affine = FeedBitChars(0, 0, 8);
  for (int i = 0; i < 256; ++i) {
    t.stateLow[i] = static_cast<uint16_t>(FeedBitChars(static_cast<uint16_t>(i), 0, 8) ^ affine);
    t.stateHigh[i] =
        static_cast<uint16_t>(FeedBitChars(static_cast<uint16_t>(i << 8), 0, 8) ^ affine);
    t.bits[i] = FeedBitChars(0, static_cast<uint32_t>(i), 8);
  }
  for (int i = 0; i < 16; ++i) t.nibble[i] = FeedBitChars(0, static_cast<uint32_t>(i), 4);
  return t;
}

constexpr BitCharTables kBitChar = MakeBitCharTables();

inline uint16_t FeedByteOfBitChars(uint16_t crc, uint32_t byte) {
  return static_cast<uint16_t>(kBitChar.stateLow[crc & 0xFF] ^ kBitChar.stateHigh[crc >> 8] ^
                               kBitChar.bits[byte & 0xFF]);
}

// Value of one field character at position `pos`; characters outside the
// position's alphabet keep their character code.
uint32_t FieldValue(int pos, unsigned char ch) {
  const bool letter = ch >= 'A' && ch <= 'Z';
  const bool digit = ch >= '0' && ch <= '9';
  switch (pos) {
    case 0:
      if (ch == ' ') return 0;
      if (letter) return ch - 'A' + 1;
      if (digit) return ch - '0' + 27;
      return ch;
    case 1:
      if (letter) return ch - 'A';
      if (digit) return ch - '0' + 26;
      return ch;
    case 2:
      if (digit) return ch - '0';
      return ch;
    default:
      if (ch == ' ') return 0;
      if (letter) return ch - 'A' + 1;
      return ch;
  }
}

}  // namespace

uint16_t Crc16Arc(const char* data, size_t length) {
  uint16_t crc = 0;
  for (size_t i = 0; i < length; ++i) crc = CrcStep(crc, static_cast<uint8_t>(data[i]));
  return crc;
}

uint32_t PackCallField(std::string_view text) {
  // Unsigned arithmetic wraps like the 32-bit signed sum would (two's
  // complement), and only the low 28 bits are sent.
  static constexpr uint32_t kRadix[6] = {1, 36, 10, 27, 27, 27};
  uint32_t n = 0;
  for (int pos = 0; pos < 6; ++pos) {
    const unsigned char ch = pos < static_cast<int>(text.size()) ? text[pos] : 0;
    n = n * kRadix[pos] + FieldValue(pos, ch);
  }
  return n & 0x0FFFFFFFu;
}

FrameCheck FrameCheckFromPacked(uint32_t packed) {
  const uint32_t n = packed & 0x0FFFFFFFu;
  uint16_t crc = kBitChar.nibble[n >> 24];
  crc = FeedByteOfBitChars(crc, n >> 16);
  crc = FeedByteOfBitChars(crc, n >> 8);
  crc = FeedByteOfBitChars(crc, n);
  uint32_t low = crc & 0xFFu;
  uint32_t high = crc >> 8;
  if (low == 0) low = 27;
  if (high == 0) high = 43;
  const uint16_t word = static_cast<uint16_t>(low * 256 + high);
  // The second CRC runs over the same 28 characters followed by the check word,
  // so it continues from the first one.
  crc = FeedByteOfBitChars(crc, word >> 8);
  crc = FeedByteOfBitChars(crc, word);
  uint32_t high2 = crc >> 8;
  if (high2 == 0) high2 = 43;
  return FrameCheck{word, static_cast<uint8_t>(high2 & 7)};
}

void FrameCheckBits(const char info[kInfoBits], char check[kCheckBits]) {
  // Literal form: the CRC runs over the characters themselves. The decoder uses
  // FrameCheckFromPacked, which gives the same bits for '0'/'1' characters.
  char text[kInfoBits + 16];
  for (int i = 0; i < kInfoBits; ++i) text[i] = info[i];
  const uint16_t c1 = Crc16Arc(text, kInfoBits);
  uint32_t low = c1 & 0xFFu;
  uint32_t high = c1 >> 8;
  if (low == 0) low = 27;
  if (high == 0) high = 43;
  const uint32_t word = low * 256 + high;
  for (int i = 0; i < 16; ++i) text[kInfoBits + i] = ((word >> (15 - i)) & 1) ? '1' : '0';
  uint32_t high2 = static_cast<uint32_t>(Crc16Arc(text, kInfoBits + 16) >> 8);
  if (high2 == 0) high2 = 43;
  const uint32_t tail = high2 & 7;
  for (int i = 0; i < 16; ++i) check[i] = text[kInfoBits + i];
  for (int i = 0; i < 3; ++i) check[16 + i] = ((tail >> (2 - i)) & 1) ? '1' : '0';
}

uint64_t PackMessage(uint32_t packed) {
  const uint32_t n = packed & 0x0FFFFFFFu;
  const FrameCheck fc = FrameCheckFromPacked(n);
  return (static_cast<uint64_t>(n) << 19) | (static_cast<uint64_t>(fc.word) << 3) | fc.tail;
}

uint64_t ScramblePatternBits() {
  uint64_t bits = 0;
  for (int k = 0; k < kMessageBits; ++k) bits = (bits << 1) | (kScramblePattern[k] == '1' ? 1 : 0);
  return bits;
}

void EncodeFrame(std::string_view text, char symbols[kFrameSymbols + 1],
                 int scrambled[kMessageBits]) {
  const uint64_t message = PackMessage(PackCallField(text));
  const uint64_t bits = message ^ ScramblePatternBits();
  for (int k = 0; k < kMessageBits; ++k) scrambled[k] = static_cast<int>((bits >> (50 - k)) & 1);

  // Codeword chip p-1 of group value v is the parity of (p AND v).
  int pos = 0;
  symbols[pos++] = '1';
  symbols[pos++] = '1';
  for (int j = 0; j < kChips; ++j) {
    for (int g = 0; g < kCodewordGroups; ++g) {
      const int v = scrambled[3 * g] * 4 + scrambled[3 * g + 1] * 2 + scrambled[3 * g + 2];
      const int chip = __builtin_parity(static_cast<unsigned>((j + 1) & v));
      symbols[pos++] = chip ? '0' : '1';
      if (pos < kFrameSymbols) symbols[pos++] = chip ? '1' : '0';
    }
  }
  symbols[kFrameSymbols] = '\0';
}

void UnpackCall(uint32_t packed, char call[7]) {
  uint32_t n = packed;
  const uint32_t c5 = n % 27;
  n /= 27;
  const uint32_t c4 = n % 27;
  n /= 27;
  const uint32_t c3 = n % 27;
  n /= 27;
  const uint32_t c2 = n % 10;
  n /= 10;
  const uint32_t c1 = n % 36;
  n /= 36;
  const uint32_t c0 = n % 37;

  call[0] = c0 == 0
                ? ' '
                : (c0 <= 26 ? static_cast<char>('A' + c0 - 1) : static_cast<char>('0' + c0 - 27));
  call[1] = c1 <= 25 ? static_cast<char>('A' + c1) : static_cast<char>('0' + c1 - 26);
  call[2] = static_cast<char>('0' + c2);
  const uint32_t suffix[3] = {c3, c4, c5};
  for (int i = 0; i < 3; ++i)
    call[3 + i] = suffix[i] == 0 ? '\0' : static_cast<char>('A' + suffix[i] - 1);
  call[6] = '\0';
  if (call[0] == ' ') {
    for (int i = 0; i < 6; ++i) call[i] = call[i + 1];
  }
}

std::string CallsignFieldForm(std::string_view call) {
  size_t begin = 0, end = call.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(call[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(call[end - 1]))) --end;
  std::string text(call.substr(begin, end - begin));
  for (char& ch : text) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  auto isDigit = [&](size_t i) { return i < text.size() && text[i] >= '0' && text[i] <= '9'; };
  if (isDigit(1) && !isDigit(2)) text.insert(text.begin(), ' ');
  text.resize(6, ' ');
  return text;
}

}  // namespace vs32
