// Audio from a pipe: the WAV streams that recorders write when they cannot
// seek back (placeholder sizes), raw samples, what is refused, and how the
// reader ends, fails and is woken.
#include "audio/pipe_source.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace vs32 {
namespace {

using Read = BlockSource::Read;

void U16(std::string& s, uint16_t v) {
  s += static_cast<char>(v & 0xff);
  s += static_cast<char>(v >> 8);
}
void U32(std::string& s, uint32_t v) {
  U16(s, static_cast<uint16_t>(v & 0xffff));
  U16(s, static_cast<uint16_t>(v >> 16));
}

// 16-bit samples: frame i of channel c holds 100 * i + c.
std::string Samples(int frames, int channels) {
  std::string s;
  for (int i = 0; i < frames; ++i) {
    for (int c = 0; c < channels; ++c) U16(s, static_cast<uint16_t>(100 * i + c));
  }
  return s;
}

struct Header {
  uint32_t dataSize = 0;
  uint16_t channels = 1;
  uint32_t rate = 4;  // small blocks: a "second" of four frames
  uint16_t bits = 16;
  bool extensible = false;
  std::string before;  // chunks between "fmt " and "data"
  bool dataFirst = false;
};

std::string Wav(const Header& h) {
  std::string fmt;
  U16(fmt, h.extensible ? 0xFFFE : 1);
  U16(fmt, h.channels);
  U32(fmt, h.rate);
  U32(fmt, h.rate * h.channels * h.bits / 8);
  U16(fmt, static_cast<uint16_t>(h.channels * h.bits / 8));
  U16(fmt, h.bits);
  if (h.extensible) {
    U16(fmt, 22);
    U16(fmt, h.bits);
    U32(fmt, 0);
    U16(fmt, 1);  // the sub-format's tag: PCM
    fmt.append(14, '\x01');
  }
  std::string fmtChunk = "fmt ";
  U32(fmtChunk, static_cast<uint32_t>(fmt.size()));
  fmtChunk += fmt;
  std::string data = "data";
  U32(data, h.dataSize);
  std::string s = "RIFF";
  U32(s, 0xFFFFFFFF);
  s += "WAVE";
  s += h.dataFirst ? data : fmtChunk + h.before + data;
  return s;
}

// A pipe whose write end is fed by the test.
class Pipe {
 public:
  Pipe() { EXPECT_EQ(::pipe(fds_), 0); }
  ~Pipe() {
    CloseWriter();
    ::close(fds_[0]);
  }
  int reader() const { return fds_[0]; }
  void Write(const std::string& bytes) {
    EXPECT_EQ(::write(fds_[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  void CloseWriter() {
    if (fds_[1] >= 0) ::close(fds_[1]);
    fds_[1] = -1;
  }

 private:
  int fds_[2] = {-1, -1};
};

// Reads blocks of `frames` until the source stops giving them; the first
// sample of each block, in 16-bit units.
std::vector<int> FirstSamples(PipeSource& source, int frames, Read* last) {
  std::vector<int> firsts;
  std::vector<float> block(static_cast<size_t>(frames));
  for (;;) {
    *last = source.ReadBlock(block.data(), frames);
    if (*last != Read::kBlock) return firsts;
    firsts.push_back(static_cast<int>(block[0] * 32770.0f + (block[0] >= 0 ? 0.5f : -0.5f)));
  }
}

struct SizeCase {
  const char* name;
  uint32_t dataSize;
  int blocks;  // of four frames, out of ten frames sent and a trailing chunk
};

class PipeWavSizes : public ::testing::TestWithParam<SizeCase> {};

TEST_P(PipeWavSizes, PlaceholderSizesRunToTheEndOfInputRealOnesStopAtTheirEnd) {
  Pipe pipe;
  Header h;
  h.dataSize = GetParam().dataSize;
  // Ten frames, then a chunk a recorder may append after the samples.
  pipe.Write(Wav(h) + Samples(10, 1) + "LIST" + std::string(4, '\0'));
  pipe.CloseWriter();
  PipeSource source(pipe.reader());
  ASSERT_TRUE(source.OpenWav()) << source.error();
  EXPECT_TRUE(source.live());
  EXPECT_EQ(source.sampleRate(), 4);
  Read last;
  const std::vector<int> firsts = FirstSamples(source, 4, &last);
  EXPECT_EQ(last, Read::kEnd);
  ASSERT_EQ(static_cast<int>(firsts.size()), GetParam().blocks);
  EXPECT_EQ(firsts[0], 0);
  EXPECT_EQ(firsts[1], 400);
  // The end is final.
  float block[4];
  EXPECT_EQ(source.ReadBlock(block, 4), Read::kEnd);
}

INSTANTIATE_TEST_SUITE_P(
    Pipe, PipeWavSizes,
    ::testing::Values(SizeCase{"Zero", 0, 3},               // 10 frames + 4 trailing bytes
                      SizeCase{"AllOnes", 0xFFFFFFFFu, 3},  //
                      SizeCase{"Sox", 0x7FFFF000u, 3},      // what sox writes to a pipe
                      SizeCase{"Arecord", 0x80000000u, 3},  // what arecord writes
                      SizeCase{"Real", 20, 2}),  // ten frames: the LIST chunk is no sound
    [](const auto& info) { return std::string(info.param.name); });

TEST(PipeSource, SkipsChunksBeforeTheSamplesTakesExtensiblePcmAndTheSecondChannel) {
  Pipe pipe;
  Header h;
  h.channels = 2;
  h.extensible = true;
  h.before = "LIST" + std::string("\x03\0\0\0abc\0", 8);  // odd size, one pad byte
  pipe.Write(Wav(h) + Samples(8, 2));
  pipe.CloseWriter();
  PipeSource source(pipe.reader());
  ASSERT_TRUE(source.OpenWav()) << source.error();
  EXPECT_EQ(source.channels(), 2);
  EXPECT_TRUE(source.matchesInput(4));
  EXPECT_FALSE(source.matchesInput(12000));
  Read last;
  EXPECT_EQ(FirstSamples(source, 4, &last), (std::vector<int>{1, 401}));
  EXPECT_EQ(last, Read::kEnd);
}

TEST(PipeSource, RefusesWhatIsNoWavStreamWithAReason) {
  struct Case {
    std::string bytes;
    std::string reason;
  };
  Header dataFirst;
  dataFirst.dataFirst = true;
  Header huge;
  huge.before = "junk" + std::string("\xff\xff\xff\x7f", 4);
  std::string alaw = Wav(Header{});
  alaw[20] = 6;  // format tag 6: A-law
  const std::vector<Case> cases = {
      {"", "empty"},
      {std::string(400, '\0'), "no RIFF WAVE header"},
      {Wav(Header{}).substr(0, 36), "ends before the \"data\" chunk"},
      {Wav(dataFirst), "\"data\" chunk comes before the \"fmt \" chunk"},
      {Wav(huge), "too large"},
      {alaw, "not PCM"},
  };
  for (const Case& c : cases) {
    Pipe pipe;
    pipe.Write(c.bytes);
    pipe.CloseWriter();
    PipeSource source(pipe.reader());
    EXPECT_FALSE(source.OpenWav()) << c.reason;
    EXPECT_NE(source.error().find(c.reason), std::string::npos) << source.error();
  }
  // 8-bit samples open, but are not what the receiver takes.
  Pipe pipe;
  Header bytes;
  bytes.bits = 8;
  pipe.Write(Wav(bytes));
  pipe.CloseWriter();
  PipeSource source(pipe.reader());
  ASSERT_TRUE(source.OpenWav()) << source.error();
  EXPECT_FALSE(source.matchesInput(4));
}

TEST(PipeSource, RawSamplesWaitForWholeBlocksSurviveAWakeAndDropALastPartialBlock) {
  Pipe pipe;
  PipeSource source(pipe.reader());
  source.OpenRaw(4);
  EXPECT_TRUE(source.matchesInput(4));
  // Half a block has come; a wake (the worker being stopped) returns without
  // losing it.
  pipe.Write(Samples(2, 1));
  std::thread waker([&source] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    source.Wake();
  });
  float block[4];
  EXPECT_EQ(source.ReadBlock(block, 4), Read::kNone);
  waker.join();
  // The read waits for the rest of the block (the pipe sets the pace).
  std::thread writer([&pipe] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pipe.Write(Samples(5, 1));
    pipe.CloseWriter();
  });
  ASSERT_EQ(source.ReadBlock(block, 4), Read::kBlock);
  writer.join();
  EXPECT_FLOAT_EQ(block[0], 0.0f);
  EXPECT_FLOAT_EQ(block[1], 100 / 32770.0f);
  EXPECT_FLOAT_EQ(block[2], 0.0f);  // the second write starts again at sample 0
  EXPECT_FLOAT_EQ(block[3], 100 / 32770.0f);
  // Three frames left, then the end: the partial block is not delivered.
  EXPECT_EQ(source.ReadBlock(block, 4), Read::kEnd);
  EXPECT_TRUE(source.error().empty());
}

TEST(PipeSource, AnInputThatCannotBeReadFails) {
  // A folder polls readable, and every read of it fails.
  const int folder = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(folder, 0);
  PipeSource source(folder);
  source.OpenRaw(4);
  float block[4];
  EXPECT_EQ(source.ReadBlock(block, 4), Read::kFailed);
  EXPECT_NE(source.error().find("cannot read input"), std::string::npos) << source.error();
  EXPECT_EQ(source.ReadBlock(block, 4), Read::kFailed);
  ::close(folder);
}

}  // namespace
}  // namespace vs32
