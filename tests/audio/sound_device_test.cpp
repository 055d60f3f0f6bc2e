// Sound card capture: the buffer queue and overrun driven through the capture
// entry point, the sample scaling, the waits of read, open failures, and a
// real capture through the audio library from an ALSA "file" device.
#include "audio/sound_device.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "support/test_support.h"

#include "support/allocation_counter.h"

namespace vs32 {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct RecordedWarnings {
  SoundDevice::WarningHandler handler() {
    return [this](const char* text, const char* caption) {
      std::lock_guard<std::mutex> lock(mutex);
      seen.emplace_back(text, caption);
    };
  }
  std::mutex mutex;
  std::vector<std::pair<std::string, std::string>> seen;
};

// One buffer of `frames` mono 16-bit samples, all `value`.
void DeliverConstant(SoundDevice& dev, int frames, int16_t value) {
  std::vector<int16_t> s(frames, value);
  dev.deliverCaptured(s.data(), s.size());
}

// Small buffers keep the tests quick: 1000 frames at 1000 frames/s is one
// second, as in the programs.
constexpr int kRate = 1000;

TEST(SoundDeviceBuffers, SizesFollowRateChannelsAndBits) {
  SoundDevice dev;
  EXPECT_EQ(dev.bufferBytes(), 0);
  ASSERT_TRUE(dev.openInputBuffers(12000, 16, 1, 12000));
  EXPECT_EQ(dev.bufferBytes(), 24000);
  EXPECT_EQ(dev.waitTimeoutMs(), 1000);
  ASSERT_TRUE(dev.openInputBuffers(48000, 16, 1, 48000));  // reopening closes first
  EXPECT_EQ(dev.bufferBytes(), 96000);
  EXPECT_EQ(dev.waitTimeoutMs(), 1000);
  ASSERT_TRUE(dev.openInputBuffers(12000, 8, 2, 6000));
  EXPECT_EQ(dev.bufferBytes(), 12000);
  EXPECT_EQ(dev.waitTimeoutMs(), 500);
  dev.closeInput();
  EXPECT_FALSE(dev.inputOpen());
  EXPECT_EQ(dev.bufferBytes(), 0);
  dev.closeInput();  // no effect when closed
  const std::vector<std::tuple<int, int, int, int>> invalid = {
      {0, 16, 1, 100}, {100, 12, 1, 100}, {100, 16, 0, 100},
      {100, 16, 1, 0}, {100, 24, 1, 100}, {12000, 16, 16, 1 << 28}};
  for (const auto& [rate, bits, channels, frames] : invalid) {
    EXPECT_FALSE(dev.openInputBuffers(rate, bits, channels, frames)) << rate << " " << bits;
    EXPECT_FALSE(dev.inputOpen());
  }
}

TEST(SoundDeviceSamples, ScalingOf16And8BitSamples) {
  SoundDevice dev;
  ASSERT_TRUE(dev.openInputBuffers(4, 16, 1, 4));
  const int16_t s[4] = {-32768, 0, 32767, 1};
  dev.deliverCaptured(s, 4);
  float v[4];
  ASSERT_EQ(dev.read(v, nullptr, 4), 4);
  EXPECT_NEAR(v[0], -0.99994, 5e-6);
  EXPECT_EQ(v[1], 0.0f);
  EXPECT_NEAR(v[2], 0.99991, 5e-6);
  EXPECT_NEAR(v[3], 1.0 / 32770, 1e-10);

  ASSERT_TRUE(dev.openInputBuffers(3, 8, 1, 3));
  const unsigned char b[3] = {0, 128, 255};
  dev.deliverCaptured(b, 3);
  ASSERT_EQ(dev.read(nullptr, v, 3), 3);
  EXPECT_NEAR(v[0], -128.0 / 130, 1e-7);
  EXPECT_EQ(v[1], 0.0f);
  EXPECT_NEAR(v[2], 127.0 / 130, 1e-7);
}

TEST(SoundDeviceSamples, ChannelsGoToLeftAndRight) {
  SoundDevice dev;
  ASSERT_TRUE(dev.openInputBuffers(2, 16, 2, 2));
  const int16_t s[4] = {10, 20, 30, 40};
  dev.deliverCaptured(s, 2);
  float l[2], r[2];
  ASSERT_EQ(dev.read(l, r, 2), 2);
  EXPECT_EQ(l[0], 10 / 32770.0f);
  EXPECT_EQ(r[0], 20 / 32770.0f);
  EXPECT_EQ(l[1], 30 / 32770.0f);
  EXPECT_EQ(r[1], 40 / 32770.0f);
  // One array for both, as the worker passes it: channel 1 is stored last.
  dev.deliverCaptured(s, 2);
  float one[2];
  ASSERT_EQ(dev.read(one, one, 2), 2);
  EXPECT_EQ(one[0], 20 / 32770.0f);
  EXPECT_EQ(one[1], 40 / 32770.0f);
  // Mono into both arrays.
  ASSERT_TRUE(dev.openInputBuffers(1, 16, 1, 1));
  dev.deliverCaptured(s, 1);
  ASSERT_EQ(dev.read(l, r, 1), 1);
  EXPECT_EQ(l[0], 10 / 32770.0f);
  EXPECT_EQ(r[0], l[0]);
}

TEST(SoundDeviceQueue, CaptureInOddChunksIsReadBackInOrder) {
  SoundDevice dev;
  ASSERT_TRUE(dev.openInputBuffers(kRate, 16, 1, kRate));
  std::vector<int16_t> ramp(3 * kRate);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = int16_t(i);
  for (size_t at = 0; at < ramp.size(); at += 701) {
    dev.deliverCaptured(ramp.data() + at, std::min<size_t>(701, ramp.size() - at));
  }
  EXPECT_EQ(dev.filledCount(), 3);
  // Reads of a size unrelated to the buffers run across buffer boundaries.
  std::vector<float> v(ramp.size());
  for (size_t at = 0; at < v.size(); at += 300) {
    const int n = int(std::min<size_t>(300, v.size() - at));
    ASSERT_EQ(dev.read(v.data() + at, nullptr, n), n);
  }
  for (size_t i = 0; i < v.size(); ++i) ASSERT_EQ(v[i], float(i) / 32770.0f) << i;
  EXPECT_EQ(dev.filledCount(), 0);
  EXPECT_FALSE(dev.overrun());
}

TEST(SoundDeviceQueue, SeventeenBuffersUnreadSetOverrunAndTheNewestReplacesTheLastQueued) {
  SoundDevice dev;
  ASSERT_TRUE(dev.openInputBuffers(kRate, 16, 1, kRate));
  for (int second = 0; second < 16; ++second) DeliverConstant(dev, kRate, int16_t(second));
  EXPECT_FALSE(dev.overrun());
  EXPECT_EQ(dev.filledCount(), 16);
  DeliverConstant(dev, kRate, 16);
  EXPECT_TRUE(dev.overrun());
  EXPECT_EQ(dev.filledCount(), 16);
  std::vector<float> block(kRate);
  std::vector<int> seconds;
  for (int i = 0; i < 16; ++i) {
    ASSERT_EQ(dev.read(block.data(), block.data(), kRate), kRate);
    EXPECT_EQ(block.front(), block.back());
    seconds.push_back(int(block[0] * 32770.0f + 0.5f));
  }
  const std::vector<int> expected = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 16};
  EXPECT_EQ(seconds, expected);
  // The next buffer that arrives with room in the queue clears the flag.
  EXPECT_TRUE(dev.overrun());
  DeliverConstant(dev, kRate, 17);
  EXPECT_FALSE(dev.overrun());
  ASSERT_EQ(dev.read(block.data(), block.data(), kRate), kRate);
  EXPECT_EQ(block[0], 17 / 32770.0f);
}

