// Frame codec: packing, check bits, scrambling, block code, interleaving, line code.
#include "engine/frame_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

namespace vs32 {
namespace {

std::string Bits(uint32_t value, int count) {
  std::string s;
  for (int k = count - 1; k >= 0; --k) s += ((value >> k) & 1) ? '1' : '0';
  return s;
}

std::string Join(const int* bits, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += static_cast<char>('0' + bits[i]);
  return s;
}

struct Encoded {
  std::string symbols;
  std::string scrambled;
};

Encoded Encode(std::string_view field) {
  char symbols[kFrameSymbols + 1];
  int scrambled[kMessageBits];
  EncodeFrame(field, symbols, scrambled);
  return {symbols, Join(scrambled, kMessageBits)};
}

std::string CheckBits(const std::string& info) {
  char check[kCheckBits];
  FrameCheckBits(info.data(), check);
  return std::string(check, kCheckBits);
}

std::string Unpack(uint32_t n) {
  char call[7];
  UnpackCall(n, call);
  return call;
}

// A second encoder written from the codeword table and the line-code rule, to
// catch faults in the chip order or the interleaving.
std::string ReferenceSymbols(const std::string& scrambled) {
  static const char* kCodewords[8] = {"0000000", "1010101", "0110011", "1100110",
                                      "0001111", "1011010", "0111100", "1101001"};
  std::string stream;
  for (int j = 0; j < 7; ++j) {
    for (int g = 0; g < 17; ++g) {
      const int v = (scrambled[3 * g] - '0') * 4 + (scrambled[3 * g + 1] - '0') * 2 +
                    (scrambled[3 * g + 2] - '0');
      stream += kCodewords[v][j];
    }
  }
  std::string symbols = "11";
  for (char chip : stream) symbols += chip == '0' ? "10" : "01";
  return symbols.substr(0, 239);
}

std::string RandomValidField(std::mt19937& rng) {
  const std::string letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  const std::string alnum = letters + "0123456789";
  auto pick = [&](const std::string& set) {
    return set[std::uniform_int_distribution<size_t>(0, set.size() - 1)(rng)];
  };
  std::string field;
  field += std::uniform_int_distribution<int>(0, 3)(rng) == 0 ? ' ' : pick(alnum);
  field += pick(alnum);
  field += pick("0123456789");
  const int suffix = std::uniform_int_distribution<int>(1, 3)(rng);
  for (int i = 0; i < 3; ++i) field += i < suffix ? pick(letters) : ' ';
  return field;
}

TEST(Crc16Arc, StandardCheckValue) {
  EXPECT_EQ(Crc16Arc("123456789", 9), 0xBB3D);
}

TEST(FrameCodecWorkedExample, EveryIntermediateValue) {
  const std::string field = " Q1ABC";
  const uint32_t n = PackCallField(field);
  EXPECT_EQ(n, 3169749u);

  const std::string info = Bits(n, 28);
  EXPECT_EQ(Crc16Arc(info.data(), info.size()), 0x497C);
  const std::string check = CheckBits(info);
  EXPECT_EQ(check.substr(0, 16), Bits(0x7C49, 16));
  const std::string info44 = info + check.substr(0, 16);
  EXPECT_EQ(Crc16Arc(info44.data(), info44.size()), 0xD290);
  EXPECT_EQ(check.substr(16), "010");

  const FrameCheck fc = FrameCheckFromPacked(n);
  EXPECT_EQ(fc.word, 0x7C49);
  EXPECT_EQ(fc.tail, 2);

  const uint64_t message = PackMessage(n);
  std::string messageText;
  for (int k = 0; k < 51; ++k) messageText += ((message >> (50 - k)) & 1) ? '1' : '0';
  EXPECT_EQ(messageText, "000000000011000001011101110101010111110001001001010");

  const Encoded e = Encode(field);
  EXPECT_EQ(e.scrambled, "111000010110011110111011000001010110010101011100001");
  EXPECT_EQ(e.symbols,
            "110110101001100101100110101001011001011001010101010110100101011001101010100101"
            "100110101001010101011010010110100110010110101010011001100110101010010101100110"
            "011001101001010110100110011010011010011001010101100110011010100110100101100110"
            "10010");
  EXPECT_EQ(std::count(e.symbols.begin(), e.symbols.end(), '1'), 120);
  EXPECT_EQ(Unpack(n), "Q1ABC");
}

TEST(FrameCodecExamples, OtherFields) {
  // Two-letter prefix.
  const uint32_t qq = PackCallField("QQ1ABC");
  EXPECT_EQ(qq, 123629709u);
  EXPECT_EQ(CheckBits(Bits(qq, 28)), Bits(0xBADE, 16) + "011");
  EXPECT_EQ(Unpack(qq), "QQ1ABC");

  // Trailing spaces vanish on unpacking.
  const uint32_t q1a = PackCallField(" Q1A  ");
  EXPECT_EQ(q1a, 3169692u);
  EXPECT_EQ(Unpack(q1a), "Q1A");

  // A space inside the suffix ends the unpacked text; a leading space goes.
  EXPECT_EQ(Unpack(PackCallField("GG1A B")), "GG1A");
  EXPECT_EQ(Unpack(PackCallField(" K1AB ")), "K1AB");
}

TEST(FrameCodecExamples, InvalidFieldStillEncodesDeterministically) {
  // "K1AB" without its leading space: 'A' sits in the digit position and counts
  // with its character code 65.
  const uint32_t n = PackCallField("K1AB");
  EXPECT_EQ(n, static_cast<uint32_t>((((11 * 36 + 27) * 10 + 65) * 27 + 2) * 27 * 27));
  EXPECT_NE(Unpack(n), "K1AB");
  const Encoded e = Encode("K1AB");
  ASSERT_EQ(e.symbols.size(), 239u);
  EXPECT_EQ(e.symbols.find_first_not_of("01"), std::string::npos);
  EXPECT_EQ(e.symbols, Encode("K1AB").symbols);
}

TEST(FrameCodecExamples, ShortTextIsPaddedWithZeroBytes) {
  // Zero bytes count 0: like a space in positions 0 and 3-5, like 'A' in
  // position 1 and '0' in position 2.
  EXPECT_EQ(Encode(std::string_view(" Q1A\0\0", 6)).symbols, Encode(" Q1A  ").symbols);
  EXPECT_EQ(Encode(" Q1A").symbols, Encode(" Q1A  ").symbols);
  EXPECT_EQ(PackCallField(std::string_view("\0\0\0", 3)), PackCallField(" A0   "));
  // Only the first six characters count.
  EXPECT_EQ(Encode(" Q1ABCXYZ").symbols, Encode(" Q1ABC").symbols);
}

TEST(FrameCodecExamples, ZeroCrcBytesAreReplaced) {
  // Search packed values whose CRC bytes are zero and check the replacement.
  bool lowSeen = false, highSeen = false, tailSeen = false;
  for (uint32_t n = 0; n < 2000000 && !(lowSeen && highSeen && tailSeen); ++n) {
    const std::string info = Bits(n, 28);
    const uint16_t c1 = Crc16Arc(info.data(), 28);
    const std::string check = CheckBits(info);
    if (!lowSeen && (c1 & 0xFF) == 0) {
      lowSeen = true;
      EXPECT_EQ(check.substr(0, 8), "00011011") << n;
    }
    if (!highSeen && (c1 >> 8) == 0) {
      highSeen = true;
      EXPECT_EQ(check.substr(8, 8), "00101011") << n;
    }
    if (!tailSeen) {
      const std::string info44 = info + check.substr(0, 16);
      if ((Crc16Arc(info44.data(), 44) >> 8) == 0) {
        tailSeen = true;
        EXPECT_EQ(check.substr(16), "011") << n;
      }
    }
  }
  EXPECT_TRUE(lowSeen && highSeen && tailSeen);
}

TEST(FrameCodecProperties, PackedCheckAgreesWithCharacterCrc) {
  std::mt19937 rng(7);
  for (int i = 0; i < 3000; ++i) {
    const uint32_t n = rng() & 0x0FFFFFFFu;
    const FrameCheck fc = FrameCheckFromPacked(n);
    ASSERT_EQ(Bits(fc.word, 16) + Bits(fc.tail, 3), CheckBits(Bits(n, 28))) << n;
  }
}

TEST(FrameCodecProperties, FramesOfRandomCallsigns) {
  std::mt19937 rng(11);
  const std::string pattern = kScramblePattern;
  for (int i = 0; i < 500; ++i) {
    const std::string field = RandomValidField(rng);
    const Encoded e = Encode(field);
    const uint32_t n = PackCallField(field);
    ASSERT_LT(n, 262177560u);

    // The scrambled message descrambles to zero prefix, N, W, T.
    std::string message;
    for (int k = 0; k < 51; ++k) message += e.scrambled[k] == pattern[k] ? '0' : '1';
    const std::string info = Bits(n, 28);
    ASSERT_EQ(message, "0000" + info + CheckBits(info)) << field;

    ASSERT_EQ(e.symbols, ReferenceSymbols(e.scrambled)) << field;
    // Each chip contributes one on-symbol; the last chip's second half is not sent.
    // (symbol 238 is the first half of the last chip: off for a chip "1").
    const bool lastChipIsOne = e.symbols[238] == '0';
    ASSERT_EQ(std::count(e.symbols.begin(), e.symbols.end(), '1'), 2 + 119 - lastChipIsOne);
    ASSERT_EQ(e.symbols.substr(0, 2), "11");

    // Unpacking gives the callsign without blanks.
    std::string expected = field;
    expected.erase(std::remove(expected.begin(), expected.end(), ' '), expected.end());
    ASSERT_EQ(Unpack(n), expected) << field;
  }
}

TEST(UnpackCall, ValuesAboveTheRangeWrapInTheFirstCharacter) {
  // 37 * 36 * 10 * 27^3: every position 0, the first one wrapped to space.
  EXPECT_EQ(Unpack(262177560u), "A0");
  EXPECT_EQ(Unpack(0x0FFFFFFFu), Unpack(0x0FFFFFFFu % 262177560u));
}

TEST(CallsignFieldForm, Examples) {
  EXPECT_EQ(CallsignFieldForm("G4ABC"), " G4ABC");
  EXPECT_EQ(CallsignFieldForm("QA1ABC"), "QA1ABC");
  EXPECT_EQ(CallsignFieldForm("E73A"), "E73A  ");
  EXPECT_EQ(CallsignFieldForm("  g4abc\t"), " G4ABC");
  EXPECT_EQ(CallsignFieldForm("k1ab"), " K1AB ");
  EXPECT_EQ(CallsignFieldForm("DL1ABCDEF"), "DL1ABC");
  EXPECT_EQ(CallsignFieldForm(""), "      ");
  EXPECT_EQ(CallsignFieldForm("G4"), " G4   ");
  // Field form then encode gives the frame that unpacks to the callsign.
  EXPECT_EQ(Unpack(PackCallField(CallsignFieldForm("g4abc"))), "G4ABC");
}

}  // namespace
}  // namespace vs32
