// The chunk walker and the WAVE header reader, on files built byte by byte
// (most of them damaged on purpose).
#include "audio/riff_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace vs32 {
namespace {

std::string Le16(uint16_t v) {
  return std::string{char(v & 0xFF), char(v >> 8)};
}
std::string Le32(uint32_t v) {
  return Le16(uint16_t(v & 0xFFFF)) + Le16(uint16_t(v >> 16));
}

// A chunk with its declared size (default: the body's) and a pad byte after an
// odd body.
std::string Chunk(const std::string& id, const std::string& body, int64_t declared = -1,
                  bool pad = true) {
  const uint32_t size = declared < 0 ? uint32_t(body.size()) : uint32_t(declared);
  std::string out = id + Le32(size) + body;
  if (pad && (body.size() & 1)) out += '\0';
  return out;
}

std::string FmtBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
  const uint16_t align = uint16_t(channels * bits / 8);
  return Le16(tag) + Le16(channels) + Le32(rate) + Le32(rate * align) + Le16(align) + Le16(bits);
}

std::string Riff(const std::string& chunks, const std::string& form = "WAVE") {
  return "RIFF" + Le32(uint32_t(4 + chunks.size())) + form + chunks;
}

// An in-memory file over `bytes` (which must outlive it).
struct MemFile {
  explicit MemFile(std::string& bytes)
      : file(fmemopen(bytes.empty() ? nullptr : bytes.data(), bytes.size(), "rb")) {}
  ~MemFile() {
    if (file) std::fclose(file);
  }
  std::FILE* file;
};

struct Walk {
  std::vector<RiffChunk> chunks;
  std::string error;
  bool began = false;
};

Walk WalkAll(std::string bytes) {
  Walk w;
  MemFile f(bytes);
  RiffReader riff;
  w.began = riff.begin(f.file, "WAVE");
  if (!w.began) {
    w.error = riff.error();
    return w;
  }
  RiffChunk c;
  while (riff.next(c)) w.chunks.push_back(c);
  w.error = riff.error();
  return w;
}

std::string Id(const RiffChunk& c) {
  return std::string(c.id, 4);
}

TEST(RiffWalk, VisitsChunksInOrderSkippingPadBytes) {
  const Walk w = WalkAll(Riff(Chunk("LIST", "abc") + Chunk("fmt ", FmtBody(1, 1, 12000, 16)) +
                              Chunk("data", "12345")));
  ASSERT_TRUE(w.began);
  ASSERT_EQ(w.chunks.size(), 3u);
  EXPECT_EQ(Id(w.chunks[0]), "LIST");
  EXPECT_EQ(w.chunks[0].dataOffset, 20u);
  EXPECT_EQ(w.chunks[0].size, 3u);
  EXPECT_EQ(Id(w.chunks[1]), "fmt ");
  EXPECT_EQ(w.chunks[1].dataOffset, 20u + 4 + 8);  // 3 bytes + pad
  EXPECT_EQ(Id(w.chunks[2]), "data");
  EXPECT_EQ(w.chunks[2].available, 5u);
  EXPECT_TRUE(w.error.empty());
}

TEST(RiffWalk, EndsCleanlyOnShortTailsAndAMissingFinalPad) {
  // The last chunk is odd and its pad byte is missing; then nothing.
  Walk w = WalkAll(Riff(Chunk("data", "abc", -1, false)));
  ASSERT_EQ(w.chunks.size(), 1u);
  EXPECT_EQ(w.chunks[0].available, 3u);
  EXPECT_TRUE(w.error.empty());
  // Fewer than 8 bytes after the last chunk: no further chunk header.
  w = WalkAll(Riff(Chunk("data", "ab") + "junk"));
  EXPECT_EQ(w.chunks.size(), 1u);
  EXPECT_TRUE(w.error.empty());
}

TEST(RiffWalk, DataRunningPastTheEndIsClampedToTheFile) {
  for (uint32_t declared : {1000u, 0xFFFFFFFFu}) {
    const Walk w = WalkAll(Riff(Chunk("data", "0123456789", declared)));
    ASSERT_EQ(w.chunks.size(), 1u) << declared;
    EXPECT_EQ(w.chunks[0].size, declared);
    EXPECT_EQ(w.chunks[0].available, 10u);
    EXPECT_TRUE(w.error.empty());
  }
}