TEST(SoundDeviceQueue, AReaderThatKeepsUpNeverOverruns) {
  SoundDevice dev;
  ASSERT_TRUE(dev.openInputBuffers(kRate, 16, 1, kRate));
  std::vector<float> block(kRate);
  for (int second = 0; second < 40; ++second) {
    DeliverConstant(dev, kRate, int16_t(second));
    // 16 seconds behind at the worst, never more.
    if (second >= 15) {
      ASSERT_EQ(dev.read(block.data(), block.data(), kRate), kRate);
      EXPECT_EQ(block[0], (second - 15) / 32770.0f);
    }
    EXPECT_FALSE(dev.overrun()) << second;
  }
  EXPECT_EQ(dev.filledCount(), 15);
}

TEST(SoundDeviceRead, TheFirstReadAfterAnOpenWaitsForCapturedData) {
  SoundDevice dev;
  ASSERT_TRUE(dev.openInputBuffers(kRate, 16, 1, kRate));
  std::vector<float> block(kRate, -9.0f);
  auto reader =
      std::async(std::launch::async, [&] { return dev.read(block.data(), block.data(), kRate); });
  // No silence from the fresh buffers: the read is still waiting.
  EXPECT_EQ(reader.wait_for(300ms), std::future_status::timeout);
  DeliverConstant(dev, kRate, 1234);
  ASSERT_EQ(reader.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(reader.get(), kRate);
  EXPECT_EQ(block[0], 1234 / 32770.0f);
  EXPECT_EQ(block[kRate - 1], 1234 / 32770.0f);
}

TEST(SoundDeviceRead, WithoutAnOpenInputAReadWaitsThenReturnsNothing) {
  SoundDevice dev;
  float v[4] = {5, 5, 5, 5};
  EXPECT_EQ(dev.read(nullptr, nullptr, 4), 0);  // nothing to store into: at once
  const auto start = Clock::now();
  EXPECT_EQ(dev.read(v, v, 4), 0);
  // It waited, so a worker looping on it does not spin on a stale block.
  EXPECT_GE(Clock::now() - start, SoundDevice::kIdleWait - 50ms);
  EXPECT_EQ(v[0], 5.0f);
  EXPECT_EQ(v[3], 5.0f);
}

TEST(SoundDeviceRead, AnInputOpenedDuringTheWaitIsReadFrom) {
  SoundDevice dev;
  std::vector<float> block(kRate);
  auto reader =
      std::async(std::launch::async, [&] { return dev.read(block.data(), block.data(), kRate); });
  std::this_thread::sleep_for(100ms);
  ASSERT_TRUE(dev.openInputBuffers(kRate, 16, 1, kRate));
  DeliverConstant(dev, kRate, 77);
  ASSERT_EQ(reader.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(reader.get(), kRate);
  EXPECT_EQ(block[0], 77 / 32770.0f);
}

TEST(SoundDeviceRead, WakeReaderEndsABlockedRead) {
  SoundDevice dev;
  ASSERT_TRUE(dev.openInputBuffers(kRate, 16, 1, kRate));
  std::vector<float> block(2 * kRate);
  // Half of the asked frames are there; the rest never come (a stalled device).
  DeliverConstant(dev, kRate, 5);
  auto reader = std::async(std::launch::async,
                           [&] { return dev.read(block.data(), block.data(), 2 * kRate); });
  EXPECT_EQ(reader.wait_for(200ms), std::future_status::timeout);
  dev.WakeReader();
  ASSERT_EQ(reader.wait_for(2s), std::future_status::ready);
  EXPECT_EQ(reader.get(), kRate);  // what it had
  // A wake with no read in progress makes the next read return at once ...
  dev.WakeReader();
  DeliverConstant(dev, kRate, 6);
  EXPECT_EQ(dev.read(block.data(), block.data(), kRate), 0);
  // ... and only that one.
  EXPECT_EQ(dev.read(block.data(), block.data(), kRate), kRate);
  EXPECT_EQ(block[0], 6 / 32770.0f);
  // A wake also ends the idle wait of a closed input.
  dev.closeInput();
  auto idle = std::async(std::launch::async, [&] { return dev.read(block.data(), nullptr, 1); });
  std::this_thread::sleep_for(100ms);
  dev.WakeReader();
  ASSERT_EQ(idle.wait_for(700ms), std::future_status::ready);
  EXPECT_EQ(idle.get(), 0);
  // A stale wake does not outlive a new open.
  dev.WakeReader();
  ASSERT_TRUE(dev.openInputBuffers(kRate, 16, 1, kRate));
  DeliverConstant(dev, kRate, 7);
  EXPECT_EQ(dev.read(block.data(), block.data(), kRate), kRate);
}

TEST(SoundDeviceRead, ClosingOrReopeningUnderABlockedReader) {
  SoundDevice dev;
  ASSERT_TRUE(dev.openInputBuffers(kRate, 16, 1, kRate));
  std::vector<float> block(kRate, -1.0f);
  auto reader =
      std::async(std::launch::async, [&] { return dev.read(block.data(), block.data(), kRate); });
  std::this_thread::sleep_for(100ms);
  dev.closeInput();
  ASSERT_EQ(reader.wait_for(2s), std::future_status::ready);
  EXPECT_EQ(reader.get(), 0);
  EXPECT_EQ(block[0], -1.0f);

  // A reopen (the device menu) while the reader waits: it goes on in the new
  // buffers, whose size may differ.
  ASSERT_TRUE(dev.openInputBuffers(kRate, 16, 1, kRate));
  reader =
      std::async(std::launch::async, [&] { return dev.read(block.data(), block.data(), kRate); });
  std::this_thread::sleep_for(100ms);
  ASSERT_TRUE(dev.openInputBuffers(kRate / 2, 16, 1, kRate / 2));
  DeliverConstant(dev, kRate / 2, 3);
  DeliverConstant(dev, kRate / 2, 4);
  ASSERT_EQ(reader.wait_for(2s), std::future_status::ready);
  EXPECT_EQ(reader.get(), kRate);
  EXPECT_EQ(block[0], 3 / 32770.0f);
  EXPECT_EQ(block[kRate - 1], 4 / 32770.0f);
  // Capture that arrives after a close is ignored.
  dev.closeInput();
  DeliverConstant(dev, kRate, 9);
  EXPECT_EQ(dev.filledCount(), 0);
}

TEST(SoundDeviceRead, CaptureAndReadAllocateNothing) {
  SoundDevice dev;
  ASSERT_TRUE(dev.openInputBuffers(kRate, 16, 1, kRate));
  std::vector<int16_t> samples(kRate, 100);
  std::vector<float> block(kRate);
  const long before = test::Allocations();
  for (int i = 0; i < 50; ++i) {
    dev.deliverCaptured(samples.data(), samples.size());
    ASSERT_EQ(dev.read(block.data(), block.data(), kRate), kRate);
  }
  EXPECT_EQ(test::Allocations(), before);
}

TEST(SoundDeviceOpen, FailuresAreReportedAsWarningsWithTheCaption) {
  RecordedWarnings events;
  SoundDevice dev(events.handler());
  dev.setInputDevice(999);  // no such device
  EXPECT_FALSE(dev.openInput(12000, 16, 1, 12000));
  EXPECT_FALSE(dev.inputOpen());
  dev.setInputDevice(SoundDevice::kDefaultDevice);
  EXPECT_FALSE(dev.openInput(12000, 12, 1, 12000));  // no such sample size
  EXPECT_FALSE(dev.openOutput(0, 16, 1, 12000));
  EXPECT_FALSE(dev.outputOpen());
  const std::pair<std::string, std::string> in{"Cannot Open Audio Input Device", "Tavik Control"};
  const std::pair<std::string, std::string> out{"Cannot Open Audio Output Device", "Tavik Control"};
  const std::vector<std::pair<std::string, std::string>> expected = {in, in, out};
  EXPECT_EQ(events.seen, expected);
  // Nothing is played, so a valid output "opens" without a device.
  EXPECT_TRUE(dev.openOutput(12000, 16, 1, 12000));
  EXPECT_TRUE(dev.outputOpen());
  dev.closeOutput();
  EXPECT_FALSE(dev.outputOpen());
  dev.closeOutput();
  EXPECT_EQ(events.seen.size(), 3u);
  // Without a handler a failure is still just false.
  SoundDevice quiet;
  quiet.setInputDevice(999);
  EXPECT_FALSE(quiet.openInput(12000, 16, 1, 12000));
}

// Real capture through the audio library, from an ALSA "file" PCM that reads
// a raw 16-bit file. ALSA reads its configuration once per process, so the
// test runs itself again as a child with HOME pointing at a folder whose
// .asoundrc defines the device.
constexpr const char* kChildVariable = "VS32_ALSA_FILE_CHILD";
constexpr int kCaptureRate = 12000;

int16_t RawSample(size_t i) {
  return int16_t(int(i * 7 % 30000) - 15000);
}

void CaptureInChild() {
  const std::vector<std::string> names = SoundDevice::InputDeviceNames();
  int index = -1;
  std::string listed;
  for (size_t i = 0; i < names.size(); ++i) {
    listed += " [" + names[i] + "]";
    if (names[i] == "vs32cap") index = int(i);
  }
  if (index < 0) GTEST_SKIP() << "the ALSA file device is not listed; inputs:" << listed;

  RecordedWarnings events;
  SoundDevice dev(events.handler());
  dev.setInputDevice(index);
  ASSERT_TRUE(dev.openInput(kCaptureRate, 16, 1, kCaptureRate));
  // Opening twice in a row closes and reopens the device.
  ASSERT_TRUE(dev.openInput(kCaptureRate, 16, 1, kCaptureRate));
  EXPECT_TRUE(events.seen.empty());
  std::vector<float> block(kCaptureRate);
  for (int b = 0; b < 2; ++b) {
    ASSERT_EQ(dev.read(block.data(), block.data(), kCaptureRate), kCaptureRate);
    for (size_t i = 0; i < block.size(); ++i) {
      ASSERT_EQ(block[i], RawSample(b * kCaptureRate + i) / 32770.0f) << "block " << b << " " << i;
    }
  }
  // No overrun check: the "null" slave sets no pace, so once the file's few
  // seconds are read the plugin runs ahead of any reader and a loaded machine
  // sees the queue overrun. The sample-exact blocks above show nothing was lost.
  dev.closeInput();
  EXPECT_FALSE(dev.inputOpen());

  // −1 opens the default input, here the only one there is.
  dev.setInputDevice(SoundDevice::kDefaultDevice);
  ASSERT_TRUE(dev.openInput(kCaptureRate, 16, 1, kCaptureRate));
  ASSERT_EQ(dev.read(block.data(), nullptr, kCaptureRate), kCaptureRate);
  EXPECT_EQ(block[kCaptureRate - 1], RawSample(kCaptureRate - 1) / 32770.0f);
  EXPECT_TRUE(events.seen.empty());
}

TEST(SoundDeviceAlsaFile, CapturesSamplesOfARawFileThroughTheAudioLibrary) {
  if (std::getenv(kChildVariable) != nullptr) {
    CaptureInChild();
    return;
  }
  test::TempDir home;
  const auto raw = home / "capture.raw";
  {
    std::ofstream out(raw, std::ios::binary);
    for (size_t i = 0; i < 5 * size_t(kCaptureRate); ++i) {
      const int16_t s = RawSample(i);
      const char bytes[2] = {char(s & 0xFF), char((s >> 8) & 0xFF)};
      out.write(bytes, 2);
    }
  }
  test::WriteFile(home / ".asoundrc",
                  "pcm.vs32cap {\n  type file\n  slave.pcm \"null\"\n"
                  "  file \"/dev/null\"\n  infile \"" +
                      raw.string() + "\"\n  format \"raw\"\n}\n");
  const auto result =
      test::RunCommand({"/proc/self/exe", "--gtest_filter=SoundDeviceAlsaFile.*"}, "",
                       {"HOME=" + home.path().string(), std::string(kChildVariable) + "=1"});
  ASSERT_EQ(result.status, 0) << result.out << result.err;
  // The libraries' own chatter (ALSA, sound-server probing) stays off stderr.
  EXPECT_EQ(result.err.find("ALSA lib"), std::string::npos) << result.err;
  EXPECT_EQ(result.err.find("server"), std::string::npos) << result.err;
  EXPECT_EQ(result.err.find("Jack"), std::string::npos) << result.err;
  const auto skipped = result.out.find("[  SKIPPED ]");
  if (skipped != std::string::npos) {
    GTEST_SKIP() << "child skipped: " << result.out.substr(0, skipped);
  }
  EXPECT_NE(result.out.find("[  PASSED  ] 1 test"), std::string::npos) << result.out;
}

}  // namespace
}  // namespace vs32
