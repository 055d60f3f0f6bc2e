// Reading recordings: blocks, sample scaling, channels, and files that must be
// refused with a reason. WAV files are built byte by byte here.
#include "audio/wav_file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "support/test_support.h"

#include "support/allocation_counter.h"

namespace vs32 {
namespace {

using test::TempDir;
using test::WriteFile;

std::string Le16(uint16_t v) {
  return std::string{char(v & 0xFF), char(v >> 8)};
}
std::string Le32(uint32_t v) {
  return Le16(uint16_t(v & 0xFFFF)) + Le16(uint16_t(v >> 16));
}

std::string Chunk(const std::string& id, const std::string& body, int64_t declared = -1) {
  std::string out = id + Le32(declared < 0 ? uint32_t(body.size()) : uint32_t(declared)) + body;
  if (body.size() & 1) out += '\0';
  return out;
}

struct Fmt {
  uint16_t tag = 1, channels = 1;
  uint32_t rate = 12000;
  uint16_t bits = 16;
  int align = -1;  // −1: channels × bits / 8
  std::string Body() const {
    const uint16_t a = align < 0 ? uint16_t(channels * bits / 8) : uint16_t(align);
    return Le16(tag) + Le16(channels) + Le32(rate) + Le32(rate * a) + Le16(a) + Le16(bits);
  }
};

std::string Wav(const Fmt& fmt, const std::string& data, const std::string& after = "") {
  const std::string chunks = Chunk("fmt ", fmt.Body()) + Chunk("data", data) + after;
  return "RIFF" + Le32(uint32_t(4 + chunks.size())) + "WAVE" + chunks;
}

std::string Samples16(const std::vector<int16_t>& s) {
  std::string out;
  for (int16_t v : s) out += Le16(uint16_t(v));
  return out;
}

class WavFileTest : public ::testing::Test {
 protected:
  std::string Put(const std::string& name, const std::string& bytes) {
    const auto path = (dir_ / name).string();
    WriteFile(path, bytes);
    return path;
  }
  TempDir dir_;
  WavFile wav_;
};

TEST_F(WavFileTest, TenAndAHalfSecondsGiveTenFullBlocksThenAShortOne) {
  std::vector<int16_t> s(126000);
  for (size_t i = 0; i < s.size(); ++i) s[i] = int16_t(i / 12000);  // block number
  ASSERT_TRUE(wav_.open(Put("a.wav", Wav(Fmt{}, Samples16(s))), "r")) << wav_.error();
  EXPECT_TRUE(wav_.reading());
  EXPECT_TRUE(wav_.matchesInput(12000));
  EXPECT_FALSE(wav_.matchesInput(48000));
  EXPECT_EQ(wav_.dataBytes(), 252000u);
  std::vector<float> block(12000, -5.0f);
  for (int b = 0; b < 10; ++b) {
    ASSERT_EQ(wav_.read(block.data(), block.data(), 12000), 12000) << b;
    EXPECT_EQ(block[0], b / 32770.0f);
    EXPECT_EQ(block[11999], b / 32770.0f);
  }
  EXPECT_EQ(wav_.read(block.data(), block.data(), 12000), 6000);
  EXPECT_EQ(block[5999], 10 / 32770.0f);
  EXPECT_EQ(wav_.read(block.data(), block.data(), 12000), 0);
  EXPECT_TRUE(wav_.reading());  // the worker closes it when it sees the short block
  wav_.close();
  EXPECT_FALSE(wav_.reading());
  EXPECT_EQ(wav_.read(block.data(), block.data(), 12000), -1);
  wav_.close();  // a second close does nothing
}

TEST_F(WavFileTest, SampleScaling) {
  ASSERT_TRUE(wav_.open(Put("s.wav", Wav(Fmt{}, Samples16({32767, -32768, 0, 1, -1}))), "r"));
  float v[5];
  ASSERT_EQ(wav_.read(v, nullptr, 5), 5);
  EXPECT_NEAR(v[0], 0.99991, 5e-6);
  EXPECT_NEAR(v[1], -0.99994, 5e-6);
  EXPECT_EQ(v[2], 0.0f);
  EXPECT_EQ(v[3], -v[4]);
  EXPECT_NEAR(v[3], 1.0 / 32770, 1e-10);

  Fmt f8;
  f8.bits = 8;
  ASSERT_TRUE(wav_.open(Put("b.wav", Wav(f8, std::string("\x00\x80\xff", 3))), "R"));
  ASSERT_EQ(wav_.read(nullptr, v, 3), 3);
  EXPECT_NEAR(v[0], -128.0 / 130, 1e-7);
  EXPECT_EQ(v[1], 0.0f);
  EXPECT_NEAR(v[2], 127.0 / 130, 1e-7);

  Fmt f24;
  f24.bits = 24;
  ASSERT_TRUE(wav_.open(Put("c.wav", Wav(f24, std::string("\xff\xff\x7f\x00\x00\x80", 6))), "r"));
  ASSERT_EQ(wav_.read(v, v, 2), 2);
  EXPECT_NEAR(v[0], 8388607.0 / 8388610, 1e-7);
  EXPECT_NEAR(v[1], -8388608.0 / 8388610, 1e-7);
  EXPECT_FALSE(wav_.matchesInput(12000));  // the receiver takes 16 bits only

  // Full-scale 32-bit samples round to ±1 in float: they must stay inside (−1, 1).
  Fmt f32;
  f32.bits = 32;
  ASSERT_TRUE(wav_.open(
      Put("d.wav", Wav(f32, std::string("\xff\xff\xff\x7f\x00\x00\x00\x80\x00\x00\x01\x00", 12))),
      "r"));
  ASSERT_EQ(wav_.read(v, v, 3), 3);
  EXPECT_LT(v[0], 1.0f);
  EXPECT_GT(v[0], 0.9999999f);
  EXPECT_GT(v[1], -1.0f);
  EXPECT_LT(v[1], -0.9999999f);
  EXPECT_NEAR(v[2], 65536.0 / 2147483650.0, 1e-12);
}

TEST_F(WavFileTest, ChannelsGoToLeftAndRight) {
  Fmt stereo;
  stereo.channels = 2;
  ASSERT_TRUE(wav_.open(Put("st.wav", Wav(stereo, Samples16({100, 200, 300, 400}))), "r"));
  float l[2], r[2];
  ASSERT_EQ(wav_.read(l, r, 2), 2);
  EXPECT_EQ(l[0], 100 / 32770.0f);
  EXPECT_EQ(r[0], 200 / 32770.0f);
  EXPECT_EQ(l[1], 300 / 32770.0f);
  EXPECT_EQ(r[1], 400 / 32770.0f);
  // The worker passes one array for both: it gets the second channel.
  ASSERT_TRUE(wav_.open(Put("st.wav", Wav(stereo, Samples16({100, 200, 300, 400}))), "r"));
  float one[2];
  ASSERT_EQ(wav_.read(one, one, 2), 2);
  EXPECT_EQ(one[0], 200 / 32770.0f);
  EXPECT_EQ(one[1], 400 / 32770.0f);
  // Three channels: the third is consumed and dropped, frames stay aligned.
  Fmt three;
  three.channels = 3;
  ASSERT_TRUE(wav_.open(Put("3.wav", Wav(three, Samples16({1, 2, 3, 4, 5, 6}))), "r"));
  ASSERT_EQ(wav_.read(l, r, 2), 2);
  EXPECT_EQ(l[1], 4 / 32770.0f);
  EXPECT_EQ(r[1], 5 / 32770.0f);
  // Mono: both arrays get the sample; a missing one is skipped.
  ASSERT_TRUE(wav_.open(Put("m.wav", Wav(Fmt{}, Samples16({7, 8}))), "r"));
  ASSERT_EQ(wav_.read(l, r, 1), 1);
  EXPECT_EQ(l[0], r[0]);
  ASSERT_EQ(wav_.read(nullptr, r, 1), 1);
  EXPECT_EQ(r[0], 8 / 32770.0f);
}

TEST_F(WavFileTest, ReadsStopAtTheEndOfTheSampleData) {
  // A chunk after "data" is not sound; neither is half a frame.
  const std::string tail = Chunk("LIST", std::string(40, '\x7f'));
  ASSERT_TRUE(wav_.open(Put("t.wav", Wav(Fmt{}, Samples16({1, 2, 3}) + "x", tail)), "r"));
  float v[20];
  EXPECT_EQ(wav_.framesLeft(), 3u);
  EXPECT_EQ(wav_.read(v, v, 20), 3);
  EXPECT_EQ(wav_.read(v, v, 20), 0);
  // A recording cut off: "data" declares more than there is.
  const std::string cut = "RIFF" + Le32(0xFFFFFFF0u) + "WAVE" + Chunk("fmt ", Fmt{}.Body()) +
                          "data" + Le32(0xFFFFFFF0u) + Samples16({5, 6, 7, 8});
  ASSERT_TRUE(wav_.open(Put("cut.wav", cut), "r")) << wav_.error();
  EXPECT_EQ(wav_.read(v, v, 20), 4);
  EXPECT_EQ(v[3], 8 / 32770.0f);
  // Nothing to store into, or nothing asked for.
  EXPECT_EQ(wav_.read(nullptr, nullptr, 5), 0);
  EXPECT_EQ(wav_.read(v, v, 0), 0);
  EXPECT_EQ(wav_.read(v, v, -3), 0);
}

TEST_F(WavFileTest, OpeningAnotherFileClosesTheFirst) {
  ASSERT_TRUE(wav_.open(Put("1.wav", Wav(Fmt{}, Samples16({11, 12}))), "r"));
  Fmt f48;
  f48.rate = 48000;
  ASSERT_TRUE(wav_.open(Put("2.wav", Wav(f48, Samples16({21}))), "r"));
  EXPECT_TRUE(wav_.matchesInput(48000));
  float v[2];
  EXPECT_EQ(wav_.read(v, v, 2), 1);
  EXPECT_EQ(v[0], 21 / 32770.0f);
  // A failed open leaves nothing open, even after a good one.
  EXPECT_FALSE(wav_.open(Put("bad.wav", "not a wav at all"), "r"));
  EXPECT_FALSE(wav_.reading());
  EXPECT_FALSE(wav_.isOpen());
  EXPECT_EQ(wav_.read(v, v, 1), -1);
}

TEST_F(WavFileTest, RefusesWhatWouldCrashOrMisleadWithAReason) {
  struct Case {
    const char* name;
    std::string bytes;
    const char* reason;
  };
  const std::string one = Samples16({1});
  auto with = [&](auto edit) {
    Fmt f;
    edit(f);
    return Wav(f, one + one);
  };
  const std::string floatExt =
      Le16(0xFFFE) + Le16(1) + Le32(12000) + Le32(48000) + Le16(4) + Le16(32) + Le16(22) +
      Le16(32) + Le32(4) + Le16(3) +
      std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
  const std::vector<Case> cases = {
      {"zero channels", with([](Fmt& f) { f.channels = 0, f.align = 2; }), "no channels"},
      {"zero rate", with([](Fmt& f) { f.rate = 0; }), "sample rate is 0"},
      {"zero align", with([](Fmt& f) { f.align = 0; }), "block align 0"},
      {"align too small", with([](Fmt& f) { f.channels = 2, f.align = 2; }), "block align 2"},
      {"align too large", with([](Fmt& f) { f.align = 3; }), "block align 3"},
      {"float samples", with([](Fmt& f) { f.tag = 3, f.bits = 32; }), "not PCM (format tag 3)"},
      {"compressed", with([](Fmt& f) { f.tag = 0x55; }), "format tag 85"},
      {"extensible float",
       "RIFF" + Le32(60) + "WAVE" + Chunk("fmt ", floatExt) + Chunk("data", one + one),
       "extensible format"},
      {"12-bit", with([](Fmt& f) { f.bits = 12, f.align = 2; }), "sample size of 12 bits"},
      {"zero bits", with([](Fmt& f) { f.bits = 0, f.align = 2; }), "sample size of 0 bits"},
      {"short fmt",
       "RIFF" + Le32(30) + "WAVE" + Chunk("fmt ", Fmt{}.Body().substr(0, 12)) + Chunk("data", one),
       "too short"},
      {"no data", "RIFF" + Le32(28) + "WAVE" + Chunk("fmt ", Fmt{}.Body()), "no \"data\" chunk"},
      {"no fmt", "RIFF" + Le32(14) + "WAVE" + Chunk("data", one), "no \"fmt \" chunk"},
      {"empty data", Wav(Fmt{}, ""), "\"data\" chunk is empty"},
      {"half a frame", Wav(Fmt{}, "x"), "no whole frame"},
      {"not RIFF", "RIFX" + Le32(4) + "WAVE", "not a RIFF WAVE file"},
      {"not WAVE", "RIFF" + Le32(4) + "AVI ", "not a RIFF WAVE file"},
      {"empty file", "", "not a RIFF WAVE file"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(wav_.open(Put("x.wav", c.bytes), "r")) << c.name;
    EXPECT_NE(wav_.error().find(c.reason), std::string::npos) << c.name << ": " << wav_.error();
    EXPECT_FALSE(wav_.reading()) << c.name;
    float v[2];
    EXPECT_EQ(wav_.read(v, v, 2), -1) << c.name;
  }
  EXPECT_FALSE(wav_.open((dir_ / "missing.wav").string(), "r"));
  EXPECT_NE(wav_.error().find("missing.wav"), std::string::npos) << wav_.error();
  EXPECT_FALSE(wav_.open(dir_.path().string(), "r"));  // a folder
  EXPECT_FALSE(wav_.error().empty());
  const std::string good = Put("g.wav", Wav(Fmt{}, one));
  EXPECT_FALSE(wav_.open(good, "w"));
  EXPECT_NE(wav_.error().find("only \"r\""), std::string::npos) << wav_.error();
  EXPECT_TRUE(wav_.open(good, "r"));
  EXPECT_TRUE(wav_.error().empty());
}

TEST_F(WavFileTest, ExtensiblePcmIsRead) {
  const std::string ext =
      Le16(0xFFFE) + Le16(1) + Le32(12000) + Le32(24000) + Le16(2) + Le16(16) + Le16(22) +
      Le16(16) + Le32(4) + Le16(1) +
      std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
  const std::string chunks = Chunk("fmt ", ext) + Chunk("data", Samples16({-32768, 32767}));
  ASSERT_TRUE(
      wav_.open(Put("e.wav", "RIFF" + Le32(uint32_t(4 + chunks.size())) + "WAVE" + chunks), "r"))
      << wav_.error();
  EXPECT_TRUE(wav_.matchesInput(12000));
  EXPECT_EQ(wav_.format().extraSize, 22);
  float v[2];
  ASSERT_EQ(wav_.read(v, v, 2), 2);
  EXPECT_NEAR(v[0], -0.99994, 5e-6);
}

TEST_F(WavFileTest, ReadsAllocateOnlyWhenAskedForMoreThanBefore) {
  std::vector<int16_t> s(48000 * 3, 3);
  ASSERT_TRUE(wav_.open(Put("big.wav", Wav(Fmt{}, Samples16(s))), "r"));
  std::vector<float> block(48000);
  ASSERT_EQ(wav_.read(block.data(), block.data(), 12000), 12000);  // sizes the buffer
  const long before = test::Allocations();
  for (int i = 0; i < 5; ++i) ASSERT_EQ(wav_.read(block.data(), block.data(), 12000), 12000);
  EXPECT_EQ(test::Allocations(), before);
  ASSERT_EQ(wav_.read(block.data(), block.data(), 48000), 48000);  // grows once
  EXPECT_GT(test::Allocations(), before);
}

TEST(WavFormatMessage, NamesTheExpectedRate) {
  EXPECT_EQ(WavFormatMessage(12000), "WAV-file must be 12000 sps, 16 bit!");
  EXPECT_EQ(WavFormatMessage(48000), "WAV-file must be 48000 sps, 16 bit!");
}

}  // namespace
}  // namespace vs32