TEST(RiffWalk, AnyOtherChunkRunningPastTheEndEndsTheWalk) {
  const Walk w = WalkAll(Riff(Chunk("fmt ", FmtBody(1, 1, 12000, 16)) +
                              Chunk("LIST", "xy", 0xFFFFFFF0u) + Chunk("data", "abcd")));
  ASSERT_EQ(w.chunks.size(), 1u);
  EXPECT_NE(w.error.find("\"LIST\" runs past the end"), std::string::npos) << w.error;
  // Unprintable ids are shown escaped.
  const Walk bad = WalkAll(Riff(std::string("\x01x\xffz", 4) + Le32(99)));
  EXPECT_NE(bad.error.find("\"\\x01x\\xffz\""), std::string::npos) << bad.error;
}

TEST(RiffWalk, RefusesWhatIsNotRiffOfTheAskedForm) {
  for (const std::string& bytes :
       {std::string(), std::string("RIFF"), Riff("", "AVI "),
        std::string("RIFX") + Le32(4) + "WAVE", std::string(100, '\0')}) {
    const Walk w = WalkAll(bytes);
    EXPECT_FALSE(w.began);
    EXPECT_FALSE(w.error.empty());
  }
}

struct Layout {
  bool ok = false;
  WaveLayout layout;
  std::string error;
};

Layout ParseBytes(std::string bytes) {
  Layout r;
  MemFile f(bytes);
  r.ok = ReadWaveLayout(f.file, r.layout, r.error);
  return r;
}

TEST(WaveLayoutRead, FindsFormatAndDataInEitherOrder) {
  const std::string fmt = Chunk("fmt ", FmtBody(1, 2, 48000, 16));
  const std::string data = Chunk("data", std::string(8, '\x11'));
  for (const std::string& body : {fmt + data, data + fmt, Chunk("JUNK", "z") + fmt + data}) {
    const Layout r = ParseBytes(Riff(body));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.layout.format.formatTag, 1);
    EXPECT_EQ(r.layout.format.channels, 2);
    EXPECT_EQ(r.layout.format.samplesPerSec, 48000u);
    EXPECT_EQ(r.layout.format.avgBytesPerSec, 192000u);
    EXPECT_EQ(r.layout.format.blockAlign, 4);
    EXPECT_EQ(r.layout.format.bitsPerSample, 16);
    EXPECT_EQ(r.layout.format.extraSize, 0);
    EXPECT_EQ(r.layout.formatChunkBytes, 16u);
    EXPECT_EQ(r.layout.dataBytes, 8u);
    const std::string file = Riff(body);
    EXPECT_EQ(file.substr(r.layout.dataOffset, 8), std::string(8, '\x11'));
  }
}

TEST(WaveLayoutRead, FormatChunkLengths) {
  // Under 16 bytes: refused, whatever follows.
  Layout r = ParseBytes(
      Riff(Chunk("fmt ", FmtBody(1, 1, 12000, 16).substr(0, 14)) + Chunk("data", "abcd")));
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find("too short (14 bytes"), std::string::npos) << r.error;
  // 18 bytes: the extra size is read.
  r = ParseBytes(Riff(Chunk("fmt ", FmtBody(1, 1, 12000, 16) + Le16(0)) + Chunk("data", "ab")));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.layout.formatChunkBytes, 18u);
  // A long chunk of an unknown format: cut to the record, the rest skipped, and
  // the chunk after it is still found at the right place.
  r = ParseBytes(
      Riff(Chunk("fmt ", FmtBody(1, 1, 12000, 16) + Le16(5) + "hello") + Chunk("data", "XYZW")));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.layout.format.extraSize, 5);
  EXPECT_EQ(r.layout.dataBytes, 4u);
  EXPECT_EQ(r.layout.dataOffset, 12u + 8 + 23 + 1 + 8);
}

