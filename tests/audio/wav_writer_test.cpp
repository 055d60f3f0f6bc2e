#include "audio/wav_writer.h"

#include "audio/wav_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace vs32 {
namespace {

using test::ReadFile;
using test::TempDir;

uint32_t Le32(const std::string& s, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(s[at])) |
         static_cast<uint32_t>(static_cast<unsigned char>(s[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(s[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(s[at + 3])) << 24;
}

uint16_t Le16(const std::string& s, size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(s[at]) |
                               static_cast<unsigned char>(s[at + 1]) << 8);
}

int16_t Sample(const std::string& s, size_t index) {
  return static_cast<int16_t>(Le16(s, 44 + 2 * index));
}

// Checks every header field of a canonical 44-byte PCM header.
void ExpectHeader(const std::string& f, uint32_t rate, uint16_t channels, uint32_t dataBytes) {
  ASSERT_GE(f.size(), 44u);
  EXPECT_EQ(f.substr(0, 4), "RIFF");
  EXPECT_EQ(Le32(f, 4), 36 + dataBytes);
  EXPECT_EQ(f.substr(8, 4), "WAVE");
  EXPECT_EQ(f.substr(12, 4), "fmt ");
  EXPECT_EQ(Le32(f, 16), 16u);
  EXPECT_EQ(Le16(f, 20), 1u);
  EXPECT_EQ(Le16(f, 22), channels);
  EXPECT_EQ(Le32(f, 24), rate);
  EXPECT_EQ(Le32(f, 28), rate * channels * 2u);
  EXPECT_EQ(Le16(f, 32), channels * 2u);
  EXPECT_EQ(Le16(f, 34), 16u);
  EXPECT_EQ(f.substr(36, 4), "data");
  EXPECT_EQ(Le32(f, 40), dataBytes);
  EXPECT_EQ(f.size(), 44u + dataBytes);
}

TEST(WavWriterFormat, MonoFileHasPatchedSizesAndLittleEndianSamples) {
  TempDir dir;
  const auto path = (dir / "mono.wav").string();
  WavWriter w;
  ASSERT_TRUE(w.open(path, 12000, 1)) << w.error();
  const int16_t a[] = {0, 1, -1, 32767, -32768, 0x1234};
  ASSERT_TRUE(w.write(a, 6));
  ASSERT_TRUE(w.write(a, 2));
  EXPECT_EQ(w.dataBytes(), 16u);
  EXPECT_EQ(w.framesWritten(), 8u);
  ASSERT_TRUE(w.close()) << w.error();
  EXPECT_FALSE(w.isOpen());

  const std::string f = ReadFile(path);
  ExpectHeader(f, 12000, 1, 16);
  const int16_t expected[] = {0, 1, -1, 32767, -32768, 0x1234, 0, 1};
  for (size_t i = 0; i < 8; ++i) EXPECT_EQ(Sample(f, i), expected[i]) << i;
  EXPECT_EQ(static_cast<unsigned char>(f[44 + 10]), 0x34);  // low byte first
}

TEST(WavWriterFormat, StereoFramesStayInterleavedAcrossLargeWrites) {
  // Much larger than the writer's staging area, so the chunking is exercised.
  TempDir dir;
  const auto path = (dir / "stereo.wav").string();
  std::vector<int16_t> s(2 * 50000);
  for (size_t i = 0; i < 50000; ++i) {
    s[2 * i] = static_cast<int16_t>(i % 30000);
    s[2 * i + 1] = static_cast<int16_t>(-static_cast<int>(i % 20000));
  }
  WavWriter w;
  ASSERT_TRUE(w.open(path, 48000, 2));
  ASSERT_TRUE(w.write(s.data(), 50000));
  ASSERT_TRUE(w.close());
  const std::string f = ReadFile(path);
  ExpectHeader(f, 48000, 2, 200000);
  for (size_t i : {0u, 4095u, 4096u, 29999u, 30000u, 49999u}) {
    EXPECT_EQ(Sample(f, 2 * i), static_cast<int16_t>(i % 30000)) << i;
    EXPECT_EQ(Sample(f, 2 * i + 1), static_cast<int16_t>(-static_cast<int>(i % 20000))) << i;
  }
}

TEST(WavWriterFormat, EmptyFileIsAValidHeaderWithZeroData) {
  TempDir dir;
  const auto path = (dir / "empty.wav").string();
  WavWriter w;
  ASSERT_TRUE(w.open(path, 12000, 1));
  ASSERT_TRUE(w.close());
  ExpectHeader(ReadFile(path), 12000, 1, 0);
}

TEST(WavWriterLifecycle, DestructorAndReopenFinishTheOpenFile) {
  TempDir dir;
  const int16_t a[] = {7, 8, 9};
  {
    WavWriter w;
    ASSERT_TRUE(w.open((dir / "first.wav").string(), 12000, 1));
    ASSERT_TRUE(w.write(a, 3));
    // Opening another file finishes the first one.
    ASSERT_TRUE(w.open((dir / "second.wav").string(), 12000, 1));
    EXPECT_EQ(w.dataBytes(), 0u);
    ASSERT_TRUE(w.write(a, 2));
  }  // destructor finishes the second
  ExpectHeader(ReadFile(dir / "first.wav"), 12000, 1, 6);
  ExpectHeader(ReadFile(dir / "second.wav"), 12000, 1, 4);
}

TEST(WavWriterLifecycle, CloseWithoutOpenAndWriteAfterCloseAreHandled) {
  TempDir dir;
  WavWriter w;
  EXPECT_TRUE(w.close());
  const int16_t a[] = {1};
  EXPECT_FALSE(w.write(a, 1));
  EXPECT_FALSE(w.error().empty());
  ASSERT_TRUE(w.open((dir / "x.wav").string(), 12000, 1));
  ASSERT_TRUE(w.close());
  EXPECT_FALSE(w.write(a, 1));
  ExpectHeader(ReadFile(dir / "x.wav"), 12000, 1, 0);
}

TEST(WavWriterErrors, BadParametersAreRefusedWithAReason) {
  TempDir dir;
  WavWriter w;
  EXPECT_FALSE(w.open((dir / "a.wav").string(), 0, 1));
  EXPECT_NE(w.error().find("sample rate"), std::string::npos) << w.error();
  EXPECT_FALSE(w.open((dir / "a.wav").string(), 12000, 0));
  EXPECT_NE(w.error().find("channel"), std::string::npos) << w.error();
  EXPECT_FALSE(w.open((dir / "a.wav").string(), 12000, WavWriter::kMaxChannels + 1));
  EXPECT_FALSE(w.isOpen());
  EXPECT_FALSE(std::filesystem::exists(dir / "a.wav"));
}

TEST(WavWriterErrors, UncreatableFileNamesThePath) {
  TempDir dir;
  const auto path = (dir / "no_such_folder" / "a.wav").string();
  WavWriter w;
  EXPECT_FALSE(w.open(path, 12000, 1));
  EXPECT_NE(w.error().find(path), std::string::npos) << w.error();
  EXPECT_FALSE(w.isOpen());
}

TEST(WavWriterErrors, FullDeviceIsReportedAsFailureNotSuccess) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  WavWriter w;
  ASSERT_TRUE(w.open("/dev/full", 12000, 1));  // the header only reaches the buffer
  std::vector<int16_t> s(100000, 5);
  bool ok = w.write(s.data(), s.size());
  ok = w.close() && ok;
  EXPECT_FALSE(ok);
  EXPECT_FALSE(w.error().empty());
}

TEST(WavWriterErrors, SizeLimitRefusesTheWholeWriteAndFailsClose) {
  TempDir dir;
  const auto path = (dir / "limited.wav").string();
  WavWriter w(10);  // 10 data bytes at most
  ASSERT_TRUE(w.open(path, 12000, 1));
  const int16_t a[] = {1, 2, 3, 4, 5, 6};
  ASSERT_TRUE(w.write(a, 4));   // 8 bytes
  EXPECT_FALSE(w.write(a, 2));  // 12 > 10: nothing written
  EXPECT_NE(w.error().find("exceed"), std::string::npos) << w.error();
  EXPECT_EQ(w.dataBytes(), 8u);
  EXPECT_FALSE(w.close());  // the file lacks samples its writer meant to put there
  ExpectHeader(ReadFile(path), 12000, 1, 8);
}

TEST(WavWriterRoundTrip, ReceiverReadsWhatWasWritten) {
  // The receiver's reader takes the file as input and, given one array for both
  // outputs, sees the second channel of a stereo file.
  TempDir dir;
  const auto path = (dir / "rt.wav").string();
  std::vector<int16_t> s;
  for (int i = 0; i < 12000; ++i) {
    s.push_back(static_cast<int16_t>(-i));
    s.push_back(static_cast<int16_t>(i * 2));
  }
  s.push_back(-32768);
  s.push_back(32767);
  WavWriter w;
  ASSERT_TRUE(w.open(path, 12000, 2));
  ASSERT_TRUE(w.write(s.data(), s.size() / 2));
  ASSERT_TRUE(w.close());

  WavFile in;
  ASSERT_TRUE(in.open(path, "r")) << in.error();
  EXPECT_TRUE(in.matchesInput(12000));
  EXPECT_EQ(in.format().channels, 2);
  std::vector<float> block(12000);
  ASSERT_EQ(in.read(block.data(), block.data(), 12000), 12000);
  for (int i : {0, 1, 5000, 11999}) EXPECT_EQ(block[i], Pcm16ToFloat(static_cast<int16_t>(i * 2)));
  ASSERT_EQ(in.read(block.data(), block.data(), 12000), 1);  // the last, short block
  EXPECT_EQ(block[0], Pcm16ToFloat(32767));
}

}  // namespace
}  // namespace vs32