std::string ExtensibleFmt(uint16_t channels, uint32_t rate, uint16_t bits, uint16_t subFormat) {
  const std::string guidTail("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
  return FmtBody(0xFFFE, channels, rate, bits) + Le16(22) + Le16(bits) + Le32(4) + Le16(subFormat) +
         guidTail;
}

TEST(WaveLayoutRead, ExtensibleFormatIsCutToTheRecordAndItsSubFormatChecked) {
  Layout r = ParseBytes(Riff(Chunk("fmt ", ExtensibleFmt(1, 12000, 16, 1)) + Chunk("data", "ab")));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.layout.formatChunkBytes, 40u);
  EXPECT_EQ(r.layout.format.formatTag, 0xFFFE);
  EXPECT_EQ(r.layout.format.extraSize, 22);
  EXPECT_EQ(r.layout.format.bitsPerSample, 16);
  EXPECT_TRUE(r.layout.extensiblePcm);
  EXPECT_EQ(r.layout.dataBytes, 2u);
  // Floating-point sub-format (3): read, but not PCM.
  r = ParseBytes(Riff(Chunk("fmt ", ExtensibleFmt(1, 12000, 32, 3)) + Chunk("data", "abcd")));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_FALSE(r.layout.extensiblePcm);
  // Too short to hold a sub-format: not PCM either.
  r = ParseBytes(
      Riff(Chunk("fmt ", ExtensibleFmt(1, 12000, 16, 1).substr(0, 18)) + Chunk("data", "ab")));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_FALSE(r.layout.extensiblePcm);
}

TEST(WaveLayoutRead, MissingChunksAreNamed) {
  Layout r = ParseBytes(Riff(Chunk("fmt ", FmtBody(1, 1, 12000, 16))));
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find("no \"data\" chunk"), std::string::npos) << r.error;
  r = ParseBytes(Riff(Chunk("data", "abcd")));
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find("no \"fmt \" chunk"), std::string::npos) << r.error;
  // A broken chunk before "data" hides it: the reason says why.
  r = ParseBytes(Riff(Chunk("fmt ", FmtBody(1, 1, 12000, 16)) + "LIST" + Le32(1u << 30) +
                      Chunk("data", "abcd")));
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find("runs past the end"), std::string::npos) << r.error;
  // "data" clamped: accepted with what is there.
  r = ParseBytes(Riff(Chunk("fmt ", FmtBody(1, 1, 12000, 16)) + Chunk("data", "abcdef", 9999)));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.layout.declaredDataBytes, 9999u);
  EXPECT_EQ(r.layout.dataBytes, 6u);
}

// Damaged headers of every kind: the reader never reads outside the file and
// whatever it accepts lies inside it.
TEST(WaveLayoutRead, RandomDamageStaysInsideTheFile) {
  const std::string good =
      Riff(Chunk("LIST", "info!") + Chunk("fmt ", ExtensibleFmt(2, 12000, 16, 1)) +
           Chunk("data", std::string(64, 'd')) + Chunk("id3 ", "tail"));
  std::mt19937 rng(12345);
  int accepted = 0;
  for (int iter = 0; iter < 3000; ++iter) {
    std::string bytes = good;
    const int edits = 1 + int(rng() % 4);
    for (int e = 0; e < edits; ++e) {
      const size_t at = rng() % bytes.size();
      switch (rng() % 3) {
        case 0:
          bytes[at] = char(rng());
          break;
        case 1:
          bytes.resize(at);
          break;
        default:  // a size field becomes huge or odd
          if (at + 4 <= bytes.size()) bytes.replace(at, 4, Le32(uint32_t(rng())));
          break;
      }
      if (bytes.empty()) break;
    }
    const Layout r = ParseBytes(bytes);
    if (!r.ok) {
      EXPECT_FALSE(r.error.empty());
      continue;
    }
    ++accepted;
    EXPECT_LE(r.layout.dataOffset + r.layout.dataBytes, bytes.size());
    EXPECT_LE(r.layout.dataBytes, r.layout.declaredDataBytes);
    EXPECT_GE(r.layout.formatChunkBytes, kMinFormatChunkBytes);
  }
  EXPECT_GT(accepted, 0);  // the damage is not so heavy that nothing survives
}

}  // namespace
}  // namespace vs32
